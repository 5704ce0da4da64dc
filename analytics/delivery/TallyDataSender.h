#pragma once
// The report sender: every session data is stored as a block before it is posted to the data
// endpoint, and deleted only once a request carrying it has been answered 2xx. Unsent blocks go
// out again in groups whenever a request succeeds or the network becomes reachable. Every process
// on the home lists every block; a request claims the blocks it carries, so each goes out with
// one sender at a time (see TallyDataSenderBlockInfo::Claim).
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "analytics/delivery/ITallyHttpAsyncTask.h"
#include "analytics/delivery/TallyDataSenderBase.h"
#include "analytics/delivery/TallyDataSenderDelegate.h"
#include "analytics/delivery/TallyDataSenderIndex.h"

class TallyHTTPResponse;

class TallyDataSender : public TallyDataSenderBase, public TallyHttpAsyncTaskDelegate {
public:
    static constexpr char const* kIndexFileName = "TallySenderIndex.info";
    static constexpr size_t kMaxGroupBytes = 509952;
    static constexpr int16_t kReplyChunkType = 286;
    // How old an unlisted block file must be before a start takes it back.
    static constexpr int64_t kAdoptAfterSeconds = 60;

    static void setupInstanceWithQueue(std::shared_ptr<platform::WorkQueue> queue,
                                       std::shared_ptr<TallyBackgroundTaskTracker> tracker = nullptr);
    static std::shared_ptr<TallyDataSender> instance();
    // Drops the instance; its running requests are cancelled once nothing else holds it.
    static void cleanup();
    static std::string dataKey();

    TallyDataSender(std::shared_ptr<platform::WorkQueue> queue, std::shared_ptr<TallyBackgroundTaskTracker> tracker);
    // Loads the index and sets it up for the current data key.
    void setup();

    // On the sender's queue.
    // The new block, claimed before it is listed: no other sender takes it up meanwhile. Named by
    // identifier when one is given.
    std::pair<std::string, TallyDataSenderBlockInfo::Claim> storeData(platform::Data const& data,
                                                                      std::string identifier = {});
    void removeStoredDataWithIdentifier(std::string const& identifier);
    bool everSentReportSuccessfully() const;
    // Stores the data as a block and posts it; false when it could not be stored, so the caller
    // keeps it. A block already stored under identifier is not stored again: a caller stopped
    // after the hand-over and before it could forget the data hands the same block over twice.
    bool sendSessionsData(platform::Data const& data, std::string const& identifier = {});
    void sendData(std::optional<platform::Data> body, std::string const& identifier,
                  std::vector<TallyDataSenderBlockInfo::Claim> claims = {});
    void requestSuccessComplete(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                std::shared_ptr<TallyHTTPResponse> const& response);
    void parseResponse(TallyHTTPResponse const& response);
    int32_t parseCookies(std::span<uint8_t const> section);
    void retransmitNotSentBlocks() override;
    void didCompleteAllTasks() override;

    // From the transport: each re-posts its work to the sender's queue.
    void requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                           std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                        std::shared_ptr<TallyHTTPResponse> const& response) override;
    void requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                          std::shared_ptr<TallyHTTPResponse> const& response) override;

    std::shared_ptr<TallyDataSenderIndex> dataIndex() const { return dataIndex_; }
    std::shared_ptr<TallyDataSenderDelegate> dataSenderDelegate() const { return dataSenderDelegate_.lock(); }
    void setDataSenderDelegate(std::weak_ptr<TallyDataSenderDelegate> delegate) { dataSenderDelegate_ = std::move(delegate); }
    ITallyHttpAsyncTaskClass const* httpAsyncTaskClass() const { return httpAsyncTaskClass_; }
    void setHttpAsyncTaskClass(ITallyHttpAsyncTaskClass const* taskClass) { httpAsyncTaskClass_ = taskClass; }
    // How long a request may stay silent (20 s unless a test shortens it).
    void setRequestTimeout(double seconds) { requestTimeout_ = seconds; }

private:
    std::shared_ptr<TallyDataSender> self();
    void failed(std::shared_ptr<ITallyHttpAsyncTask> const& task, std::shared_ptr<TallyHTTPResponse> const& response);

    std::shared_ptr<TallyDataSenderIndex> dataIndex_;
    std::weak_ptr<TallyDataSenderDelegate> dataSenderDelegate_;
    ITallyHttpAsyncTaskClass const* httpAsyncTaskClass_ = nullptr;
    double requestTimeout_ = ITallyHttpAsyncTaskClass::kDefaultTimeoutInterval;
};
