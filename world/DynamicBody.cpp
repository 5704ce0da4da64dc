#include "world/DynamicBody.h"

#include <box2d/b2_body.h>

#include <glm/gtc/matrix_transform.hpp>

#include "level/Fixtures.h"
#include "physics/particles/Box2DAdapter.h"
#include "physics/particles/PhysicsWorld.h"
#include "world/AnimatedMesh.h"
#include "world/AnimatedTexture.h"

DynamicBody::DynamicBody(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PhysicsWorld& physics,
                         PristineLevel::DynamicBody const& record, std::vector<FixtureSignal>* fixtureSignals,
                         std::vector<AnimatedTexture>* animatedTextures, std::vector<AnimatedMesh>* animatedMeshes)
    : body_(physics.CreateBody(Box2DAdapter::toBodyDef(record.bodyDef))),
      drawables_(Drawable::createDrawables(meshSet, drawList, record.drawables)),
      textures_(record.animatedTextures),
      animatedTextures_(animatedTextures),
      meshes_(record.animatedMeshes),
      animatedMeshes_(animatedMeshes) {
    createFixtures(record.shapes, body_, fixtureSignals);
}

void DynamicBody::update() {
    if (drawables_.empty() && textures_.empty() && meshes_.empty()) {
        return;
    }
    b2Vec2 const p = body_->GetPosition();
    float const angle = body_->GetAngle();
    if (p.x == placedAt_.x && p.y == placedAt_.y && angle == placedAngle_) {
        return;
    }
    placedAt_ = p;
    placedAngle_ = angle;
    glm::mat4 const m = glm::rotate(glm::translate(glm::mat4(1.0f), glm::vec3(p.x, p.y, 0.0f)), angle,
                                    glm::vec3(0.0f, 0.0f, 1.0f));
    for (Drawable& d : drawables_) {
        d.setTransform(m);
        d.updateBounds();
    }
    // Indices past the lists (or lists not built yet) are skipped.
    for (uint32_t i : textures_) {
        if (animatedTextures_ != nullptr && i < animatedTextures_->size()) {
            (*animatedTextures_)[i].setTransform(m);
        }
    }
    for (uint32_t i : meshes_) {
        if (animatedMeshes_ != nullptr && i < animatedMeshes_->size()) {
            (*animatedMeshes_)[i].setTransform(m);
        }
    }
}

void DynamicBody::show() {
    for (Drawable& d : drawables_) {
        d.show();
    }
}

void DynamicBody::hide() {
    for (Drawable& d : drawables_) {
        d.hide();
    }
}
