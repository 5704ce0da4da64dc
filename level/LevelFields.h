#pragma once
// The stored form of every level record, written once for reading, writing and measuring.
// An Io type provides:
//   static constexpr bool loading;
//   void raw(void* bytes, size_t count);            // reads or writes exactly count bytes
//   void count(uint64_t& n);                         // a list count or string length (u64)
//   void which(int32_t& index);                      // a variant's alternative (i32)
//   void checkCount(uint64_t count, size_t minSize); // loading: throws when the elements can't fit
//   void checkEmptyStates(uint64_t count);           // loading: bounds elements that take no bytes
// Every value is little-endian with nothing between values; counts and string lengths are u64.
#include <boost/optional.hpp>
#include <boost/variant.hpp>
#include <cereal/details/helpers.hpp>
#include <glm/gtc/type_ptr.hpp>
#include <glm/mat4x4.hpp>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "level/PristineLevel.h"

namespace PristineLevel::io {

template <class T>
struct IsStdVector : std::false_type {};
template <class T, class A>
struct IsStdVector<std::vector<T, A>> : std::true_type {};

template <class T>
struct IsStdArray : std::false_type {};
template <class T, size_t N>
struct IsStdArray<std::array<T, N>> : std::true_type {};

template <class T>
struct IsOptional : std::false_type {};
template <class T>
struct IsOptional<boost::optional<T>> : std::true_type {};

template <class T>
struct IsGlm : std::false_type {};
template <glm::length_t L, class T, glm::qualifier Q>
struct IsGlm<glm::vec<L, T, Q>> : std::true_type {};
template <glm::length_t C, glm::length_t R, class T, glm::qualifier Q>
struct IsGlm<glm::mat<C, R, T, Q>> : std::true_type {};

// Values stored as their own bytes, so a list of them is one block.
template <class T>
inline constexpr bool isBlock = (std::is_arithmetic_v<T> && !std::is_same_v<T, bool>) || IsGlm<T>::value;

// Counts the bytes a record takes, without touching any stream.
class StoredSize {
public:
    static constexpr bool loading = false;
    void raw(void const*, size_t size) { bytes += size; }
    void count(uint64_t&) { bytes += sizeof(uint64_t); }
    void which(int32_t&) { bytes += sizeof(int32_t); }
    void checkCount(uint64_t, size_t) {}
    void checkEmptyStates(uint64_t) {}
    size_t bytes = 0;
    bool smallest = false;  // measure a variant by its smallest alternative
};

// The bytes that the smallest stored element of T takes: every list empty, every optional
// absent, the smallest alternative of a variant.
template <class T>
size_t minStoredSize();

template <class Io, class T>
void field(Io& io, T& value);

template <class Io, class T>
void raw(Io& io, T& value) {
    io.raw(static_cast<void*>(std::addressof(value)), sizeof(T));
}

template <class Io>
void field(Io& io, bool& value) {
    uint8_t byte = value ? 1 : 0;
    io.raw(&byte, 1);
    if constexpr (Io::loading) {
        value = byte != 0;
    }
}

template <class Io>
void field(Io& io, std::string& text) {
    uint64_t length = text.size();
    io.count(length);
    if constexpr (requires { io.text(text, size_t{}); }) {
        io.text(text, static_cast<size_t>(length));
        return;
    } else if constexpr (Io::loading) {
        io.checkCount(length, 1);
        text.resize(static_cast<size_t>(length));
    }
    if (length != 0) {
        io.raw(text.data(), text.size());
    }
}

template <class Io, class T>
void list(Io& io, std::vector<T>& items) {
    uint64_t count = items.size();
    io.count(count);
    if constexpr (std::is_same_v<T, EmptyJointState>) {
        // Only the count is stored: the states stay zero and never fire.
        if constexpr (Io::loading) {
            io.checkEmptyStates(count);
            items.assign(static_cast<size_t>(count), EmptyJointState{});
        }
    } else if constexpr (isBlock<T> && requires { io.bytes(items, size_t{}); }) {
        io.bytes(items, static_cast<size_t>(count));
    } else if constexpr (isBlock<T>) {
        if constexpr (Io::loading) {
            io.checkCount(count, sizeof(T));
            items.resize(static_cast<size_t>(count));
        }
        if (count != 0) {
            io.raw(static_cast<void*>(items.data()), items.size() * sizeof(T));
        }
    } else {
        if constexpr (Io::loading) {
            io.checkCount(count, minStoredSize<T>());
            items.resize(static_cast<size_t>(count));
        }
        for (T& item : items) {
            field(io, item);
        }
    }
}

template <class Io, class T>
void optional(Io& io, boost::optional<T>& value) {
    uint8_t present = value ? 1 : 0;
    raw(io, present);
    if constexpr (Io::loading) {
        if (present == 0) {
            value = boost::none;
            return;
        }
        if (!value) {
            value.emplace();
        }
    } else if (!value) {
        return;
    }
    field(io, *value);
}

template <class Io, class... Ts, size_t... I>
void loadAlternative(Io& io, boost::variant<Ts...>& value, int32_t which, std::index_sequence<I...>) {
    // Load into a fresh alternative and assign it only once it is complete, so a failed read
    // leaves the entry as it was.
    auto loadOne = [&]<size_t K>(std::integral_constant<size_t, K>) {
        std::tuple_element_t<K, std::tuple<Ts...>> alternative;
        field(io, alternative);
        value = std::move(alternative);
    };
    ((which == static_cast<int32_t>(I) ? loadOne(std::integral_constant<size_t, I>{}) : void()), ...);
}

template <class Io, class... Ts>
void variant(Io& io, boost::variant<Ts...>& value) {
    constexpr int32_t alternatives = static_cast<int32_t>(sizeof...(Ts));
    int32_t which = static_cast<int32_t>(value.which());
    io.which(which);
    if constexpr (std::is_same_v<Io, StoredSize>) {
        if (io.smallest) {
            io.bytes += std::min({minStoredSize<Ts>()...});
            return;
        }
    }
    if constexpr (Io::loading) {
        if (which >= alternatives) {
            throw cereal::Exception("Invalid 'which' selector when deserializing boost::variant");
        }
        if (which < 0) {
            throw cereal::Exception("Error traversing variant during load");
        }
        loadAlternative(io, value, which, std::index_sequence_for<Ts...>{});
    } else {
        boost::apply_visitor([&](auto& alternative) { field(io, alternative); }, value);
    }
}

// Record layouts. Fields go in the order the file stores them.

template <class Io>
void fields(Io& io, TextureDescriptor& t) {
    field(io, t.path);
    raw(io, t.options.minFilter);
    raw(io, t.options.magFilter);
    raw(io, t.options.wrapS);
    raw(io, t.options.wrapT);
    raw(io, t.flags);
}

template <class Io>
void fields(Io& io, SoundDescriptor& s) {
    field(io, s.path);
    field(io, s.params.position);
    raw(io, s.params.flags);
    raw(io, s.params.gain);
    raw(io, s.params.category);
    raw(io, s.params.referenceFactor);
    raw(io, s.params.maxFactor);
}

template <class Io>
void fields(Io& io, Keyframe& k) {
    raw(io, k.time);
    field(io, k.point);
    field(io, k.handleIn);
    field(io, k.handleOut);
    raw(io, k.value);
}

template <class Io>
void fields(Io& io, Keyframes& k) {
    list(io, k.keyframes);
    raw(io, k.wrapMode);
}

template <class Io>
void fields(Io& io, BodyDef& b) {
    raw(io, b.type);
    field(io, b.position);
    raw(io, b.angle);
    field(io, b.linearVelocity);
    raw(io, b.angularVelocity);
    raw(io, b.linearDamping);
    raw(io, b.angularDamping);
    field(io, b.allowSleep);
    field(io, b.awake);
    field(io, b.fixedRotation);
    field(io, b.bullet);
    field(io, b.active);
    raw(io, b.userData);
    raw(io, b.gravityScale);
}

template <class Io>
void fields(Io& io, CheckPoint& c) {
    field(io, c.respawnPosition);
    raw(io, c.index);
    raw(io, c.reachSignal);
    field(io, c.respawnSignals);
}

template <class Io>
void fields(Io& io, SoundHinge& h) {
    raw(io, h.lowerAngle);
    raw(io, h.upperAngle);
    raw(io, h.referenceAngle);
    raw(io, h.angularDamping);
    raw(io, h.stiffness);
    raw(io, h.body);
    raw(io, h.secondBody);
    field(io, h.lowSound);
    raw(io, h.lowThreshold);
    field(io, h.highSound);
    raw(io, h.highThreshold);
}

template <class Io>
void fields(Io& io, PointRecord& p) {
    field(io, p.point);
    raw(io, p.value);
}

template <class Io>
void fields(Io& io, JumpPad& j) {
    list(io, j.shapes);
    field(io, j.force);
    raw(io, j.forceDuration);
    raw(io, j.blockDuration);
    raw(io, j.frictionOffDuration);
    field(io, j.launchImpulse);
    raw(io, j.body);
    raw(io, j.triggerSignal);
    field(io, j.blockJump);
    field(io, j.blockDive);
}

template <class Io>
void fields(Io& io, MotorHinge& m) {
    raw(io, m.body);
    raw(io, m.secondBody);
    raw(io, m.motorSpeed);
    field(io, m.sound);
}

template <class Io>
void fields(Io& io, CameraTrack& t) {
    list(io, t.points);
    raw(io, t.from);
    raw(io, t.to);
    raw(io, t.startOffset);
    raw(io, t.rate);
    raw(io, t.wrapMode);
    raw(io, t.repeatCount);
    field(io, t.values);
}

template <class Io>
void fields(Io& io, LevelInfo& l) {
    raw(io, l.nearPlane);
    raw(io, l.farPlane);
    raw(io, l.viewDistance);
    optional(io, l.cameraTrack);
    list(io, l.cameraDrawables);
}

template <class Io>
void fields(Io& io, Coin& c) {
    raw(io, c.frameCount);
    raw(io, c.startFrame);
    raw(io, c.rows);
    raw(io, c.columns);
    field(io, c.collectSound);
    raw(io, c.coinDrawable);
    raw(io, c.ringDrawable);
    raw(io, c.glintDrawable);
    field(io, c.frameSize);
    field(io, c.center);
    raw(io, c.triggerSignal);
    raw(io, c.enableSignal);
    raw(io, c.disableSignal);
    raw(io, c.frameTime);
    raw(io, c.achievement);
}

template <class Io>
void fields(Io& io, Rack& r) {
    raw(io, r.body);
    raw(io, r.gear);
    field(io, r.axis);
}

template <class Io>
void fields(Io& io, Gear& g) {
    raw(io, g.radius);
    raw(io, g.body);
}

template <class Io>
void fields(Io& io, RackAndPinion& r) {
    raw(io, r.startSignal);
    raw(io, r.returnSignal);
    raw(io, r.lockSignal);
    raw(io, r.lowerAngle);
    raw(io, r.upperAngle);
    raw(io, r.speed);
    list(io, r.racks);
    list(io, r.gears);
    field(io, r.moveSound);
    field(io, r.stopSound);
}

template <class Io>
void fields(Io& io, JointSwitch& s) {
    raw(io, s.lowerAngle);
    raw(io, s.upperAngle);
    raw(io, s.threshold);
    raw(io, s.angularDamping);
    field(io, s.enableMotor);
    raw(io, s.motorSpeed);
    raw(io, s.maxMotorTorque);
    raw(io, s.gravityScale);
    raw(io, s.onSignal);
    raw(io, s.offSignal);
    raw(io, s.body);
    raw(io, s.secondBody);
    field(io, s.onSound);
    field(io, s.offSound);
    field(io, s.needsJump);
}

template <class Io>
void fields(Io& io, ParticleEmitter& e) {
    field(io, e.boxMin);
    field(io, e.boxMax);
    raw(io, e.rows);
    raw(io, e.columns);
    raw(io, e.frameCount);
    field(io, e.frameSize);
    raw(io, e.particleCount);
    field(io, e.spawnMin);
    field(io, e.spawnMax);
    field(io, e.spawnIntervals);
    field(io, e.velocityMin);
    field(io, e.velocityMax);
    raw(io, e.angleMin);
    raw(io, e.angleMax);
    raw(io, e.angularVelocityMin);
    raw(io, e.angularVelocityMax);
    raw(io, e.framesPerSecond);
    raw(io, e.scale);
    field(io, e.color);
    field(io, e.sprite);
    raw(io, e.drawable);
}

template <class Io>
void fields(Io& io, CameraZone& z) {
    list(io, z.shapes);
    field(io, z.offset);
    raw(io, z.duration);
    field(io, z.follow);
    field(io, z.smooth);
}

template <class Io>
void fields(Io& io, DynamicBody& b) {
    field(io, b.bodyDef);
    list(io, b.shapes);
    list(io, b.drawables);
    raw(io, b.resetSignal);
    raw(io, b.enableSignal);
    raw(io, b.disableSignal);
    list(io, b.animatedTextures);
    list(io, b.animatedMeshes);
}

template <class Io>
void fields(Io& io, AnimatedBody& a) {
    raw(io, a.body);
    field(io, a.path);
    raw(io, a.playSignal);
    raw(io, a.stopSignal);
    raw(io, a.reverseSignal);
    raw(io, a.rewindSignal);
}

// Joints. Two orders of the base fields occur.

template <class Io>
void baseOrderA(Io& io, JointDefBase& j) {
    raw(io, j.type);
    field(io, j.collideConnected);
    raw(io, j.bodyA);
    raw(io, j.bodyB);
}

template <class Io>
void baseOrderB(Io& io, JointDefBase& j) {
    raw(io, j.type);
    raw(io, j.bodyA);
    raw(io, j.bodyB);
    field(io, j.collideConnected);
}

template <class Io>
void fields(Io& io, DistanceJointDef& d) {
    baseOrderA(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    raw(io, d.length);
    raw(io, d.frequencyHz);
    raw(io, d.dampingRatio);
}

template <class Io>
void fields(Io& io, FrictionJointDef& d) {
    baseOrderB(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    raw(io, d.maxForce);
    raw(io, d.maxTorque);
}

template <class Io>
void fields(Io& io, GearJointDef& d) {
    baseOrderB(io, d);
    raw(io, d.joint1);
    raw(io, d.joint2);
    raw(io, d.ratio);
}

template <class Io>
void fields(Io& io, MotorJointDef& d) {
    baseOrderB(io, d);
    field(io, d.linearOffset);
    raw(io, d.angularOffset);
    raw(io, d.maxForce);
    raw(io, d.maxTorque);
    raw(io, d.correctionFactor);
}

template <class Io>
void fields(Io& io, PrismaticJointDef& d) {
    baseOrderB(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    field(io, d.localAxisA);
    raw(io, d.referenceAngle);
    field(io, d.enableLimit);
    raw(io, d.lowerTranslation);
    raw(io, d.upperTranslation);
    field(io, d.enableMotor);
    raw(io, d.maxMotorForce);
    raw(io, d.motorSpeed);
}

template <class Io>
void fields(Io& io, PulleyJointDef& d) {
    baseOrderB(io, d);
    field(io, d.groundAnchorA);
    field(io, d.groundAnchorB);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    raw(io, d.lengthA);
    raw(io, d.lengthB);
    raw(io, d.ratio);
}

template <class Io>
void fields(Io& io, RevoluteJointDef& d) {
    baseOrderA(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    raw(io, d.referenceAngle);
    field(io, d.enableLimit);
    raw(io, d.lowerAngle);
    raw(io, d.upperAngle);
    field(io, d.enableMotor);
    raw(io, d.motorSpeed);
    raw(io, d.maxMotorTorque);
}

template <class Io>
void fields(Io& io, RopeJointDef& d) {
    baseOrderA(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    raw(io, d.maxLength);
}

template <class Io>
void fields(Io& io, WeldJointDef& d) {
    baseOrderB(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    raw(io, d.referenceAngle);
    raw(io, d.frequencyHz);
    raw(io, d.dampingRatio);
}

template <class Io>
void fields(Io& io, WheelJointDef& d) {
    baseOrderB(io, d);
    field(io, d.localAnchorA);
    field(io, d.localAnchorB);
    field(io, d.localAxisA);
    field(io, d.enableMotor);
    raw(io, d.maxMotorTorque);
    raw(io, d.motorSpeed);
    raw(io, d.frequencyHz);
    raw(io, d.dampingRatio);
}

template <class Io>
void fields(Io& io, InterpolatedFloat& f) {
    raw(io, f.target);
    raw(io, f.speed);
}

template <class Io>
void fields(Io& io, RevoluteJointState& s) {
    raw(io, s.signal);
    raw(io, s.interrupt);
    optional(io, s.enableLimit);
    optional(io, s.enableMotor);
    optional(io, s.lowerAngle);
    optional(io, s.upperAngle);
    optional(io, s.motorSpeed);
    optional(io, s.maxMotorTorque);
}

template <class Io>
void fields(Io& io, RopeJointState& s) {
    raw(io, s.signal);
    raw(io, s.interrupt);
    optional(io, s.maxLength);
}

template <class Io, class Def, class State>
void fields(Io& io, JointDef<Def, State>& j) {
    field(io, j.def);
    list(io, j.states);
}

template <class Io>
void fields(Io& io, JointRecord& r) {
    variant(io, r.def);
    raw(io, r.resetSignal);
}

// Level objects.

template <class Io>
void fields(Io& io, DelayedSignal& d) {
    raw(io, d.signal);
    raw(io, d.target);
    raw(io, d.delay);
}

template <class Io>
void fields(Io& io, PathNode& n) {
    field(io, n.point);
    field(io, n.inHandle);
    field(io, n.outHandle);
    raw(io, n.distance);
}

template <class Io>
void fields(Io& io, AnimatedTexture& t) {
    raw(io, t.rows);
    raw(io, t.columns);
    raw(io, t.frameCount);
    raw(io, t.framesPerSecond);
    raw(io, t.startFrame);
    raw(io, t.drawable);
    raw(io, t.playSignal);
    raw(io, t.showSignal);
    raw(io, t.showSignal2);
    raw(io, t.hideSignal);
    raw(io, t.hideSignal2);
    raw(io, t.visible);
    raw(io, t.fadeInTime);
    raw(io, t.fadeOutTime);
}

template <class Io>
void fields(Io& io, JointSprite& s) {
    raw(io, s.drawable);
    raw(io, s.joint);
    field(io, s.scale);
    raw(io, s.vStart);
}

template <class Io>
void fields(Io& io, JointSpritePair& s) {
    raw(io, s.drawableA);
    raw(io, s.drawableB);
    raw(io, s.joint);
    field(io, s.scale);
    raw(io, s.vStart);
}

template <class Io>
void fields(Io& io, CameraShaker& s) {
    field(io, s.position);
    raw(io, s.secondaryFactor);
    raw(io, s.amplitude);
    raw(io, s.innerRadius);
    raw(io, s.falloff);
    raw(io, s.duration);
    raw(io, s.fadeInTime);
    raw(io, s.fadeOutTime);
    raw(io, s.startSignal);
    raw(io, s.stopSignal);
}

template <class Io>
void fields(Io& io, TriggerableSound& s) {
    raw(io, s.playSignal);
    raw(io, s.stopSignal);
    field(io, s.sound);
    raw(io, s.body);
    raw(io, s.enableSignal);
    raw(io, s.disableSignal);
    raw(io, s.fadeInTime);
    raw(io, s.fadeOutTime);
}

template <class Io>
void fields(Io& io, MusicNode& n) {
    field(io, n.point);
    raw(io, n.track);
    raw(io, n.volume);
    raw(io, n.fadeInRate);
    raw(io, n.fadeOutRate);
}

template <class Io>
void fields(Io& io, SoundTable& t) {
    list(io, t.musicTracks);
    list(io, t.sounds);
    list(io, t.musicPath);
}

template <class Io>
void fields(Io& io, FixtureSignal& f) {
    raw(io, f.beginSignal);
    raw(io, f.endSignal);
    raw(io, f.categoryMask);
    raw(io, f.group);
    raw(io, f.next);
    raw(io, f.perBody);
}

template <class Io>
void fields(Io& io, BodyObserver& o) {
    raw(io, o.body);
    raw(io, o.impulseThreshold);
    raw(io, o.impulseSignal);
    raw(io, o.speedThreshold);
    raw(io, o.speedUpSignal);
    raw(io, o.speedDownSignal);
    raw(io, o.useDirection);
    field(io, o.direction);
    raw(io, o.spinThreshold);
    raw(io, o.spinSignal);
    raw(io, o.spinStopSignal);
    raw(io, o.spinNeedsContact);
    raw(io, o.slideThreshold);
    raw(io, o.slideSignal);
    raw(io, o.slideStopSignal);
    raw(io, o.enableSignal);
    raw(io, o.disableSignal);
}

template <class Io>
void fields(Io& io, Fluid& f) {
    list(io, f.shapes);
    raw(io, f.dragCoefficient);
    raw(io, f.liftCoefficient);
    raw(io, f.maxDrag);
    raw(io, f.maxLift);
    raw(io, f.buoyancy);
    field(io, f.flow);
    raw(io, f.silent);
    raw(io, f.enableSignal);
    raw(io, f.disableSignal);
}

template <class Io>
void fields(Io& io, ParticleLiquid& p) {
    list(io, p.shapes);
    raw(io, p.flags);
    raw(io, p.groupFlags);
    field(io, p.position);
    raw(io, p.angle);
    field(io, p.linearVelocity);
    raw(io, p.angularVelocity);
    raw(io, p.color.r);
    raw(io, p.color.g);
    raw(io, p.color.b);
    raw(io, p.color.a);
    raw(io, p.strength);
    raw(io, p.spawnSignal);
    raw(io, p.respawnSignal);
    raw(io, p.removeSignal);
}

template <class Io>
void fields(Io& io, AnimatedMesh& m) {
    raw(io, m.frames);
    list(io, m.opacityKeys);
    raw(io, m.frameStride);
    raw(io, m.drawable);
    raw(io, m.from);
    raw(io, m.to);
    raw(io, m.startOffset);
    raw(io, m.rate);
    raw(io, m.wrapMode);
    raw(io, m.repeatCount);
    raw(io, m.playSignal);
    raw(io, m.reverseSignal);
    raw(io, m.pauseSignal);
    raw(io, m.finishSignal);
    raw(io, m.rewindSignal);
    raw(io, m.hideWhenFinished);
    raw(io, m.interpolation);
}

template <class Io>
void fields(Io& io, SignalFilter& f) {
    raw(io, f.input);
    raw(io, f.output);
    raw(io, f.reset);
    raw(io, f.maxCount);
    raw(io, f.interval);
}

template <class Io>
void fields(Io& io, DrawableGroup& g) {
    list(io, g.drawables);
    field(io, g.pivot);
}

// Mesh set.

template <class Io>
void fields(Io& io, VertexAttribute& a) {
    raw(io, a.offset);
    raw(io, a.type);
    raw(io, a.count);
}

template <class Io>
void fields(Io& io, MeshCommon& m) {
    raw(io, m.baseOffset);
    field(io, m.position);
    field(io, m.uv);
    field(io, m.uv2);
    raw(io, m.vertexBuffer);
    raw(io, m.stride);
    raw(io, m.blend);
    field(io, m.color);
    optional(io, m.texture);
    optional(io, m.mask);
    optional(io, m.matrix);
    raw(io, m.shader);
}

template <class Io>
void fields(Io& io, ArrayMesh& m) {
    fields(io, static_cast<MeshCommon&>(m));
    raw(io, m.primitive);
    raw(io, m.firstVertex);
    raw(io, m.vertexCount);
}

template <class Io>
void fields(Io& io, IndexedMesh& m) {
    fields(io, static_cast<MeshCommon&>(m));
    raw(io, m.primitive);
    raw(io, m.indexType);
    raw(io, m.indexOffset);
    raw(io, m.indexCount);
    raw(io, m.indexBuffer);
}

template <class Io>
void fields(Io& io, BufferData& b) {
    list(io, b.bytes);
    uint8_t usage = static_cast<uint8_t>(b.usage);
    raw(io, usage);
    if constexpr (Io::loading) {
        b.usage = usage;
    }
}

template <class Io>
void fields(Io& io, MeshNode& n) {
    raw(io, n.kind);
    raw(io, n.index);
    field(io, n.box.min);
    field(io, n.box.max);
    raw(io, n.lowEnd);
}

template <class Io>
void fields(Io& io, MeshSet& m) {
    list(io, m.arrayMeshes);
    list(io, m.indexedMeshes);
    list(io, m.vertexBuffers);
    list(io, m.indexBuffers);
    list(io, m.nodes);
}

template <class Io>
void fields(Io& io, MetaData& m) {
    raw(io, m.mode);
    raw(io, m.particleMaxCount);
    raw(io, m.particleDensity);
    raw(io, m.particleGravityScale);
    raw(io, m.particleDamping);
    raw(io, m.particleRadius);
    raw(io, m.goldParticleSize);
    field(io, m.tutorial);
    field(io, m.introSoundtrack);
    raw(io, m.introEndTime);
    raw(io, m.introCueTime);
}

// Calls f on every member of the level in declaration (= file) order.
template <class Level, class F>
void forEachMember(Level& d, F&& f) {
    f(d.signalShapes);
    f(d.checkPoints);
    f(d.soundHinges);
    f(d.pointRecords);
    f(d.jumpPads);
    f(d.motorHinges);
    f(d.levelInfo);
    f(d.staticShapes);
    f(d.coins);
    f(d.racksAndPinions);
    f(d.jointSwitches);
    f(d.particleEmitters);
    f(d.cameraZones);
    f(d.dynamicBodies);
    f(d.animatedBodies);
    f(d.joints);
    f(d.delayedSignals);
    f(d.progressPath);
    f(d.animatedTextures);
    f(d.metaData);
    f(d.jointSprites);
    f(d.jointSpritePairs);
    f(d.cameraShakers);
    f(d.triggerableSounds);
    f(d.soundTable);
    f(d.fixtureSignals);
    f(d.bodyObservers);
    f(d.meshSet);
    f(d.fluids);
    f(d.particleLiquids);
    f(d.meshAnimationFrames);
    f(d.animatedMeshes);
    f(d.signalFilters);
    f(d.drawableGroups);
}

inline constexpr int memberCount = 34;

template <class Io>
void fields(Io& io, Data& d) {
    forEachMember(d, [&](auto& member) { field(io, member); });
}

template <class Io, class T>
void field(Io& io, T& value) {
    if constexpr (isBlock<T>) {
        raw(io, value);
    } else if constexpr (IsStdVector<T>::value) {
        list(io, value);
    } else if constexpr (IsStdArray<T>::value) {
        for (auto& element : value) {
            field(io, element);
        }
    } else if constexpr (IsOptional<T>::value) {
        optional(io, value);
    } else {
        fields(io, value);
    }
}

template <class T>
size_t minStoredSize() {
    static size_t const size = [] {
        StoredSize counter;
        counter.smallest = true;
        T element{};
        field(counter, element);
        return counter.bytes;
    }();
    return size;
}

// The bytes that `value` takes in the file.
template <class T>
size_t storedSize(T const& value) {
    StoredSize counter;
    field(counter, const_cast<T&>(value));
    return counter.bytes;
}

}  // namespace PristineLevel::io
