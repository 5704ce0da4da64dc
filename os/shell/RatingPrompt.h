#pragma once
// Asks the player, at most once per application version and only after enough use, to rate the
// game. Uses and significant events are counted in the user defaults; the counting and the checks
// run on a background queue, the alert on the main thread. Losing the focus takes the alert away
// without an answer.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/PreferencesFile.h"

namespace os {

class RatingPrompt {
public:
    // User-defaults keys.
    static constexpr char const* kCurrentVersion = "kRatingPromptCurrentVersion";
    static constexpr char const* kFirstUseDate = "kRatingPromptFirstUseDate";
    static constexpr char const* kUseCount = "kRatingPromptUseCount";
    static constexpr char const* kSignificantEventCount = "kRatingPromptSignificantEventCount";
    static constexpr char const* kRatedCurrentVersion = "kRatingPromptRatedCurrentVersion";
    static constexpr char const* kDeclinedToRate = "kRatingPromptDeclinedToRate";
    static constexpr char const* kReminderRequestDate = "kRatingPromptReminderRequestDate";

    // What the prompt needs of the system.
    class Platform {
    public:
        virtual ~Platform() = default;
        virtual std::string appVersion() = 0;
        virtual std::string displayName() = 0;
        virtual double now() = 0;  // seconds since 1970
        virtual platform::PreferencesFile& defaults() = 0;
        // Reachability flags of the zero address; none when they cannot be read.
        virtual std::optional<uint32_t> zeroAddressFlags() = 0;
        // Starts the probe connection; false when it cannot be made.
        virtual bool startProbe() = 0;
        // buttons: cancel, rate and, when given, rate later. dismissed gets the chosen index
        // (-1: closed without a choice).
        virtual void showAlert(std::string const& title, std::string const& message, std::string const& cancel,
                               std::string const& rate, std::optional<std::string> const& later,
                               std::function<void(int)> dismissed) = 0;
        virtual bool alertVisible() = 0;
        virtual void dismissAlert() = 0;  // as if closed without a choice
        virtual void openUrl(std::string const& url) = 0;
        virtual void runInBackground(std::function<void()> job) = 0;
        virtual void runOnMain(std::function<void()> job) = 0;
        virtual void log(std::string const& line) = 0;
    };

    // Optional notifications; an empty one is not called.
    struct Delegate {
        std::function<void()> didDisplayAlert, didDeclineToRate, didOptToRate, didOptToRemindLater;
    };

    // Class-wide settings.
    static void setAppId(std::string id);
    static void setDaysUntilPrompt(double days);
    static void setUsesUntilPrompt(int64_t uses);
    static void setSignificantEventsUntilPrompt(int64_t events);
    static void setTimeBeforeReminding(double days);
    static void setDebug(bool debug);
    static void setDelegate(Delegate delegate);
    static void setCustomAlertTitle(std::string text);
    static void setCustomAlertMessage(std::string text);
    static void setCustomAlertCancelButtonTitle(std::string text);
    static void setCustomAlertRateButtonTitle(std::string text);
    static void setCustomAlertRateLaterButtonTitle(std::string text);
    // Restores every setting to its default (tests).
    static void resetSettings();

    // The shared instance, on the desktop platform unless setPlatform gave another first.
    static RatingPrompt& sharedInstance();
    static void setPlatform(std::unique_ptr<Platform> platform);

    static void appLaunched(bool canPromptForRating = true);
    static void appEnteredForeground(bool canPromptForRating);
    static void userDidSignificantEvent(bool canPromptForRating);
    static void appWillResignActive();
    static void showPrompt();
    static void tryToShowPrompt();
    static void forceShowPrompt(bool displayRateLaterButton);
    static void rateApp();

    // Observes the application's will-resign-active notification while it lives.
    explicit RatingPrompt(Platform& platform);
    ~RatingPrompt();
    RatingPrompt(RatingPrompt const&) = delete;
    RatingPrompt& operator=(RatingPrompt const&) = delete;

    bool connectedToNetwork();
    bool ratingConditionsHaveBeenMet();
    void incrementUseCount();
    void incrementSignificantEventCount();
    void incrementAndRate(bool canPrompt);
    void incrementSignificantEventAndRate(bool canPrompt);
    bool userHasDeclinedToRate();
    bool userHasRatedCurrentVersion();
    void showRatingAlert(bool displayRateLaterButton = true);
    void showPromptWithChecks(bool withChecks, bool displayRateLaterButton);
    void hideRatingAlert();
    void alertDismissed(int buttonIndex);
    void rate();

    std::string alertTitle() const;
    std::string alertMessage() const;
    std::string alertCancelTitle() const;
    std::string alertRateTitle() const;
    std::string alertRateLaterTitle() const;
    // The store's review page for the application.
    std::string reviewUrl() const;

private:
    void resignActive();
    void increment(bool significant);
    std::string localized(char const* key) const;

    Platform& platform_;
};

}  // namespace os
