#include "analytics/delivery/TallyDataSenderBase.h"

#include <algorithm>

#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "platform/base/ForkedChild.h"
#include "platform/base/NotificationCenter.h"
#include "platform/base/SdkLoop.h"

TallyDataSenderBase::TallyDataSenderBase(std::shared_ptr<platform::WorkQueue> queue,
                                         std::shared_ptr<TallyBackgroundTaskTracker> tracker)
    : queue_(std::move(queue)), backgroundTaskTracker_(std::move(tracker)) {}

TallyDataSenderBase::~TallyDataSenderBase() {
    platform::NotificationCenter::shared().removeObserver(this);
    cancelTasks();
}

void TallyDataSenderBase::initialize() {
    {
        std::lock_guard<std::mutex> lock(runningTasksMutex_);
        runningTasks_.clear();
    }
    std::weak_ptr<TallyDataSenderBase> weak = weak_from_this();
    platform::NotificationCenter::shared().addObserver(this, TallyNetworkUtil::kStatusChangedNotification,
                                                       [weak](platform::Notification const& n) {
                                                           if (auto self = weak.lock()) self->networkStatusChanged(n);
                                                       });
}

bool TallyDataSenderBase::registerNewTask(std::shared_ptr<ITallyHttpAsyncTask> task,
                                          std::vector<TallyDataSenderBlockInfo::Claim> claims) {
    if (!task) return false;
    bool refused;
    {
        // Decided under the lock close() takes: the quit's wait sees every request let through.
        std::lock_guard<std::mutex> lock(runningTasksMutex_);
        refused = closed();
        if (!refused) {
            if (!claims.empty()) claims_[task.get()] = std::move(claims);
            runningTasks_.push_back(std::move(task));
        }
    }
    if (refused) {
        tally_delivery::log(2, "TallyDataSenderBase: the process is ending, the request waits for the next start");
        return false;
    }
    // The request starts only once this returns, so no end of it can come before.
    tally_delivery::startBackgroundTaskTrackingIfNeeded(backgroundTaskTracker_.get());
    return true;
}

void TallyDataSenderBase::unregisterTask(std::shared_ptr<ITallyHttpAsyncTask> const& task, bool completedSuccessfuly) {
    if (!task) return;
    std::vector<TallyDataSenderBlockInfo::Claim> claims;
    {
        std::lock_guard<std::mutex> lock(runningTasksMutex_);
        std::erase_if(runningTasks_, [&](auto const& t) { return t == task; });
        if (auto it = claims_.find(task.get()); it != claims_.end()) {
            claims = std::move(it->second);
            claims_.erase(it);
        }
    }
    runningTasksEnded_.notify_all();
    if (completedSuccessfuly)
        for (auto& claim : claims) claim.sent();
    claims.clear();  // before the next pass, which may take up those that stay
    if (completedSuccessfuly) performRetransmitNotSentBlocks();
    if (runningTaskCount() == 0) {
        didCompleteAllTasks();
        tally_delivery::stopBackgroundTasksTracking(backgroundTaskTracker_.get());
    }
}

void TallyDataSenderBase::cancelTasks() {
    std::vector<std::shared_ptr<ITallyHttpAsyncTask>> tasks;
    std::map<ITallyHttpAsyncTask const*, std::vector<TallyDataSenderBlockInfo::Claim>> claims;
    {
        std::lock_guard<std::mutex> lock(runningTasksMutex_);
        tasks.swap(runningTasks_);
        claims.swap(claims_);  // a cancelled request is never heard of again: its blocks are free
    }
    runningTasksEnded_.notify_all();
    for (auto const& t : tasks) t->cancelTask();
}

void TallyDataSenderBase::close() {
    std::lock_guard<std::mutex> lock(runningTasksMutex_);
    closing_ = true;
}

bool TallyDataSenderBase::awaitRunningTasks(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(runningTasksMutex_);
    if (queue_->isCurrent() || platform::SdkLoop::shared().isLoopThread() || platform::isForkedChildWithoutThreads())
        return runningTasks_.empty();
    return runningTasksEnded_.wait_until(lock, deadline, [&] { return runningTasks_.empty(); });
}

void TallyDataSenderBase::retire() {
    retired_ = true;
    cancelTasks();
}

std::set<std::string> TallyDataSenderBase::runningTaskTags() const {
    std::lock_guard<std::mutex> lock(runningTasksMutex_);
    std::set<std::string> tags;
    for (auto const& t : runningTasks_) {
        std::string tag = t->tag();
        if (!tag.empty()) tags.insert(std::move(tag));
    }
    return tags;
}

void TallyDataSenderBase::sendInGroups(
    std::vector<std::shared_ptr<TallyDataSenderBlockInfo>> const& blocks, size_t maxGroupBytes,
    std::function<void(std::string const& identifier)> const& dropGone,
    std::function<void(std::vector<platform::Data>, std::string const& group, Claims)> const& send) {
    std::set<std::string> running = runningTaskTags();
    auto isRunning = [&](TallyDataSenderBlockInfo const& b) {
        return running.count(b.identifier()) || running.count(b.groupIdentifier());
    };
    auto take = [&](TallyDataSenderBlockInfo const& b, Claims& claims) {
        auto claim = b.claim();
        auto data = claim.state() == TallyDataSenderBlockInfo::Claim::Taken ? std::nullopt : b.data();
        if (data)
            claims.push_back(std::move(claim));
        else if (claim.state() != TallyDataSenderBlockInfo::Claim::Taken && b.isFileMissing())
            dropGone(b.identifier());
        return data;
    };
    size_t i = 0;
    while (i < blocks.size()) {
        auto const& block = blocks[i];
        if (isRunning(*block)) {
            ++i;
            continue;
        }
        if (!hasOngoingTasksWindow()) break;
        size_t next = i + 1;
        try {
            Claims claims;
            auto data = take(*block, claims);
            if (!data) {
                i = next;
                continue;
            }
            std::string const group = tally_delivery::generateCFUUID();
            block->setGroupIdentifier(group);
            size_t size = data->size();
            std::vector<platform::Data> datas{std::move(*data)};
            // The walk resumes at the block that stopped this group, not after it.
            next = blocks.size();
            for (size_t j = i + 1; j < blocks.size(); ++j) {
                auto const& other = blocks[j];
                if (isRunning(*other)) continue;
                auto otherData = take(*other, claims);
                if (!otherData) continue;
                if (size + otherData->size() > maxGroupBytes) {
                    claims.pop_back();  // it starts the next group
                    next = j;
                    break;
                }
                other->setGroupIdentifier(group);
                size += otherData->size();
                datas.push_back(std::move(*otherData));
            }
            // Those of the group just marked are running now, so later groups skip them.
            running.insert(group);
            send(std::move(datas), group, std::move(claims));
        } catch (std::exception const& e) {
            tally_delivery::handleException(e);
            next = i + 1;
        }
        i = next;
    }
}

void TallyDataSenderBase::networkStatusChanged(platform::Notification const&) {
    bool const reachable = TallyNetworkUtil::isNetworkReachable();
    tally_delivery::log(2, std::string("TallyDataSenderBase: networkStatusChanged to ") + (reachable ? "" : "not") +
                               " reachable");
    if (!reachable) return;
    std::weak_ptr<TallyDataSenderBase> weak = weak_from_this();
    queue_->async([weak] {
        if (auto self = weak.lock()) self->performRetransmitNotSentBlocks();
    });
}

void TallyDataSenderBase::performRetransmitNotSentBlocks() {
    if (retired() || closed()) return;
    if (tally_delivery::isInBackground()) {
        tally_delivery::log(2, "Tally: application is in background, skipping sending data.");
        return;
    }
    retransmitNotSentBlocks();
}
