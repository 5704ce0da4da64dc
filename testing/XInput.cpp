#include <gtest/gtest.h>

#include "testing/XInput.h"

#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

Display* dpy(void* d) { return static_cast<Display*>(d); }

void send(Display* d, Window w, XEvent* e, long mask) {
    XSendEvent(d, w, True, mask, e);
    XFlush(d);
}

}  // namespace

XInput::XInput() : display_(XOpenDisplay(nullptr)) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (display_ && SDL_GetWindowWMInfo(SDL_GL_GetCurrentWindow(), &info)) window_ = info.info.x11.window;
}

XInput::~XInput() {
    if (display_) XCloseDisplay(dpy(display_));
}

void XInput::key(char const* keyName, bool down) {
    Display* d = dpy(display_);
    XKeyEvent e{};
    e.type = down ? KeyPress : KeyRelease;
    e.display = d;
    e.window = window_;
    e.root = DefaultRootWindow(d);
    e.time = CurrentTime;
    e.same_screen = True;
    e.keycode = XKeysymToKeycode(d, XStringToKeysym(keyName));
    send(d, window_, reinterpret_cast<XEvent*>(&e), down ? KeyPressMask : KeyReleaseMask);
}

// The pointer goes through the XTest extension: the server moves it and presses its button, so
// the game sees the events a real mouse makes.
void XInput::button(int x, int y, bool down) {
    motion(x, y);
    XTestFakeButtonEvent(dpy(display_), 1, down ? True : False, CurrentTime);
    XFlush(dpy(display_));
}

void XInput::motion(int x, int y) {
    Display* d = dpy(display_);
    int rootX = 0, rootY = 0;
    Window child = 0;
    XTranslateCoordinates(d, window_, DefaultRootWindow(d), x, y, &rootX, &rootY, &child);
    XTestFakeMotionEvent(d, DefaultScreen(d), rootX, rootY, CurrentTime);
    XFlush(d);
}

std::vector<uint8_t> XInput::screenshot(int& width, int& height) {
    Display* d = dpy(display_);
    XWindowAttributes a;
    XGetWindowAttributes(d, window_, &a);
    width = a.width;
    height = a.height;
    std::vector<uint8_t> rgb;
    XImage* image = XGetImage(d, window_, 0, 0, unsigned(width), unsigned(height), AllPlanes, ZPixmap);
    if (!image) return rgb;
    rgb.reserve(size_t(width) * size_t(height) * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned long const p = XGetPixel(image, x, y);
            rgb.insert(rgb.end(), {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p)});
        }
    }
    XDestroyImage(image);
    return rgb;
}

int testing_support::runTestsUnderXvfb(int argc, char** argv) {
    char const* driver = std::getenv("SDL_VIDEODRIVER");
    if (!std::getenv("ZELV_UNDER_XVFB") && !(driver && std::strcmp(driver, "x11") == 0 && std::getenv("DISPLAY"))) {
        setenv("ZELV_UNDER_XVFB", "1", 1);
        setenv("SDL_VIDEODRIVER", "x11", 1);
        // No server reset when the last client leaves: a test that starts programs one after
        // another would otherwise race the reset with the next connection.
        // ZELV_XVFB_SCREEN (WIDTHxHEIGHT) picks another screen, and so another window size.
        char const* size = std::getenv("ZELV_XVFB_SCREEN");
        std::string const server = std::string("-screen 0 ") + (size && *size ? size : "1400x800") + "x24 -noreset";
        std::vector<char*> args{const_cast<char*>("xvfb-run"), const_cast<char*>("-a"), const_cast<char*>("-s"),
                                const_cast<char*>(server.c_str())};
        for (int i = 0; i < argc; ++i) args.push_back(argv[i]);
        args.push_back(nullptr);
        execvp("xvfb-run", args.data());
        std::perror("xvfb-run");
        return 1;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
