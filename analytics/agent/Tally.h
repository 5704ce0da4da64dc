#pragma once
// The analytics agent's public class operations. Settings go to the agent-wide settings, session
// work to the session façade, which answers event statuses at once and records on its queue.
// Every operation is safe from any thread and never throws. In a child forked without exec after
// the agent's threads started, every operation returns too: its work is done on the calling thread
// and nothing is sent from there; a session the child ends is stored for a later start to send.
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "analytics/delivery/TallyStoreKit.h"
#include "platform/base/Value.h"

class TallyDelegate;
class TallyPageViewHost;
class TallySessionBuilder;

namespace platform {
struct Notification;
}

class Tally {
public:
    // A parameter value: text, a boolean or a number.
    using Value = std::variant<std::string, bool, int64_t, uint64_t, double>;
    using Parameters = std::map<std::string, Value>;

    // Event statuses.
    static constexpr int kRefused = 0, kAccepted = 1, kTooManyNames = 2, kTooManyParameters = 3, kLogFull = 4,
                         kCached = 5, kAnalyticsDisabled = 6;
    // The application notifications the agent observes, as the shell posts them.
    static constexpr char const* kDidFinishLaunching = "UIApplicationDidFinishLaunchingNotification";
    static constexpr char const* kWillResignActive = "UIApplicationWillResignActiveNotification";
    static constexpr char const* kWillEnterForeground = "UIApplicationWillEnterForegroundNotification";
    static constexpr char const* kDidBecomeActive = "UIApplicationDidBecomeActiveNotification";
    static constexpr char const* kWillTerminate = "UIApplicationWillTerminateNotification";

    // Start-up: once per process (until shutdown); later calls only log. While the application is
    // not yet active the rest waits for the did-finish-launching notification.
    static void startSession(char const* apiKey);
    static void startSession(char const* apiKey, platform::Value::Dict const& launchOptions);
    // The builder (when given) applies its settings first.
    static void startSession(char const* apiKey, TallySessionBuilder const* builder);
    static void startSession(char const* apiKey, platform::Value::Dict const& launchOptions,
                             TallySessionBuilder const* builder);
    // Launch options are kept as lists of strings under their keys; the platform's own launch
    // keys are taken as they are, anything else is read as a property list.
    static void setLaunchOptions(platform::Value const& options);
    static void parsePropertyList(platform::Value const& object);
    static void parseDictionary(platform::Value::Dict const& dictionary);
    static void startupNetworkAndSendSession();
    static void createAndSendSession();
    static bool activeSessionExists();
    static std::string getSessionID();
    static std::string getTallyAgentVersion();
    // Held strongly for the process (nullptr clears it); told of every session created.
    static void setDelegate(std::shared_ptr<TallyDelegate> delegate);

    // A null name stands for a name that is not text: refused with status 0.
    static int logEvent(char const* name);
    static int logEvent(char const* name, bool timed);
    static int logEvent(char const* name, Parameters const& parameters);
    static int logEvent(char const* name, Parameters const& parameters, bool timed);
    static void endTimedEvent(char const* name, std::optional<Parameters> const& parameters);
    static void logError(char const* errorId, char const* message, std::optional<platform::Error> const& error);
    // A finished store purchase: logged as "Tally.purchase" with its receipt once the store
    // (TallyStoreKit, installed by the host) has described the product. The callback hears 0 not
    // recorded, 1 recorded, 2 a limit or a receipt over 100 KB; it runs on the recorder's queue.
    static void logPaymentTransaction(SKPaymentTransaction const& transaction,
                                      std::function<void(int32_t)> statusCallback);
    static void logPageView();
    // Page views counted from a navigation or tab-bar host's delegate slot.
    static void logAllPageViews(std::shared_ptr<TallyPageViewHost> const& target);
    static void logAllPageViewsForTarget(std::shared_ptr<TallyPageViewHost> const& target);
    static void stopLogPageViewsForTarget(std::shared_ptr<TallyPageViewHost> const& target);

    // Settings, stored agent-wide and passed on to the running session.
    static void setAppVersion(std::string const& version);
    static void setShowErrorInLogEnabled(bool on);
    static void setLogLevel(int level);
    static void setDebugLogEnabled(bool on);
    static void setSessionContinueSeconds(int seconds);
    static int sessionContinueSeconds();
    static void setCrashReportingEnabled(bool on);
    static void setMaxSessionsSaved(int count);
    static void setUserID(std::optional<std::string> const& userID);
    static void setAge(int age);
    static void setGender(std::optional<std::string> const& gender);
    static void setLatitude(double latitude, double longitude, float horizontalAccuracy, float verticalAccuracy);
    static void setEventLoggingEnabled(bool on);
    static void setSessionReportsOnCloseEnabled(bool on);
    static void setSessionReportsOnPauseEnabled(bool on);
    static void setBackgroundSessionEnabled(bool on);
    static void sessionProperties(platform::Value::Dict const& properties);
    static void addSessionOrigin(char const* name);
    static void addSessionOrigin(char const* name, char const* deepLink);
    static void addOrigin(char const* name, char const* version,
                          std::optional<platform::Value::Dict> const& parameters = std::nullopt);
    // Switching pulse off marks the stored configuration's analytics as enabled again.
    static void setPulseEnabled(bool on);
    static void setServerURL(std::string const& url);
    static void setPulseServerURL(std::string const& url);
    static void setPulseCBServerURL(std::string const& url);
    static void setAppCloudServerToStaging(bool staging);
    static void setSecureTransportEnabledDeprecated(bool on);
    // Syndication events 0 to 5; "iurl", "aurl" and "wurl" values are sent as SHA-1 hex digests.
    static int logEvent(int syndicationEvent, char const* syndicationId, std::optional<Parameters> const& parameters);
    static void logError(char const* errorId, char const* message, std::string const& exceptionName,
                         std::string const& exceptionReason);
    static bool sendUsageInfo() { return true; }
    // Whether user info received from a paired watch is the agent's own.
    static bool isTallyUserInfo(platform::Value::Dict const& userInfo);
    static bool tallyUserInfo(platform::Value::Dict const& userInfo);
    static void removeInstallationIDFromKeychain();
    static void disableTransferOfTallyInfo();
    static void disableWatchConnectivity();
    // Acts only on a change from not opted out to opted out.
    static void setTallyOptOut(bool optOut);
    static bool hasUserOptedOut();

    // Life cycle, driven by the application notifications.
    static void applicationWillResignActive();
    static void applicationWillEnterForeground();
    static void applicationDidBecomeActive();
    static void pauseSession();
    static void pauseBackgroundSession();
    static void endSession();
    // Drops the session, file cache and settings; the next start is a first one again.
    static void shutdown();

    // What the host asked of the agent in this process (tests): the API key, and the events
    // while recording them is switched on (it is off unless a test asks for it).
    struct Event {
        std::string name;
        bool timed = false;
        bool ended = false;  // a timed event that endTimedEvent closed
        Parameters parameters;
    };
    static std::optional<std::string> sessionApiKey();
    static std::vector<Event> events();
    static void setRecordingEvents(bool on);
    // Shuts the agent down and forgets the record.
    static void reset();

private:
    // Sends the delegate "apiKey" and "sessionId" of the session just created.
    static void informDelegateOfNewSession();
    static void didFinishLaunchingWithOptionsInBackground(platform::Notification const& n);
    static int logEventChecked(char const* name, Parameters const* parameters, bool timed);
    static void remember(Event event);
};
