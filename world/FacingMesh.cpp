#include "world/FacingMesh.h"

#include <glm/gtc/matrix_transform.hpp>

#include <cmath>

#include "world/Camera.h"
#include "world/Player.h"

FacingMesh::FacingMesh(PristineLevel::MeshSet const& meshSet, DrawList* drawList,
                       PristineLevel::DrawableGroup const& record)
    : drawables_(Drawable::createDrawables(meshSet, drawList, record.drawables)), pivot_(record.pivot) {}

void turnFacingMeshes(std::vector<FacingMesh>& meshes, Player::Player const& player, Camera const& camera) {
    if (meshes.empty()) {
        return;
    }
    glm::vec2 sum(0.0f);
    for (FacingMesh const& mesh : meshes) {
        sum += camera.worldToScreen(mesh.pivot());
    }
    glm::vec2 const mean = sum / float(meshes.size());
    glm::vec2 const target = camera.worldToScreen(glm::vec3(player.getPosition(), 0.0f));
    float const dx = target.x - mean.x;
    float const dy = target.y - mean.y;
    float const angle = std::atan2(dx, -dy) + float(M_PI) / 2.0f;
    for (FacingMesh& mesh : meshes) {
        glm::mat4 const m = glm::translate(glm::rotate(glm::translate(glm::mat4(1.0f), mesh.pivot()), angle,
                                                       glm::vec3(0.0f, 0.0f, 1.0f)),
                                           -mesh.pivot());
        for (Drawable& d : mesh.drawables()) {
            d.setTransform(m);
            d.updateBounds();
        }
    }
}
