#include "platform/Window.h"

#include <GLES2/gl2.h>
#include <SDL.h>
#include <SDL_syswm.h>
#include <X11/Xlib.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
#define ZELV_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZELV_LEAK_CHECKED 1
#endif
#endif

namespace platform {

namespace {
// The GL driver is unloaded with the window; the leak checker, reporting at exit, would then
// see the driver's own allocations as leaks. Keep it loaded in leak-checked builds.
void keepGlDriverLoaded() {
#ifdef ZELV_LEAK_CHECKED
    char const* libs[] = {"libEGL_mesa.so.0", "libEGL.so.1", "libGLESv2.so.2", "libgallium_dri.so",
                          "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                          "/usr/lib/x86_64-linux-gnu/dri/kms_swrast_dri.so", "libglapi.so.0"};
    for (char const* lib : libs) dlopen(lib, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
#endif
}
bool headlessDriver(char const* driver) {
    return driver && (std::strcmp(driver, "offscreen") == 0 || std::strcmp(driver, "dummy") == 0);
}

// Whether SDL_VIDEODRIVER (a driver or a comma-separated list) names this driver.
bool driverAskedFor(char const* driver) {
    char const* hint = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    if (!hint) return false;
    std::string const list = std::string(",") + hint + ",";
    return list.find(std::string(",") + driver + ",") != std::string::npos;
}

// Once another program destroys the window, each request naming it gets an error, which Xlib's
// default handler answers by ending the process with status 1. Those errors are taken here.
std::atomic<Display*> watchedDisplay{nullptr};
std::atomic<unsigned long> watchedWindow{0};
std::atomic<bool> windowGone{false};
XErrorHandler chainedHandler = nullptr;

int onXError(Display* display, XErrorEvent* error) {
    unsigned long const own = watchedWindow.load();
    if (own != 0 && display == watchedDisplay.load() && error->resourceid == own &&
        (windowGone || error->error_code == BadWindow || error->error_code == BadDrawable)) {
        windowGone = true;
        return 0;
    }
    return chainedHandler ? chainedHandler(display, error) : 0;
}

}  // namespace

// The driver maps its on-disk shader cache into memory: a disk that fills up later turns a store
// into that mapping into SIGBUS, whatever room there was at start. The game's few shaders compile
// in milliseconds, so the cache is left off unless the player sets it (either name, either way).
bool Window::keepShaderCacheOff() {
    if (std::getenv("MESA_SHADER_CACHE_DISABLE") || std::getenv("MESA_GLSL_CACHE_DISABLE")) return false;
    return setenv("MESA_SHADER_CACHE_DISABLE", "true", 1) == 0;
}

Window::Window(char const* title, int width, int height) {
    keepGlDriverLoaded();
    keepShaderCacheOff();
    // Termination signals are handled by the event pump, not by SDL.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error_ = std::string("cannot start SDL video: ") + SDL_GetError();
        return;
    }
    sdlStarted_ = true;
    // Without a display SDL falls back to an invisible window; the game would run unseen.
    char const* driver = SDL_GetCurrentVideoDriver();
    if (headlessDriver(driver) && !driverAskedFor(driver)) {
        error_ = "no display to show the game on (set DISPLAY or WAYLAND_DISPLAY, or SDL_VIDEODRIVER=offscreen to "
                 "run without one)";
        return;
    }
    // A screen smaller than the window gets a window that fits its usable area, still 16:9.
    SDL_Rect usable{};
    if (!headlessDriver(driver) && SDL_GetDisplayUsableBounds(0, &usable) == 0) {
        auto const fitted = fitToArea(width, height, usable.w, usable.h);
        if (fitted != std::make_pair(width, height))
            std::fprintf(stderr, "Window: the screen's usable area is %dx%d; the window is %dx%d\n", usable.w,
                         usable.h, fitted.first, fitted.second);
        width = fitted.first;
        height = fitted.second;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_ES);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    // No high-DPI framebuffer: the view's resolution table expects the 1334 x 750 backing store.
    window_ = SDL_CreateWindow(title, SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, width, height,
                               SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
    if (!window_) {
        error_ = std::string("cannot create the window: ") + SDL_GetError();
        return;
    }
    context_ = SDL_GL_CreateContext(window_);
    if (!context_) {
        error_ = std::string("cannot create a GL ES 2.0 context: ") + SDL_GetError();
        return;
    }
    SDL_GL_MakeCurrent(window_, context_);
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window_, &info) && info.subsystem == SDL_SYSWM_X11) {
        xDisplay_ = info.info.x11.display;
        xWindow_ = info.info.x11.window;
        watchedDisplay = info.info.x11.display;
        watchedWindow = xWindow_;
        windowGone = false;
        XErrorHandler const previous = XSetErrorHandler(onXError);
        if (previous != onXError) chainedHandler = previous;
    }
    if (SDL_GL_SetSwapInterval(1) != 0) std::fprintf(stderr, "Window: no vsync (%s)\n", SDL_GetError());
    SDL_GetWindowSize(window_, &width_, &height_);
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
}

Window::~Window() {
    if (context_) SDL_GL_DeleteContext(context_);
    if (window_) SDL_DestroyWindow(window_);
    if (xWindow_) {
        // The errors about a window already gone arrive now, while they are still taken; SDL
        // puts Xlib's own handler back before it closes the connection.
        XSync(static_cast<Display*>(xDisplay_), False);
        XSetErrorHandler(chainedHandler);
        watchedWindow = 0;
        watchedDisplay = nullptr;
    }
    if (sdlStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

std::pair<int, int> Window::fitToArea(int width, int height, int areaWidth, int areaHeight) {
    if (areaWidth <= 0 || areaHeight <= 0 || (width <= areaWidth && height <= areaHeight)) return {width, height};
    // Whole multiples of 16 x 9 keep the ratio exact.
    int const units = std::max(1, std::min(areaWidth / 16, areaHeight / 9));
    return {units * 16, units * 9};
}

void Window::makeCurrent() {
    if (context_) SDL_GL_MakeCurrent(window_, context_);
}

void Window::swap() {
    if (window_) SDL_GL_SwapWindow(window_);
}

// Asks the X server whether the window is still there; errors about it are taken by onXError.
bool Window::stillThere() {
    if (windowGone) return false;
    ::Window root;
    int x, y;
    unsigned width, height, border, depth;
    if (!XGetGeometry(static_cast<Display*>(xDisplay_), xWindow_, &root, &x, &y, &width, &height, &border, &depth))
        windowGone = true;
    return !windowGone;
}

bool Window::readyToDraw() {
    if (!window_) return false;
    if (!xDisplay_) return true;
    // The software GL driver asks for the window's size at the first draw after a swap, and when
    // the window is gone by then it draws with garbage for a size (its threads crash on it).
    // Clearing nothing makes it ask here, between two checks: when the second still finds the
    // window, the driver's answer was sound; when not, nothing more is drawn.
    if (!stillThere()) return false;
    glClear(0);
    return stillThere();
}

}  // namespace platform
