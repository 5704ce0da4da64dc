#pragma once
// Authoring helpers for the sample levels: packed shapes, sensors wired to fixture signals,
// quads and ground strips in the level's mesh set, check points, coins and the goal.
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <string>
#include <vector>

#include "level/PristineLevel.h"

namespace levels {

// Fixture settings packed with every shape.
struct Fixture {
    float density = 0.0f;
    float friction = 0.6f;
    float restitution = 0.0f;
    uint16_t category = 0x0001;
    uint16_t mask = 0xFFFF;
    int16_t group = 0;
    bool sensor = false;
    uint32_t userData = 0xFFFFFFFF;  // index into the level's fixture signals, or none
};

// Fixture categories the world gives a meaning.
inline constexpr uint16_t playerCategory = 0x0001;
inline constexpr uint16_t deadlyCategory = 0x0002;
inline constexpr uint16_t goalCategory = 0x0080;
inline constexpr uint16_t cameraZoneCategory = 0x0200;

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

    // A drawable quad of the given size centred at `centre` (world units); returns its index.
    // `numbered`: its first vertex carries its number within the shared vertex buffer instead of
    // 0 (the base offset names the same vertex either way).
    uint32_t quad(glm::vec2 centre, glm::vec2 halfSize, glm::vec4 colour, std::string const& texture = "",
                  bool numbered = false);
    // A drawable of another kind (player, emitter, fluid, gold particles...) with a bounding box.
    uint32_t node(uint16_t kind, uint32_t index, glm::vec2 min, glm::vec2 max);

    void checkPoint(glm::vec2 position);  // the first one is the level start
    void coin(glm::vec2 centre, uint32_t achievement = 0);
    void goal(glm::vec2 centre, glm::vec2 halfSize);

private:
    uint32_t arrayMesh(std::vector<float> const& vertices, glm::vec4 colour, std::string const& texture,
                       glm::vec2 min, glm::vec2 max, bool numbered = false);

    PristineLevel::Data data_;
    uint32_t nextSignal_ = 100;
};

}  // namespace levels
