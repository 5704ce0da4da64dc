#include "world/Outline.h"

#include <box2d/b2_body.h>
#include <box2d/b2_contact.h>
#include <box2d/b2_fixture.h>

#include <glm/geometric.hpp>

#include <algorithm>
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

glm::vec2 rotate(glm::vec2 v, float c, float s) { return glm::vec2(c * v.x - s * v.y, s * v.x + c * v.y); }

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
        rest_[std::size_t(k)] = unit(points_[std::size_t(k)] - centre);
    }
    fan_[pointCount + 1] = fan_[1];
    previous_ = points_;
    scratch_.fill(glm::vec2(0.0f));
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

void Outline::subStep(glm::vec2 n, bool grounded, bool dive, b2Body* body, float r) {
    // 1: follow the body.
    glm::vec2 const c = centroid();
    glm::vec2 const d = glm::vec2(body->GetPosition().x, body->GetPosition().y) - c;
    float const l = glm::length(d);
    glm::vec2 const u = l < epsilon ? glm::vec2(0.0f) : d / l;
    for (int k = 0; k < pointCount; ++k) {
        points_[std::size_t(k)] += u * (std::max(l - 0.05f, 0.0f) + 0.03f * std::min(l, 0.05f));
        previous_[std::size_t(k)] += u * std::max(l - 0.05f, 0.0f);
    }
    // 2: the rest direction nearest the ground normal turns the shape.
    float theta = 0.0f;
    if (n != glm::vec2(0.0f)) {
        // The smallest angle is the acos of the largest cosine.
        float nearest = -INFINITY;
        for (int k = 0; k < pointCount; ++k) {
            nearest = std::max(nearest, std::clamp(glm::dot(n, rest_[std::size_t(k)]), -1.0f, 1.0f));
        }
        float const best = std::acos(nearest);
        theta = n.x <= 0.0f ? best : -best;
    }
    float const cosTheta = std::cos(theta);
    float const sinTheta = std::sin(theta);
    // 3-4: shape force, Verlet.
    for (int k = 0; k < pointCount; ++k) {
        glm::vec2& p = points_[std::size_t(k)];
        glm::vec2 const target = rotate(rest_[std::size_t(k)], cosTheta, sinTheta);
        glm::vec2 const a = (glm::length(p - c) * target - (p - c)) * 0.0075f * 0.02f;
        glm::vec2 const next = 1.9925f * p - 0.9925f * previous_[std::size_t(k)] + 69.44444f * a;
        previous_[std::size_t(k)] = p;
        p = next;
    }
    // 5: edges keep the rim chord.
    float const rest = 2.0f * r * std::sin(pi / 16.0f);
    for (int pass = 0; pass < 5; ++pass) {
        for (int k = 0; k < pointCount; ++k) {
            int const j = (k + 1) % pointCount;
            glm::vec2 const delta = points_[std::size_t(j)] - points_[std::size_t(k)];
            float const length = glm::length(delta);
            if (length < epsilon) {
                continue;
            }
            glm::vec2 const correction = delta * (1.0f - rest / length) * 0.25f;
            scratch_[std::size_t(k)] += correction;
            scratch_[std::size_t(j)] -= correction;
        }
        for (int k = 0; k < pointCount; ++k) {
            points_[std::size_t(k)] += scratch_[std::size_t(k)];
            scratch_[std::size_t(k)] = glm::vec2(0.0f);
        }
    }
    // 6-7: rim normals (flattened while diving), then pressure toward the disc's area.
    float area = 0.0f;
    float perimeter = 0.0f;
    for (int k = 0; k < pointCount; ++k) {
        glm::vec2 const a = points_[std::size_t(k)];
        glm::vec2 const b = points_[std::size_t((k + 1) % pointCount)];
        area += a.x * b.y - b.x * a.y;
        perimeter += glm::length(b - a);
    }
    area = std::fabs(area) * 0.5f;
    std::array<glm::vec2, pointCount> normals;
    for (int k = 0; k < pointCount; ++k) {
        glm::vec2 const e = unit(points_[std::size_t((k + 1) % pointCount)] - points_[std::size_t(k)]);
        glm::vec2 normal(e.y, -e.x);
        if (dive) {
            if (!grounded) {
                if (e.x > 0.0f) {
                    normal.x *= 0.1f;
                }
            } else if (e.x >= 0.0f) {
                normal = glm::vec2(normal.x, 0.0f);
                points_[std::size_t(k)].y -= 0.01f;
            } else {
                normal = glm::vec2(normal.x, -4.0f * e.x);
                points_[std::size_t(k)].y -= 0.0075f;
            }
            normal = unit(normal);
        }
        normals[std::size_t(k)] = normal;
    }
    if (perimeter > epsilon) {
        float const f = ((pi * r * r - area) * 0.5f) / perimeter;
        for (int k = 0; k < pointCount; ++k) {
            int const next = (k + 1) % pointCount;
            points_[std::size_t(next)] += f * (normals[std::size_t(k)] + normals[std::size_t(next)]);
        }
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
                previous_[std::size_t(k)] = p;
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
