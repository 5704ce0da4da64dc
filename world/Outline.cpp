#include "world/Outline.h"

#include <box2d/b2_body.h>
#include <box2d/b2_contact.h>
#include <box2d/b2_fixture.h>

#include <glm/geometric.hpp>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cmath>

#include "graphics/StandardShader.h"
#include "os/Assets.h"

namespace Player {

namespace {

constexpr float pi = 3.14159265358979f;
constexpr float epsilon = 1.1920929e-7f;

glm::vec2 unit(glm::vec2 v) {
    float const length = glm::length(v);
    return length >= epsilon ? v / length : glm::vec2(0.0f);
}

}  // namespace

Outline::Outline(Graphics::Context* graphics, glm::vec2 centre, float radius)
    : texture_(graphics, TextureDescriptor("art/character/Body.png", TextureOptions(1, 1, 0, 0), 0)) {
    reset(centre, radius);
}

void Outline::reset(glm::vec2 centre, float radius) {
    float const big = 1.425f * radius;
    fan_[0] = Vertex{centre, glm::vec2(0.5f, 0.5f)};
    for (int k = 0; k < pointCount; ++k) {
        float const a = float(k) * pi / 8.0f;
        fan_[std::size_t(k + 1)] = Vertex{centre + big * glm::vec2(std::cos(a), std::sin(a)),
                                          glm::vec2(0.5f + 0.5f * std::cos(a), 0.5f - 0.5f * std::sin(a))};
        points_[std::size_t(k)] = centre + (fan_[std::size_t(k + 1)].position - centre) * 0.7017544f;
        glm::vec2 const rest = unit(points_[std::size_t(k)] - centre);
        restX_[std::size_t(k)] = rest.x;
        restY_[std::size_t(k)] = rest.y;
        previousX_[std::size_t(k)] = points_[std::size_t(k)].x;
        previousY_[std::size_t(k)] = points_[std::size_t(k)].y;
    }
    fan_[pointCount + 1] = fan_[1];
}

glm::vec2 Outline::centroid() const {
    glm::vec2 sum(0.0f);
    for (glm::vec2 const& p : points_) {
        sum += p;
    }
    return sum / float(pointCount);
}

void Outline::update(glm::vec2 groundNormal, bool grounded, ControlSchemeInputState const& input, b2Body* body,
                     float r) {
    for (int i = 0; i < 2; ++i) {
        subStep(groundNormal, grounded, input.dive != 0, body, r);
    }
}

namespace {

using Row = std::array<float, Outline::pointCount + 1>;

// +0 where keep is false, else the value, without a branch, so the loops run on vector lanes.
float masked(float value, bool keep) {
    return std::bit_cast<float>(std::bit_cast<uint32_t>(value) & (0u - uint32_t(keep)));
}

}  // namespace

// The rim is worked on as separate x and y rows with the first point repeated at the end, so the
// per-point loops run on vector lanes. Every sum is still taken in the order the points come, so
// the outline is the same to the bit as when it was stepped one point after another.
void Outline::subStep(glm::vec2 n, bool grounded, bool dive, b2Body* body, float r) {
    // 1: follow the body.
    glm::vec2 const c = centroid();
    glm::vec2 const d = glm::vec2(body->GetPosition().x, body->GetPosition().y) - c;
    float const l = glm::length(d);
    glm::vec2 const u = l < epsilon ? glm::vec2(0.0f) : d / l;
    glm::vec2 const follow = u * (std::max(l - 0.05f, 0.0f) + 0.03f * std::min(l, 0.05f));
    glm::vec2 const drag = u * std::max(l - 0.05f, 0.0f);
    Row xs, ys;
    for (int k = 0; k < pointCount; ++k) {
        xs[std::size_t(k)] = points_[std::size_t(k)].x + follow.x;
        ys[std::size_t(k)] = points_[std::size_t(k)].y + follow.y;
        previousX_[std::size_t(k)] += drag.x;
        previousY_[std::size_t(k)] += drag.y;
    }
    // 2: the rest direction nearest the ground normal turns the shape.
    float theta = 0.0f;
    if (n != glm::vec2(0.0f)) {
        // The smallest angle is the acos of the largest cosine.
        float nearest = -INFINITY;
        for (int k = 0; k < pointCount; ++k) {
            glm::vec2 const rest(restX_[std::size_t(k)], restY_[std::size_t(k)]);
            nearest = std::max(nearest, std::clamp(glm::dot(n, rest), -1.0f, 1.0f));
        }
        float const best = std::acos(nearest);
        theta = n.x <= 0.0f ? best : -best;
    }
    float const cosTheta = std::cos(theta);
    float const sinTheta = std::sin(theta);
    // 3-4: shape force, Verlet.
    for (int k = 0; k < pointCount; ++k) {
        float const px = xs[std::size_t(k)];
        float const py = ys[std::size_t(k)];
        float const dx = px - c.x;
        float const dy = py - c.y;
        float const length = std::sqrt(dx * dx + dy * dy);
        float const tx = cosTheta * restX_[std::size_t(k)] - sinTheta * restY_[std::size_t(k)];
        float const ty = sinTheta * restX_[std::size_t(k)] + cosTheta * restY_[std::size_t(k)];
        float const ax = (length * tx - dx) * 0.0075f * 0.02f;
        float const ay = (length * ty - dy) * 0.0075f * 0.02f;
        xs[std::size_t(k)] = 1.9925f * px - 0.9925f * previousX_[std::size_t(k)] + 69.44444f * ax;
        ys[std::size_t(k)] = 1.9925f * py - 0.9925f * previousY_[std::size_t(k)] + 69.44444f * ay;
        previousX_[std::size_t(k)] = px;
        previousY_[std::size_t(k)] = py;
    }
    // 5: edges keep the rim chord. A pass corrects every edge of the rim as it stood before the
    // pass.
    float const rest = 2.0f * r * std::sin(pi / 16.0f);
    Row cxs, cys;
    for (int pass = 0; pass < 5; ++pass) {
        xs[pointCount] = xs[0];
        ys[pointCount] = ys[0];
        // Edge k's correction goes to slot k + 1; slot 0 repeats the last edge's. A collapsed
        // edge corrects nothing.
        for (int k = 0; k < pointCount; ++k) {
            float const dx = xs[std::size_t(k + 1)] - xs[std::size_t(k)];
            float const dy = ys[std::size_t(k + 1)] - ys[std::size_t(k)];
            float const length = std::sqrt(dx * dx + dy * dy);
            float const f = 1.0f - rest / length;
            bool const keep = !(length < epsilon);
            cxs[std::size_t(k + 1)] = masked(dx * f * 0.25f, keep);
            cys[std::size_t(k + 1)] = masked(dy * f * 0.25f, keep);
        }
        cxs[0] = cxs[pointCount];
        cys[0] = cys[pointCount];
        // Each point gives back the share of the edge before it, then takes its own edge's: the
        // order the edges used to reach it in.
        for (int k = 0; k < pointCount; ++k) {
            xs[std::size_t(k)] += (0.0f - cxs[std::size_t(k)]) + cxs[std::size_t(k + 1)];
            ys[std::size_t(k)] += (0.0f - cys[std::size_t(k)]) + cys[std::size_t(k + 1)];
        }
    }
    xs[pointCount] = xs[0];
    ys[pointCount] = ys[0];
    // 6-7: rim normals (flattened while diving), then pressure toward the disc's area.
    Row lengths, crosses;
    for (int k = 0; k < pointCount; ++k) {
        float const dx = xs[std::size_t(k + 1)] - xs[std::size_t(k)];
        float const dy = ys[std::size_t(k + 1)] - ys[std::size_t(k)];
        lengths[std::size_t(k)] = std::sqrt(dx * dx + dy * dy);
        crosses[std::size_t(k)] =
            xs[std::size_t(k)] * ys[std::size_t(k + 1)] - xs[std::size_t(k + 1)] * ys[std::size_t(k)];
    }
    float area = 0.0f;
    float perimeter = 0.0f;
    for (int k = 0; k < pointCount; ++k) {
        area += crosses[std::size_t(k)];
        perimeter += lengths[std::size_t(k)];
    }
    area = std::fabs(area) * 0.5f;
    // Each normal is also kept in slot k + 1, slot 0 repeating the last.
    Row nxs, nys;
    if (!dive) {
        for (int k = 0; k < pointCount; ++k) {
            float const length = lengths[std::size_t(k)];
            bool const keep = length >= epsilon;
            float const ex = masked((xs[std::size_t(k + 1)] - xs[std::size_t(k)]) / length, keep);
            float const ey = masked((ys[std::size_t(k + 1)] - ys[std::size_t(k)]) / length, keep);
            nxs[std::size_t(k + 1)] = ey;
            nys[std::size_t(k + 1)] = -ex;
        }
    } else {
        // Diving lowers points as it goes, so the last edge sees the first point lowered.
        for (int k = 0; k < pointCount; ++k) {
            glm::vec2 const e = unit(glm::vec2(xs[std::size_t(k + 1)] - xs[std::size_t(k)],
                                               ys[std::size_t(k + 1)] - ys[std::size_t(k)]));
            glm::vec2 normal(e.y, -e.x);
            if (!grounded) {
                if (e.x > 0.0f) {
                    normal.x *= 0.1f;
                }
            } else if (e.x >= 0.0f) {
                normal = glm::vec2(normal.x, 0.0f);
                ys[std::size_t(k)] -= 0.01f;
            } else {
                normal = glm::vec2(normal.x, -4.0f * e.x);
                ys[std::size_t(k)] -= 0.0075f;
            }
            if (k == 0) {
                ys[pointCount] = ys[0];
            }
            normal = unit(normal);
            nxs[std::size_t(k + 1)] = normal.x;
            nys[std::size_t(k + 1)] = normal.y;
        }
    }
    nxs[0] = nxs[pointCount];
    nys[0] = nys[pointCount];
    if (perimeter > epsilon) {
        float const f = ((pi * r * r - area) * 0.5f) / perimeter;
        // Point k takes the normals of the edges either side of it.
        for (int k = 0; k < pointCount; ++k) {
            xs[std::size_t(k)] += f * (nxs[std::size_t(k)] + nxs[std::size_t(k + 1)]);
            ys[std::size_t(k)] += f * (nys[std::size_t(k)] + nys[std::size_t(k + 1)]);
        }
    }
    for (int k = 0; k < pointCount; ++k) {
        points_[std::size_t(k)] = glm::vec2(xs[std::size_t(k)], ys[std::size_t(k)]);
    }
    // 8: nothing passes through what the body touches.
    for (b2ContactEdge* edge = body->GetContactList(); edge != nullptr; edge = edge->next) {
        b2Contact* contact = edge->contact;
        bool const ownIsA = contact->GetFixtureA()->GetBody() == body;
        b2Fixture* other = ownIsA ? contact->GetFixtureB() : contact->GetFixtureA();
        int32 const child = ownIsA ? contact->GetChildIndexB() : contact->GetChildIndexA();
        if (!contact->IsTouching() || other->IsSensor()) {
            continue;
        }
        // A ray whose box misses the fixture's (enlarged) box cannot hit it.
        b2AABB const& box = other->GetAABB(child);
        for (int k = 0; k < pointCount; ++k) {
            glm::vec2& p = points_[std::size_t(k)];
            if (std::max(c.x, p.x) < box.lowerBound.x || std::min(c.x, p.x) > box.upperBound.x ||
                std::max(c.y, p.y) < box.lowerBound.y || std::min(c.y, p.y) > box.upperBound.y) {
                continue;
            }
            b2RayCastInput ray;
            ray.p1 = b2Vec2(c.x, c.y);
            ray.p2 = b2Vec2(p.x, p.y);
            ray.maxFraction = 1.0f;
            b2RayCastOutput hit;
            if (other->RayCast(&hit, ray, child)) {
                p = c + hit.fraction * (p - c);
                previousX_[std::size_t(k)] = p.x;
                previousY_[std::size_t(k)] = p.y;
            }
        }
    }
}

void Outline::pose(glm::vec2 up) {
    glm::vec2 const c = centroid();
    glm::vec2 const four = unit(points_[4] - c);
    float beta = std::acos(std::clamp(four.y, -1.0f, 1.0f));
    if (four.x > 0.0f) {
        beta = -beta;
    }
    float alpha = std::acos(std::clamp(up.y, -1.0f, 1.0f));
    if (up.x <= 0.0f) {
        alpha = -alpha;
    }
    fan_[0].position = c;
    for (int k = 0; k < pointCount; ++k) {
        float const phi = alpha + beta + float(k) * pi / 8.0f;
        fan_[std::size_t(k + 1)] = Vertex{c + (points_[std::size_t(k)] - c) * 1.425f,
                                          glm::vec2(0.5f + 0.5f * std::cos(phi), 0.5f - 0.5f * std::sin(phi))};
    }
    fan_[pointCount + 1] = fan_[1];
}

void Outline::draw(Graphics::StandardShader* shader) const {
    texture_.bind(GL_TEXTURE0);
    auto const base = reinterpret_cast<uintptr_t>(fan_.data());
    shader->setVertexAttribute(0, 0, base, sizeof(Vertex), 2, GL_FLOAT);
    shader->setVertexAttribute(0, 1, base + sizeof(glm::vec2), sizeof(Vertex), 2, GL_FLOAT);
    shader->drawArrays(GL_TRIANGLE_FAN, 0, GLsizei(fan_.size()));
}

}  // namespace Player
