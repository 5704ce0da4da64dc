// The rating prompt's counting, conditions and choices with the launch settings, over a fake
// clock, network and alert.
#include <gtest/gtest.h>

#include "os/shell/RatingPrompt.h"
#include "os/shell/tests/ShellFakes.h"
#include "platform/NetworkMonitor.h"
#include "platform/base/NotificationCenter.h"

namespace {

using os::RatingPrompt;

struct FakePlatform : fakes::QuietRating {
    std::string version = "1.0";
    double clock = 1.7e9;
    std::optional<uint32_t> flags = platform::NetworkMonitor::kReachable;
    int alerts = 0;
    bool laterOffered = false;
    bool visible = false;
    std::function<void(int)> dismissed;
    std::vector<std::string> urls, logs;

    std::string appVersion() override { return version; }
    double now() override { return clock; }
    std::optional<uint32_t> zeroAddressFlags() override { return flags; }
    bool startProbe() override { return true; }
    void showAlert(std::string const& title, std::string const&, std::string const& cancel, std::string const& rate,
                   std::optional<std::string> const& later, std::function<void(int)> d) override {
        ++alerts;
        EXPECT_EQ(title, "Rate zelv");
        EXPECT_EQ(cancel, "No, Thanks");
        EXPECT_EQ(rate, "Rate zelv");
        laterOffered = later.has_value();
        visible = true;
        dismissed = std::move(d);
    }
    bool alertVisible() override { return visible; }
    void dismissAlert() override { choose(-1); }
    void choose(int index) {
        visible = false;
        auto d = std::move(dismissed);
        if (d) d(index);
    }
    void openUrl(std::string const& url) override { urls.push_back(url); }
    void log(std::string const& line) override { logs.push_back(line); }
};

class Rating : public ::testing::Test {
protected:
    FakePlatform* p = nullptr;
    void SetUp() override {
        RatingPrompt::resetSettings();
        auto fake = std::make_unique<FakePlatform>();
        p = fake.get();
        RatingPrompt::setPlatform(std::move(fake));
        RatingPrompt::setAppId("1000000000");
        RatingPrompt::setDaysUntilPrompt(0);
        RatingPrompt::setUsesUntilPrompt(0);
        RatingPrompt::setSignificantEventsUntilPrompt(7);
        RatingPrompt::setTimeBeforeReminding(2.0);
    }
    void TearDown() override {
        RatingPrompt::setPlatform(nullptr);
        RatingPrompt::resetSettings();
    }
    void events(int n) {
        for (int i = 0; i < n; ++i) RatingPrompt::userDidSignificantEvent(true);
    }
};

TEST_F(Rating, SeventhSignificantEventPromptsAndTheChoiceIsKept) {
    RatingPrompt::appLaunched(true);
    events(6);
    EXPECT_EQ(p->alerts, 0);
    events(1);
    EXPECT_EQ(p->alerts, 1);
    EXPECT_TRUE(p->laterOffered);
    p->choose(1);
    EXPECT_TRUE(p->prefs.boolean(RatingPrompt::kRatedCurrentVersion));
    ASSERT_EQ(p->urls.size(), 1u);
    EXPECT_NE(p->urls[0].find("/WebObjects/MZStore.woa/wa/viewContentsUserReviews?pageNumber=0&sortOrdering=1&type="
                              "Purple+Software&mt=8&id=1000000000"),
              std::string::npos);
    events(3);
    RatingPrompt::appEnteredForeground(true);
    EXPECT_EQ(p->alerts, 1);
    // The counts were written to the file.
    platform::PreferencesFile reread(p->prefs.path());
    EXPECT_EQ(reread.integer(RatingPrompt::kSignificantEventCount), 10);
    EXPECT_EQ(reread.integer(RatingPrompt::kUseCount), 2);
}

TEST_F(Rating, NewVersionResetsCountersAndAsksAgainAfterADecline) {
    events(7);
    ASSERT_EQ(p->alerts, 1);
    p->choose(0);
    EXPECT_TRUE(p->prefs.boolean(RatingPrompt::kDeclinedToRate));
    events(5);
    EXPECT_EQ(p->alerts, 1);
    p->version = "1.1";
    events(1);
    EXPECT_EQ(p->prefs.integer(RatingPrompt::kSignificantEventCount), 1);
    EXPECT_EQ(p->prefs.integer(RatingPrompt::kUseCount), 0);
    EXPECT_FALSE(p->prefs.boolean(RatingPrompt::kDeclinedToRate));
    EXPECT_EQ(p->prefs.real(RatingPrompt::kFirstUseDate), 0);
    events(6);
    EXPECT_EQ(p->alerts, 2);
}

TEST_F(Rating, RemindLaterBlocksForTwoDays) {
    events(7);
    p->choose(2);
    EXPECT_EQ(p->prefs.real(RatingPrompt::kReminderRequestDate), p->clock);
    double const t = p->clock;
    p->clock = t + 2 * 86400 - 1;
    events(1);
    EXPECT_EQ(p->alerts, 1);
    p->clock = t + 2 * 86400;
    events(1);
    EXPECT_EQ(p->alerts, 2);
}

TEST_F(Rating, UnreadableFlagsLogAndNeverPrompt) {
    p->flags.reset();
    events(8);
    EXPECT_EQ(p->alerts, 0);
    EXPECT_EQ(std::count(p->logs.begin(), p->logs.end(), "Error. Could not recover network reachability flags"), 2);
    // Reachable only with a connection first: no prompt either.
    p->flags = platform::NetworkMonitor::kReachable | platform::NetworkMonitor::kConnectionRequired;
    events(1);
    EXPECT_EQ(p->alerts, 0);
    p->flags = platform::NetworkMonitor::kTransientConnection;
    events(1);
    EXPECT_EQ(p->alerts, 1);
}

TEST_F(Rating, ResigningActiveHidesTheAlertWithoutAChoice) {
    events(7);
    ASSERT_TRUE(p->visible);
    RatingPrompt::appWillResignActive();
    EXPECT_FALSE(p->visible);
    EXPECT_FALSE(p->prefs.boolean(RatingPrompt::kDeclinedToRate));
    EXPECT_EQ(p->prefs.real(RatingPrompt::kReminderRequestDate), 0);
    EXPECT_TRUE(p->urls.empty());
    events(1);
    EXPECT_EQ(p->alerts, 2);
    // The application's will-resign-active notification (a window losing the focus) does the same.
    platform::NotificationCenter::shared().post("UIApplicationWillResignActiveNotification");
    EXPECT_FALSE(p->visible);
    EXPECT_EQ(p->prefs.real(RatingPrompt::kReminderRequestDate), 0);
}

TEST_F(Rating, DebugMeetsEveryConditionAndChecksSkipTheCounters) {
    RatingPrompt::setDebug(true);
    RatingPrompt& r = RatingPrompt::sharedInstance();
    p->prefs.setBoolean(RatingPrompt::kDeclinedToRate, true);
    EXPECT_TRUE(r.ratingConditionsHaveBeenMet());
    RatingPrompt::setDebug(false);
    EXPECT_FALSE(r.ratingConditionsHaveBeenMet());
    RatingPrompt::tryToShowPrompt();
    EXPECT_EQ(p->alerts, 0);  // declined
    RatingPrompt::forceShowPrompt(false);
    EXPECT_EQ(p->alerts, 1);
    EXPECT_FALSE(p->laterOffered);
    p->choose(7);  // closed by the system: nothing recorded
    p->prefs.setBoolean(RatingPrompt::kDeclinedToRate, false);
    RatingPrompt::showPrompt();
    EXPECT_EQ(p->alerts, 2);
    EXPECT_EQ(r.alertMessage().find("If you enjoy using zelv,"), 0u);
}

}  // namespace
