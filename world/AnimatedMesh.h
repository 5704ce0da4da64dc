#pragma once
// A level mesh whose vertices morph through stored frames (with an optional per-frame
// brightness), driven by an animated value that level signals play, pause, reverse, finish and
// reset. Frames are only blended for meshes that were on screen.
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <vector>

#include "graphics/Drawable.h"
#include "level/PristineLevel.h"
#include "world/AnimatedValue.h"

class DrawList;
namespace Graphics {
class Context;
}

class AnimatedMesh {
public:
    using FrameData = std::vector<std::vector<uint8_t>>;

    // Frame data that is missing, of stride 0, not a whole number of floats or of no frames gives
    // a mesh that stays as it is drawn (logged).
    AnimatedMesh(PristineLevel::MeshSet const& meshSet, DrawList* drawList, PristineLevel::AnimatedMesh const& record,
                 FrameData const& frameData, Graphics::Context* graphics = nullptr);

    AnimatedValue& animation() { return animation_; }
    void update(float dtMs);
    void draw();
    void setTransform(glm::mat4 const& m) { drawable_.setTransform(m); }
    bool isEnabled() const { return frameCount_ != 0; }
    std::vector<float> const& vertices() const { return vertices_; }
    float brightness() const { return brightness_; }
    bool isHidden() const { return drawable_.isHidden(); }

private:
    bool hasLeaf() const { return drawable_.handle() != nullptr && drawable_.handle()->leaf != nullptr; }
    void sample();

    Drawable drawable_;
    std::vector<float> frames_;
    uint64_t frameCount_ = 0;
    AnimatedValue animation_;
    std::vector<float> vertices_;
    bool hideWhenFinished_;
    uint8_t interpolation_;
    std::vector<float> track_;
    float brightness_ = 1.0f;
    bool visibleLastFrame_ = true;
    Graphics::Context* graphics_;
};
