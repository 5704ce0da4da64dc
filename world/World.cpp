#include "world/World.h"

#include <box2d/b2_body.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <limits>

#include "audio/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "level/Fixtures.h"
#include "os/Assets.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "physics/particles/Box2DAdapter.h"
#include "world/BuildJoint.h"
#include "world/LevelSignalWiring.h"
#include "world/WorldConstants.h"

void WorldMusic::setVolume(float volume) { ::setMusicVolume(volume); }
void WorldMusic::stop() { ::stopMusic(); }
void WorldMusic::play(Audio::Context& audio, std::string const& path) { audio.playMusic(path.c_str(), true, false); }

namespace {

WorldMusic platformMusic;

// A level without check points would leave the player nowhere to stand: it starts at the origin.
std::vector<CheckPoint> takeCheckPoints(PristineLevel::Data& level) {
    std::vector<CheckPoint> points = std::move(level.checkPoints);
    // The player's body is made at and teleported to these: Box2D aborts on a position that is
    // not a number.
    auto const unusable = [](CheckPoint const& p) {
        return !std::isfinite(p.respawnPosition.x) || !std::isfinite(p.respawnPosition.y) ||
               std::fabs(p.respawnPosition.x) > 1.0e6f || std::fabs(p.respawnPosition.y) > 1.0e6f;
    };
    auto const kept = std::remove_if(points.begin(), points.end(), unusable);
    if (kept != points.end()) {
        std::fprintf(stderr, "World: %zu check points without a usable position dropped\n",
                     std::size_t(points.end() - kept));
        points.erase(kept, points.end());
    }
    if (points.empty()) {
        std::fprintf(stderr, "World: the level has no check point; starting at the origin\n");
        points.push_back(CheckPoint{});
    }
    return points;
}

// Chains are walked with bounds in the contact handling; broken ones are named once here.
std::vector<FixtureSignal> takeFixtureSignals(PristineLevel::Data& level) {
    std::vector<FixtureSignal> signals = std::move(level.fixtureSignals);
    for (std::size_t i = 0; i < signals.size(); ++i) {
        int32_t const next = signals[i].next;
        if (next >= 0 && std::size_t(next) >= signals.size()) {
            std::fprintf(stderr, "World: fixture signal %zu names next %d of %zu; its chain ends there\n", i, next,
                         signals.size());
        }
    }
    return signals;
}

std::unique_ptr<PhysicsWorld> makePhysics(PristineLevel::Data const& level, b2ContactListener* listener) {
    auto physics = std::make_unique<PhysicsWorld>(b2Vec2(worldGravity.x, worldGravity.y));
    physics->box2d().SetContactListener(listener);
    // The static geometry: owned by the physics world only, its fixtures carry no user data.
    b2Body* geometry = physics->CreateBody(b2BodyDef());
    createFixtures(level.staticShapes, geometry, nullptr);
    return physics;
}

b2Body* makeGround(PhysicsWorld& physics, PristineLevel::Data const& level, std::vector<FixtureSignal>* signals) {
    b2Body* ground = physics.CreateBody(b2BodyDef());
    createFixtures(level.signalShapes, ground, signals);
    return ground;
}

// One object per record, built in place in a vector reserved to the record count.
template <class T, class Records, class Make>
std::vector<T> buildEach(Records&& records, Make&& make) {
    std::vector<T> out;
    out.reserve(records.size());
    for (auto& record : records) {
        make(out, record);
    }
    return out;
}

std::vector<b2Joint*> buildJoints(PhysicsWorld& physics, PristineLevel::Data const& level, b2Body* ground,
                                  CulledVector<DynamicBody, DynamicBody*>& bodies) {
    std::vector<b2Body*> slots;
    slots.reserve(bodies.size());
    for (DynamicBody& body : bodies.items()) {
        slots.push_back(body.getBody());
    }
    std::vector<b2Joint*> joints;
    joints.reserve(level.joints.size());
    for (PristineLevel::JointRecord const& record : level.joints) {
        joints.push_back(buildJoint(physics.box2d(), record.def, ground, slots, joints));
    }
    return joints;
}

float lowEndScale() { return isLowEndDevice() ? 1.75f : 1.0f; }

// Distance from p to the segment a-b; a zero-length segment measures to a.
float distanceToSegment(glm::vec2 p, glm::vec2 a, glm::vec2 b) {
    glm::vec2 const ab = b - a;
    float const length2 = ab.x * ab.x + ab.y * ab.y;
    float t = 0.0f;
    if (length2 > 0.0f) {
        t = std::clamp(((p.x - a.x) * ab.x + (p.y - a.y) * ab.y) / length2, 0.0f, 1.0f);
    }
    glm::vec2 const d = p - (a + t * ab);
    return std::sqrt(d.x * d.x + d.y * d.y);
}

}  // namespace

World::World(Graphics::Context* graphics, Audio::Context* audio, EventHandler* events, PristineLevel::Data&& level,
             PostProcessingStep* postProcessing, GameMode mode, TransitToEndOfLevelCallback const& endOfLevel,
             boost::optional<unsigned long> const& catalogIndex)
    : drawList_(graphics, level.meshSet, this, postProcessing),
      checkPoints_(takeCheckPoints(level)),
      fixtureSignals_(takeFixtureSignals(level)),
      physics_(makePhysics(level, &contactListener_)),
      dynamicBodies_(level.dynamicBodies.size(),
                     [&](auto& bodies) {
                         for (auto const& record : level.dynamicBodies) {
                             bodies.emplace_back(level.meshSet, &drawList_, *physics_, record, &fixtureSignals_,
                                                 &animatedTextures_, &animatedMeshes_);
                         }
                     }),
      particleLiquids_(buildEach<ParticleLiquid>(
          level.particleLiquids, [&](auto& out, auto const& record) { out.emplace_back(*physics_, record); })),
      liquidGroups_(*physics_, particleLiquids_),
      ground_(makeGround(*physics_, level, &fixtureSignals_)),
      fluids_(graphics, audio, level.fluids, ground_),
      time_(0.0f),
      player_(graphics, audio, *physics_, &checkPoints_.front(), ground_, postProcessing, events,
              std::move(level.progressPath), &fluids_, mode, catalogIndex, &time_, endOfLevel),
      springHinges_(buildEach<SpringHinge>(level.soundHinges,
                                           [&](auto& out, auto const& record) {
                                               out.emplace_back(audio, dynamicBodies_, ground_, physics_->box2d(),
                                                                record);
                                           })),
      jumpPads_(buildEach<JumpPad>(level.jumpPads,
                                   [&](auto& out, auto const& record) {
                                       out.emplace_back(record, dynamicBodies_, &fixtureSignals_, ground_, &player_);
                                   })),
      facingMeshes_(buildEach<FacingMesh>(level.drawableGroups,
                                          [&](auto& out, auto const& record) {
                                              out.emplace_back(level.meshSet, &drawList_, record);
                                          })),
      cameraZones_(buildEach<CameraZone>(level.cameraZones,
                                         [&](auto& out, auto const& record) { out.emplace_back(record, ground_); })),
      motorHinges_(buildEach<MotorHinge>(level.motorHinges,
                                         [&](auto& out, auto const& record) {
                                             out.emplace_back(audio, dynamicBodies_, physics_->box2d(), ground_,
                                                              record);
                                         })),
      coins_(level.coins.size(),
             [&](auto& coins) {
                 for (auto const& record : level.coins) {
                     coins.emplace_back(level.meshSet, &drawList_, record, graphics, audio, mode);
                 }
             }),
      racksAndPinions_(buildEach<RackAndPinion>(level.racksAndPinions,
                                                [&](auto& out, auto const& record) {
                                                    out.emplace_back(graphics, audio, dynamicBodies_, *physics_,
                                                                     events, record);
                                                })),
      jointSwitches_(buildEach<JointSwitch>(level.jointSwitches,
                                            [&](auto& out, auto const& record) {
                                                out.emplace_back(graphics, audio, events, dynamicBodies_, ground_,
                                                                 physics_->box2d(), record);
                                            })),
      particleEmitters_(buildEach<ParticleEmitter>(
          level.particleEmitters,
          [&](auto& out, auto const& record) { out.emplace_back(graphics, record, &drawList_); })),
      animatedBodies_(buildEach<AnimatedBody>(level.animatedBodies,
                                              [&](auto& out, auto& record) {
                                                  out.emplace_back(dynamicBodies_, std::move(record), events,
                                                                   *physics_);
                                              })),
      joints_(buildJoints(*physics_, level, ground_, dynamicBodies_)),
      animatedTextures_(buildEach<AnimatedTexture>(level.animatedTextures,
                                                   [&](auto& out, auto const& record) {
                                                       out.emplace_back(level.meshSet, &drawList_, record, graphics);
                                                   })),
      ropeSprites_(buildEach<RopeSprite>(level.jointSprites,
                                         [&](auto& out, auto const& record) {
                                             out.emplace_back(level.meshSet, &drawList_, joints_, record, graphics);
                                         })),
      pulleyRopeSprites_(buildEach<PulleyRopeSprite>(level.jointSpritePairs,
                                                     [&](auto& out, auto const& record) {
                                                         out.emplace_back(level.meshSet, &drawList_, joints_,
                                                                          level.joints, record, graphics);
                                                     })),
      cameraShakers_(buildEach<CameraShaker>(level.cameraShakers,
                                             [&](auto& out, auto const& record) { out.emplace_back(&player_, record); })),
      sounds_(level.triggerableSounds.size(),
              [&](auto& sounds) {
                  for (auto const& record : level.triggerableSounds) {
                      sounds.emplace_back(audio, dynamicBodies_, record);
                  }
              }),
      signalFilters_(buildEach<SignalFilter>(level.signalFilters,
                                             [&](auto& out, auto const& record) { out.emplace_back(events, record); })),
      bodyObservers_(level.bodyObservers.size(),
                     [&](auto& observers) {
                         for (auto const& record : level.bodyObservers) {
                             observers.emplace_back(dynamicBodies_, record, events);
                         }
                     }),
      contactListener_(&player_, fluids_, events, fixtureSignals_, bodyObservers_),
      meshAnimationData_(std::move(level.meshAnimationFrames)),
      animatedMeshes_(buildEach<AnimatedMesh>(level.animatedMeshes,
                                              [&](auto& out, auto const& record) {
                                                  out.emplace_back(level.meshSet, &drawList_, record, meshAnimationData_,
                                                                   graphics);
                                              })),
      camera_(level.levelInfo, *physics_, &player_, events, level.meshSet, &drawList_),
      slots_(wireLevelSignals(events, level, checkPoints_, joints_, *physics_, dynamicBodies_, particleLiquids_, coins_,
                              jumpPads_, player_, &tasks_, &time_, animatedTextures_, bodyObservers_, sounds_,
                              cameraShakers_, &camera_, animatedMeshes_, fluids_, signalFilters_)),
      musicTracks_(std::move(level.soundTable.musicTracks)),
      musicPath_(level.soundTable.musicPath),
      goldParticles_(graphics, physics_.get(), level.metaData.goldParticleSize * lowEndScale()),
      liquidSound_(level.particleLiquids.empty()
                       ? std::nullopt
                       : std::optional<Sound>(std::in_place, audio, Assets::sndLevel20DravoLavaLoop)),
      postProcessing_(postProcessing),
      tutorial_(level.metaData.tutorial ? 1 : 0),
      music_(&platformMusic) {
    player_.setCameraZones(&cameraZones_);
    // Nothing steps while the world is being built; signal 1 waits for the next dispatch, after
    // every subscription exists.
    tasks_.reserve(64);
    if (liquidSound_) {
        liquidSound_->play();
    }
    slots_.emplace_back(events, startEndSequenceSignal, [this] { camera_.startEndSequence(); });
    events->trigger(levelBuiltSignal);
    physics_->SetParticleMaxCount(level.metaData.particleMaxCount);
    physics_->SetParticleDensity(level.metaData.particleDensity);
    physics_->SetParticleGravityScale(level.metaData.particleGravityScale);
    physics_->SetParticleDamping(level.metaData.particleDamping);
    physics_->SetParticleRadius(level.metaData.particleRadius * lowEndScale());
    physics_->SetParticleCollisionMask(0x0802);
}

// The physics world goes after every object that holds its bodies and joints; unregistering the
// listener first keeps a destroyed body's contacts from reaching a destroyed listener.
World::~World() { physics_->box2d().SetContactListener(nullptr); }

std::size_t World::getCoinCount() const {
    return std::size_t(std::count_if(coins_.items().begin(), coins_.items().end(),
                                     [](Coin const& c) { return c.achievement() == 0; }));
}

void World::update(Graphics::Context* graphics, Audio::Context& audio, HUD* hud, ControlSchemeInputState const* input,
                   float dt, float now) {
    time_ += dt;
    // Finished tasks leave; the others keep their order. Tasks only raise signals, so none is
    // added or removed while this runs.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < tasks_.size(); ++i) {
        if (!tasks_[i](dt, time_)) {
            if (kept != i) {
                tasks_[kept] = std::move(tasks_[i]);
            }
            ++kept;
        }
    }
    tasks_.erase(tasks_.begin() + std::ptrdiff_t(kept), tasks_.end());

    physics_->Step(worldStepSeconds, worldVelocityIterations, worldPositionIterations);
    contactListener_.replayQueued();
    player_.update(input != nullptr ? *input : ControlSchemeInputState(), *physics_, camera_, dt);
    for (DynamicBody* body : dynamicBodies_.active()) {
        body->update();
    }
    turnFacingMeshes(facingMeshes_, player_, camera_);
    for (SpringHinge& hinge : springHinges_) {
        hinge.update();
    }
    for (JumpPad& pad : jumpPads_) {
        pad.update(dt);
    }
    for (Coin* coin : coins_.active()) {
        coin->update(player_, dt, time_);
    }
    for (BodyObserver* observer : bodyObservers_.active()) {
        observer->update();
    }
    for (JointSwitch& lever : jointSwitches_) {
        lever.update(player_);
    }
    for (ParticleEmitter& emitter : particleEmitters_) {
        emitter.update(dt, time_, &drawList_);
    }
    for (RackAndPinion& rack : racksAndPinions_) {
        rack.update();
    }
    for (AnimatedBody& body : animatedBodies_) {
        body.update(dt);
    }
    for (AnimatedTexture& texture : animatedTextures_) {
        texture.update(dt);
    }
    fluids_.update(dt);
    for (AnimatedMesh& mesh : animatedMeshes_) {
        mesh.update(dt);
    }
    for (RopeSprite& rope : ropeSprites_) {
        rope.update(dt);
    }
    for (PulleyRopeSprite& rope : pulleyRopeSprites_) {
        rope.update(dt);
    }
    for (SignalFilter& filter : signalFilters_) {
        filter.update(dt);
    }
    auto& active = sounds_.active();
    active.erase(std::remove_if(active.begin(), active.end(), [dt](TriggerableSound* s) { return s->update(dt); }),
                 active.end());
    camera_.update(graphics, &audio, postProcessing_, hud, now, dt);
    updateMusic(audio, dt);
    if (liquidSound_ && physics_->GetParticleCount() > 0) {
        goldParticles_.setScale(postProcessing_ != nullptr ? postProcessing_->renderScale() : 1.0f);
        liquidSound_->setGain(1.0f);
        glm::vec2 const at = goldParticles_.averagePosition();
        liquidSound_->setPosition(at.x, at.y);
    }
}

void World::updateMusic(Audio::Context& audio, float dt) {
    if (!(dt > 0.0f) || musicPath_.size() < 2) {
        return;
    }
    glm::vec2 const at = player_.getPosition();
    std::size_t best = 0;
    float bestDistance = std::numeric_limits<float>::infinity();
    for (std::size_t i = 0; i + 1 < musicPath_.size(); ++i) {
        float const d = distanceToSegment(at, musicPath_[i].point, musicPath_[i + 1].point);
        if (d < bestDistance) {
            bestDistance = d;
            best = i;
        }
    }
    PristineLevel::MusicNode const& wanted = musicPath_[best];
    if (wanted.track == currentMusicTrack_) {
        musicVolume_ = std::min(musicVolume_ + wanted.fadeInRate * dt / 1000.0f, wanted.volume);
    } else {
        musicVolume_ = std::max(musicVolume_ - wanted.fadeOutRate * dt / 1000.0f, 0.0f);
    }
    if (!std::isfinite(musicVolume_)) {
        musicVolume_ = 0.0f;
    }
    music_->setVolume(musicVolume_);
    if (musicVolume_ != 0.0f) {
        return;
    }
    music_->stop();
    if (wanted.track >= 0 && wanted.volume > 0.0f) {
        if (std::size_t(wanted.track) < musicTracks_.size()) {
            music_->play(audio, musicTracks_[std::size_t(wanted.track)] + musicExtension());
        } else {
            std::fprintf(stderr, "World: music track %d of %zu; silence\n", wanted.track, musicTracks_.size());
        }
    }
    currentMusicTrack_ = wanted.track;
}

void World::updateCamera(Graphics::Context* graphics, Audio::Context& audio, HUD* hud, float dt) {
    player_.updateRespawn(camera_);
    // The closing shot waits while play is held: its last step ends the level.
    camera_.update(graphics, &audio, postProcessing_, hud, 0.0f, dt, false);
    drawList_.updateGL(camera_.view());
}

void World::draw(Graphics::Context* graphics) {
    if (graphics != nullptr) {
        graphics->projectionView() = camera_.getViewProjection();
    }
    drawList_.updateGL(camera_.view());
    player_.updatePose();
    for (Coin* coin : coins_.active()) {
        coin->draw();
    }
    fluids_.drawSplashes();
    for (AnimatedTexture& texture : animatedTextures_) {
        texture.draw();
    }
    for (AnimatedMesh& mesh : animatedMeshes_) {
        mesh.draw();
    }
    for (RopeSprite& rope : ropeSprites_) {
        rope.draw();
    }
    for (PulleyRopeSprite& rope : pulleyRopeSprites_) {
        rope.draw();
    }
}

void World::drawParticleEmitter(std::size_t index, Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (index < particleEmitters_.size()) {
        particleEmitters_[index].draw(graphics, shader);
    }
}

void World::drawPlayer(Graphics::Context* graphics, Graphics::StandardShader* shader) { player_.draw(graphics, shader); }

void World::drawFluidVolume(std::size_t index, Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (index < fluids_.count()) {
        fluids_.getVolume(index).draw(graphics, shader);
    }
}
