#pragma once
// The application delegate: launches the game in a fixed order, drives one frame per display
// refresh (controllers, the app frame's tick, a video over it, presenting), reacts to the window
// losing focus (a level pauses), being hidden and shown again (frames stop and go on), memory
// pressure and termination, hands opened URLs to the app frame, and runs the on-demand download
// of "pak1".
#include <AL/alc.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/services/ShellBridge.h"
#include "os/shell/AppFrame.h"
#include "os/shell/ControllerPoller.h"
#include "os/shell/MainViewController.h"
#include "os/shell/OnDemandDownload.h"
#include "os/shell/Reachability.h"
#include "os/shell/ShellPlatform.h"

namespace os {

class AppDelegate final : public ShellBridge {
public:
    static constexpr char const* kAnalyticsKey = "QK7RZT2MHX4VN9BLC3PD";
    static constexpr char const* kStoreId = "1000000000";
    static constexpr uint32_t kPauseButton = 0x1000003;
    static constexpr char const* kUsage = "usage: zelv [--level LEVEL-FILE] [LEVEL-ADDRESS]";

    using AppFactory = std::function<std::unique_ptr<AppFrame>()>;
    AppDelegate(ShellPlatform& platform, AppFactory makeApp);
    ~AppDelegate();
    AppDelegate(AppDelegate const&) = delete;
    AppDelegate& operator=(AppDelegate const&) = delete;

    static AppDelegate* sharedAppDelegate();

    // Launches, runs frames until the window closes or the process is told to end, terminates.
    // A first argument is delivered as an opened URL after the first frame. Returns the exit status:
    // 2 for an option (usage printed), 1 when the game cannot start.
    int run(int argc, char const* const* argv);
    // The command line: --level FILE and a level address. False, with the exit code, when the
    // game should not start (help asked for, or an unknown option).
    bool readArguments(int argc, char const* const* argv, int& exitCode);
    static std::string levelFileTyped(std::string const& path);
    // One pass of the run loop: events, queued main-thread work, and a frame when one is due.
    // False once the program should end.
    bool runOnce();

    // Lifecycle entry points. Launching fails without a window or a readable pak0.pak;
    // launchError() then says why (empty for the window: it reports itself).
    bool applicationDidFinishLaunching();
    std::string const& launchError() const { return launchError_; }
    void applicationWillResignActive();
    void applicationDidBecomeActive();
    void applicationWillEnterForeground();
    void applicationDidReceiveMemoryWarning();
    void applicationWillTerminate();
    bool openURL(std::string const& url);

    // One frame (the display link's target).
    void mainLoop();
    // Handles one event of the platform.
    void handle(ShellPlatform::Event const& event);

    void startDownload();
    void reachabilityChanged(void* object);
    void updateWithReachability(Reachability* reachability);

    bool setUpAudioSession();
    void tearDownAudioSession();

    // ShellBridge: what the platform functions ask of the shell.
    void playVideo(char const* path) override;
    void skipVideo() override;
    void showGameCenter() override { if (rvc_) rvc_->showGameCenter(); }
    void showGameCenterForLevel(std::string const& id) override { if (rvc_) rvc_->showGameCenterForLevel(id); }
    void showGameCenterLoginIfNeeded() override { if (rvc_) rvc_->showGameCenterLoginIfNeeded(); }
    void significantEvent(bool canPrompt) override;
    void videoStopped();

    // The level index an opened URL names: its last path part, else its host; decimal digits
    // only. None for anything else.
    static std::optional<std::string> levelIndexFromUrl(std::string const& url);
    static bool isOldDeviceModel(std::string const& model);

    bool hasDisplayLink() const { return displayLink_; }
    bool animating() const { return animating_; }
    bool playingVideo() const { return bool(videoPlayer_); }
    AppFrame* app() { return app_.get(); }
    MainViewController* rvc() { return rvc_.get(); }
    OnDemandDownload& download() { return *download_; }
    Reachability* internetReachability() { return internetReachability_.get(); }
    // The launch steps in the order they ran.
    std::vector<std::string> const& launchSteps() const { return launchSteps_; }
    uint64_t frames() const { return frames_; }

private:
    // The application state the analytics agent reads: 0 active, 1 inactive, 2 background.
    static constexpr int kActive = 0, kInactive = 1;
    static void setApplicationState(int state);
    void step(char const* name) { launchSteps_.emplace_back(name); }
    void pausePressed();

    ShellPlatform& platform_;
    AppFactory makeApp_;
    std::unique_ptr<MainViewController> rvc_;
    std::unique_ptr<AppFrame> app_;
    std::unique_ptr<OnDemandDownload> download_;
    std::unique_ptr<Reachability> internetReachability_;
    std::unique_ptr<platform::VideoPlayer> videoPlayer_;
    int64_t videoElapsedMs_ = 0;
    int64_t lastFrameMs_ = 0;
    ControllerPoller controllers_;
    bool displayLink_ = false;
    bool animating_ = false;
    bool initialised_ = false;
    bool initialising_ = false;
    // The window's input focus; one lost before the first frame is told to the app frame then.
    bool windowFocused_ = true;
    bool quit_ = false;
    std::optional<std::string> pendingUrl_;
    // Given with --level: the app frame starts this level file instead of its first screen.
    std::optional<std::string> levelPath_;
    std::optional<std::string> address_;
    ALCcontext* savedSoundContext_ = nullptr;
    uint64_t frames_ = 0;
    std::vector<std::string> launchSteps_;
    std::string launchError_;
};

}  // namespace os
