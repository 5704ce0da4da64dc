#pragma once
#include <sched.h>

#include <boost/lexical_cast/try_lexical_convert.hpp>
#include <boost/optional.hpp>
#include <glm/vec2.hpp>

#include <array>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "os/AbstractAppCallbacks.h"
#include "os/DummyViewController.h"
#include "os/EventHandler.h"
#include "os/FileSystem.h"
#include "os/Presses.h"
#include "os/ViewController.h"

namespace os {

// Views drawn over the running screen, each in a layer of its own, bottom to top: the one on top
// takes the input.
enum class Overlay : size_t { Boards, RatingPrompt, TextEntry };
inline constexpr size_t kOverlayCount = 3;

// Impl::GameServicesViewController when Impl names one, else Pending.
template <class Impl, class = void>
struct GameServicesViewOf {
    using type = Pending;
};
template <class Impl>
struct GameServicesViewOf<Impl, std::void_t<typename Impl::GameServicesViewController>> {
    using type = typename Impl::GameServicesViewController;
};

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
//   screens LevelLoaderViewController, MainMenuLoaderViewController, EndOfLevelViewController,
//          PauseViewController, ConfirmationBoxViewController, built with the arguments of
//          their transitions below; any of them may be os::Pending
//   types  TriggerVariant (the level's result), ConfirmationBoxParameters
//   optional GameServicesViewController, built with (graphics, audio, fonts, leaderboard, onDone):
//          the boards shown over the running screen
// Other views over the running screen (the rating prompt, the text field) come through
// presentOverlay with a maker of (graphics, audio, fonts).
//
// Screens hand over from inside their own calls (update, input, signal slots). The screen a
// hand-over replaces is kept until the frame call that reached it returns, then deleted, so a
// callback never deletes the code that is still running it.
template <class Impl>
class AbstractApp {
public:
    using AudioContext = typename Impl::AudioContext;
    using GraphicsContext = typename Impl::GraphicsContext;
    using FontsContext = typename Impl::FontsContext;
    using PostProcessingStep = typename Impl::PostProcessingStep;
    using StandardShader = typename Impl::StandardShader;
    using CloudSyncThread = typename Impl::CloudSyncThread;
    using TriggerVariant = typename Impl::TriggerVariant;
    using ConfirmationBoxParameters = typename Impl::ConfirmationBoxParameters;

    using TransitToEndOfLevelCallback =
        std::function<void(TriggerVariant const& result, std::string const& path, std::string const& name)>;
    using ShowConfirmationBoxCallback = std::function<void(ConfirmationBoxParameters const&)>;

    static constexpr float maxFrameMs = 33.333336f;
    static constexpr uint32_t signalControllerConnected = 20000008;
    static constexpr uint32_t signalControllerDisconnected = 20000009;
    static constexpr uint32_t signalLevelInstalled = 20000001;

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
            RenderContexts& rc = *renderContexts_;
            {
                // Slots belong to screens and level objects, which may hand over.
                ScreenCall call(*this);
                events_.dispatch();
            }
            if (!windowFocused_) tellFocusLost();
            if (currentScreen_) {
                ScreenCall call(*this);
                currentScreen_->update(audio_, dt, float(now));
            }
            for (size_t i = 0; i < kOverlayCount; ++i) {
                ScreenCall call(*this);
                if (overlays_[i]) overlays_[i]->update(audio_, dt, float(now));
            }
            audio_.update(dt);
            rc.postProcessing.update(dt);
            rc.graphics.updateTextures();
            rc.graphics.beginDynamicBuffers();
            if (currentScreen_) {
                ScreenCall call(*this);
                currentScreen_->preDraw(&rc.graphics);
            }
            for (size_t i = 0; i < kOverlayCount; ++i) {
                ScreenCall call(*this);
                if (overlays_[i]) overlays_[i]->preDraw(&rc.graphics);
            }
            rc.graphics.endDynamicBuffers();
            rc.postProcessing.updateColors();
            if (currentScreen_) {
                ScreenCall call(*this);
                currentScreen_->draw(&rc.graphics, &rc.standardShader);
            }
            rc.postProcessing.drawBackdrop(&rc.graphics, &rc.standardShader);
            if (currentScreen_) {
                ScreenCall call(*this);
                currentScreen_->drawOverlay(&rc.graphics, &rc.standardShader);
            }
            rc.postProcessing.present(&rc.graphics, &rc.standardShader);
            // Over the finished frame, untouched by the screen's fades and grading.
            for (size_t i = 0; i < kOverlayCount; ++i) {
                ScreenCall call(*this);
                if (overlays_[i]) overlays_[i]->drawOverlay(&rc.graphics, &rc.standardShader);
            }
            givePendingPause();
            ViewController* const target = inputTarget();
            takerAfterTick_ = target ? target->inputTaker() : nullptr;
            overlaysAfterTick_ = overlayChanges_;
        }
        lastTimeMs_ = now;
        return true;
    }

    // Input arrives only after init; anything earlier has no screen to go to and is dropped.
    // A presented view takes all of it while it is up.
    void touchBegan(uint32_t tapCount, float x, float y) {
        ScreenCall call(*this);
        if (ViewController* target = inputTarget()) target->touchBegan(glm::vec2(x, y), tapCount);
    }
    void touchMoved(uint32_t tapCount, float x, float y) {
        ScreenCall call(*this);
        if (ViewController* target = inputTarget()) target->touchMoved(glm::vec2(x, y), tapCount);
    }
    void touchEnded(uint32_t tapCount, float x, float y) {
        ScreenCall call(*this);
        if (ViewController* target = inputTarget()) target->touchEnded(glm::vec2(x, y), tapCount);
    }
    // Every connected controller's state, each frame. A change of the input's taker begins as a
    // view over the screen comes or goes, as a box comes over a page or goes, as a page or a
    // screen takes another's place, and as a taker stops taking input (a menu leaving, a fade, a
    // screen still coming up: no taker). What was down as it began is no press for the next taker
    // until let go; every other press acts there, one made and let go meanwhile too (see Presses).
    // A level is one taker from its loading on (ViewController::levelTaker). While there is no
    // taker the screen gets nothing down, and a taker's first state follows one with nothing down,
    // so whatever the screen saw last a fresh press is a press.
    void gamepadInput(std::vector<ControllerState> const& controllers) {
        ScreenCall call(*this);
        presses_.read(controllers);
        ViewController* target = inputTarget();
        void const* const taker = target ? target->inputTaker() : nullptr;
        bool const overlaysChanged = overlayChanges_ != overlayChangesSeen_;
        if (overlaysChanged || taker != lastTaker_) {
            // The last frame's update left the taker as the last state found it: this frame's
            // events (a key's pause press, a click) changed it, after the keys down now went down.
            bool const inEvents = takerAfterTick_ == lastTaker_ && overlaysAfterTick_ == overlayChangesSeen_;
            presses_.changeBegan(inEvents);
        }
        overlayChangesSeen_ = overlayChanges_;
        lastTaker_ = taker;
        if (!target) return;
        if (!taker) return target->gamepadInput(GamepadState{});
        if (presses_.changing()) {
            target->gamepadInput(GamepadState{});
            // Handed over on nothing down: the change goes on.
            if (inputTarget() != target || target->inputTaker() != taker) return;
        }
        target->gamepadInput(presses_.take());
    }
    // The pause button pressed while nothing takes the input (a page opening, a fade) is kept for
    // whatever takes it next (see givePendingPause).
    void buttonPressed(uint32_t code) {
        ScreenCall call(*this);
        ViewController* const target = inputTarget();
        if (!target) return;
        if (code == ViewController::buttonPause && !target->inputTaker()) {
            pausePending_ = true;
            return;
        }
        target->buttonPressed(code);
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

    // Shows the game services' boards over the running screen, which keeps running under them;
    // onDone runs once when the player closes them. False when there is nothing to show them with
    // (no view type, or before the first frame).
    bool presentGameServices(std::string const& leaderboard, std::function<void()> onDone) {
        using View = typename GameServicesViewOf<Impl>::type;
        if constexpr (!std::is_same_v<View, Pending>) {
            return presentOverlay(Overlay::Boards, [&](GraphicsContext* g, AudioContext* a, FontsContext* f) {
                return std::make_unique<View>(g, a, f, leaderboard, std::move(onDone));
            });
        }
        return false;
    }
    // Takes the boards away; the view is deleted once the frame call that reached this returns.
    void dismissGameServices() { dismissOverlay(Overlay::Boards); }
    ViewController* presentedView() const { return overlay(Overlay::Boards); }

    // Shows the view make(graphics, audio, fonts) builds over the running screen, in place of the
    // layer's earlier one. False when it cannot be built or before the first frame.
    template <class Make>
    bool presentOverlay(Overlay layer, Make&& make) {
        if (!renderContexts_ || !currentScreen_) return false;
        RenderContexts& rc = *renderContexts_;
        try {
            std::unique_ptr<ViewController> view = make(&rc.graphics, &audio_, &rc.fonts);
            if (!view) return false;
            setOverlay(layer, std::move(view));
            return true;
        } catch (std::exception const& e) {
            std::fprintf(stderr, "AbstractApp: cannot show a view over the game: %s\n", e.what());
        }
        return false;
    }
    void dismissOverlay(Overlay layer) { setOverlay(layer, nullptr); }
    ViewController* overlay(Overlay layer) const { return overlays_[size_t(layer)].get(); }

    // Halves the texture budget; only while suspended.
    void trimGraphicsMemory() {
        if (!suspended_ || !renderContexts_) return;
        GraphicsContext& g = renderContexts_->graphics;
        g.setTextureBudget(g.textureBudget() >> 1);
        g.updateTextures();
        texturesTrimmed_ = true;
    }

    void willResignActive() { suspended_ = true; }

    // The window lost the focus but is still shown: frames go on, the screen decides (a running
    // level pauses). Until the focus is back each frame tells the screen again, so a level that
    // starts or resumes meanwhile (a load, the fade out of the pause menu) pauses at once too.
    void windowFocusLost() {
        windowFocused_ = false;
        tellFocusLost();
    }
    void windowFocusGained() { windowFocused_ = true; }

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

    // Logs the start, stops cloud sync for the level and hands over to the level loader.
    void startLevel(std::string const& path, std::string const& name, bool restart, bool skipTutorial,
                    bool hardcore) {
        char const* prefix = hardcore ? (restart ? "RESTARTED_HARDCORE_LEVEL_WITH_PATH: "
                                                 : "STARTED_HARDCORE_LEVEL_WITH_PATH: ")
                                      : (restart ? "RESTARTED_LEVEL_WITH_PATH: " : "STARTED_LEVEL_WITH_PATH: ");
        Impl::logEvent((prefix + path).c_str());
        cloudSync_.suspend();
        if (!ready("a screen change")) return;
        RenderContexts& rc = *renderContexts_;
        TransitToEndOfLevelCallback endOfLevel = [this, skipTutorial, hardcore](
                                                     TriggerVariant const& result, std::string const& p,
                                                     std::string const& n) {
            transitToEndOfLevel(result, p, n, skipTutorial, hardcore);
        };
        TriggerPauseMenuCallback pause = [this, skipTutorial, hardcore](std::string const& p, std::string const& n) {
            triggerPauseMenu(p, n, skipTutorial, hardcore);
        };
        ShowConfirmationBoxCallback question = [this](ConfirmationBoxParameters const& parameters) {
            showConfirmationBox(parameters);
        };
        TransitToMainMenuCallback mainMenu = [this](boost::optional<std::string> const& video) {
            transitToMainMenu(video);
        };
        using Loader = typename Impl::LevelLoaderViewController;
        if constexpr (!std::is_same_v<Loader, Pending>) {
            handOver("level loader", [&](std::unique_ptr<ViewController>&& previous) {
                return std::make_unique<Loader>(&rc.graphics, &audio_, std::move(previous), &rc.postProcessing,
                                                &rc.fonts, &events_, endOfLevel, path, name, installCallback(),
                                                pause, question, restart, startLevelCallback(), skipTutorial,
                                                mainMenu, hardcore);
            });
        }
    }

    // Hands over to the main-menu loader, then lets cloud sync run and asks it to sync.
    void transitToMainMenu(boost::optional<std::string> const& video) {
        using Loader = typename Impl::MainMenuLoaderViewController;
        if constexpr (!std::is_same_v<Loader, Pending>) {
            if (!ready("a screen change")) return;
            RenderContexts& rc = *renderContexts_;
            handOver("main-menu loader", [&](std::unique_ptr<ViewController>&& previous) {
                return std::make_unique<Loader>(&rc.graphics, &audio_, std::move(previous), &rc.postProcessing,
                                                &rc.fonts, installCallback(), startLevelCallback(), &cloudSync_,
                                                video);
            });
        } else {
            std::fprintf(stderr, "zelv: there is no main menu yet\n");
        }
        cloudSync_.resume();
        cloudSync_.send(1);
    }

    // The end-of-level screen resumes cloud sync itself.
    void transitToEndOfLevel(TriggerVariant const& result, std::string const& path, std::string const& name,
                             bool skipTutorial, bool hardcore) {
        using Screen = typename Impl::EndOfLevelViewController;
        if constexpr (!std::is_same_v<Screen, Pending>) {
            if (!ready("a screen change")) return;
            RenderContexts& rc = *renderContexts_;
            handOver("end-of-level screen", [&](std::unique_ptr<ViewController>&& previous) {
                return std::make_unique<Screen>(&rc.graphics, &audio_, std::move(previous), &rc.postProcessing,
                                                &rc.fonts, returnToMainMenuCallback(), startLevelCallback(), result,
                                                path, name, skipTutorial, &cloudSync_, hardcore);
            });
        } else {
            std::fprintf(stderr, "zelv: level %s ended; there is no end-of-level screen yet\n",
                         FileSystem::printable(path).c_str());
        }
    }

    // Cloud sync runs while the game is paused.
    void triggerPauseMenu(std::string const& path, std::string const& name, bool skipTutorial, bool hardcore) {
        cloudSync_.resume();
        cloudSync_.send(1);
        using Screen = typename Impl::PauseViewController;
        if constexpr (!std::is_same_v<Screen, Pending>) {
            if (!ready("a screen change")) return;
            RenderContexts& rc = *renderContexts_;
            ResumeFromPauseCallback resume = [this](std::unique_ptr<ViewController>&& game) {
                resumeFromPause(std::move(game));
            };
            handOver("pause screen", [&](std::unique_ptr<ViewController>&& previous) {
                return std::make_unique<Screen>(&rc.graphics, &audio_, std::move(previous), &rc.postProcessing,
                                                &rc.fonts, &events_, returnToMainMenuCallback(), startLevelCallback(),
                                                path, name, resume, skipTutorial, hardcore);
            });
        }
    }

    // The confirmation-box callback's body: wraps the current screen in a question box whose
    // give-back callback puts the wrapped screen back without a clock reset.
    void showConfirmationBox(ConfirmationBoxParameters const& parameters) {
        using Screen = typename Impl::ConfirmationBoxViewController;
        if constexpr (!std::is_same_v<Screen, Pending>) {
            if (!ready("a screen change")) return;
            RenderContexts& rc = *renderContexts_;
            InstallViewControllerCallback giveBack = [this](std::unique_ptr<ViewController>&& wrapped) {
                replaceCurrent(std::move(wrapped));
            };
            handOver("question box", [&](std::unique_ptr<ViewController>&& previous) {
                return std::make_unique<Screen>(&rc.graphics, &audio_, std::move(previous), &rc.postProcessing,
                                                &rc.fonts, &events_, giveBack, parameters);
            });
        }
    }

    // The install callback's body: the next tick has dt 0. The caller (the screen that was
    // current) is deleted once the frame call that reached it returns.
    void installViewController(std::unique_ptr<ViewController>&& screen) {
        if (!screen) return;
        resetClock_ = true;
        replaceCurrent(std::move(screen));
    }
    InstallViewControllerCallback installCallback() {
        return [this](std::unique_ptr<ViewController>&& screen) { installViewController(std::move(screen)); };
    }
    // The resume callback's body: no clock reset.
    void resumeFromPause(std::unique_ptr<ViewController>&& game) {
        cloudSync_.suspend();
        replaceCurrent(std::move(game));
    }
    StartLevelCallback startLevelCallback() {
        return [this](std::string const& path, std::string const& name, bool restart, bool skipTutorial,
                      bool hardcore) { startLevel(path, name, restart, skipTutorial, hardcore); };
    }
    ReturnToMainMenuCallback returnToMainMenuCallback() {
        return [this] {
            transitToMainMenu(boost::none);
            return true;
        };
    }

    ViewController* screen() const { return currentScreen_.get(); }
    AudioContext& audio() { return audio_; }
    EventHandler& events() { return events_; }
    RenderContexts* renderContexts() { return renderContexts_ ? &*renderContexts_ : nullptr; }
    CloudSyncThread& cloudSync() { return cloudSync_; }
    bool isSuspended() const { return suspended_; }

private:
    AbstractApp()
        : audio_(typename AudioContext::Parameters{0.001f, 0xD004u, Impl::worldViewWidth(), Impl::worldViewWidth()}) {
        retired_.reserve(4);
    }

    // Marks a frame call that reaches screen code; replaced screens are deleted when the
    // outermost one ends.
    struct ScreenCall {
        explicit ScreenCall(AbstractApp& app) : app(app) { ++app.screenCallDepth_; }
        ~ScreenCall() {
            if (--app.screenCallDepth_ == 0) app.deleteRetired();
        }
        ScreenCall(ScreenCall const&) = delete;
        ScreenCall& operator=(ScreenCall const&) = delete;
        AbstractApp& app;
    };

    void retire(std::unique_ptr<ViewController>&& screen) {
        if (!screen) return;
        if (screenCallDepth_ == 0) {
            screen.reset();
            return;
        }
        retired_.push_back(std::move(screen));
    }
    void deleteRetired() {
        // A destructor could retire more; take one at a time.
        while (!retired_.empty()) {
            std::unique_ptr<ViewController> last = std::move(retired_.back());
            retired_.pop_back();
            last.reset();
        }
    }

    // A pause kept while nothing took the input goes to the taker that has come up, before any
    // other press made meanwhile, as its own frame's events would have. Should it hand the input
    // over, every other such press is spent and what is down now is held over: Escape is the
    // pause and B at once, and goes back once.
    void givePendingPause() {
        ViewController* const target = inputTarget();
        void const* const taker = target ? target->inputTaker() : nullptr;
        if (!pausePending_ || !taker) return;
        pausePending_ = false;
        uint64_t const overlays = overlayChanges_;
        ScreenCall call(*this);
        target->buttonPressed(ViewController::buttonPause);
        if (inputTarget() != target || target->inputTaker() != taker || overlayChanges_ != overlays) {
            presses_.spend();
            presses_.changeBegan(true);
        }
    }

    void tellFocusLost() {
        ScreenCall call(*this);
        if (currentScreen_) currentScreen_->windowFocusLost();
    }

    ViewController* inputTarget() const {
        for (size_t i = kOverlayCount; i-- > 0;)
            if (overlays_[i]) return overlays_[i].get();
        return currentScreen_.get();
    }

    void setOverlay(Overlay layer, std::unique_ptr<ViewController>&& view) {
        std::unique_ptr<ViewController>& slot = overlays_[size_t(layer)];
        if (!slot && !view) return;
        retire(std::move(slot));
        slot = std::move(view);
        ++overlayChanges_;
    }

    // Screens are built only once init has made the contexts (an opened URL can arrive earlier).
    bool ready(char const* what) {
        if (renderContexts_ && currentScreen_) return true;
        std::fprintf(stderr, "AbstractApp: %s before the first frame is ignored\n", what);
        return false;
    }

    // Makes `screen` current; the one it replaces is retired. A null screen changes nothing.
    void replaceCurrent(std::unique_ptr<ViewController>&& screen) {
        if (!screen) {
            std::fprintf(stderr, "AbstractApp: a hand-over without a screen is ignored\n");
            return;
        }
        std::unique_ptr<ViewController> old = std::move(currentScreen_);
        currentScreen_ = std::move(screen);
        logScreen(*currentScreen_);
        retire(std::move(old));
    }

    // The common hand-over: the new screen is built with the current one, which it takes over
    // as the last step of its constructor. A constructor that throws leaves the previous screen
    // current.
    template <class Make>
    void handOver(char const* what, Make&& make) {
        std::unique_ptr<ViewController> previous = std::move(currentScreen_);
        std::unique_ptr<ViewController> next;
        try {
            next = make(std::move(previous));
        } catch (std::exception const& e) {
            std::fprintf(stderr, "AbstractApp: cannot build the %s: %s\n", what, e.what());
        } catch (...) {
            std::fprintf(stderr, "AbstractApp: cannot build the %s\n", what);
        }
        if (!next) {
            if (previous)
                currentScreen_ = std::move(previous);
            else if (!currentScreen_)
                currentScreen_ = std::make_unique<DummyViewController>();
            return;
        }
        replaceCurrent(std::move(next));
        retire(std::move(previous));
    }

    uint64_t lastTimeMs_ = 0;
    bool notStarted_ = true;
    bool resetClock_ = false;
    bool suspended_ = false;
    bool texturesTrimmed_ = false;
    AudioContext audio_;
    EventHandler events_;
    std::optional<RenderContexts> renderContexts_;
    std::unique_ptr<ViewController> currentScreen_;
    // Over the current screen, drawn after it; the top one takes the input.
    std::array<std::unique_ptr<ViewController>, kOverlayCount> overlays_;
    uint64_t overlayChanges_ = 0, overlayChangesSeen_ = 0;
    Presses presses_;
    // The taker of the last state: the box, page or screen, null for none.
    void const* lastTaker_ = nullptr;
    // The taker, and the count of overlay changes, as the last frame's update left them.
    void const* takerAfterTick_ = nullptr;
    uint64_t overlaysAfterTick_ = 0;
    bool pausePending_ = false;
    bool windowFocused_ = true;
    CloudSyncThread cloudSync_;
    int screenCallDepth_ = 0;
    std::vector<std::unique_ptr<ViewController>> retired_;
};

}  // namespace os
