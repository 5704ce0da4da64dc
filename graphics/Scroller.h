#pragma once
// Kinetic scrolling along one axis: drags move the offset (damped past the ends by a rubber
// band), a release flicks it on with a decelerating velocity, optionally snapping to pages.
#include <cstdint>
#include <functional>
#include <glm/vec2.hpp>
#include <glm/vec4.hpp>
#include <optional>

class Scroller {
public:
    // Milliseconds on a monotonic clock; the platform clock unless a test gives its own.
    using Clock = std::function<uint64_t()>;

    struct Parameters {
        float rubberBandLimit = 0.0f;
        float nudgeStep = 0.0f;     // velocity added per scrollBackward / scrollForward
        float deceleration = 0.0f;  // velocity units per ms
        glm::vec4 touchRect{0.0f};  // x, y, width, height
        float maximum = 0.0f;
        float minimum = 0.0f;
        uint32_t axis = 1;  // non-zero: x, zero: y
        std::optional<float> pageSize;

        Parameters(glm::vec4 const& touchRect, uint32_t axis, std::optional<float> pageSize, float rubberBandLimit,
                   float nudgeStep, float deceleration, float maximum, float minimum);
    };

    explicit Scroller(Parameters const& parameters, Clock clock = {});

    float offset() const { return offset_; }
    void setOffset(float offset) { offset_ = offset; }
    float velocity() const { return velocity_; }
    bool isDragging() const { return dragging_ != 0; }
    std::optional<float> pageSize() const { return pageSize_; }
    // round(offset / page size), halves away from zero; none without paging.
    std::optional<int32_t> currentPage() const;

    void update(float dt);
    // Starts a drag when the point lies in the touch rectangle; returns whether it did.
    bool touchBegan(glm::vec2 const& point);
    void touchMoved(glm::vec2 const& point);
    void touchEnded(glm::vec2 const& point);
    void scrollBackward();
    void scrollForward();
    void scrollToPage(int32_t page);

private:
    static constexpr uint64_t kNoTime = ~uint64_t(0);

    float coordinate(glm::vec2 const& point) const { return axis_ ? point.x : point.y; }
    bool contains(glm::vec2 const& point) const;
    void startDrag(glm::vec2 const& point);
    // Sets the velocity that, decelerating, comes to rest `delta` away.
    float velocityToCover(float delta) const;
    bool paged() const { return pageSize_ && *pageSize_ > 0.0f; }

    std::optional<float> pageSize_;
    uint32_t axis_;
    float rubberBandLimit_;
    float offset_ = 0.0f;
    float speedScale_ = 1.0f;
    uint8_t dragging_ = 0;
    glm::vec4 touchRect_;
    float maximum_;
    float minimum_;
    float moved_ = 0.0f;
    float nudgeStep_;
    float deceleration_;
    uint64_t touchStartTime_ = 0;
    uint64_t lastMoveTime_ = kNoTime;
    float velocity_ = 0.0f;
    float sampledVelocity_ = 0.0f;
    uint8_t justStarted_ = 0;
    float accumulator_ = 0.0f;
    float lastCoordinate_ = 0.0f;
    float startCoordinate_ = 0.0f;
    uint8_t buttonScroll_ = 0;
    Clock clock_;
};
