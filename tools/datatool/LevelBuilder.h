#pragma once
// Authoring helpers for levels, shared by the data tool's sample levels and the tests of the
// world, the game and the particles: packed shapes, sensors wired to fixture signals, quads and
// ground strips in the level's mesh set, and one function per record kind.
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "level/PristineLevel.h"

namespace levels {

// Fixture categories the world gives a meaning.
inline constexpr uint16_t playerCategory = 0x0001;
inline constexpr uint16_t deadlyCategory = 0x0002;
// Ground, walls, bodies, water and sensors: a bit the player's masks (0x010E, 0x038C) hold.
inline constexpr uint16_t solidCategory = 0x0004;
// Solid without grip: the player cannot climb it.
inline constexpr uint16_t slipperyCategory = 0x0008;
inline constexpr uint16_t viewBlockerCategory = 0x0020;
inline constexpr uint16_t goalCategory = 0x0080;
inline constexpr uint16_t cameraZoneCategory = 0x0200;
// The camera's sensor around the view: fixture signals naming it switch objects near the view.
inline constexpr uint16_t viewSensorCategory = 0x0400;
// Fixtures whose mask shares a bit with this take part in particle collision.
inline constexpr uint16_t particleCollisionMask = 0x0802;

// Level signals the world gives a meaning: raised once the level is built; starting the camera's
// closing shot, and the shot's own steps.
inline constexpr uint32_t levelBuiltSignal = 1;
inline constexpr uint32_t closingShotSignal = 20000014;
inline constexpr std::array<uint32_t, 3> closingShotSteps = {20000015, 20000023, 20000024};

// How far above the ground the player's centre rests: a start or check point on the ground.
inline constexpr float restHeight = 0.4f;
// Colours as authored (straight alpha): a goal is translucent gold, a check point's post light grey.
inline constexpr glm::vec4 goalColour(1.0f, 0.85f, 0.2f, 0.6f);
inline constexpr glm::vec4 checkPointColour(0.9f, 0.9f, 0.9f, 1.0f);

// The flat colour images under art/colors/, which meshes tint with their colour.
inline bool isColourSwatch(std::string const& texture) { return texture.rfind("art/colors/", 0) == 0; }

// Fixture settings packed with every shape. The default mask holds the player's category and the
// particle collision bits, so default ground, walls and containers stop the player and liquids.
struct Fixture {
    float density = 0.0f;
    float friction = 0.6f;
    float restitution = 0.0f;
    uint16_t category = solidCategory;
    uint16_t mask = 0xFFFF;
    int16_t group = 0;
    bool sensor = false;
    uint32_t userData = 0xFFFFFFFF;  // index into the level's fixture signals, or none
};

// A sensor; with a fixture-signal index its touches raise that entry's signals.
Fixture sensorFixture(uint32_t userData = 0xFFFFFFFF);

PackedShape circleShape(glm::vec2 centre, float radius, Fixture const& fixture);
// A convex polygon of 3 to 8 vertices in counter-clockwise order.
PackedShape polygonShape(std::vector<glm::vec2> const& vertices, Fixture const& fixture);
PackedShape boxShape(glm::vec2 centre, glm::vec2 halfSize, Fixture const& fixture);
// A one-sided edge: solid on the right of a -> b.
PackedShape edgeShape(glm::vec2 a, glm::vec2 b, Fixture const& fixture);
// A chain, solid from both sides whichever way it runs. The ghost vertices continue the first and
// last segments.
PackedShape chainShape(std::vector<glm::vec2> const& points, Fixture const& fixture);

// The signed area of a closed outline; positive when counter-clockwise.
float signedArea(std::vector<glm::vec2> const& outline);

// A one-sided edge stops only what lies on its facing side, so wound the wrong way it lets the
// player through. Every one-sided edge of the static geometry must face the open side: a level
// or sloped one faces up (our levels are walked on from above and have no ceilings), an upright
// one (a wall) faces the level's start. One line per edge that faces the wrong way.
std::vector<std::string> windingFaults(PristineLevel::Data const& level);

// The player's two circles must be able to touch what a level needs of them: ground to stand on
// under every check point, every check point's sensor and a goal (but in time attack, which ends with
// its race); and no check point may lie beyond a goal. One line per need not met.
std::vector<std::string> reachFaults(PristineLevel::Data const& level);

// What the player sees must be what the level does. One line per mesh that shows a colour
// swatch with the textured shader (which draws it untinted), and per dynamic body that stops the
// player while nothing draws it or it stays hidden for good (an enable signal nothing raises, or a
// disable signal with no way back).
std::vector<std::string> visibilityFaults(PristineLevel::Data const& level);

// The particle solver finds neighbours only within about 2048 particle diameters of the origin.
// One line per liquid whose polygon reaches beyond that at the level's particle radius.
std::vector<std::string> liquidFaults(PristineLevel::Data const& level);

class LevelBuilder {
public:
    LevelBuilder();

    PristineLevel::Data& data() { return data_; }

    // A new level signal id, unique within the level.
    uint32_t signal() { return nextSignal_++; }

    // A fixture signal entry; returns its index for a shape's user data.
    uint32_t fixtureSignal(uint32_t beginSignal, uint32_t endSignal = 0, uint16_t categoryMask = playerCategory);

    // A sensor on the static body that raises `signal` when the player touches it.
    void sensorBox(glm::vec2 centre, glm::vec2 halfSize, uint32_t beginSignal, uint32_t endSignal = 0);

    // Ground: a chain over `surface` (left to right as given) on the static geometry, and a
    // coloured strip from it down to `bottom` in the mesh set.
    void ground(std::vector<glm::vec2> const& surface, float bottom, glm::vec4 colour);
    // The strip alone, touching nothing: scenery such as far hills.
    void strip(std::vector<glm::vec2> const& surface, float bottom, glm::vec4 colour);

    // A drawable quad of the given size centred at `centre` (world units); returns its index. The
    // colour has straight alpha; a colour swatch texture (or none) shows the colour.
    // `numbered`: its first vertex carries its number within the shared vertex buffer instead of
    // 0 (the base offset names the same vertex either way). `uvExtent`: how much of the image it
    // shows from the top left (one frame of a sprite sheet).
    uint32_t quad(glm::vec2 centre, glm::vec2 halfSize, glm::vec4 colour, std::string const& texture = "",
                  bool numbered = false, glm::vec2 uvExtent = glm::vec2(1.0f));
    // A drawable of another kind (player, emitter, fluid, gold particles...) with a bounding box.
    uint32_t node(uint16_t kind, uint32_t index, glm::vec2 min, glm::vec2 max);

    void checkPoint(glm::vec2 position);  // the first one is the level start
    void coin(glm::vec2 centre, uint32_t achievement = 0);
    void goal(glm::vec2 centre, glm::vec2 halfSize);
    // A deadly sensor whose top lies at y from left to right: a fall below the level kills.
    void deadlyFloor(float left, float right, float y);

    // One record of each kind; each returns the record's index in its list.
    uint32_t dynamicBody(glm::vec2 at, PackedShape shape, int32_t type = PristineLevel::BodyDef::dynamicBody);
    // A body with one box fixture of density 1 and a drawn quad.
    uint32_t boxBody(glm::vec2 at, glm::vec2 halfSize, int32_t type = PristineLevel::BodyDef::dynamicBody);
    uint32_t joint(PristineLevel::JointVariant def, uint32_t resetSignal = 0);
    uint32_t delayedSignal(uint32_t input, uint32_t output, float delayMs);
    uint32_t signalFilter(uint32_t input, uint32_t output, uint32_t reset, int32_t maxCount, float intervalMs);
    uint32_t triggerableSound(std::string const& path, uint32_t play, uint32_t stop, int32_t body = -1,
                              float fadeInMs = 0.0f, float fadeOutMs = 0.0f, bool looping = true);
    uint32_t cameraShaker(glm::vec2 centre, uint32_t start, uint32_t stop, float durationMs);
    uint32_t bodyObserver(int32_t body);
    uint32_t fluid(glm::vec2 centre, glm::vec2 halfSize);
    uint32_t particleLiquid(glm::vec2 centre, glm::vec2 halfSize);
    uint32_t animatedBody(uint32_t body, PristineLevel::Keyframes path);
    uint32_t animatedTexture(uint32_t drawable);
    uint32_t animatedMesh(uint32_t drawable);
    uint32_t facingMesh(std::vector<uint32_t> drawables, glm::vec3 pivot);
    uint32_t jumpPad(glm::vec2 centre, glm::vec2 halfSize, glm::vec2 launchImpulse);
    uint32_t cameraZone(glm::vec2 centre, glm::vec2 halfSize, glm::vec2 offset);
    uint32_t musicNode(glm::vec2 point, int32_t track, float volume, float fadeInPerSecond, float fadeOutPerSecond);

    // The level as a .pxl file.
    std::vector<uint8_t> pxl() const;

private:
    uint32_t arrayMesh(std::vector<float> const& vertices, glm::vec4 colour, std::string const& texture,
                       glm::vec2 min, glm::vec2 max, bool numbered = false);

    PristineLevel::Data data_;
    uint32_t nextSignal_ = 100;
};

}  // namespace levels
