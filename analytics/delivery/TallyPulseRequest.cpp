#include "analytics/delivery/TallyPulseRequest.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "analytics/delivery/TallyPulseResponse.h"
#include "analytics/delivery/TallyPulseSessionSeam.h"
#include "platform/base/DeviceFacts.h"

using platform::Value;

#define TALLY_PULSE_NS "\"namespace\":\"com.tally.pulse\""
#define TALLY_IOS_TAGS "{\"type\":\"record\",\"name\":\"IosTags\"," TALLY_PULSE_NS ",\"fields\":[{\"name\":\"hw_machine\",\"type\":\"string\"}]}"
#define TALLY_GEO                                                                                              \
    "{\"type\":\"record\",\"name\":\"Geolocation\"," TALLY_PULSE_NS ",\"fields\":[{\"name\":\"latitude\",\"type\":\"double\"}," \
    "{\"name\":\"longitude\",\"type\":\"double\"},{\"name\":\"accuracy\",\"type\":\"float\"}]}"
#define TALLY_DEVICE_ID                                                                                     \
    "{\"type\":\"record\",\"name\":\"DeviceID\"," TALLY_PULSE_NS ",\"fields\":[{\"name\":\"type\",\"type\":\"int\"}," \
    "{\"name\":\"id\",\"type\":\"bytes\"}]}"

char const* const TallyPulseRequest::kRequestSchemaText =
    "{\"type\":\"record\",\"name\":\"ConfigRequest\"," TALLY_PULSE_NS ",\"fields\":["
    "{\"name\":\"project_key\",\"type\":\"string\"},"
    "{\"name\":\"bundle_id\",\"type\":\"string\"},"
    "{\"name\":\"app_version\",\"type\":\"string\"},"
    "{\"name\":\"sdk_version\",\"type\":\"int\"},"
    "{\"name\":\"platform\",\"type\":\"int\"},"
    "{\"name\":\"platform_version\",\"type\":\"string\"},"
    "{\"name\":\"limit_ad_tracking\",\"type\":\"boolean\",\"default\":false},"
    "{\"name\":\"device_tags\",\"type\":[" TALLY_IOS_TAGS ",{\"type\":\"record\",\"name\":\"AndroidTags\",\"fields\":["
    "{\"name\":\"model\",\"type\":\"string\"},{\"name\":\"brand\",\"type\":\"string\"},{\"name\":\"id\",\"type\":\"string\"},"
    "{\"name\":\"device\",\"type\":\"string\"},{\"name\":\"product\",\"type\":\"string\"},"
    "{\"name\":\"version_release\",\"type\":\"string\"}]}]},"
    "{\"name\":\"device_ids\",\"type\":{\"type\":\"array\",\"items\":" TALLY_DEVICE_ID "}},"
    "{\"name\":\"geo\",\"type\":[\"null\"," TALLY_GEO "]},"
    "{\"name\":\"publisher_user_id\",\"type\":[\"null\",\"string\"],\"default\":null}]}";

namespace {

char const* const kIosTagsText = TALLY_IOS_TAGS;
char const* const kGeoText = TALLY_GEO;
char const* const kDeviceIdText = TALLY_DEVICE_ID;

std::string avroError() { return avro_strerror(); }

void logLine(std::string const& line) { TallyUtil::log(2, line); }

bool parse(char const* text, avro_schema_t* out) {
    std::string const s = text;
    if (avro_schema_from_json_length(s.data(), s.size(), out) == 0) return true;
    *out = nullptr;
    return false;
}

bool setString(avro_value_t* record, char const* name, std::string const& text) {
    avro_value_t f;
    return avro_value_get_by_name(record, name, &f, nullptr) == 0 && avro_value_set_string_len(&f, text.c_str(), text.size() + 1) == 0;
}

bool setInt(avro_value_t* record, char const* name, int32_t v) {
    avro_value_t f;
    return avro_value_get_by_name(record, name, &f, nullptr) == 0 && avro_value_set_int(&f, v) == 0;
}

bool appendDeviceId(avro_value_t* ids, int32_t type, std::string const& id) {
    avro_value_t element, f;
    size_t index = 0;
    if (avro_value_append(ids, &element, &index) != 0) return false;
    if (avro_value_get_by_name(&element, "type", &f, nullptr) != 0 || avro_value_set_int(&f, type) != 0) return false;
    if (avro_value_get_by_name(&element, "id", &f, nullptr) != 0) return false;
    return avro_value_set_bytes(&f, const_cast<char*>(id.data()), id.size()) == 0;
}

}  // namespace

std::shared_ptr<TallyPulseRequest> TallyPulseRequest::sharedInstance() {
    // Never destroyed: a reply arriving at exit must not find it gone.
    static auto* instance = new std::shared_ptr<TallyPulseRequest>(std::make_shared<TallyPulseRequest>());
    return *instance;
}

platform::WorkQueue& TallyPulseRequest::appInstallQueue() {
    static auto* queue = new platform::WorkQueue("com.Tally.pulseAppInstall", platform::WorkQueue::Kind::Concurrent);
    return *queue;
}

platform::WorkQueue& TallyPulseRequest::accessQueue() {
    static auto* queue = new platform::WorkQueue("com.Tally.TallyPulseRequest");
    return *queue;
}

void TallyPulseRequest::synchronizedPulseAccessWithCallback_async(std::function<void(TallyPulseRequest&)> block) {
    if (!block) return;
    accessQueue().async([block = std::move(block)] { TallyUtil::guarded([&] { block(*sharedInstance()); }); });
}

void TallyPulseRequest::synchronizedPulseAccessWithCallback_sync(std::function<void(TallyPulseRequest&)> const& block) {
    if (!block) return;
    accessQueue().sync([&] { TallyUtil::guarded([&] { block(*sharedInstance()); }); });
}

TallyPulseRequest::~TallyPulseRequest() { cleanUp(); }

void TallyPulseRequest::initSchema() {
    if (pulseRequestSchema_) return;
    if (!parse(kRequestSchemaText, &pulseRequestSchema_)) return logLine("Unable to parse pulse request schema");
    if (!parse(kIosTagsText, &iosTagsSchema_)) return logLine("Unable to parse ios tags schema");
    if (!parse(kGeoText, &geoLocationSchema_)) return logLine("Unable to parse geo location schema");
    if (!parse(kDeviceIdText, &deviceIdTypeSchema_)) return logLine("Unable to parse device id type schema");
    logLine("Successfully parsed pulse request schema");
}

void TallyPulseRequest::releaseRequest() {
    if (hasRequest_) avro_value_decref(&pulseRequest_);
    hasRequest_ = false;
}

bool TallyPulseRequest::buildObjectWithParams(Value::Dict const*) {
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    if (storage->pulseRequestPending()) return false;
    initSchema();
    if (!pulseRequestSchema_ || !iosTagsSchema_ || !geoLocationSchema_ || !deviceIdTypeSchema_) {
        logLine("Unable to create pulse Request datum structure: " + avroError());
        return false;
    }
    releaseRequest();
    if (!requestClass_) requestClass_ = avro_generic_class_from_schema(pulseRequestSchema_);
    if (!requestClass_ || avro_generic_value_new(requestClass_, &pulseRequest_) != 0) {
        logLine("Unable to create pulse Request datum structure: " + avroError());
        return false;
    }
    hasRequest_ = true;
    avro_value_t* r = &pulseRequest_;
    auto const bundle = platform::DeviceFacts::bundleInfo();
    auto const bundleId = bundle.find("CFBundleIdentifier");
    std::string const appVersion = storage->appVersion().value_or("");
    bool ok = setString(r, "project_key", storage->apiKey().value_or("")) &&
              setString(r, "bundle_id", bundleId != bundle.end() && bundleId->second.string() ? *bundleId->second.string() : "") &&
              setString(r, "app_version", appVersion) &&
              setInt(r, "sdk_version", int32_t(std::atoi(TallySessionInfo::agentVersion().c_str()))) &&
              setInt(r, "platform", TallyUtil::isIPad() ? 8 : 2) &&
              setString(r, "platform_version", platform::DeviceFacts::systemVersion());
    avro_value_t f, b;
    ok = ok && avro_value_get_by_name(r, "limit_ad_tracking", &f, nullptr) == 0 &&
         avro_value_set_boolean(&f, !TallyUtil::isAdTrackingEnabled()) == 0;
    if (!ok) {
        logLine("Unable to create pulse Request datum structure: " + avroError());
        return false;
    }
    if (avro_value_get_by_name(r, "device_tags", &f, nullptr) != 0 || avro_value_set_branch(&f, 0, &b) != 0 ||
        !setString(&b, "hw_machine", TallyUtil::devicePlatform())) {
        logLine("Unable to create Ios Tags datum structure: " + avroError());
        return false;
    }
    avro_value_t ids;
    if (avro_value_get_by_name(r, "device_ids", &ids, nullptr) != 0) {
        logLine("Unable to create pulse Request datum structure: " + avroError());
        return false;
    }
    if (auto idfa = TallyUtil::getTallyId()) {
        if (!appendDeviceId(&ids, 7, *idfa)) {
            logLine("Unable to create IDFA Device id datum structure: " + avroError());
            return false;
        }
    }
    auto idfv = TallyUtil::getIdentifierForVendor();
    if (!idfv) {
        logLine("IDFV is nil " + avroError());
        return false;
    }
    if (!appendDeviceId(&ids, 6, *idfv)) {
        logLine("Unable to create IDFV Device id datum structure: " + avroError());
        return false;
    }
    auto const location = storage->location().value_or(TallyLocation{});
    avro_value_t geo, lat, lon, acc;
    if (avro_value_get_by_name(r, "geo", &f, nullptr) != 0 || avro_value_set_branch(&f, 1, &geo) != 0 ||
        avro_value_get_by_name(&geo, "latitude", &lat, nullptr) != 0 || avro_value_set_double(&lat, location.latitude) != 0 ||
        avro_value_get_by_name(&geo, "longitude", &lon, nullptr) != 0 || avro_value_set_double(&lon, location.longitude) != 0 ||
        avro_value_get_by_name(&geo, "accuracy", &acc, nullptr) != 0 ||
        avro_value_set_float(&acc, float(location.horizontalAccuracy)) != 0) {
        logLine("Unable to create Geo datum structure: " + avroError());
        return false;
    }
    auto const user = storage->userID();
    if (avro_value_get_by_name(r, "publisher_user_id", &f, nullptr) != 0 ||
        avro_value_set_branch(&f, user ? 1 : 0, &b) != 0 ||
        (user ? avro_value_set_string_len(&b, user->c_str(), user->size() + 1) : avro_value_set_null(&b)) != 0) {
        logLine("Unable to create pulse Request datum structure: " + avroError());
        return false;
    }
    logLine("Successfully created pulse request.");
    return true;
}

platform::Data TallyPulseRequest::encodedRequest() {
    if (!hasRequest_) return {};
    char* json = nullptr;
    if (avro_value_to_json(&pulseRequest_, 1, &json) != 0 || !json) {
        logLine(std::string("Unable to get JSON from pulse request, error ") + avroError());
        return {};
    }
    size_t const size = std::string_view(json).size();
    std::free(json);
    logLine("Sending pulse Request of size " + std::to_string(size) + "....");
    // The JSON text carries every field name, so it bounds the binary form.
    platform::Data body(std::max<size_t>(size, 1));
    avro_writer_t writer = avro_writer_memory(reinterpret_cast<char*>(body.data()), int64_t(body.size()));
    if (!writer) return {};
    int const rc = avro_value_write(writer, &pulseRequest_);
    int64_t const written = avro_writer_tell(writer);
    avro_writer_free(writer);
    if (rc != 0) {
        logLine(std::string("Unable to validate= ") + avroError() + "\n");
        return {};
    }
    body.resize(size_t(written));
    return body;
}

void TallyPulseRequest::sendPulseRequestWithParams(std::optional<Value::Dict> params) {
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    if (storage->pulseRequestPending()) return;
    storage->setPulseRequestPending(true);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        params_ = params;
    }
    logLine("Sending pulse Request....");
    platform::Data body = encodedRequest();
    releaseRequest();
    if (body.empty()) {
        storage->setPulseRequestPending(false);
        return;
    }
    char checksum[16];
    std::snprintf(checksum, sizeof checksum, "%d", TallyUtil::dataChecksum(body));
    ITallyHttpAsyncTask::HeaderFields const headers = {
        {"content-type", kContentType}, {"accept", kAccept}, {"fm-checksum", checksum}};
    auto task = TallyHttpAsyncTask::taskClass().sendMethod("POST", TallyNetworkUtil::pulseServerUrl(), std::move(body),
                                                           headers, shared_from_this(), false);
    if (!task) {
        // Nothing will answer, so nothing would clear the flag.
        storage->setPulseRequestPending(false);
        return;
    }
    task->setTag("pulseRequest");
    task->setReplyLimits({TallyPulseResponse::kMaxBodySize, false, kDeadlineSeconds});
    if (params) task->setTaskParams({{"params", Value(*params)}});
    {
        std::lock_guard<std::mutex> lock(mutex_);
        runningTasks_.push_back(task);
    }
    // Requests start on the SDK loop, whose thread lives as long as the process.
    platform::SdkLoop::shared().post([task] { task->startInRunLoop(platform::SdkLoop::shared()); });
}

void TallyPulseRequest::cleanUp() {
    releaseRequest();
    if (requestClass_) avro_value_iface_decref(requestClass_);
    requestClass_ = nullptr;
    for (avro_schema_t* s : {&pulseRequestSchema_, &iosTagsSchema_, &geoLocationSchema_, &deviceIdTypeSchema_}) {
        if (*s) avro_schema_decref(*s);
        *s = nullptr;
    }
    std::vector<std::shared_ptr<ITallyHttpAsyncTask>> tasks;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        tasks = runningTasks_;
    }
    for (auto const& t : tasks) t->cancelTask();
}

void TallyPulseRequest::unregisterTask(std::shared_ptr<ITallyHttpAsyncTask> const& task) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = std::find(runningTasks_.begin(), runningTasks_.end(), task);
    if (it != runningTasks_.end()) runningTasks_.erase(it);
}

void TallyPulseRequest::restoreParams(std::shared_ptr<ITallyHttpAsyncTask> const& task) {
    auto const p = task ? task->taskParams() : Value::Dict{};
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = p.find("params");
    params_ = it != p.end() && it->second.dict() ? std::optional<Value::Dict>(*it->second.dict()) : std::nullopt;
}

std::optional<Value::Dict> TallyPulseRequest::params() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return params_;
}

size_t TallyPulseRequest::runningTaskCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return runningTasks_.size();
}

void TallyPulseRequest::requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                       std::shared_ptr<TallyHTTPResponse> const& response) {
    TallyUtil::guarded([&] {
        std::string const error = response && response->error() ? response->error()->description() : "(null)";
        logLine("pulseRequest: Could not connect to server: " + error);
        TallyGlobalVariableStorage::sharedInstance()->setPulseRequestPending(false);
        restoreParams(task);
        unregisterTask(task);
    });
}

void TallyPulseRequest::requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                         std::shared_ptr<TallyHTTPResponse> const&) {
    TallyUtil::guarded([&] {
        TallyGlobalVariableStorage::sharedInstance()->setPulseRequestPending(false);
        unregisterTask(task);
        logLine("pulseRequst: Request was cancelled");
    });
}

void TallyPulseRequest::requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                          std::shared_ptr<TallyHTTPResponse> const& response) {
    TallyUtil::guarded([&] {
        auto storage = TallyGlobalVariableStorage::sharedInstance();
        storage->setPulseRequestPending(false);
        unregisterTask(task);
        restoreParams(task);
        if (!response || !response->isSuccess()) {
            logLine("pulseRequst: bad response from server");
            return;
        }
        if (response->body().empty()) return;
        logLine("This is a pulse response of len " + std::to_string(response->body().size()));
        TallyPulseResponse decoder;
        auto settings = decoder.parsePulseResponse(response->body());
        if (settings)
            TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentGlobalsMap(
                [settings](Value::Dict& map) { map["pulseSettings"] = Value(settings); });
        if (!storage->appInstallProcessDone()) {
            auto const seam = TallyPulseSessionSeam::current();
            auto const start = seam.currentSessionStartTime ? seam.currentSessionStartTime() : std::nullopt;
            auto const end = seam.currentSessionEndTime ? seam.currentSessionEndTime() : std::nullopt;
            Value::Dict params;
            if (start) {
                params["sessionStartTimeForPulse"] = Value(*start);
                params["sessionEndTimeForPulse"] = Value(end.value_or(*start));
            }
            appInstallQueue().async([params] {
                TallyUtil::guarded([&] {
                    if (auto controller = TallyPulseEventController::sharedInstance())
                        controller->processEvent(TallyPulseEventController::pulseEventEnumToString(3), params);
                });
            });
            storage->setAppInstallProcessDone(true);
        }
    });
}
