#include "platform/Window.h"

#include <SDL.h>
#include <dlfcn.h>

#include <cstdio>

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
}  // namespace

Window::Window(char const* title, int width, int height) {
    keepGlDriverLoaded();
    // Termination signals are handled by the event pump, not by SDL.
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        error_ = std::string("cannot start SDL video: ") + SDL_GetError();
        return;
    }
    sdlStarted_ = true;
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
    if (SDL_GL_SetSwapInterval(1) != 0) std::fprintf(stderr, "Window: no vsync (%s)\n", SDL_GetError());
    SDL_GetWindowSize(window_, &width_, &height_);
    SDL_GL_GetDrawableSize(window_, &drawableWidth_, &drawableHeight_);
}

Window::~Window() {
    if (context_) SDL_GL_DeleteContext(context_);
    if (window_) SDL_DestroyWindow(window_);
    if (sdlStarted_) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_Quit();
}

void Window::makeCurrent() {
    if (context_) SDL_GL_MakeCurrent(window_, context_);
}

void Window::swap() {
    if (window_) SDL_GL_SwapWindow(window_);
}

}  // namespace platform
