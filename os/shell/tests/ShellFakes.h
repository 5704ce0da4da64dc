#pragma once
// Recording stand-ins for the app frame and the desktop, so the shell's logic runs without a
// window, controllers or network.
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/agent/Tally.h"
#include "os/shell/AppFrame.h"
#include "os/shell/RatingPrompt.h"
#include "os/shell/ShellPlatform.h"
#include "testing/TestPaths.h"

namespace fakes {

// A rating prompt that does nothing, so launches stay off the user's settings and the network.
struct QuietRating : os::RatingPrompt::Platform {
    testing_support::TempDir dir;
    platform::PreferencesFile prefs{dir / "prefs"};
    std::string appVersion() override { return "1"; }
    std::string displayName() override { return "zelv"; }
    double now() override { return 0; }
    platform::PreferencesFile& defaults() override { return prefs; }
    std::optional<uint32_t> zeroAddressFlags() override { return std::nullopt; }
    bool startProbe() override { return false; }
    void showAlert(std::string const&, std::string const&, std::string const&, std::string const&,
                   std::optional<std::string> const&, std::function<void(int)>) override {}
    bool alertVisible() override { return false; }
    void dismissAlert() override {}
    void openUrl(std::string const&) override {}
    void runInBackground(std::function<void()> job) override { job(); }
    void runOnMain(std::function<void()> job) override { job(); }
    void log(std::string const&) override {}
};

struct App : os::AppFrame {
    std::vector<std::string>* log;
    std::function<void()> duringInit;
    bool initResult = true;
    explicit App(std::vector<std::string>* l) : log(l) {}
    void rec(std::string s) { log->push_back(std::move(s)); }
    bool init(int, char const* const*) override {
        rec("init");
        if (duringInit) duringInit();
        return initResult;
    }
    bool tick() override {
        rec("tick");
        return true;
    }
    void touchBegan(uint32_t, float, float) override { rec("touchBegan"); }
    void touchMoved(uint32_t, float, float) override { rec("touchMoved"); }
    void touchEnded(uint32_t, float, float) override { rec("touchEnded"); }
    static std::string num(float v) { return std::isnan(v) ? "nan" : std::to_string(int(v)); }
    // One line for each controller read.
    void gamepadInput(std::vector<os::ControllerState> const& controllers) override {
        for (auto const& c : controllers) {
            GamepadState const& s = c.state;
            rec("gamepad A" + std::to_string(s.buttonA) + " B" + std::to_string(s.buttonB) + " X" +
                std::to_string(s.buttonX) + " Y" + std::to_string(s.buttonY) + " dpad " + num(s.dpadX) + "," +
                num(s.dpadY) + " left " + num(s.leftX) + "," + num(s.leftY) + " keys " + std::to_string(s.keys));
        }
    }
    void controllerConnected() override { rec("connected"); }
    void controllerDisconnected() override { rec("disconnected"); }
    void buttonPressed(uint32_t code) override { rec("button " + std::to_string(code)); }
    void willResignActive() override { rec("willResignActive"); }
    void windowFocusLost() override { rec("windowFocusLost"); }
    void windowFocusGained() override { rec("windowFocusGained"); }
    void didBecomeActive() override { rec("didBecomeActive"); }
    void trimGraphicsMemory() override { rec("trim"); }
    bool willTerminate() override {
        rec("willTerminate");
        return true;
    }
    void openLevelByIndex(std::string const& index) override { rec("open " + index); }
    // No boards to draw: the view closes by itself.
    bool presentGameServices(std::string const& board, std::function<void()>) override {
        rec("present boards " + board);
        return false;
    }
    void dismissGameServices() override { rec("dismiss boards"); }
};

struct Controller : platform::GameController {
    std::optional<Gamepad> pad;
    std::optional<Extended> extended;
    std::optional<Micro> micro;
    std::function<void()> handler;
    int rotationCalls = 0;
    bool hasPausedHandler() const override { return bool(handler); }
    void setPausedHandler(std::function<void()> h) override { handler = std::move(h); }
    std::optional<Gamepad> gamepad() const override { return pad; }
    std::optional<Extended> extendedGamepad() const override { return extended; }
    std::optional<Micro> microGamepad() const override { return micro; }
    void setAllowsRotation(bool) override { ++rotationCalls; }
};

// A keyboard: its profiles are made from the keys down.
struct Keys : platform::GameController {
    uint32_t down = 0;
    std::function<void()> handler;
    bool hasPausedHandler() const override { return bool(handler); }
    void setPausedHandler(std::function<void()> h) override { handler = std::move(h); }
    std::optional<Gamepad> gamepad() const override { return platform::keyboardProfiles(down).gamepad; }
    std::optional<Extended> extendedGamepad() const override { return platform::keyboardProfiles(down).extended; }
    uint32_t keysDown() const override { return down; }
};

struct Video : platform::VideoPlayer {
    int frames = 3;
    int paused = 0, resumed = 0;
    bool update(int64_t) override { return frames-- > 0; }
    void draw(int, int) override {}
    void pause() override { ++paused; }
    void resume() override { ++resumed; }
    uint64_t framesShown() const override { return 0; }
};

struct Request : platform::ResourceRequest {
    Progress progress;
    Completion completion;
    double fraction = 0;
    void begin(Progress p, Completion c) override {
        progress = std::move(p);
        completion = std::move(c);
    }
    double fractionCompleted() const override { return fraction; }
};

struct Monitor : platform::NetworkMonitor {
    std::optional<uint32_t> value = kReachable;
    std::optional<uint32_t> flags() const override { return value; }
    bool start(std::function<void()>) override { return true; }
    void stop() override {}
};

struct Platform : os::ShellPlatform {
    std::vector<std::string>* log;
    std::vector<platform::GameController*> pads;
    std::string model = "x86_64";
    bool videoExists = true;
    Video* lastVideo = nullptr;
    std::vector<Request*> requests;
    Monitor* monitor = nullptr;
    std::vector<Event> events;
    explicit Platform(std::vector<std::string>* l) : log(l) {}
    void rec(std::string s) { log->push_back(std::move(s)); }
    void nameMainThread() override { rec("nameMainThread"); }
    // Says whether the analytics session was started before.
    void enterResourceDirectory() override {
        rec(Tally::sessionApiKey() ? "enterResourceDirectory (session started)" : "enterResourceDirectory");
    }
    std::string mountError;  // what mounting pak0.pak fails with
    std::string mountArchive(std::string const& path) override {
        rec("mount " + path);
        return path == "pak0.pak" ? mountError : std::string();
    }
    void showError(std::string const& message) override { rec("showError " + message); }
    bool createWindow() override {
        rec("createWindow");
        return true;
    }
    void createGlView() override { rec("createGlView"); }
    void showWindow() override { rec("showWindow"); }
    void makeContextCurrent() override { rec("makeContextCurrent"); }
    void disableIdleTimer() override { rec("disableIdleTimer"); }
    void waitForFrame() override {}
    bool readyToDraw() override { return true; }
    void present() override { rec("present"); }
    int quitAfterPolls = -1;  // then a quit request
    std::vector<Event> pollEvents() override {
        if (quitAfterPolls >= 0 && quitAfterPolls-- == 0) events.push_back({Event::Kind::Quit});
        return std::move(events);
    }
    glm::vec2 toVirtual(float x, float y) const override { return {x, y}; }
    std::vector<platform::GameController*> controllers() override { return pads; }
    std::string deviceModel() override { return model; }
    std::unique_ptr<platform::VideoPlayer> openVideo(std::string const& path) override {
        rec("openVideo " + path);
        if (!videoExists) return nullptr;
        auto v = std::make_unique<Video>();
        lastVideo = v.get();
        return v;
    }
    int framebufferWidth() const override { return 1334; }
    int framebufferHeight() const override { return 750; }
    std::unique_ptr<platform::ResourceRequest> resourceRequest(std::string const& tag) override {
        rec("request " + tag);
        auto r = std::make_unique<Request>();
        requests.push_back(r.get());
        return r;
    }
    std::unique_ptr<os::Reachability> internetReachability() override {
        rec("internetReachability");
        auto m = std::make_unique<Monitor>();
        monitor = m.get();
        return std::make_unique<os::Reachability>(std::move(m));
    }
};

}  // namespace fakes
