#pragma once
// Input for the game's window over an X connection of our own (keys sent to the window, the
// pointer moved and pressed through the server), and the window's pixels read back. The window is
// SDL's current GL window.
#include <cstdint>
#include <vector>

class XInput {
public:
    XInput();
    ~XInput();
    XInput(XInput const&) = delete;
    XInput& operator=(XInput const&) = delete;
    bool ok() const { return display_ != nullptr && window_ != 0; }
    // keyName: an X key name ("Right", "space").
    void key(char const* keyName, bool down);
    // Window coordinates, y down; button 1.
    void button(int x, int y, bool down);
    void motion(int x, int y);
    // RGB, top row first.
    std::vector<uint8_t> screenshot(int& width, int& height);

private:
    void* display_;
    unsigned long window_ = 0;
};

namespace testing_support {

// Runs the test program's GoogleTest cases on an X display: without one (and without
// ZELV_UNDER_XVFB set) it runs itself again under xvfb-run with SDL on X11.
int runTestsUnderXvfb(int argc, char** argv);

}  // namespace testing_support
