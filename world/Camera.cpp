#include "world/Camera.h"

#include <glm/gtc/matrix_transform.hpp>

#include "world/Player.h"
#include "world/WorldConstants.h"

Camera::Camera(PristineLevel::LevelInfo const&, PhysicsWorld&, Player::Player* player, EventHandler*,
               PristineLevel::MeshSet const&, DrawList*)
    : player_(player) {
    follow();
}

void Camera::update(float) { follow(); }

void Camera::follow() {
    position_ = player_->getPosition();
    float const halfWidth = 0.5f * screenWidth * worldScale;
    float const halfHeight = 0.5f * screenHeight * worldScale;
    viewProjection_ = glm::ortho(position_.x - halfWidth, position_.x + halfWidth, position_.y - halfHeight,
                                 position_.y + halfHeight, -1000.0f, 1000.0f);
    view_.normals = {btVector3(1, 0, 0), btVector3(-1, 0, 0), btVector3(0, 1, 0), btVector3(0, -1, 0)};
    view_.offsets = {-(position_.x - halfWidth), position_.x + halfWidth, -(position_.y - halfHeight),
                     position_.y + halfHeight};
    view_.position = position_;
}

glm::vec2 Camera::worldToScreen(glm::vec3 const& point) const {
    glm::vec4 const clip = viewProjection_ * glm::vec4(point, 1.0f);
    return glm::vec2((clip.x / clip.w + 1.0f) * 0.5f * screenWidth, (clip.y / clip.w + 1.0f) * 0.5f * screenHeight);
}
