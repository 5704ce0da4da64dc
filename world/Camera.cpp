#include "world/Camera.h"

#include <box2d/b2_body.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_polygon_shape.h>

#include <glm/gtc/matrix_transform.hpp>

#include <cmath>
#include <cstdio>

#include "audio/Context.h"
// Only the HUD's inline fade is used here; the world does not link the game library.
#include "game/HUD.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "os/EventHandler.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "physics/particles/PhysicsWorld.h"
#include "world/Player.h"
#include "menus/SineRamp.h"
#include "world/WorldConstants.h"

namespace {

constexpr uint32_t endOfLevel = 20000000;
constexpr uint32_t sequenceStep1 = 20000015;
constexpr uint32_t sequenceStep2 = 20000023;
constexpr uint32_t sequenceStep3 = 20000024;

bool finite(glm::vec2 p) { return std::isfinite(p.x) && std::isfinite(p.y); }

glm::vec2 toGlm(b2Vec2 v) { return glm::vec2(v.x, v.y); }

AnimatedValue pathCursor(PristineLevel::LevelInfo const& info) {
    if (!info.cameraTrack) {
        return AnimatedValue(PristineLevel::WrapMode::Clamp, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f);
    }
    PristineLevel::CameraTrack const& t = *info.cameraTrack;
    return AnimatedValue::overRange(t.wrapMode, t.from, t.to, t.rate, t.repeatCount, t.startOffset);
}

b2Fixture* addBox(b2Body* body, glm::vec2 halfPixels, uint16_t category, uint16_t mask, bool sensor) {
    b2PolygonShape box;
    box.SetAsBox(halfPixels.x * worldScale, halfPixels.y * worldScale);
    b2FixtureDef def;
    def.shape = &box;
    def.density = 1.0f;
    def.isSensor = sensor;
    def.filter.categoryBits = category;
    def.filter.maskBits = mask;
    return body->CreateFixture(&def);
}

}  // namespace

Camera::Camera(PristineLevel::LevelInfo const& info, PhysicsWorld& physics, Player::Player* player,
               EventHandler* events, PristineLevel::MeshSet const& meshSet, DrawList* drawList)
    : physics_(&physics),
      player_(player),
      events_(events),
      cursor_(pathCursor(info)),
      drawables_(Drawable::createDrawables(meshSet, drawList, info.cameraDrawables)) {
    // Headless there is no GL view to fix the screen size: the 1280 x 720 reference.
    width_ = virtualWidth() > 0.0f ? virtualWidth() : 1280.0f;
    height_ = virtualHeight() > 0.0f ? virtualHeight() : 720.0f;
    float nearPlane = info.nearPlane;
    float farPlane = info.farPlane;
    float distance = info.viewDistance;
    if (!(nearPlane > 0.0f && farPlane > nearPlane && distance > 0.0f && std::isfinite(farPlane) &&
          std::isfinite(distance))) {
        std::fprintf(stderr, "Camera: unusable planes (%g, %g, %g); using (100, 10000, 1000)\n", double(nearPlane),
                     double(farPlane), double(distance));
        nearPlane = 100.0f;
        farPlane = 10000.0f;
        distance = 1000.0f;
    }
    float const hh = height_ / 2.0f * (nearPlane / distance);
    float const hw = hh * width_ / height_;
    projection_ = glm::frustum(-hw, hw, -hh, hh, nearPlane, farPlane) *
                  glm::translate(glm::mat4(1.0f), glm::vec3(0.0f, 0.0f, -distance));

    glm::vec2 const at = player->getPosition();
    b2BodyDef def;
    def.type = b2_dynamicBody;
    def.position.Set(at.x, at.y);
    def.fixedRotation = true;
    def.gravityScale = 0.0f;
    body_ = physics.CreateBody(def);
    addBox(body_, glm::vec2(width_ / 2.0f, height_ / 2.0f), bodyCategory, viewBlockerCategory, false);
    addBox(body_, glm::vec2(640.0f * 4.0f, 480.0f * 4.0f), activationCategory, activationMask, true);

    if (info.cameraTrack) {
        for (glm::vec3 const& p : info.cameraTrack->points) {
            if (std::isfinite(p.x) && std::isfinite(p.y)) {
                path_.push_back(p);
            } else {
                std::fprintf(stderr, "Camera: a path point that is not a number dropped\n");
            }
        }
    }
    lastFinite_ = at;
    buildView(at);
}

glm::vec2 Camera::getPosition() const { return toGlm(body_->GetPosition()); }

glm::vec2 Camera::getScreenCenter() const { return glm::vec2(width_ / 2.0f, height_ / 2.0f) * worldScale; }

float Camera::uniform(float a, float b) { return a + (b - a) * float(random_() - 1) / 2147483646.0f; }

void Camera::shake(float min, float max) {
    shakeMin_ = std::max(shakeMin_, min);
    shakeMax_ = std::max(shakeMax_, max);
}

void Camera::setPosition(glm::vec2 const& position) {
    if (body_->GetType() != b2_staticBody) {
        body_->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
    }
    physics_->SetTransform(body_, b2Vec2(position.x, position.y), 0.0f);
}

void Camera::panTo(glm::vec2 const& point, bool absolute, bool smooth, float durationMs) {
    if (locked_) {
        return;
    }
    if (absolute_ && !absolute && !hold_ && sequenceState_ == 0 && panTarget_ != glm::vec2(0.0f)) {
        panStart_ = getPosition() - panStart_;
        lookAhead_.x = 0.0f;
        panElapsed_ = 0.0f;
        panTarget_ = glm::vec2(0.0f);
        absolute_ = false;
        lookAheadFrozen_ = false;
    }
    if (panTarget_ == point) {
        return;
    }
    panTarget_ = point;
    if (smooth) {
        panStart_ = glm::vec2(lookAhead_.x + panOffset_.x, panOffset_.y);
        lookAhead_.x = 0.0f;
    } else {
        panStart_ = panOffset_;
    }
    lookAheadFrozen_ = smooth;
    panDuration_ = durationMs;
    panElapsed_ = 0.0f;
    absolute_ = absolute;
    if (absolute) {
        panStart_ = getPosition();
    }
}

void Camera::releasePan() {
    if (hold_ || sequenceState_ != 0 || panTarget_ == glm::vec2(0.0f)) {
        return;
    }
    panStart_ = absolute_ ? getPosition() - panStart_ : glm::vec2(lookAhead_.x + panOffset_.x, panOffset_.y);
    lookAhead_.x = 0.0f;
    panElapsed_ = 0.0f;
    panTarget_ = glm::vec2(0.0f);
    absolute_ = false;
    lookAheadFrozen_ = false;
}

void Camera::stepSequence(Graphics::Context* graphics, HUD* hud, float dt) {
    sequenceTime_ += dt;
    switch (sequenceState_) {
    case 1:
        player_->ignoreCameraZones();
        // The controls leave the closing shot.
        if (hud != nullptr) hud->fadeOut();
        panTo(glm::vec2(299.59f, -194.0f), true, true, 8500.0f);
        sequenceState_ = 2;
        break;
    case 2:
        if (sequenceTime_ >= 13000.0f) {
            sequenceTime_ = 0.0f;
            panTo(glm::vec2(299.59f, -215.0f), true, true, 8000.0f);
            events_->trigger(sequenceStep1);
            sequenceState_ = 3;
        }
        break;
    case 3:
        if (sequenceTime_ >= 9500.0f) {
            sequenceTime_ = 0.0f;
            events_->trigger(sequenceStep2);
            sequenceState_ = 4;
        }
        break;
    case 4:
        if (sequenceTime_ >= 500.0f) {
            for (b2Fixture* f = body_->GetFixtureList(); f != nullptr; f = f->GetNext()) {
                f->SetSensor(true);
            }
            panTo(glm::vec2(25029.68f, -22170.19f) * worldScale, true, true, 500.0f);
            sequenceTime_ = 0.0f;
            sequenceState_ = 5;
        }
        break;
    case 5:
        if (sequenceTime_ >= 600.0f) {
            sequenceTime_ = 0.0f;
            sequenceState_ = 6;
        }
        break;
    case 6:
        // Without a graphics context nothing is waiting to load.
        if ((graphics == nullptr || graphics->texturesLoaded()) && sequenceTime_ > 1000.0f) {
            events_->trigger(sequenceStep3);
            sequenceState_ = 7;
        }
        break;
    case 7:
        if (sequenceTime_ >= 16500.0f) {
            sequenceTime_ = 0.0f;
            events_->trigger(endOfLevel);
            sequenceState_ = 8;
        }
        break;
    default:
        break;
    }
}

void Camera::update(Graphics::Context* graphics, Audio::Context* audio, PostProcessingStep* postProcessing, HUD* hud,
                    float, float dt, bool runSequence) {
    if (!path_.empty()) {
        float const t = float(nowMs() - musicStartMs()) / 1000.0f;
        cursor_.setTime(t);
        float const v = cursor_.value();
        std::size_t const n = path_.size();
        // A cursor below the first point (or not a number) holds the first point.
        float const whole = v > 0.0f ? std::floor(v) : 0.0f;
        float const f = v > 0.0f ? v - whole : 0.0f;
        std::size_t const i = whole < float(n) ? std::size_t(whole) : n - 1;
        glm::vec3 const a = path_[std::min(n - 1, i)];
        glm::vec3 const b = path_[std::min(n - 1, i + 1)];
        buildView(glm::vec2(a) * (1.0f - f) + glm::vec2(b) * f);
        return;
    }
    if (runSequence && sequenceState_ >= 1 && sequenceState_ <= 7) {
        stepSequence(graphics, hud, dt);
    }
    if (!lookAheadFrozen_) {
        float const vx = player_->getBody()->GetLinearVelocity().x;
        ControlSchemeInputState const& in = player_->getInput();
        float t = 0.0f;
        if (in.left == 0 && in.right == 0) {
            lookAheadTime_ = 0.0f;
        } else if (in.left != 0 && vx <= 0.0f) {
            if (lookAheadRight_) {
                lookAheadRight_ = false;
                lookAheadTime_ = 0.0f;
            }
            t = lookAheadTime_ = lookAheadTime_ + dt;
        } else if (in.right != 0 && vx > 0.0f) {
            if (!lookAheadRight_) {
                lookAheadRight_ = true;
                lookAheadTime_ = 0.0f;
            }
            t = lookAheadTime_ = lookAheadTime_ + dt;
        } else {
            t = lookAheadTime_;
        }
        float const ramp = sineRamp(std::clamp(t / 500.0f, 0.0f, 1.0f), 0.95f, 0.95f);
        float const s = vx > 0.0f ? 1.0f : -1.0f;
        lookAhead_.x = std::clamp(lookAhead_.x + s * dt * ramp * 0.005f, -2.0f, 2.0f);
    }
    if (panDuration_ != 0.0f && panElapsed_ < panDuration_) {
        panElapsed_ = std::clamp(panElapsed_ + dt, 0.0f, panDuration_);
        panOffset_ = panStart_ + (panElapsed_ / panDuration_) * (panTarget_ - panStart_);
    }
    glm::vec2 const aim = absolute_ ? panOffset_ : player_->getPosition() + lookAhead_ + panOffset_;
    glm::vec2 const position = getPosition();
    glm::vec2 const v = 10.0f * (aim - position);
    if (finite(v)) {
        body_->SetLinearVelocity(b2Vec2(v.x, v.y));
    }
    if (audio != nullptr) {
        audio->setListener(glm::vec3(position, worldViewWidth), glm::vec3(0.1f * v, 0.0f));
    }

    glm::vec2 offset(0.0f);
    if (!shakeSkip_) {
        float const dx = uniform(directionMin_, directionMax_);
        float const dy = uniform(directionMin_, directionMax_);
        float const m = uniform(shakeMin_, shakeMax_);
        float const length = std::sqrt(dx * dx + dy * dy);
        if (length > 0.0f) {
            offset = glm::vec2(dx, dy) / length * m;
        }
        if (shakeMax_ - shakeMin_ > 0.0f && m > 0.0f) {
            vibrate();
        }
    }
    shakeSkip_ = !shakeSkip_;
    shakeMin_ = 0.0f;
    shakeMax_ = 0.0f;

    glm::vec2 p = position + offset;
    if (!finite(p)) {
        if (!reportedNonFinite_) {
            std::fprintf(stderr, "Camera: a position that is not a number; keeping the last one\n");
            reportedNonFinite_ = true;
        }
        p = lastFinite_;
    }
    lastFinite_ = p;
    float const r = postProcessing != nullptr ? postProcessing->renderScale() : 1.0f;
    float const toPixels = worldToPixelMatrix()[0][0];
    glm::vec2 const pixels(std::round(p.x * toPixels * r), std::round(p.y * toPixels * r));
    buildView(pixels / r * worldScale);
}

void Camera::buildView(glm::vec2 centre) {
    centre_ = centre;
    viewProjection_ = projection_ * worldToPixelMatrix() * glm::translate(glm::mat4(1.0f), glm::vec3(-centre, 0.0f));
    glm::mat4 const& m = viewProjection_;
    auto row = [&](int i) { return glm::vec4(m[0][i], m[1][i], m[2][i], m[3][i]); };
    glm::vec4 const planes[6] = {row(3) + row(0), row(3) - row(0), row(3) - row(1),
                                 row(3) + row(1), row(3) - row(2), row(3) + row(2)};
    for (int i = 0; i < 6; ++i) {
        float const length = std::sqrt(planes[i].x * planes[i].x + planes[i].y * planes[i].y + planes[i].z * planes[i].z);
        float const inverse = length > 0.0f ? 1.0f / length : 0.0f;
        normals_[std::size_t(i)] = btVector3(planes[i].x * inverse, planes[i].y * inverse, planes[i].z * inverse);
        offsets_[std::size_t(i)] = planes[i].w * inverse;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        view_.normals[i] = normals_[i];
        view_.offsets[i] = offsets_[i];
    }
    view_.position = body_ != nullptr ? getPosition() : centre;
    glm::mat4 const attached = glm::translate(glm::mat4(1.0f), glm::vec3(centre, 0.0f));
    for (Drawable& d : drawables_) {
        d.setTransform(attached);
        d.updateBounds();
    }
}

glm::vec2 Camera::worldToScreen(glm::vec3 const& point) const {
    glm::vec4 const clip = viewProjection_ * glm::vec4(point, 1.0f);
    return glm::vec2(width_ * (clip.x / clip.w * 0.5f + 0.5f), height_ * (clip.y / clip.w * 0.5f + 0.5f));
}
