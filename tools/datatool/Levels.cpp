// The sample levels: level01, a variation of it for every other catalog level, and a sampler
// level that holds at least one record of every kind the level format knows.
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "level/LevelCatalog.h"
#include "level/LevelReader.h"
#include "level/LevelFields.h"
#include "level/LevelWriter.h"
#include "os/FileSystem.h"
#include "os/services/Music.h"
#include "tools/datatool/DataTool.h"
#include "tools/datatool/LevelBuilder.h"
#include "tools/datatool/Locales.h"

namespace {

using namespace PristineLevel;
using levels::Fixture;
using levels::LevelBuilder;

glm::vec4 const groundColour(0.36f, 0.27f, 0.18f, 1.0f);
glm::vec4 const grassColour(0.30f, 0.55f, 0.25f, 1.0f);
char const* const coinSound = "audio/Dravo_StarReward.wav";
char const* const musicTrack = "audio/music/Dravo_MusicTrack01";
// The player as the world builds it: its outer circle, the mass of its inner circle (density
// 1.44), and the world's gravity.
float const playerOuterRadius = 0.5304f;
float const playerMass = 1.44f * 3.14159265f * 0.3536f * 0.3536f;
float const gravity = 10.8f;

// The sky: the first drawable, behind everything, and larger than any sample level, since the
// game screen draws over the last frame without clearing it.
void sky(LevelBuilder& b) {
    b.quad({250.0f, 100.0f}, {750.0f, 400.0f}, glm::vec4(0.55f, 0.74f, 0.92f, 1.0f), "art/colors/white.png");
}

// How far the ground's strips reach below its surface, and how tall the walls at its ends stand.
float const groundDepth = 10.0f;
float const wallHeight = 30.0f;

// A wall standing on the ground's end at x, solid toward the level (on its right when
// facingRight), drawn as a rock column on the far side.
void wall(LevelBuilder& b, float x, float surface, bool facingRight, glm::vec4 colour) {
    glm::vec2 const foot(x, surface), top(x, surface + wallHeight);
    b.data().staticShapes.push_back(facingRight ? levels::edgeShape(foot, top, Fixture{})
                                                : levels::edgeShape(top, foot, Fixture{}));
    float const outside = facingRight ? -0.5f : 0.5f;
    b.quad({x + outside, surface + (wallHeight - groundDepth) * 0.5f}, {0.5f, (wallHeight + groundDepth) * 0.5f},
           colour * glm::vec4(0.7f, 0.7f, 0.7f, 1.0f), "art/colors/white.png");
}

// Walls on both ends of the ground, and a deadly floor well below it and past both walls: a fall
// out of the level, or into a pit, is a fatality, never an endless drop.
void walls(LevelBuilder& b, float left, float right, float surface, glm::vec4 colour) {
    wall(b, left, surface, true, colour);
    wall(b, right, surface, false, colour);
    b.deadlyFloor(left - 50.0f, right + 50.0f, surface - 2.0f * groundDepth);
}

void musicAndProgress(LevelBuilder& b, glm::vec2 start, glm::vec2 end) {
    auto& d = b.data();
    float const length = glm::length(end - start);
    glm::vec2 const handle = (end - start) / 3.0f;
    d.progressPath = {PathNode{start, glm::vec2(0.0f), handle, 0.0f}, PathNode{end, -handle, glm::vec2(0.0f), length}};
    d.soundTable.musicTracks = {musicTrack};
    d.soundTable.musicPath = {MusicNode{start, 0, 0.8f, 0.5f, 0.5f}, MusicNode{end, 0, 0.8f, 0.5f, 0.5f}};
}

// The height of a left-to-right polyline at x (its end heights beyond it).
float heightAt(std::vector<glm::vec2> const& line, float x) {
    for (size_t i = 1; i < line.size(); ++i) {
        if (x <= line[i].x) {
            float const span = line[i].x - line[i - 1].x;
            float const t = span > 0.0f ? (x - line[i - 1].x) / span : 0.0f;
            return line[i - 1].y + std::clamp(t, 0.0f, 1.0f) * (line[i].y - line[i - 1].y);
        }
    }
    return line.back().y;
}

// Ground along a left-to-right surface, broken by pits (x from, x to, on flat stretches): each
// piece's chain runs down the pit's sides, so what is drawn is what stops the player.
void groundWithPits(LevelBuilder& b, std::vector<glm::vec2> const& surface, std::vector<glm::vec2> const& pits,
                    glm::vec4 colour) {
    float const bottom = surface.front().y - groundDepth;
    std::vector<glm::vec2> piece;
    // A chain refuses points closer than a few millimetres.
    auto add = [&](glm::vec2 p) {
        if (piece.empty() || glm::length(p - piece.back()) > 0.01f) piece.push_back(p);
    };
    add(surface.front());
    size_t next = 0;
    for (size_t i = 1; i < surface.size(); ++i) {
        while (next < pits.size() && pits[next].x < surface[i].x) {
            glm::vec2 const pit = pits[next++];
            add({pit.x, heightAt(surface, pit.x)});
            add({pit.x, bottom});
            b.ground(piece, bottom, colour);
            piece.clear();
            add({pit.y, bottom});
            add({pit.y, heightAt(surface, pit.y)});
        }
        // Inside a pit the surface is gone.
        if (next == 0 || surface[i].x >= pits[next - 1].y) add(surface[i]);
    }
    b.ground(piece, bottom, colour);
}

// The tutorial's lessons along the path: jumping, then diving, then the bridge hint; near the
// goal the controls popup is no longer needed. Each zone spans the ground's bumps and dips.
void tutorialZones(LevelBuilder& b, float length) {
    auto zone = [&b](float from, float to, uint32_t enter, uint32_t leave) {
        b.sensorBox({(from + to) * 0.5f, 2.0f}, {(to - from) * 0.5f, 3.5f}, enter, leave);
    };
    zone(8.0f, 60.0f, 20000016, 20000017);  // jump lesson
    zone(64.0f, 80.0f, 20000018, 20000019);  // dive lesson
    zone(82.0f, 92.0f, 20000020, 20000021);  // bridge hint
    zone(length - 14.0f, length - 10.0f, 20000022, 0);  // no controls popup from here on
}

// Where the last level's closing shot looks: the camera pans to fixed world points, first over
// the cliff at the end of the run, then down the shaft beyond it, and cuts to the cave at its foot.
float const cliffEdge = 296.0f;
float const cliffTop = -196.0f;
float const shaftRight = 301.0f;
float const caveFloor = -263.0f;
float const caveLeft = 287.0f;

// The lanterns of the closing shot: frames 4:5, the ring they hang by 0.15 of a frame below its
// top; the lit sheet has lanternFrames of them side by side.
char const* const litLantern = "art/effects/lamp/lantern.png";
char const* const darkLantern = "art/effects/lamp/lantern_dark.png";
uint32_t const lanternFrames = 6;
glm::vec4 const iron(0.23f, 0.2f, 0.19f, 1.0f);

// A lantern whose ring is at `ring` (in the frame of `body`, or the world's without one): unlit
// until `signal`, then fading in, its flame flickering through the sheet at its own pace.
void lantern(LevelBuilder& b, glm::vec2 ring, float width, uint32_t signal, uint32_t variant, int32_t body = -1) {
    auto& d = b.data();
    glm::vec2 const half(width * 0.5f, width * 0.625f);
    glm::vec2 const centre = ring - glm::vec2(0.0f, half.y - 0.3f * half.y);
    uint32_t const dark = b.quad(centre, half, glm::vec4(1.0f), darkLantern);
    AnimatedTexture light;
    light.rows = 1;
    light.columns = light.frameCount = lanternFrames;
    light.framesPerSecond = 8.0f + float(variant % 4) * 1.5f;
    light.startFrame = (variant * 7) % lanternFrames;
    light.drawable = b.quad(centre, half, glm::vec4(1.0f), litLantern, false, {1.0f / float(lanternFrames), 1.0f});
    light.showSignal = signal;
    light.fadeInTime = 600.0f;
    light.fadeOutTime = 600.0f;
    d.animatedTextures.push_back(light);
    if (body >= 0) {
        auto& hung = d.dynamicBodies[size_t(body)];
        hung.drawables.push_back(dark);
        hung.animatedTextures.push_back(uint32_t(d.animatedTextures.size() - 1));
    }
}

// Specks of dust drifting through a box: count of them, born between spawnMin and spawnMax.
void motes(LevelBuilder& b, glm::vec2 boxMin, glm::vec2 boxMax, uint32_t count, float scale, glm::vec4 color,
           glm::vec2 spawnMin, glm::vec2 spawnMax, glm::uvec3 spawnIntervals, glm::vec2 velocityMin,
           glm::vec2 velocityMax) {
    auto& d = b.data();
    ParticleEmitter e;
    e.boxMin = glm::vec3(boxMin, -1.0f);
    e.boxMax = glm::vec3(boxMax, 1.0f);
    e.rows = e.columns = e.frameCount = 1;
    e.frameSize = glm::vec2(1.0f);
    e.particleCount = count;
    e.spawnMin = glm::vec3(spawnMin, 0.0f);
    e.spawnMax = glm::vec3(spawnMax, 0.0f);
    e.spawnIntervals = spawnIntervals;
    e.velocityMin = glm::vec3(velocityMin, 0.0f);
    e.velocityMax = glm::vec3(velocityMax, 0.0f);
    e.framesPerSecond = 1.0f;
    e.scale = scale;
    e.color = color;
    e.sprite = TextureDescriptor("art/effects/lamp/mote.png", TextureOptions(1, 1, 0, 0), 0);
    e.drawable = b.node(MeshNode::particleEmitter, uint32_t(d.particleEmitters.size()), boxMin, boxMax);
    d.particleEmitters.push_back(e);
}

// A lantern on a chain from `pivot`, swinging `degrees` either way once every `period` seconds,
// starting `phase` of a swing in: a body turned by its keyframes from the moment the level is
// built.
void hangingLantern(LevelBuilder& b, glm::vec2 pivot, float chain, float width, float degrees, float period,
                    float phase, uint32_t signal, uint32_t variant) {
    auto& d = b.data();
    DynamicBody body;
    body.bodyDef.type = BodyDef::kinematicBody;
    body.bodyDef.position = pivot;
    // Its one shape touches nothing: the ball rolls under it untroubled.
    Fixture none;
    none.sensor = true;
    none.mask = 0;
    body.shapes.push_back(levels::circleShape({0.0f, -chain}, width * 0.3f, none));
    body.drawables.push_back(b.quad({0.0f, -chain * 0.5f}, {0.025f + width * 0.015f, chain * 0.5f}, iron,
                                    "art/colors/white.png"));
    d.dynamicBodies.push_back(body);
    int32_t const index = int32_t(d.dynamicBodies.size() - 1);
    lantern(b, {0.0f, -chain}, width, signal, variant, index);
    // A pendulum's swing, sampled finely enough that the straight steps between keys do not show.
    std::vector<Keyframe> keys;
    float const amplitude = glm::radians(degrees);
    for (int i = 0; i <= 24; ++i) {
        float const t = period * float(i) / 24.0f;
        float const angle = amplitude * std::cos(6.2831853f * (float(i) / 24.0f + phase));
        keys.push_back(Keyframe{t, pivot, glm::vec2(0.0f), glm::vec2(0.0f), angle});
    }
    b.animatedBody(uint32_t(index), Keyframes(std::move(keys), WrapMode::Repeat));
    d.animatedBodies.back().playSignal = levels::levelBuiltSignal;
}

// Far hills behind the run's last stretch, drawn before its ground, which hides their foot. The
// closing shot holds on the shaft's mouth with a skyline, and as the view pans down the shaft the
// sky leaves its top edge in the hills' notches, never as a line across the picture.
void farHills(LevelBuilder& b) {
    std::vector<glm::vec2> line = {{cliffEdge - 70.0f, cliffTop - 3.0f}};
    float const peaks[] = {1.6f, 2.9f, 2.2f, 3.4f, 2.6f, 3.1f, 1.9f, 3.3f};
    float x = cliffEdge - 64.0f;
    for (int i = 0; x < shaftRight + 4.0f; ++i) {
        line.push_back({x, cliffTop + peaks[i % 8]});
        x += 2.2f + 0.4f * float(i % 3);
        line.push_back({x, cliffTop + 0.7f + 0.15f * float(i % 4)});
        x += 2.0f + 0.5f * float(i % 2);
    }
    b.strip(line, cliffTop - 3.0f, glm::vec4(0.44f, 0.57f, 0.69f, 1.0f));
}

// The closing shot's stage: the run ends at a cliff over a shaft; falling into it raises the
// closing shot once. Lanterns down the shaft light up as the view pans down (20000015), the rock
// rumbles before the cut (20000023), and the lanterns hanging in the cave at the foot light up
// (20000024) while they swing and dust drifts through their light. The shot ends the level itself.
void closingShotStage(LevelBuilder& b, glm::vec4 colour) {
    auto& d = b.data();
    glm::vec4 const rock = colour * glm::vec4(0.7f, 0.7f, 0.7f, 1.0f);
    auto solid = [&](glm::vec2 lo, glm::vec2 hi, uint16_t category = levels::solidCategory) {
        Fixture rockFixture;
        rockFixture.category = category;
        d.staticShapes.push_back(levels::boxShape((lo + hi) * 0.5f, (hi - lo) * 0.5f, rockFixture));
        b.quad((lo + hi) * 0.5f, (hi - lo) * 0.5f, rock, "art/colors/white.png");
    };
    // The shaft and the cave are dark behind their lamps.
    auto dark = [&](glm::vec2 lo, glm::vec2 hi) {
        b.quad((lo + hi) * 0.5f, (hi - lo) * 0.5f, glm::vec4(0.16f, 0.13f, 0.11f, 1.0f), "art/colors/white.png");
    };
    dark({cliffEdge, caveFloor}, {shaftRight, cliffTop});
    dark({caveLeft, caveFloor}, {cliffEdge, caveFloor + 8.0f});
    // The rock under the cliff down to the cave's roof; the cave runs back under the cliff. The
    // shaft's far side rises above the cliff, so the run ends in the shaft. The floor reaches well
    // below and beside the cave's last view, so no sky shows at its edges.
    solid({caveLeft - 1.0f, caveFloor + 8.0f}, {cliffEdge, cliffTop - groundDepth});
    solid({caveLeft - 1.0f, caveFloor}, {caveLeft, caveFloor + 8.0f});
    solid({caveLeft - 8.0f, caveFloor - 12.0f}, {shaftRight + 8.0f, caveFloor});
    // Without grip, so that the ball rolling into it cannot climb out.
    solid({shaftRight, caveFloor}, {shaftRight + 8.0f, cliffTop + wallHeight}, levels::slipperyCategory);

    // Into the shaft: the closing shot starts, once.
    uint32_t const fell = b.signal();
    b.sensorBox({(cliffEdge + shaftRight) * 0.5f, cliffTop - 3.0f}, {(shaftRight - cliffEdge) * 0.5f, 0.5f}, fell);
    d.signalFilters.push_back(SignalFilter{fell, levels::closingShotSignal, 0, 1, 0.0f});

    // The shot holds on the shaft's mouth before it pans down: a lantern on a post at the cliff's
    // edge marks it, lit as the shot starts and swinging over the drop, while dust warmed by the
    // lit cave rises out of the shaft past it. Neither touches the ball.
    uint32_t variant = 0;
    float const postX = cliffEdge - 0.5f, postTop = cliffTop + 2.7f;
    b.quad({postX, (cliffTop + postTop) * 0.5f}, {0.08f, (postTop - cliffTop) * 0.5f}, iron, "art/colors/white.png");
    // Its arm slants up over the drop (a body only so that its bar can turn): a level bar would
    // leave a line of sky along the picture's top as the view pans down.
    glm::vec2 const armFoot(postX, postTop - 0.2f);
    float const armLength = 2.0f, armAngle = glm::radians(20.0f);
    DynamicBody arm;
    arm.bodyDef.position = armFoot;
    arm.bodyDef.angle = armAngle;
    Fixture none;
    none.sensor = true;
    none.mask = 0;
    arm.shapes.push_back(levels::circleShape({0.0f, 0.0f}, 0.05f, none));
    arm.drawables.push_back(
        b.quad({armLength * 0.5f, 0.0f}, {armLength * 0.5f, 0.06f}, iron, "art/colors/white.png"));
    d.dynamicBodies.push_back(arm);
    glm::vec2 const armTip = armFoot + (armLength - 0.1f) * glm::vec2(std::cos(armAngle), std::sin(armAngle));
    hangingLantern(b, armTip, 0.6f, 1.0f, 6.0f, 2.6f, 0.2f, levels::closingShotSignal, variant++);
    motes(b, {cliffEdge - 1.0f, cliffTop - 5.0f}, {shaftRight, cliffTop + 7.0f}, 36, 0.7f, {0.92f, 0.8f, 0.58f, 0.9f},
          {cliffEdge + 0.3f, cliffTop - 5.0f}, {shaftRight - 0.3f, cliffTop - 4.0f}, {8, 2, 1}, {-0.18f, 0.25f},
          {0.08f, 0.6f});

    // Down the shaft, lanterns on brackets along both walls.
    for (float y = cliffTop - 6.0f; y > cliffTop - 26.0f; y -= 4.0f) {
        for (auto [wall, out, drop] : {std::tuple{cliffEdge, 1.0f, 0.0f}, {shaftRight, -1.0f, 2.0f}}) {
            glm::vec2 const ring(wall + out * 0.6f, y - drop);
            b.quad({wall + out * 0.3f, ring.y + 0.05f}, {0.3f, 0.05f}, iron, "art/colors/white.png");
            lantern(b, ring, 0.6f, levels::closingShotSteps[0], variant++);
        }
    }
    CameraShaker& shaker =
        d.cameraShakers[b.cameraShaker({shaftRight, caveFloor + 40.0f}, levels::closingShotSteps[1], 0, 1500.0f)];
    shaker.amplitude = 0.15f;
    shaker.innerRadius = 60.0f;
    TriggerableSound rumble;
    rumble.playSignal = levels::closingShotSteps[1];
    rumble.sound = SoundDescriptor("audio/Level20/Dravo_LavaLoop.wav",
                                   SoundParams(glm::vec3(shaftRight, caveFloor + 40.0f, 0.0f), 1, 0.8f, 0, 1.25f, 2.0f));
    rumble.body = -1;
    rumble.fadeInTime = 100.0f;
    rumble.fadeOutTime = 400.0f;
    d.triggerableSounds.push_back(rumble);

    // The cave's treasure: a great lantern on a long chain from the roof and smaller ones round
    // it, each swinging at its own pace.
    float const roof = caveFloor + 8.0f;
    hangingLantern(b, {(caveLeft + shaftRight) * 0.5f - 0.5f, roof}, 2.4f, 2.0f, 7.0f, 3.4f, 0.0f,
                   levels::closingShotSteps[2], variant++);
    struct Small {
        float x, chain, degrees, period, phase;
    };
    for (Small s : {Small{caveLeft + 1.6f, 3.3f, 5.0f, 3.8f, 0.3f}, Small{caveLeft + 4.2f, 4.4f, 4.0f, 4.3f, 0.65f},
                    Small{shaftRight - 3.4f, 3.9f, 5.0f, 4.0f, 0.1f},
                    Small{shaftRight - 1.1f, 2.9f, 6.0f, 3.6f, 0.45f}})
        hangingLantern(b, {s.x, roof}, s.chain, 0.9f, s.degrees, s.period, s.phase, levels::closingShotSteps[2],
                       variant++);

    // Dust rising slowly through the lamplight.
    motes(b, {caveLeft, caveFloor}, {shaftRight, roof}, 48, 0.45f, {0.8f, 0.68f, 0.48f, 0.8f},
          {caveLeft + 0.5f, caveFloor + 0.2f}, {shaftRight - 0.5f, caveFloor + 2.0f}, {8, 4, 1}, {-0.12f, 0.06f},
          {0.12f, 0.3f});
}

// Level01 (variant 0) and its variations: rolling ground with bumps and dips, a pit or two to
// jump in normal play, three check points, a row of coins and the goal at the far end. The last
// level instead ends on the cliff of its closing shot, its run moved there and without pits.
Data runLevel(int variant, GameMode mode, bool closingShot = false) {
    LevelBuilder b;
    sky(b);
    auto& d = b.data();
    d.metaData.mode = mode;
    d.metaData.tutorial = variant == 0;
    float const length = 110.0f + 10.0f * static_cast<float>(variant % 4);
    float const bump = closingShot ? 1.0f : 1.0f + 0.25f * static_cast<float>(variant % 5);
    glm::vec2 const origin = closingShot ? glm::vec2(cliffEdge - length, cliffTop) : glm::vec2(0.0f);
    glm::vec4 const colour = variant % 2 == 0 ? grassColour : groundColour;

    std::vector<glm::vec2> surface = {origin + glm::vec2(-10.0f, 0.0f)};
    for (float x = 20.0f; x + 15.0f < length; x += 20.0f) {
        float const height = (static_cast<int>(x / 20.0f) + variant) % 2 == 0 ? bump : -bump;
        surface.push_back(origin + glm::vec2(x, 0.0f));
        surface.push_back(origin + glm::vec2(x + 5.0f, height));
        surface.push_back(origin + glm::vec2(x + 10.0f, height));
        surface.push_back(origin + glm::vec2(x + 15.0f, 0.0f));
    }
    surface.push_back(origin + glm::vec2(length, 0.0f));
    // Pits on flat stretches clear of the check points (at 35 % and 70 % of the way).
    std::vector<glm::vec2> pits;
    if (mode == GameMode::Normal && !closingShot) {
        pits.push_back({55.0f, 60.0f});
        if (length >= 120.0f) pits.push_back({75.0f, 80.0f});
    }
    // The last level's ground ends in the cliff's face.
    std::vector<glm::vec2> drawn = surface;
    if (closingShot) {
        drawn.push_back(surface.back() - glm::vec2(0.0f, groundDepth));
        farHills(b);
    }
    groundWithPits(b, drawn, pits, colour);
    auto at = [&](float x, float above) { return glm::vec2(origin.x + x, heightAt(surface, origin.x + x) + above); };

    // Each check point rests on the ground, so rolling past touches its sensor.
    b.checkPoint(at(-5.0f, levels::restHeight));
    b.checkPoint(at(length * 0.35f, levels::restHeight));
    b.checkPoint(at(length * 0.7f, levels::restHeight));
    float const coinEnd = closingShot ? length - 4.0f : length - 10.0f;
    for (float x = 3.0f; x < coinEnd; x += 6.0f + static_cast<float>(variant % 3)) {
        // Collect-time coins lie on the way, where rolling takes them.
        b.coin(mode == GameMode::CollectTime ? at(x, 0.5f) : origin + glm::vec2(x, 1.2f + bump + 0.5f));
        d.coins.back().collectSound.path = coinSound;
    }
    if (closingShot) {
        wall(b, origin.x - 10.0f, origin.y, true, colour);
        b.deadlyFloor(origin.x - 60.0f, cliffEdge - 4.0f, origin.y - 2.0f * groundDepth);
        closingShotStage(b, colour);
    } else {
        walls(b, -10.0f, length, 0.0f, colour);
        b.goal({length - 5.0f, 2.0f}, {1.0f, 2.0f});
    }
    b.node(MeshNode::player, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});
    musicAndProgress(b, origin + glm::vec2(-5.0f, 1.0f), origin + glm::vec2(length - 5.0f, 1.0f));
    if (d.metaData.tutorial) tutorialZones(b, length);
    return d;
}

// The time-attack levels: a closed circuit run round for a minute. The player rolls right along
// the ground to a wall; a pad at its foot throws the player high back over the run to the start,
// and the lap path follows the run and the throw. The pad touches the player only against the
// wall, where the run has stopped it, so every throw is the same.
Data lapLevel(int variant) {
    LevelBuilder b;
    sky(b);
    auto& d = b.data();
    d.metaData.mode = GameMode::TimeAttack;
    float const right = 40.0f + 2.0f * static_cast<float>(variant % 3);
    glm::vec4 const colour = variant % 2 == 0 ? grassColour : groundColour;
    b.ground({{-10.0f, 0.0f}, {right, 0.0f}}, -groundDepth, colour);
    walls(b, -10.0f, right, 0.0f, colour);
    b.checkPoint({-5.0f, 0.4f});
    // The throw: up and back, to land a little after the start.
    glm::vec2 const from(right - playerOuterRadius, 0.4f), to(-8.0f, 0.4f);
    float const rise = 15.0f;                         // m/s
    float const flight = 2.0f * rise / gravity;  // s, back to the same height
    glm::vec2 const velocity((to.x - from.x) / flight, rise);
    uint32_t const pad = b.jumpPad({right + 0.1f, 0.6f}, {0.12f, 0.6f}, velocity * playerMass);
    d.jumpPads[pad].blockDuration = flight * 1000.0f + 500.0f;
    d.jumpPads[pad].blockJump = true;
    d.jumpPads[pad].blockDive = true;
    b.quad({right - 0.25f, 0.1f}, {0.25f, 0.1f}, glm::vec4(0.9f, 0.3f, 0.2f, 1.0f), "art/colors/white.png");
    b.node(MeshNode::player, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});
    musicAndProgress(b, from, to);
    // The run, then the throw's parabola as a cubic (its quadratic control point is where the
    // launch and landing tangents meet); the path ends where it starts.
    glm::vec2 const apexControl = from + velocity * (flight * 0.5f);
    float const run = from.x - to.x;
    float const arc = glm::length(apexControl - from) + glm::length(to - apexControl);
    d.progressPath = {PathNode{to, glm::vec2(0.0f), glm::vec2(run / 3.0f, 0.0f), 0.0f},
                      PathNode{from, glm::vec2(-run / 3.0f, 0.0f), (apexControl - from) * (2.0f / 3.0f), run},
                      PathNode{to, (apexControl - to) * (2.0f / 3.0f), glm::vec2(0.0f), run + arc}};
    return d;
}

// A cut-scene: a short stretch of ground in the intro mode, with its music and subtitles (the
// soundtrack name is their base path), its length in music time and, when positive, the music
// time its credits start at.
Data introLevel(int variant, std::string const& soundtrack = "music/intro", float lengthMs = 12000.0f,
                float creditsMs = 0.0f) {
    LevelBuilder b;
    sky(b);
    auto& d = b.data();
    d.metaData.mode = GameMode::Intro;
    d.metaData.introSoundtrack = soundtrack;
    d.metaData.introEndTime = lengthMs;
    d.metaData.introCueTime = creditsMs;
    float const length = 40.0f;
    glm::vec4 const colour = variant % 2 == 0 ? grassColour : groundColour;
    b.ground({{-10.0f, 0.0f}, {length * 0.5f, 0.5f * static_cast<float>(variant % 3)}, {length, 0.0f}}, -groundDepth,
             colour);
    walls(b, -10.0f, length, 0.0f, colour);
    b.checkPoint({-5.0f, 0.4f});  // resting on the ground
    b.goal({length - 5.0f, 2.0f}, {1.0f, 2.0f});
    b.node(MeshNode::player, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});
    return d;
}

SoundDescriptor sound(std::string path, glm::vec2 at, uint8_t flags = 1) {
    return SoundDescriptor(std::move(path), SoundParams(glm::vec3(at, 0.0f), flags, 0.8f, 0, 1.25f, 2.0f));
}

// A dynamic box body with a drawn quad; returns its index.
uint32_t box(LevelBuilder& b, glm::vec2 at, glm::vec2 half, glm::vec4 colour, int32_t type = BodyDef::dynamicBody) {
    auto& d = b.data();
    DynamicBody body;
    body.bodyDef.type = type;
    body.bodyDef.position = at;
    Fixture f;
    f.density = 1.0f;
    body.shapes.push_back(levels::boxShape(glm::vec2(0.0f), half, f));
    body.drawables.push_back(b.quad(glm::vec2(0.0f), half, colour, "art/colors/white.png"));
    body.resetSignal = b.signal();
    d.dynamicBodies.push_back(body);
    return static_cast<uint32_t>(d.dynamicBodies.size() - 1);
}

uint32_t wheel(LevelBuilder& b, glm::vec2 at, float radius, glm::vec4 colour) {
    auto& d = b.data();
    DynamicBody body;
    body.bodyDef.type = BodyDef::dynamicBody;
    body.bodyDef.position = at;
    body.bodyDef.angularDamping = 0.1f;
    Fixture f;
    f.density = 1.0f;
    body.shapes.push_back(levels::circleShape(glm::vec2(0.0f), radius, f));
    body.drawables.push_back(b.quad(glm::vec2(0.0f), glm::vec2(radius), colour, "art/effects/gold/goldsprite.png"));
    d.dynamicBodies.push_back(body);
    return static_cast<uint32_t>(d.dynamicBodies.size() - 1);
}

void joint(Data& d, JointVariant def, uint32_t resetSignal = 0) { d.joints.push_back(JointRecord{std::move(def), resetSignal}); }

template <class Def>
Def base(int32_t a, int32_t bodyB, bool collide = false) {
    Def def;
    def.bodyA = a;
    def.bodyB = bodyB;
    def.collideConnected = collide;
    return def;
}

// The sampler's basins (x from, x to) and their depths.
glm::vec2 const jellyBasin(-3.0f, -1.2f);
glm::vec2 const blockBasin(0.2f, 1.4f);
float const jellyDepth = 0.13f, blockDepth = 0.24f;

// One or more of every record kind, wired the way the world expects, on flat ground.
Data samplerLevel() {
    LevelBuilder b;
    sky(b);
    auto& d = b.data();
    float const length = 140.0f;
    // Two basins near the start hold the particle bodies, so that they stay put while the ball
    // rolls over them (see below).
    b.ground({{-10.0f, 0.0f},
              {jellyBasin.x, 0.0f},
              {jellyBasin.x, -jellyDepth},
              {jellyBasin.y, -jellyDepth},
              {jellyBasin.y, 0.0f},
              {blockBasin.x, 0.0f},
              {blockBasin.x, -blockDepth},
              {blockBasin.y, -blockDepth},
              {blockBasin.y, 0.0f},
              {length, 0.0f}},
             -groundDepth, grassColour);
    // Over each basin the ball rolls on at the ground's level, along a line that particles pass
    // through (its mask leaves out the bits the particles collide with): a body that gives
    // under the ball lets it sink no deeper, so the ball never strikes the basin's far edge and
    // is thrown into the air. The ground's art fills the basins: where a body is pushed down,
    // ground shows, not sky.
    Fixture lid;
    lid.mask = uint16_t(0xFFFF & ~0x0802);
    for (auto const& [basin, depth] : {std::pair{jellyBasin, jellyDepth}, std::pair{blockBasin, blockDepth}}) {
        d.staticShapes.push_back(levels::chainShape({{basin.x, 0.0f}, {basin.y, 0.0f}}, lid));
        b.quad({(basin.x + basin.y) * 0.5f, -depth * 0.5f}, {(basin.y - basin.x) * 0.5f, depth * 0.5f}, grassColour,
               "art/colors/white.png");
    }
    walls(b, -10.0f, length, 0.0f, grassColour);
    b.checkPoint({-5.0f, 0.4f});  // resting on the ground
    b.checkPoint({60.0f, 0.4f});
    b.coin({2.0f, 1.5f});
    b.coin({4.0f, 1.5f}, 3);  // an achievement coin
    for (auto& c : d.coins) {
        c.collectSound.path = coinSound;
    }
    // As tall as twice the walls: the jump pad can fling the ball above them, and a ball that flew
    // over a low goal was left against the end wall, or climbed it and fell out of the level.
    b.goal({length - 5.0f, wallHeight}, {1.0f, wallHeight});
    b.node(MeshNode::player, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});
    musicAndProgress(b, {-5.0f, 1.0f}, {length - 5.0f, 1.0f});
    d.soundTable.sounds = {sound("audio/Dravo_Menu_SlideIn.wav", {0.0f, 0.0f}, 0)};

    glm::vec4 const wood(0.6f, 0.4f, 0.2f, 1.0f);
    glm::vec4 const steel(0.6f, 0.65f, 0.7f, 1.0f);

    // Bodies, in index order.
    uint32_t const distanceA = box(b, {10.0f, 3.0f}, {0.4f, 0.4f}, wood);      // 0
    uint32_t const distanceB = box(b, {12.0f, 3.0f}, {0.4f, 0.4f}, wood);      // 1
    uint32_t const gearWheel = wheel(b, {16.0f, 4.0f}, 0.8f, steel);           // 2
    uint32_t const slider = box(b, {19.0f, 1.0f}, {0.6f, 0.3f}, steel);        // 3
    uint32_t const motorBox = box(b, {23.0f, 1.0f}, {0.5f, 0.5f}, wood);       // 4
    uint32_t const pulleyA = box(b, {27.0f, 3.0f}, {0.4f, 0.2f}, wood);        // 5
    uint32_t const pulleyB = box(b, {31.0f, 3.0f}, {0.4f, 0.2f}, wood);        // 6
    uint32_t const ropeBob = box(b, {35.0f, 3.0f}, {0.3f, 0.3f}, steel);       // 7
    uint32_t const weldA = box(b, {39.0f, 1.0f}, {0.5f, 0.2f}, wood);          // 8
    uint32_t const weldB = box(b, {40.0f, 1.0f}, {0.5f, 0.2f}, wood);          // 9
    uint32_t const cart = box(b, {44.0f, 1.2f}, {1.0f, 0.3f}, wood);           // 10
    uint32_t const cartWheel = wheel(b, {44.0f, 0.5f}, 0.4f, steel);           // 11
    uint32_t const motorWheel = wheel(b, {48.0f, 3.0f}, 0.6f, steel);          // 12
    uint32_t const hinged = box(b, {52.0f, 3.0f}, {1.2f, 0.1f}, wood);         // 13
    uint32_t const rack = box(b, {56.0f, 1.0f}, {1.5f, 0.15f}, steel);         // 14
    uint32_t const pinion = wheel(b, {56.0f, 1.8f}, 0.5f, steel);              // 15
    uint32_t const lever = box(b, {64.0f, 2.0f}, {0.1f, 1.0f}, wood);          // 16
    uint32_t const platform = box(b, {70.0f, 4.0f}, {1.5f, 0.2f}, steel, BodyDef::kinematicBody);  // 17
    uint32_t const spring = box(b, {75.0f, 2.0f}, {1.0f, 0.1f}, wood);         // 18
    (void)cartWheel;

    // Shown only while near the view: a sensor on the body raises its enable and disable signals
    // as the camera's sensor (category 0x0400) meets and leaves it, so it is never met hidden.
    DynamicBody& first = d.dynamicBodies[distanceA];
    first.enableSignal = b.signal();
    first.disableSignal = b.signal();
    first.shapes.push_back(levels::boxShape(
        glm::vec2(0.0f), {0.4f, 0.4f},
        levels::sensorFixture(b.fixtureSignal(first.enableSignal, first.disableSignal, levels::viewSensorCategory))));
    first.bodyDef.userData = 2;  // collides with the player's outer circle

    // Joints: one of every kind; the gear joins the revolute and the prismatic joint before it.
    DistanceJointDef distance = base<DistanceJointDef>(int32_t(distanceA), int32_t(distanceB), true);
    distance.length = 2.0f;
    distance.frequencyHz = 4.0f;
    distance.dampingRatio = 0.5f;
    joint(d, DistanceJoint{distance, {}});  // 0
    FrictionJointDef friction = base<FrictionJointDef>(staticBodyIndex, int32_t(distanceB));
    friction.localAnchorA = glm::vec2(12.0f, 3.0f);
    friction.maxForce = 5.0f;
    friction.maxTorque = 1.0f;
    joint(d, FrictionJoint{friction, {}});  // 1
    RevoluteJointDef axle = base<RevoluteJointDef>(staticBodyIndex, int32_t(gearWheel));
    axle.localAnchorA = glm::vec2(16.0f, 4.0f);
    axle.enableLimit = true;
    axle.lowerAngle = -1.0f;
    axle.upperAngle = 1.0f;
    RevoluteJointState open;
    open.signal = b.signal();
    open.interrupt = 1;
    open.enableLimit = true;
    open.enableMotor = true;
    open.lowerAngle = InterpolatedFloat{-2.0f, 0.001f};
    open.upperAngle = InterpolatedFloat{2.0f, 0.001f};
    open.motorSpeed = InterpolatedFloat{1.0f, 0.002f};
    open.maxMotorTorque = InterpolatedFloat{50.0f, 0.1f};
    RevoluteJointState lock;
    lock.signal = b.signal();
    lock.enableMotor = false;
    uint32_t const axleReset = b.signal();
    joint(d, RevoluteJoint{axle, {open, lock}}, axleReset);  // 2
    PrismaticJointDef rail = base<PrismaticJointDef>(staticBodyIndex, int32_t(slider));
    rail.localAnchorA = glm::vec2(19.0f, 1.0f);
    rail.localAxisA = glm::vec2(1.0f, 0.0f);
    rail.enableLimit = true;
    rail.lowerTranslation = -1.0f;
    rail.upperTranslation = 1.0f;
    rail.enableMotor = true;
    rail.maxMotorForce = 20.0f;
    rail.motorSpeed = 0.5f;
    joint(d, PrismaticJoint{rail, {EmptyJointState{}}});  // 3
    GearJointDef gear = base<GearJointDef>(int32_t(gearWheel), int32_t(slider));
    gear.joint1 = 2;
    gear.joint2 = 3;
    gear.ratio = 0.8f;
    joint(d, GearJoint{gear, {}});  // 4
    MotorJointDef motor = base<MotorJointDef>(staticBodyIndex, int32_t(motorBox));
    motor.linearOffset = glm::vec2(23.0f, 1.5f);
    motor.maxForce = 30.0f;
    motor.maxTorque = 5.0f;
    joint(d, MotorJoint{motor, {}});  // 5
    PulleyJointDef pulley = base<PulleyJointDef>(int32_t(pulleyA), int32_t(pulleyB), true);
    pulley.groundAnchorA = glm::vec2(27.0f, 7.0f);
    pulley.groundAnchorB = glm::vec2(31.0f, 7.0f);
    pulley.localAnchorA = glm::vec2(0.0f);
    pulley.localAnchorB = glm::vec2(0.0f);
    pulley.lengthA = 4.0f;
    pulley.lengthB = 4.0f;
    pulley.ratio = 1.0f;
    joint(d, PulleyJoint{pulley, {}});  // 6
    RopeJointDef rope = base<RopeJointDef>(staticBodyIndex, int32_t(ropeBob));
    rope.localAnchorA = glm::vec2(35.0f, 7.0f);
    rope.localAnchorB = glm::vec2(0.0f);
    rope.maxLength = 4.0f;
    RopeJointState lower;
    lower.signal = b.signal();
    lower.maxLength = InterpolatedFloat{2.5f, 0.001f};
    RopeJointState keep;
    keep.signal = b.signal();
    joint(d, RopeJoint{rope, {lower, keep}});  // 7
    WeldJointDef weld = base<WeldJointDef>(int32_t(weldA), int32_t(weldB));
    weld.localAnchorA = glm::vec2(0.5f, 0.0f);
    weld.localAnchorB = glm::vec2(-0.5f, 0.0f);
    weld.frequencyHz = 8.0f;
    weld.dampingRatio = 0.7f;
    joint(d, WeldJoint{weld, {}});  // 8
    WheelJointDef axis = base<WheelJointDef>(int32_t(cart), int32_t(cartWheel));
    axis.localAnchorA = glm::vec2(0.0f, -0.7f);
    axis.localAxisA = glm::vec2(0.0f, 1.0f);
    axis.enableMotor = true;
    axis.maxMotorTorque = 10.0f;
    axis.motorSpeed = -2.0f;
    joint(d, WheelJoint{axis, {}});  // 9

    // Hinges and switches that the world turns into joints of its own.
    SoundHinge hinge;
    hinge.lowerAngle = -0.8f;
    hinge.upperAngle = 0.8f;
    hinge.angularDamping = 0.5f;
    hinge.stiffness = 2.0f;
    hinge.body = int32_t(hinged);
    hinge.secondBody = staticBodyIndex;
    hinge.lowSound = sound("audio/Dravo_Menu_SlideOut.wav", {52.0f, 3.0f});
    hinge.lowThreshold = -0.6f;
    hinge.highSound = sound("audio/Dravo_Menu_SlideIn.wav", {52.0f, 3.0f});
    hinge.highThreshold = 0.6f;
    d.soundHinges.push_back(hinge);
    d.motorHinges.push_back(MotorHinge{motorWheel, staticBodyIndex, 1.5f, sound("audio/Dravo_Menu_CogWheelLoadingLoop.wav", {48.0f, 3.0f}, 3)});
    JointSwitch leverSwitch;
    leverSwitch.lowerAngle = -0.7f;
    leverSwitch.upperAngle = 0.7f;
    leverSwitch.threshold = 0.5f;
    leverSwitch.angularDamping = 1.0f;
    leverSwitch.gravityScale = 1.0f;
    leverSwitch.onSignal = b.signal();
    leverSwitch.offSignal = b.signal();
    leverSwitch.body = lever;
    leverSwitch.secondBody = staticBodyIndex;
    leverSwitch.onSound = sound("audio/Dravo_Menu_ButtonToggle.wav", {64.0f, 2.0f});
    leverSwitch.offSound = sound("audio/Dravo_Menu_ButtonToggle.wav", {64.0f, 2.0f});
    d.jointSwitches.push_back(leverSwitch);
    RackAndPinion rackAndPinion;
    rackAndPinion.startSignal = leverSwitch.onSignal;
    rackAndPinion.returnSignal = leverSwitch.offSignal;
    rackAndPinion.lockSignal = b.signal();
    rackAndPinion.lowerAngle = -3.0f;
    rackAndPinion.upperAngle = 3.0f;
    rackAndPinion.speed = 1.0f;
    rackAndPinion.racks = {Rack{rack, 0, glm::vec2(1.0f, 0.0f)}};
    rackAndPinion.gears = {Gear{0.5f, pinion}};
    rackAndPinion.moveSound = sound("audio/Dravo_Menu_CogWheelLoadingLoop.wav", {56.0f, 1.0f}, 3);
    rackAndPinion.stopSound = sound("audio/Dravo_Menu_ButtonGeneral.wav", {56.0f, 1.0f});
    d.racksAndPinions.push_back(rackAndPinion);

    // A kinematic platform on a keyframed path.
    AnimatedBody moving;
    moving.body = platform;
    moving.path = Keyframes({Keyframe{0.0f, {70.0f, 4.0f}, {0.0f, 0.0f}, {1.0f, 0.0f}, 0.0f},
                             Keyframe{2.0f, {74.0f, 5.0f}, {-1.0f, 0.0f}, {1.0f, 0.0f}, 0.2f},
                             Keyframe{4.0f, {78.0f, 4.0f}, {-1.0f, 0.0f}, {0.0f, 0.0f}, 0.0f}},
                            WrapMode::PingPong);
    moving.playSignal = 1;  // the level has been built
    moving.stopSignal = b.signal();
    moving.reverseSignal = b.signal();
    moving.rewindSignal = b.signal();
    d.animatedBodies.push_back(moving);
    d.dynamicBodies[spring].bodyDef.gravityScale = 0.5f;

    // Jump pad, camera zone and the points list.
    uint32_t const launch = b.signal();
    JumpPad pad;
    Fixture padFixture;
    padFixture.sensor = true;
    padFixture.userData = b.fixtureSignal(launch);
    pad.shapes.push_back(levels::boxShape({82.0f, 0.3f}, {1.0f, 0.3f}, padFixture));
    pad.force = glm::vec2(0.0f, 40.0f);
    pad.forceDuration = 200.0f;
    pad.blockDuration = 400.0f;
    pad.frictionOffDuration = 300;
    pad.launchImpulse = glm::vec2(2.0f, 8.0f);
    pad.body = staticBodyIndexU;
    pad.triggerSignal = launch;
    pad.blockDive = true;
    d.jumpPads.push_back(pad);
    // Drawn by its vertex number within the shared buffer, as exported meshes may be.
    b.quad({82.0f, 0.3f}, {1.0f, 0.3f}, glm::vec4(0.9f, 0.3f, 0.2f, 1.0f), "art/colors/white.png", true);
    CameraZone zone;
    Fixture zoneFixture;
    zoneFixture.sensor = true;
    zoneFixture.category = levels::cameraZoneCategory;
    zone.shapes.push_back(levels::boxShape({90.0f, 4.0f}, {4.0f, 4.0f}, zoneFixture));
    zone.offset = glm::vec2(0.0f, 2.0f);
    zone.duration = 800.0f;
    zone.smooth = true;
    d.cameraZones.push_back(zone);
    d.pointRecords.push_back(PointRecord{{90.0f, 1.0f}, 1});

    // Camera: a drawable that moves with it. No scripted path: that is a cut-scene's, and here
    // the view follows the ball.
    d.levelInfo.cameraDrawables = {b.quad({0.0f, 6.0f}, {7.0f, 0.2f}, glm::vec4(0.0f, 0.0f, 0.0f, 0.3f))};

    // Decorations and effects.
    ParticleEmitter emitter;
    emitter.boxMin = glm::vec3(92.0f, 0.0f, -1.0f);
    emitter.boxMax = glm::vec3(96.0f, 6.0f, 1.0f);
    emitter.rows = emitter.columns = emitter.frameCount = 1;
    emitter.frameSize = glm::vec2(1.0f);
    emitter.particleCount = 32;
    emitter.spawnMin = glm::vec3(93.0f, 0.5f, 0.0f);
    emitter.spawnMax = glm::vec3(95.0f, 0.5f, 0.0f);
    emitter.spawnIntervals = glm::uvec3(1, 4, 8);
    emitter.velocityMin = glm::vec3(-0.2f, 0.5f, 0.0f);
    emitter.velocityMax = glm::vec3(0.2f, 1.5f, 0.0f);
    emitter.angleMax = 360.0f;
    emitter.angularVelocityMin = -45.0f;
    emitter.angularVelocityMax = 45.0f;
    emitter.framesPerSecond = 10.0f;
    emitter.scale = 0.2f;
    emitter.color = glm::vec4(1.0f, 1.0f, 1.0f, 0.8f);
    emitter.sprite = TextureDescriptor("art/effects/water/watersplash.png", TextureOptions(1, 1, 0, 0), 0);
    emitter.drawable = b.node(MeshNode::particleEmitter, 0, {92.0f, 0.0f}, {96.0f, 6.0f});
    d.particleEmitters.push_back(emitter);

    AnimatedTexture sheet;
    sheet.rows = 2;
    sheet.columns = 2;
    sheet.frameCount = 4;
    sheet.framesPerSecond = 8.0f;
    sheet.drawable = b.quad({100.0f, 3.0f}, {0.5f, 0.5f}, glm::vec4(1.0f), "art/effects/gold/goldsprite.png");
    sheet.showSignal = 1;
    sheet.visible = 1;
    sheet.fadeInTime = 300.0f;
    sheet.fadeOutTime = 300.0f;
    d.animatedTextures.push_back(sheet);
    d.dynamicBodies[distanceB].animatedTextures = {0};

    d.jointSprites.push_back(JointSprite{b.quad({35.0f, 5.0f}, {0.05f, 2.0f}, steel, "art/colors/gray.png"), 7,
                                         glm::vec2(1.0f, 1.0f), 0.0f});
    d.jointSpritePairs.push_back(JointSpritePair{b.quad({27.0f, 5.0f}, {0.05f, 2.0f}, steel, "art/colors/gray.png"),
                                                 b.quad({31.0f, 5.0f}, {0.05f, 2.0f}, steel, "art/colors/gray.png"), 6,
                                                 glm::vec2(1.0f, 1.0f), 0.0f});

    CameraShaker shaker;
    shaker.position = glm::vec2(104.0f, 1.0f);
    shaker.secondaryFactor = 0.5f;
    shaker.amplitude = 0.3f;
    shaker.innerRadius = 5.0f;
    shaker.falloff = 10.0f;
    shaker.duration = 1500.0f;
    shaker.fadeInTime = 200.0f;
    shaker.fadeOutTime = 500.0f;
    shaker.startSignal = b.signal();
    shaker.stopSignal = b.signal();
    d.cameraShakers.push_back(shaker);
    b.sensorBox({104.0f, 2.0f}, {1.0f, 2.0f}, shaker.startSignal, shaker.stopSignal);
    d.delayedSignals.push_back(DelayedSignal{shaker.startSignal, shaker.stopSignal, 1200.0f});

    TriggerableSound rumble;
    rumble.playSignal = shaker.startSignal;
    rumble.stopSignal = shaker.stopSignal;
    rumble.sound = sound("audio/Level20/Dravo_LavaLoop.wav", {104.0f, 1.0f}, 3);
    rumble.body = -1;
    rumble.enableSignal = 1;
    rumble.fadeInTime = 100.0f;
    rumble.fadeOutTime = 400.0f;
    d.triggerableSounds.push_back(rumble);

    BodyObserver observer;
    observer.body = int32_t(distanceA);
    observer.impulseThreshold = 5.0f;
    observer.impulseSignal = b.signal();
    observer.speedThreshold = 1.0f;
    observer.speedUpSignal = b.signal();
    observer.speedDownSignal = b.signal();
    observer.useDirection = 1;
    observer.direction = glm::vec2(1.0f, 0.0f);
    observer.spinThreshold = 2.0f;
    observer.spinSignal = b.signal();
    observer.spinStopSignal = b.signal();
    observer.slideThreshold = 0.5f;
    observer.slideSignal = b.signal();
    observer.slideStopSignal = b.signal();
    observer.enableSignal = 1;
    d.bodyObservers.push_back(observer);

    // Water, a particle liquid and the gold effect.
    Fluid pool;
    Fixture water;
    water.sensor = true;
    water.density = 1.0f;  // buoyancy is this times the covered area
    pool.shapes.push_back(levels::boxShape({112.0f, 1.0f}, {4.0f, 1.0f}, water));
    pool.dragCoefficient = 2.0f;
    pool.liftCoefficient = 0.5f;
    pool.maxDrag = 10.0f;
    pool.maxLift = 5.0f;
    pool.buoyancy = 1.2f;
    pool.flow = glm::vec2(0.2f, 0.0f);
    pool.enableSignal = 1;
    d.fluids.push_back(pool);
    b.node(MeshNode::fluidVolume, 0, {108.0f, 0.0f}, {116.0f, 2.0f});
    // Something to float, dropped into the pool.
    box(b, {112.0f, 4.0f}, {0.4f, 0.4f}, wood);
    // The liquid pours into a cup raised over the path.
    for (auto [centre, half] : {std::pair{glm::vec2(122.0f, 2.5f), glm::vec2(2.5f, 0.25f)},
                                std::pair{glm::vec2(119.5f, 4.375f), glm::vec2(0.25f, 1.625f)},
                                std::pair{glm::vec2(124.5f, 4.375f), glm::vec2(0.25f, 1.625f)}}) {
        d.staticShapes.push_back(levels::boxShape(centre, half, Fixture{}));
        b.quad(centre, half, groundColour);
    }
    ParticleLiquid liquid;
    liquid.shapes.push_back(levels::boxShape({122.0f, 4.5f}, {1.0f, 1.0f}, Fixture{}));
    liquid.color = ParticleColor{200, 160, 40, 255};
    liquid.spawnSignal = 1;
    liquid.respawnSignal = b.signal();
    liquid.removeSignal = b.signal();
    d.particleLiquids.push_back(liquid);
    b.node(MeshNode::goldParticles, 0, {118.0f, 0.0f}, {126.0f, 6.0f});
    // Particle groups that hold their shape, in view from the start, in their basins, where the
    // ball rolls over them: an elastic jelly, which gives and springs back, and a block whose
    // particles springs hold as well, which stays as it is. Three rows of particles stand on a
    // basin's floor, the columns evenly between its walls. Particles push the ball away from a
    // little over a particle's width: the jelly's top row, settled, stands a little over the
    // ground's level, so the ball rolling over presses it down, and the block's a little under
    // it, so the ball rolls on over the block without striking its edge. Both are solid groups:
    // each particle's depth inside its group, worked out as the group is made, pushes liquid
    // that meets them out. The gold effect's composite draws them.
    for (bool const elastic : {true, false}) {
        glm::vec2 const basin = elastic ? jellyBasin : blockBasin;
        float const rows = 3.0f, lowest = 0.005f - (elastic ? jellyDepth : blockDepth);
        float const step = 1.5f * d.metaData.particleRadius;  // the solver's lattice step
        ParticleLiquid body;
        // The rows are at y = 0, -step, ... about the body's position, its top row.
        body.position = glm::vec2((basin.x + basin.y) * 0.5f, lowest + (rows - 1.0f) * step);
        body.shapes.push_back(levels::boxShape({0.0f, -0.5f * (rows - 1.0f) * step},
                                               {(basin.y - basin.x) * 0.5f - 0.01f, 0.5f * rows * step},
                                               Fixture{}));
        body.flags = elastic ? 16u : 16u | 8u;  // elastic particles; the block's also held by springs
        body.groupFlags = 1u;                    // solid
        body.color = elastic ? ParticleColor{226, 86, 148, 255} : ParticleColor{132, 140, 158, 255};
        body.spawnSignal = 1;
        d.particleLiquids.push_back(body);
    }
    b.node(MeshNode::goldComposite, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});
    b.node(MeshNode::lightLayer, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});
    b.node(MeshNode::lightLayer2, 0, {-1000.0f, -1000.0f}, {1000.0f, 1000.0f});

    // An indexed quad over its own vertex and index buffers.
    IndexedMesh sign;
    std::vector<float> const corners = {128, 1, 0, 0, 1, 130, 1, 0, 1, 1, 130, 3, 0, 1, 0, 128, 3, 0, 0, 0};
    auto const* cornerBytes = reinterpret_cast<uint8_t const*>(corners.data());
    // Dynamic: the sign's animation below rewrites its vertices.
    d.meshSet.vertexBuffers.push_back(BufferData{{cornerBytes, cornerBytes + corners.size() * 4}, 2});
    std::vector<uint16_t> const indices = {0, 1, 2, 0, 2, 3};
    auto const* indexBytes = reinterpret_cast<uint8_t const*>(indices.data());
    d.meshSet.indexBuffers.push_back(BufferData{{indexBytes, indexBytes + indices.size() * 2}, 1});
    sign.position = {0, 2, 3};
    sign.uv = {12, 2, 2};
    sign.vertexBuffer = 1;
    sign.stride = 20;
    sign.color = glm::vec4(1.0f);
    sign.texture = TextureDescriptor("art/colors/lightgray.png", TextureOptions(1, 1, 1, 1), 0);
    sign.mask = TextureDescriptor("art/colors/white.png", TextureOptions(1, 1, 0, 0), 0);
    sign.matrix = glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.5f, 0.0f));
    sign.shader = MeshCommon::maskShader;
    sign.primitive = 1;  // triangles
    sign.indexType = 1;  // unsigned short
    sign.indexCount = 6;
    d.meshSet.indexedMeshes.push_back(sign);
    // The box holds the sign at the largest size its animation gives it.
    uint32_t const signDrawable = b.node(MeshNode::indexedEntry, 0, {127.75f, 1.25f}, {130.25f, 3.75f});

    // The sign's animation frames, in its buffer's vertex layout: it swells to 1.25 times its
    // size about its centre and back.
    std::vector<uint8_t> signFrames;
    for (float const scale : {1.0f, 1.25f, 1.0f}) {
        std::vector<float> frame = corners;
        for (size_t v = 0; v < 4; ++v) {
            frame[v * 5] = 129.0f + (corners[v * 5] - 129.0f) * scale;
            frame[v * 5 + 1] = 2.0f + (corners[v * 5 + 1] - 2.0f) * scale;
        }
        auto const* frameBytes = reinterpret_cast<uint8_t const*>(frame.data());
        signFrames.insert(signFrames.end(), frameBytes, frameBytes + frame.size() * 4);
    }
    d.meshAnimationFrames.push_back(std::move(signFrames));

    AnimatedMesh pulse;
    pulse.frames = static_cast<uint32_t>(d.meshAnimationFrames.size() - 1);
    pulse.opacityKeys = {0.2f, 1.0f, 0.2f};
    pulse.frameStride = sign.stride * 4;  // one frame: the sign's four vertices
    pulse.drawable = signDrawable;
    pulse.from = 0.0f;
    pulse.to = 2.0f;
    pulse.rate = 1.0f;
    pulse.wrapMode = static_cast<int32_t>(WrapMode::Repeat);
    pulse.repeatCount = -1;
    pulse.playSignal = 1;
    pulse.pauseSignal = b.signal();
    pulse.interpolation = 1;
    d.animatedMeshes.push_back(pulse);

    SignalFilter once;
    once.input = launch;
    once.output = b.signal();
    once.maxCount = 1;
    once.interval = 1000.0f;
    d.signalFilters.push_back(once);
    DrawableGroup facing;
    facing.drawables = {sheet.drawable};
    facing.pivot = glm::vec3(100.0f, 3.0f, 0.0f);
    d.drawableGroups.push_back(facing);

    // Full damping between particles: the elastic bodies settle instead of ringing. Particles
    // half as heavy again as water: lighter, the jelly throws the ball rolling over it up.
    d.metaData.particleDamping = 1.0f;
    d.metaData.particleDensity = 1.5f;
    d.metaData.introCueTime = 0.0f;
    return d;
}

void add(datatool::Context& ctx, std::string const& path, Data const& level) {
    std::vector<std::string> faults = levels::windingFaults(level);
    for (std::string& fault : levels::visibilityFaults(level)) faults.push_back(std::move(fault));
    for (std::string& fault : levels::reachFaults(level)) faults.push_back(std::move(fault));
    for (std::string& fault : levels::liquidFaults(level)) faults.push_back(std::move(fault));
    for (std::string const& fault : faults) {
        ctx.error(path + ": " + fault);
    }
    if (!faults.empty()) {
        return;
    }
    std::vector<uint8_t> file;
    try {
        file = savePristineLevel(level);
    } catch (std::exception const& e) {
        ctx.error(path + ": " + e.what());
        return;
    }
    // What the game reads must be what was authored.
    Data check;
    loadPristineLevel(check, file.data(), file.size());
    if (!(check == level)) {
        ctx.error(path + ": the written level does not read back the same");
        return;
    }
    ctx.pak0.add(path, std::move(file));
}

// Every text a level stores: its texture and sound paths, its music track names and its cut-scene
// name.
class TextCollector {
public:
    static constexpr bool loading = false;
    void raw(void const*, size_t) {}
    void count(uint64_t const&) {}
    void which(int32_t const&) {}
    void checkCount(uint64_t, size_t) {}
    void checkEmptyStates(uint64_t) {}
    void text(std::string const& s, size_t) { texts.push_back(s); }
    std::vector<std::string> texts;
};

// The paths the game asks the archives for while it plays a level: what its records name, each
// music track and the cut-scene's music with the music extension, and the cut-scene's subtitles
// in every shipped language.
std::vector<std::string> requestedPaths(Data const& level) {
    TextCollector collector;
    PristineLevel::io::field(collector, const_cast<Data&>(level));
    auto const& tracks = level.soundTable.musicTracks;
    std::string const& cutScene = level.metaData.introSoundtrack;
    std::vector<std::string> paths;
    for (std::string const& text : collector.texts) {
        if (text.empty() || text == cutScene || std::find(tracks.begin(), tracks.end(), text) != tracks.end()) continue;
        paths.push_back(text);
    }
    for (std::string const& track : tracks) paths.push_back(track + musicExtension());
    if (level.metaData.mode == GameMode::Intro && !cutScene.empty()) {
        paths.push_back(cutScene + musicExtension());
        for (std::string_view locale : datatool::shippedLocales)
            paths.push_back(cutScene + "_" + std::string(locale) + ".srt");
    }
    return paths;
}

// Run last, once every archive entry is made: a level naming a path the archive lacks would have
// the game ask for nothing.
datatool::Register references("references", 100, [](datatool::Context& ctx) {
    for (auto const& [path, bytes] : ctx.pak0.entries()) {
        if (FileSystem::extension(path) != ".pxl") continue;
        Data level;
        loadPristineLevel(level, bytes.data(), bytes.size());
        for (std::string const& wanted : requestedPaths(level))
            if (!ctx.pak0.contains(wanted)) ctx.error(path + " asks for " + wanted + ", which pak0.pak lacks");
    }
});

datatool::Register reg("levels", 20, [](datatool::Context& ctx) {
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        LevelCatalog::Entry const& entry = LevelCatalog::entry(i);
        // The last level ends with the camera's closing shot.
        bool const last = i + 1 == LevelCatalog::count();
        add(ctx, entry.path, entry.mode == GameMode::TimeAttack ? lapLevel(static_cast<int>(i))
                                                                 : runLevel(static_cast<int>(i), entry.mode, last));
        if (!entry.introPath.empty()) add(ctx, entry.introPath, introLevel(static_cast<int>(i)));
    }
    add(ctx, "levels/sampler.pxl", samplerLevel());
    // The opening cut-scene (no record names it, so the main menu follows) and the closing one
    // after the last level, each as long as its music; the closing one's credits roll once its
    // subtitles are over.
    add(ctx, "levels/intro.pxl", introLevel(0, "music/intro", 19000.0f));
    add(ctx, "levels/end.pxl", introLevel(1, "music/end", 17000.0f, 12500.0f));
});

}  // namespace
