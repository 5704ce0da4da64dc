#include "analytics/delivery/TallyNetworkUtil.h"

#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyReachability.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"

namespace {

constexpr char const* kDataHost = "data.tally.invalid";
constexpr char const* kAdsHost = "ads.tally.invalid";
constexpr char const* kAdLogHost = "adlog.tally.invalid";
constexpr char const* kPulseHost = "config.tally.invalid";
constexpr char const* kAppCloudProduction = "https://appcloud.tally.invalid/";
constexpr char const* kAppCloudStaging = "https://appcloud-staging.tally.invalid/";

std::string https(char const* host, char const* path) { return std::string("https://") + host + path; }

struct State {
    std::recursive_mutex lock;  // the lock on the class
    std::atomic<bool> notReachable{false};
    std::atomic<int32_t> status{0};
    bool setUpDone = false;
    std::shared_ptr<TallyReachability> watched;
    std::mutex urls;
    std::string serverURL = https(kDataHost, "/aas.do");
    std::string adServerUrl = https(kAdsHost, "/v16/getAds.do");
    std::string adLogServerUrl = https(kAdLogHost, "/postAdLog.do");
    std::string pulseServerUrl = https(kPulseHost, "/sdk/v1/config");
    std::string pulseCBServerUrl = https(kDataHost, "/pcr.do");
    uint8_t appCloudProduction = 1;
};

State& state() {
    static State* s = new State;  // lives as long as the process, like the class's state
    return *s;
}

int observerTag;

}  // namespace

TallyNetworkUtil& TallyNetworkUtil::instance() {
    static TallyNetworkUtil* shared = new TallyNetworkUtil;
    return *shared;
}

void* TallyNetworkUtil::notificationObject() {
    static int tag;
    return &tag;
}

void TallyNetworkUtil::applyStatus(int status) {
    State& s = state();
    if (status == TallyReachability::ReachableViaWiFi) {
        s.notReachable = false;
        s.status = 2;
    } else if (status == TallyReachability::ReachableViaWWAN) {
        s.notReachable = false;
        s.status = 3;
    } else {
        s.notReachable = true;
        s.status = 0;
    }
}

void TallyNetworkUtil::initNetworkReachability() {
    platform::SdkLoop& loop = platform::SdkLoop::shared();
    if (!loop.isLoopThread()) {
        loop.post([] { initNetworkReachability(); });
        return;
    }
    State& s = state();
    std::lock_guard lock(s.lock);
    if (s.setUpDone) return;
    platform::NotificationCenter::shared().addObserver(&observerTag, TallyReachability::kChangedNotification,
                                                       [](platform::Notification const& n) { updateNetworkStatus(n); });
    // A placeholder host never resolves, so until a real ads URL is set the internet at large is
    // watched instead; otherwise every change would read as "not reachable".
    std::string host = adServerUrl();
    host = host.substr(host.find("://") == std::string::npos ? 0 : host.find("://") + 3);
    host = host.substr(0, host.find_first_of(":/"));
    bool const placeholder = host.size() >= 8 && host.compare(host.size() - 8, 8, ".invalid") == 0;
    s.watched = placeholder ? TallyReachability::tallyReachabilityForInternetConnection()
                            : TallyReachability::tallyReachabilityWithHostName(host);
    if (s.watched) {
        s.watched->setKey(host);
        s.watched->tallyStartNotifier();
    }
    auto internet = TallyReachability::tallyReachabilityForInternetConnection();
    int const status = internet ? internet->tallyCurrentReachabilityStatus() : 0;
    tally_delivery::log(2, "initial network status [" + std::to_string(status) + "] ========= ");
    applyStatus(status);
    s.setUpDone = true;
}

void TallyNetworkUtil::updateNetworkStatus(platform::Notification const& notification) {
    State& s = state();
    {
        std::lock_guard lock(s.lock);
        auto const* target = static_cast<TallyReachability const*>(notification.object);
        int const status = target ? target->tallyCurrentReachabilityStatus() : 0;
        tally_delivery::log(2, "updated network status [" + std::to_string(status) + "] ======== ");
        applyStatus(status);
    }
    platform::NotificationCenter::shared().post(kStatusChangedNotification, notificationObject());
}

bool TallyNetworkUtil::isNetworkReachable() { return !state().notReachable; }
int32_t TallyNetworkUtil::networkStatus() { return state().status; }

void TallyNetworkUtil::setLastNetworkOperationError(std::optional<platform::Error> error) {
    TallyNetworkUtil& self = instance();
    std::lock_guard lock(self.mutex_);
    self.lastError_ = std::move(error);
}

std::optional<platform::Error> TallyNetworkUtil::lastNetworkOperationError() {
    TallyNetworkUtil& self = instance();
    std::lock_guard lock(self.mutex_);
    return self.lastError_;
}

void TallyNetworkUtil::setNetworkLikelyNotReachable() {
    platform::Error e;
    e.domain = kCFNetworkErrorDomain;
    e.code = 1;
    setLastNetworkOperationError(e);
}

bool TallyNetworkUtil::isNetworkLikelyNotReachable() {
    if (!isNetworkReachable()) return true;
    auto error = lastNetworkOperationError();
    return error && error->domain == kCFNetworkErrorDomain;
}

#define TALLY_URL_ACCESSORS(getter, setter, field)      \
    std::string TallyNetworkUtil::getter() {            \
        std::lock_guard lock(state().urls);             \
        return state().field;                           \
    }                                                   \
    void TallyNetworkUtil::setter(std::string url) {    \
        std::lock_guard lock(state().urls);             \
        state().field = std::move(url);                 \
    }

TALLY_URL_ACCESSORS(serverURL, setServerURL, serverURL)
TALLY_URL_ACCESSORS(adServerUrl, setAdServerUrl, adServerUrl)
TALLY_URL_ACCESSORS(adLogServerUrl, setAdLogServerUrl, adLogServerUrl)
TALLY_URL_ACCESSORS(pulseServerUrl, setPulseServerUrl, pulseServerUrl)
TALLY_URL_ACCESSORS(pulseCBServerUrl, setPulseCBServerUrl, pulseCBServerUrl)
#undef TALLY_URL_ACCESSORS

std::string TallyNetworkUtil::appCloudServerUrl() {
    std::lock_guard lock(state().urls);
    return state().appCloudProduction ? kAppCloudProduction : kAppCloudStaging;
}

void TallyNetworkUtil::setAppCloudServerToStaging(bool staging) {
    std::lock_guard lock(state().urls);
    state().appCloudProduction = !staging;
}

void TallyNetworkUtil::setSecureTransportEnabledDeprecated(bool enabled) {
    setServerURL(https(kDataHost, "/aas.do"));
    setAdServerUrl(https(kAdsHost, "/v16/getAds.do"));
    setAdLogServerUrl(enabled ? https(kAdLogHost, "/postAdLog.do") : std::string("http://") + kAdLogHost + "/postAdLog.do");
    setPulseServerUrl(pulseServerUrl());
    setPulseCBServerUrl(pulseCBServerUrl());
}

void TallyNetworkUtil::resetForTesting() {
    State& s = state();
    platform::NotificationCenter::shared().removeObserver(&observerTag);
    std::shared_ptr<TallyReachability> old;
    {
        std::lock_guard lock(s.lock);
        old = std::move(s.watched);
        s.setUpDone = false;
        s.notReachable = false;
        s.status = 0;
    }
    setLastNetworkOperationError(std::nullopt);
}
