#pragma once
// A sprite sheet played on a level quad that fades in and out on level signals: it fades in only
// while both its shown and active flags are set.
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include "graphics/QuadInstance.h"
#include "graphics/SpriteSheetAnimation.h"
#include "level/PristineLevel.h"

class DrawList;
namespace Graphics {
class Context;
}

class AnimatedTexture {
public:
    // A sheet with no frames or no columns is built disabled and stays hidden (logged).
    AnimatedTexture(PristineLevel::MeshSet const& meshSet, DrawList* drawList,
                    PristineLevel::AnimatedTexture const& record, Graphics::Context* graphics = nullptr);

    void restart() { animation_.restart(); }
    void show() { shown_ = true; }
    void hide() { shown_ = false; }
    void activate() { active_ = true; }
    void deactivate() { active_ = false; }
    void update(float dt);
    void draw();
    void setTransform(glm::mat4 const& m) { quad_.setTransform(m); }

    bool isShown() const { return shown_; }
    bool isActive() const { return active_; }
    float fade() const { return fade_; }
    SpriteSheetAnimation const& animation() const { return animation_; }

private:
    QuadInstance quad_;
    SpriteSheetAnimation animation_;
    float fade_;
    float fadeInRate_;
    float fadeOutRate_;
    glm::vec4 baseColor_{1.0f};
    bool shown_;
    bool active_;
    bool enabled_;
    Graphics::Context* graphics_;
};
