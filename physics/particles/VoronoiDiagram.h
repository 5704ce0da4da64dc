#pragma once
// A discrete Voronoi diagram of points on a grid of small cells: each cell belongs to its nearest
// generator, found by a breadth-first flood and relaxed by local updates. Neighbouring cells of
// three different owners give the triangles of an approximate Delaunay triangulation.
#include <box2d/b2_math.h>

#include <cstdint>
#include <functional>
#include <vector>

class VoronoiDiagram {
public:
    explicit VoronoiDiagram(std::int32_t generatorCapacity);

    void AddGenerator(b2Vec2 center, std::int32_t tag);
    // Fills the grid with cells `radius` wide.
    void Generate(float radius);
    // Calls back with the generator tags of each triangle.
    template <class Callback>
    void GetNodes(Callback&& callback) const;

    std::int32_t GetCountX() const { return countX_; }
    std::int32_t GetCountY() const { return countY_; }
    // Tag of the generator owning cell (x, y), -1 for none.
    std::int32_t GetOwner(std::int32_t x, std::int32_t y) const;

private:
    struct Generator {
        b2Vec2 center;
        std::int32_t tag = 0;
    };
    struct Task {
        std::int32_t x;
        std::int32_t y;
        std::int32_t i;
        const Generator* generator;
    };

    void pushNeighbours(std::int32_t x, std::int32_t y, std::int32_t i, const Generator* g);

    std::vector<Generator> generators_;
    std::int32_t countX_ = 0;
    std::int32_t countY_ = 0;
    std::vector<const Generator*> diagram_;
    // A queue that grows as needed, so no push is ever dropped and every cell gets an owner.
    std::vector<Task> queue_;
    std::size_t head_ = 0;
};

template <class Callback>
void VoronoiDiagram::GetNodes(Callback&& callback) const {
    for (std::int32_t y = 0; y < countY_ - 1; ++y) {
        for (std::int32_t x = 0; x < countX_ - 1; ++x) {
            std::int32_t const i = x + y * countX_;
            const Generator* a = diagram_[std::size_t(i)];
            const Generator* b = diagram_[std::size_t(i + 1)];
            const Generator* c = diagram_[std::size_t(i + countX_)];
            const Generator* d = diagram_[std::size_t(i + 1 + countX_)];
            if (b == c || a == nullptr || b == nullptr || c == nullptr || d == nullptr) {
                continue;
            }
            if (a != b && a != c) {
                callback(a->tag, b->tag, c->tag);
            }
            if (d != b && d != c) {
                callback(b->tag, d->tag, c->tag);
            }
        }
    }
}
