#pragma once
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>

#include "os/shell/TextEntryKeyboard.h"

namespace os {

// Decides the virtual resolution every screen draws in from the framebuffer size, and turns
// window points into virtual pixels (y upwards). Sizes are fixed once at start-up.
class GlView {
public:
    struct Sizes {
        float virtualWidth, virtualHeight;
        float backingWidth, backingHeight;  // as stored: the table's value for the known widths
        // Where the picture's lower-left corner lies in the framebuffer, in pixels: not 0 only
        // where the picture does not fill the window (black bars beside or above it).
        float originX = 0, originY = 0;
    };

    // The devices' table, by backing width.
    static Sizes resolutionFor(int backingWidth, int backingHeight);
    // A desktop window: at a device's own backing size (width and height) that device's layout;
    // any other window draws the 16:9 layout in the largest 16:9 picture centred in it, so the
    // layout is neither cut off nor stretched.
    static Sizes windowResolutionFor(int width, int height);

    // The framebuffer of a desktop window; screenScale: framebuffer pixels per window point.
    // Publishes the sizes to the platform services' screen getters.
    void setUp(int framebufferWidth, int framebufferHeight, float screenScale);

    // A window point (y downwards) in virtual pixels (y upwards).
    glm::vec2 toVirtual(float x, float y) const;

    Sizes const& sizes() const { return sizes_; }

    // The view's one-line text entry.
    TextEntryKeyboard& keyboard() { return keyboard_; }

private:
    Sizes sizes_{0, 0, 0, 0};
    float screenScale_ = 1.0f;
    float framebufferHeight_ = 0.0f;
    glm::mat4 touchMatrix_{1.0f};
    TextEntryKeyboard keyboard_;
};

}  // namespace os
