// The shell's logic over fake adapters: the controller rule, lifecycle, opened URLs, videos, the
// download state machine, reachability flags and the root view controller's Game Center glue.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>

#include "analytics/agent/Tally.h"
#include "os/services/GameCenter.h"
#include "os/services/ShellServices.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/ControllerPoller.h"
#include "os/shell/MainQueue.h"
#include "os/shell/MainViewController.h"
#include "platform/base/Directories.h"
#include "platform/base/NotificationCenter.h"
#include "os/shell/OnDemandDownload.h"
#include "os/shell/Reachability.h"
#include "os/shell/RatingPrompt.h"
#include "os/shell/tests/ShellFakes.h"
#include "testing/TestPaths.h"

namespace {

using platform::GameController;

using fakes::QuietRating;

// The analytics agent that the launch starts keeps its files in a throwaway folder.
testing_support::TempDir agentFiles;
struct AgentFolder : ::testing::Environment {
    void SetUp() override { platform::Directories::setRootOverride(agentFiles.path()); }
    void TearDown() override { platform::Directories::setRootOverride(std::nullopt); }
};
::testing::Environment* const agentFolder = ::testing::AddGlobalTestEnvironment(new AgentFolder);

class Shell : public ::testing::Test {
protected:
    std::vector<std::string> log;
    fakes::Platform platform{&log};
    fakes::App* app = nullptr;
    std::unique_ptr<os::AppDelegate> delegate;

    // A launched delegate whose app frame is a fakes::App; `note` is logged when the frame is made.
    std::unique_ptr<os::AppDelegate> launched(char const* note = nullptr) {
        auto d = std::make_unique<os::AppDelegate>(platform, [this, note] {
            if (note) log.push_back(note);
            auto a = std::make_unique<fakes::App>(&log);
            app = a.get();
            return a;
        });
        EXPECT_TRUE(d->applicationDidFinishLaunching());
        return d;
    }
    void SetUp() override {
        os::MainQueue::shared().clear();
        os::RatingPrompt::setPlatform(std::make_unique<QuietRating>());
        Tally::reset();
        Tally::setRecordingEvents(true);
        delegate = launched();
        os::MainQueue::shared().drain(nowMs());
        log.clear();
    }
    void TearDown() override {
        delegate.reset();
        os::MainQueue::shared().clear();
        os::RatingPrompt::setPlatform(nullptr);
    }
    // Calls to the app frame in one frame, ticks and presents left out.
    std::vector<std::string> frame() {
        log.clear();
        delegate->mainLoop();
        std::vector<std::string> calls;
        for (auto const& l : log)
            if (l != "tick" && l != "present" && l != "init") calls.push_back(l);
        return calls;
    }
};

TEST_F(Shell, LaunchRunsInOrderAndStartsTheDownload) {
    delegate.reset();
    Tally::reset();
    auto prefs = std::make_unique<QuietRating>();
    platform::PreferencesFile& uses = prefs->prefs;
    os::RatingPrompt::setPlatform(std::move(prefs));
    log.clear();
    platform.requests.clear();
    delegate = launched("create app frame");
    EXPECT_EQ(log, (std::vector<std::string>{"nameMainThread", "enterResourceDirectory (session started)",
                                             "mount pak0.pak", "createWindow", "createGlView", "showWindow",
                                             "create app frame", "makeContextCurrent", "disableIdleTimer",
                                             "request pak1", "internetReachability"}));
    EXPECT_EQ(Tally::sessionApiKey(), "QK7RZT2MHX4VN9BLC3PD");
    EXPECT_TRUE(delegate->hasDisplayLink());
    EXPECT_TRUE(delegate->rvc());
    // The launch counts a use for the rating prompt.
    EXPECT_EQ(uses.integer(os::RatingPrompt::kUseCount), 1);
    EXPECT_EQ(platform.requests.size(), 1u);
    EXPECT_EQ(downloadState(), 0);
    // No frame before the display link's first tick: init waits for it.
    EXPECT_EQ(std::count(log.begin(), log.end(), "init"), 0);
}

TEST_F(Shell, ControllersAreAllReadEachFrameAndSignalConnectAndDisconnect) {
    fakes::Controller idle, pressing;
    idle.pad = GameController::Gamepad{};
    pressing.pad = GameController::Gamepad{};
    pressing.pad->buttonA = true;
    pressing.extended = GameController::Extended{1, -1, 0, 0};
    fakes::Keys keys;
    keys.down = platform::kKeyLeft | platform::kKeyRight;
    platform.pads = {&idle, &pressing, &keys};
    // Every controller, idle or not; a keyboard as its keys alone, opposite ones too.
    EXPECT_EQ(frame(), (std::vector<std::string>{"connected", "gamepad A0 B0 X0 Y0 dpad 0,0 left 0,0 keys 0",
                                                 "gamepad A1 B0 X0 Y0 dpad 0,0 left 1,-1 keys 0",
                                                 "gamepad A0 B0 X0 Y0 dpad 0,0 left 0,0 keys 3"}));
    EXPECT_TRUE(isControllerPresent());
    pressing.pad->buttonA = false;
    pressing.extended.reset();
    keys.down = platform::kKeyLeft;
    EXPECT_EQ(frame(), (std::vector<std::string>{"gamepad A0 B0 X0 Y0 dpad 0,0 left 0,0 keys 0",
                                                 "gamepad A0 B0 X0 Y0 dpad 0,0 left 0,0 keys 0",
                                                 "gamepad A0 B0 X0 Y0 dpad 0,0 left 0,0 keys 1"}));
    platform.pads.clear();
    EXPECT_EQ(frame(), (std::vector<std::string>{"disconnected"}));
    EXPECT_FALSE(isControllerPresent());
    EXPECT_TRUE(frame().empty());
}

TEST_F(Shell, MicroGamepadSwapsButtonsAndDrivesTheLeftStick) {
    fakes::Controller micro;
    micro.micro = GameController::Micro{1, -1, false, true};
    platform.pads = {&micro};
    EXPECT_EQ(frame(), (std::vector<std::string>{"connected", "gamepad A1 B0 X0 Y0 dpad 0,0 left 1,-1 keys 0"}));
    EXPECT_EQ(micro.rotationCalls, 1);
    micro.micro = GameController::Micro{0, 0, true, false};
    EXPECT_EQ(frame(), (std::vector<std::string>{"gamepad A0 B0 X1 Y0 dpad 0,0 left 0,0 keys 0"}));
    // A controller without a profile counts as present, with no input.
    fakes::Controller bare;
    platform.pads = {&bare};
    EXPECT_EQ(frame(), (std::vector<std::string>{"gamepad A0 B0 X0 Y0 dpad 0,0 left 0,0 keys 0"}));
}

TEST_F(Shell, NanAxisHidesNoOtherController) {
    fakes::Controller first, second;
    first.pad = GameController::Gamepad{};
    first.extended = GameController::Extended{std::numeric_limits<float>::quiet_NaN(), 0, 0, 0};
    second.pad = GameController::Gamepad{};
    second.pad->buttonY = true;
    platform.pads = {&first, &second};
    auto calls = frame();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(calls[1].find("left nan,0"), std::string::npos);
    EXPECT_NE(calls[2].find("Y1"), std::string::npos);
}

TEST_F(Shell, PauseButtonAndBLeftToTheBoards) {
    fakes::Controller pad;
    pad.pad = GameController::Gamepad{};
    platform.pads = {&pad};
    frame();
    ASSERT_TRUE(pad.handler);
    log.clear();
    pad.handler();
    EXPECT_EQ(log, (std::vector<std::string>{"button 16777219"}));

    int closed = 0;
    game_center::services().setAuthenticated(true);
    presentGameCenter([&](bool ok) { closed += ok ? 1 : 100; });
    ASSERT_TRUE(delegate->rvc()->hasGameCenterView());
    // B goes to the app frame like every press (the boards there close on it unless it was held as
    // they came up); the shell closes nothing itself.
    pad.pad->buttonB = true;
    auto calls = frame();
    EXPECT_EQ(closed, 0);
    EXPECT_TRUE(delegate->rvc()->hasGameCenterView());
    EXPECT_NE(calls.back().find("B1"), std::string::npos);
    // The view's own finish closes it, once.
    os::MainQueue::shared().drain(nowMs());
    EXPECT_EQ(closed, 1);
    EXPECT_FALSE(delegate->rvc()->hasGameCenterView());
    os::MainQueue::shared().drain(nowMs());
    EXPECT_EQ(closed, 1);
    auto events = Tally::events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back().name, "GAMECENTER_OPEN");
    EXPECT_TRUE(events.back().ended);
}

TEST_F(Shell, InitRunsOnceAndANestedFrameDuringItReturnsAtOnce) {
    auto fresh = launched();
    os::AppDelegate* d = fresh.get();
    app->duringInit = [d] { d->mainLoop(); };
    log.clear();
    d->mainLoop();
    EXPECT_EQ(log, (std::vector<std::string>{"init", "tick", "present"}));
    log.clear();
    d->mainLoop();
    EXPECT_EQ(log, (std::vector<std::string>{"tick", "present"}));
    fresh.reset();
}

TEST_F(Shell, LifecycleResignTwiceAndBecomeActiveWhileRunning) {
    delegate->mainLoop();
    log.clear();
    delegate->applicationWillResignActive();
    EXPECT_EQ(log, (std::vector<std::string>{"willResignActive"}));
    EXPECT_FALSE(delegate->hasDisplayLink());
    delegate->applicationWillResignActive();
    EXPECT_EQ(log.size(), 1u);
    // No frames while inactive.
    log.clear();
    delegate->mainLoop();
    EXPECT_TRUE(log.empty());
    delegate->applicationDidReceiveMemoryWarning();
    delegate->applicationDidBecomeActive();
    EXPECT_EQ(log, (std::vector<std::string>{"trim", "didBecomeActive"}));
    log.clear();
    delegate->applicationDidBecomeActive();
    EXPECT_TRUE(log.empty());
    EXPECT_TRUE(delegate->hasDisplayLink());
    // An old model also trims on resigning.
    platform.model = "iPhone4,1";
    delegate->applicationWillResignActive();
    EXPECT_EQ(log, (std::vector<std::string>{"willResignActive", "trim"}));
}

// The desktop window: losing the focus pauses through the screen and frames go on; only a
// hidden or minimised window stops them, until it is shown again.
TEST_F(Shell, FocusLossKeepsFramesGoingAndOnlyAHiddenWindowStopsThem) {
    using Kind = os::ShellPlatform::Event::Kind;
    delegate->mainLoop();
    log.clear();
    platform.events = {{Kind::FocusLost}};
    ASSERT_TRUE(delegate->runOnce());
    EXPECT_EQ(log, (std::vector<std::string>{"windowFocusLost", "tick", "present"}));
    EXPECT_TRUE(delegate->hasDisplayLink());
    platform.events = {{Kind::FocusGained}};
    log.clear();
    ASSERT_TRUE(delegate->runOnce());
    EXPECT_EQ(log, (std::vector<std::string>{"windowFocusGained", "tick", "present"}));

    platform.events = {{Kind::Hidden}};
    log.clear();
    ASSERT_TRUE(delegate->runOnce());
    ASSERT_TRUE(delegate->runOnce());
    EXPECT_EQ(log, (std::vector<std::string>{"willResignActive"}));
    EXPECT_FALSE(delegate->hasDisplayLink());
    // A minimised window restored: shown again, and brought to the foreground.
    platform.events = {{Kind::Shown}, {Kind::EnteredForeground}};
    log.clear();
    ASSERT_TRUE(delegate->runOnce());
    EXPECT_EQ(log, (std::vector<std::string>{"didBecomeActive", "tick", "present"}));
}

TEST_F(Shell, OpenedUrlsDeliverOnlyADecimalIndex) {
    std::pair<char const*, char const*> const urls[] = {
        {"zelv://5", "5"}, {"zelv://level/12/", "12"}, {"zelv://open/1337?x=1#y", "1337"}, {"7", "7"},
        {"zelv://level/abc", nullptr}, {"zelv://-3", nullptr}, {"zelv://+3", nullptr},
        {"zelv://99999999999999999999999", nullptr}, {"", nullptr}, {"zelv://", nullptr}, {"zelv://\xff\xfe", nullptr}};
    for (auto [url, index] : urls)
        EXPECT_EQ(os::AppDelegate::levelIndexFromUrl(url), index ? std::optional<std::string>(index) : std::nullopt)
            << url;
    delegate->mainLoop();
    log.clear();
    EXPECT_TRUE(delegate->openURL("zelv://level/3"));
    EXPECT_TRUE(delegate->openURL("zelv://level/three"));
    EXPECT_EQ(log, (std::vector<std::string>{"open 3"}));
}

TEST(ShellRun, CommandLineUrlArrivesAfterTheFirstFrameAndQuitTerminates) {
    os::RatingPrompt::setPlatform(std::make_unique<QuietRating>());
    std::vector<std::string> log;
    fakes::Platform platform(&log);
    platform.quitAfterPolls = 3;
    os::AppDelegate delegate(platform, [&] { return std::make_unique<fakes::App>(&log); });
    char const* argv[] = {"zelv", "zelv://level/4"};
    EXPECT_EQ(delegate.run(2, argv), 0);
    std::vector<std::string> calls;
    for (auto const& l : log)
        if (l == "init" || l.rfind("open", 0) == 0 || l == "willTerminate") calls.push_back(l);
    EXPECT_EQ(calls, (std::vector<std::string>{"init", "open 4", "willTerminate"}));
    EXPECT_EQ(delegate.frames(), 3u);
    os::MainQueue::shared().clear();
    os::RatingPrompt::setPlatform(nullptr);
}

// Without a readable pak0.pak nothing past the archive is made; the player is told which file and why.
TEST(ShellRun, UnreadablePak0StopsTheLaunchAndIsShown) {
    os::RatingPrompt::setPlatform(std::make_unique<QuietRating>());
    std::vector<std::string> log;
    fakes::Platform platform(&log);
    platform.mountError = "/game/pak0.pak: it is empty";
    os::AppDelegate delegate(platform, [&] { return std::make_unique<fakes::App>(&log); });
    char const* argv[] = {"zelv"};
    EXPECT_EQ(delegate.run(1, argv), 1);
    EXPECT_EQ(log, (std::vector<std::string>{"nameMainThread", "enterResourceDirectory (session started)",
                                             "mount pak0.pak",
                                             "showError cannot read the data archive /game/pak0.pak: it is empty"}));
    EXPECT_EQ(delegate.app(), nullptr);
    os::MainQueue::shared().clear();
    os::RatingPrompt::setPlatform(nullptr);
}

TEST_F(Shell, VideoDoneRunsOnceWhetherItEndsIsSkippedOrIsMissing) {
    delegate->mainLoop();
    int done = 0;
    playVideo("intro.mp4", [&] { ++done; });
    ASSERT_TRUE(delegate->playingVideo());
    // A tap goes to the video, not the game.
    log.clear();
    os::ShellPlatform::Event tap{os::ShellPlatform::Event::Kind::Touch};
    tap.touch.phase = platform::TouchEvent::Phase::Began;
    delegate->handle(tap);
    tap.touch.phase = platform::TouchEvent::Phase::Ended;
    delegate->handle(tap);
    EXPECT_EQ(done, 1);
    EXPECT_TRUE(log.empty());
    EXPECT_FALSE(delegate->playingVideo());

    // The pause button skips too.
    fakes::Controller pad;
    pad.pad = GameController::Gamepad{};
    platform.pads = {&pad};
    delegate->mainLoop();
    playVideo("intro.mp4", [&] { ++done; });
    pad.handler();
    EXPECT_EQ(done, 2);

    platform.videoExists = false;
    playVideo("missing.mp4", [&] { ++done; });
    EXPECT_EQ(done, 3);
    skipVideo();
    EXPECT_EQ(done, 3);

    // Becoming active resumes a video; resigning pauses it.
    platform.videoExists = true;
    playVideo("intro.mp4", [&] { ++done; });
    fakes::Video* v = platform.lastVideo;
    delegate->applicationWillResignActive();
    delegate->applicationDidBecomeActive();
    EXPECT_EQ(v->paused, 1);
    EXPECT_EQ(v->resumed, 1);
    delegate->applicationWillTerminate();
    EXPECT_EQ(done, 4);
}

class Download : public ::testing::Test {
protected:
    std::vector<fakes::Request*> requests;
    std::vector<std::string> mounted;
    os::MainQueue queue;
    std::unique_ptr<os::OnDemandDownload> d;
    void SetUp() override {
        d = std::make_unique<os::OnDemandDownload>(
            [this] {
                auto r = std::make_unique<fakes::Request>();
                requests.push_back(r.get());
                return r;
            },
            [this](std::string const& p) { mounted.push_back(p); }, queue);
        d->start();
    }
};

TEST_F(Download, OutOfSpacePausesWithReasonTwoAndRetriesAfterTenSeconds) {
    requests.back()->fraction = 0.25;
    requests.back()->progress(0.25);
    queue.drain(nowMs());
    EXPECT_FLOAT_EQ(d->currDownloadProgress(), 0.25f);
    requests.back()->completion(platform::ResourceRequest::kOutOfSpace, "");
    queue.drain(nowMs());
    EXPECT_EQ(d->currDownloadState(), 1);
    EXPECT_EQ(d->currDownloaderPausedReason(), 2);
    EXPECT_EQ(downloadPausedReason(), 2);
    EXPECT_EQ(requests.size(), 1u);
    queue.drain(nowMs() + 9900);
    EXPECT_EQ(requests.size(), 1u);
    queue.drain(nowMs() + 10100);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(d->currDownloadState(), 0);
    EXPECT_EQ(d->currDownloaderPausedReason(), 0);
    EXPECT_FLOAT_EQ(d->currDownloadProgress(), 0.0f);
}

TEST_F(Download, SuccessMountsAndLaterNetworkChangesKeepStateFour) {
    d->reachabilityChanged(0);
    queue.drain(nowMs());
    EXPECT_EQ(d->currDownloadState(), 1);
    EXPECT_EQ(d->currDownloaderPausedReason(), 1);
    d->reachabilityChanged(1);
    queue.drain(nowMs());
    EXPECT_EQ(d->currDownloadState(), 0);
    EXPECT_EQ(d->currDownloaderPausedReason(), 1);  // left as it was
    requests.back()->completion(0, "/cache/pak1.pak");
    EXPECT_TRUE(d->downloadFinishedAndMounted());
    EXPECT_EQ(d->currDownloadState(), 0);  // the main queue has not run yet
    d->reachabilityChanged(0);
    queue.drain(nowMs());
    EXPECT_EQ(d->currDownloadState(), 4);
    EXPECT_FLOAT_EQ(d->currDownloadProgress(), 1.0f);
    EXPECT_EQ(mounted, (std::vector<std::string>{"/cache/pak1.pak"}));
    d->reachabilityChanged(0);
    d->reachabilityChanged(2);
    d->reachabilityChanged(7);
    queue.drain(nowMs());
    EXPECT_EQ(d->currDownloadState(), 4);
    EXPECT_EQ(downloadState(), 4);
}

TEST_F(Download, ProgressOfAFailedOrReplacedRequestIsIgnored) {
    fakes::Request* first = requests.back();
    first->completion(-1, "");
    queue.drain(nowMs());
    first->fraction = 0.9;
    first->progress(0.9);
    queue.drain(nowMs());
    EXPECT_FLOAT_EQ(d->currDownloadProgress(), 0.0f);
    // A download that goes away leaves queued jobs harmless.
    d.reset();
    EXPECT_NO_FATAL_FAILURE(queue.drain(nowMs() + 20000));
}

TEST(ReachabilityFlags, StatusFromFlags) {
    using M = platform::NetworkMonitor;
    using R = os::Reachability;
    EXPECT_EQ(R::networkStatusForFlags(M::kReachable | M::kIsWWAN), R::ReachableViaWWAN);
    EXPECT_EQ(R::networkStatusForFlags(M::kReachable), R::ReachableViaWiFi);
    EXPECT_EQ(R::networkStatusForFlags(M::kReachable | M::kConnectionRequired), R::NotReachable);
    EXPECT_EQ(R::networkStatusForFlags(M::kReachable | M::kConnectionRequired | M::kConnectionOnDemand),
              R::ReachableViaWiFi);
    EXPECT_EQ(R::networkStatusForFlags(M::kReachable | M::kConnectionRequired | M::kConnectionOnDemand |
                                       M::kInterventionRequired),
              R::NotReachable);
    EXPECT_EQ(R::networkStatusForFlags(0x7ffffffd), R::NotReachable);  // everything but reachable
    EXPECT_EQ(R::flagLine(M::kReachable), "Reachability Flag Status: -R ------- networkStatusForFlags\n");
    EXPECT_EQ(R::flagLine(0xffffffff), "Reachability Flag Status: WR tcCiDld networkStatusForFlags\n");
}

TEST(ReachabilityFlags, InterfacesToFlagsAndNotifications) {
    using M = platform::NetworkMonitor;
    M::Interface const loopbackOnly[] = {{"lo", true, true, true}};
    EXPECT_EQ(M::flagsFor(loopbackOnly, 1), 0u);
    M::Interface const down[] = {{"lo", true, true, true}, {"eth0", false, false, true}};
    EXPECT_EQ(M::flagsFor(down, 2), 0u);
    M::Interface const wired[] = {{"eth0", true, false, true}, {"wwan0", true, false, true}};
    EXPECT_EQ(M::flagsFor(wired, 2), M::kReachable);
    M::Interface const modem[] = {{"wwan0", true, false, true}};
    EXPECT_EQ(M::flagsFor(modem, 1), M::kReachable | M::kIsWWAN);
    M::Interface const noAddress[] = {{"eth0", true, false, false}};
    EXPECT_EQ(M::flagsFor(noAddress, 1), 0u);

    auto m = std::make_unique<fakes::Monitor>();
    fakes::Monitor* monitor = m.get();
    os::Reachability r(std::move(m));
    monitor->value.reset();
    EXPECT_EQ(r.currentReachabilityStatus(), os::Reachability::NotReachable);
    EXPECT_FALSE(r.connectionRequired());
    monitor->value = M::kReachable | M::kConnectionRequired;
    EXPECT_TRUE(r.connectionRequired());
    // The real watcher reads this machine's interfaces without failing.
    auto real = os::Reachability::reachabilityForInternetConnection();
    ASSERT_TRUE(real);
    EXPECT_TRUE(real->startNotifier());
    real->stopNotifier();
}

TEST_F(Shell, ReachabilityNotificationMovesTheDownloadState) {
    platform.monitor->value = 0;
    delegate->reachabilityChanged(delegate->internetReachability());
    os::MainQueue::shared().drain(nowMs());
    EXPECT_EQ(downloadState(), 1);
    EXPECT_EQ(downloadPausedReason(), 1);
    platform.monitor->value = platform::NetworkMonitor::kReachable;
    platform::NotificationCenter::shared().post(os::Reachability::kChangedNotification, delegate->internetReachability());
    os::MainQueue::shared().drain(nowMs());
    EXPECT_EQ(downloadState(), 0);
    // Another notifier's changes are not the internet connection's.
    os::Reachability stranger(std::make_unique<fakes::Monitor>());
    platform.monitor->value = 0;
    delegate->reachabilityChanged(&stranger);
    os::MainQueue::shared().drain(nowMs());
    EXPECT_EQ(downloadState(), 0);
    // A notification without its notifier is refused, not a crash.
    delegate->reachabilityChanged(nullptr);
    os::MainQueue::shared().drain(nowMs());
    EXPECT_EQ(downloadState(), 0);
}

struct RecordingView : os::GameCenterView {
    int* presents;
    std::function<void()>* finish;
    RecordingView(int* p, std::function<void()>* f) : presents(p), finish(f) {}
    void present(std::string const&, std::function<void()> onFinish) override {
        ++*presents;
        *finish = std::move(onFinish);
    }
};

TEST(RootViewController, GameCenterShownOnceClosedOnceAndChallengesStartTheirLevel) {
    Tally::reset();
    Tally::setRecordingEvents(true);
    std::vector<std::string> opened;
    int presents = 0;
    std::function<void()> finish;
    os::MainViewController rvc([&](std::string const& i) { opened.push_back(i); },
                               std::make_unique<RecordingView>(&presents, &finish));
    rvc.showGameCenter();
    rvc.showGameCenterForLevel("grp.zelv.level01");
    EXPECT_EQ(presents, 1);
    EXPECT_EQ(Tally::events().size(), 1u);
    // Closing without a stored callback only ends the event and dismisses.
    game_center::closeCallback() = nullptr;
    finish();
    EXPECT_FALSE(rvc.hasGameCenterView());
    EXPECT_TRUE(Tally::events()[0].ended);

    rvc.playerWantsToPlayChallenge({true, "grp.zelv.level03"});
    rvc.playerWantsToPlayChallenge({true, "grp.zelv.unknown"});
    rvc.playerWantsToPlayChallenge({false, "grp.zelv.level01"});
    rvc.playerWantsToPlayChallenge({true, "grp.zelv.hardcoreleaderboardtime"});
    EXPECT_EQ(opened, (std::vector<std::string>{"2"}));

    rvc.playerDidCompleteChallenge();
    rvc.playerDidReceiveChallenge();
    rvc.playerIssuedChallengeWasCompleted();
    auto events = Tally::events();
    ASSERT_EQ(events.size(), 4u);
    EXPECT_EQ(events[1].name, "GAMECENTER_CHALLENGE_COMPLETED");
    EXPECT_EQ(events[2].name, "GAMECENTER_CHALLENGE_RECIEVED");
    EXPECT_EQ(events[3].name, "GAMECENTER_ISSUED_CHALLENGE_COMPLETED");

    int shown = 0;
    rvc.showGameCenterLoginIfNeeded();
    rvc.authenticateHandler([&] { ++shown; });
    rvc.showGameCenterLoginIfNeeded();
    rvc.showGameCenterLoginIfNeeded();
    EXPECT_EQ(shown, 1);
}

}  // namespace

static testing_support::TempDir documents;
static bool const documentsSet = [] {
    setenv("ZELV_DOCUMENTS_DIR", documents.path().c_str(), 1);
    return true;
}();
