#pragma once
// The running level: built from a loaded level, stepped once a frame with a fixed physics step,
// drawn through its draw list, and wired to its level signals. Objects refer to each other by
// raw pointers into the world's vectors, which never change size after construction.
#include <boost/optional.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/Sound.h"
#include "graphics/DrawList.h"
#include "graphics/GoldParticles.h"
#include "level/PristineLevel.h"
#include "os/EventHandler.h"
#include "os/Task.h"
#include "physics/particles/PhysicsWorld.h"
#include "world/AnimatedBody.h"
#include "world/AnimatedMesh.h"
#include "world/AnimatedTexture.h"
#include "world/BodyObserver.h"
#include "world/Camera.h"
#include "world/CameraShaker.h"
#include "world/CameraZone.h"
#include "world/Coin.h"
#include "world/ContactListener.h"
#include "world/ControlSchemeInputState.h"
#include "world/CulledVector.h"
#include "world/DynamicBody.h"
#include "world/FacingMesh.h"
#include "world/Fluids.h"
#include "world/JointSwitch.h"
#include "world/JumpPad.h"
#include "world/MotorHinge.h"
#include "world/ParticleEmitter.h"
#include "world/ParticleLiquid.h"
#include "world/Player.h"
#include "world/PulleyRopeSprite.h"
#include "world/RackAndPinion.h"
#include "world/RopeSprite.h"
#include "world/SignalFilter.h"
#include "world/SpringHinge.h"
#include "world/TriggerableSound.h"

class HUD;
class PostProcessingStep;
namespace Audio {
class Context;
}
namespace Graphics {
class Context;
}

// The music player as the world drives it; tests put in their own.
class WorldMusic {
public:
    virtual ~WorldMusic() = default;
    virtual void setVolume(float volume);
    virtual void stop();
    // Loops the track (name plus the music extension).
    virtual void play(Audio::Context& audio, std::string const& path);
};

class World : public DrawList::WorldDrawers {
public:
    inline static constexpr uint32_t startEndSequenceSignal = 20000014;
    using MeshAnimationData = decltype(PristineLevel::Data::meshAnimationFrames);

    // endOfLevel is not kept: the player calls it when a hardcore run ends in a death.
    World(Graphics::Context* graphics, Audio::Context* audio, EventHandler* events, PristineLevel::Data&& level,
          PostProcessingStep* postProcessing, GameMode mode, TransitToEndOfLevelCallback const& endOfLevel,
          boost::optional<unsigned long> const& catalogIndex);
    // A world whose hardcore deaths respawn the player (tests and tools).
    World(Graphics::Context* graphics, Audio::Context* audio, EventHandler* events, PristineLevel::Data&& level,
          PostProcessingStep* postProcessing, GameMode mode, boost::optional<unsigned long> const& catalogIndex)
        : World(graphics, audio, events, std::move(level), postProcessing, mode, TransitToEndOfLevelCallback(),
                catalogIndex) {}
    ~World() override;
    World(World const&) = delete;
    World& operator=(World const&) = delete;

    void update(Graphics::Context* graphics, Audio::Context& audio, HUD* hud, ControlSchemeInputState const* input,
                float dt, float now);
    void updateCamera(Graphics::Context* graphics, Audio::Context& audio, HUD* hud, float dt);
    void draw(Graphics::Context* graphics);

    Player::Player& getPlayer() { return player_; }
    Player::Player& getPlayerForDrawing() { return player_; }
    Camera& getCamera() { return camera_; }
    float getTime() const { return time_; }
    // The coins that count toward the level's total: those without an achievement number.
    std::size_t getCoinCount() const;
    std::vector<ParticleEmitter>& getParticleEmitters() { return particleEmitters_; }
    Fluids& getFluids() { return fluids_; }
    GoldParticles& getGoldParticles() { return goldParticles_; }
    bool hasTutorial() const { return tutorial_ != 0; }

    // What the tests and the game screen look into.
    DrawList& drawList() { return drawList_; }
    PhysicsWorld& physics() { return *physics_; }
    b2Body* groundBody() const { return ground_; }
    std::vector<Task> const& tasks() const { return tasks_; }
    std::vector<b2Joint*> const& joints() const { return joints_; }
    std::vector<CheckPoint> const& checkPoints() const { return checkPoints_; }
    CulledVector<DynamicBody, DynamicBody*>& dynamicBodies() { return dynamicBodies_; }
    CulledVector<Coin, Coin*>& coins() { return coins_; }
    CulledVector<TriggerableSound, TriggerableSound*>& sounds() { return sounds_; }
    CulledVector<BodyObserver, BodyObserver*>& bodyObservers() { return bodyObservers_; }
    std::vector<SignalFilter>& signalFilters() { return signalFilters_; }
    std::vector<CameraShaker>& cameraShakers() { return cameraShakers_; }
    std::vector<AnimatedTexture>& animatedTextures() { return animatedTextures_; }
    std::vector<AnimatedMesh>& animatedMeshes() { return animatedMeshes_; }
    std::vector<ParticleLiquid>& particleLiquids() { return particleLiquids_; }
    std::vector<JumpPad>& jumpPads() { return jumpPads_; }
    std::vector<FacingMesh>& facingMeshes() { return facingMeshes_; }
    std::vector<SpringHinge>& springHinges() { return springHinges_; }
    std::vector<MotorHinge>& motorHinges() { return motorHinges_; }
    std::vector<JointSwitch>& jointSwitches() { return jointSwitches_; }
    std::vector<RackAndPinion>& racksAndPinions() { return racksAndPinions_; }
    std::vector<AnimatedBody>& animatedBodies() { return animatedBodies_; }
    std::vector<RopeSprite>& ropeSprites() { return ropeSprites_; }
    std::vector<PulleyRopeSprite>& pulleyRopeSprites() { return pulleyRopeSprites_; }
    ContactListener& contactListener() { return contactListener_; }
    int32_t currentMusicTrack() const { return currentMusicTrack_; }
    float musicVolume() const { return musicVolume_; }
    bool hasLiquidSound() const { return liquidSound_.has_value(); }
    void setMusicService(WorldMusic* music) { music_ = music; }

    // The draw list's world drawers.
    std::size_t particleEmitterCount() const override { return particleEmitters_.size(); }
    void drawParticleEmitter(std::size_t index, Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void drawPlayer(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    std::size_t fluidVolumeCount() const override { return fluids_.count(); }
    void drawFluidVolume(std::size_t index, Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    GoldParticles* goldParticles() override { return &goldParticles_; }

private:
    void updateMusic(Audio::Context& audio, float dt);

    DrawList drawList_;
    std::vector<CheckPoint> checkPoints_;
    std::vector<FixtureSignal> fixtureSignals_;
    std::unique_ptr<PhysicsWorld> physics_;
    CulledVector<DynamicBody, DynamicBody*> dynamicBodies_;
    std::vector<ParticleLiquid> particleLiquids_;
    ParticleLiquidGroups liquidGroups_;
    b2Body* ground_;
    Fluids fluids_;
    float time_;
    Player::Player player_;
    std::vector<SpringHinge> springHinges_;
    std::vector<JumpPad> jumpPads_;
    std::vector<FacingMesh> facingMeshes_;
    std::vector<CameraZone> cameraZones_;
    std::vector<MotorHinge> motorHinges_;
    CulledVector<Coin, Coin*> coins_;
    std::vector<RackAndPinion> racksAndPinions_;
    std::vector<JointSwitch> jointSwitches_;
    std::vector<ParticleEmitter> particleEmitters_;
    std::vector<AnimatedBody> animatedBodies_;
    std::vector<b2Joint*> joints_;
    std::vector<Task> tasks_;
    std::vector<AnimatedTexture> animatedTextures_;
    std::vector<RopeSprite> ropeSprites_;
    std::vector<PulleyRopeSprite> pulleyRopeSprites_;
    std::vector<CameraShaker> cameraShakers_;
    CulledVector<TriggerableSound, TriggerableSound*> sounds_;
    std::vector<SignalFilter> signalFilters_;
    CulledVector<BodyObserver, BodyObserver*> bodyObservers_;
    ContactListener contactListener_;
    MeshAnimationData meshAnimationData_;
    std::vector<AnimatedMesh> animatedMeshes_;
    Camera camera_;
    std::vector<SlotCallbackRef> slots_;
    std::vector<std::string> musicTracks_;
    std::vector<PristineLevel::MusicNode> musicPath_;
    int32_t currentMusicTrack_ = -1;
    float musicVolume_ = 0.0f;
    GoldParticles goldParticles_;
    std::optional<Sound> liquidSound_;
    PostProcessingStep* postProcessing_;
    uint8_t tutorial_;
    WorldMusic* music_;
};
