#include <algorithm>

#include "level/Curves.h"
#include "level/PristineLevelBasics.h"

namespace PristineLevel {

std::optional<KeyframeSample> Keyframes::evaluate(float t) const {
    if (keyframes.empty()) {
        return std::nullopt;
    }
    float const wrapped = wrapTime(wrapMode, t, keyframes.back().time);
    auto const after = std::upper_bound(keyframes.begin(), keyframes.end(), wrapped,
                                        [](float time, Keyframe const& k) { return time < k.time; });
    if (after == keyframes.begin()) {
        return KeyframeSample{keyframes.front().point, keyframes.front().value};
    }
    if (after == keyframes.end()) {
        return KeyframeSample{keyframes.back().point, keyframes.back().value};
    }
    Keyframe const& a = *(after - 1);
    Keyframe const& b = *after;
    float const u = (wrapped - a.time) / (b.time - a.time);
    float const v = 1.0f - u;
    glm::vec2 const p0 = a.point;
    glm::vec2 const p1 = a.point + a.handleOut;
    glm::vec2 const p2 = b.point + b.handleIn;
    glm::vec2 const p3 = b.point;
    glm::vec2 const point = v * v * v * p0 + 3.0f * u * v * v * p1 + 3.0f * u * u * v * p2 + u * u * u * p3;
    return KeyframeSample{point, a.value + u * (b.value - a.value)};
}

}  // namespace PristineLevel
