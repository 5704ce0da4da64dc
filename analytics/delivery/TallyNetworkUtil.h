#pragma once
// The agent-wide network state: the reachable flag and network status code carried by session
// reports, the last error of the HTTP transport, and the endpoint URLs. Nothing leaves the machine
// until a URL is set: the default hosts sit under the reserved ".invalid" domain.
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/Value.h"

class TallyReachability;
namespace platform {
struct Notification;
}

class TallyNetworkUtil {
public:
    static constexpr char const* kStatusChangedNotification = "TallyNetworkStatusChangedNotification";
    static constexpr char const* kCFNetworkErrorDomain = "kCFErrorDomainCFNetwork";

    static TallyNetworkUtil& instance();
    // The object the status notification is posted with (stands for the class).
    static void* notificationObject();

    // Runs on the SDK loop: from any other thread it is posted there and returns at once.
    static void initNetworkReachability();
    static void updateNetworkStatus(platform::Notification const& notification);
    static bool isNetworkReachable();
    static int32_t networkStatus();  // 0 not reachable, 2 Wi-Fi, 3 WWAN

    static void setLastNetworkOperationError(std::optional<platform::Error> error);
    static std::optional<platform::Error> lastNetworkOperationError();
    static void setNetworkLikelyNotReachable();
    static bool isNetworkLikelyNotReachable();

    static std::string serverURL();
    static void setServerURL(std::string url);
    static std::string adServerUrl();
    static void setAdServerUrl(std::string url);
    static std::string adLogServerUrl();
    static void setAdLogServerUrl(std::string url);
    static std::string pulseServerUrl();
    static void setPulseServerUrl(std::string url);
    static std::string pulseCBServerUrl();
    static void setPulseCBServerUrl(std::string url);
    static std::string appCloudServerUrl();
    static void setAppCloudServerToStaging(bool staging);
    static void setSecureTransportEnabledDeprecated(bool enabled);

    // Back to the state before set-up, for tests.
    static void resetForTesting();

private:
    static void applyStatus(int status);
    mutable std::mutex mutex_;
    std::optional<platform::Error> lastError_;
};
