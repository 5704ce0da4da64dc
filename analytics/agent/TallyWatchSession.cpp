#include "analytics/agent/TallyWatchSession.h"

#include <algorithm>
#include <cctype>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyKeychainWrapper.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyWatch.h"
#include "analytics/agent/TallyWatchConnectivity.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyHttpAsyncURLSessionTask.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "platform/base/DeviceFacts.h"

namespace {

using P = TallyProtocolData;

std::recursive_mutex classLock;
std::shared_ptr<TallyWatchSession>& current() {
    static auto* s = new std::shared_ptr<TallyWatchSession>;  // outlives the other statics
    return *s;
}

Value const* bundleValue(Value::Dict const& info, char const* key) {
    auto it = info.find(key);
    return it == info.end() ? nullptr : &it->second;
}

// YES as a number or as the text "YES" in any case.
bool bundleFlag(Value::Dict const& info, char const* key) {
    Value const* v = bundleValue(info, key);
    if (!v) return false;
    if (auto const* s = v->string()) {
        std::string t = *s;
        std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return char(std::toupper(c)); });
        return t == "YES";
    }
    return v->toBool().value_or(false);
}

std::optional<std::string> bundleString(Value::Dict const& info, char const* key) {
    Value const* v = bundleValue(info, key);
    return v && v->string() ? std::optional(*v->string()) : std::nullopt;
}

int clampedThreshold(Value::Dict const& info, char const* key, int low, int high, char const* what) {
    Value const* v = bundleValue(info, key);
    auto n = v ? v->asInt() : std::nullopt;
    if (!n) return 10;  // absent or of another type: the default
    if (*n < low) {
        TallyUtil::log(2, std::string("Watch ") + what + " threshold may not be below " + std::to_string(low));
        return low;
    }
    if (*n > high) {
        TallyUtil::log(2, std::string("Watch ") + what + " threshold may not be above " + std::to_string(high));
        return high;
    }
    return int(*n);
}

// Read once by the public watch calls, which also make it the agent's key.
std::string watchApiKey() { return TallyWatch::apiKey().value_or(""); }

std::filesystem::path watchFile(char const* word) {
    std::string const key = watchApiKey();
    int32_t const hash = TallyUtil::dataChecksum(Data(key.begin(), key.end()));
    return TallyUtil::filePathDirectory() / ("." + std::string(word) + std::to_string(hash) + "_" +
                                             TallySessionInfo::agentVersion() + ".archive");
}

void truncateFile(std::filesystem::path const& path) {
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) std::filesystem::resize_file(path, 0, ec);
}

}  // namespace

platform::WorkQueue& TallyWatchSession::queue() {
    static platform::WorkQueue* q = [] {
        auto shared = std::shared_ptr<platform::WorkQueue>(new platform::WorkQueue("com.Tally.WatchAnalytics.Session"),
                                                           [](platform::WorkQueue*) {});
        shared->async([shared] {
            TallyDataSender::setupInstanceWithQueue(shared);
            if (auto sender = TallyDataSender::instance())
                sender->setHttpAsyncTaskClass(&TallyHttpAsyncURLSessionTask::taskClass());
            TallyNetworkUtil::initNetworkReachability();
        });
        return shared.get();
    }();
    return *q;
}

std::filesystem::path TallyWatchSession::currentWatchSessionFilePath() { return watchFile("tallyCurrentWatch"); }
std::filesystem::path TallyWatchSession::currentWatchIDsFilePath() { return watchFile("tallyCurrentWatchIDs"); }
std::filesystem::path TallyWatchSession::currentWatchAutoIncrementFilePath() {
    return watchFile("tallyCurrentWatchAutoIncrement");
}

void TallyWatchSession::resetForTesting() {
    std::lock_guard lock(classLock);
    current().reset();
}

TallyWatchSession::TallyWatchSession(std::string apiKey, std::optional<std::string> appVersion, platform::Date startDate)
    : apiKey_(std::move(apiKey)), appVersion_(std::move(appVersion)), startTime_(startDate) {}

std::shared_ptr<TallyWatchSession> TallyWatchSession::sessionWithApiKey(std::string const& apiKey, platform::Date start) {
    std::shared_ptr<TallyWatchSession> s(new TallyWatchSession(apiKey, TallyiOSUtil::appVersion(), start));
    s->resetSessionData();
    if (auto sender = TallyDataSender::instance()) sender->setDataSenderDelegate(s->weak_from_this());
    TallyUtil::log(2, "TallySession: Created active session with API[" + apiKey + "]");
    return s;
}

void TallyWatchSession::applyBundleSettings() {
    Value::Dict const info = platform::DeviceFacts::bundleInfo();
    if (bundleFlag(info, "Tally Watch Debug")) TallyUtil::setLogLevel(2);
    if (auto v = bundleString(info, "Tally Watch App Version")) appVersion_ = v;
    watchEventThreshold_ = clampedThreshold(info, "Tally Watch Event Threshold", 5, 50, "event");
    watchDurationThreshold_ = clampedThreshold(info, "Tally Watch Duration Threshold", 5, 60, "duration");
    if (auto v = bundleString(info, "Tally Watch User ID")) userID_ = v;
}

std::shared_ptr<TallyWatchSession> TallyWatchSession::currentWatchSession() {
    TallyUtil::registerArchiveClasses();
    std::lock_guard lock(classLock);
    auto& s = current();
    if (!s && !watchApiKey().empty()) {
        if (auto v = TallyUtil::safeUnarchiveObjectWithFile(currentWatchSessionFilePath())) s = v->objectAs<TallyWatchSession>();
        if (s) {
            if (auto c = TallyUtil::safeUnarchiveObjectWithFile(currentWatchAutoIncrementFilePath()))
                if (auto counters = c->objectAs<TallyAutoIncrement>()) TallyAutoIncrement::setWatchInstance(counters);
            if (auto conn = TallyWatchConnectivity::defaultConnectivty()) {
                conn->setDelegate(s->weak_from_this());
                conn->setup();
            }
        }
    }
    if (s && s->hasWatchSessionExpired()) s->endWatchSession();
    if (s) return s;
    std::string const key = watchApiKey();
    if (key.empty()) {
        TallyUtil::log(1, "API Key not provided in plist with key Tally Watch API Key, watch analytics will not be available!!");
        return nullptr;
    }
    s = sessionWithApiKey(key, TallyClock::now());
    s->applyBundleSettings();
    if (auto sender = TallyDataSender::instance()) {
        sender->setDataSenderDelegate(s->weak_from_this());
        sender->retransmitNotSentBlocks();
    }
    if (auto conn = TallyWatchConnectivity::defaultConnectivty()) {
        conn->setDelegate(s->weak_from_this());
        conn->setup();
    }
    s->saveWatchSessionToDisk();
    return s;
}

// Archive.

void TallyWatchSession::encodeWith(platform::ArchiveEncoder& e) const {
    e.encode("serializationVersion", Value(kSerializationVersion));
    e.encode("startTime", Value(startTime_));
    if (endTime_) e.encode("endTime", Value(*endTime_));
    e.encode("pauseIntervalMillis", Value(int64_t(0)));
    e.encode("sessionParams", Value(sessionParams_));
    Value::Dict counts;
    for (auto const& [k, n] : eventCounts_) counts[k] = Value(n);
    e.encode("eventCounts", Value(std::move(counts)));
    Value::Array events, errors;
    for (auto const& ev : eventLog_) events.push_back(Value(ev));
    for (auto const& er : errors_) errors.push_back(Value(er));
    e.encode("eventLog", Value(std::move(events)));
    e.encode("eventLogComplete", Value(eventLogComplete_));
    e.encode("errors", Value(std::move(errors)));
    e.encode("totalErrorCount", Value(totalErrorCount_));
    e.encode("latitude", Value(latitude_));
    e.encode("longitude", Value(longitude_));
    e.encode("accuracy", Value(accuracy_));
    e.encode("apiKey", Value(apiKey_));
    if (appVersion_) e.encode("appVersion", Value(*appVersion_));
    if (userID_) e.encode("userID", Value(*userID_));
    e.encode("locale", Value(locale_));
    e.encode("timeZone", Value(timeZone_));
    e.encode("gender", Value(gender_));
    e.encode("watchEventThreshold", Value(watchEventThreshold_));
    e.encode("watchDurationThreshold", Value(watchDurationThreshold_));
}

void TallyWatchSession::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        int64_t const version = d.decodeInt("serializationVersion").value_or(0);
        auto start = d.decodeDate("startTime");
        if ((version > 0 && version != kSerializationVersion) || !start) return nullptr;
        auto small = [&](char const* key, int fallback) {
            auto v = d.decodeInt(key);
            return v && *v >= INT32_MIN && *v <= INT32_MAX ? int(*v) : fallback;
        };
        std::shared_ptr<TallyWatchSession> s(
            new TallyWatchSession(d.decodeString("apiKey").value_or(""), d.decodeString("appVersion"), *start));
        s->serializationVersion_ = int(version);
        s->endTime_ = d.decodeDate("endTime");
        if (auto const* p = d.decodeDict("sessionParams")) s->sessionParams_ = *p;
        if (auto const* c = d.decodeDict("eventCounts"))
            for (auto const& [k, v] : *c)
                if (auto n = v.asInt()) s->eventCounts_[k] = int(std::clamp<int64_t>(*n, INT32_MIN, INT32_MAX));
        if (auto const* a = d.decodeArray("eventLog"))
            for (auto const& v : *a)
                if (auto ev = v.objectAs<TallyEvent>()) s->eventLog_.push_back(ev);
        if (auto const* a = d.decodeArray("errors"))
            for (auto const& v : *a)
                if (auto er = v.objectAs<TallyError>()) s->errors_.push_back(er);
        if (s->eventCounts_.size() > size_t(TallySessionInfo::maxEventCounts()) ||
            s->eventLog_.size() > size_t(TallySessionInfo::maxEventLogCount()) ||
            s->errors_.size() > size_t(TallySessionInfo::maxErrors()))
            return nullptr;
        s->eventLogComplete_ = d.decodeBool("eventLogComplete").value_or(true);
        s->totalErrorCount_ = small("totalErrorCount", 0);
        s->latitude_ = d.decodeDouble("latitude").value_or(0);
        s->longitude_ = d.decodeDouble("longitude").value_or(0);
        s->accuracy_ = float(d.decodeDouble("accuracy").value_or(0));
        s->userID_ = d.decodeString("userID");
        s->locale_ = d.decodeString("locale").value_or("");
        s->timeZone_ = d.decodeString("timeZone").value_or("");
        s->gender_ = small("gender", -1);
        s->watchEventThreshold_ = std::clamp(small("watchEventThreshold", 10), 5, 50);
        s->watchDurationThreshold_ = std::clamp(small("watchDurationThreshold", 10), 5, 60);
        return s;
    });
}

// Recording.

int TallyWatchSession::recordWatchEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& params) {
    int const status = recordEvent(name, params, false);
    finishWatchEvent();
    return status;
}

int TallyWatchSession::recordWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                                        std::optional<platform::Error> const& error) {
    std::string summary = "nil";
    if (error) {
        auto field = [&](char const* key) {
            auto it = error->userInfo.find(key);
            return it != error->userInfo.end() && it->second.string() ? *it->second.string() : std::string("(null)");
        };
        summary = field("NSLocalizedDescription") + ": " + field("NSLocalizedFailureReason");
    }
    return recordWatchErrorSummary(errorId, message, "error", summary, 1);
}

int TallyWatchSession::recordWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                                        TallySession::ExceptionInfo const& exception) {
    return recordWatchErrorSummary(errorId, message, "exception", exception.name + ": " + exception.reason, 2);
}

int TallyWatchSession::recordWatchErrorSummary(std::optional<std::string> const& errorId,
                                               std::optional<std::string> const& message, char const* kind,
                                               std::string const& summary, int errorType) {
    std::string const head = "TallySession: Recording error id[" + errorId.value_or("(null)") + "] with message[" +
                             message.value_or("(null)") + "] and " + kind + "[" + summary + "]";
    TallyUtil::log(2, head);
    int const status = recordError(errorId, message, summary, errorType);
    TallyUtil::log(2, head + " complete");
    finishWatchEvent();
    return status;
}

int TallyWatchSession::recordEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& params,
                                   bool timed) {
    static char const* const op = "-[TallyWatchSession recordEvent:withParameters:timed:]";
    if (!name) {
        TallyUtil::log(1, std::string(op) + ": Not logging event, eventName is not of NSString type");
        return 0;
    }
    if (name->empty()) {
        eventLogComplete_ = false;
        TallyUtil::log(1, std::string(op) + ": Not logging event, eventName is nil or of zero length");
        return 0;
    }
    if (params && params->size() > TallyEvent::kMaxParameters) {
        eventLogComplete_ = false;
        TallyUtil::log(1, std::string(op) + ": Not logging event, eventName[" + *name +
                              "] has more than 10 parameters (max allowed parameters).");
        return 3;
    }
    auto event = std::make_shared<TallyEvent>(*name, timed, params);
    if (!eventCounts_.count(*name) && eventCounts_.size() >= size_t(TallySessionInfo::maxEventCounts())) {
        eventLogComplete_ = false;
        return 4;
    }
    ++eventCounts_[*name];
    if (eventLog_.size() < size_t(TallySessionInfo::maxEventLogCount())) {
        eventLog_.push_back(event);
        return 1;
    }
    eventLogComplete_ = false;
    return 4;
}

int TallyWatchSession::recordError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                                   std::string const& exceptionString, int errorType) {
    ++totalErrorCount_;
    if (errors_.size() >= size_t(TallySessionInfo::maxErrors())) {
        TallyUtil::log(2, "TallySession: Error id[" + errorId.value_or("(null)") + "] not recorded");
        return 4;
    }
    auto e = TallyError::errorWithString(errorId, message, exceptionString, errorType, Data{});
    errors_.push_back(e);
    TallyUtil::log(2, "TallySession: Error id[" + std::to_string(e->errorID()) + "] updated");
    return 1;
}

int TallyWatchSession::totalEventCount() const {
    int64_t total = int64_t(errors_.size());
    for (auto const& [k, n] : eventCounts_) total += n;
    return TallyUtil::int32FromNSInteger(total);
}

void TallyWatchSession::finishWatchEvent() {
    if (totalEventCount() < watchEventThreshold_)
        saveWatchSessionToDisk();
    else
        endWatchSession();
}

bool TallyWatchSession::hasWatchSessionExpired() const {
    return TallyClock::now().secondsSince1970 - startTime_.secondsSince1970 > watchDurationThreshold_ * 60.0;
}

int64_t TallyWatchSession::sessionLength() const {
    return endTime_ ? P::timeIntervalFrom(startTime_.secondsSince1970, endTime_->secondsSince1970) : -1;
}

// Life cycle and files.

void TallyWatchSession::resetSessionData() {
    endTime_.reset();
    sessionParams_.clear();
    eventCounts_.clear();
    eventLog_.clear();
    errors_.clear();
    eventLogComplete_ = true;
    latitude_ = longitude_ = 0;
    accuracy_ = 0;
    gender_ = -1;
    locale_ = platform::DeviceFacts::preferredLanguage().value_or("en");
    timeZone_ = platform::DeviceFacts::timeZoneName().value_or("UTC");
    getSessionParametersAtPhase(0);
}

void TallyWatchSession::resetEventLogs() {
    sessionParams_.clear();
    eventCounts_.clear();
    eventLog_.clear();
    errors_.clear();
    eventLogComplete_ = true;
    totalErrorCount_ = 0;
    getSessionParametersAtPhase(0);
}

void TallyWatchSession::finishSession() {
    endTime_ = TallyClock::now();
    TallyUtil::log(2, "TallySession: Finish session with endTime[" + Value(*endTime_).describe() + "]");
    getSessionParametersAtPhase(1);
}

void TallyWatchSession::endWatchSession() {
    finishSession();
    sendSessionsToServer();
    clearWatchSessionOnDisk();
    {
        std::lock_guard lock(classLock);
        if (current().get() == this) current().reset();
    }
    TallyAutoIncrement::instance()->resetAll();
}

void TallyWatchSession::sendSessionsToServer() {
    try {
        auto sender = TallyDataSender::instance();
        if (!sender) return;
        sender->setDataSenderDelegate(weak_from_this());
        if (auto block = data()) sender->sendSessionsData(*block);
    } catch (...) {
        TallyUtil::handleException(std::current_exception());
    }
}

void TallyWatchSession::saveWatchSessionToDisk() {
    try {
        serializationVersion_ = kSerializationVersion;
        TallyUtil::archiveObject(Value(shared_from_this()), currentWatchSessionFilePath());
        TallyUtil::archiveObject(Value(TallyAutoIncrement::instance()), currentWatchAutoIncrementFilePath());
    } catch (...) {
        TallyUtil::handleException(std::current_exception());
    }
}

void TallyWatchSession::clearWatchSessionOnDisk() {
    truncateFile(currentWatchSessionFilePath());
    truncateFile(currentWatchAutoIncrementFilePath());
}

bool TallyWatchSession::isTallyUserInfo(Value::Dict const& info) const { return hasTallyKeys(info); }

bool TallyWatchSession::didReceiveUserInfo(Value::Dict const& info) {
    if (!isTallyUserInfo(info)) return false;
    std::lock_guard lock(idsLock_);
    watchIDs_ = info;
    saveWatchIDsToDisk();
    return true;
}

std::optional<Value::Dict> TallyWatchSession::watchIDs() const {
    std::lock_guard lock(idsLock_);
    return watchIDs_;
}

// Both with idsLock_ held.
void TallyWatchSession::saveWatchIDsToDisk() {
    if (watchIDs_) TallyUtil::archiveObject(Value(*watchIDs_), currentWatchIDsFilePath());
}

void TallyWatchSession::loadWatchIDsFromDisk() {
    if (auto v = TallyUtil::safeUnarchiveObjectWithFile(currentWatchIDsFilePath()); v && v->dict()) watchIDs_ = *v->dict();
}

void TallyWatchSession::disableWatchConnectivity() {
    if (auto c = TallyWatchConnectivity::defaultConnectivty()) c->disableWatchConnectivity();
}

void TallyWatchSession::getSessionParametersAtPhase(int phase) {
    auto u64 = [](uint64_t v) { return Value(std::to_string(v)); };
    uint64_t const wired = wiredMemoryBytes(), active = activeMemoryBytes(), inactive = inactiveMemoryBytes();
    sessionParams_["memory.total"] = u64(wired + active + inactive + freeMemoryBytes());
    if (phase == 0 || phase == 1) {
        std::string const end = phase == 0 ? ".start" : ".end";
        sessionParams_["memory.used.wired" + end] = u64(wired);
        sessionParams_["memory.used.active" + end] = u64(active);
        sessionParams_["memory.used.inactive" + end] = u64(inactive);
        char buf[64];
        std::snprintf(buf, sizeof buf, "%f", double(cpuUsagePercent()));
        sessionParams_["cpu.load" + end] = Value(std::string(buf));
        sessionParams_["battery.charging" + end] = Value("0");
    }
    sessionParams_["boot.time"] = Value(std::to_string(TallyUtil::lastBootTime()));
    uint64_t const size = TallyUtil::getDiskSize(), free = TallyUtil::getFreeDiskspace();
    sessionParams_["disk.size.total"] = u64(size);
    sessionParams_["disk.size.used"] = u64(size >= free ? size - free : 0);
}

platform::Date TallyWatchSession::initialTimestamp() {
    // The same keychain items and legacy file as the phone session.
    return TallySession::initialTimestampFor(apiKey_, startTime_);
}

// Report.

std::optional<Data> TallyWatchSession::data() {
    Data d;
    P::appendUshort(uint16_t(serializationVersion_), d);
    P::appendString(appVersion_.value_or(""), d);
    P::appendTimestamp(startTime_.secondsSince1970, d);
    P::appendLong(sessionLength(), d);
    P::appendLong(0, d);
    P::appendBoolean(false, d);
    P::appendByte(0, d);
    P::appendBoolean(false, d);
    P::appendBoolean(false, d);
    P::appendUshort(0, d);
    sessionParams_["device.locale"] = Value(locale_);
    sessionParams_["default.timezone"] = Value(timeZone_);
    P::appendUshort(uint16_t(std::min<size_t>(sessionParams_.size(), 65535)), d);
    for (auto const& [k, v] : sessionParams_) {
        std::string const value = v.string() ? *v.string() : TallyEvent::descriptionOf(v);
        P::appendString(k, d);
        P::appendString(value, d);
        P::appendByte(int8_t(TallySession::updateIfTrackedAndChangedPropertyValue(value, k)), d);
    }
    P::appendString(locale_, d);
    P::appendString(timeZone_, d);
    P::appendByte(int8_t(TallyNetworkUtil::networkStatus()), d);
    P::appendByte(1, d);
    P::appendString(userID(), d);
    P::appendBoolean(true, d);
    P::appendDouble(latitude_, d);
    P::appendDouble(longitude_, d);
    P::appendFloat(accuracy_, d);
    P::appendInt(0, d);
    P::appendByte(0, d);
    P::appendByte(0, d);
    P::appendByte(int8_t(gender_), d);
    P::appendBoolean(false, d);
    P::appendUshort(uint16_t(eventCounts_.size()), d);
    for (auto const& [name, n] : eventCounts_) {
        P::appendString(name, d);
        P::appendInt(n, d);
    }
    P::appendUshort(uint16_t(eventLog_.size()), d);
    for (auto const& e : eventLog_) {
        Data const bytes = e->dataRelativeToSessionStart(startTime_);
        d.insert(d.end(), bytes.begin(), bytes.end());
    }
    P::appendBoolean(eventLogComplete_, d);
    P::appendInt(0, d);
    P::appendUshort(0, d);  // errors are counted, not written
    P::appendInt(0, d);
    for (int i = 0; i < 3; ++i) P::appendUshort(0, d);
    return d;
}

std::optional<Data> TallyWatchSession::dataForSessions(std::vector<Data> const& blocks) {
    std::optional<Value::Dict> ids;
    {
        std::lock_guard lock(idsLock_);
        if (!watchIDs_) loadWatchIDsFromDisk();
        ids = watchIDs_;
    }
    auto idOf = [&](char const* key) -> std::optional<std::string> {
        if (!ids) return std::nullopt;
        auto it = ids->find(key);
        return it != ids->end() && it->second.string() ? std::optional(*it->second.string()) : std::nullopt;
    };
    std::optional<std::string> const advertising = TallyUtil::getTallyId();
    std::optional<std::string> vendor = TallyUtil::getIdentifierForVendor();
    if (!vendor) vendor = idOf("tally://id1");
    std::optional<std::string> const install = idOf("tally://id2");
    if (!advertising && !vendor) {
        TallyUtil::log(2, "-[TallyWatchSession appendReportedIDsToData:], no IDs present, unable to send session report");
        return std::nullopt;
    }
    Data d;
    for (uint16_t w : {31, 4, 1}) P::appendUshort(w, d);
    P::appendLong(0, d);
    P::appendUshort(0, d);
    P::appendUshort(2, d);
    P::appendUshort(189, d);
    P::appendTimestamp(platform::Date::now().secondsSince1970, d);
    P::appendString(apiKey_, d);
    P::appendString(appVersion_.value_or(""), d);
    P::appendByte(2, d);
    P::appendUshort(uint16_t(int(advertising.has_value()) + int(vendor.has_value()) + int(install.has_value())), d);
    if (advertising) P::appendUshort(7, d), P::appendString(*advertising, d);
    if (vendor) P::appendUshort(6, d), P::appendString(*vendor, d);
    if (install) {
        std::string hex;
        for (char c : *install)
            if (c != '-') hex += c;
        P::appendUshort(15, d);
        P::appendShortData(TallyUtil::dataFromHexString(hex), d);
    }
    P::appendByte(0, d);
    auto sender = TallyDataSender::instance();
    P::appendBoolean(sender && sender->everSentReportSuccessfully(), d);
    P::appendBoolean(TallyUtil::isAdTrackingEnabled(), d);
    P::appendTimestamp(initialTimestamp().secondsSince1970, d);
    P::appendTimestamp(startTime_.secondsSince1970, d);
    TallyRect const screen = TallyUtil::deviceScreenBounds();
    std::map<std::string, std::string> const device = {
        {"device.os.version", platform::DeviceFacts::systemVersion()},
        {"device.model.1", TallyUtil::devicePlatform()},
        {"device.arch", platform::DeviceFacts::machine()},
        {"scr.width", std::to_string(int64_t(screen.width))},
        {"scr.height", std::to_string(int64_t(screen.height))}};
    P::appendUshort(5, d);
    for (auto const& [k, v] : device) {
        P::appendString(k, d);
        P::appendString(v, d);
        P::appendByte(int8_t(TallySession::updateIfTrackedAndChangedPropertyValue(v, k)), d);
    }
    P::appendUshort(0, d);
    P::appendBoolean(false, d);
    P::appendUshort(0, d);
    P::appendUshort(0, d);
    P::appendString(bundleString(platform::DeviceFacts::bundleInfo(), "CFBundleIdentifier").value_or(""), d);
    uint16_t const count = uint16_t(std::min<size_t>(blocks.size(), 65535));
    P::appendUshort(count, d);
    for (size_t i = 0; i < count; ++i) d.insert(d.end(), blocks[i].begin(), blocks[i].end());
    Value::Dict cookies;
    TallyGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentCookiesMapSync(
        [&](Value::Dict const& map) { cookies = map; });
    Data cookieBytes;
    uint16_t written = 0;
    for (auto const& [k, v] : cookies) {
        if (!v.data() || k.size() > 65535 || v.data()->size() > 65535 || written == 65535) continue;
        P::appendShortData(Data(k.begin(), k.end()), cookieBytes);
        P::appendShortData(*v.data(), cookieBytes);
        ++written;
    }
    P::appendUshort(written, d);
    d.insert(d.end(), cookieBytes.begin(), cookieBytes.end());
    P::appendInt(TallyUtil::dataChecksum(d), d);
    return d;
}

std::optional<Data> TallyWatchSession::dataForSending(std::vector<Data> const& datas) {
    auto body = dataForSessions(datas);
    if (!body) TallyUtil::log(2, "-[TallyWatchSession dataForSending:]: Unable to create session date from sessions array");
    return body;
}
