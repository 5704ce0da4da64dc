#include "analytics/agent/TallySession.h"

#include <cmath>
#include <ctime>

#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "analytics/delivery/TallyRecordTransactionRequestManager.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/NotificationCenter.h"

namespace {

std::mutex& neighboursMutex() {
    static std::mutex m;
    return m;
}
TallySession::Neighbours& neighboursSlot() {
    static auto* n = new TallySession::Neighbours;  // outlives the other statics
    return *n;
}
std::shared_ptr<TallySession>& currentSlot() {
    static auto* s = new std::shared_ptr<TallySession>;  // outlives the other statics
    return *s;
}

std::shared_ptr<TallyGlobalVariableStorage> settings() { return TallyGlobalVariableStorage::sharedInstance(); }

std::string text(std::optional<std::string> const& s) { return s ? *s : "(null)"; }
std::string text(std::optional<platform::Date> const& d) { return d ? Value(*d).describe() : "(null)"; }
std::string text(std::optional<Value::Dict> const& d) { return d ? Value(*d).describe() : "(null)"; }

std::optional<double> seconds(std::optional<platform::Date> d) {
    return d ? std::optional<double>(d->secondsSince1970) : std::nullopt;
}

// The configuration controller matches the event against the stored callback triggers.
void processPulseEvent(std::string const& name, Value::Dict const& params) {
    if (auto controller = TallyPulseEventController::sharedInstance()) controller->processEvent(name, params);
}

}  // namespace

void TallySession::setNeighbours(Neighbours n) {
    std::lock_guard<std::mutex> lock(neighboursMutex());
    neighboursSlot() = std::move(n);
}

TallySession::Neighbours TallySession::neighbours() {
    std::lock_guard<std::mutex> lock(neighboursMutex());
    return neighboursSlot();
}

std::recursive_mutex& TallySession::classLock() {
    static std::recursive_mutex m;
    return m;
}

std::string TallySession::getAgentVersionWithBuild() { return "Tally_iOS_189_7.8.2"; }
std::string TallySession::getTallyVersion() { return "7.8.2"; }
std::string TallySession::getAgentVersion() { return TallySessionInfo::agentVersion(); }

std::shared_ptr<TallySession> TallySession::currentSession() {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    return currentSlot();
}

void TallySession::setCurrentSession(std::shared_ptr<TallySession> session) {
    std::shared_ptr<TallySession> old;
    std::lock_guard<std::recursive_mutex> lock(classLock());
    old = std::move(currentSlot());
    currentSlot() = std::move(session);
}

std::string TallySession::sessionId() {
    auto s = currentSession();
    return std::to_string(s ? s->startTime().milliseconds() : 0);
}

TallySession::TallySession(std::string apiKey, std::optional<std::string> appVersion, platform::Date startDate)
    : apiKey_(std::move(apiKey)), appVersion_(std::move(appVersion)), startTime_(startDate) {}

std::shared_ptr<TallySession> TallySession::create(std::string const& apiKey, std::optional<std::string> appVersion,
                                                   platform::Date startDate) {
    TallyUtil::registerArchiveClasses();
    std::shared_ptr<TallySession> s(new TallySession(apiKey, std::move(appVersion), startDate));
    s->resetSessionData();
    s->installAsDataSenderDelegate();
    TallyUtil::log(2, "TallySession: Initialized session from scratch with startTime[" + Value(startDate).describe() + "]");
    return s;
}

TallySession::~TallySession() {
    // The sender holds its delegate weakly, so it can never reach a destroyed session; the lock
    // keeps this in step with a delegate being installed elsewhere.
    std::lock_guard<std::recursive_mutex> lock(classLock());
    if (auto sender = TallyDataSender::instance(); sender && !sender->dataSenderDelegate())
        TallyUtil::log(2, "TallySession: dealloc session");
}

void TallySession::installAsDataSenderDelegate() {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    if (auto sender = TallyDataSender::instance()) sender->setDataSenderDelegate(weak_from_this());
}

bool TallySession::sentReportSuccessful() const {
    auto sender = TallyDataSender::instance();
    return sender && sender->everSentReportSuccessfully();
}

Value::Dict TallySession::pulseTimes() const {
    platform::Date const start = startTime();
    return {{"sessionStartTimeForPulse", Value(start)}, {"sessionEndTimeForPulse", Value(endTime_.value_or(start))}};
}

void TallySession::recordTransaction(SKPaymentTransaction transaction, TransactionStatusCallback statusCallback) {
    TallyRecordTransactionRequestManager::sharedInstance()->recordTransaction(std::move(transaction),
                                                                              std::move(statusCallback));
}

void TallySession::sendPulseSessionEnd() {
    if (!settings()->pulseMonitoringEnabled()) return;
    Value::Dict params = pulseTimes();
    params["totalSessionBgTime"] = Value(totalPauseIntervalMillis_);
    processPulseEvent("tally.session_end", params);
}

std::shared_ptr<TallySession> TallySession::sessionWithApiKey(std::string const& apiKey, platform::Date startTime,
                                                              TallyPreCacheEventManager::PreCacheLog& preCacheLog) {
    Neighbours const n = neighbours();
    if (auto stored = unarchiveCurrentSession()) {
        stored->sendPulseSessionEnd();
        if (settings()->crashReportingEnabled() && n.hasPendingCrashReport && n.hasPendingCrashReport()) {
            stored->setCrashed(true);
            platform::Error error;
            std::optional<Data> report = n.loadPendingCrashReportData ? n.loadPendingCrashReportData(&error) : std::nullopt;
            if (!report) {
                TallyUtil::log(2, "TallySession: Could not load crash report data: " + error.description());
            } else if (report->size() > kMaxCrashReportBytes) {
                TallyUtil::log(2, "TallySession: Crash report of " + std::to_string(report->size()) +
                                      " bytes is too large, not attached");
            } else {
                stored->setCrashReportData(std::move(report));
            }
            // Purged even when it could not be loaded, so a bad report is not retried for ever.
            if (n.purgePendingCrashReport) n.purgePendingCrashReport();
        }
        addToSavedSessions(stored);
        TallyUtil::log(2, "TallySession: Add crashed former session");
    }
    removeCurrentSessionFile();
    auto session = create(apiKey, settings()->appVersion(), startTime);
    processPulseEvent("tally.session_start", session->pulseTimes());
    TallyUtil::log(2, "TallySession: Created active session with API[" + apiKey + "]");
    if (!preCacheLog.empty()) {
        TallyUtil::log(2, "TallySession: Recording " + std::to_string(preCacheLog.size()) +
                              " events that were logged before the session was created");
        for (TallyPreCacheEvent const& e : preCacheLog) session->recordEvent(e.eventName(), e.params(), e.timed());
        preCacheLog.clear();
    }
    // Events the full cache refused belonged to this session too.
    if (preCacheLog.dropped) {
        session->eventLogComplete_ = false;
        preCacheLog.dropped = false;
    }
    platform::NotificationCenter::shared().post("TallySessionStarted");
    return session;
}

std::shared_ptr<TallySession> TallySession::sessionWithNewEventsWithApiKey(std::string const& apiKey,
                                                                           platform::Date startTime) {
    auto next = TallyPreCacheEventManager::sharedInstance()->processWriteSync(
        [&](TallyPreCacheEventManager::PreCacheLog& log) { return sessionWithApiKey(apiKey, startTime, log); });
    for (auto const& event : pendingEventLog_) {
        event->updateID();
        next->putEventIntoLog(event);
        if (event->started() < next->startTime()) next->setStartTime(event->started());
    }
    pendingEventLog_.clear();
    return next;
}

void TallySession::resetSessionData() {
    endTime_.reset();
    totalPauseIntervalMillis_ = 0;
    deepLinkName_.reset();
    sessionOriginName_.reset();
    sessionParams_.clear();
    sessionPropertyParams_.clear();
    eventCounts_.clear();
    pendingEventLog_.clear();
    eventLog_.clear();
    eventLogComplete_ = true;
    errors_.clear();
    latitude_ = longitude_ = 0;
    accuracy_ = 0;
    crashed_ = false;
    gender_ = -1;
    age_.reset();
    pageViewCount_ = 0;
    locale_ = platform::DeviceFacts::preferredLanguage().value_or("en");
    timeZone_ = platform::DeviceFacts::timeZoneName().value_or("UTC");
    publishCounts();
    getSessionParametersAtPhase(0, 1);
    saveToDisk();
}

void TallySession::pauseSession() {
    setPauseTime(TallyClock::now());
    TallyUtil::log(2, "TallySession: Pause session with pauseTime[" + text(pauseTime()) + "]");
    finishSession();
    if (sessionReportsOnPauseEnabled_) {
        sendSessionsToServerIncludingCurrentSession(true);
        removeCurrentSessionFile();
    } else {
        saveToDisk();
    }
    sendPulseSessionEnd();
    settings()->savePersistentGlobalsToDisk();
}

void TallySession::finishSession() {
    endTime_ = TallyClock::now();
    TallyUtil::log(2, "TallySession: Finish session with endTime[" + text(endTime_) + "]");
    endTimedEvents();
    getSessionParametersAtPhase(1, 3);
    settings()->resetLaunchOptions();
}

void TallySession::markSessionAsResuming() {
    std::lock_guard<std::mutex> lock(timesMutex_);
    resumeTime_ = pauseTime_ ? std::optional<platform::Date>(TallyClock::now()) : std::nullopt;
}

void TallySession::resumeSession() {
    auto const paused = pauseTime();
    if (!paused) return;
    platform::Date const now = TallyClock::now();
    totalPauseIntervalMillis_ += TallyProtocolData::timeIntervalFrom(paused->secondsSince1970, now.secondsSince1970);
    {
        std::lock_guard<std::mutex> lock(timesMutex_);
        pauseTime_.reset();
        resumeTime_.reset();
    }
    mergePendingEventLog();
    saveToDisk();
    TallyUtil::log(2, "TallySession: Resume session with resumeTime[" + Value(now).describe() + "]");
}

void TallySession::mergePendingEventLog() {
    auto pending = std::move(pendingEventLog_);
    pendingEventLog_.clear();
    for (auto const& e : pending) putEventIntoLog(e);
}

void TallySession::mergeValidPendingEventLog() {
    auto const mark = resumeTime();
    std::vector<std::shared_ptr<TallyEvent>> keep;
    auto pending = std::move(pendingEventLog_);
    pendingEventLog_.clear();
    for (auto const& e : pending) {
        if (mark && e->started() < *mark)
            putEventIntoLog(e);
        else
            keep.push_back(e);
    }
    pendingEventLog_ = std::move(keep);
}

void TallySession::archiveSession() {
    mergeValidPendingEventLog();
    if (!sessionReportsOnPauseEnabled_ || !eventLog_.empty())
        addToSavedSessions(shared_from_this());
    else
        setSavedSessions({});
    {
        std::lock_guard<std::mutex> lock(timesMutex_);
        resumeTime_.reset();
    }
    removeCurrentSessionFile();
}

void TallySession::endSession() {
    finishSession();
    if (sessionReportsOnCloseEnabled_)
        sendSessionsToServerIncludingCurrentSession(true);
    else
        addToSavedSessions(shared_from_this());
    removeCurrentSessionFile();
    settings()->savePersistentGlobalsToDisk();
    sendPulseSessionEnd();
}

void TallySession::setSessionReportsOnCloseEnabled(bool on) {
    sessionReportsOnCloseEnabled_ = on;
    TallyUtil::log(2, "TallySession: Session reports on close enabled[" + std::to_string(on) + "]");
}

void TallySession::setSessionReportsOnPauseEnabled(bool on) {
    sessionReportsOnPauseEnabled_ = on;
    TallyUtil::log(2, "TallySession: Session reports on pause enabled[" + std::to_string(on) + "]");
}

void TallySession::setCrashReportingEnabled(bool on) {
    crashReportingEnabled_ = on;
    TallyUtil::log(2, "TallySession: Crash reporting enabled[" + std::to_string(on) + "]");
}

void TallySession::setEventLoggingEnabled(bool on) {
    eventLoggingEnabled_ = on;
    TallyUtil::log(2, "TallySession: Event logging enabled[" + std::to_string(on) + "]");
}

void TallySession::setLatitude(double latitude, double longitude, float horizontalAccuracy, float verticalAccuracy) {
    latitude_ = TallyUtil::reduceLocationPrecision(latitude, -1);
    longitude_ = TallyUtil::reduceLocationPrecision(longitude, -1);
    accuracy_ = static_cast<float>((std::fabs(horizontalAccuracy) + std::fabs(verticalAccuracy)) * 0.5);
    truncated_ = false;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%f", static_cast<double>(accuracy_));
    TallyUtil::log(2, "TallySession: New location set with lat[" + Value(latitude_).describe() + "] long[" +
                          Value(longitude_).describe() + "] accuracy[" + buf + "] truncated[0]");
    saveToDisk();
}

void TallySession::setUserID(std::optional<std::string> userID) {
    TallyUtil::log(2, "TallySession: Set userID[" + text(userID) + "]");
    userID_ = std::move(userID);
}

void TallySession::setGenderAsString(std::optional<std::string> const& gender) {
    gender_ = gender == "m" ? 1 : gender == "f" ? 0 : -1;
    TallyUtil::log(2, "TallySession: given gender [" + text(gender) + "], _gender = [" + std::to_string(gender_) + "]");
}

void TallySession::setAgeInYears(int age) {
    if (age < 1 || age > 150) return;
    time_t const now = static_cast<time_t>(TallyClock::now().secondsSince1970);
    std::tm local{};
    localtime_r(&now, &local);
    std::tm birth{};
    birth.tm_year = local.tm_year - age;
    birth.tm_mday = 1;
    birth.tm_isdst = -1;
    age_ = platform::Date{static_cast<double>(std::mktime(&birth))};
    TallyUtil::log(2, "TallySession: set age to [" + text(age_) + "]");
}

void TallySession::maybeIncrementPageView() {
    platform::Date const now = TallyClock::now();
    auto const last = settings()->lastPageViewDate();
    if (last && now.secondsSince1970 - last->secondsSince1970 <= 0.3) return;
    ++pageViewCount_;
    settings()->setLastPageViewDate(now);
}

int64_t TallySession::timeIntervalSinceSessionStart(std::optional<platform::Date> date) const {
    return TallyProtocolData::timeIntervalFrom(startTime().secondsSince1970, seconds(date));
}

int64_t TallySession::sessionLength() const { return endTime_ ? timeIntervalSinceSessionStart(endTime_) : -1; }

int TallySession::getBatteryState() {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    return platform::DeviceFacts::batteryState();
}

platform::Date TallySession::startTime() const {
    std::lock_guard<std::mutex> lock(timesMutex_);
    return startTime_;
}
void TallySession::setStartTime(platform::Date d) {
    std::lock_guard<std::mutex> lock(timesMutex_);
    startTime_ = d;
}
std::string TallySession::apiKey() const {
    std::lock_guard<std::mutex> lock(timesMutex_);
    return apiKey_;
}
std::optional<platform::Date> TallySession::resumeTime() const {
    std::lock_guard<std::mutex> lock(timesMutex_);
    return resumeTime_;
}
std::optional<platform::Date> TallySession::pauseTime() const {
    std::lock_guard<std::mutex> lock(timesMutex_);
    return pauseTime_;
}
void TallySession::setPauseTime(std::optional<platform::Date> d) {
    std::lock_guard<std::mutex> lock(timesMutex_);
    pauseTime_ = d;
}
std::optional<platform::Date> TallySession::lastPartialUploadTime() const {
    std::lock_guard<std::mutex> lock(timesMutex_);
    return lastPartialUploadTime_;
}

// Recording.

unsigned TallySession::recordEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters,
                                   bool timed, std::shared_ptr<platform::Archivable> transaction) {
    if (name && TallyUtil::logs(2)) {
        TallyUtil::log(2, "TallySession: Attempting to record Event eventName[" + *name + "] with parameters[" +
                              text(parameters) + "]");
    }
    if (!name || name->empty()) {
        eventLogComplete_ = false;
        TallyUtil::log(1, "TallySession: Not logging Event eventName[" + text(name) + "] due to invalid eventName");
        return kInvalid;
    }
    size_t const count = parameters ? parameters->size() : 0;
    if (count > TallyEvent::kMaxParameters) {
        if (!transaction) {
            eventLogComplete_ = false;
            TallyUtil::log(1, "TallySession: Not logging Event eventName[" + *name +
                                  "] because event has more than 10 parameters (max allowed parameters).");
            return kTooManyParameters;
        }
        TallyUtil::log(2, "TallySession: Event eventName[" + *name +
                              "] has more than 10 parameters (max allowed parameters).");
    }
    auto event = std::make_shared<TallyEvent>(*name, timed, parameters, std::move(transaction));
    if (settings()->pulseMonitoringEnabled()) {
        Value::Dict params = parameters.value_or(Value::Dict{});
        params["eventLogId"] = Value(event->eventLogId());
        for (auto const& [k, v] : pulseTimes()) params[k] = v;
        processPulseEvent(*name, params);
    }
    if (isPaused()) {
        // Bounded like the log it waits for: beyond that it could never be logged anyway.
        if (pendingEventLog_.size() >= kMaxPendingEvents) {
            eventLogComplete_ = false;
            TallyUtil::log(2, "TallySession: Pending event log full, eventName[" + *name + "] dropped");
            return kLimitReached;
        }
        pendingEventLog_.push_back(event);
        TallyUtil::log(2, "TallySession: Event log for eventName[" + *name + "] put to pending");
        return kPending;
    }
    return putEventIntoLog(event);
}

unsigned TallySession::putEventIntoLog(std::shared_ptr<TallyEvent> const& event) {
    std::string const& name = event->name();
    auto it = eventCounts_.find(name);
    if (it == eventCounts_.end() && eventCounts_.size() >= size_t(TallySessionInfo::maxEventCounts())) {
        eventLogComplete_ = false;
        return kLimitReached;
    }
    int const count = ++eventCounts_[name];
    publishCounts();
    if (TallyUtil::logs(2))
        TallyUtil::log(2, "TallySession: Event count for eventName[" + name + "] updated to count[" + std::to_string(count) + "]");
    if (eventLog_.size() < size_t(TallySessionInfo::maxEventLogCount()) && eventLoggingEnabled_) {
        eventLog_.push_back(event);
        publishCounts();
        if (TallyUtil::logs(2))
            TallyUtil::log(2, "TallySession: Recording event eventName[" + name + "] with parameters[" +
                                  Value(event->parameters()).describe() + "] complete");
        uploadPartialSessionDataIfNeeded(event->isRevenue());
        return kRecorded;
    }
    eventLogComplete_ = false;
    return kLimitReached;
}

void TallySession::endTimedEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters) {
    if (!name) return;
    platform::Date const now = TallyClock::now();
    for (auto const* log : {&eventLog_, &pendingEventLog_}) {
        for (auto const& e : *log) {
            if (e->isUnterminated() && e->name() == *name) {
                e->setEnded(now);
                e->updateParameters(parameters);
                TallyUtil::log(2, "TallySession: event named[" + *name + "] ended at " + Value(now).describe());
                return;
            }
        }
    }
}

void TallySession::endTimedEvents() {
    TallyUtil::log(2, "TallySession: ending all unterminated timed events with _endTime[" + text(endTime_) + "]...");
    for (auto const* log : {&eventLog_, &pendingEventLog_}) {
        for (auto const& e : *log) {
            if (e->isUnterminated() || e->automaticallyEnded()) {
                e->setEnded(endTime_);
                e->setAutomaticallyEnded(true);
                TallyUtil::log(2, "TallySession: forcefully terminated event named[" + e->name() + "]");
            }
        }
    }
    TallyUtil::log(2, "TallySession: ...finished ending un-ended timed events.");
}

int TallySession::totalEventCount() const {
    int64_t total = static_cast<int64_t>(errors_.size());
    for (auto const& [name, count] : eventCounts_) total += count;
    return TallyUtil::int32FromNSInteger(total);
}

void TallySession::recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                               std::optional<ExceptionInfo> const& exception, std::optional<Data> const& liveReport) {
    std::string const summary = exception ? exception->name + ": " + exception->reason : "nil";
    std::string const head = "TallySession: Recording error id[" + text(errorId) + "] with message[" + text(message) +
                             "] and exception[" + summary + "]";
    TallyUtil::log(2, head);
    recordError(errorId, message, summary, 2, liveReport);
    TallyUtil::log(2, head + " complete");
}

void TallySession::recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                               std::optional<platform::Error> const& error, std::optional<Data> const& liveReport) {
    std::string summary = "nil";
    if (error) {
        auto field = [&](char const* key) {
            auto it = error->userInfo.find(key);
            return it != error->userInfo.end() && it->second.string() ? *it->second.string() : std::string("(null)");
        };
        summary = field("NSLocalizedDescription") + ": " + field("NSLocalizedFailureReason");
    }
    std::string const head = "TallySession: Recording error id[" + text(errorId) + "] with message[" + text(message) +
                             "] and error[" + summary + "]";
    TallyUtil::log(2, head);
    recordError(errorId, message, summary, 1, liveReport);
    TallyUtil::log(2, head + " complete");
}

void TallySession::recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                               std::string const& exceptionString, int errorType, std::optional<Data> const& liveReport) {
    ++totalErrorCount_;
    if (errors_.size() >= size_t(TallySessionInfo::maxErrors())) {
        TallyUtil::log(2, "TallySession: Error id[" + text(errorId) + "] not recorded");
    } else {
        Data report = liveReport && crashReportingEnabled_ ? *liveReport : Data{};
        auto e = TallyError::errorWithString(errorId, message, exceptionString, errorType, std::move(report));
        errors_.push_back(e);
        TallyUtil::log(2, "TallySession: Error id[" + std::to_string(e->errorID()) + "] updated");
    }
    saveToDisk();
    uploadPartialSessionDataIfNeeded(false);
}

void TallySession::uploadPartialSessionDataIfNeeded(bool force) {
    if (!force) return;  // no partial report ever falls due on its own in this agent
    {
        std::lock_guard<std::mutex> lock(timesMutex_);
        lastPartialUploadTime_ = TallyClock::now();
    }
    sendSessionsToServerIncludingCurrentSession(true);
}

void TallySession::resetEventLogs() {
    sessionParams_.clear();
    eventCounts_.clear();
    pendingEventLog_.clear();
    eventLog_.clear();
    errors_.clear();
    eventLogComplete_ = true;
    totalErrorCount_ = 0;
    pageViewCount_ = 0;
    crashReportData_.reset();
    publishCounts();
    getSessionParametersAtPhase(0, 2);
    saveToDisk();
}

void TallySession::getSessionParametersAtPhase(int phase, int callSite) {
    auto u64 = [](uint64_t v) { return Value(std::to_string(v)); };
    sessionParams_["dbg"] = Value(std::to_string(TallyClock::now().milliseconds()) + "/" + std::to_string(callSite));
    uint64_t const wired = wiredMemoryBytes(), active = activeMemoryBytes(), inactive = inactiveMemoryBytes();
    sessionParams_["memory.total"] = u64(wired + active + inactive + freeMemoryBytes());
    if (phase == 0 || phase == 1) {
        std::string const end = phase == 0 ? ".start" : ".end";
        sessionParams_["memory.used.wired" + end] = u64(wired);
        sessionParams_["memory.used.active" + end] = u64(active);
        sessionParams_["memory.used.inactive" + end] = u64(inactive);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%f", static_cast<double>(cpuUsagePercent()));
        sessionParams_["cpu.load" + end] = Value(std::string(buf));
    }
    sessionParams_["boot.time"] = Value(std::to_string(TallyUtil::lastBootTime()));
    uint64_t const size = TallyUtil::getDiskSize(), free = TallyUtil::getFreeDiskspace();
    sessionParams_["disk.size.total"] = u64(size);
    sessionParams_["disk.size.used"] = u64(size >= free ? size - free : 0);
}
