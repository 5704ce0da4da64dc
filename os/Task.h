#pragma once
#include <cstdint>
#include <functional>

// One entry of the world's per-frame task list: called each frame with (dt in ms, world time)
// until it returns true. The owner word lets an object remove the tasks it made.
class Task {
public:
    Task(std::function<bool(float, float)>&& function, uintptr_t owner = 0)
        : function_(std::move(function)), owner_(owner) {}

    // An empty function throws std::bad_function_call.
    bool operator()(float dt, float time) { return function_(dt, time); }
    uintptr_t owner() const { return owner_; }

private:
    std::function<bool(float, float)> function_;
    uintptr_t owner_;
};
