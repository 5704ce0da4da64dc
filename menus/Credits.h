#pragma once
// The scrolling credits: one block of text built from the numbered credits strings, faded in,
// moved upward a fixed step every few frames, faded out once its end has passed the middle of the
// screen (or on a skip), then the end callback. Scrolling counts frames, not time.
#include <glm/mat4x4.hpp>
#include <glm/vec4.hpp>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "fonts/TextMesh.h"
#include "menus/Fader.h"

namespace Audio {
class Context;
}
namespace Fonts {
class Context;
}
namespace Graphics {
class Context;
class StandardShader;
}  // namespace Graphics

class Credits {
public:
    enum State : uint32_t { kIdle = 0, kFadingIn = 1, kScrolling = 2, kFadingOut = 3 };

    Credits(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts, std::function<void()> const& onEnd,
            glm::vec4 const& colour, uint64_t framesPerStep, float step);

    // Back to the bottom for the next showing (state and fade untouched).
    void reset() { offset_ = 0.0f; }
    void start();
    void skip();
    uint32_t state() const { return state_; }
    bool isIdle() const { return state_ == kIdle; }

    void update(float dt);
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection);

    float offset() const { return offset_; }
    // The bottom of the whole text (before scrolling).
    float bottom() const { return penY_; }
    float fade() const { return fader_.value(); }
    bool swapped() const { return swapped_; }
    Fonts::TextMesh const& mesh() const { return mesh_; }

    // The two people whose places the swap trades, as they are written in the names texts.
    static char const* const kSwapNames[2];
    // The swap's coin comes from the system's entropy; tests fix it (nullopt restores that).
    static void setSeedForTesting(std::optional<uint32_t> seed);
    // The names text with the two people traded (the first occurrence of each).
    static std::string swapNames(std::string text);

private:
    uint32_t state_ = kIdle;
    std::function<void()> onEnd_;
    float offset_ = 0.0f;
    float penX_;
    float penY_;
    Fonts::TextMesh mesh_;
    Fader fader_;
    uint64_t frames_ = 0;
    float step_;
    uint64_t framesPerStep_;
    bool swapped_ = false;
};
