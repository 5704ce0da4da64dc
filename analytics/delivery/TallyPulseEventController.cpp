#include "analytics/delivery/TallyPulseEventController.h"

#include <curl/curl.h>

#include <cmath>
#include <cstdio>
#include <mutex>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyPulseClock.h"
#include "analytics/delivery/TallyPulseCallbackReportManager.h"
#include "analytics/delivery/TallyPulseRequest.h"
#include "analytics/delivery/TallyPulseTriggerInvokeInfo.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"

using platform::Value;
using Attempt = std::shared_ptr<TallyPulseCallbackAttemptInfo>;

namespace {

std::mutex instanceMutex;
bool cleanedUp = false;
std::shared_ptr<TallyPulseEventController>& slot() {
    // Never destroyed: work still queued at exit must not find it gone.
    static auto* instance = new std::shared_ptr<TallyPulseEventController>();
    return *instance;
}

std::shared_ptr<TallyGlobalPersistentManager> maps() { return TallyGlobalPersistentManager::sharedInstance(); }

std::string lld(int64_t v) { return std::to_string(v); }

double nowSeconds() { return TallyPulseClock::now(); }

int64_t millis(double seconds) { return Value(seconds * 1000.0).toInt64().value_or(0); }

// JSON string content: quotes, backslashes and control characters escaped.
std::string jsonEscaped(std::string const& s) {
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char buf[8];
                    std::snprintf(buf, sizeof buf, "\\u%04x", c);
                    out += buf;
                } else {
                    out += char(c);
                }
        }
    }
    return out;
}

std::string lowered(std::string s) {
    for (auto& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The values as they go into one kind of template.
Value::Dict encodedValues(Value::Dict const& values, std::string (*encode)(std::string const&)) {
    Value::Dict out;
    for (auto const& [k, v] : values) out[k] = Value(encode(v.string() ? *v.string() : std::string()));
    return out;
}

std::string urlComponent(std::string const& s) { return TallyUtil::encodeToPercentEscapeString(s); }
std::string asIs(std::string const& s) { return s; }

std::string bodyEncodingFor(std::optional<std::map<std::string, std::string>> const& headers) {
    if (!headers) return {};
    for (auto const& [k, v] : *headers)
        if (lowered(k) == "content-type") return lowered(v);
    return {};
}

bool urlParses(std::string const& url) {
    CURLU* u = curl_url();
    if (!u) return false;
    bool const ok = curl_url_set(u, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK;
    curl_url_cleanup(u);
    return ok;
}

// Whether a stored attempt's validity has run out (or it never had one).
bool expired(TallyPulseCallbackAttemptInfo const& attempt, int64_t nowSeconds) {
    auto const expiration = attempt.expiration();
    int64_t const until = expiration ? int64_t(expiration->secondsSince1970) : 0;
    return until < 1 || until <= nowSeconds;
}

// Ends every retry still waiting to fire the attempt stored under this key.
void endRetries(std::string const& hash) { TallyGlobalVariableStorage::sharedInstance()->removePendingUrlTimers(hash); }

platform::Data cut(platform::Data body, size_t max) {
    if (body.size() > max) body.resize(max);
    return body;
}

}  // namespace

std::shared_ptr<TallyPulseEventController> TallyPulseEventController::sharedInstance() {
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (cleanedUp) return nullptr;
    if (!slot()) {
        slot() = std::make_shared<TallyPulseEventController>();
        slot()->registerForNotifications();
    }
    return slot();
}

void TallyPulseEventController::cleanup() {
    TallyPulseRequest::synchronizedPulseAccessWithCallback_sync([](TallyPulseRequest& r) { r.cleanUp(); });
    std::shared_ptr<TallyPulseEventController> old;
    {
        std::lock_guard<std::mutex> lock(instanceMutex);
        cleanedUp = true;
        old = std::move(slot());
    }
}

void TallyPulseEventController::resetForTesting() {
    std::shared_ptr<TallyPulseEventController> old;
    {
        std::lock_guard<std::mutex> lock(instanceMutex);
        cleanedUp = false;
        old = std::move(slot());
    }
    if (old) old->queue().waitUntilIdle();
}

std::array<char const*, 4> const& TallyPulseEventController::pulseEventArrayInstance() {
    static std::array<char const*, 4> const names = {"unknown", "tally.session_start", "tally.session_end", "tally.app_install"};
    return names;
}

std::string TallyPulseEventController::pulseEventEnumToString(int32_t code) {
    auto const& names = pulseEventArrayInstance();
    return code >= 0 && code < int32_t(names.size()) ? names[size_t(code)] : names[0];
}

int32_t TallyPulseEventController::pulseEventStringToEnum(std::optional<std::string> const& name) {
    if (!name) return 0;
    auto const& names = pulseEventArrayInstance();
    for (size_t i = 0; i < names.size(); ++i)
        if (*name == names[i]) return int32_t(i);
    return 0;
}

TallyPulseEventController::TallyPulseEventController()
    : queue_(std::make_unique<platform::WorkQueue>("com.Tally.PulseEventController")) {}

TallyPulseEventController::~TallyPulseEventController() { platform::NotificationCenter::shared().removeObserver(this); }

void TallyPulseEventController::registerForNotifications() {
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    auto& center = platform::NotificationCenter::shared();
    center.addObserver(this, kWillResignActiveNotification, [weak](platform::Notification const& n) {
        if (auto self = weak.lock()) TallyUtil::guarded([&] { self->appWillBackground(n); });
    });
    center.addObserver(this, kDidBecomeActiveNotification, [weak](platform::Notification const& n) {
        if (auto self = weak.lock()) TallyUtil::guarded([&] { self->appWillResume(n); });
    });
    center.addObserver(this, TallyNetworkUtil::kStatusChangedNotification, [weak](platform::Notification const& n) {
        if (auto self = weak.lock()) TallyUtil::guarded([&] { self->networkStatusChanged(n); });
    });
}

std::shared_ptr<TallyPulseSettings> TallyPulseEventController::currentSettings() {
    std::shared_ptr<TallyPulseSettings> settings;
    maps()->processReadOperationForPersistentGlobalsMapSync([&](Value::Dict const& map) {
        auto it = map.find("pulseSettings");
        if (it != map.end()) settings = it->second.objectAs<TallyPulseSettings>();
    });
    return settings;
}

void TallyPulseEventController::updatePulseForAdTracking() {
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    bool const now = TallyUtil::isAdTrackingEnabled();
    if (storage->lastAdTrackingEnabledSetting() == now) return;
    storage->setLastAdTrackingEnabledSetting(now);
    maps()->processWriteOperationForPersistentGlobalsMap([](Value::Dict& map) { map.erase("pulseSettings"); });
    makePulseRequest();
}

void TallyPulseEventController::makePulseRequest() {
    TallyPulseRequest::synchronizedPulseAccessWithCallback_async([](TallyPulseRequest& request) {
        if (request.buildObjectWithParams(nullptr)) request.sendPulseRequestWithParams(std::nullopt);
    });
}

Value::Dict TallyPulseEventController::substituteParamsInDictionary(Value::Dict const& dict, Value::Dict const& values,
                                                                    std::string const& pattern) {
    Value::Dict out = dict;
    for (auto& [k, v] : out) {
        if (auto const* s = v.string()) {
            std::string text = *s;
            TallyUtil::substituteParamsInString(&text, values, pattern);
            v = Value(text);
        } else if (auto const* d = v.dict()) {
            v = Value(substituteParamsInDictionary(*d, values, pattern));
        } else if (auto const* a = v.array()) {
            Value::Array list;
            for (auto const& e : *a) list.push_back(e.dict() ? Value(substituteParamsInDictionary(*e.dict(), values, pattern)) : e);
            v = Value(std::move(list));
        }
    }
    return out;
}

void TallyPulseEventController::processEvent(std::string const& eventName, Value::Dict const& params) {
    auto const startValue = params.find("sessionStartTimeForPulse");
    auto const endValue = params.find("sessionEndTimeForPulse");
    std::optional<platform::Date> const start = startValue != params.end() ? startValue->second.date() : std::nullopt;
    std::optional<platform::Date> const end = endValue != params.end() ? endValue->second.date() : std::nullopt;
    updatePulseForAdTracking();
    auto settings = currentSettings();
    if (!settings || !settings->analyticsEnabled()) return;
    auto ids = settings->callbackIdsForEvent(eventName, params);
    if (!ids) return;

    int32_t type = TallyPulseTriggerInvokeInfo::kOtherEvent;
    auto const logId = params.find("eventLogId");
    if (eventName == "tally.session_start") type = TallyPulseTriggerInvokeInfo::kSessionStart;
    else if (eventName == "tally.session_end") type = TallyPulseTriggerInvokeInfo::kSessionEnd;
    else if (eventName == "tally.app_install") type = TallyPulseTriggerInvokeInfo::kAppInstall;
    else if (logId != params.end()) {
        if (ids->empty()) return;
        type = TallyPulseTriggerInvokeInfo::kLoggedEvent;
    }

    double const startSeconds = start ? start->secondsSince1970 : 0;
    double const endSeconds = end ? end->secondsSince1970 : startSeconds;
    double const now = nowSeconds();
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    Value::Dict values;
    std::string const duration = lld(millis(endSeconds - startSeconds));
    values["%{session_duration_millis}"] = duration;
    values["%{event_time_millis}"] = lld(millis(now));
    values["%{event_name}"] = eventName;
    if (auto location = storage->location()) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%f", location->longitude);
        values["%{geo_longitude}"] = std::string(buf);
        std::snprintf(buf, sizeof buf, "%f", location->latitude);
        values["%{geo_latitude}"] = std::string(buf);
    }
    values["%{fg_timespent_millis}"] = duration;
    values["%{timestamp_epoch_millis}"] = lld(millis(startSeconds));
    values["%{publisher_user_id}"] = storage->userID().value_or("");

    auto manager = TallyPulseCallbackReportManager::sharedInstance();
    double const sessionId = startSeconds * 1000.0;
    std::shared_ptr<TallyPulseTriggerInvokeInfo> invoke;
    bool reuse = false;
    if (type == TallyPulseTriggerInvokeInfo::kSessionEnd) {
        for (auto const& t : manager->triggers())
            if (t->eventName == eventName && t->sessionId == sessionId) {
                invoke = t;
                reuse = true;
                break;
            }
    }
    if (!invoke) {
        invoke = std::make_shared<TallyPulseTriggerInvokeInfo>();
        char id[64];
        std::snprintf(id, sizeof id, "%f", now);
        invoke->invokeId = id;
        invoke->triggerType = type;
        invoke->sessionId = sessionId;
        invoke->sessionOffset = millis(now - startSeconds);
        invoke->includesEventTrigger = true;
        invoke->eventOccuranceId = type == TallyPulseTriggerInvokeInfo::kLoggedEvent
                                       ? logId->second.toInt64().value_or(0)
                                       : 1;
        invoke->eventName = eventName;
    }

    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    std::vector<int64_t> const callbackIds = *ids;
    maps()->processWriteOperationForPersistentPulsePrepUrlMap([=](Value::Dict& prep) {
        TallyUtil::guarded([&] {
            std::string const sessionKey = lld(millis(startSeconds));
            Value& sessionEntry = prep[sessionKey];
            if (!sessionEntry.dict()) sessionEntry = Value(Value::Dict{});
            Value::Dict& events = *sessionEntry.dict();
            Value& list = events[eventName];
            if (eventName == "tally.session_end" || !list.array()) list = Value(Value::Array{});
            std::string const pattern = kPattern;
            Value::Dict const urlValues = encodedValues(values, &urlComponent);
            for (int64_t id : callbackIds) {
                if (!settings->callbacks) break;
                auto it = settings->callbacks->find(id);
                if (it == settings->callbacks->end() || !it->second) continue;  // no template: nothing to send
                auto const& cb = *it->second;
                std::string url = cb.uriTemplate.value_or("");
                TallyUtil::substituteParamsInString(&url, urlValues, pattern);
                // Escaped before its first hash, so a retry hashes to the same key.
                if (!urlParses(url)) url = TallyUtil::encodeIllegalCharsToPercentEscapeString(url);
                std::optional<std::string> body;
                if (cb.method == 2 && cb.bodyTemplate) {
                    std::string const type = bodyEncodingFor(cb.headers);
                    Value::Dict const bodyValues =
                        type.find("json") != std::string::npos ? encodedValues(values, &jsonEscaped)
                        : type.find("x-www-form-urlencoded") != std::string::npos ? urlValues
                                                                                   : encodedValues(values, &asIs);
                    std::string text = *cb.bodyTemplate;
                    TallyUtil::substituteParamsInString(&text, bodyValues, pattern);
                    body = std::move(text);
                }
                std::shared_ptr<TallyPulseCallbackReportInfo> report;
                if (reuse) {
                    for (auto const& r : invoke->callbacks())
                        if (r->callbackId == id) {
                            report = r;
                            break;
                        }
                } else {
                    report = std::make_shared<TallyPulseCallbackReportInfo>();
                    report->invokeId = invoke->invokeId;
                    report->callbackId = id;
                }
                auto attempt = std::make_shared<TallyPulseCallbackAttemptInfo>();
                attempt->setInvokeId(invoke->invokeId);
                attempt->setCallbackId(id);
                attempt->setCbSessionId(sessionId);
                attempt->setCbSessionOffset(millis(now - startSeconds));
                attempt->setEventOccuranceId(invoke->eventOccuranceId);
                attempt->setSubstitutedUrl(url);
                attempt->setBody(body);
                attempt->setHeaders(cb.headers);
                attempt->setParams(params);
                attempt->setCreationTime(platform::Date{now});
                attempt->setBeingFired(true);
                attempt->setRepeatDuration(kFirstRepeatDuration);
                attempt->setMethod(cb.method);
                list.array()->emplace_back(attempt);
                if (report) {
                    manager->withLock([&] {
                        report->setSubstitutedUrl(url);
                        if (reuse) report->setAttempts({attempt});
                        else report->appendAttempt(attempt);
                    });
                    if (!reuse) invoke->appendCallback(report);
                }
            }
            if (reuse) manager->setSavedTriggers(manager->triggers());
            else manager->addToSavedTriggers(invoke);
            if (auto self = weak.lock()) self->fireAllConfigUrls();
        });
    });
}

void TallyPulseEventController::fireAllConfigUrls() {
    if (TallyUtil::isInBackground()) return;
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    maps()->processWriteOperationForPersistentPulsePrepUrlMap([weak](Value::Dict& prep) {
        auto self = weak.lock();
        if (!self) return;
        std::vector<Attempt> attempts;
        for (auto const& [session, entry] : prep) {
            if (auto const* events = entry.dict())
                for (auto const& [name, list] : *events)
                    if (auto const* a = list.array())
                        for (auto const& v : *a)
                            if (auto attempt = v.objectAs<TallyPulseCallbackAttemptInfo>()) attempts.push_back(attempt);
        }
        prep.clear();
        for (auto const& a : attempts) TallyUtil::guarded([&] { self->asyncInvokeURLWithParams(a); });
    });
}

std::string TallyPulseEventController::invokeUrlHash(TallyPulseCallbackAttemptInfo const& a) {
    return TallyUtil::md5String(a.substitutedUrl() + "_" + a.invokeId() + "_" + std::to_string(a.callbackId()));
}

void TallyPulseEventController::asyncInvokeURLWithParams(Attempt const& attempt) {
    if (!attempt) return;
    std::string const method = TallyPulseCallback::pulseMethodEnumToString(attempt->method());
    ITallyHttpAsyncTask::HeaderFields headers = {{"Content-Type", "application/octet-stream"}};
    if (auto h = attempt->headers()) headers = ITallyHttpAsyncTask::HeaderFields(h->begin(), h->end());
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    maps()->processWriteOperationForPersistentPulseUrlMap([=](Value::Dict& fired) {
        auto self = weak.lock();
        if (!self) return;
        TallyUtil::guarded([&] {
            // The URL was escaped at preparation; one stored before that is escaped here, before
            // it is hashed, so the key never changes afterwards.
            std::string url = attempt->substitutedUrl();
            if (!urlParses(url)) {
                url = TallyUtil::encodeIllegalCharsToPercentEscapeString(url);
                attempt->setSubstitutedUrl(url);
            }
            std::string const hash = invokeUrlHash(*attempt);
            // One fired before goes again only while it is still the attempt stored under its key
            // and no request for it is in flight: a success, an expiry or another firing ended it.
            if (attempt->attemptNumber() > 0) {
                auto it = fired.find(hash);
                if (it == fired.end() || it->second.objectAs<TallyPulseCallbackAttemptInfo>() != attempt ||
                    attempt->beingFired())
                    return;
                if (expired(*attempt, int64_t(nowSeconds()))) {
                    fired.erase(it);
                    endRetries(hash);
                    return;
                }
            }
            endRetries(hash);  // this firing takes the place of any retry set for it
            attempt->setBeingFired(true);
            attempt->setAttemptNumber(attempt->attemptNumber() + 1);
            attempt->setExpiration(platform::Date{nowSeconds() + double(kAttemptValiditySeconds)});
            fired[hash] = Value(attempt);
            platform::Data body;
            if (auto b = attempt->body(); b && method == "POST") body.assign(b->begin(), b->end());
            // Made unstarted: its parameters and redirect limit must be in place before any
            // completion can arrive.
            auto task = TallyHttpAsyncTask::taskClass().sendMethod(method, url, std::move(body), headers, self, false);
            if (!task) {
                fired.erase(hash);
                return;
            }
            task->setTaskParams({{"invokeURLHash", Value(hash)}, {"beingFired", Value(true)}, {"method", Value(method)}});
            int32_t redirects = 0;
            if (auto settings = currentSettings(); settings && settings->callbacks) {
                auto it = settings->callbacks->find(attempt->callbackId());
                if (it != settings->callbacks->end() && it->second) redirects = it->second->maxRedirects;
            }
            task->setRedirectsLimit(redirects);
            // Only the first bytes of a partner's reply are kept, so the rest need not be held.
            task->setReplyLimits({kMaxStoredBodySize, true, kDeadlineSeconds});
            // Requests start on the SDK loop, whose thread lives as long as the process.
            platform::SdkLoop::shared().post([task] { task->startInRunLoop(platform::SdkLoop::shared()); });
        });
    });
}

void TallyPulseEventController::requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                                  std::shared_ptr<TallyHTTPResponse> const& response) {
    TallyUtil::guarded([&] { completed(task, response, TallyPulseCallbackAttemptInfo::kSucceeded); });
}

void TallyPulseEventController::requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                               std::shared_ptr<TallyHTTPResponse> const& response) {
    TallyUtil::guarded([&] { completed(task, response, TallyPulseCallbackAttemptInfo::kFailed); });
}

void TallyPulseEventController::requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                                 std::shared_ptr<TallyHTTPResponse> const& response) {
    TallyUtil::guarded([&] { completed(task, response, TallyPulseCallbackAttemptInfo::kCancelled); });
}

void TallyPulseEventController::completed(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                          std::shared_ptr<TallyHTTPResponse> const& response, int32_t state) {
    if (!task) return;
    Value::Dict const taskParams = task->taskParams();
    auto const hashValue = taskParams.find("invokeURLHash");
    if (hashValue == taskParams.end() || !hashValue->second.string()) return;
    std::string const hash = *hashValue->second.string();
    bool const success = state == TallyPulseCallbackAttemptInfo::kSucceeded;
    int32_t const retries = success ? 0 : [] {
        auto settings = currentSettings();
        return settings ? settings->maxCallbackRetries : 0;
    }();
    int32_t const redirects = task->redirectsCount();
    // A request that ended in a transport error (timed out, connection lost) never got its whole
    // reply: it has no HTTP status or body, whatever status line came before the failure.
    bool const replied = response && !(response->error() && !success);
    int32_t const status = replied ? response->statusCode() : 0;
    std::optional<platform::Data> const body =
        replied && !success ? std::optional(cut(response->body(), kMaxStoredBodySize)) : std::nullopt;
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    auto work = [=](Value::Dict& fired) {
        auto it = fired.find(hash);
        if (it == fired.end()) return;
        auto attempt = it->second.objectAs<TallyPulseCallbackAttemptInfo>();
        if (!attempt) {
            fired.erase(it);
            return;
        }
        attempt->setBeingFired(false);
        attempt->setHttpStatus(status);
        auto const created = attempt->creationTime();
        attempt->setDuration(created ? nowSeconds() - created->secondsSince1970 : 0);
        attempt->setRequestState(state);
        attempt->setRedirectsCount(redirects);
        attempt->setResponseBody(body);
        bool const final = success || attempt->attemptNumber() >= retries;
        attempt->setFinalAttempt(final);
        TallyPulseCallbackReportManager::sharedInstance()->archiveAttempt(attempt->copy());
        if (final) {
            fired.erase(hash);
            endRetries(hash);
        } else if (auto self = weak.lock()) {
            self->manageUrlStorage(taskParams);
        }
    };
    if (success) maps()->processWriteOperationForPersistentPulseUrlMap(work);
    else maps()->processWriteOperationForPersistentPulseUrlMapSync(work);
}

void TallyPulseEventController::manageUrlStorage(Value::Dict const& taskParams) {
    auto const hashValue = taskParams.find("invokeURLHash");
    if (hashValue == taskParams.end() || !hashValue->second.string()) return;
    std::string const hash = *hashValue->second.string();
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    maps()->processWriteOperationForPersistentPulseUrlMap([=](Value::Dict& fired) {
        auto it = fired.find(hash);
        if (it == fired.end()) return;
        auto attempt = it->second.objectAs<TallyPulseCallbackAttemptInfo>();
        if (!attempt || expired(*attempt, int64_t(nowSeconds())) || attempt->repeatDuration() < 1) {
            fired.erase(it);
            endRetries(hash);
            return;
        }
        attempt->setRepeatDuration(int32_t(std::min<int64_t>(int64_t(attempt->repeatDuration()) * 3, INT32_MAX)));
        if (!TallyNetworkUtil::isNetworkReachable()) return;
        if (auto self = weak.lock()) self->setTimerToFireUrlWithInvokeInfo(attempt);
    });
}

void TallyPulseEventController::setTimerToFireUrlWithInvokeInfo(Attempt const& attempt) {
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    std::string const hash = invokeUrlHash(*attempt);
    endRetries(hash);  // one retry at a time
    auto const id = platform::SdkLoop::shared().scheduleTimer(int64_t(attempt->repeatDuration()) * 1000, false, [weak, attempt] {
        if (auto self = weak.lock()) TallyUtil::guarded([&] { self->asyncInvokeURLWithParams(attempt); });
    });
    TallyGlobalVariableStorage::sharedInstance()->addPendingUrlTimer(id, hash);
}

void TallyPulseEventController::firePendingUrls() {
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    maps()->processWriteOperationForPersistentPulseUrlMap([weak](Value::Dict& fired) {
        auto self = weak.lock();
        if (!self) return;
        int64_t const now = int64_t(nowSeconds());
        std::vector<std::string> remove;
        std::vector<Attempt> fire;
        for (auto const& [hash, v] : fired) {
            auto attempt = v.objectAs<TallyPulseCallbackAttemptInfo>();
            if (!attempt || expired(*attempt, now)) remove.push_back(hash);
            else if (!attempt->beingFired()) fire.push_back(attempt);
        }
        for (auto const& a : fire) TallyUtil::guarded([&] { self->asyncInvokeURLWithParams(a); });
        for (auto const& h : remove) {
            fired.erase(h);
            endRetries(h);
        }
    });
}

void TallyPulseEventController::firePendingUrlsOnNetworkAvailability() {
    bool const reachable = TallyNetworkUtil::isNetworkReachable();
    TallyUtil::log(2, std::string("TallySession: networkStatusChanged to ") + (reachable ? "" : "not") + " reachable");
    if (!reachable) return;
    std::weak_ptr<TallyPulseEventController> weak = weak_from_this();
    queue_->async([weak] {
        if (auto self = weak.lock()) TallyUtil::guarded([&] { self->firePendingUrls(); });
    });
}

void TallyPulseEventController::networkStatusChanged(platform::Notification const&) {
    bool const reachable = TallyNetworkUtil::isNetworkReachable();
    TallyUtil::log(2, std::string("TallySession: networkStatusChanged to ") + (reachable ? "" : "not") + " reachable");
    if (!reachable) return;
    if (TallyGlobalVariableStorage::sharedInstance()->pulseMonitoringEnabled()) {
        auto settings = currentSettings();
        int64_t const now = millis(nowSeconds());
        if (settings && settings->expirationTTL <= now) {
            maps()->processWriteOperationForPersistentGlobalsMap([](Value::Dict& map) { map.erase("pulseSettings"); });
            settings.reset();
        }
        if (!settings || settings->nextRefreshTTL <= now || !settings->callbacks) makePulseRequest();
    }
    firePendingUrlsOnNetworkAvailability();
}

void TallyPulseEventController::appWillBackground(platform::Notification const&) {
    TallyUtil::log(2, "TallyPulseEventController: pause session called");
    TallyGlobalVariableStorage::sharedInstance()->removePendingUrlTimers();
}

void TallyPulseEventController::appWillResume(platform::Notification const&) {
    TallyUtil::log(2, "TallyPulseEventController: app resuming");
    firePendingUrlsOnNetworkAvailability();
}
