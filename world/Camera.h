#pragma once
// The view of the world: centred on the player, one world unit = 85 virtual pixels, a
// 1280 x 720 virtual screen. It supplies the draw list's culling view and the matrix the
// world draws with.
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>

#include "graphics/DrawList.h"
#include "level/PristineLevel.h"

class EventHandler;
class PhysicsWorld;
namespace Player {
class Player;
}

class Camera {
public:
    static constexpr float screenWidth = 1280.0f;
    static constexpr float screenHeight = 720.0f;

    Camera(PristineLevel::LevelInfo const& info, PhysicsWorld& physics, Player::Player* player, EventHandler* events,
           PristineLevel::MeshSet const& meshSet, DrawList* drawList);

    void update(float dt);
    void startEndSequence() { endSequence_ = true; }
    bool endSequenceStarted() const { return endSequence_; }

    glm::vec2 getPosition() const { return position_; }
    glm::mat4 const& getViewProjection() const { return viewProjection_; }
    // A world point in virtual screen pixels, y up.
    glm::vec2 worldToScreen(glm::vec3 const& point) const;
    DrawList::View const& view() const { return view_; }

private:
    void follow();

    Player::Player* player_;
    glm::vec2 position_{0.0f};
    glm::mat4 viewProjection_{1.0f};
    DrawList::View view_;
    bool endSequence_ = false;
};
