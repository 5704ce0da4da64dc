#pragma once
#include <sched.h>

#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <boost/optional.hpp>
#include <glm/vec2.hpp>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "os/DummyViewController.h"
#include "os/EventHandler.h"
#include "os/ViewController.h"

namespace os {

// The application frame: owns the shared contexts and the current screen, and turns the shell's
// calls (frame tick, input, lifecycle) into calls on them. Main thread only.
//
// Impl names the context types and the platform hooks, so the frame can be driven by the real
// engine or by recording fakes:
//   types  AudioContext (with nested Parameters {fadeRate, distanceModel, referenceDistance,
//          maxDistance}), GraphicsContext, FontsContext, PostProcessingStep, StandardShader,
//          CloudSyncThread
//   static uint64_t nowMs(); bool initICloud(); void graphicsStartupHook();
//          uint64_t graphicsBudget(); bool isLowEndDevice(); float worldViewWidth();
//          float virtualWidth(), virtualHeight(), backingWidth(), backingHeight();
//          bool fileExists(std::string const&); void logEvent(char const*); int downloadState();
//          uint64_t levelCount(); levelEntry(uint64_t) with .path and .nameKey;
//          bool isLevelUnlocked(uint64_t index)
template <class Impl>
class AbstractApp {
public:
    using AudioContext = typename Impl::AudioContext;
    using GraphicsContext = typename Impl::GraphicsContext;
    using FontsContext = typename Impl::FontsContext;
    using PostProcessingStep = typename Impl::PostProcessingStep;
    using StandardShader = typename Impl::StandardShader;
    using CloudSyncThread = typename Impl::CloudSyncThread;

    static constexpr float maxFrameMs = 33.333336f;
    static constexpr uint32_t signalControllerConnected = 20000008;
    static constexpr uint32_t signalControllerDisconnected = 20000009;

    // The contexts that need a current GL context; built on the first frame, destroyed in
    // reverse order.
    struct RenderContexts {
        GraphicsContext graphics;
        FontsContext fonts;
        PostProcessingStep postProcessing;
        StandardShader standardShader;

        RenderContexts()
            : graphics(Impl::graphicsBudget(),
                       Impl::isLowEndDevice() ? boost::optional<uint16_t>(uint16_t(2)) : boost::none),
              fonts(&graphics, std::string("fonts/")),
              postProcessing(&graphics, glm::ivec2(int(Impl::virtualWidth()), int(Impl::virtualHeight())),
                             glm::ivec2(int(Impl::backingWidth()), int(Impl::backingHeight())), true),
              standardShader(&graphics) {}
    };

    static std::unique_ptr<AbstractApp> create() { return std::unique_ptr<AbstractApp>(new AbstractApp()); }

    AbstractApp(AbstractApp const&) = delete;
    AbstractApp& operator=(AbstractApp const&) = delete;

    // First-frame initialisation: render contexts, the placeholder screen, then the first screen.
    bool init(int argc, char const* const* argv) {
        Impl::initICloud();
        std::optional<std::string> levelPath;
        if (argc >= 1 && argv && argv[0] && argv[0][0]) levelPath.emplace(argv[0]);
        notStarted_ = false;
        lastTimeMs_ = Impl::nowMs();
        resetClock_ = true;
        lastTimeMs_ = Impl::nowMs();
        Impl::graphicsStartupHook();
        renderContexts_.reset();
        renderContexts_.emplace();
        currentScreen_ = std::make_unique<DummyViewController>();
        if (levelPath)
            startLevel(*levelPath, std::string(), false, true, false);
        else
            start();
        return true;
    }

    // Chooses the first screen: the intro level when there is one, else the main menu.
    void start() {
        static std::string const intro = "levels/intro.pxl";
        static std::string const introAlt = "levels/intro_ps4_xbone_steam.pxl";
        if (Impl::fileExists(intro))
            startLevel(intro, std::string(), false, true, false);
        else if (Impl::fileExists(introAlt))
            startLevel(introAlt, std::string(), false, true, false);
        else
            transitToMainMenu(boost::none);
    }

    // One frame. The screen pointer is read again before every screen call, so a screen
    // installed during update gets this frame's draw passes.
    bool tick() {
        uint64_t const now = Impl::nowMs();
        // An init that failed part-way leaves no contexts or no screen: nothing to run then.
        if (!notStarted_ && renderContexts_ && currentScreen_) {
            if (resetClock_) {
                resetClock_ = false;
                lastTimeMs_ = now;
            }
            // Unsigned difference: a clock that steps back gives a huge value, cut to the cap.
            float const dt = std::min(float(now - lastTimeMs_), maxFrameMs);
            events_.dispatch();
            RenderContexts& rc = *renderContexts_;
            currentScreen_->update(audio_, dt, float(now));
            audio_.update(dt);
            rc.postProcessing.update(dt);
            rc.graphics.updateTextures();
            rc.graphics.beginDynamicBuffers();
            currentScreen_->preDraw(&rc.graphics);
            rc.graphics.endDynamicBuffers();
            rc.postProcessing.updateColors();
            currentScreen_->draw(&rc.graphics, &rc.standardShader);
            rc.postProcessing.drawBackdrop(&rc.graphics, &rc.standardShader);
            currentScreen_->drawOverlay(&rc.graphics, &rc.standardShader);
            rc.postProcessing.present(&rc.graphics, &rc.standardShader);
        }
        lastTimeMs_ = now;
        return true;
    }

    // Input arrives only after init; anything earlier has no screen to go to and is dropped.
    void touchBegan(uint32_t tapCount, float x, float y) {
        if (currentScreen_) currentScreen_->touchBegan(glm::vec2(x, y), tapCount);
    }
    void touchMoved(uint32_t tapCount, float x, float y) {
        if (currentScreen_) currentScreen_->touchMoved(glm::vec2(x, y), tapCount);
    }
    void touchEnded(uint32_t tapCount, float x, float y) {
        if (currentScreen_) currentScreen_->touchEnded(glm::vec2(x, y), tapCount);
    }
    void gamepadInput(GamepadState const& state) {
        if (currentScreen_) currentScreen_->gamepadInput(state);
    }
    void buttonPressed(uint32_t code) {
        if (currentScreen_) currentScreen_->buttonPressed(code);
    }
    void controllerConnected() { events_.trigger(signalControllerConnected); }
    void controllerDisconnected() { events_.trigger(signalControllerDisconnected); }

    // Starts a catalog level from its index text (URL entry, challenges). 1337 and 1338 start the
    // first level in hardcore once the downloaded content is mounted. Anything else that does not
    // name an unlocked level is ignored.
    void openLevelByIndex(std::string const& text) {
        uint64_t index = 0;
        if (text.empty() || text[0] == '-' || text[0] == '+' ||
            !boost::conversion::try_lexical_convert(text, index))
            return;
        bool hardcore = false;
        if (index == 1337 || index == 1338) {
            if (Impl::downloadState() != 4) return;
            hardcore = true;
            index = 0;
        }
        if (index >= Impl::levelCount()) return;
        auto const& entry = Impl::levelEntry(index);
        if (!Impl::fileExists(entry.path)) return;
        if (!Impl::isLevelUnlocked(index)) return;
        startLevel(entry.path, entry.nameKey, false, true, hardcore);
    }

    // Halves the texture budget; only while suspended.
    void trimGraphicsMemory() {
        if (!suspended_ || !renderContexts_) return;
        GraphicsContext& g = renderContexts_->graphics;
        g.setTextureBudget(g.textureBudget() >> 1);
        g.updateTextures();
        texturesTrimmed_ = true;
    }

    void willResignActive() { suspended_ = true; }

    // Restores a trimmed budget (waiting until every requested texture is back) and restarts
    // the clock so that the first frame after the pause has a small dt.
    void didBecomeActive() {
        suspended_ = false;
        if (texturesTrimmed_ && renderContexts_) {
            GraphicsContext& g = renderContexts_->graphics;
            bool const burst = g.burstLoading();
            g.setBurstLoading(true);
            g.setTextureBudget(Impl::graphicsBudget());
            g.updateTextures();
            while (!g.texturesLoaded()) {
                g.updateTextures();
                sched_yield();
            }
            g.setBurstLoading(burst);
        }
        texturesTrimmed_ = false;
        lastTimeMs_ = Impl::nowMs();
    }

    bool willTerminate() { return true; }

    void startLevel(std::string const& path, std::string const& name, bool restart, bool skipTutorial,
                    bool hardcore) {
        char const* prefix = hardcore ? (restart ? "RESTARTED_HARDCORE_LEVEL_WITH_PATH: "
                                                 : "STARTED_HARDCORE_LEVEL_WITH_PATH: ")
                                      : (restart ? "RESTARTED_LEVEL_WITH_PATH: " : "STARTED_LEVEL_WITH_PATH: ");
        Impl::logEvent((prefix + path).c_str());
        cloudSync_.suspend();
        // The level loader screen comes with the menus; until then the current screen stays.
    }

    void transitToMainMenu(boost::optional<std::string> const& video) {
        // The main-menu loader screen comes with the menus; until then the current screen stays.
        cloudSync_.resume();
        cloudSync_.send(1);
    }

    // The install callback's body: the next tick has dt 0; the caller (the current screen) is
    // deleted before this returns.
    void installViewController(std::unique_ptr<ViewController>&& screen) {
        resetClock_ = true;
        currentScreen_ = std::move(screen);
    }
    InstallViewControllerCallback installCallback() {
        return [this](std::unique_ptr<ViewController>&& screen) { installViewController(std::move(screen)); };
    }

    ViewController* screen() const { return currentScreen_.get(); }
    AudioContext& audio() { return audio_; }
    EventHandler& events() { return events_; }
    RenderContexts* renderContexts() { return renderContexts_ ? &*renderContexts_ : nullptr; }
    CloudSyncThread& cloudSync() { return cloudSync_; }
    bool isSuspended() const { return suspended_; }

private:
    AbstractApp()
        : audio_(typename AudioContext::Parameters{0.001f, 0xD004u, Impl::worldViewWidth(), Impl::worldViewWidth()}) {}

    uint64_t lastTimeMs_ = 0;
    bool notStarted_ = true;
    bool resetClock_ = false;
    bool suspended_ = false;
    bool texturesTrimmed_ = false;
    AudioContext audio_;
    EventHandler events_;
    std::optional<RenderContexts> renderContexts_;
    std::unique_ptr<ViewController> currentScreen_;
    CloudSyncThread cloudSync_;
};

}  // namespace os
