#pragma once
// The engine behind the partner callbacks: matches each event against the stored
// configuration's triggers, fills the matching callback templates, keeps every request as an
// attempt in the persistent maps until it succeeds, runs out of retries or expires, retries on
// timers with growing delays, and hands every outcome to the callback report manager.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "analytics/delivery/ITallyHttpAsyncTask.h"
#include "platform/base/Value.h"
#include "platform/base/WorkQueue.h"

class TallyPulseSettings;
class TallyPulseCallbackAttemptInfo;
namespace platform {
struct Notification;
}

class TallyPulseEventController : public TallyHttpAsyncTaskDelegate,
                                  public std::enable_shared_from_this<TallyPulseEventController> {
public:
    static constexpr char const* kWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
    static constexpr char const* kDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
    static constexpr char const* kPattern = "%?\\{([A-Za-z0-9_])*\\}";
    static constexpr int32_t kFirstRepeatDuration = 30;
    static constexpr int64_t kAttemptValiditySeconds = 259200;
    // Reply bodies kept in an attempt (and reported) are cut to this.
    static constexpr size_t kMaxStoredBodySize = 65535;
    // The longest a callback request may take in all.
    static constexpr double kDeadlineSeconds = 120.0;

    // Empty after cleanup for the rest of the process.
    static std::shared_ptr<TallyPulseEventController> sharedInstance();
    static void cleanup();
    // Back to a fresh instance (tests only).
    static void resetForTesting();

    static std::array<char const*, 4> const& pulseEventArrayInstance();
    static std::string pulseEventEnumToString(int32_t code);
    static int32_t pulseEventStringToEnum(std::optional<std::string> const& name);

    TallyPulseEventController();
    ~TallyPulseEventController() override;
    void registerForNotifications();

    void updatePulseForAdTracking();
    void processEvent(std::string const& eventName, platform::Value::Dict const& params);
    void makePulseRequest();
    static platform::Value::Dict substituteParamsInDictionary(platform::Value::Dict const& dict,
                                                              platform::Value::Dict const& values,
                                                              std::string const& pattern);

    // Firing and retries.
    void fireAllConfigUrls();
    void asyncInvokeURLWithParams(std::shared_ptr<TallyPulseCallbackAttemptInfo> const& attempt);
    void manageUrlStorage(platform::Value::Dict const& taskParams);
    void setTimerToFireUrlWithInvokeInfo(std::shared_ptr<TallyPulseCallbackAttemptInfo> const& attempt);
    void firePendingUrls();
    void firePendingUrlsOnNetworkAvailability();
    void networkStatusChanged(platform::Notification const& notification);
    void appWillBackground(platform::Notification const& notification);
    void appWillResume(platform::Notification const& notification);

    void requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                           std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                        std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                          std::shared_ptr<TallyHTTPResponse> const& response) override;

    // The invoke URL hash: MD5 of "url_invokeId_callbackId".
    static std::string invokeUrlHash(TallyPulseCallbackAttemptInfo const& attempt);
    // The stored configuration, or nothing.
    static std::shared_ptr<TallyPulseSettings> currentSettings();

    platform::WorkQueue& queue() { return *queue_; }

private:
    void completed(std::shared_ptr<ITallyHttpAsyncTask> const& task, std::shared_ptr<TallyHTTPResponse> const& response,
                   int32_t requestState);

    std::unique_ptr<platform::WorkQueue> queue_;
};
