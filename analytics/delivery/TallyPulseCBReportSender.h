#pragma once
// Sends the callback status reports: each handed-over invocation record is stored as a block
// under a group, the report is posted to the configuration's report URL, and the group's blocks
// are removed once the server answers 2xx. Unsent blocks are regrouped and posted again.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "analytics/delivery/TallyDataSenderBase.h"
#include "analytics/delivery/TallyDataSenderIndex.h"

class TallyHTTPResponse;

class TallyPulseCBReportSender : public TallyDataSenderBase, public TallyHttpAsyncTaskDelegate {
public:
    static constexpr char const* kIndexFileName = "TallyCBReportSenderIndex.info";
    static constexpr size_t kMaxGroupBytes = 509952;

    static void setupInstanceWithQueue(std::shared_ptr<platform::WorkQueue> queue);
    static std::shared_ptr<TallyPulseCBReportSender> instance();
    static void cleanup();
    static std::string pulseCBReportDataKey();

    explicit TallyPulseCBReportSender(std::shared_ptr<platform::WorkQueue> queue);
    void setup();

    // The new block is claimed into *claims when given, for the request that carries it.
    std::optional<std::string> storePulseCBReportData(platform::Data const& data, std::string const& groupId,
                                                      Claims* claims = nullptr);
    void removeStoredDataWithIdentifier(std::string const& identifier);
    // Whether the records were stored as blocks or posted: only then may the caller drop them.
    bool sendPulseReportsData(std::vector<platform::Data> const& reports);
    // Whether a request was made.
    bool sendData(std::optional<platform::Data> body, std::string const& identifier, Claims claims = {});
    void retransmitNotSentBlocks() override;
    void didCompleteAllTasks() override;

    void requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                           std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                        std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                          std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestSuccessComplete(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                std::shared_ptr<TallyHTTPResponse> const& response);

    std::shared_ptr<TallyDataSenderIndex> pulseCBReportDataIndex() const { return index_; }
    // How long a request may stay silent (20 s unless a test shortens it).
    void setRequestTimeout(double seconds) { requestTimeout_ = seconds; }

private:
    std::shared_ptr<TallyPulseCBReportSender> self();
    std::shared_ptr<TallyDataSenderIndex> index_;
    double requestTimeout_ = ITallyHttpAsyncTaskClass::kDefaultTimeoutInterval;
};
