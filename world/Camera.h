#pragma once
// The view of the running level. Each frame it aims at the player plus a look-ahead and an eased
// pan (or at a fixed point), drives a body toward it so that view-blocking fixtures stop it, adds
// the shake, snaps to whole render pixels and builds the view-projection matrix, the culling
// planes and the listener position. It also plays the level's closing shot, or runs along a path
// in step with the music.
#include <btBulletCollisionCommon.h>

#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "graphics/DrawList.h"
#include "graphics/Drawable.h"
#include "level/PristineLevel.h"
#include "world/AnimatedValue.h"

class b2Body;
class EventHandler;
class HUD;
class PhysicsWorld;
class PostProcessingStep;
namespace Audio {
class Context;
}
namespace Graphics {
class Context;
}
namespace Player {
class Player;
}

class Camera {
public:
    inline static constexpr uint16_t bodyCategory = 0x0010;
    inline static constexpr uint16_t viewBlockerCategory = 0x0020;
    inline static constexpr uint16_t activationCategory = 0x0400;
    inline static constexpr uint16_t activationMask = 0x010E;

    Camera(PristineLevel::LevelInfo const& info, PhysicsWorld& physics, Player::Player* player, EventHandler* events,
           PristineLevel::MeshSet const& meshSet, DrawList* drawList);

    // `time` is not read. Null contexts (a world run without drawing or sound) are skipped.
    // Without runSequence the closing shot waits where it is (play is held).
    void update(Graphics::Context* graphics, Audio::Context* audio, PostProcessingStep* postProcessing, HUD* hud,
                float time, float dt, bool runSequence = true);
    void panTo(glm::vec2 const& point, bool absolute, bool smooth, float durationMs);
    void releasePan();
    void setHoldOffset(bool hold) { hold_ = hold; }
    void setLocked(bool locked) { locked_ = locked; }
    void shake(float min, float max);
    // A teleport: the body stops and jumps (its previous transform jumps with it).
    void setPosition(glm::vec2 const& position);
    void startEndSequence() { sequenceState_ = 1; }
    bool endSequenceStarted() const { return sequenceState_ != 0; }
    uint32_t sequenceState() const { return sequenceState_; }

    glm::mat4 const& getViewProjection() const { return viewProjection_; }
    // x, y in metres, z in pixels; the result in virtual pixels, y up.
    glm::vec2 worldToScreen(glm::vec3 const& point) const;
    std::array<btVector3, 6> const& getFrustumNormals() const { return normals_; }
    std::array<btScalar, 6> const& getFrustumOffsets() const { return offsets_; }
    glm::vec2 getScreenCenter() const;
    glm::vec2 getPosition() const;
    b2Body* body() const { return body_; }
    // The four side planes and the position, for the draw list.
    DrawList::View const& view() const { return view_; }
    glm::vec2 lookAhead() const { return lookAhead_; }
    glm::vec2 panOffset() const { return panOffset_; }
    // The point the view was built around in the last update.
    glm::vec2 viewCentre() const { return centre_; }

private:
    void stepSequence(Graphics::Context* graphics, HUD* hud, float dt);
    void buildView(glm::vec2 centre);
    float uniform(float a, float b);

    glm::mat4 projection_{1.0f};
    glm::mat4 viewProjection_{1.0f};
    std::array<btVector3, 6> normals_{};
    std::array<btScalar, 6> offsets_{};
    PhysicsWorld* physics_;
    b2Body* body_ = nullptr;
    glm::vec2 lookAhead_{0.0f, -1.5f};
    glm::vec2 panOffset_{0.0f};
    glm::vec2 panTarget_{0.0f};
    glm::vec2 panStart_{0.0f};
    float panDuration_ = 0.0f;
    float panElapsed_ = 0.0f;
    bool absolute_ = false;
    bool lookAheadRight_ = true;
    float lookAheadTime_ = 0.0f;
    bool lookAheadFrozen_ = false;
    bool locked_ = false;
    Player::Player* player_;
    bool hold_ = false;
    float shakeMin_ = 0.0f;
    float shakeMax_ = 0.0f;
    float directionMin_ = 0.0f;
    float directionMax_ = 1.0f;
    bool shakeSkip_ = false;
    std::minstd_rand random_{1};
    uint32_t sequenceState_ = 0;
    float sequenceTime_ = 0.0f;
    EventHandler* events_;
    std::vector<glm::vec3> path_;
    AnimatedValue cursor_;
    std::vector<Drawable> drawables_;
    float width_;
    float height_;
    DrawList::View view_;
    glm::vec2 centre_{0.0f};
    glm::vec2 lastFinite_{0.0f};
    bool reportedNonFinite_ = false;
};
