#pragma once
// Builds packed shape records byte by byte, the way a level file stores them.
#include <box2d/b2_math.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "level/PristineLevelBasics.h"

struct PackedShapeBuilder {
    std::uint32_t type = 0;
    float radius = 0.1f;
    float density = 1.0f;
    std::uint16_t category = 1;
    std::uint16_t mask = 0xFFFF;
    std::int16_t group = 0;
    float restitution = 0.0f;
    float friction = 0.5f;
    std::uint8_t sensor = 0;
    std::uint32_t userData = 0xFFFFFFFFu;

    PackedShape bytes;

    template <class T>
    void put(T v) {
        std::uint8_t raw[sizeof(T)];
        std::memcpy(raw, &v, sizeof(T));
        bytes.insert(bytes.end(), raw, raw + sizeof(T));
    }
    void put(b2Vec2 v) {
        put(v.x);
        put(v.y);
    }
    void header() {
        bytes.clear();
        put(type);
        put(radius);
        put(density);
        put(category);
        put(mask);
        put(group);
        put(restitution);
        put(friction);
        put(sensor);
        put(userData);
    }

    PackedShape circle(b2Vec2 centre) {
        type = 0;
        header();
        put(centre);
        return bytes;
    }
    PackedShape edge(b2Vec2 v1, b2Vec2 v2, b2Vec2 v0, b2Vec2 v3, bool has0, bool has3) {
        type = 1;
        header();
        put(v1);
        put(v2);
        put(v0);
        put(v3);
        put(std::uint8_t(has0));
        put(std::uint8_t(has3));
        return bytes;
    }
    PackedShape polygon(b2Vec2 centroid, const std::vector<b2Vec2>& vertices, const std::vector<b2Vec2>& normals) {
        type = 2;
        header();
        put(centroid);
        put(std::int32_t(vertices.size()));
        for (b2Vec2 v : vertices) {
            put(v);
        }
        for (b2Vec2 n : normals) {
            put(n);
        }
        return bytes;
    }
    PackedShape box(float hx, float hy) {
        return polygon({0, 0}, {{-hx, -hy}, {hx, -hy}, {hx, hy}, {-hx, hy}}, {{0, -1}, {1, 0}, {0, 1}, {-1, 0}});
    }
    PackedShape chain(const std::vector<b2Vec2>& vertices, b2Vec2 prev, b2Vec2 next, bool hasPrev, bool hasNext) {
        type = 3;
        header();
        put(std::int32_t(vertices.size()));
        for (b2Vec2 v : vertices) {
            put(v);
        }
        put(prev);
        put(next);
        put(std::uint8_t(hasPrev));
        put(std::uint8_t(hasNext));
        return bytes;
    }
};
