#include "os/shell/Shell.h"

#include <GLES2/gl2.h>
#include <pthread.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <system_error>

#include "os/shell/FrameLimiter.h"
#include "os/shell/GlView.h"
#include "os/shell/Impl.h"
#include "platform/EventPump.h"
#include "platform/Window.h"

namespace os {

namespace {

// The data archives sit beside the executable.
void enterResourceDirectory() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) std::filesystem::current_path(exe.parent_path(), ec);
    if (ec) std::fprintf(stderr, "zelv: cannot enter the resource directory: %s\n", ec.message().c_str());
}

class TouchForwarder : public platform::EventPump::Listener {
public:
    TouchForwarder(App& app, GlView const& view) : app_(app), view_(view) {}
    bool started = false;

    void touch(platform::TouchEvent const& e) override {
        if (!started) return;  // no screen before the first frame
        glm::vec2 p = view_.toVirtual(e.x, e.y);
        switch (e.phase) {
            case platform::TouchEvent::Phase::Began: app_.touchBegan(e.tapCount, p.x, p.y); break;
            case platform::TouchEvent::Phase::Moved: app_.touchMoved(e.tapCount, p.x, p.y); break;
            case platform::TouchEvent::Phase::Ended: app_.touchEnded(e.tapCount, p.x, p.y); break;
        }
    }

private:
    App& app_;
    GlView const& view_;
};

}  // namespace

int Shell::run() {
    // An engine failure ends the game with a clear message rather than an abort.
    try {
        return runGame();
    } catch (std::exception const& e) {
        std::fprintf(stderr, "zelv: stopped by an error: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "zelv: stopped by an unknown error\n");
    }
    return 1;
}

int Shell::runGame() {
    pthread_setname_np(pthread_self(), "MainThread");
    platform::EventPump::installTerminationHandler();
    enterResourceDirectory();
    if (!Singleton<FileSystem>::instance().mount("pak0.pak"))
        std::fprintf(stderr, "zelv: no data archive pak0.pak beside the executable\n");

    platform::Window window;
    if (!window.ok()) {
        std::fprintf(stderr, "zelv: %s\n", window.error().c_str());
        return 1;
    }
    GlView view;
    view.setUp(window.drawableWidth(), window.drawableHeight(), window.scale());
    glViewport(0, 0, window.drawableWidth(), window.drawableHeight());

    std::unique_ptr<App> app = App::create();
    window.makeCurrent();

    platform::EventPump pump(window.width(), window.height());
    TouchForwarder touches(*app, view);
    FrameLimiter limiter;
    uint64_t frames = 0;
    while (pump.poll(touches)) {
        limiter.waitAndTick();
        if (!touches.started) {
            if (!app->init(0, nullptr)) return -1;
            touches.started = true;
        }
        app->tick();
        window.swap();
        ++frames;
    }
    std::fprintf(stderr, "zelv: ended after %llu frames\n", static_cast<unsigned long long>(frames));
    app->willTerminate();
    // The render contexts hold GL objects: release them while the context is current.
    app.reset();
    shutdownICloud();
    return 0;
}

}  // namespace os
