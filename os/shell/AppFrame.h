#pragma once
// The app frame as the shell drives it, so the shell's logic runs over the real frame or a fake.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "os/AbstractApp.h"
#include "os/ViewController.h"
#include "os/services/PlatformServices.h"

namespace Fonts {
class Context;
}

namespace os {

class AppFrame {
public:
    virtual ~AppFrame() = default;
    virtual bool init(int argc, char const* const* argv) = 0;
    virtual bool tick() = 0;
    virtual void touchBegan(uint32_t taps, float x, float y) = 0;
    virtual void touchMoved(uint32_t taps, float x, float y) = 0;
    virtual void touchEnded(uint32_t taps, float x, float y) = 0;
    virtual void gamepadInput(std::vector<ControllerState> const& controllers) = 0;
    virtual void controllerConnected() = 0;
    virtual void controllerDisconnected() = 0;
    virtual void buttonPressed(uint32_t code) = 0;
    virtual void willResignActive() = 0;
    virtual void windowFocusLost() = 0;
    virtual void windowFocusGained() = 0;
    virtual void didBecomeActive() = 0;
    virtual void trimGraphicsMemory() = 0;
    virtual bool willTerminate() = 0;
    virtual void openLevelByIndex(std::string const& index) = 0;
    // The boards drawn over the running game; false when they cannot be shown.
    virtual bool presentGameServices(std::string const& leaderboard, std::function<void()> onDone) = 0;
    virtual void dismissGameServices() = 0;
    // Another view drawn over the running game and taking its input, built by make with the
    // frame's contexts; false when it cannot be shown (yet).
    using OverlayMaker =
        std::function<std::unique_ptr<ViewController>(Graphics::Context*, Audio::Context*, Fonts::Context*)>;
    virtual bool presentOverlay(Overlay, OverlayMaker) { return false; }
    virtual void dismissOverlay(Overlay) {}
};

// Any app frame class with those operations and a static create().
template <class App>
class AppFrameOf : public AppFrame {
public:
    AppFrameOf() : app_(App::create()) {}
    App& app() { return *app_; }
    bool init(int argc, char const* const* argv) override { return app_->init(argc, argv); }
    bool tick() override { return app_->tick(); }
    void touchBegan(uint32_t t, float x, float y) override { app_->touchBegan(t, x, y); }
    void touchMoved(uint32_t t, float x, float y) override { app_->touchMoved(t, x, y); }
    void touchEnded(uint32_t t, float x, float y) override { app_->touchEnded(t, x, y); }
    void gamepadInput(std::vector<ControllerState> const& c) override { app_->gamepadInput(c); }
    void controllerConnected() override { app_->controllerConnected(); }
    void controllerDisconnected() override { app_->controllerDisconnected(); }
    void buttonPressed(uint32_t code) override { app_->buttonPressed(code); }
    void willResignActive() override { app_->willResignActive(); }
    void windowFocusLost() override { app_->windowFocusLost(); }
    void windowFocusGained() override { app_->windowFocusGained(); }
    void didBecomeActive() override { app_->didBecomeActive(); }
    void trimGraphicsMemory() override { app_->trimGraphicsMemory(); }
    bool willTerminate() override { return app_->willTerminate(); }
    void openLevelByIndex(std::string const& index) override { app_->openLevelByIndex(index); }
    bool presentGameServices(std::string const& leaderboard, std::function<void()> onDone) override {
        return app_->presentGameServices(leaderboard, std::move(onDone));
    }
    void dismissGameServices() override { app_->dismissGameServices(); }
    bool presentOverlay(Overlay layer, OverlayMaker make) override { return app_->presentOverlay(layer, make); }
    void dismissOverlay(Overlay layer) override { app_->dismissOverlay(layer); }

private:
    std::unique_ptr<App> app_;
};

}  // namespace os
