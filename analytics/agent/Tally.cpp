#include "analytics/agent/Tally.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyDelegate.h"
#include "analytics/agent/TallyFileCache.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallyPageViewDelegate.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyPreCacheEventManager.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallySessionBuilder.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/crash/TallyTLCrashReporter.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDataSenderIndex.h"
#include "analytics/delivery/TallyHeartBeater.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyPulseCBReportSender.h"
#include "analytics/delivery/TallyPulseClock.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Keychain.h"
#include "platform/base/NotificationCenter.h"

namespace {

char const* const kBadName = "Tally: Event not logged -- eventName must be of NSString type.";
char const* const kWatchEvent = "Tally: Event not logged -- this method cannot be used in watch extension.";
constexpr size_t kMaxRecord = 1000;

std::recursive_mutex& classLock() {
    static std::recursive_mutex m;
    return m;
}
int const observerTag = 0;

struct Record {
    std::atomic<bool> recording{false};
    std::mutex mutex;
    std::optional<std::string> apiKey;
    std::deque<Tally::Event> events;
};
Record& record() {
    static Record* r = new Record;
    return *r;
}

struct DelegateSlot {
    std::mutex mutex;
    std::shared_ptr<TallyDelegate> delegate;
};
DelegateSlot& delegateSlot() {
    static auto* d = new DelegateSlot;  // outlives the other statics
    return *d;
}

std::shared_ptr<TallyGlobalVariableStorage> settings() { return TallyGlobalVariableStorage::sharedInstance(); }
std::shared_ptr<TallyImpl> facade() { return TallyImpl::currentSession(); }

// The process is about to end, by an exit or by an error: what the session's end queued reaches
// the disk first, or a write cut off mid-way is lost. A stuck queue holds the end only briefly:
// a second call within that time (the will-terminate notice, then the return from main) shares
// the first one's time rather than adding its own.
void finishQueuedSaves() {
    using Clock = std::chrono::steady_clock;
    static std::atomic<Clock::rep> lastDeadline{0};
    auto const now = Clock::now();
    auto deadline = Clock::time_point(Clock::duration(lastDeadline.load()));
    if (deadline <= now) deadline = now + std::chrono::seconds(2);
    lastDeadline.store(deadline.time_since_epoch().count());
    auto left = [&] {
        using namespace std::chrono;
        return std::max(milliseconds(0), duration_cast<milliseconds>(deadline - Clock::now()));
    };
    if (auto f = facade()) f->queue().waitUntilIdleFor(left());
    // Reports on their way (the session's own, just sent) have the first of those seconds for their
    // answers: an accepted one leaves the list here instead of going out again with the next
    // start. One still unanswered then stays listed for that start. Nothing new is sent now.
    auto const sender = TallyDataSender::instance();
    auto const reports = TallyPulseCBReportSender::instance();
    std::pair<std::shared_ptr<TallyDataSenderBase>, std::shared_ptr<TallyDataSenderIndex>> const senders[] = {
        {sender, sender ? sender->dataIndex() : nullptr}, {reports, reports ? reports->pulseCBReportDataIndex() : nullptr}};
    for (auto const& [s, index] : senders)
        if (s) s->close();
    for (auto const& [s, index] : senders)
        if (s) s->awaitRunningTasks(deadline - std::chrono::seconds(1));
    for (auto const& [s, index] : senders) {
        if (s) s->queue().waitUntilIdleFor(left());
        if (index) index->indexMapQueue().waitUntilIdleFor(left());
    }
    TallyGlobalPersistentManager::finishSaves(deadline);
    // Keychain changes and the index's additions that found another process's lock held are in
    // notes on disk already.
}

// Made once, by the first start with crash reporting on; a reporter that cannot be enabled
// stays stored and start-up goes on without crash capture.
void enableCrashReporter() {
    TallyUtil::log(2, "Tally: crash reporting enabled");
    if (settings()->tallyCrashReporter()) return;
    auto config = std::make_shared<TallyTLCrashReporterConfig>(TallyTLCrashReporterConfig::SignalHandlerTypeBSD, 3);
    auto reporter = TallyTLCrashReporter::initWithConfiguration(config);
    settings()->setTallyCrashReporter(reporter);
    // The session asks the stored reporter for what the previous run left behind.
    auto neighbours = TallySession::neighbours();
    neighbours.hasPendingCrashReport = [] {
        auto r = settings()->tallyCrashReporter();
        return r && r->hasPendingCrashReport();
    };
    neighbours.loadPendingCrashReportData = [](platform::Error* error) -> std::optional<platform::Data> {
        auto r = settings()->tallyCrashReporter();
        return r ? r->loadPendingCrashReportDataAndReturnError(error) : std::nullopt;
    };
    neighbours.purgePendingCrashReport = [] {
        if (auto r = settings()->tallyCrashReporter()) r->purgePendingCrashReport();
    };
    TallySession::setNeighbours(std::move(neighbours));
    platform::Error error;
    if (!reporter->enableCrashReporterAndReturnError(&error))
        TallyUtil::log(2, "Tally: Failed to initialize crash reporter: " + error.description());
}

platform::Value::Dict toDict(Tally::Parameters const& p) {
    platform::Value::Dict d;
    for (auto const& [k, v] : p) std::visit([&, &k = k](auto const& x) { d[k] = platform::Value(x); }, v);
    return d;
}

bool errorArgumentsValid(char const* errorId, char const* message) {
    if (TallyUtil::isInWatchExtension()) {
        TallyUtil::log(2, "Tally: Error not logged -- this method cannot be used in watch extension.");
        return false;
    }
    return TallyUtil::errorTextsPresent(errorId, message);
}

// A stored configuration still fresh and with callbacks is kept (only an ad-tracking change
// asks again); otherwise a new one is requested. An expired one is dropped first.
void refreshPulseConfiguration() {
    auto controller = TallyPulseEventController::sharedInstance();
    if (!controller) return;
    auto maps = TallyGlobalPersistentManager::sharedInstance();
    std::shared_ptr<TallyPulseSettings> pulse;
    maps->processReadOperationForPersistentGlobalsMapSync([&](platform::Value::Dict const& map) {
        auto it = map.find("pulseSettings");
        if (it != map.end()) pulse = it->second.objectAs<TallyPulseSettings>();
    });
    auto const now = static_cast<int64_t>(TallyPulseClock::now() * 1000.0);
    if ((pulse ? pulse->expirationTTL : 0) <= now) {
        if (pulse) maps->processWriteOperationForPersistentGlobalsMap([](platform::Value::Dict& map) { map.erase("pulseSettings"); });
        pulse = nullptr;
    }
    if (pulse && pulse->nextRefreshTTL > now && pulse->expirationTTL > now && pulse->callbacks && !pulse->callbacks->empty())
        controller->updatePulseForAdTracking();
    else
        controller->makePulseRequest();
}

bool inactiveOrBackground(int state) { return state == 1 || state == 2; }
int applicationState() { return platform::DeviceFacts::profile().applicationState.value_or(0); }

template <class T, class F>
T guardedResult(T fallback, F&& body) noexcept {
    platform::LibraryWork call(platform::LibraryWork::Kind::PublicCall);
    try {
        return body();
    } catch (...) {
        TallyUtil::handleException(std::current_exception());
        return fallback;
    }
}

}  // namespace

void Tally::remember(Event event) {
    if (!record().recording.load(std::memory_order_relaxed)) return;
    std::lock_guard lock(record().mutex);
    auto& events = record().events;
    events.push_back(std::move(event));
    if (events.size() > kMaxRecord) events.pop_front();
}

// Start-up.

void Tally::startSession(char const* apiKey) {
    TallyUtil::guarded([&] {
        {
            std::lock_guard lock(classLock());
            if (settings()->startSessionCalled()) {
                TallyUtil::log(1, "Tally: startSession has been called already. It should only be called once. Returning.");
                return;
            }
            TallyUtil::log(2, "Tally: startSession called for the first time");
            settings()->setStartSessionCalled(true);
        }
        // Temporary files of saves a kill or an exit cut short; a copy still running keeps its own.
        platform::removeStaleAtomicWriteTemps(TallyUtil::filePathDirectory(), 0);
        platform::removeStaleAtomicWriteTemps(platform::Keychain::directory(), 0);
        std::string const key = apiKey ? apiKey : "";
        TallyUtil::log(2, "Tally: Start session called with apiKey[" + key + "]");
        TallyUtil::log(1, "Tally: Starting session on Agent Version [" + getTallyAgentVersion() + "] ");
        if (settings()->crashReportingEnabled()) enableCrashReporter();
        settings()->setApiKey(key);
        {
            std::lock_guard lock(record().mutex);
            record().apiKey = settings()->apiKey();
        }
        // A host that returns from main or calls exit without the notice gets the same last saves,
        // before the statics made so far go (the agent's threads reach none that go later).
        static std::once_flag exitHook;
        std::call_once(exitHook, [] { std::atexit([] { TallyUtil::guarded(finishQueuedSaves); }); });
        auto& centre = platform::NotificationCenter::shared();
        centre.addObserver(&observerTag, kWillTerminate, [](platform::Notification const&) {
            endSession();
            TallyUtil::guarded(finishQueuedSaves);
        });
        centre.addObserver(&observerTag, kWillResignActive,
                           [](platform::Notification const&) { applicationWillResignActive(); });
        centre.addObserver(&observerTag, kWillEnterForeground,
                           [](platform::Notification const&) { applicationWillEnterForeground(); });
        centre.addObserver(&observerTag, kDidBecomeActive,
                           [](platform::Notification const&) { applicationDidBecomeActive(); });
        int const state = applicationState();
        settings()->setAppApplicationState(state);
        if (inactiveOrBackground(state)) {
            centre.addObserver(&observerTag, kDidFinishLaunching, didFinishLaunchingWithOptionsInBackground);
            return;
        }
        startupNetworkAndSendSession();
    });
}

void Tally::startSession(char const* apiKey, platform::Value::Dict const& launchOptions) {
    setLaunchOptions(platform::Value(launchOptions));
    startSession(apiKey);
}

void Tally::startSession(char const* apiKey, TallySessionBuilder const* builder) {
    TallyUtil::guarded([&] {
        if (builder) builder->build();
        startSession(apiKey);
    });
}

void Tally::startSession(char const* apiKey, platform::Value::Dict const& launchOptions,
                         TallySessionBuilder const* builder) {
    TallyUtil::guarded([&] {
        if (builder) builder->build();
        startSession(apiKey, launchOptions);
    });
}

void Tally::setLaunchOptions(platform::Value const& options) {
    TallyUtil::guarded([&] {
        if (options.isNull()) return;
        auto s = settings();
        size_t const before = s->launchOptions().size();
        TallyUtil::log(2, "TallySession: Setting launchOptions [" + platform::Value(s->launchOptions()).describe() +
                              "], count " + std::to_string(before) + " ");
        if (auto const* d = options.dict()) {
            auto store = [&](std::string const& key, platform::Value value) {
                platform::Value::Dict target = s->launchOptions();
                target[key] = std::move(value);
                s->setLaunchOptions(std::move(target));
            };
            auto value = [&](char const* key) -> platform::Value const* {
                auto it = d->find(key);
                return it == d->end() ? nullptr : &it->second;
            };
            for (char const* key : {"UIApplicationLaunchOptionsURLKey", "UIApplicationLaunchOptionsSourceApplicationKey"}) {
                if (auto const* v = value(key)) {
                    store(key, platform::Value(platform::Value::Array{*v}));
                    TallyUtil::log(2, std::string("TallySession: Getting launchOptions from ") + key + "[" + v->describe() +
                                          "] ");
                }
            }
            if (auto const* v = value("UIApplicationLaunchOptionsRemoteNotificationKey"))
                store("UIApplicationLaunchOptionsRemoteNotificationKeyFlag", platform::Value(platform::Value::Array{*v}));
            if (auto const* v = value("UIApplicationLaunchOptionsLocationKey"))
                store("UIApplicationLaunchOptionsLocationKeyFlag", platform::Value(platform::Value::Array{*v}));
            if (auto const* v = value("UIApplicationLaunchOptionsNewsstandDownloadsKey"))
                store("UIApplicationLaunchOptionsNewsstandDownloadsKey", *v);
            if (auto const* v = value("UIApplicationLaunchOptionsAnnotationKey")) parsePropertyList(*v);
        }
        if (s->launchOptions().size() == before) parsePropertyList(options);
    });
}

void Tally::parsePropertyList(platform::Value const& object) {
    TallyUtil::guarded([&] {
        if (auto const* d = object.dict()) {
            parseDictionary(*d);
        } else if (auto const* a = object.array()) {
            for (auto const& e : *a)
                if (auto const* d = e.dict()) parseDictionary(*d);
        }
    });
}

void Tally::parseDictionary(platform::Value::Dict const& dictionary) {
    TallyUtil::guarded([&] {
        auto s = settings();
        platform::Value::Dict target = s->launchOptions();
        for (auto const& [k, v] : dictionary) {
            platform::Value::Array list;
            auto take = [&, &list = list](platform::Value const& x) {
                if (x.string())
                    list.push_back(x);
                else if (x.date())
                    list.push_back(platform::Value(std::to_string(x.date()->milliseconds())));
                else if (x.isNumber())
                    list.push_back(platform::Value(TallyEvent::descriptionOf(x)));
            };
            if (auto const* a = v.array())
                for (auto const& e : *a) take(e);
            else
                take(v);
            if (!list.empty()) target[k] = platform::Value(std::move(list));
        }
        s->setLaunchOptions(std::move(target));
    });
}

void Tally::didFinishLaunchingWithOptionsInBackground(platform::Notification const& n) {
    TallyUtil::guarded([&] {
        platform::NotificationCenter::shared().removeObserver(&observerTag, kDidFinishLaunching);
        if (!n.userInfo.empty()) setLaunchOptions(platform::Value(n.userInfo));
        startupNetworkAndSendSession();
        if (inactiveOrBackground(applicationState())) pauseSession();
    });
}

void Tally::startupNetworkAndSendSession() {
    TallyUtil::guarded([] {
        TallyNetworkUtil::initNetworkReachability();
        TallyHeartBeater::createAndStartInstance(1.0);
        std::string const key = settings()->apiKey().value_or("");
        TallyFileCache::createInstanceWithApiKey(key, TallySessionInfo::agentVersion());
        createAndSendSession();
        TallyUtil::cleanupStoredIdentifierForVendor();
        // Keychain notes left by copies that found its lock held: folded while nobody waits on it,
        // however many there are, once the start's own reads are done.
        try {
            std::thread([folder = platform::Keychain::directory()] { platform::Keychain::foldNotes(folder); }).detach();
        } catch (std::system_error const& e) {
            TallyUtil::log(1, std::string("Tally: keychain notes left for a later start: ") + e.what());
        }
        TallyUtil::log(2, "Tally: Finish starting session with apiKey[" + key + "]");
    });
}

void Tally::createAndSendSession() {
    TallyUtil::guarded([] {
        auto s = settings();
        TallyImpl::setupCurrentSessionWithKey(s->apiKey());
        setSessionReportsOnCloseEnabled(s->sessionReportsOnCloseEnabled());
        setSessionReportsOnPauseEnabled(s->sessionReportsOnPauseEnabled());
        setBackgroundSessionEnabled(s->backgroundSessionEnabled());
        setEventLoggingEnabled(s->eventLoggingEnabled());
        setCrashReportingEnabled(s->crashReportingEnabled());
        setAge(s->age());
        informDelegateOfNewSession();
        if (s->pulseMonitoringEnabled()) refreshPulseConfiguration();
        if (auto id = s->userID()) setUserID(id);
        if (auto g = s->gender()) setGender(g);
        if (auto f = facade()) {
            f->initialTimestamp();
            f->sendSessionsToServerForCreateSession();
        }
    });
}

void Tally::setDelegate(std::shared_ptr<TallyDelegate> delegate) {
    std::lock_guard lock(delegateSlot().mutex);
    delegateSlot().delegate = std::move(delegate);
}

void Tally::informDelegateOfNewSession() {
    TallyUtil::guarded([] {
        std::shared_ptr<TallyDelegate> d;
        {
            std::lock_guard lock(delegateSlot().mutex);
            d = delegateSlot().delegate;
        }
        if (!d) return;
        // The session is made on the session queue: waited for, so its id is the new one.
        if (auto f = facade()) f->startTime();
        d->tallySessionDidCreateWithInfo({{"apiKey", platform::Value(settings()->apiKey().value_or(""))},
                                          {"sessionId", platform::Value(getSessionID())}});
    });
}

bool Tally::activeSessionExists() { return facade() != nullptr; }
std::string Tally::getSessionID() { return TallySession::sessionId(); }
std::string Tally::getTallyAgentVersion() { return TallySession::getAgentVersionWithBuild(); }

// Events.

int Tally::logEvent(char const* name) { return logEventChecked(name, nullptr, false); }
int Tally::logEvent(char const* name, Parameters const& parameters) { return logEventChecked(name, &parameters, false); }
int Tally::logEvent(char const* name, Parameters const& parameters, bool timed) {
    return logEventChecked(name, &parameters, timed);
}

int Tally::logEvent(char const* name, bool timed) {
    return guardedResult(kRefused, [&] {
        if (TallyUtil::isInWatchExtension()) {
            TallyUtil::log(2, kWatchEvent);
            return kRefused;
        }
        if (!name) {
            TallyUtil::log(2, kBadName);
            return kRefused;
        }
        if (record().recording.load(std::memory_order_relaxed)) remember(Event{name, timed, false, {}});
        auto f = facade();
        if (!f) return kRefused;  // no session to take it, and nothing cached
        return f->recordEvent(std::string(name), std::nullopt, timed);
    });
}

int Tally::logEventChecked(char const* name, Parameters const* parameters, bool timed) {
    return guardedResult(kRefused, [&] {
        if (TallyUtil::isInWatchExtension()) {
            TallyUtil::log(2, kWatchEvent);
            return kRefused;
        }
        if (!name) {
            TallyUtil::log(2, kBadName);
            return kRefused;
        }
        std::optional<platform::Value::Dict> params;
        if (parameters) params = toDict(*parameters);
        if (record().recording.load(std::memory_order_relaxed))
            remember(Event{name, timed, false, parameters ? *parameters : Parameters{}});
        int status = kRefused;
        // Decided under the cache's lock, so an event never falls between cache and session.
        TallyPreCacheEventManager::sharedInstance()->processWriteSync([&](TallyPreCacheEventManager::PreCacheLog& log) {
            if (auto f = facade()) {
                status = f->recordEvent(std::string(name), params, timed);
            } else if (log.size() >= TallyPreCacheEventManager::kMaxEvents) {
                TallyUtil::log(2, std::string("Tally: Event not cached -- the pre-session cache is full, eventName[") +
                                      name + "] dropped");
                log.dropped = true;
                status = kLogFull;
            } else {
                log.emplace_back(std::string(name), params, timed);
                status = kCached;
            }
        });
        return status;
    });
}

void Tally::endTimedEvent(char const* name, std::optional<Parameters> const& parameters) {
    TallyUtil::guarded([&] {
        if (!name) {
            TallyUtil::log(2, kBadName);
            return;
        }
        if (record().recording.load(std::memory_order_relaxed)) {
            std::lock_guard lock(record().mutex);
            for (Event& e : record().events) {
                if (e.timed && !e.ended && e.name == name) {
                    e.ended = true;
                    if (parameters) e.parameters = *parameters;
                    break;
                }
            }
        }
        std::optional<platform::Value::Dict> params;
        if (parameters) params = toDict(*parameters);
        if (auto f = facade()) f->endTimedEvent(std::string(name), params);
    });
}

void Tally::logError(char const* errorId, char const* message, std::optional<platform::Error> const& error) {
    TallyUtil::guarded([&] {
        if (!errorArgumentsValid(errorId, message)) return;
        if (auto f = facade()) f->recordError(std::string(errorId), std::string(message), error, Data{});
    });
}

void Tally::logPaymentTransaction(SKPaymentTransaction const& transaction, std::function<void(int32_t)> statusCallback) {
    TallyUtil::guarded([&] {
        if (auto f = facade()) {
            f->recordTransaction(transaction, std::move(statusCallback));
        } else {
            TallyUtil::log(2, "Tally: Transaction not logged -- no session has been started.");
            if (statusCallback) statusCallback(0);
        }
    });
}

void Tally::logPageView() {
    TallyUtil::guarded([] {
        if (TallyUtil::isInWatchExtension()) {
            TallyUtil::log(2, "Tally: logPageView disabled -- this method cannot be used in watch extension.");
            return;
        }
        if (auto f = facade()) f->maybeIncrementPageView();
    });
}

void Tally::logAllPageViews(std::shared_ptr<TallyPageViewHost> const& target) {
    TallyUtil::guarded([&] {
        if (TallyUtil::isInWatchExtension()) {
            TallyUtil::log(2, "Tally: logAllPageViews disabled -- this method cannot be used in watch extension.");
            return;
        }
        TallyPageViewDelegateOld::createDelegateOnTarget(target);
    });
}

void Tally::logAllPageViewsForTarget(std::shared_ptr<TallyPageViewHost> const& target) {
    TallyUtil::guarded([&] {
        if (TallyUtil::isInWatchExtension()) {
            TallyUtil::log(2, "Tally: logAllPageViews disabled -- this method cannot be used in watch extension.");
            return;
        }
        TallyPageViewDelegate::createDelegateOnTarget(target);
    });
}

void Tally::stopLogPageViewsForTarget(std::shared_ptr<TallyPageViewHost> const& target) {
    TallyPageViewDelegate::destroyDelegateOnTarget(target);
}

// Settings.

void Tally::setAppVersion(std::string const& version) {
    TallyUtil::guarded([&] {
        if (facade()) {
            TallyUtil::log(1, "Tally: Please call setAppVersion before startSession.");
            return;
        }
        TallyUtil::log(2, "Tally: setAppVersion[" + version + "]");
        settings()->setAppVersion(version);
    });
}

void Tally::setShowErrorInLogEnabled(bool on) { TallyUtil::setShowErrorInLogEnabled(on); }
void Tally::setLogLevel(int level) { TallyUtil::setLogLevel(level); }
void Tally::setDebugLogEnabled(bool on) { TallyUtil::setLogLevel(on ? 2 : 1); }
void Tally::setSessionContinueSeconds(int seconds) {
    TallyUtil::guarded([&] { settings()->setPauseSecondsBeforeStartingNewSession(seconds); });
}
int Tally::sessionContinueSeconds() { return settings()->pauseSecondsBeforeStartingNewSession(); }

void Tally::setCrashReportingEnabled(bool on) {
    TallyUtil::guarded([&] {
        if (auto f = facade()) f->setCrashReportingEnabled(on);
        settings()->setCrashReportingEnabled(on);
    });
}

void Tally::setMaxSessionsSaved(int count) { TallySessionInfo::setMaxSessions(count); }

void Tally::setUserID(std::optional<std::string> const& userID) {
    TallyUtil::guarded([&] {
        if (auto f = facade()) f->setUserID(userID);
        TallyUtil::log(2, "Tally: setUserID[" + userID.value_or("(null)") + "]");
        settings()->setUserID(userID);
    });
}

void Tally::setAge(int age) {
    TallyUtil::guarded([&] {
        settings()->setAge(age);
        if (auto f = facade()) f->setAgeInYears(age);
    });
}

void Tally::setGender(std::optional<std::string> const& gender) {
    TallyUtil::guarded([&] {
        if (!gender) {
            TallyUtil::log(2, "Tally: setGender failed -- gender must be of NSString type.");
            return;
        }
        if (auto f = facade()) f->setGenderAsString(gender);
        TallyUtil::log(2, "Tally: setGender[" + *gender + "]");
        settings()->setGender(gender);
    });
}

void Tally::setLatitude(double latitude, double longitude, float horizontalAccuracy, float verticalAccuracy) {
    TallyUtil::guarded([&] {
        settings()->setLocation(TallyLocation{latitude, longitude, horizontalAccuracy, verticalAccuracy, TallyClock::now()});
        if (auto f = facade()) f->setLatitude(latitude, longitude, horizontalAccuracy, verticalAccuracy);
    });
}

void Tally::setEventLoggingEnabled(bool on) {
    TallyUtil::guarded([&] {
        settings()->setEventLoggingEnabled(on);
        if (auto f = facade()) f->setEventLoggingEnabled(on);
    });
}

void Tally::setSessionReportsOnCloseEnabled(bool on) {
    TallyUtil::guarded([&] {
        settings()->setSessionReportsOnCloseEnabled(on);
        if (auto f = facade()) f->setSessionReportsOnCloseEnabled(on);
    });
}

void Tally::setSessionReportsOnPauseEnabled(bool on) {
    TallyUtil::guarded([&] {
        settings()->setSessionReportsOnPauseEnabled(on);
        if (auto f = facade()) f->setSessionReportsOnPauseEnabled(on);
    });
}

void Tally::setBackgroundSessionEnabled(bool on) {
    TallyUtil::guarded([&] {
        TallyUtil::log(2, "Tally: Background session enabled[" + std::to_string(on) + "]");
        settings()->setBackgroundSessionEnabled(on);
    });
}

void Tally::sessionProperties(platform::Value::Dict const& properties) {
    TallyUtil::guarded([&] { settings()->recordSessionProperties(properties); });
}

void Tally::setTallyOptOut(bool optOut) {
    TallyUtil::guarded([&] {
        bool const before = TallyUtil::hasUserOptedOut();
        TallyUtil::setTallyOptOut(optOut);
        if (before || !optOut) return;
        settings()->setOptOutSessionPending(true);
        if (auto f = facade()) f->endSessionAsync();
    });
}

bool Tally::hasUserOptedOut() { return TallyUtil::hasUserOptedOut(); }

void Tally::addSessionOrigin(char const* name) {
    TallyUtil::guarded([&] {
        if (!name) {
            TallyUtil::log(2, "Tally: Session Origin not added -- Session Origin Name must be of NSString type.");
            return;
        }
        settings()->setSessionOriginName(std::string(name));
        settings()->setHasSessionOriginName(true);
    });
}

void Tally::addSessionOrigin(char const* name, char const* deepLink) {
    TallyUtil::guarded([&] {
        if (!name) {
            TallyUtil::log(2, "Tally: Session Origin not added -- Session Origin Name must be of NSString type.");
            return;
        }
        if (!deepLink) {
            TallyUtil::log(2, "Tally: deepLink not added -- Session deepLink Name must be of NSString type.");
            return;
        }
        auto s = settings();
        s->setSessionOriginName(std::string(name));
        s->setHasSessionOriginName(true);
        s->setDeepLinkName(std::string(deepLink));
        s->setHasDeepLinkName(true);
    });
}

void Tally::addOrigin(char const* name, char const* version, std::optional<platform::Value::Dict> const& parameters) {
    TallyUtil::guarded([&] {
        if (!name) {
            TallyUtil::log(2, "Tally: Origin not added -- originName must be of NSString type.");
            return;
        }
        if (!version) {
            TallyUtil::log(2, "Tally: Origin not added -- originVersion must be of NSString type.");
            return;
        }
        settings()->recordOrigin(std::string(name), std::string(version), parameters);
    });
}

void Tally::setPulseEnabled(bool on) {
    TallyUtil::guarded([&] {
        settings()->setPulseMonitoringEnabled(on);
        if (on) return;
        TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentGlobalsMap([](platform::Value::Dict& map) {
            auto it = map.find("pulseSettings");
            auto pulse = it == map.end() ? nullptr : it->second.objectAs<TallyPulseSettings>();
            if (!pulse) return;
            platform::Value::Dict analytics = pulse->analytics();
            analytics["analytics_enabled"] = platform::Value(true);
            pulse->setAnalytics(std::move(analytics));
        });
    });
}

void Tally::setServerURL(std::string const& url) {
    TallyUtil::guarded([&] { TallyNetworkUtil::setServerURL(url); });
}
void Tally::setPulseServerURL(std::string const& url) {
    TallyUtil::guarded([&] { TallyNetworkUtil::setPulseServerUrl(url); });
}
void Tally::setPulseCBServerURL(std::string const& url) {
    TallyUtil::guarded([&] { TallyNetworkUtil::setPulseCBServerUrl(url); });
}
void Tally::setAppCloudServerToStaging(bool staging) {
    TallyUtil::guarded([&] { TallyNetworkUtil::setAppCloudServerToStaging(staging); });
}
void Tally::setSecureTransportEnabledDeprecated(bool on) {
    TallyUtil::guarded([&] { TallyNetworkUtil::setSecureTransportEnabledDeprecated(on); });
}

int Tally::logEvent(int event, char const* syndicationId, std::optional<Parameters> const& parameters) {
    return guardedResult(kRefused, [&] {
        static char const* const names[] = {"Reblog", "FastReblog", "SourceClick", "Like", "ShareClick", "PostSend"};
        if (static_cast<unsigned>(event) > 5) {
            TallyUtil::log(2, "syndicationEvent [" + std::to_string(event) + "] is out of enum range");
            return kRefused;
        }
        if (!syndicationId) {
            TallyUtil::log(2, "Invalid syndicationID passed in");
            return kRefused;
        }
        Parameters p = parameters.value_or(Parameters{});
        for (char const* key : {"iurl", "aurl", "wurl"}) {
            auto it = p.find(key);
            if (it == p.end()) continue;
            std::string const* text = std::get_if<std::string>(&it->second);
            if (!text) continue;
            Data const digest = TallyUtil::hashData(Data(text->begin(), text->end()));
            it->second = TallyUtil::hashDataToHexString(digest.data(), digest.size());
        }
        p["sid+zelv"] = std::string(syndicationId);
        return logEvent(names[event], p);
    });
}

void Tally::logError(char const* errorId, char const* message, std::string const& name, std::string const& reason) {
    TallyUtil::guarded([&] {
        if (!errorArgumentsValid(errorId, message)) return;
        if (auto f = facade())
            f->recordError(std::string(errorId), std::string(message), TallySession::ExceptionInfo{name, reason}, Data{});
    });
}

bool Tally::isTallyUserInfo(platform::Value::Dict const& userInfo) {
    return guardedResult(false, [&] {
        auto f = facade();
        return f && f->isTallyUserInfo(userInfo);
    });
}

bool Tally::tallyUserInfo(platform::Value::Dict const& userInfo) {
    return guardedResult(false, [&] {
        auto f = facade();
        return f && f->tallyUserInfo(userInfo);
    });
}

void Tally::removeInstallationIDFromKeychain() {
    TallyUtil::guarded([] {
        if (auto f = facade()) f->removeInstallationIDFromKeychain();
    });
}

void Tally::disableTransferOfTallyInfo() {
    TallyUtil::guarded([] { TallySession::disableTransferOfTallyInfo(); });
}
void Tally::disableWatchConnectivity() {
    TallyUtil::guarded([] { TallySession::disableWatchConnectivity(); });
}

// Life cycle.

void Tally::applicationWillResignActive() {
    TallyUtil::guarded([] {
        if (!settings()->backgroundSessionEnabled()) pauseSession();
    });
}

void Tally::applicationWillEnterForeground() {
    TallyUtil::guarded([] {
        if (auto f = facade()) f->markSessionAsResuming();
    });
}

void Tally::applicationDidBecomeActive() {
    TallyUtil::guarded([] {
        auto s = settings();
        s->setAppApplicationState(0);
        auto const paused = s->pauseTime();
        int64_t const elapsed =
            paused ? TallyProtocolData::timeIntervalFrom(paused->secondsSince1970, TallyClock::now().secondsSince1970) : 0;
        int64_t const window = static_cast<int32_t>(static_cast<uint32_t>(s->pauseSecondsBeforeStartingNewSession()) * 1000u);
        if (window >= elapsed) {
            if (auto f = facade()) f->resumeSession();
        } else {
            createAndSendSession();
        }
    });
}

void Tally::pauseSession() {
    TallyUtil::guarded([] {
        settings()->setPauseTime(TallyClock::now());
        if (auto f = facade()) f->pauseSession();
    });
}

void Tally::pauseBackgroundSession() {
    TallyUtil::guarded([] {
        if (applicationState() == 2) pauseSession();
    });
}

void Tally::endSession() {
    TallyUtil::guarded([] {
        if (auto f = facade()) f->endSession();
    });
}

void Tally::shutdown() {
    TallyUtil::guarded([] {
        platform::NotificationCenter::shared().removeObserver(&observerTag);
        TallyImpl::cleanup();
        TallyHeartBeater::cleanup();
        TallyFileCache::cleanup();
        TallyGlobalVariableStorage::cleanup();
        TallyPulseCBReportSender::cleanup();
    });
}

// The record.

std::optional<std::string> Tally::sessionApiKey() {
    std::lock_guard lock(record().mutex);
    return record().apiKey;
}

void Tally::setRecordingEvents(bool on) { record().recording.store(on); }

std::vector<Tally::Event> Tally::events() {
    std::lock_guard lock(record().mutex);
    return {record().events.begin(), record().events.end()};
}

void Tally::reset() {
    shutdown();
    setDelegate(nullptr);
    TallyPreCacheEventManager::sharedInstance()->processWriteSync([](TallyPreCacheEventManager::PreCacheLog& log) { log = {}; });
    std::lock_guard lock(record().mutex);
    record().apiKey.reset();
    record().events.clear();
}
