#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "level/LevelFields.h"
#include "level/LevelReader.h"
#include "level/LevelWriter.h"
#include "level/tests/LevelFiller.h"
#include "level/tests/OutOfRangeLevels.h"
#include "os/OpaqueStreamBuf.h"

namespace {

using namespace PristineLevel;
using Bytes = std::vector<uint8_t>;
using level_testing::filledLevel;

template <class T>
Bytes recordBytes(T const& record) {
    std::ostringstream stream(std::ios::binary);
    {
        cereal::BinaryOutputArchive archive(stream);
        io::LevelWriter writer(archive);
        io::field(writer, const_cast<T&>(record));
    }
    std::string const s = stream.str();
    return Bytes(s.begin(), s.end());
}

// Reads one record from `bytes`; throws like the level reader does.
template <class T>
T loadRecord(Bytes const& bytes, T record = T{}) {
    io::LevelReader reader(bytes.data(), bytes.size());
    io::field(reader, record);
    return record;
}

// Each member's stored bytes, in file order.
std::vector<Bytes> memberBytes(Data const& level) {
    std::vector<Bytes> members;
    io::forEachMember(level, [&](auto const& member) { members.push_back(recordBytes(member)); });
    return members;
}

Bytes envelope(Bytes const& archive, uint32_t declared) {
    uLongf packed = compressBound(static_cast<uLong>(archive.size()));
    Bytes file(4 + packed);
    std::memcpy(file.data(), &declared, 4);
    EXPECT_EQ(compress2(file.data() + 4, &packed, archive.data(), static_cast<uLong>(archive.size()), 9), Z_OK);
    file.resize(4 + packed);
    return file;
}

std::string loadError(Data& level, Bytes const& archive) {
    try {
        loadPristineLevelArchive(level, archive.data(), archive.size());
    } catch (cereal::Exception const& e) {
        return e.what();
    }
    return "";
}

// The file's bytes written out by hand, value by value, apart from the record layouts, so a field
// read or written in the wrong place shows.
class Stored {
public:
    template <class T>
    Stored& put(T value) {
        auto const* p = reinterpret_cast<uint8_t const*>(&value);
        bytes.insert(bytes.end(), p, p + sizeof value);
        return *this;
    }
    Stored& u8(uint8_t v) { return put(v); }
    Stored& u16(uint16_t v) { return put(v); }
    Stored& i16(int16_t v) { return put(v); }
    Stored& i32(int32_t v) { return put(v); }
    Stored& u64(uint64_t v) { return put(v); }
    Stored& u32(std::initializer_list<uint32_t> values) {
        for (uint32_t v : values) put(v);
        return *this;
    }
    Stored& f32(std::initializer_list<float> values) {
        for (float v : values) put(v);
        return *this;
    }
    Stored& str(std::string const& s) {
        u64(s.size());
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    Stored& sound(SoundDescriptor const& s) {
        auto const& p = s.params;
        return str(s.path).f32({p.position.x, p.position.y, p.position.z}).u8(p.flags).f32({p.gain}).u8(p.category).f32(
            {p.referenceFactor, p.maxFactor});
    }
    Stored& texture(TextureDescriptor const& t) {
        return str(t.path).u8(t.options.minFilter).u8(t.options.magFilter).u8(t.options.wrapS).u8(t.options.wrapT).u8(
            t.flags);
    }

    Bytes bytes;
};

// The hand-written bytes read into the expected record, and the record writes back to them.
// The size counter, used to bound list counts on load, agrees with the layout too.
template <class T>
void expectStored(Stored const& stored, T const& expected, char const* what) {
    EXPECT_TRUE(loadRecord<T>(stored.bytes) == expected) << what;
    EXPECT_EQ(recordBytes(expected), stored.bytes) << what;
    EXPECT_EQ(io::storedSize(expected), stored.bytes.size()) << what;
}

// Where member `k` starts in the level's archive.
size_t memberOffset(Data const& level, int k) {
    auto const members = memberBytes(level);
    size_t at = 0;
    for (int j = 0; j < k; ++j) {
        at += members[j].size();
    }
    return at;
}

TEST(LevelFile, RoundTripKeepsEveryMemberOfEveryRecordKind) {
    Data const level = filledLevel();
    auto const filled = memberBytes(level);
    auto const defaults = memberBytes(Data{});
    ASSERT_EQ(filled.size(), static_cast<size_t>(io::memberCount));
    for (int k = 0; k < io::memberCount; ++k) {
        EXPECT_NE(filled[k], defaults[k]) << "member " << k << " was not filled";
    }

    Bytes const file = savePristineLevel(level);
    Data loaded;
    loadPristineLevel(loaded, file.data(), file.size());
    auto const reloaded = memberBytes(loaded);
    for (int k = 0; k < io::memberCount; ++k) {
        EXPECT_EQ(reloaded[k], filled[k]) << "member " << k;
    }
    EXPECT_TRUE(loaded == level);
    EXPECT_EQ(savePristineLevel(loaded), file);

    // Optionals written absent come back absent, also over values that were present.
    Data sparse = level;
    sparse.levelInfo.cameraTrack.reset();
    sparse.meshSet.arrayMeshes[0].texture.reset();
    sparse.meshSet.arrayMeshes[0].matrix.reset();
    boost::get<RevoluteJoint>(sparse.joints[6].def).states[0].lowerAngle.reset();
    Bytes const sparseFile = savePristineLevel(sparse);
    loadPristineLevel(loaded, sparseFile.data(), sparseFile.size());
    EXPECT_TRUE(loaded == sparse);
}

TEST(LevelFile, StoredSizesMatchTheRecordLayouts) {
    // Records with a fixed layout are sized in FieldsSitWhereTheFileStoresThem; these are the
    // defaults and the sizes that depend on contents.
    using io::storedSize;
    EXPECT_EQ(storedSize(ArrayMesh{}), 69u);
    EXPECT_EQ(storedSize(IndexedMesh{}), 74u);

    SoundDescriptor sound("audio/a.wav", SoundParams{});
    size_t const soundSize = storedSize(sound);
    EXPECT_EQ(soundSize, 8u + 11u + 26u);
    TriggerableSound triggerable;
    triggerable.sound = sound;
    EXPECT_EQ(storedSize(triggerable), 8u + soundSize + 20u);

    PackedShape const shape(35, 0x5a);
    Fluid fluid;
    fluid.shapes = {shape};
    EXPECT_EQ(storedSize(fluid), 8u + 8u + 35u + 37u);
    ParticleLiquid liquid;
    liquid.shapes = {shape, shape};
    EXPECT_EQ(storedSize(liquid), 8u + 2 * (8u + 35u) + 52u);
    AnimatedMesh mesh;
    mesh.opacityKeys = {0.5f, 1.0f, 0.25f};
    EXPECT_EQ(storedSize(mesh), 66u + 12u);

    ArrayMesh withMatrix;
    withMatrix.matrix = glm::mat4(1.0f);
    EXPECT_EQ(storedSize(withMatrix), 69u + 64u);
    withMatrix.texture = TextureDescriptor("art/a.png", TextureOptions{}, 0);
    EXPECT_EQ(storedSize(withMatrix), 69u + 64u + 8u + 9u + 5u);

    // A joint entry is which (4) + definition + state count (8) + reset signal (4).
    EXPECT_EQ(storedSize(JointRecord{}), 4u + 41u + 8u + 4u);
    EXPECT_EQ(storedSize(JointRecord{RevoluteJoint{}, 0}), 4u + 51u + 8u + 4u);
    RevoluteJointState state;
    EXPECT_EQ(storedSize(state), 11u);
    state.enableLimit = true;
    state.enableMotor = false;
    state.lowerAngle = state.upperAngle = state.motorSpeed = state.maxMotorTorque = InterpolatedFloat{1, 2};
    EXPECT_EQ(storedSize(state), 45u);
    // Empty states store their count only.
    FrictionJoint friction;
    friction.states.resize(3);
    EXPECT_EQ(storedSize(JointRecord{friction, 0}), storedSize(JointRecord{FrictionJoint{}, 0}));
    // 34 members: 30 empty lists and four direct records.
    EXPECT_EQ(savePristineLevelArchive(Data{}).size(), 30 * 8u + (12 + 1 + 8) + 42 + 3 * 8 + 5 * 8);
}

TEST(LevelFile, ValueEncodings) {
    // Any non-zero byte marks an optional present and a bool true.
    RevoluteJointState state;
    state.enableMotor = true;
    Bytes bytes = recordBytes(state);
    ASSERT_EQ(bytes.size(), 12u);
    bytes[6] = 2;     // enableMotor's presence flag
    bytes[7] = 0x40;  // its value
    auto const readState = loadRecord<RevoluteJointState>(bytes);
    ASSERT_TRUE(readState.enableMotor.has_value());
    EXPECT_TRUE(*readState.enableMotor);
    EXPECT_FALSE(readState.enableLimit.has_value());

    // An absent optional empties a value that was present before the read.
    RevoluteJointState before;
    before.enableLimit = true;
    before.lowerAngle = InterpolatedFloat{1, 1};
    auto const emptied = loadRecord(recordBytes(RevoluteJointState{}), before);
    EXPECT_EQ(emptied, RevoluteJointState{});

    // A string length of 0 takes just its 8 length bytes.
    EXPECT_EQ(recordBytes(std::string()).size(), 8u);
    EXPECT_EQ(recordBytes(std::string("ab")), (Bytes{2, 0, 0, 0, 0, 0, 0, 0, 'a', 'b'}));

    // The matrix is sixteen floats in column order, after both texture flags.
    ArrayMesh mesh;
    glm::mat4 matrix(1.0f);
    matrix[3][0] = 7.0f;  // x translation: column 3, row 0
    mesh.matrix = matrix;
    bytes = recordBytes(mesh);
    size_t const matrixAt = 4 + 27 + 4 + 4 + 1 + 16 + 1 + 1 + 1;
    float translation = 0;
    std::memcpy(&translation, bytes.data() + matrixAt + 12 * 4, 4);
    EXPECT_EQ(translation, 7.0f);

    // Game modes the game doesn't know are kept; usage codes widen from one byte.
    MetaData meta(static_cast<GameMode>(9));
    EXPECT_EQ(loadRecord<MetaData>(recordBytes(meta)).mode, static_cast<GameMode>(9));
    BufferData buffer;
    buffer.usage = 2;
    bytes = recordBytes(buffer);
    EXPECT_EQ(bytes.size(), 9u);
    EXPECT_EQ(loadRecord<BufferData>(bytes).usage, 2u);

    // A body definition's bool of 2 reads as true.
    BodyDef body;
    body.allowSleep = false;
    bytes = recordBytes(body);
    bytes[4 + 8 + 4 + 8 + 4 + 4 + 4] = 2;
    EXPECT_TRUE(loadRecord<BodyDef>(bytes).allowSleep);
}

TEST(LevelFile, FieldsSitWhereTheFileStoresThem) {
    SoundDescriptor const snd("a.wav", SoundParams(glm::vec3(1, 2, 3), 3, 0.5f, 1, 4.0f, 5.0f));
    SoundDescriptor const none;

    // Level-wide records and the bodies.
    expectStored(Stored().f32({1, 2}).u32({3, 4, 5, 6, 7, 8, 9, 10}),
                 CheckPoint{.respawnPosition = {1, 2}, .index = 3, .reachSignal = 4, .respawnSignals = {5, 6, 7, 8, 9, 10}},
                 "check point");
    expectStored(Stored().u32({1}).i32(-1).f32({2.5f}).sound(snd),
                 MotorHinge{.body = 1, .secondBody = -1, .motorSpeed = 2.5f, .sound = snd}, "motor hinge");
    expectStored(Stored().f32({1, 2, 3, 4, 5}).i32(6).i32(-1).sound(snd).f32({7}).sound(none).f32({8}),
                 SoundHinge{.lowerAngle = 1, .upperAngle = 2, .referenceAngle = 3, .angularDamping = 4, .stiffness = 5,
                            .body = 6, .secondBody = -1, .lowSound = snd, .lowThreshold = 7, .highSound = none,
                            .highThreshold = 8},
                 "sound hinge");
    expectStored(Stored().u64(1).u64(3).u8(9).u8(8).u8(7).f32({1, 2, 3, 4}).u32({5}).f32({6, 7}).u32({0xFFFFFFFF, 8}).u8(0).u8(1),
                 JumpPad{.shapes = {{9, 8, 7}}, .force = {1, 2}, .forceDuration = 3, .blockDuration = 4,
                         .frictionOffDuration = 5, .launchImpulse = {6, 7}, .body = 0xFFFFFFFF, .triggerSignal = 8,
                         .blockJump = false, .blockDive = true},
                 "jump pad");
    CameraTrack const track{.points = {{1, 2, 3}, {4, 5, 6}}, .from = 7, .to = 8, .startOffset = 9, .rate = 10,
                            .wrapMode = WrapMode::Repeat, .repeatCount = -1, .values = {11, 12, 13, 14, 15}};
    expectStored(Stored().f32({1, 2, 3}).u8(1).u64(2).f32({1, 2, 3, 4, 5, 6, 7, 8, 9, 10}).u16(2).i32(-1).u32(
                     {11, 12, 13, 14, 15}).u64(2).u32({16, 17}),
                 LevelInfo{.nearPlane = 1, .farPlane = 2, .viewDistance = 3, .cameraTrack = track, .cameraDrawables = {16, 17}},
                 "level info");
    expectStored(Stored().u32({1, 2, 3, 4}).sound(snd).u32({5, 6, 7}).f32({8, 9, 10, 11}).u32({12, 13, 14, 15, 16}),
                 Coin{.frameCount = 1, .startFrame = 2, .rows = 3, .columns = 4, .collectSound = snd, .coinDrawable = 5,
                      .ringDrawable = 6, .glintDrawable = 7, .frameSize = {8, 9}, .center = {10, 11}, .triggerSignal = 12,
                      .enableSignal = 13, .disableSignal = 14, .frameTime = 15, .achievement = 16},
                 "coin");
    expectStored(Stored().u32({1, 2, 3}).f32({4, 5, 6}).u64(1).u32({7, 8}).f32({9, 10}).u64(1).f32({11}).u32({12}).sound(
                     snd).sound(none),
                 RackAndPinion{.startSignal = 1, .returnSignal = 2, .lockSignal = 3, .lowerAngle = 4, .upperAngle = 5,
                               .speed = 6, .racks = {Rack{7, 8, {9, 10}}}, .gears = {Gear{11, 12}}, .moveSound = snd,
                               .stopSound = none},
                 "rack and pinion");
    expectStored(Stored().f32({1, 2, 3, 4}).u8(1).f32({5, 6, 7}).u32({8, 9, 10}).i32(-1).sound(snd).sound(none).u8(1),
                 JointSwitch{.lowerAngle = 1, .upperAngle = 2, .threshold = 3, .angularDamping = 4, .enableMotor = true,
                             .motorSpeed = 5, .maxMotorTorque = 6, .gravityScale = 7, .onSignal = 8, .offSignal = 9,
                             .body = 10, .secondBody = -1, .onSound = snd, .offSound = none, .needsJump = true},
                 "joint switch");
    TextureDescriptor const sprite("s.png", TextureOptions(1, 2, 3, 4), 5);
    expectStored(Stored().f32({1, 2, 3, 4, 5, 6}).u32({7, 8, 9}).f32({10, 11}).u32({12}).f32({13, 14, 15, 16, 17, 18}).u32(
                     {19, 20, 21}).f32({22, 23, 24, 25, 26, 27, 28, 29, 30, 31, 32, 33, 34, 35, 36, 37}).texture(sprite).u32({38}),
                 ParticleEmitter{.boxMin = {1, 2, 3}, .boxMax = {4, 5, 6}, .rows = 7, .columns = 8, .frameCount = 9,
                                 .frameSize = {10, 11}, .particleCount = 12, .spawnMin = {13, 14, 15},
                                 .spawnMax = {16, 17, 18}, .spawnIntervals = {19, 20, 21}, .velocityMin = {22, 23, 24},
                                 .velocityMax = {25, 26, 27}, .angleMin = 28, .angleMax = 29, .angularVelocityMin = 30,
                                 .angularVelocityMax = 31, .framesPerSecond = 32, .scale = 33, .color = {34, 35, 36, 37},
                                 .sprite = sprite, .drawable = 38},
                 "particle emitter");
    expectStored(Stored().u64(0).f32({1, 2, 3}).u8(1).u8(0),
                 CameraZone{.shapes = {}, .offset = {1, 2}, .duration = 3, .follow = true, .smooth = false}, "camera zone");
    BodyDef const bodyDef{.type = 2, .position = {1, 2}, .angle = 3, .linearVelocity = {4, 5}, .angularVelocity = 6,
                          .linearDamping = 7, .angularDamping = 8, .allowSleep = false, .awake = true,
                          .fixedRotation = true, .bullet = false, .active = true, .userData = -3, .gravityScale = 9};
    expectStored(Stored().i32(2).f32({1, 2, 3, 4, 5, 6, 7, 8}).u8(0).u8(1).u8(1).u8(0).u8(1).i32(-3).f32({9}).u64(1).u64(1).u8(
                     4).u64(2).u32({10, 11, 12, 13, 14}).u64(1).u32({15}).u64(2).u32({16, 17}),
                 DynamicBody{.bodyDef = bodyDef, .shapes = {{4}}, .drawables = {10, 11}, .resetSignal = 12,
                             .enableSignal = 13, .disableSignal = 14, .animatedTextures = {15}, .animatedMeshes = {16, 17}},
                 "dynamic body");
    AnimatedBody animated;
    animated.body = 1;
    animated.path = Keyframes({Keyframe{2, {3, 4}, {5, 6}, {7, 8}, 9}}, WrapMode::Clamp);
    animated.playSignal = 10;
    animated.stopSignal = 11;
    animated.reverseSignal = 12;
    animated.rewindSignal = 13;
    expectStored(Stored().u32({1}).u64(1).f32({2, 3, 4, 5, 6, 7, 8, 9}).u16(0).u32({10, 11, 12, 13}), animated,
                 "animated body");
    MetaData meta(GameMode::TimeAttack);
    meta.particleMaxCount = 2;
    meta.particleDensity = 3;
    meta.particleGravityScale = 4;
    meta.particleDamping = 5;
    meta.particleRadius = 6;
    meta.goldParticleSize = 7;
    meta.tutorial = true;
    meta.introSoundtrack = "intro";
    meta.introEndTime = 8;
    meta.introCueTime = 9;
    expectStored(Stored().u8(1).u32({2}).f32({3, 4, 5, 6, 7}).u8(1).str("intro").f32({8, 9}), meta, "meta data");

    // Joints: the base fields in either order, then the kind's own fields.
    auto base = [](auto def, bool collide) {
        def.collideConnected = collide;
        def.bodyA = -1;
        def.bodyB = 2;
        return def;
    };
    auto orderA = [](int32_t which, int32_t type) { return Stored().i32(which).i32(type).u8(1).i32(-1).i32(2); };
    auto orderB = [](int32_t which, int32_t type) { return Stored().i32(which).i32(type).i32(-1).i32(2).u8(1); };
    DistanceJointDef distance = base(DistanceJointDef{}, true);
    distance.localAnchorA = {1, 2};
    distance.localAnchorB = {3, 4};
    distance.length = 5;
    distance.frequencyHz = 6;
    distance.dampingRatio = 7;
    expectStored(orderA(0, 3).f32({1, 2, 3, 4, 5, 6, 7}).u64(0).u32({70}), JointRecord{DistanceJoint{distance, {}}, 70},
                 "distance joint");
    FrictionJointDef friction = base(FrictionJointDef{}, true);
    friction.localAnchorA = {1, 2};
    friction.localAnchorB = {3, 4};
    friction.maxForce = 5;
    friction.maxTorque = 6;
    expectStored(orderB(1, 9).f32({1, 2, 3, 4, 5, 6}).u64(0).u32({71}), JointRecord{FrictionJoint{friction, {}}, 71},
                 "friction joint");
    GearJointDef gear = base(GearJointDef{}, true);
    gear.joint1 = 3;
    gear.joint2 = -1;
    gear.ratio = 4;
    expectStored(orderB(2, 6).i32(3).i32(-1).f32({4}).u64(2).u32({72}),
                 JointRecord{GearJoint{gear, std::vector<EmptyJointState>(2)}, 72}, "gear joint");
    MotorJointDef motor = base(MotorJointDef{}, true);
    motor.linearOffset = {1, 2};
    motor.angularOffset = 3;
    motor.maxForce = 4;
    motor.maxTorque = 5;
    motor.correctionFactor = 6;
    expectStored(orderB(3, 11).f32({1, 2, 3, 4, 5, 6}).u64(0).u32({73}), JointRecord{MotorJoint{motor, {}}, 73},
                 "motor joint");
    PrismaticJointDef prismatic = base(PrismaticJointDef{}, true);
    prismatic.localAnchorA = {1, 2};
    prismatic.localAnchorB = {3, 4};
    prismatic.localAxisA = {5, 6};
    prismatic.referenceAngle = 7;
    prismatic.enableLimit = true;
    prismatic.lowerTranslation = 8;
    prismatic.upperTranslation = 9;
    prismatic.enableMotor = false;
    prismatic.maxMotorForce = 10;
    prismatic.motorSpeed = 11;
    expectStored(orderB(4, 2).f32({1, 2, 3, 4, 5, 6, 7}).u8(1).f32({8, 9}).u8(0).f32({10, 11}).u64(0).u32({74}),
                 JointRecord{PrismaticJoint{prismatic, {}}, 74}, "prismatic joint");
    PulleyJointDef pulley = base(PulleyJointDef{}, true);
    pulley.groundAnchorA = {1, 2};
    pulley.groundAnchorB = {3, 4};
    pulley.localAnchorA = {5, 6};
    pulley.localAnchorB = {7, 8};
    pulley.lengthA = 9;
    pulley.lengthB = 10;
    pulley.ratio = 11;
    expectStored(orderB(5, 4).f32({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}).u64(0).u32({75}),
                 JointRecord{PulleyJoint{pulley, {}}, 75}, "pulley joint");
    RevoluteJointDef revolute = base(RevoluteJointDef{}, true);
    revolute.localAnchorA = {1, 2};
    revolute.localAnchorB = {3, 4};
    revolute.referenceAngle = 5;
    revolute.enableLimit = false;
    revolute.lowerAngle = 6;
    revolute.upperAngle = 7;
    revolute.enableMotor = true;
    revolute.motorSpeed = 8;
    revolute.maxMotorTorque = 9;
    RevoluteJointState state;
    state.signal = 20;
    state.interrupt = 1;
    state.enableLimit = false;
    state.lowerAngle = InterpolatedFloat{21, 22};
    state.motorSpeed = InterpolatedFloat{23, 24};
    expectStored(orderA(6, 1).f32({1, 2, 3, 4, 5}).u8(0).f32({6, 7}).u8(1).f32({8, 9}).u64(1).u32({20}).u8(1).u8(1).u8(0).u8(
                     0).u8(1).f32({21, 22}).u8(0).u8(1).f32({23, 24}).u8(0).u32({76}),
                 JointRecord{RevoluteJoint{revolute, {state}}, 76}, "revolute joint");
    RopeJointDef rope = base(RopeJointDef{}, true);
    rope.localAnchorA = {1, 2};
    rope.localAnchorB = {3, 4};
    rope.maxLength = 5;
    RopeJointState shorten;
    shorten.signal = 25;
    shorten.maxLength = InterpolatedFloat{26, 27};
    expectStored(orderA(7, 10).f32({1, 2, 3, 4, 5}).u64(1).u32({25}).u8(0).u8(1).f32({26, 27}).u32({77}),
                 JointRecord{RopeJoint{rope, {shorten}}, 77}, "rope joint");
    WeldJointDef weld = base(WeldJointDef{}, true);
    weld.localAnchorA = {1, 2};
    weld.localAnchorB = {3, 4};
    weld.referenceAngle = 5;
    weld.frequencyHz = 6;
    weld.dampingRatio = 7;
    expectStored(orderB(8, 8).f32({1, 2, 3, 4, 5, 6, 7}).u64(0).u32({78}), JointRecord{WeldJoint{weld, {}}, 78},
                 "weld joint");
    WheelJointDef wheel = base(WheelJointDef{}, true);
    wheel.localAnchorA = {1, 2};
    wheel.localAnchorB = {3, 4};
    wheel.localAxisA = {5, 6};
    wheel.enableMotor = true;
    wheel.maxMotorTorque = 7;
    wheel.motorSpeed = 8;
    wheel.frequencyHz = 9;
    wheel.dampingRatio = 10;
    expectStored(orderB(9, 7).f32({1, 2, 3, 4, 5, 6}).u8(1).f32({7, 8, 9, 10}).u64(0).u32({79}),
                 JointRecord{WheelJoint{wheel, {}}, 79}, "wheel joint");

    // Level objects.
    expectStored(Stored().u32({1, 2}).f32({3}), DelayedSignal{.signal = 1, .target = 2, .delay = 3}, "delayed signal");
    expectStored(Stored().f32({1, 2, 3, 4, 5, 6, 7}),
                 PathNode{.point = {1, 2}, .inHandle = {3, 4}, .outHandle = {5, 6}, .distance = 7}, "path node");
    expectStored(Stored().u32({1, 2, 3}).f32({4}).u32({5, 6, 7, 8, 9, 10, 11}).u8(1).f32({13, 14}),
                 AnimatedTexture{.rows = 1, .columns = 2, .frameCount = 3, .framesPerSecond = 4, .startFrame = 5,
                                 .drawable = 6, .playSignal = 7, .showSignal = 8, .showSignal2 = 9, .hideSignal = 10,
                                 .hideSignal2 = 11, .visible = 1, .fadeInTime = 13, .fadeOutTime = 14},
                 "animated texture");
    expectStored(Stored().u32({1}).i32(-2).f32({3, 4, 5}),
                 JointSprite{.drawable = 1, .joint = -2, .scale = {3, 4}, .vStart = 5}, "joint sprite");
    expectStored(Stored().u32({1, 2}).i32(-3).f32({4, 5, 6}),
                 JointSpritePair{.drawableA = 1, .drawableB = 2, .joint = -3, .scale = {4, 5}, .vStart = 6},
                 "joint sprite pair");
    expectStored(Stored().f32({1, 2, 3, 4, 5, 6, 7, 8, 9}).u32({10, 11}),
                 CameraShaker{.position = {1, 2}, .secondaryFactor = 3, .amplitude = 4, .innerRadius = 5, .falloff = 6,
                              .duration = 7, .fadeInTime = 8, .fadeOutTime = 9, .startSignal = 10, .stopSignal = 11},
                 "camera shaker");
    expectStored(Stored().u32({1, 2}).sound(snd).i32(-1).u32({3, 4}).f32({5, 6}),
                 TriggerableSound{.playSignal = 1, .stopSignal = 2, .sound = snd, .body = -1, .enableSignal = 3,
                                  .disableSignal = 4, .fadeInTime = 5, .fadeOutTime = 6},
                 "triggerable sound");
    expectStored(Stored().u64(1).str("m").u64(1).sound(snd).u64(1).f32({1, 2}).i32(-1).f32({3, 4, 5}),
                 SoundTable{.musicTracks = {"m"}, .sounds = {snd}, .musicPath = {MusicNode{{1, 2}, -1, 3, 4, 5}}},
                 "sound table");
    expectStored(Stored().u32({1, 2}).u16(0x0102).i16(-3).i32(4).u8(1),
                 FixtureSignal{.beginSignal = 1, .endSignal = 2, .categoryMask = 0x0102, .group = -3, .next = 4, .perBody = 1},
                 "fixture signal");
    expectStored(Stored().i32(1).f32({2}).u32({3}).f32({4}).u32({5, 6}).u8(1).f32({7, 8, 9}).u32({10, 11}).u8(0).f32({12}).u32(
                     {13, 14, 15, 16}),
                 BodyObserver{.body = 1, .impulseThreshold = 2, .impulseSignal = 3, .speedThreshold = 4,
                              .speedUpSignal = 5, .speedDownSignal = 6, .useDirection = 1, .direction = {7, 8},
                              .spinThreshold = 9, .spinSignal = 10, .spinStopSignal = 11, .spinNeedsContact = 0,
                              .slideThreshold = 12, .slideSignal = 13, .slideStopSignal = 14, .enableSignal = 15,
                              .disableSignal = 16},
                 "body observer");
    expectStored(Stored().u64(0).f32({1, 2, 3, 4, 5, 6, 7}).u8(1).u32({8, 9}),
                 Fluid{.shapes = {}, .dragCoefficient = 1, .liftCoefficient = 2, .maxDrag = 3, .maxLift = 4,
                       .buoyancy = 5, .flow = {6, 7}, .silent = 1, .enableSignal = 8, .disableSignal = 9},
                 "fluid");
    expectStored(Stored().u64(0).u32({1, 2}).f32({3, 4, 5, 6, 7, 8}).u8(9).u8(10).u8(11).u8(12).f32({13}).u32({14, 15, 16}),
                 ParticleLiquid{.shapes = {}, .flags = 1, .groupFlags = 2, .position = {3, 4}, .angle = 5,
                                .linearVelocity = {6, 7}, .angularVelocity = 8, .color = {9, 10, 11, 12}, .strength = 13,
                                .spawnSignal = 14, .respawnSignal = 15, .removeSignal = 16},
                 "particle liquid");
    expectStored(Stored().u32({1}).u64(1).f32({0.5f}).u32({2, 3}).f32({4, 5, 6, 7}).i32(2).i32(-1).u32({8, 9, 10, 11, 12}).u8(
                     1).u8(1),
                 AnimatedMesh{.frames = 1, .opacityKeys = {0.5f}, .frameStride = 2, .drawable = 3, .from = 4, .to = 5,
                              .startOffset = 6, .rate = 7, .wrapMode = 2, .repeatCount = -1, .playSignal = 8,
                              .reverseSignal = 9, .pauseSignal = 10, .finishSignal = 11, .rewindSignal = 12,
                              .hideWhenFinished = 1, .interpolation = 1},
                 "animated mesh");
    expectStored(Stored().u32({1, 2, 3}).i32(-1).f32({4}),
                 SignalFilter{.input = 1, .output = 2, .reset = 3, .maxCount = -1, .interval = 4}, "signal filter");
    expectStored(Stored().u64(2).u32({1, 2}).f32({3, 4, 5}), DrawableGroup{.drawables = {1, 2}, .pivot = {3, 4, 5}},
                 "drawable group");

    // The mesh set.
    IndexedMesh indexed;
    indexed.baseOffset = 1;
    indexed.position = {2, 3, 4};
    indexed.uv = {5, 6, 7};
    indexed.uv2 = {8, 0, 0};
    indexed.vertexBuffer = 9;
    indexed.stride = 10;
    indexed.blend = 1;
    indexed.color = {11, 12, 13, 14};
    indexed.mask = sprite;
    indexed.shader = MeshCommon::maskShader;
    indexed.primitive = 1;
    indexed.indexType = 2;
    indexed.indexOffset = 15;
    indexed.indexCount = 16;
    indexed.indexBuffer = 17;
    expectStored(Stored().u32({1, 2}).u8(3).u32({4, 5}).u8(6).u32({7, 8}).u8(0).u32({0, 9, 10}).u8(1).f32({11, 12, 13, 14}).u8(
                     0).u8(1).texture(sprite).u8(0).u8(4).u8(1).u8(2).u32({15, 16, 17}),
                 indexed, "indexed mesh");
    expectStored(Stored().u64(2).u8(1).u8(2).u8(0), BufferData{.bytes = {1, 2}, .usage = 0}, "buffer");
    expectStored(Stored().u16(1).u32({2}).f32({3, 4, 5, 6, 7, 8, 9, 10}).u8(1),
                 MeshNode{.kind = 1, .index = 2, .box = {{3, 4, 5, 6}, {7, 8, 9, 10}}, .lowEnd = 1}, "mesh node");
}

TEST(LevelFile, VariantSelectorsOutOfRangeStopTheRead) {
    Data level;
    level.coins.resize(1);
    level.joints.resize(2);
    level.joints[1].def = WeldJoint{};
    level.delayedSignals.resize(1);
    Bytes archive = savePristineLevelArchive(level);
    // The second joint's which sits after the first entry.
    size_t const secondWhich = memberOffset(level, 15) + 8 + io::storedSize(level.joints[0]);
    ASSERT_EQ(archive[secondWhich], 8);

    struct Case {
        int32_t which;
        std::string message;
    };
    for (Case const& c : {Case{10, "Invalid 'which' selector when deserializing boost::variant"},
                          Case{-1, "Error traversing variant during load"},
                          Case{INT32_MIN, "Error traversing variant during load"}}) {
        Bytes bad = archive;
        std::memcpy(bad.data() + secondWhich, &c.which, 4);
        Data loaded;
        EXPECT_EQ(loadError(loaded, bad), c.message);
        EXPECT_EQ(loaded.coins, level.coins);
        ASSERT_EQ(loaded.joints.size(), 2u);
        EXPECT_EQ(loaded.joints[0], level.joints[0]);
        EXPECT_EQ(loaded.joints[1], JointRecord{});
        EXPECT_TRUE(loaded.delayedSignals.empty());

        Data viaFile;
        Bytes const file = envelope(bad, static_cast<uint32_t>(bad.size()));
        loadPristineLevel(viaFile, file.data(), file.size());
        EXPECT_TRUE(viaFile == loaded);
    }
}

TEST(LevelFile, CountsThatCannotFitAreRejectedBeforeGrowing) {
    Data level;
    level.signalShapes = {PackedShape(40, 1)};
    level.checkPoints.resize(3);
    Bytes archive = savePristineLevelArchive(level);
    size_t const checkPointsAt = 8 + 8 + 40;

    auto withCount = [&](size_t at, uint64_t count) {
        Bytes bad = archive;
        std::memcpy(bad.data() + at, &count, 8);
        return bad;
    };
    uint64_t const oneTooMany = (archive.size() - checkPointsAt - 8) / 40 + 1;
    for (uint64_t count : {oneTooMany, uint64_t(1) << 20, uint64_t(1) << 62, ~uint64_t(0)}) {
        Data loaded;
        std::string const error = loadError(loaded, withCount(checkPointsAt, count));
        EXPECT_NE(error.find("exceeds"), std::string::npos) << error;
        EXPECT_EQ(loaded.signalShapes, level.signalShapes);
        EXPECT_TRUE(loaded.checkPoints.empty());
    }
    // A string or a shape longer than the rest of the file.
    for (uint64_t length : {uint64_t(archive.size() - 16 + 1), uint64_t(1) << 40}) {
        Data loaded;
        EXPECT_NE(loadError(loaded, withCount(8, length)).find("exceeds"), std::string::npos);
        EXPECT_TRUE(loaded.signalShapes.empty() || loaded.signalShapes[0].empty());
    }

    // Empty joint states take no bytes: their total per file is bounded.
    Data joints;
    joints.joints.resize(3, JointRecord{FrictionJoint{}, 0});
    Bytes jointArchive = savePristineLevelArchive(joints);
    size_t const entry = io::storedSize(joints.joints[0]);
    size_t const firstCount = memberOffset(joints, 15) + 8 + 4 + 37;
    auto setStates = [&](Bytes& bytes, int joint, uint64_t count) {
        std::memcpy(bytes.data() + firstCount + joint * entry, &count, 8);
    };
    Bytes fits = jointArchive;
    setStates(fits, 0, 30000);
    setStates(fits, 1, 30000);
    Data loaded;
    EXPECT_EQ(loadError(loaded, fits), "");
    EXPECT_EQ(boost::get<FrictionJoint>(loaded.joints[1].def).states.size(), 30000u);
    Bytes tooMany = fits;
    setStates(tooMany, 2, 30000);
    EXPECT_NE(loadError(loaded, tooMany).find("empty joint states"), std::string::npos);
    setStates(tooMany, 0, uint64_t(1) << 60);
    EXPECT_NE(loadError(loaded, tooMany).find("empty joint states"), std::string::npos);
}

TEST(LevelFile, TruncationInsideEachMemberKeepsWhatWasRead) {
    Data const level = filledLevel(11);
    Bytes const archive = savePristineLevelArchive(level);
    auto const full = memberBytes(level);
    auto const defaults = memberBytes(Data{});
    size_t start = 0;
    for (int k = 0; k < io::memberCount; ++k) {
        size_t const size = full[k].size();
        for (size_t cut : {start + 1, start + size / 2, start + size - 1}) {
            Bytes const truncated(archive.begin(), archive.begin() + static_cast<long>(cut));
            Data loaded;
            EXPECT_NE(loadError(loaded, truncated), "") << "member " << k << " cut at " << cut;
            auto const got = memberBytes(loaded);
            for (int j = 0; j < k; ++j) {
                EXPECT_EQ(got[j], full[j]) << "member " << j << " before the cut in " << k;
            }
            EXPECT_NE(got[k], full[k]) << "member " << k;
            for (int j = k + 1; j < io::memberCount; ++j) {
                EXPECT_EQ(got[j], defaults[j]) << "member " << j << " after the cut in " << k;
            }

            Data viaFile;
            Bytes const file = envelope(truncated, static_cast<uint32_t>(truncated.size()));
            loadPristineLevel(viaFile, file.data(), file.size());
            EXPECT_TRUE(viaFile == loaded) << "member " << k;
        }
        start += size;
    }
    EXPECT_EQ(start, archive.size());
}

TEST(LevelFile, TruncatedListsAndRecordsArePartlyFilled) {
    Data const level = filledLevel(3);
    Bytes const archive = savePristineLevelArchive(level);
    auto const full = memberBytes(level);
    auto offsetOf = [&](int member) { return memberOffset(level, member); };
    auto cutAt = [&](size_t cut) {
        Data loaded;
        Bytes const truncated(archive.begin(), archive.begin() + static_cast<long>(cut));
        loadError(loaded, truncated);
        return loaded;
    };

    // A list of records that vary in size: elements read so far, the one being read partly
    // filled, and default elements up to the stored count.
    size_t const bodiesAt = offsetOf(13);
    Data loaded = cutAt(bodiesAt + full[13].size() - 1);
    ASSERT_EQ(loaded.dynamicBodies.size(), level.dynamicBodies.size());
    EXPECT_EQ(loaded.dynamicBodies[0], level.dynamicBodies[0]);
    EXPECT_EQ(loaded.dynamicBodies[1].bodyDef, level.dynamicBodies[1].bodyDef);
    EXPECT_NE(loaded.dynamicBodies[1], level.dynamicBodies[1]);
    // Cut inside the second body's second shape.
    loaded = cutAt(bodiesAt + 8 + io::storedSize(level.dynamicBodies[0]) + 49 + 8 + (8 + 2) + 8 + 1);
    ASSERT_EQ(loaded.dynamicBodies.size(), level.dynamicBodies.size());
    EXPECT_EQ(loaded.dynamicBodies[0], level.dynamicBodies[0]);
    DynamicBody const& partial = loaded.dynamicBodies[1];
    EXPECT_EQ(partial.bodyDef, level.dynamicBodies[1].bodyDef);
    ASSERT_EQ(partial.shapes.size(), level.dynamicBodies[1].shapes.size());
    EXPECT_EQ(partial.shapes[0], level.dynamicBodies[1].shapes[0]);
    EXPECT_TRUE(partial.shapes[1].empty());
    EXPECT_TRUE(partial.drawables.empty());
    // Cut before the second body's first byte with too few bytes left for it: the count is
    // rejected and the list stays empty.
    loaded = cutAt(bodiesAt + 8 + io::storedSize(level.dynamicBodies[0]));
    EXPECT_TRUE(loaded.dynamicBodies.empty());

    // A list of fixed-size records whose count no longer fits stays as it was.
    loaded = cutAt(offsetOf(1) + full[1].size() - 1);
    EXPECT_EQ(loaded.signalShapes, level.signalShapes);
    EXPECT_TRUE(loaded.checkPoints.empty());

    // A direct record: fields before the cut read, the rest default.
    size_t const metaAt = offsetOf(19);
    loaded = cutAt(metaAt + 1 + 4 + 4 * 5 + 1 + 8);
    EXPECT_EQ(loaded.metaData.mode, level.metaData.mode);
    EXPECT_EQ(loaded.metaData.goldParticleSize, level.metaData.goldParticleSize);
    EXPECT_EQ(loaded.metaData.tutorial, level.metaData.tutorial);
    EXPECT_TRUE(loaded.metaData.introSoundtrack.empty());
    EXPECT_EQ(loaded.metaData.introEndTime, 0.0f);
    EXPECT_EQ(loaded.animatedTextures, level.animatedTextures);
    EXPECT_TRUE(loaded.jointSprites.empty());

    // An animated body the file doesn't reach keeps its defaults.
    loaded = cutAt(offsetOf(14) + 8 + io::storedSize(level.animatedBodies[0]));
    ASSERT_EQ(loaded.animatedBodies.size(), level.animatedBodies.size());
    EXPECT_EQ(loaded.animatedBodies[1].body, 0xFFFFFFFFu);
    EXPECT_TRUE(loaded.animatedBodies[1].path.keyframes.empty());
    EXPECT_EQ(loaded.animatedBodies[1].path.wrapMode, WrapMode::PingPong);

    // Inside the mesh set's last list: the lists before it read, the nodes rejected whole.
    loaded = cutAt(offsetOf(27) + full[27].size() - 1);
    EXPECT_EQ(loaded.meshSet.indexBuffers, level.meshSet.indexBuffers);
    EXPECT_TRUE(loaded.meshSet.nodes.empty());
    EXPECT_EQ(loaded.bodyObservers, level.bodyObservers);
    EXPECT_TRUE(loaded.fluids.empty());
}

TEST(LevelFile, EnvelopeFaultsLeaveTheLevelAsItWas) {
    Data const level = filledLevel(5);
    Bytes const archive = savePristineLevelArchive(level);
    Bytes const file = savePristineLevel(level);
    Data const previous = filledLevel(6);

    auto load = [](Bytes const& bytes, Data start) {
        loadPristineLevel(start, bytes.data(), bytes.size());
        return start;
    };
    EXPECT_TRUE(load(file, Data{}) == level);
    // Too short for a size, or a size above the limit: nothing is touched.
    EXPECT_TRUE(load(Bytes(file.begin(), file.begin() + 3), previous) == previous);
    EXPECT_TRUE(load(Bytes{}, previous) == previous);
    for (uint32_t declared : {0xF00001u, 0x80000000u, 0xFFFFFFFFu}) {
        Bytes big = file;
        std::memcpy(big.data(), &declared, 4);
        EXPECT_TRUE(load(big, previous) == previous) << declared;
    }
    // A size of 0 and a stream that doesn't inflate read nothing.
    Bytes zero = file;
    std::memset(zero.data(), 0, 4);
    EXPECT_TRUE(load(zero, Data{}) == Data{});
    Bytes garbage = file;
    for (size_t i = 4; i < garbage.size(); ++i) {
        garbage[i] = static_cast<uint8_t>(i * 131 + 7);
    }
    EXPECT_TRUE(load(garbage, Data{}) == Data{});
    EXPECT_TRUE(load(Bytes{4, 0, 0, 0}, Data{}) == Data{});
    // A size that is too large reads what inflated; one too small stops the level there.
    EXPECT_TRUE(load(envelope(archive, static_cast<uint32_t>(archive.size() + 1000)), Data{}) == level);
    Data const shortRead = load(envelope(archive, static_cast<uint32_t>(archive.size() / 2)), Data{});
    Data expected;
    try {
        loadPristineLevelArchive(expected, archive.data(), archive.size() / 2);
    } catch (cereal::Exception const&) {
    }
    EXPECT_TRUE(shortRead == expected);
    EXPECT_FALSE(shortRead == level);
    // A cut zlib stream reads what it produced.
    Data const cutStream = load(Bytes(file.begin(), file.begin() + static_cast<long>(file.size() / 2)), Data{});
    EXPECT_EQ(cutStream.signalShapes, level.signalShapes);
    // A wrong check value: the stream still inflates whole and the level reads it all, but the
    // load says the file is damaged.
    Bytes badCheck = file;
    badCheck.back() ^= 0x5a;
    Data checked;
    EXPECT_FALSE(loadPristineLevel(checked, badCheck.data(), badCheck.size()));
    EXPECT_TRUE(checked == level);
    Data whole;
    EXPECT_TRUE(loadPristineLevel(whole, file.data(), file.size()));
    // Bytes after the last member are ignored.
    Bytes longer = archive;
    longer.resize(archive.size() + 64, 0xee);
    EXPECT_TRUE(load(envelope(longer, static_cast<uint32_t>(longer.size())), Data{}) == level);
}

TEST(LevelFile, LoadingIntoAFilledLevelReusesItsLists) {
    Data small;
    small.joints.resize(2);
    small.joints[0].def = RopeJoint{};
    small.coins.resize(1);
    small.coins[0].achievement = 4;
    Bytes const file = savePristineLevel(small);
    Data loaded = filledLevel(9);
    ASSERT_GT(loaded.joints.size(), 2u);
    loadPristineLevel(loaded, file.data(), file.size());
    EXPECT_TRUE(loaded == small);
}

TEST(LevelFile, IndicesOutOfRangeLoadAsStored) {
    // Consumers check indices; the reader keeps them as they are.
    Data const level = level_testing::outOfRangeIndexLevel();
    Bytes const file = savePristineLevel(level);
    Data loaded;
    loadPristineLevel(loaded, file.data(), file.size());
    EXPECT_TRUE(loaded == level);
    EXPECT_EQ(boost::get<GearJoint>(loaded.joints[1].def).def.joint1, 12);
    EXPECT_EQ(loaded.meshSet.arrayMeshes[0].vertexBuffer, 1000u);
}

}  // namespace
