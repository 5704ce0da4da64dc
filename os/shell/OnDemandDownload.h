#pragma once
// The on-demand download of the second data archive: its state (0 downloading, 1 paused,
// 4 finished and mounted), why it is paused (0 none, 1 no network, 2 out of space) and its
// progress. A failed request is retried after ten seconds, without limit; the network coming
// and going moves the state between 0 and 1 until the archive is mounted. The state lives on the
// main thread; requests complete on their own threads and hand over through the main queue.
#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "os/shell/MainQueue.h"
#include "platform/ResourceRequest.h"

namespace os {

class OnDemandDownload {
public:
    // The first retry after a failure; each further failure in a row doubles it, up to 64 times.
    static constexpr int64_t kRetryDelayMs = 10000;
    static constexpr int kMaxRetryDoublings = 6;

    using RequestFactory = std::function<std::unique_ptr<platform::ResourceRequest>()>;
    using Mount = std::function<void(std::string const& path)>;

    OnDemandDownload(RequestFactory makeRequest, Mount mount, MainQueue& mainQueue);
    ~OnDemandDownload();

    // A new request with the state, reason and progress reset.
    void start();
    // Reachability status: 0 not reachable, 1 or 2 reachable.
    void reachabilityChanged(int status);

    int currDownloadState() const { return state_; }
    int currDownloaderPausedReason() const { return reason_; }
    float currDownloadProgress() const { return progress_; }
    bool downloadFinishedAndMounted() const { return finishedAndMounted_.load(); }
    bool allowCellularDownload() const { return allowCellular_; }

private:
    void setState(int state);
    void setReason(int reason);
    void setProgress(float progress);

    RequestFactory makeRequest_;
    Mount mount_;
    MainQueue& main_;
    std::unique_ptr<platform::ResourceRequest> request_;
    uint64_t generation_ = 0;     // which request the progress observer follows; 0: none
    int state_ = 0;
    int reason_ = 0;
    int failuresInARow_ = 0;
    float progress_ = 0;
    bool allowCellular_ = false;
    std::atomic<bool> finishedAndMounted_{false};
    // Jobs queued by requests find out through this whether the download still exists.
    std::shared_ptr<OnDemandDownload*> self_;
};

}  // namespace os
