#pragma once
// What every sender shares: the running requests (at most 9 at once), the serial queue all
// sender work runs on, and a retransmission pass whenever the network becomes reachable.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "analytics/delivery/ITallyHttpAsyncTask.h"
#include "analytics/delivery/TallyDataSenderBlockInfo.h"
#include "platform/base/WorkQueue.h"

class TallyBackgroundTaskTracker;
namespace platform {
struct Notification;
}

class TallyDataSenderBase : public std::enable_shared_from_this<TallyDataSenderBase> {
public:
    static constexpr size_t kMaxRunningTasks = 9;
    // A report reply carries a few cookies at most; a longer one fails its post.
    static constexpr size_t kMaxReplyBytes = 64 * 1024;
    // The longest a report post may take in all.
    static constexpr double kDeadlineSeconds = 120.0;

    TallyDataSenderBase(std::shared_ptr<platform::WorkQueue> queue, std::shared_ptr<TallyBackgroundTaskTracker> tracker);
    // Stops observing the network and cancels the running requests.
    virtual ~TallyDataSenderBase();

    // Makes the running list and observes network changes; call once the object is shared.
    void initialize();

    bool hasOngoingTasksWindow() const {
        std::lock_guard<std::mutex> lock(runningTasksMutex_);
        return runningTasks_.size() < kMaxRunningTasks;
    }
    // The claims on the blocks a request carries are held until it ends; answered, their files go.
    // False once the sender is closed: the request is not to be started, and its blocks wait.
    bool registerNewTask(std::shared_ptr<ITallyHttpAsyncTask> task, std::vector<TallyDataSenderBlockInfo::Claim> claims = {});
    void unregisterTask(std::shared_ptr<ITallyHttpAsyncTask> const& task, bool completedSuccessfuly);
    void cancelTasks();
    // Once another sender has taken the folder over: cancels the running requests, and a reply
    // that still comes in leaves the index, whose file the new sender keeps alone from now on.
    void retire();
    bool retired() const { return retired_.load(); }
    // The process is ending: no request starts from now on; what is stored waits for the next start.
    // Taken under the running list's lock, so a registration comes wholly before (and a wait that
    // follows sees it) or is refused.
    void close();
    bool closed() const { return closing_.load(); }
    // Waits, until deadline at most, for the requests under way to end: an answered one's blocks
    // are then on their way out of the list (this sender's queue and the index's finish that), so
    // that the next start does not send again what the endpoint accepted. True when none is left.
    // Never waits where an end would be heard (this sender's queue, the SDK's loop) nor in a
    // forked child, which hears none.
    bool awaitRunningTasks(std::chrono::steady_clock::time_point deadline);
    void networkStatusChanged(platform::Notification const& notification);
    void performRetransmitNotSentBlocks();

    virtual void retransmitNotSentBlocks() = 0;
    virtual void didCompleteAllTasks() = 0;

    platform::WorkQueue& queue() { return *queue_; }
    size_t runningTaskCount() const {
        std::lock_guard<std::mutex> lock(runningTasksMutex_);
        return runningTasks_.size();
    }
    // The non-empty tags of the running requests.
    std::set<std::string> runningTaskTags() const;

    using Claims = std::vector<TallyDataSenderBlockInfo::Claim>;
    // One pass over a list's unsent blocks, in groups of at most maxGroupBytes handed to send with
    // a new group identifier. A block running here or held by another sender (of this process or
    // another) is left to it; one whose file is gone goes to dropGone; one that cannot be read now
    // waits. The walk stops when no more requests may run.
    void sendInGroups(std::vector<std::shared_ptr<TallyDataSenderBlockInfo>> const& blocks, size_t maxGroupBytes,
                      std::function<void(std::string const& identifier)> const& dropGone,
                      std::function<void(std::vector<platform::Data>, std::string const& group, Claims)> const& send);

protected:
    // Registered from more than one queue (the callback reports hand over from their own).
    mutable std::mutex runningTasksMutex_;
    std::condition_variable runningTasksEnded_;
    std::vector<std::shared_ptr<ITallyHttpAsyncTask>> runningTasks_;
    // Of the running requests, until their end is heard or they are cancelled.
    std::map<ITallyHttpAsyncTask const*, std::vector<TallyDataSenderBlockInfo::Claim>> claims_;
    std::shared_ptr<platform::WorkQueue> queue_;
    std::shared_ptr<TallyBackgroundTaskTracker> backgroundTaskTracker_;
    std::atomic<bool> retired_{false};
    std::atomic<bool> closing_{false};
};
