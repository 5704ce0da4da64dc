#include "os/shell/RatingPrompt.h"

#include <curl/curl.h>
#include <pthread.h>

#include <cstdio>
#include <system_error>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>

#include "analytics/agent/Tally.h"
#include "menus/RatingPromptViewController.h"
#include "os/services/SerialQueue.h"
#include "os/shell/AppDelegate.h"
#include "os/shell/MainQueue.h"
#include "platform/MessageDialog.h"
#include "platform/NetworkMonitor.h"
#include "platform/base/AlternateSignalStack.h"
#include "platform/base/Directories.h"
#include "platform/base/NotificationCenter.h"

namespace os {

namespace {

struct Settings {
    std::string appId;
    double daysUntilPrompt = 30.0;
    int64_t usesUntilPrompt = 20;
    int64_t significantEventsUntilPrompt = -1;
    double timeBeforeReminding = 1.0;
    bool debug = false;
    RatingPrompt::Delegate delegate;
    std::optional<std::string> title, message, cancel, rate, later;
};

std::mutex settingsMutex;
Settings& settings() {
    static Settings s;
    return s;
}
template <class T, class V>
void store(T Settings::*field, V&& value) {
    std::lock_guard<std::mutex> lock(settingsMutex);
    settings().*field = std::forward<V>(value);
}
Settings snapshot() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    return settings();
}

constexpr double kDay = 86400.0;
constexpr std::chrono::milliseconds kLockWait{250};
constexpr char const* kAppVersion = "1.0";

std::string replaceName(std::string text, std::string const& name) {
    for (size_t at = text.find("%@"); at != std::string::npos; at = text.find("%@", at + name.size()))
        text.replace(at, 2, name);
    return text;
}

std::filesystem::path configFolder() { return platform::Directories::configHome() / "zelv"; }

// The desktop: defaults in the user's config folder, the alert drawn by the game over its running
// screen, the store page in the browser.
class DesktopPlatform : public RatingPrompt::Platform {
public:
    DesktopPlatform() : defaults_(configFolder() / "preferences") {}
    std::string appVersion() override { return kAppVersion; }
    std::string displayName() override { return "zelv"; }
    double now() override {
        return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    }
    platform::PreferencesFile& defaults() override { return defaults_; }
    std::optional<uint32_t> zeroAddressFlags() override { return platform::NetworkMonitor().flags(); }
    bool startProbe() override {
        char const* env = std::getenv("ZELV_PROBE_URL");
        std::string url = env && *env ? env : "http://example.com/";
        // Its outcome is not used; it only has to be under way.
        try {
            std::thread([url] {
                platform::AlternateSignalStack::installForThisThread();
                pthread_setname_np(pthread_self(), "RatingProbe");
                CURL* curl = curl_easy_init();
                if (!curl) return;
                curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
                curl_easy_setopt(curl, CURLOPT_NOBODY, 1L);
                curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
                curl_easy_setopt(curl, CURLOPT_TIMEOUT, 20L);
                curl_easy_perform(curl);
                curl_easy_cleanup(curl);
            }).detach();
        } catch (std::system_error const&) {
            return false;  // no thread to spare
        }
        return true;
    }
    // One question at a time; asked again while it is up, the one shown stands.
    void showAlert(std::string const& title, std::string const& message, std::string const& cancel,
                   std::string const& rate, std::optional<std::string> const& later,
                   std::function<void(int)> dismissed) override {
        if (visible_) return;
        show(RatingPromptViewController::Texts{title, message, cancel, rate, later}, std::move(dismissed));
    }
    bool alertVisible() override { return visible_; }
    void dismissAlert() override { answered(-1); }
    void openUrl(std::string const& url) override { platform::MessageDialog::openUrl(url); }
    void runInBackground(std::function<void()> job) override { queue_.async(std::move(job)); }
    void runOnMain(std::function<void()> job) override { MainQueue::shared().async(std::move(job)); }
    void log(std::string const& line) override { std::fprintf(stderr, "%s\n", line.c_str()); }

private:
    static AppFrame* frame() {
        AppDelegate* delegate = AppDelegate::sharedAppDelegate();
        return delegate ? delegate->app() : nullptr;
    }

    void show(RatingPromptViewController::Texts const& texts, std::function<void(int)> dismissed) {
        AppFrame* app = frame();
        if (!app) {
            std::fprintf(stderr, "RatingPrompt: no game window to ask in\n");
            dismissed(-1);
            return;
        }
        bool const shown = app->presentOverlay(
            Overlay::RatingPrompt, [this, texts](Graphics::Context* g, Audio::Context* a, Fonts::Context* f) {
                return std::make_unique<RatingPromptViewController>(g, a, f, texts, [this](int i) { answered(i); });
            });
        if (!shown) {
            // Before the game's first frame there is nothing to draw it with yet.
            MainQueue::shared().after(100, [this, texts, dismissed = std::move(dismissed)]() mutable {
                if (!visible_) show(texts, std::move(dismissed));
            });
            return;
        }
        visible_ = true;
        dismissed_ = std::move(dismissed);
    }

    void answered(int index) {
        if (!visible_) return;
        visible_ = false;
        if (AppFrame* app = frame()) app->dismissOverlay(Overlay::RatingPrompt);
        if (auto dismissed = std::move(dismissed_)) dismissed(index);
    }

    platform::PreferencesFile defaults_;
    bool visible_ = false;
    std::function<void(int)> dismissed_;
    SerialQueue queue_{"RatingPrompt", std::chrono::milliseconds(1000), nullptr};
};

// The instance is declared first so that it outlives its platform at exit: the platform's
// background queue runs its last jobs, which use the instance, as it stops.
std::mutex instanceMutex;
std::unique_ptr<RatingPrompt> shared;
std::unique_ptr<RatingPrompt::Platform> sharedPlatform;

}  // namespace

void RatingPrompt::setAppId(std::string id) { store(&Settings::appId, std::move(id)); }
void RatingPrompt::setDaysUntilPrompt(double days) { store(&Settings::daysUntilPrompt, days); }
void RatingPrompt::setUsesUntilPrompt(int64_t uses) { store(&Settings::usesUntilPrompt, uses); }
void RatingPrompt::setSignificantEventsUntilPrompt(int64_t events) { store(&Settings::significantEventsUntilPrompt, events); }
void RatingPrompt::setTimeBeforeReminding(double days) { store(&Settings::timeBeforeReminding, days); }
void RatingPrompt::setDebug(bool debug) { store(&Settings::debug, debug); }
void RatingPrompt::setDelegate(Delegate delegate) { store(&Settings::delegate, std::move(delegate)); }
void RatingPrompt::setCustomAlertTitle(std::string text) { store(&Settings::title, std::move(text)); }
void RatingPrompt::setCustomAlertMessage(std::string text) { store(&Settings::message, std::move(text)); }
void RatingPrompt::setCustomAlertCancelButtonTitle(std::string text) { store(&Settings::cancel, std::move(text)); }
void RatingPrompt::setCustomAlertRateButtonTitle(std::string text) { store(&Settings::rate, std::move(text)); }
void RatingPrompt::setCustomAlertRateLaterButtonTitle(std::string text) { store(&Settings::later, std::move(text)); }
void RatingPrompt::resetSettings() {
    std::lock_guard<std::mutex> lock(settingsMutex);
    settings() = Settings();
}

RatingPrompt& RatingPrompt::sharedInstance() {
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (!shared) {
        if (!sharedPlatform) sharedPlatform = std::make_unique<DesktopPlatform>();
        shared = std::make_unique<RatingPrompt>(*sharedPlatform);
    }
    return *shared;
}

void RatingPrompt::setPlatform(std::unique_ptr<Platform> platform) {
    std::lock_guard<std::mutex> lock(instanceMutex);
    sharedPlatform.reset();  // finishes its queued jobs while the instance still exists
    shared.reset();
    sharedPlatform = std::move(platform);
}

RatingPrompt::RatingPrompt(Platform& platform) : platform_(platform) {
    platform::NotificationCenter::shared().addObserver(this, Tally::kWillResignActive,
                                                       [this](platform::Notification const&) { resignActive(); });
}

RatingPrompt::~RatingPrompt() { platform::NotificationCenter::shared().removeObserver(this); }

void RatingPrompt::resignActive() {
    if (snapshot().debug) platform_.log("RATINGPROMPT appWillResignActive");
    hideRatingAlert();
}

void RatingPrompt::appLaunched(bool canPrompt) {
    RatingPrompt& p = sharedInstance();
    p.platform_.runInBackground([&p, canPrompt] { p.incrementAndRate(canPrompt); });
}

void RatingPrompt::appEnteredForeground(bool canPrompt) { appLaunched(canPrompt); }

void RatingPrompt::userDidSignificantEvent(bool canPrompt) {
    RatingPrompt& p = sharedInstance();
    p.platform_.runInBackground([&p, canPrompt] { p.incrementSignificantEventAndRate(canPrompt); });
}

void RatingPrompt::appWillResignActive() { sharedInstance().resignActive(); }

void RatingPrompt::showPrompt() { sharedInstance().showPromptWithChecks(true, true); }
void RatingPrompt::tryToShowPrompt() { sharedInstance().showPromptWithChecks(true, true); }
void RatingPrompt::forceShowPrompt(bool later) { sharedInstance().showPromptWithChecks(false, later); }
void RatingPrompt::rateApp() { sharedInstance().rate(); }

std::string RatingPrompt::localized(char const* key) const {
    // No table of these texts ships with the game: a missing entry is its key.
    return replaceName(key, platform_.displayName());
}

std::string RatingPrompt::alertTitle() const {
    auto s = snapshot();
    return s.title ? *s.title : localized("Rate %@");
}
std::string RatingPrompt::alertMessage() const {
    auto s = snapshot();
    return s.message ? *s.message
                     : localized("If you enjoy using %@, would you mind taking a moment to rate it? It won't take "
                                 "more than a minute. Thanks for your support!");
}
std::string RatingPrompt::alertCancelTitle() const {
    auto s = snapshot();
    return s.cancel ? *s.cancel : localized("No, Thanks");
}
std::string RatingPrompt::alertRateTitle() const {
    auto s = snapshot();
    return s.rate ? *s.rate : localized("Rate %@");
}
std::string RatingPrompt::alertRateLaterTitle() const {
    auto s = snapshot();
    return s.later ? *s.later : localized("Remind me later");
}

std::string RatingPrompt::reviewUrl() const {
    char const* env = std::getenv("ZELV_STORE_HOST");
    std::string host = env && *env ? env : "store.zelv.example";
    return "http://" + host +
           "/WebObjects/MZStore.woa/wa/viewContentsUserReviews?pageNumber=0&sortOrdering=1&type=Purple+Software&mt=8&id=" +
           snapshot().appId;
}

void RatingPrompt::increment(bool significant) {
    platform::PreferencesFile& d = platform_.defaults();
    bool const debug = snapshot().debug;
    std::string const version = platform_.appVersion();
    std::string tracked = d.string(kCurrentVersion).value_or(std::string());
    if (tracked.empty()) {
        tracked = version;
        d.set(kCurrentVersion, version);
    }
    if (debug) platform_.log("RATINGPROMPT Tracking version: " + tracked);
    if (tracked == version) {
        if (d.real(kFirstUseDate) == 0) d.setReal(kFirstUseDate, platform_.now());
        // Added, not set: another copy of the game counting at the same time keeps its count.
        int64_t const count = d.addInteger(significant ? kSignificantEventCount : kUseCount, 1).value_or(0);
        if (debug)
            platform_.log(std::string(significant ? "RATINGPROMPT Significant event count: " : "RATINGPROMPT Use count: ") +
                          std::to_string(count));
    } else {
        d.set(kCurrentVersion, version);
        d.setBoolean(kRatedCurrentVersion, false);
        d.setBoolean(kDeclinedToRate, false);
        d.setReal(kReminderRequestDate, 0);
        d.setReal(kFirstUseDate, significant ? 0 : platform_.now());
        d.setInteger(kUseCount, significant ? 0 : 1);
        d.setInteger(kSignificantEventCount, significant ? 1 : 0);
    }
    // On the background queue: a short wait for another copy's write, so that the count is on
    // disk before a later kill could lose it.
    d.synchronize(kLockWait);
}

void RatingPrompt::incrementUseCount() { increment(false); }
void RatingPrompt::incrementSignificantEventCount() { increment(true); }

bool RatingPrompt::ratingConditionsHaveBeenMet() {
    Settings const s = snapshot();
    if (s.debug) return true;
    platform::PreferencesFile& d = platform_.defaults();
    double const now = platform_.now();
    if (now - d.real(kFirstUseDate) < s.daysUntilPrompt * kDay) return false;
    if (d.integer(kUseCount) < s.usesUntilPrompt) return false;
    if (d.integer(kSignificantEventCount) < s.significantEventsUntilPrompt) return false;
    if (d.boolean(kDeclinedToRate)) return false;
    if (d.boolean(kRatedCurrentVersion)) return false;
    if (now - d.real(kReminderRequestDate) < s.timeBeforeReminding * kDay) return false;
    return true;
}

bool RatingPrompt::connectedToNetwork() {
    auto flags = platform_.zeroAddressFlags();
    if (!flags) {
        platform_.log("Error. Could not recover network reachability flags");
        return false;
    }
    bool const reachable = *flags & platform::NetworkMonitor::kReachable;
    bool const needsConnection = *flags & platform::NetworkMonitor::kConnectionRequired;
    bool const transient = *flags & platform::NetworkMonitor::kTransientConnection;
    bool const probe = platform_.startProbe();
    return ((reachable && !needsConnection) || transient) && probe;
}

void RatingPrompt::incrementAndRate(bool canPrompt) {
    incrementUseCount();
    if (canPrompt && ratingConditionsHaveBeenMet() && connectedToNetwork())
        platform_.runOnMain([this] { showRatingAlert(true); });
}

void RatingPrompt::incrementSignificantEventAndRate(bool canPrompt) {
    incrementSignificantEventCount();
    if (canPrompt && ratingConditionsHaveBeenMet() && connectedToNetwork())
        platform_.runOnMain([this] { showRatingAlert(true); });
}

bool RatingPrompt::userHasDeclinedToRate() { return platform_.defaults().boolean(kDeclinedToRate); }
bool RatingPrompt::userHasRatedCurrentVersion() { return platform_.defaults().boolean(kRatedCurrentVersion); }

void RatingPrompt::showPromptWithChecks(bool withChecks, bool later) {
    if (withChecks && !(connectedToNetwork() && !userHasDeclinedToRate() && !userHasRatedCurrentVersion())) return;
    showRatingAlert(later);
}

void RatingPrompt::showRatingAlert(bool later) {
    std::optional<std::string> laterTitle;
    if (later) laterTitle = alertRateLaterTitle();
    auto const delegate = snapshot().delegate;
    platform_.showAlert(alertTitle(), alertMessage(), alertCancelTitle(), alertRateTitle(), laterTitle,
                        [this](int index) { alertDismissed(index); });
    if (delegate.didDisplayAlert) delegate.didDisplayAlert();
}

void RatingPrompt::hideRatingAlert() {
    if (!platform_.alertVisible()) return;
    if (snapshot().debug) platform_.log("RATINGPROMPT Hiding Alert");
    platform_.dismissAlert();
}

void RatingPrompt::alertDismissed(int index) {
    auto const delegate = snapshot().delegate;
    platform::PreferencesFile& d = platform_.defaults();
    switch (index) {
        case 0:
            d.setBoolean(kDeclinedToRate, true);
            d.synchronize();
            if (delegate.didDeclineToRate) delegate.didDeclineToRate();
            break;
        case 1:
            rate();
            if (delegate.didOptToRate) delegate.didOptToRate();
            break;
        case 2:
            d.setReal(kReminderRequestDate, platform_.now());
            d.synchronize();
            if (delegate.didOptToRemindLater) delegate.didOptToRemindLater();
            break;
        default:
            break;  // closed by the system: no choice
    }
}

void RatingPrompt::rate() {
    platform::PreferencesFile& d = platform_.defaults();
    d.setBoolean(kRatedCurrentVersion, true);
    d.synchronize();
    platform_.openUrl(reviewUrl());
}

}  // namespace os
