#include "physics/particles/VoronoiDiagram.h"

#include <algorithm>

VoronoiDiagram::VoronoiDiagram(std::int32_t generatorCapacity) {
    generators_.reserve(std::size_t(std::max(generatorCapacity, 0)));
}

void VoronoiDiagram::AddGenerator(b2Vec2 center, std::int32_t tag) { generators_.push_back(Generator{center, tag}); }

std::int32_t VoronoiDiagram::GetOwner(std::int32_t x, std::int32_t y) const {
    if (x < 0 || y < 0 || x >= countX_ || y >= countY_) {
        return -1;
    }
    const Generator* g = diagram_[std::size_t(x + y * countX_)];
    return g != nullptr ? g->tag : -1;
}

void VoronoiDiagram::pushNeighbours(std::int32_t x, std::int32_t y, std::int32_t i, const Generator* g) {
    if (x > 0) {
        queue_.push_back(Task{x - 1, y, i - 1, g});
    }
    if (y > 0) {
        queue_.push_back(Task{x, y - 1, i - countX_, g});
    }
    if (x < countX_ - 1) {
        queue_.push_back(Task{x + 1, y, i + 1, g});
    }
    if (y < countY_ - 1) {
        queue_.push_back(Task{x, y + 1, i + countX_, g});
    }
}

void VoronoiDiagram::Generate(float radius) {
    countX_ = countY_ = 0;
    diagram_.clear();
    if (generators_.empty() || !(radius > 0.0f)) {
        return;
    }
    float const inv = 1.0f / radius;
    b2Vec2 lower(b2_maxFloat, b2_maxFloat);
    b2Vec2 upper(-b2_maxFloat, -b2_maxFloat);
    for (Generator const& g : generators_) {
        lower = b2Min(lower, g.center);
        upper = b2Max(upper, g.center);
    }
    float const spanX = inv * (upper.x - lower.x);
    float const spanY = inv * (upper.y - lower.y);
    // Group creation caps the lattice, so a grid this large only comes from damaged positions.
    if (!(spanX >= 0.0f && spanY >= 0.0f && (spanX + 1.0f) * (spanY + 1.0f) < 6.4e7f)) {
        return;
    }
    countX_ = 1 + std::int32_t(spanX);
    countY_ = 1 + std::int32_t(spanY);
    diagram_.assign(std::size_t(countX_) * std::size_t(countY_), nullptr);
    queue_.clear();
    head_ = 0;
    queue_.reserve(4 * std::size_t(countX_) * std::size_t(countY_));
    for (Generator& g : generators_) {
        g.center = inv * (g.center - lower);
        std::int32_t const x = std::clamp(std::int32_t(g.center.x), 0, countX_ - 1);
        std::int32_t const y = std::clamp(std::int32_t(g.center.y), 0, countY_ - 1);
        queue_.push_back(Task{x, y, x + y * countX_, &g});
    }
    while (head_ < queue_.size()) {
        Task const task = queue_[head_++];
        if (diagram_[std::size_t(task.i)] == nullptr) {
            diagram_[std::size_t(task.i)] = task.generator;
            pushNeighbours(task.x, task.y, task.i, task.generator);
        }
    }
    queue_.clear();
    head_ = 0;
    std::int32_t const rounds = countX_ + countY_;
    for (std::int32_t round = 0; round < rounds; ++round) {
        for (std::int32_t y = 0; y < countY_; ++y) {
            for (std::int32_t x = 0; x < countX_ - 1; ++x) {
                std::int32_t const i = x + y * countX_;
                const Generator* a = diagram_[std::size_t(i)];
                const Generator* b = diagram_[std::size_t(i + 1)];
                if (a != b) {
                    queue_.push_back(Task{x, y, i, b});
                    queue_.push_back(Task{x + 1, y, i + 1, a});
                }
            }
        }
        for (std::int32_t y = 0; y < countY_ - 1; ++y) {
            for (std::int32_t x = 0; x < countX_; ++x) {
                std::int32_t const i = x + y * countX_;
                const Generator* a = diagram_[std::size_t(i)];
                const Generator* b = diagram_[std::size_t(i + countX_)];
                if (a != b) {
                    queue_.push_back(Task{x, y, i, b});
                    queue_.push_back(Task{x, y + 1, i + countX_, a});
                }
            }
        }
        bool updated = false;
        while (head_ < queue_.size()) {
            Task const task = queue_[head_++];
            const Generator* a = diagram_[std::size_t(task.i)];
            const Generator* k = task.generator;
            if (a != k) {
                b2Vec2 const cell(float(task.x), float(task.y));
                if ((a->center - cell).LengthSquared() > (k->center - cell).LengthSquared()) {
                    diagram_[std::size_t(task.i)] = k;
                    pushNeighbours(task.x, task.y, task.i, k);
                    updated = true;
                }
            }
        }
        queue_.clear();
        head_ = 0;
        if (!updated) {
            break;
        }
    }
    queue_.clear();
    queue_.shrink_to_fit();
}
