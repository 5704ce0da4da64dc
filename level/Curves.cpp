#include "level/Curves.h"

#include <algorithm>
#include <array>
#include <cmath>

using PristineLevel::WrapMode;

namespace {

// Whole part and fraction of a non-negative value; even when the whole part halves exactly.
struct Split {
    float whole;
    float fraction;
    bool even() const {
        float dummy;
        return std::modf(whole * 0.5f, &dummy) == 0.0f;
    }
};

Split split(float v) {
    float whole;
    float const fraction = std::modf(v, &whole);
    return {whole, fraction};
}

}  // namespace

float wrapTime(WrapMode mode, float t, float duration) {
    switch (mode) {
    case WrapMode::Clamp:
        // Adding +0 turns a clamped -0 into 0.
        return std::max(0.0f, std::min(t, duration)) + 0.0f;
    case WrapMode::PingPong: {
        if (duration == 0.0f) {
            return 0.0f;
        }
        Split const s = split(std::fabs(t) / duration);
        return s.even() ? s.fraction * duration : duration - s.fraction * duration;
    }
    case WrapMode::Repeat:
        if (duration == 0.0f) {
            return 0.0f;
        }
        return std::fmod(std::fabs(t), duration);
    default:
        return 0.0f;
    }
}

float wrapBetween(WrapMode mode, float t, float min, float max, float rate) {
    float const x = t * rate;
    float const span = max - min;
    switch (mode) {
    case WrapMode::Clamp:
        return std::max(min, std::min(x + min, max));
    case WrapMode::PingPong: {
        if (span == 0.0f) {
            return min;
        }
        Split const s = split(std::fabs(x) / span);
        return s.even() ? min + span * s.fraction : min + span * (1.0f - s.fraction);
    }
    case WrapMode::Repeat: {
        if (span == 0.0f) {
            return min;
        }
        float const f = split(std::fabs(x) / span).fraction;
        // Negative progress runs backward through the range.
        return x >= 0.0f ? min + span * f : min + span * (1.0f - f);
    }
    default:
        return 0.0f;
    }
}

// ---- Nearest point on a cubic Bezier: the distance's derivative is a degree-5 polynomial in
// Bezier form whose roots in [0, 1] are found by recursive subdivision.

namespace {

constexpr int kDegree = 5;
constexpr int kMaxDepth = 64;
constexpr int kMaxRoots = 5;
const double kEpsilon = std::ldexp(1.0, -(kMaxDepth + 1));

using Poly = std::array<glm::vec2, kDegree + 1>;

// De Casteljau at t of the degree-n curve p[0..n]; optionally returns both halves.
template <std::size_t N>
glm::vec2 deCasteljau(const std::array<glm::vec2, N>& p, double t, std::array<glm::vec2, N>* left = nullptr,
                      std::array<glm::vec2, N>* right = nullptr) {
    constexpr std::size_t n = N - 1;
    std::array<std::array<glm::vec2, N>, N> tri{};
    tri[0] = p;
    for (std::size_t i = 1; i <= n; ++i) {
        for (std::size_t j = 0; j <= n - i; ++j) {
            tri[i][j].x = float((1.0 - t) * tri[i - 1][j].x + t * tri[i - 1][j + 1].x);
            tri[i][j].y = float((1.0 - t) * tri[i - 1][j].y + t * tri[i - 1][j + 1].y);
        }
    }
    if (left != nullptr) {
        for (std::size_t j = 0; j <= n; ++j) {
            (*left)[j] = tri[j][0];
            (*right)[j] = tri[n - j][j];
        }
    }
    return tri[n][0];
}

int sign(float v) { return v < 0.0f ? -1 : (v > 0.0f ? 1 : 0); }

int crossingCount(const Poly& w) {
    int crossings = 0;
    int previous = sign(w[0].y);
    for (int i = 1; i <= kDegree; ++i) {
        int const s = sign(w[i].y);
        if (s != previous) {
            ++crossings;
        }
        previous = s;
    }
    return crossings;
}

bool flatEnough(const Poly& w) {
    double const a = double(w[0].y) - w[kDegree].y;
    double const b = double(w[kDegree].x) - w[0].x;
    double const c = double(w[0].x) * w[kDegree].y - double(w[kDegree].x) * w[0].y;
    if (a == 0.0) {
        return false;  // chord parallel to the axis: keep subdividing
    }
    double above = 0.0;
    double below = 0.0;
    for (int i = 1; i < kDegree; ++i) {
        double const value = a * w[i].x + b * w[i].y + c;
        if (value > above) {
            above = value;
        } else if (value < below) {
            below = value;
        }
    }
    double const i1 = (c - above) / -a;
    double const i2 = (c - below) / -a;
    return std::max(i1, i2) - std::min(i1, i2) < kEpsilon;
}

double xIntercept(const Poly& w) {
    double const x = double(w[kDegree].x) - w[0].x;
    double const y = double(w[kDegree].y) - w[0].y;
    if (y == 0.0) {
        return (double(w[0].x) + w[kDegree].x) / 2.0;
    }
    return w[0].x - x * w[0].y / y;
}

void findRoots(const Poly& w, int depth, double* roots, int& count) {
    if (count >= kMaxRoots) {
        return;
    }
    int const crossings = crossingCount(w);
    // Every branch stops at the depth limit: a curve that never separates its crossings (values
    // that are not numbers, or a degenerate control polygon) would otherwise recurse for ever.
    if (crossings > 0 && depth >= kMaxDepth) {
        roots[count++] = (double(w[0].x) + w[kDegree].x) / 2.0;
        return;
    }
    switch (crossings) {
    case 0:
        return;
    case 1:
        if (depth >= kMaxDepth) {
            if (count < kMaxRoots) {
                roots[count++] = (double(w[0].x) + w[kDegree].x) / 2.0;
            }
            return;
        }
        if (flatEnough(w)) {
            if (count < kMaxRoots) {
                roots[count++] = xIntercept(w);
            }
            return;
        }
        break;
    default:
        break;
    }
    Poly left;
    Poly right;
    deCasteljau(w, 0.5, &left, &right);
    findRoots(left, depth + 1, roots, count);
    findRoots(right, depth + 1, roots, count);
}

float squaredDistance(glm::vec2 a, glm::vec2 b) {
    glm::vec2 const d = a - b;
    return d.x * d.x + d.y * d.y;
}

}  // namespace

BezierPoint nearestPointOnBezier(glm::vec2 p, const glm::vec2 v[4]) {
    static constexpr double z[3][4] = {{1.0, 0.6, 0.3, 0.1}, {0.4, 0.6, 0.6, 0.4}, {0.1, 0.3, 0.6, 1.0}};
    for (int i = 0; i < 4; ++i) {
        if (!std::isfinite(v[i].x) || !std::isfinite(v[i].y)) {
            return {v[0], 0.0f};
        }
    }
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
        return {v[0], 0.0f};
    }
    glm::vec2 c[4];
    glm::vec2 d[3];
    for (int i = 0; i < 4; ++i) {
        c[i] = v[i] - p;
    }
    for (int i = 0; i < 3; ++i) {
        d[i] = 3.0f * (v[i + 1] - v[i]);
    }
    float cd[3][4];
    for (int r = 0; r < 3; ++r) {
        for (int col = 0; col < 4; ++col) {
            cd[r][col] = d[r].x * c[col].x + d[r].y * c[col].y;
        }
    }
    Poly w;
    for (int k = 0; k <= kDegree; ++k) {
        w[k] = glm::vec2(float(k) / float(kDegree), 0.0f);
    }
    for (int k = 0; k <= kDegree; ++k) {
        int const lb = std::max(0, k - 2);
        int const ub = std::min(k, 3);
        for (int col = lb; col <= ub; ++col) {
            int const r = k - col;
            w[k].y = float(double(w[k].y) + double(cd[r][col]) * z[r][col]);
        }
    }

    double roots[kMaxRoots];
    int count = 0;
    findRoots(w, 0, roots, count);

    std::array<glm::vec2, 4> const curve{v[0], v[1], v[2], v[3]};
    float best = squaredDistance(p, v[0]);
    double bestT = 0.0;
    for (int i = 0; i < count; ++i) {
        float const dist = squaredDistance(p, deCasteljau(curve, roots[i]));
        if (dist < best) {
            best = dist;
            bestT = roots[i];
        }
    }
    if (squaredDistance(p, v[3]) < best) {
        bestT = 1.0;
    }
    return {deCasteljau(curve, bestT), float(bestT)};
}

// ---- Frame tracks

namespace {

// Index of a frame for a whole-number position, wrapped round the frame count.
std::size_t wrapIndex(double whole, std::size_t n) {
    double r = std::fmod(whole, double(n));
    if (r < 0.0) {
        r += double(n);
    }
    return std::min(std::size_t(r), n - 1);
}

// Step mode: x rounded half away from zero, a negative result counting as frame 0.
std::size_t nearestFrame(float x, std::size_t n) {
    double const r = std::round(double(x));
    return r < 0.0 ? 0 : wrapIndex(r, n);
}

}  // namespace

void interpolateFrame(std::uint8_t mode, const std::vector<float>& frames, std::size_t frameCount,
                      std::vector<float>& out, float x) {
    if (frameCount == 0 || !std::isfinite(x)) {
        return;
    }
    std::size_t const size = frames.size() / frameCount;
    out.resize(size);
    if (size == 0) {
        return;
    }
    if (mode == 0) {
        std::size_t const i = nearestFrame(x, frameCount);
        std::copy_n(frames.begin() + std::ptrdiff_t(i * size), size, out.begin());
        return;
    }
    float whole;
    float const f = std::modf(x, &whole);
    std::size_t const i = wrapIndex(whole, frameCount);
    std::size_t const j = (i + 1) % frameCount;
    const float* a = frames.data() + i * size;
    const float* b = frames.data() + j * size;
    for (std::size_t k = 0; k < size; ++k) {
        out[k] = (1.0f - f) * a[k] + f * b[k];
    }
}

float interpolateTrack(std::uint8_t mode, const std::vector<float>& track, float x) {
    std::size_t const n = track.size();
    if (n == 0 || !std::isfinite(x)) {
        return 1.0f;
    }
    if (mode == 0) {
        return track[nearestFrame(x, n)];
    }
    float whole;
    float const f = std::modf(x, &whole);
    std::size_t const i = wrapIndex(whole, n);
    return (1.0f - f) * track[i] + f * track[(i + 1) % n];
}
