#pragma once
// A level whose indices point outside their lists: bodies, joints, fixture signals, meshes,
// buffers, drawables and music tracks. It loads as stored; the code that builds from it must
// check every index.
#include <cstring>

#include "level/PristineLevel.h"

namespace level_testing {

// A packed circle whose fixture points at fixture signal `userData`.
inline PackedShape circleWithUserData(uint32_t userData) {
    PackedShape shape(39, 0);
    uint32_t const type = 0;
    float const radius = 0.5f;
    uint16_t const category = 1;
    uint16_t const mask = 0xFFFF;
    std::memcpy(shape.data(), &type, 4);
    std::memcpy(shape.data() + 4, &radius, 4);
    std::memcpy(shape.data() + 12, &category, 2);
    std::memcpy(shape.data() + 14, &mask, 2);
    std::memcpy(shape.data() + 27, &userData, 4);
    return shape;
}

inline PristineLevel::Data outOfRangeIndexLevel() {
    using namespace PristineLevel;
    Data level;
    level.signalShapes.push_back(circleWithUserData(50));
    level.fixtureSignals.push_back(FixtureSignal{1, 2, 1, 0, 40, 0});
    level.checkPoints.resize(1);
    DynamicBody body;
    body.bodyDef.type = BodyDef::dynamicBody;
    body.drawables = {999};
    body.animatedTextures = {7};
    body.animatedMeshes = {8};
    level.dynamicBodies.push_back(body);

    DistanceJoint distance;
    distance.def.bodyA = 7;
    distance.def.bodyB = -5;
    level.joints.push_back(JointRecord{distance, 0});
    GearJoint gear;
    gear.def.bodyA = 0;
    gear.def.bodyB = 0;
    gear.def.joint1 = 12;
    gear.def.joint2 = 1;  // itself
    level.joints.push_back(JointRecord{gear, 0});
    RevoluteJoint revolute;
    revolute.def.bodyA = 0;
    revolute.def.bodyB = 0;  // a joint from a body to itself
    revolute.def.enableLimit = true;
    revolute.def.lowerAngle = 1.0f;
    revolute.def.upperAngle = -1.0f;  // lower above upper
    level.joints.push_back(JointRecord{revolute, 0});

    level.jointSprites.push_back(JointSprite{3, 99, glm::vec2(1.0f), 0.0f});
    level.jointSpritePairs.push_back(JointSpritePair{4, 5, -7, glm::vec2(1.0f), 0.0f});
    level.motorHinges.push_back(MotorHinge{77, 78, 1.0f, {}});
    level.soundHinges.push_back(SoundHinge{});
    level.soundHinges[0].body = 66;
    JumpPad pad;
    pad.shapes.push_back(circleWithUserData(9));
    pad.body = 44;
    level.jumpPads.push_back(pad);
    AnimatedBody animated;
    animated.body = 12345;
    level.animatedBodies.push_back(animated);
    level.coins.push_back(Coin{});
    level.coins[0].coinDrawable = 999;
    level.coins[0].ringDrawable = 1000;
    level.coins[0].glintDrawable = 0xFFFFFFFF;
    level.animatedTextures.push_back(AnimatedTexture{});
    level.animatedTextures[0].drawable = 500;
    level.animatedTextures[0].columns = 0;  // a sheet without columns
    TriggerableSound sound;
    sound.body = 88;
    level.triggerableSounds.push_back(sound);
    BodyObserver observer;
    observer.body = 66;
    level.bodyObservers.push_back(observer);
    level.levelInfo.cameraDrawables = {300};
    level.soundTable.musicTracks = {"track"};
    level.soundTable.musicPath = {MusicNode{glm::vec2(0.0f), 5, 1.0f, 1.0f, 1.0f},
                                  MusicNode{glm::vec2(10.0f, 0.0f), 5, 1.0f, 1.0f, 1.0f}};
    level.animatedMeshes.push_back(AnimatedMesh{});
    level.animatedMeshes[0].drawable = 400;
    level.animatedMeshes[0].frames = 9;
    level.drawableGroups.push_back(DrawableGroup{{600, 601}, glm::vec3(0.0f)});

    ArrayMesh mesh;
    mesh.vertexBuffer = 1000;
    mesh.stride = 20;
    mesh.position = {0, 2, 3};
    mesh.vertexCount = 4;
    level.meshSet.arrayMeshes.push_back(mesh);
    IndexedMesh indexed;
    indexed.vertexBuffer = 0;
    indexed.indexBuffer = 9;
    indexed.indexCount = 6;
    level.meshSet.indexedMeshes.push_back(indexed);
    level.meshSet.vertexBuffers.push_back(BufferData{{1, 2, 3}, 1});
    level.meshSet.nodes.push_back(MeshNode{MeshNode::arrayEntry, 55, {glm::vec4(0.0f), glm::vec4(1.0f)}, 0});
    level.meshSet.nodes.push_back(MeshNode{MeshNode::indexedEntry, 3, {glm::vec4(0.0f), glm::vec4(1.0f)}, 0});
    level.meshSet.nodes.push_back(MeshNode{77, 0, {glm::vec4(0.0f), glm::vec4(1.0f)}, 0});  // unknown kind
    return level;
}

}  // namespace level_testing
