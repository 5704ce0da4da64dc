#pragma once
// The level objects of one kind and the list of those that are active. Both are reserved to the
// record count up front and never grow past it: the active list, the contact handling and the
// draw list keep raw pointers into the items.
#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <utility>
#include <vector>

template <class T, class Ptr = T*>
class CulledVector {
public:
    explicit CulledVector(std::size_t capacity) {
        items_.reserve(capacity);
        active_.reserve(capacity);
    }
    // Reserves, then lets `fill` append the items in place.
    template <class Fill>
    CulledVector(std::size_t capacity, Fill&& fill) : CulledVector(capacity) {
        fill(*this);
    }
    CulledVector(CulledVector const&) = delete;
    CulledVector& operator=(CulledVector const&) = delete;

    // Appends one item; refuses to move the others.
    template <class... Args>
    T& emplace_back(Args&&... args) {
        if (items_.size() == items_.capacity()) {
            throw std::length_error("CulledVector is full");
        }
        return items_.emplace_back(std::forward<Args>(args)...);
    }

    std::vector<T>& items() { return items_; }
    std::vector<T> const& items() const { return items_; }
    std::vector<Ptr>& active() { return active_; }
    std::vector<Ptr> const& active() const { return active_; }
    std::size_t size() const { return items_.size(); }
    T& operator[](std::size_t i) { return items_[i]; }
    T const& operator[](std::size_t i) const { return items_[i]; }

    bool isActive(T const* item) const { return std::find(active_.begin(), active_.end(), item) != active_.end(); }
    // No hooks: the wiring runs them (it knows which hook each kind has).
    void activate(T* item) {
        if (!isActive(item)) {
            active_.push_back(item);
        }
    }
    void deactivate(T* item) {
        auto const it = std::find(active_.begin(), active_.end(), item);
        if (it != active_.end()) {
            active_.erase(it);
        }
    }

private:
    std::vector<T> items_;
    std::vector<Ptr> active_;
};
