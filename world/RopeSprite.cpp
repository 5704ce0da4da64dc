#include "world/RopeSprite.h"

#include <box2d/b2_joint.h>
#include <box2d/b2_pulley_joint.h>

#include <cmath>
#include <cstdio>

#include "graphics/Texture.h"
#include "world/PulleyRopeSprite.h"
#include "world/WorldConstants.h"

namespace {

constexpr int pulleyVariant = 5;

b2Joint* jointAt(std::vector<b2Joint*> const& joints, int32_t index) {
    return index >= 0 && std::size_t(index) < joints.size() ? joints[std::size_t(index)] : nullptr;
}

glm::vec2 toGlm(b2Vec2 v) { return glm::vec2(v.x, v.y); }

}  // namespace

RopeStrip::RopeStrip(QuadInstance const& quad, glm::vec2 scale, float vStart)
    : texture(quad.texture()), widthScale(scale.x), repeat(scale.y), vStart(vStart) {}

glm::vec2 RopeStrip::textureSize() const {
    return texture != nullptr ? glm::vec2(float(texture->width()), float(texture->height())) * worldScale
                              : glm::vec2(0.0f);
}

void RopeStrip::build(QuadInstance& quad, glm::vec2 p, glm::vec2 q) const {
    glm::vec2 const size = textureSize();
    glm::vec2 const d = q - p;
    float const length = std::sqrt(d.x * d.x + d.y * d.y);
    // A texture of no height would repeat without end: the strip then keeps v at its start.
    float const vEnd = size.y > 0.0f ? vStart + length * repeat / size.y : vStart;
    float const a = std::atan2(d.y, d.x) + 1.57079632679f;
    float const halfWidth = widthScale * size.x * 0.5f;
    glm::vec2 const offset = halfWidth * glm::vec2(std::cos(a), std::sin(a));
    glm::vec2 const p0 = p - offset, q0 = q - offset, p1 = p + offset, q1 = q + offset;
    float const vertices[QuadInstance::kFloats] = {p0.x, p0.y, 0.0f, 0.0f, vStart, q0.x, q0.y, 0.0f, 0.0f, vEnd,
                                                   p1.x, p1.y, 0.0f, 1.0f, vStart, q1.x, q1.y, 0.0f, 1.0f, vEnd};
    quad.setVertices(vertices, false, true);
}

RopeSprite::RopeSprite(PristineLevel::MeshSet const& meshSet, DrawList* drawList, std::vector<b2Joint*> const& joints,
                       PristineLevel::JointSprite const& record, Graphics::Context* graphics)
    : quad_(meshSet, *drawList, record.drawable),
      joint_(jointAt(joints, record.joint)),
      strip_(quad_, record.scale, record.vStart),
      graphics_(graphics) {
    if (joint_ == nullptr) {
        std::fprintf(stderr, "RopeSprite: joint %d of %zu not built; the rope is not drawn\n", record.joint,
                     joints.size());
        quad_.hide();
    }
}

void RopeSprite::update(float) {
    if (joint_ != nullptr) {
        strip_.build(quad_, toGlm(joint_->GetAnchorA()), toGlm(joint_->GetAnchorB()));
    }
}

void RopeSprite::draw() {
    if (joint_ != nullptr) {
        quad_.upload(graphics_);
    }
}

PulleyRopeSprite::PulleyRopeSprite(PristineLevel::MeshSet const& meshSet, DrawList* drawList,
                                   std::vector<b2Joint*> const& joints,
                                   std::vector<PristineLevel::JointRecord> const& records,
                                   PristineLevel::JointSpritePair const& record, Graphics::Context* graphics)
    : ropeA_(meshSet, *drawList, record.drawableA),
      ropeB_(meshSet, *drawList, record.drawableB),
      strip_(ropeA_, record.scale, record.vStart),
      graphics_(graphics) {
    b2Joint* joint = jointAt(joints, record.joint);
    bool const pulley = joint != nullptr && std::size_t(record.joint) < records.size() &&
                        records[std::size_t(record.joint)].def.which() == pulleyVariant;
    if (!pulley) {
        std::fprintf(stderr, "PulleyRopeSprite: joint %d is no built pulley; the ropes are not drawn\n",
                     record.joint);
        ropeA_.hide();
        ropeB_.hide();
        return;
    }
    joint_ = static_cast<b2PulleyJoint*>(joint);
}

void PulleyRopeSprite::update(float) {
    if (joint_ != nullptr) {
        strip_.build(ropeA_, toGlm(joint_->GetAnchorA()), toGlm(joint_->GetGroundAnchorA()));
        strip_.build(ropeB_, toGlm(joint_->GetAnchorB()), toGlm(joint_->GetGroundAnchorB()));
    }
}

void PulleyRopeSprite::draw() {
    if (joint_ != nullptr) {
        ropeA_.upload(graphics_);
        ropeB_.upload(graphics_);
    }
}
