#pragma once
// Level decorations that turn together about their pivots so that they face the player on screen.
#include <glm/vec3.hpp>

#include <vector>

#include "graphics/Drawable.h"
#include "level/PristineLevel.h"

class Camera;
namespace Player {
class Player;
}

class FacingMesh {
public:
    FacingMesh(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PristineLevel::DrawableGroup const& record);

    glm::vec3 const& pivot() const { return pivot_; }
    std::vector<Drawable>& drawables() { return drawables_; }

private:
    std::vector<Drawable> drawables_;
    glm::vec3 pivot_;
};

// Turns every mesh by one angle, taken from the screen-space centre of all pivots toward the
// player, so that each mesh's local negative x axis points at the player. Nothing without meshes.
void turnFacingMeshes(std::vector<FacingMesh>& meshes, Player::Player const& player, Camera const& camera);
