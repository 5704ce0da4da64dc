#pragma once
// A level body: its Box2D body with the level's fixtures and the drawables that follow it.
#include <box2d/b2_math.h>

#include <cmath>
#include <vector>

#include "graphics/Drawable.h"
#include "level/PristineLevel.h"

class b2Body;
class PhysicsWorld;
class AnimatedTexture;
class AnimatedMesh;

class DynamicBody {
public:
    DynamicBody(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PhysicsWorld& physics,
                PristineLevel::DynamicBody const& record, std::vector<FixtureSignal>* fixtureSignals,
                std::vector<AnimatedTexture>* animatedTextures, std::vector<AnimatedMesh>* animatedMeshes);

    b2Body* getBody() const { return body_; }
    // Moves the drawables and the attached animations with the body; a body that has not moved
    // costs nothing.
    void update();
    void show();
    void hide();

private:
    b2Body* body_ = nullptr;
    std::vector<Drawable> drawables_;
    std::vector<uint32_t> textures_;
    std::vector<AnimatedTexture>* animatedTextures_;
    std::vector<uint32_t> meshes_;
    std::vector<AnimatedMesh>* animatedMeshes_;
    b2Vec2 placedAt_{NAN, NAN};
    float placedAngle_ = NAN;
};
