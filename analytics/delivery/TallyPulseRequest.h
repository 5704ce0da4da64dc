#pragma once
// Asks the configuration service for the remote configuration: one Avro binary ConfigRequest
// describing the app and the device, posted with its signed CRC-32; a good reply is decoded and
// stored under "pulseSettings". At most one request is in flight (the agent-wide pending flag).
#include <avro.h>

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/delivery/ITallyHttpAsyncTask.h"
#include "platform/base/Value.h"
#include "platform/base/WorkQueue.h"

class TallyPulseRequest : public TallyHttpAsyncTaskDelegate, public std::enable_shared_from_this<TallyPulseRequest> {
public:
    static char const* const kRequestSchemaText;
    static constexpr char const* kContentType = "application/vnd.tally.sdk-avrobin;version=2";
    static constexpr char const* kAccept = "application/vnd.tally.sdk-avrobin; version=2";
    // The longest a configuration request may take in all.
    static constexpr double kDeadlineSeconds = 120.0;

    static std::shared_ptr<TallyPulseRequest> sharedInstance();
    static platform::WorkQueue& accessQueue();
    // Where the first good reply raises the install event.
    static platform::WorkQueue& appInstallQueue();
    static void synchronizedPulseAccessWithCallback_async(std::function<void(TallyPulseRequest&)> block);
    static void synchronizedPulseAccessWithCallback_sync(std::function<void(TallyPulseRequest&)> const& block);

    TallyPulseRequest() = default;
    ~TallyPulseRequest() override;

    void initSchema();
    // Builds the request record; false while a request is pending or when a part is missing.
    bool buildObjectWithParams(platform::Value::Dict const* params);
    void sendPulseRequestWithParams(std::optional<platform::Value::Dict> params);
    void cleanUp();
    void unregisterTask(std::shared_ptr<ITallyHttpAsyncTask> const& task);

    // The binary form of the last built record (empty when none or it does not encode).
    platform::Data encodedRequest();

    void requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                           std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                        std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                          std::shared_ptr<TallyHTTPResponse> const& response) override;

    std::optional<platform::Value::Dict> params() const;
    size_t runningTaskCount() const;

private:
    void releaseRequest();
    void restoreParams(std::shared_ptr<ITallyHttpAsyncTask> const& task);

    avro_schema_t pulseRequestSchema_ = nullptr;
    avro_schema_t iosTagsSchema_ = nullptr;
    avro_schema_t geoLocationSchema_ = nullptr;
    avro_schema_t deviceIdTypeSchema_ = nullptr;
    avro_value_iface_t* requestClass_ = nullptr;
    avro_value_t pulseRequest_{};
    bool hasRequest_ = false;

    mutable std::mutex mutex_;  // params and the running tasks: the replies arrive on the HTTP thread
    std::optional<platform::Value::Dict> params_;
    std::vector<std::shared_ptr<ITallyHttpAsyncTask>> runningTasks_;
};
