#include "physics/particles/ComputeDistance.h"

#include <box2d/b2_chain_shape.h>
#include <box2d/b2_circle_shape.h>
#include <box2d/b2_edge_shape.h>
#include <box2d/b2_polygon_shape.h>

#include <cfloat>
#include <cmath>

namespace {

void edgeDistance(b2Vec2 v1, b2Vec2 v2, const b2Transform& xf, b2Vec2 p, float* distance, b2Vec2* normal) {
    b2Vec2 const a = b2Mul(xf, v1);
    b2Vec2 const b = b2Mul(xf, v2);
    b2Vec2 d = p - a;
    b2Vec2 const s = b - a;
    float const ds = b2Dot(d, s);
    if (ds > 0.0f) {
        float const s2 = b2Dot(s, s);
        if (ds > s2) {
            d = p - b;
        } else {
            d -= (ds / s2) * s;
        }
    }
    float const length = d.Length();
    *distance = length;
    *normal = length > 0.0f ? (1.0f / length) * d : b2Vec2(0.0f, 0.0f);
}

}  // namespace

void computeDistance(const b2Shape& shape, const b2Transform& xf, b2Vec2 p, int32 child, float* distance,
                     b2Vec2* normal) {
    switch (shape.GetType()) {
    case b2Shape::e_circle: {
        auto const& circle = static_cast<const b2CircleShape&>(shape);
        b2Vec2 const d = p - b2Mul(xf, circle.m_p);
        float const length = d.Length();
        *distance = length - circle.m_radius;
        // At the centre any direction is as good; up pushes a liquid out of a ball's top.
        *normal = length > 0.0f ? (1.0f / length) * d : b2Vec2(0.0f, 1.0f);
        return;
    }
    case b2Shape::e_edge: {
        auto const& edge = static_cast<const b2EdgeShape&>(shape);
        edgeDistance(edge.m_vertex1, edge.m_vertex2, xf, p, distance, normal);
        return;
    }
    case b2Shape::e_chain: {
        auto const& chain = static_cast<const b2ChainShape&>(shape);
        if (child < 0 || child >= chain.GetChildCount()) {
            break;
        }
        b2EdgeShape edge;
        chain.GetChildEdge(&edge, child);
        edgeDistance(edge.m_vertex1, edge.m_vertex2, xf, p, distance, normal);
        return;
    }
    case b2Shape::e_polygon: {
        auto const& polygon = static_cast<const b2PolygonShape&>(shape);
        b2Vec2 const q = b2MulT(xf, p);
        float maxDistance = -FLT_MAX;
        b2Vec2 best = q;
        for (int32 i = 0; i < polygon.m_count; ++i) {
            float const t = b2Dot(polygon.m_normals[i], q - polygon.m_vertices[i]);
            if (t > maxDistance) {
                maxDistance = t;
                best = polygon.m_normals[i];
            }
        }
        if (maxDistance > 0.0f) {
            // Outside: the nearest point of the boundary. A vertex is never nearer than its
            // face's line, so comparing against vertices alone would keep the line's distance
            // beyond a corner; the segments give the corner its true distance and direction.
            float min2 = FLT_MAX;
            for (int32 i = 0; i < polygon.m_count; ++i) {
                b2Vec2 const v1 = polygon.m_vertices[i];
                b2Vec2 const v2 = polygon.m_vertices[i + 1 < polygon.m_count ? i + 1 : 0];
                b2Vec2 const s = v2 - v1;
                float const s2 = b2Dot(s, s);
                float const t = s2 > 0.0f ? b2Clamp(b2Dot(q - v1, s) / s2, 0.0f, 1.0f) : 0.0f;
                b2Vec2 const e = q - (v1 + t * s);
                float const e2 = e.LengthSquared();
                if (e2 < min2) {
                    min2 = e2;
                    best = e;
                }
            }
            *distance = std::sqrt(min2);
            *normal = b2Mul(xf.q, best);
            normal->Normalize();  // leaves a vector shorter than FLT_EPSILON as it is
        } else {
            *distance = maxDistance;
            *normal = b2Mul(xf.q, best);
        }
        return;
    }
    default:
        break;
    }
    *distance = FLT_MAX;
    *normal = b2Vec2(0.0f, 0.0f);
}
