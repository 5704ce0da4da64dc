#include "world/AnimatedBody.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "physics/particles/PhysicsWorld.h"
#include "world/DynamicBody.h"

AnimatedBody::AnimatedBody(CulledVector<DynamicBody, DynamicBody*> const& bodies,
                           PristineLevel::AnimatedBody&& record, EventHandler* events, PhysicsWorld& physics)
    : keyframes_(std::move(record.path)), physics_(&physics), events_(events) {
    if (record.body >= bodies.size() || keyframes_.keyframes.empty()) {
        std::fprintf(stderr, "AnimatedBody: body %u of %zu with %zu keyframes; it does not move\n", record.body,
                     bodies.size(), keyframes_.keyframes.size());
        return;
    }
    body_ = bodies[record.body].getBody();
    subscribe(events, record.playSignal, record.stopSignal, record.reverseSignal, record.rewindSignal);
}

AnimatedBody::AnimatedBody(AnimatedBody&& other) noexcept
    : state_(other.state_),
      time_(other.time_),
      body_(other.body_),
      keyframes_(std::move(other.keyframes_)),
      physics_(other.physics_),
      events_(other.events_) {
    if (other.slots_.size() == 4) {
        uint32_t const ids[4] = {other.slots_[0].signal(), other.slots_[1].signal(), other.slots_[2].signal(),
                                 other.slots_[3].signal()};
        other.slots_.clear();
        subscribe(events_, ids[0], ids[1], ids[2], ids[3]);
    }
}

void AnimatedBody::subscribe(EventHandler* events, uint32_t play, uint32_t stop, uint32_t reverse, uint32_t rewind) {
    if (events == nullptr) {
        return;
    }
    slots_.reserve(4);
    slots_.emplace_back(events, play, [this] { state_ = Forward; });
    slots_.emplace_back(events, stop, [this] { state_ = Stopped; });
    slots_.emplace_back(events, reverse, [this] { state_ = Backward; });
    slots_.emplace_back(events, rewind, [this] {
        state_ = Stopped;
        time_ = 0.0f;
    });
}

void AnimatedBody::update(float dt) {
    if (body_ == nullptr) {
        return;
    }
    if (state_ == Forward) {
        time_ += dt;
    } else if (state_ == Backward) {
        time_ -= dt;
    }
    if (keyframes_.wrapMode == PristineLevel::WrapMode::Clamp) {
        float const end = keyframes_.keyframes.back().time * 1000.0f;
        time_ = std::clamp(time_, 0.0f, std::max(end, 0.0f));
    }
    auto const sample = keyframes_.evaluate(time_ / 1000.0f);
    // Box2D aborts on a position that is not a number.
    if (!sample || !std::isfinite(sample->point.x) || !std::isfinite(sample->point.y) ||
        !std::isfinite(sample->value) || std::fabs(sample->point.x) > 1.0e6f || std::fabs(sample->point.y) > 1.0e6f) {
        return;
    }
    physics_->SetTransform(body_, b2Vec2(sample->point.x, sample->point.y), sample->value);
}
