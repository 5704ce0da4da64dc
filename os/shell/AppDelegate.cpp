#include "os/shell/AppDelegate.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "analytics/agent/Tally.h"
#include "graphics/DrawRecord.h"
#include "os/FileSystem.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "os/shell/MainQueue.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/NotificationCenter.h"
#include "os/shell/RatingPrompt.h"
#include "os/shell/TextEntryKeyboard.h"

namespace os {

namespace {
AppDelegate* shared = nullptr;
}

AppDelegate::AppDelegate(ShellPlatform& platform, AppFactory makeApp)
    : platform_(platform), makeApp_(std::move(makeApp)) {
    shared = this;
    ShellBridge::set(this);
}

AppDelegate::~AppDelegate() {
    platform::NotificationCenter::shared().removeObserver(this);
    if (TextEntryKeyboard* keyboard = platform_.keyboard()) keyboard->setApp(nullptr);
    internetReachability_.reset();
    download_.reset();
    videoPlayer_.reset();
    app_.reset();
    rvc_.reset();
    if (ShellBridge::get() == this) ShellBridge::set(nullptr);
    if (shared == this) shared = nullptr;
}

AppDelegate* AppDelegate::sharedAppDelegate() { return shared; }

bool AppDelegate::isOldDeviceModel(std::string const& model) {
    static char const* const models[] = {"iPhone3,1", "iPhone3,2", "iPhone3,3", "iPad2,1", "iPad2,2", "iPad2,3",
                                         "iPad2,4",   "iPad2,5",   "iPad2,6",   "iPad2,7", "iPhone4,1", "iPod5,1"};
    for (char const* m : models)
        if (model == m) return true;
    return false;
}

std::optional<std::string> AppDelegate::levelIndexFromUrl(std::string const& url) {
    std::string rest = url;
    size_t const scheme = rest.find("://");
    if (scheme != std::string::npos) rest = rest.substr(scheme + 3);
    rest = rest.substr(0, rest.find_first_of("?#"));
    std::string candidate;
    size_t const slash = rest.find('/');
    std::string const host = scheme != std::string::npos ? rest.substr(0, slash) : std::string();
    std::string path = scheme != std::string::npos ? (slash == std::string::npos ? "" : rest.substr(slash)) : rest;
    while (!path.empty() && path.back() == '/') path.pop_back();
    size_t const last = path.rfind('/');
    candidate = last == std::string::npos ? path : path.substr(last + 1);
    if (candidate.empty()) candidate = host;
    // Digits only, and few enough to be a level index.
    if (candidate.empty() || candidate.size() > 9) return std::nullopt;
    for (char c : candidate)
        if (c < '0' || c > '9') return std::nullopt;
    return candidate;
}

bool AppDelegate::applicationDidFinishLaunching() {
    platform_.nameMainThread();
    step("name main thread");
    // Inactive until the window has focus: the agent defers its start to did-finish-launching.
    setApplicationState(kInactive);
    // The agent's lines are for its developers; a player's terminal shows the game's own only.
    Tally::setLogLevel(0);
    Tally::startSession(kAnalyticsKey);
    step("start analytics session");
    platform_.enterResourceDirectory();
    step("enter resource directory");
    // Without its data archive the game can show nothing: a clear stop rather than a black window.
    if (std::string why = platform_.mountArchive("pak0.pak"); !why.empty()) {
        launchError_ = "cannot read the data archive " + why;
        return false;
    }
    step("mount pak0.pak");
    if (!platform_.createWindow()) return false;
    step("create window");
    rvc_ = std::make_unique<MainViewController>(
        [this](std::string const& index) {
            if (app_) app_->openLevelByIndex(index);
        },
        std::make_unique<GameCenterView>([this] { return app_.get(); }));
    step("create root view controller");
    platform_.createGlView();
    step("create GL view");
    platform_.showWindow();
    step("show window");
    {
        platform::DeviceProfile profile = platform::DeviceFacts::profile();
        profile.screenWidth = platform_.framebufferWidth();
        profile.screenHeight = platform_.framebufferHeight();
        profile.idiom = 0;
        platform::DeviceFacts::setProfile(profile);
    }
    app_ = makeApp_ ? makeApp_() : nullptr;
    if (TextEntryKeyboard* keyboard = platform_.keyboard()) keyboard->setApp([this] { return app_.get(); });
    step("create app frame");
    platform_.makeContextCurrent();
    step("make context current");
    platform_.disableIdleTimer();
    step("disable idle timer");
    setUpAudioSession();
    step("set up audio session");
    displayLink_ = true;
    animating_ = true;
    step("start display link");
    RatingPrompt::setAppId(kStoreId);
    RatingPrompt::setDaysUntilPrompt(0);
    RatingPrompt::setUsesUntilPrompt(0);
    RatingPrompt::setSignificantEventsUntilPrompt(7);
    RatingPrompt::setTimeBeforeReminding(2.0);
    RatingPrompt::setDebug(false);
    RatingPrompt::appLaunched(true);
    step("configure rating prompt");
    download_ = std::make_unique<OnDemandDownload>(
        [this] { return platform_.resourceRequest("pak1"); },
        [this](std::string const& path) {
            if (std::string why = platform_.mountArchive(path); !why.empty())
                std::fprintf(stderr, "zelv: cannot mount %s\n", why.c_str());
        },
        MainQueue::shared());
    startDownload();
    step("start download");
    platform::NotificationCenter::shared().addObserver(this, Reachability::kChangedNotification,
                                                       [this](platform::Notification const& n) { reachabilityChanged(n.object); });
    step("observe reachability");
    internetReachability_ = platform_.internetReachability();
    if (internetReachability_) {
        internetReachability_->startNotifier();
        updateWithReachability(internetReachability_.get());
    }
    step("start reachability");
    platform::NotificationCenter::shared().post(Tally::kDidFinishLaunching);
    // A shown desktop window is the active application, whether or not a focus event follows.
    setApplicationState(kActive);
    platform::NotificationCenter::shared().post(Tally::kDidBecomeActive);
    return true;
}

void AppDelegate::setApplicationState(int state) {
    platform::DeviceProfile profile = platform::DeviceFacts::profile();
    profile.applicationState = state;
    platform::DeviceFacts::setProfile(profile);
}

void AppDelegate::pausePressed() {
    // Over a video the pause button skips it, like a tap.
    if (videoPlayer_) {
        skipVideo();
        return;
    }
    if (app_ && initialised_) app_->buttonPressed(kPauseButton);
}

void AppDelegate::mainLoop() {
    if (!initialised_) {
        initialising_ = true;
        initialised_ = true;
        char const* level[] = {levelPath_ ? levelPath_->c_str() : nullptr};
        if (app_ && !app_->init(levelPath_ ? 1 : 0, levelPath_ ? level : nullptr)) std::exit(-1);
        initialising_ = false;
        if (app_ && !windowFocused_) app_->windowFocusLost();
    } else if (initialising_) {
        return;
    }
    if (!animating_ || !app_) return;

    // B closes the boards through the app frame, as every other press: one held as they came up
    // is none for them.
    auto frame = controllers_.poll(platform_.controllers(), [this] { pausePressed(); });
    shell_services::setControllerPresent(controllers_.present());
    if (frame.connected) app_->controllerConnected();
    if (frame.present) app_->gamepadInput(frame.controllers);
    if (frame.disconnected) app_->controllerDisconnected();

    app_->tick();

    int64_t const now = nowMs();
    int64_t const dt = lastFrameMs_ ? now - lastFrameMs_ : 0;
    lastFrameMs_ = now;
    if (videoPlayer_) {
        videoElapsedMs_ += std::min<int64_t>(dt, 100);
        if (!videoPlayer_->update(videoElapsedMs_))
            videoStopped();
        else
            videoPlayer_->draw(platform_.framebufferWidth(), platform_.framebufferHeight());
    }
    Graphics::DrawRecord::endFrame(platform_.framebufferWidth(), platform_.framebufferHeight(),
                                   glm::ivec4(int(backingOriginX()), int(backingOriginY()), int(backingWidth()),
                                              int(backingHeight())));
    platform_.present();
    ++frames_;
}

void AppDelegate::handle(ShellPlatform::Event const& e) {
    using Kind = ShellPlatform::Event::Kind;
    switch (e.kind) {
        case Kind::Touch: {
            if (!initialised_ || !app_) break;  // no screen before the first frame
            if (videoPlayer_) {
                // The tap view over the video takes the touches.
                if (e.touch.phase == platform::TouchEvent::Phase::Ended) skipVideo();
                break;
            }
            glm::vec2 const p = platform_.toVirtual(e.touch.x, e.touch.y);
            switch (e.touch.phase) {
                case platform::TouchEvent::Phase::Began: app_->touchBegan(e.touch.tapCount, p.x, p.y); break;
                case platform::TouchEvent::Phase::Moved: app_->touchMoved(e.touch.tapCount, p.x, p.y); break;
                case platform::TouchEvent::Phase::Ended: app_->touchEnded(e.touch.tapCount, p.x, p.y); break;
            }
            break;
        }
        // A desktop window without the focus is still seen: it goes on drawing and a running level
        // pauses, as the phone's resign-active pauses it. Frames stop only while it is hidden.
        case Kind::FocusLost:
            windowFocused_ = false;
            if (app_ && initialised_) app_->windowFocusLost();
            setApplicationState(kInactive);
            platform::NotificationCenter::shared().post(Tally::kWillResignActive);
            break;
        case Kind::FocusGained:
            windowFocused_ = true;
            if (app_ && initialised_) app_->windowFocusGained();
            setApplicationState(kActive);
            platform::NotificationCenter::shared().post(Tally::kDidBecomeActive);
            break;
        case Kind::Hidden: applicationWillResignActive(); break;
        case Kind::Shown: applicationDidBecomeActive(); break;
        case Kind::EnteredForeground:
            applicationWillEnterForeground();
            platform::NotificationCenter::shared().post(Tally::kWillEnterForeground);
            break;
        case Kind::LowMemory: applicationDidReceiveMemoryWarning(); break;
        case Kind::Quit: quit_ = true; break;
    }
}

void AppDelegate::applicationWillResignActive() {
    if (!displayLink_) return;
    RatingPrompt::appWillResignActive();
    if (app_) {
        app_->willResignActive();
        if (isOldDeviceModel(platform_.deviceModel())) app_->trimGraphicsMemory();
    }
    displayLink_ = false;
    animating_ = false;
    if (videoPlayer_) videoPlayer_->pause();
    pauseMusic();
    tearDownAudioSession();
}

void AppDelegate::applicationDidBecomeActive() {
    if (videoPlayer_) videoPlayer_->resume();
    if (displayLink_) return;
    displayLink_ = true;
    animating_ = true;
    lastFrameMs_ = 0;
    setUpAudioSession();
    if (app_) app_->didBecomeActive();
    resumeMusic();
}

void AppDelegate::applicationWillEnterForeground() { RatingPrompt::appEnteredForeground(true); }

void AppDelegate::applicationDidReceiveMemoryWarning() {
    if (app_) app_->trimGraphicsMemory();
}

void AppDelegate::applicationWillTerminate() {
    platform::NotificationCenter::shared().post(Tally::kWillTerminate);
    displayLink_ = false;
    animating_ = false;
    if (videoPlayer_) videoStopped();
    if (app_) app_->willTerminate();
    // Released while the GL context is still current: the render contexts hold GL objects.
    app_.reset();
}

bool AppDelegate::openURL(std::string const& url) {
    auto index = levelIndexFromUrl(url);
    if (!index) {
        std::fprintf(stderr, "zelv: ignoring the opened URL %s: it names no level\n", FileSystem::printable(url).c_str());
        return true;
    }
    if (app_) app_->openLevelByIndex(*index);
    return true;
}

bool AppDelegate::setUpAudioSession() {
    // The ambient category needs no setting up here; the saved context comes back.
    if (savedSoundContext_) {
        alcMakeContextCurrent(savedSoundContext_);
        alcProcessContext(savedSoundContext_);
        savedSoundContext_ = nullptr;
    }
    return true;
}

void AppDelegate::tearDownAudioSession() {
    savedSoundContext_ = alcGetCurrentContext();
    if (savedSoundContext_) alcSuspendContext(savedSoundContext_);
    alcMakeContextCurrent(nullptr);
}

void AppDelegate::startDownload() {
    if (download_) download_->start();
}

void AppDelegate::reachabilityChanged(void* object) {
    if (!object) {
        std::fprintf(stderr, "Invalid parameter not satisfying: %s\n", "[curReach isKindOfClass:[Reachability class]]");
        return;
    }
    updateWithReachability(static_cast<Reachability*>(object));
}

void AppDelegate::updateWithReachability(Reachability* reachability) {
    if (!reachability || reachability != internetReachability_.get() || !download_) return;
    download_->reachabilityChanged(reachability->currentReachabilityStatus());
}

void AppDelegate::playVideo(char const* path) {
    videoPlayer_.reset();
    videoPlayer_ = path ? platform_.openVideo(path) : nullptr;
    if (!videoPlayer_) {
        videoStopped();
        return;
    }
    videoElapsedMs_ = 0;
}

// Ends in videoStopped, as the player's finish notification would.
void AppDelegate::skipVideo() {
    if (videoPlayer_) videoStopped();
}

void AppDelegate::videoStopped() {
    videoPlayer_.reset();
    auto& slot = shell_services::videoDoneCallback();
    if (slot) {
        auto done = std::move(slot);
        slot = nullptr;
        done();
    }
}

void AppDelegate::significantEvent(bool canPrompt) { RatingPrompt::userDidSignificantEvent(canPrompt); }

// A relative level path that names anything where the player typed it is read from there (the
// game later works in its own folder); any other path is looked up in the archives as it stands.
std::string AppDelegate::levelFileTyped(std::string const& path) {
    std::error_code ec;
    std::filesystem::path const typed(path);
    if (typed.is_relative() && std::filesystem::exists(typed, ec))
        return std::filesystem::absolute(typed, ec).lexically_normal().string();
    return path;
}

bool AppDelegate::readArguments(int argc, char const* const* argv, int& exitCode) {
    // The one option is --level FILE; a level address never starts with '-'.
    for (int i = 1; i < argc && argv; ++i) {
        if (argv[i] && std::strcmp(argv[i], "--level") == 0) {
            if (i + 1 < argc && argv[i + 1] && argv[i + 1][0]) {
                levelPath_ = levelFileTyped(argv[++i]);
                continue;
            }
            std::fprintf(stderr, "zelv: --level needs a level file\n%s\n", kUsage);
            exitCode = 2;
            return false;
        }
        if (argv[i] && argv[i][0] != '-') {
            if (!address_ && argv[i][0]) address_ = argv[i];
            continue;
        }
        if (argv[i]) {
            bool const help = std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0;
            if (!help) std::fprintf(stderr, "zelv: unknown option %s\n", argv[i]);
            std::fprintf(help ? stdout : stderr, "%s\n", kUsage);
            exitCode = 2;
            return false;
        }
    }
    return true;
}

int AppDelegate::run(int argc, char const* const* argv) {
    int exitCode = 0;
    if (!readArguments(argc, argv, exitCode)) return exitCode;
    // Scripted runs ask for a clock that moves one 1/60 s step per frame.
    if (char const* fixed = std::getenv("ZELV_FIXED_STEP"); fixed && *fixed && std::strcmp(fixed, "0") != 0)
        platform_services::useFrameClock();
    if (!applicationDidFinishLaunching()) {
        if (launchError_.empty()) {
            std::fprintf(stderr, "zelv: cannot open the game window\n");
        } else {
            std::fprintf(stderr, "zelv: %s\n", launchError_.c_str());
            platform_.showError(launchError_);
        }
        return 1;
    }
    if (address_) pendingUrl_ = std::move(address_);
    while (runOnce()) {
    }
    std::fprintf(stderr, "zelv: ended after %llu frames\n", static_cast<unsigned long long>(frames_));
    applicationWillTerminate();
    return 0;
}

bool AppDelegate::runOnce() {
    for (auto const& e : platform_.pollEvents()) handle(e);
    if (quit_) return false;
    MainQueue::shared().drain(nowMs());
    // Asked just before each frame (and while hidden, as a destroyed window is unmapped first):
    // a window another program destroyed ends the game as a close request does.
    if (displayLink_) {
        platform_.waitForFrame();
        if (!platform_.readyToDraw()) {
            quit_ = true;
            return false;
        }
        if (platform_services::usingFrameClock()) platform_services::advanceFrameClock();
        mainLoop();
        // An opened URL arrives once the first frame has set the app frame up.
        if (pendingUrl_ && initialised_) {
            std::string url = std::move(*pendingUrl_);
            pendingUrl_.reset();
            openURL(url);
        }
    } else {
        // Inactive: no frames, but events and queued work still arrive.
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (!platform_.readyToDraw()) quit_ = true;
    }
    return !quit_;
}

}  // namespace os
