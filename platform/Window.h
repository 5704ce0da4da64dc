#pragma once
#include <cstdint>
#include <string>
#include <utility>

struct SDL_Window;

namespace platform {

// The one window with its GL ES 2.0 context (RGBA8, no depth), vsync on, fixed size (made smaller,
// still 16:9, on a smaller screen). Owns SDL's video subsystem for its lifetime. Without a display
// it fails, unless SDL_VIDEODRIVER names the offscreen (or dummy) driver.
class Window {
public:
    static constexpr int defaultWidth = 1334;
    static constexpr int defaultHeight = 750;

    explicit Window(char const* title = "zelv", int width = defaultWidth, int height = defaultHeight);
    ~Window();
    Window(Window const&) = delete;
    Window& operator=(Window const&) = delete;

    // False when the window or its context could not be made; error() says why.
    bool ok() const { return context_ != nullptr; }
    std::string const& error() const { return error_; }

    // A window of width x height fitted inside an area: unchanged when it fits, else the largest
    // exact 16:9 size that does.
    static std::pair<int, int> fitToArea(int width, int height, int areaWidth, int areaHeight);

    // Keeps the GL driver's on-disk shader cache off for this process unless the player's
    // environment sets it either way; true when it turned it off. Must run before the driver loads.
    static bool keepShaderCacheOff();

    void makeCurrent();
    // Presents the frame; waits for the display refresh when vsync is available.
    void swap();
    // Call before drawing a frame. False once another program has destroyed the window (asks the
    // X server; always true elsewhere): nothing more may be drawn, and the game ends as on a
    // close request.
    bool readyToDraw();

    // Window size in points, framebuffer size in pixels.
    int width() const { return width_; }
    int height() const { return height_; }
    int drawableWidth() const { return drawableWidth_; }
    int drawableHeight() const { return drawableHeight_; }
    // Pixels per point.
    float scale() const { return width_ > 0 ? float(drawableWidth_) / float(width_) : 1.0f; }

private:
    SDL_Window* window_ = nullptr;
    void* context_ = nullptr;
    bool sdlStarted_ = false;
    // The X connection and window id when on X11, for readyToDraw.
    void* xDisplay_ = nullptr;
    unsigned long xWindow_ = 0;
    int width_ = 0, height_ = 0, drawableWidth_ = 0, drawableHeight_ = 0;
    std::string error_;

    bool stillThere();
};

}  // namespace platform
