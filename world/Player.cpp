#include "world/Player.h"

#include <box2d/b2_body.h>
#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_contact.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_fixture.h>
#include <box2d/b2_polygon_shape.h>

#include <glm/geometric.hpp>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

#include "graphics/Context.h"
#include "graphics/StandardShader.h"
#include "os/Assets.h"
#include "os/services/PlatformServices.h"
#include "os/EventHandler.h"
#include "physics/particles/Box2DAdapter.h"
#include "physics/particles/PhysicsWorld.h"
#include "save/RoamingDataFile.h"
#include "world/Camera.h"
#include "world/CameraZone.h"
#include "world/Fluids.h"
#include "menus/SineRamp.h"

namespace Player {

namespace {

constexpr float epsilon = 1.1920929e-7f;
constexpr float pi = 3.14159265358979f;

// One set for the whole process: it outlives every player.
struct MovementState {
    float jumpGapTime = 0.0f;
    float jumpHoldTime = 0.0f;
    bool jumpLaunched = false;
    bool previousDive = false;
    float submergedTime = 0.0f;
    bool diveUnlocked = false;
    float swimThrust = 0.0f;
    float diveCooldown = 0.0f;
    uint64_t previousInnerContacts = 0;
};

MovementState& movement() {
    static MovementState state;
    return state;
}

glm::vec2 toGlm(b2Vec2 v) { return glm::vec2(v.x, v.y); }
b2Vec2 toB2(glm::vec2 v) { return b2Vec2(v.x, v.y); }

glm::vec2 normalised(glm::vec2 v) {
    float const length = glm::length(v);
    return length >= epsilon ? v / length : v;
}

bool isZero(glm::vec2 v) { return v.x == 0.0f && v.y == 0.0f; }

std::uintptr_t bodyFlags(b2Body const* body) { return Box2DAdapter::userDataValue(*body); }

b2CircleShape circleShape(float radius) {
    b2CircleShape circle;
    circle.m_radius = radius;
    return circle;
}

}  // namespace

void resetMovementState() { movement() = MovementState(); }

Player::Player(Graphics::Context* graphics, Audio::Context* audio, PhysicsWorld& physics, CheckPoint* checkPoint, b2Body*,
               PostProcessingStep* postProcessing, EventHandler* events, std::vector<PristineLevel::PathNode>&& laps,
               Fluids* fluids, GameMode mode, boost::optional<unsigned long> const& levelIndex, float* levelTime,
               TransitToEndOfLevelCallback const& endOfLevel)
    : audio_(audio),
      fluids_(fluids),
      gravityMagnitude_(physics.box2d().GetGravity().Length()),
      jumpSounds_{Sound(audio, Assets::sndCharacterDravoJump), Sound(audio, Assets::sndCharacterDravoJump)},
      landSounds_{Sound(audio, Assets::sndCharacterDravoLand), Sound(audio, Assets::sndCharacterDravoLand)},
      inflateSound_(audio, Assets::sndCharacterDravoInflate),
      deathSound_(audio, Assets::sndCharacterDravoCaracterDeath),
      slideLoop_(audio, Assets::sndCharacterDravoCharacterSlideLoop),
      checkPoint_(checkPoint),
      respawner_(events, mode, levelIndex, levelTime, endOfLevel),
      face_(graphics, uint32_t(nowMs())),
      outline_(graphics, checkPoint->respawnPosition, outerRadius),
      laps_(std::move(laps)),
      graphics_(graphics),
      physics_(&physics),
      postProcessing_(postProcessing) {
    if (fluids != nullptr && fluids->hasSplashes()) {
        underwaterSound_.emplace(audio, Assets::sndCharacterDravoUnderwater);
    }
    ouchSound_.emplace(audio, Assets::nextOuchSound());

    glm::vec2 at = checkPoint->respawnPosition;
    if (!std::isfinite(at.x) || !std::isfinite(at.y)) {
        std::fprintf(stderr, "Player: check point position is not a number; starting at the origin\n");
        at = glm::vec2(0.0f);
        outline_.reset(at, outerRadius);
    }
    b2BodyDef def;
    def.type = b2_dynamicBody;
    def.position = toB2(at);
    def.fixedRotation = true;
    def.allowSleep = false;
    body_ = physics.CreateBody(def);

    b2CircleShape const inner = circleShape(innerRadius);
    innerFixture_ = body_->CreateFixture(&inner, 1.44f);
    innerFixture_->SetFriction(1.0f);
    innerFixture_->SetRestitution(0.0f);
    b2Filter filter = innerFixture_->GetFilterData();
    filter.categoryBits = category;
    filter.maskBits = innerMask;
    innerFixture_->SetFilterData(filter);
    innerShape_ = innerFixture_->GetShape();

    b2CircleShape const outer = circleShape(outerRadius);
    outerFixture_ = body_->CreateFixture(&outer, 0.0f);
    Box2DAdapter::setUserDataValue(*outerFixture_, outerCircleTag);
    filter = outerFixture_->GetFilterData();
    filter.categoryBits = category;
    filter.maskBits = outerMask;
    outerFixture_->SetFilterData(filter);
    outerShape_ = outerFixture_->GetShape();

    {
        RoamingDataFile save("roamingData");
        tint_ = save.data.hardcoreBestTime() == 0 ? glm::vec4(64.0f / 255.0f, 222.0f / 255.0f, 207.0f / 255.0f, 1.0f)
                                                  : glm::vec4(1.0f, 0.22f, 0.22f, 1.0f);
    }
    slideLoop_.play();
}

glm::vec2 Player::getPosition() const { return toGlm(body_->GetWorldCenter()); }

float Player::currentInnerRadius() const { return innerShape_->m_radius; }

void Player::pickOuchSound() {
    ouchSound_.reset();
    ouchSound_.emplace(audio_, Assets::nextOuchSound());
}

void Player::kill() { respawner_.kill(*this, postProcessing_); }

void Player::applyTimedForce(glm::vec2 force, float durationMs) {
    timedForce_ = TimedForce{true, 0.0f, durationMs, force};
}

void Player::setFrictionOverride(float friction, float durationMs) {
    frictionOverrideTimer_.start(durationMs);
    frictionOverride_ = friction;
}

void Player::resetTo(glm::vec2 position) {
    if (body_->GetType() != b2_staticBody) {
        body_->SetLinearVelocity(b2Vec2(0.0f, 0.0f));
    }
    physics_->SetTransform(body_, toB2(position), 0.0f);
    outline_.reset(position, outerShape_->m_radius);
}

void Player::updatePose() {
    // One smoothed up vector for the process, as the movement state.
    static glm::vec2 up(0.0f, 1.0f);
    up = normalised(0.8f * up + 0.2f * (isZero(groundNormal_) ? glm::vec2(0.0f, 1.0f) : groundNormal_));
    outline_.pose(up);
    face_.pose(outline_.centroid(), up);
}

void Player::draw(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!visible_ || graphics == nullptr || shader == nullptr) {
        return;
    }
    graphics->setBlend(true);
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(graphics->projectionView());
    shader->setColor(tint_);
    outline_.draw(shader);
    face_.draw(shader, tint_);
}

void Player::updateRespawn(Camera& camera) { respawner_.update(*this, camera, graphics_, postProcessing_); }

void Player::update(ControlSchemeInputState input, PhysicsWorld& physics, Camera& camera, float dt) {
    bool const rolling = groundNormal_.x != 0.0f && groundNormal_.y != 0.0f && (input.left != 0 || input.right != 0);
    slideGain_ = rolling ? std::clamp(body_->GetLinearVelocity().Length() / 12.0f, 0.0f, 1.0f)
                         : std::clamp(slideGain_ - 0.1f, 0.0f, 1.0f);
    slideLoop_.setPosition(getPosition());
    slideLoop_.setGain(slideGain_);
    moveBlock_.advance(dt);
    jumpBlock_.advance(dt);
    diveBlock_.advance(dt);
    frictionOverrideTimer_.advance(dt);
    ControlSchemeInputState effective = input;
    effective.jump = input.jump != 0 && !jumpBlock_.isActive() ? 1 : 0;
    effective.left = input.left != 0 && !moveBlock_.isActive() ? 1 : 0;
    effective.right = input.right != 0 && !moveBlock_.isActive() ? 1 : 0;
    effective.dive = input.dive != 0 && !diveBlock_.isActive() ? 1 : 0;
    respawner_.update(*this, camera, graphics_, postProcessing_);
    stepMovement(effective, physics, camera, dt);
    outline_.update(groundNormal_, grounded_, input_, body_, outerShape_->m_radius);
    face_.update(input_, dt, outerShape_->m_radius);
    laps_.update(getPosition());
}

void Player::launch(glm::vec2 impulse) {
    if (body_->GetType() == b2_staticBody) {
        return;
    }
    glm::vec2 const d = normalised(impulse);
    glm::vec2 const v = toGlm(body_->GetLinearVelocity());
    glm::vec2 const r = v - carrierVelocity_;
    float const along = glm::dot(d, r);
    glm::vec2 const p = r + impulse / body_->GetMass();
    glm::vec2 const full = p - along * d;
    glm::vec2 const partial = p - 0.45f * along * d;
    glm::vec2 result;
    result.x = std::fabs(p.x) < std::fabs(full.x) ? full.x : partial.x;
    result.y = std::fabs(p.y) < std::fabs(full.y) ? full.y : partial.y;
    body_->SetLinearVelocity(toB2(result + carrierVelocity_));
}

// The part of the outer circle under the water fixture: a circle segment cut by the first edge
// near the centre. Only polygons are measured; anything else is full only through two contacts.
float Player::submersion(b2Fixture* water, int waterContacts) const {
    if (water == nullptr || !fluids_->volumeOf(water).isEnabled()) {
        return 0.0f;
    }
    if (waterContacts >= 2) {
        return 1.0f;
    }
    if (water->GetShape()->GetType() != b2Shape::e_polygon) {
        return 0.0f;
    }
    auto const* polygon = static_cast<b2PolygonShape const*>(water->GetShape());
    b2Transform const& xf = water->GetBody()->GetTransform();
    float const r = outerShape_->m_radius;
    glm::vec2 const p = toGlm(body_->GetPosition());
    int32 const n = polygon->m_count;
    for (int32 i = 0; i < n; ++i) {
        glm::vec2 const vi = toGlm(b2Mul(xf, polygon->m_vertices[i]));
        glm::vec2 const vj = toGlm(b2Mul(xf, polygon->m_vertices[(i + 1) % n]));
        glm::vec2 const d = normalised(vj - vi);
        glm::vec2 const w = p - vi;
        float const t = glm::dot(w, d);
        float const h2 = glm::dot(w, w) - t * t;
        if (h2 > r * r) {
            continue;
        }
        float const k = std::sqrt(std::max(r * r - h2, 0.0f));
        float const e = k + epsilon <= t ? k : -k;
        glm::vec2 const a = vi + d * (t - e);
        glm::vec2 const b = vi + d * (t + e);
        float const cosine = std::clamp(glm::dot(normalised(a - p), normalised(b - p)), -1.0f, 1.0f);
        float const theta = std::acos(cosine);
        float const segment = r * r / 2.0f * (theta - std::sin(theta)) / (pi * r * r);
        b2Transform identity;
        identity.SetIdentity();
        bool const inside = polygon->TestPoint(identity, b2MulT(xf, toB2(p)));
        return std::clamp(inside ? 1.0f - segment : segment, 0.0f, 1.0f);
    }
    return 1.0f;
}

void Player::stepMovement(ControlSchemeInputState in, PhysicsWorld& world, Camera& camera, float dt) {
    MovementState& g = movement();
    bool const left = in.left != 0;
    bool const right = in.right != 0;
    bool const jump = in.jump != 0;
    bool const dive = in.dive != 0;
    float const moveAmount = in.moveAmount;
    ControlSchemeInputState const previous = input_;
    glm::vec2 v = toGlm(body_->GetLinearVelocity());
    glm::vec2 const c = toGlm(body_->GetWorldCenter());
    float const mass = body_->GetMass();

    // 1-2
    g.jumpGapTime = previous.jump != 0 ? 0.0f : g.jumpGapTime + dt;
    bool const freshTap = g.jumpGapTime < 100.0f && !(previous.left != 0 && left) && !(previous.right != 0 && right);
    bool const wasAirborne = isZero(contactNormal_);
    groundNormal_ = contactNormal_ = glm::vec2(0.0f);
    waterFixture_ = nullptr;

    // 3: any particle of a liquid touching the body kills; bodies made of particles (elastic or
    // solid groups) are only pushed against.
    ParticleBodyContact const* particles = world.GetParticleBodyContacts();
    for (int32_t i = 0; i < world.GetParticleBodyContactCount(); ++i) {
        if (particles[i].body == body_ && !world.particles().HoldsShape(particles[i].index)) {
            kill();
            return;
        }
    }

    // 4
    bool grip = true;
    bool steepLimited = false;
    bool zoneTouched = false;
    int waterContacts = 0;
    for (b2ContactEdge* edge = body_->GetContactList(); edge != nullptr; edge = edge->next) {
        b2Contact* contact = edge->contact;
        if (!contact->IsTouching()) {
            continue;
        }
        bool const ownIsA = contact->GetFixtureA()->GetBody() == body_;
        b2Fixture* own = ownIsA ? contact->GetFixtureA() : contact->GetFixtureB();
        b2Fixture* other = ownIsA ? contact->GetFixtureB() : contact->GetFixtureA();
        switch (other->GetFilterData().categoryBits) {
        case 0x0008:
            grip = false;
            climbing_ = false;
            break;
        case 0x0002:
            kill();
            return;
        case 0x0100:
            steepLimited = true;
            break;
        case 0x0200:
            if (!cameraZonesIgnored_ && cameraZones_ != nullptr && !cameraZones_->empty()) {
                auto const p = Box2DAdapter::userDataValue(*other);
                auto const first = reinterpret_cast<std::uintptr_t>(cameraZones_->data());
                if (p >= first && p - first < cameraZones_->size() * sizeof(CameraZone) &&
                    (p - first) % sizeof(CameraZone) == 0) {
                    CameraZone const& zone = *reinterpret_cast<CameraZone const*>(p);
                    camera.panTo(zone.offset(), zone.absolute(), zone.smooth(), zone.duration());
                    zoneTouched = true;
                }
            }
            break;
        default:
            break;
        }
        if (fluids_ != nullptr && fluids_->isFluid(other) && Box2DAdapter::userDataValue(*own) == outerCircleTag) {
            waterFixture_ = other;
            ++waterContacts;
        }
    }

    // 5-6
    float const s = submersion(waterFixture_, waterContacts);
    if (!zoneTouched) {
        camera.releasePan();
    }

    // 7
    bool touchingSolid = false;
    bool slowSurface = false;
    bool grounded = false;
    bool onDynamic = false;
    bool onCarrier = false;
    bool magnetic = false;
    uint64_t innerContacts = 0;
    for (b2ContactEdge* edge = body_->GetContactList(); edge != nullptr; edge = edge->next) {
        b2Contact* contact = edge->contact;
        bool const ownIsA = contact->GetFixtureA()->GetBody() == body_;
        b2Fixture* own = ownIsA ? contact->GetFixtureA() : contact->GetFixtureB();
        b2Fixture* other = ownIsA ? contact->GetFixtureB() : contact->GetFixtureA();
        if (!contact->IsTouching() || other->IsSensor()) {
            continue;
        }
        b2Body* otherBody = other->GetBody();
        if (own->GetShape() == outerShape_ || other->GetShape() == outerShape_) {
            if (bodyFlags(body_) == 2 || bodyFlags(otherBody) == 2) {
                touchingSolid = slowSurface = grounded = true;
                break;
            }
            glm::vec2 n;
            if (other->GetShape()->GetType() == b2Shape::e_chain) {
                b2EdgeShape child;
                int32 const index = ownIsA ? contact->GetChildIndexB() : contact->GetChildIndexA();
                static_cast<b2ChainShape const*>(other->GetShape())->GetChildEdge(&child, index);
                glm::vec2 const v1 = toGlm(b2Mul(otherBody->GetTransform(), child.m_vertex1));
                glm::vec2 const v2 = toGlm(b2Mul(otherBody->GetTransform(), child.m_vertex2));
                glm::vec2 const d = normalised(v2 - v1);
                glm::vec2 const toBody = toGlm(body_->GetPosition()) - v1;
                bool const onLeft = d.x * toBody.y - d.y * toBody.x > 0.0f;
                n = onLeft ? glm::vec2(-d.y, d.x) : glm::vec2(d.y, -d.x);
            } else {
                b2WorldManifold manifold;
                b2Fixture* a = contact->GetFixtureA();
                b2Fixture* b = contact->GetFixtureB();
                manifold.Initialize(contact->GetManifold(), a->GetBody()->GetTransform(), a->GetShape()->m_radius,
                                    b->GetBody()->GetTransform(), b->GetShape()->m_radius);
                n = toGlm(manifold.normal);
            }
            bool const steep = steepLimited || own->GetFilterData().categoryBits == 0x0100 ||
                               other->GetFilterData().categoryBits == 0x0100;
            if (!steep || std::acos(std::clamp(n.y, -1.0f, 1.0f)) < 1.1780972f) {
                groundNormal_ += n;
            }
            contactNormal_ += n;
            grounded = !freshTap;
            if (body_->GetType() == b2_dynamicBody && otherBody->GetType() == b2_dynamicBody) {
                onDynamic = touchingSolid = true;
                if (bodyFlags(body_) == 1 || bodyFlags(otherBody) == 1) {
                    slowSurface = true;
                }
            } else {
                touchingSolid = true;
            }
        } else {
            if (innerContacts == 0) {
                carrierVelocity_ = glm::vec2(0.0f);
            }
            ++innerContacts;
            std::uintptr_t const flags = bodyFlags(otherBody);
            glm::vec2 const otherVelocity = toGlm(otherBody->GetLinearVelocity());
            if ((flags & 4) != 0 && glm::length(carrierVelocity_) < glm::length(otherVelocity)) {
                carrierVelocity_ = otherVelocity;
                onCarrier = true;
            }
            magnetic = magnetic || (flags & 8) != 0;
        }
    }
    if (innerContacts > 0 && g.previousInnerContacts == 0) {
        previousCarrierVelocity_ = carrierVelocity_;
    }

    // 8
    groundNormal_ = normalised(groundNormal_);
    contactNormal_ = normalised(contactNormal_);
    glm::vec2 const surface = !isZero(groundNormal_) ? groundNormal_ : contactNormal_;
    if (isZero(surface)) {
        if (!isZero(lastGroundNormal_)) {
            if (!groundMemory_.isActive()) {
                groundMemory_.start(64.0f);
            } else {
                groundMemory_.advance(dt);
                if (!groundMemory_.isActive()) {
                    lastGroundNormal_ = glm::vec2(0.0f);
                }
            }
        }
    } else {
        groundMemory_.reset();
        lastGroundNormal_ = surface;
    }

    // 9-10
    carrierAcceleration_ = carrierVelocity_ - previousCarrierVelocity_;
    previousCarrierVelocity_ = carrierVelocity_;
    g.previousInnerContacts = innerContacts;
    grounded_ = grounded;
    bool const landing = wasAirborne && !isZero(contactNormal_);
    if (landing) {
        Sound& land = landSounds_[nextLandSound_];
        land.params().position = glm::vec3(c, land.params().position.z);
        land.play();
        nextLandSound_ ^= 1;
    }

    // 11-13
    float const gy = groundNormal_.y;
    float const gx = groundNormal_.x;
    float gravityScale = 1.0f;
    float damping = 0.0f;
    if (left || right) {
        boostTime_ = grounded ? boostTime_ + dt : 0.0f;
    }
    FluidVolume* volume = waterFixture_ != nullptr ? &fluids_->volumeOf(waterFixture_) : nullptr;
    bool const volumeOn = volume != nullptr && volume->isEnabled();
    if (underwaterSound_) {
        if (volumeOn && s >= 1.0f && volume->hasSplashes()) {
            if (!underwaterSound_->isPlaying()) {
                SoundParams params = underwaterSound_->params();
                params.gain = s;
                underwaterSound_->play(params);
            } else {
                underwaterSound_->setGain(s);
            }
        } else {
            underwaterSound_->stop();
        }
    }
    bool const waterFloat = volumeOn && !volume->hasSplashes() && timeSinceJump_ > 500.0f;
    bool const swimmable = volumeOn && volume->hasSplashes();

    // 14-16
    float top = 7.0f;
    glm::vec2 carrier = carrierVelocity_;
    bool timedForceApplied = false;
    if (!left && !right) {
        climbing_ = false;
        controlsReversed_ = false;
    } else {
        bool const released = left && !right ? previous.right != 0 : (right && !left ? previous.left != 0 : false);
        if (controlsReversed_ && (jump || released)) {
            controlsReversed_ = false;
        }
        glm::vec2 tangent = left ? glm::vec2(-gy, gx) : glm::vec2(gy, -gx);
        float const ty = onDynamic ? 0.0f : tangent.y;
        glm::vec2 const rel = v - carrier;
        float const along = glm::dot(tangent, rel);
        float const speed = glm::length(rel);
        bool canDrive = grounded && !isZero(groundNormal_) && (gy >= 0.0f || (along > 0.0f && ty >= 0.0f));
        float const accel = !grip && ty >= 0.0f ? 0.033f : 0.22f;
        if (grounded && gy < 0.0f && along <= 0.0f) {
            controlsReversed_ = false;
            if (climbing_ && gy < -0.1f) {
                tangent = right ? glm::vec2(-gy, gx) : glm::vec2(gy, -gx);
                canDrive = true;
            }
        }
        if (slowSurface) {
            top = 4.0f;
        } else {
            if (landing) {
                boostTime_ = std::clamp(glm::length(along * tangent) - 7.0f, 0.0f, 4.4f) / 4.4f * 2000.0f;
            }
            top = 7.0f + 4.4f * sineRamp(std::clamp(boostTime_ / 2000.0f, 0.0f, 1.0f), 0.95f, 0.95f);
            if (speed < 0.75f * top) {
                boostTime_ = 0.0f;
            }
        }
        if (canDrive && !jumping_) {
            float f = 0.0f;
            auto climb = [&] {
                float const x = climbTime_ / 5000.0f;
                float const value = climbAcceleration_ * std::clamp(1.0f - x * x, 0.0f, 1.0f);
                climbTime_ += dt;
                return value;
            };
            bool climbRunning = false;
            if (gy >= 0.0f) {
                climbing_ = false;
                f = accel;
            } else if (climbing_) {
                f = climb();
                climbRunning = true;
            } else if (!onDynamic && speed >= 0.5f * top && grip) {
                climbing_ = true;
                climbAcceleration_ = accel;
                climbTime_ = 0.0f;
                f = climb();
                climbRunning = true;
            }
            if (controlsReversed_ && !climbRunning) {
                f = -f;
            }
            glm::vec2 const impulse = f * tangent + mass * carrierAcceleration_;
            bool const dynamic = body_->GetType() == b2_dynamicBody;
            if (tangent.x * v.x + rel.y * v.y <= 0.0f) {
                if (f != 0.0f && dynamic) {
                    body_->ApplyLinearImpulseToCenter(toB2(impulse), true);
                }
            } else {
                float const limit = top * moveAmount;
                if (std::fabs(along) < limit) {
                    if (f != 0.0f && dynamic) {
                        body_->ApplyLinearImpulseToCenter(toB2(impulse), true);
                    }
                } else if (moveAmount < 1.0f && std::fabs(along) < top && gy > 0.0f && body_->GetType() != b2_staticBody) {
                    v += tangent * ((limit - glm::length(carrier)) - glm::dot(rel, tangent));
                    body_->SetLinearVelocity(toB2(v));
                }
            }
            if (!onDynamic) {
                bool const reversedNow = controlsReversed_ ? grip && gy < 0.0f : wasOnTop_ && grip && gy < 0.0f;
                if (controlsReversed_ && !reversedNow) {
                    frictionOverrideTimer_.start(1000.0f);
                    frictionOverride_ = 0.0f;
                }
                controlsReversed_ = reversedNow;
            }
        } else {
            float target = waterFloat ? 0.75f * top : top;
            float const dir = (controlsReversed_ ? left : right) ? 1.0f : -1.0f;
            float const a = dir * (jumping_ ? 0.1f : 0.22f);
            float const sign = v.x < 0.0f ? -1.0f : 1.0f;
            float const h = std::min(std::fabs(v.x), std::fabs(rel.x));
            if (sign != dir) {
                body_->ApplyLinearImpulseToCenter(b2Vec2(a, 0.0f), true);
            } else {
                target *= moveAmount;
                if (moveAmount >= previous.moveAmount) {
                    if (h < target) {
                        body_->ApplyLinearImpulseToCenter(b2Vec2(a, 0.0f), true);
                    }
                } else if (moveAmount * target - std::fabs(v.x) >= 0.0f) {
                    if (h < target) {
                        body_->ApplyLinearImpulseToCenter(b2Vec2(a, 0.0f), true);
                    }
                } else {
                    body_->ApplyLinearImpulseToCenter(b2Vec2(-a, 0.0f), true);
                }
            }
        }
    }
    v = toGlm(body_->GetLinearVelocity());

    // 17
    bool takeOff = false;
    if (!jump) {
        if (jumpHeld_ == 1 && jumpPhase_ == 0.0f) {
            jumpHeld_ = 0;
        } else if (jumpHeld_ == 1 && jumpPhase_ > 0.0f) {
            jumpPhase_ = std::min(jumpPhase_ + 0.002941f * dt, 1.0f);
            if (jumpPhase_ >= 1.0f) {
                jumpPhase_ = 0.0f;
            }
        }
    } else {
        takeOff = !isZero(lastGroundNormal_) && jumpPhase_ == 0.0f;
        if (jumpHeld_ == 0) {
            jumpHeld_ = 1;
            if (!takeOff) {
                g.jumpLaunched = false;
            }
        }
        jumpPhase_ = std::clamp(jumpPhase_ + 0.002941f * dt, 0.0f, 1.0f);
    }

    // 18
    if (timedForce_.active) {
        bool const against = timedForce_.force.x > 0.0f ? left : right;
        if (jump || against) {
            timedForce_.active = false;
        } else {
            timedForce_.elapsed = std::clamp(timedForce_.elapsed + dt, 0.0f, timedForce_.duration);
            timedForce_.active = timedForce_.elapsed < timedForce_.duration;
            body_->ApplyForceToCenter(toB2(timedForce_.force), true);
            timedForceApplied = true;
        }
    }
    bool coasting;
    if (timedForceApplied || !touchingSolid || controlsReversed_) {
        coasting = true;
    } else {
        bool const matches = v.x > 0.0f ? right : left;
        coasting = !onCarrier && moveAmount != 0.0f && matches;
    }

    // 19
    float rate = coasting ? -0.005f : 100.0f;
    if (dive && gy >= 0.0f && !isZero(groundNormal_)) {
        rate = ((gx > 0.0f) == (v.x > 0.0f) && gy <= 0.975f) ? -100.0f : 0.005f;
    }
    if (takeOff) {
        friction_ = 0.0f;
    } else if (moveAmount != 0.0f || (!left && !right)) {
        friction_ = gy < 0.0f ? 0.0f : std::clamp(friction_ + rate * dt, 0.0f, 2.5f);
    }
    float const applied = frictionOverrideTimer_.isActive() ? frictionOverride_ : friction_;
    for (b2Fixture* f = body_->GetFixtureList(); f != nullptr; f = f->GetNext()) {
        f->SetFriction(applied);
    }
    for (b2ContactEdge* edge = body_->GetContactList(); edge != nullptr; edge = edge->next) {
        edge->contact->ResetFriction();
    }

    // 20: grow or shrink; squeezed when opposite directions are blocked.
    float const r = std::clamp(innerShape_->m_radius + (jumpHeld_ != 0 ? 1.0f : -1.0f) * 0.002f * dt, innerRadius,
                               maxInnerRadius);
    // The sixteen directions k pi / 8, worked out once.
    static std::array<glm::vec2, 16> const sixteenths = [] {
        std::array<glm::vec2, 16> d;
        for (int k = 0; k < 16; ++k) {
            float const angle = float(k) * pi / 8.0f;
            d[std::size_t(k)] = glm::vec2(std::cos(angle), std::sin(angle));
        }
        return d;
    }();
    bool blocked[16] = {};
    b2Vec2 const centre = body_->GetPosition();
    for (b2ContactEdge* edge = body_->GetContactList(); edge != nullptr; edge = edge->next) {
        b2Contact* contact = edge->contact;
        bool const ownIsA = contact->GetFixtureA()->GetBody() == body_;
        b2Fixture* other = ownIsA ? contact->GetFixtureB() : contact->GetFixtureA();
        int32 const child = ownIsA ? contact->GetChildIndexB() : contact->GetChildIndexA();
        if (!contact->IsTouching() || other->IsSensor()) {
            continue;
        }
        // A ray whose box misses the fixture's (enlarged) box cannot hit it.
        b2AABB const& box = other->GetAABB(child);
        for (int k = 0; k < 16; ++k) {
            if (blocked[k]) {
                continue;
            }
            b2RayCastInput ray;
            ray.p1 = centre + b2Vec2(r * sixteenths[k].x, r * sixteenths[k].y);
            ray.p2 = centre;
            if (std::max(ray.p1.x, ray.p2.x) < box.lowerBound.x || std::min(ray.p1.x, ray.p2.x) > box.upperBound.x ||
                std::max(ray.p1.y, ray.p2.y) < box.lowerBound.y || std::min(ray.p1.y, ray.p2.y) > box.upperBound.y) {
                continue;
            }
            ray.maxFraction = 1.0f;
            b2RayCastOutput hit;
            blocked[k] = other->RayCast(&hit, ray, child);
        }
    }
    bool squeezed = false;
    for (int k = 0; k < 16 && !squeezed; ++k) {
        squeezed = blocked[k] && (blocked[(k + 7) % 16] || blocked[(k + 8) % 16] || blocked[(k + 9) % 16]);
    }
    bool const hang = squeezed && r >= innerShape_->m_radius;
    if (hang) {
        if (jump) {
            gravityScale = 0.0f;
            damping = 80.5f;
        }
    } else {
        // 21
        if (takeOff) {
            bool const underSwimmable = volumeOn && volume->hasSplashes() && s >= 1.0f;
            if (!underSwimmable) {
                Sound& sound = jumpSounds_[nextJumpSound_];
                sound.params().position = glm::vec3(c, sound.params().position.z);
                sound.play();
                nextJumpSound_ ^= 1;
                glm::vec2 const impulse = verticalJump_ && lastGroundNormal_.y > 0.0f ? glm::vec2(0.0f, 4.25f)
                                                                                     : 4.25f * lastGroundNormal_;
                launch(impulse);
                timeSinceJump_ = 0.0f;
            }
        }
        innerShape_->m_radius = r;
    }

    // 22
    if (!jump && !dive) {
        gravityScale = 1.0f;
        damping = 0.0f;
    }
    timeSinceJump_ += dt;
    outerShape_->m_radius = 1.5f * innerShape_->m_radius;
    wasOnTop_ = gy > 0.0f;
    input_ = in;
    g.jumpHoldTime = jump ? g.jumpHoldTime + dt : 0.0f;
    if (takeOff) {
        g.jumpLaunched = true;
    }

    // 23-25
    v = toGlm(body_->GetLinearVelocity());
    if (dive) {
        jumping_ = false;
    } else if (!swimmable && jump && isZero(groundNormal_) && v.y < 0.0f && !grounded &&
               (g.jumpHoldTime > 500.0f || !g.jumpLaunched)) {
        gravityScale = 0.0f;
        if (v.y > -1.9f) {
            body_->ApplyLinearImpulseToCenter(b2Vec2(0.0f, -0.1f), true);
        } else if (v.y < -1.9f) {
            body_->SetLinearVelocity(b2Vec2(v.x, -1.9f));
        }
        jumping_ = true;
    } else {
        jumping_ = false;
    }
    if (!dive && !swimmable && jump && isZero(groundNormal_) && !g.jumpLaunched && jumpPhase_ < 1.0f) {
        inflateSound_.params().position = glm::vec3(c, inflateSound_.params().position.z);
        inflateSound_.play();
    }
    v = toGlm(body_->GetLinearVelocity());
    if (jumping_ && std::fabs(v.x) > 4.0f && g.jumpHoldTime > 500.0f) {
        float const sign = v.x <= 0.0f ? -1.0f : 1.0f;
        body_->SetLinearVelocity(b2Vec2(sign * std::max(std::fabs(v.x) - 0.005f * dt, 4.0f), v.y));
    }

    // 26-27
    if (magnetic && !isZero(groundNormal_)) {
        gravityScale = 0.0f;
        body_->ApplyForceToCenter(toB2(-gravityMagnitude_ * groundNormal_), true);
    }
    if (!squeezed) {
        damping = 0.0f;
    }

    // 28
    g.submergedTime = s >= 1.0f ? g.submergedTime + dt : 0.0f;
    if (g.submergedTime >= 1000.0f) {
        g.diveUnlocked = true;
    }
    if (s < 1.0f && g.diveUnlocked && !jump) {
        g.submergedTime = 0.0f;
        g.diveUnlocked = false;
    }
    if (s == 0.0f) {
        g.diveUnlocked = false;
    }

    // 29-30
    glm::vec2 const gravity = toGlm(world.box2d().GetGravity());
    if (swimmable && (s >= 1.0f || timeSinceJump_ >= 750.0f)) {
        gravityScale = 0.0f;
        damping = 3.0f;
        if (!dive) {
            float const k = (jump ? 0.15f : 0.0f) + (left || right ? 0.15f : 0.0f);
            body_->ApplyForceToCenter(toB2(-0.35f * (2.0f * k + 2.0f * s - 1.0f) * gravity), true);
        }
        if (!jump) {
            if (!dive) {
                g.swimThrust = 0.0f;
            } else {
                body_->ApplyForceToCenter(toB2(g.swimThrust * gravity), true);
                g.swimThrust = std::clamp(g.swimThrust + 0.002f * dt, 0.0f, 1.5f);
            }
        } else if (g.diveUnlocked) {
            body_->ApplyForceToCenter(toB2(g.swimThrust * gravity), true);
            g.swimThrust = std::clamp(g.swimThrust - 0.002f * dt, -1.5f, 0.0f);
        }
    } else if (waterFloat) {
        float const base = (dive ? 0.03094f : 0.06188f) + 0.175f * (innerShape_->m_radius - innerRadius) / 0.544f;
        float const a = 2.0f * s * base;
        float const* drag = volume->getDragParameters();
        glm::vec2 const fins[4] = {{a, a}, {-a, -a}, {-a, a}, {a, -a}};
        glm::vec2 const w = 0.1f * toGlm(body_->GetLinearVelocity()) - volume->flow();
        float const speed = glm::length(w);
        glm::vec2 const wHat = normalised(w);
        float const rho = waterFixture_->GetDensity();
        for (glm::vec2 const& fin : fins) {
            float const length = glm::length(fin);
            glm::vec2 const u = normalised(fin);
            float const cross = u.y * wHat.x - u.x * wHat.y;
            if (cross < 0.0f) {
                continue;
            }
            float const dragForce = std::min(speed * speed * rho * length * cross * drag[0], drag[2]);
            float const lift = std::min(speed * speed * rho * length * cross * glm::dot(u, wHat) * drag[1], drag[3]);
            body_->ApplyForce(toB2(-dragForce * wHat), body_->GetPosition(), true);
            body_->ApplyForce(toB2(lift * glm::vec2(-wHat.y, wHat.x)), body_->GetPosition(), true);
        }
    } else {
        g.swimThrust = 0.0f;
    }

    // 31
    if (!volumeOn && dive && !g.previousDive && g.diveCooldown <= 0.0f && body_->GetType() != b2_staticBody) {
        glm::vec2 const now = toGlm(body_->GetLinearVelocity());
        glm::vec2 const rel = now - carrierVelocity_;
        body_->SetLinearVelocity(toB2(glm::vec2(rel.x, rel.y >= 0.0f ? -8.0f : rel.y - 8.0f) + carrierVelocity_));
        g.diveCooldown = 500.0f;
    }
    if (g.diveCooldown > 0.0f) {
        g.diveCooldown -= dt;
    }
    g.previousDive = dive;

    body_->SetGravityScale(gravityScale);
    body_->SetLinearDamping(damping);
}

}  // namespace Player
