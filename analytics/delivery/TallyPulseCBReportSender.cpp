#include "analytics/delivery/TallyPulseCBReportSender.h"

#include <mutex>
#include <set>

#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyPulseCallbackReportManager.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "platform/base/SdkLoop.h"

namespace {
std::mutex classLock;
std::shared_ptr<TallyPulseCBReportSender>& slot() {
    // Never destroyed: work still queued at exit must not find it gone.
    static auto* instance = new std::shared_ptr<TallyPulseCBReportSender>();
    return *instance;
}
char const* const kName = "-[TallyPulseCBReportSender retransmitNotSentBlocks]";
}  // namespace

void TallyPulseCBReportSender::setupInstanceWithQueue(std::shared_ptr<platform::WorkQueue> queue) {
    std::lock_guard<std::mutex> lock(classLock);
    if (slot()) return;
    auto sender = std::make_shared<TallyPulseCBReportSender>(std::move(queue));
    sender->initialize();
    sender->setup();
    slot() = std::move(sender);
}

std::shared_ptr<TallyPulseCBReportSender> TallyPulseCBReportSender::instance() {
    std::lock_guard<std::mutex> lock(classLock);
    return slot();
}

void TallyPulseCBReportSender::cleanup() {
    std::shared_ptr<TallyPulseCBReportSender> old;
    {
        std::lock_guard<std::mutex> lock(classLock);
        old = std::move(slot());
    }
    if (old) old->queue().sync([&] { old->cancelTasks(); });
}

std::string TallyPulseCBReportSender::pulseCBReportDataKey() {
    return "PulseCBReportDataData_" + std::to_string(static_cast<unsigned long>(tally_delivery::apiKeyHash())) + "_189";
}

TallyPulseCBReportSender::TallyPulseCBReportSender(std::shared_ptr<platform::WorkQueue> queue)
    : TallyDataSenderBase(std::move(queue), nullptr) {
    if (TallyGlobalVariableStorage::sharedInstance()->pulseMonitoringEnabled())
        index_ = TallyDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFileName);
}

void TallyPulseCBReportSender::setup() {
    if (index_) index_->setupForCurrentDataKey(pulseCBReportDataKey());
}

std::shared_ptr<TallyPulseCBReportSender> TallyPulseCBReportSender::self() {
    return std::static_pointer_cast<TallyPulseCBReportSender>(shared_from_this());
}

std::optional<std::string> TallyPulseCBReportSender::storePulseCBReportData(platform::Data const& data, std::string const& groupId,
                                                                        Claims* claims) {
    if (!index_) return std::nullopt;
    auto block = TallyDataSenderBlockInfo::initWithData(data);
    if (!block) return std::nullopt;
    block->setGroupIdentifier(groupId);
    // Claimed before it is listed: no other sender takes it up meanwhile.
    if (claims) claims->push_back(block->claim());
    index_->addBlockInfo(std::move(block), pulseCBReportDataKey());
    // Listed in the index file before the records are dropped by the caller.
    index_->indexMapQueue().sync([] {});
    return groupId;
}

void TallyPulseCBReportSender::removeStoredDataWithIdentifier(std::string const& identifier) {
    if (index_) index_->removeBlockInfoWithIdentifier(identifier, pulseCBReportDataKey());
}

bool TallyPulseCBReportSender::sendPulseReportsData(std::vector<platform::Data> const& reports) {
    std::string const group = tally_delivery::generateCFUUID();
    bool stored = bool(index_);
    Claims claims;
    for (auto const& r : reports) stored = storePulseCBReportData(r, group, &claims).has_value() && stored;
    if (!hasOngoingTasksWindow()) return stored;
    auto manager = TallyPulseCallbackReportManager::sharedInstance();
    bool const posted = sendData(manager->dataForSending(reports), group, std::move(claims));
    return stored || posted;
}

bool TallyPulseCBReportSender::sendData(std::optional<platform::Data> body, std::string const& identifier, Claims claims) {
    if (!body) return false;
    auto settings = TallyPulseEventController::currentSettings();
    // Without a configuration there is no report URL: the blocks wait.
    if (!settings || !settings->agentReportUrl) return false;
    auto task = TallyHttpAsyncTask::taskClass().sendMethod("POST", *settings->agentReportUrl, std::move(*body),
                                                           {{"content-type", "application/octet-stream"}}, requestTimeout_,
                                                           ITallyHttpAsyncTaskClass::kReloadIgnoringCacheData, self(), false);
    if (!task) return false;
    task->setTag(identifier);
    task->setReplyLimits({kMaxReplyBytes, false, kDeadlineSeconds});
    if (!registerNewTask(task, std::move(claims))) return false;
    platform::SdkLoop::shared().post([task] { task->startInRunLoop(platform::SdkLoop::shared()); });
    return true;
}

void TallyPulseCBReportSender::requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                                 std::shared_ptr<TallyHTTPResponse> const& response) {
    // A redirect that dropped the body got its 2xx for a bodiless GET: the reports never arrived.
    if (task && task->redirectDroppedBody()) return requestDidFail(task, response);
    queue_->async([self = self(), task, response] { self->requestSuccessComplete(task, response); });
}

void TallyPulseCBReportSender::requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                              std::shared_ptr<TallyHTTPResponse> const& response) {
    queue_->async([self = self(), task, response] {
        std::string const error = response && response->error() ? response->error()->description() : "(null)";
        tally_delivery::log(2, "TallyPulseReportSender: __57-[TallyPulseCBReportSender requestDidFail:withResponse:]_block_invoke "
                               "Could not connect to server: " + error);
        self->unregisterTask(task, false);
    });
}

void TallyPulseCBReportSender::requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                                std::shared_ptr<TallyHTTPResponse> const&) {
    queue_->async([self = self(), task] { self->unregisterTask(task, false); });
}

void TallyPulseCBReportSender::requestSuccessComplete(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                                      std::shared_ptr<TallyHTTPResponse> const& response) {
    std::string const tag = task ? task->tag() : std::string();
    tally_delivery::log(2, "TallyPulseReportSender: -[TallyPulseCBReportSender requestSuccessComplete:withResponse:] async http "
                           "response code: " + std::to_string(response ? response->statusCode() : 0) + ", id [" + tag + "]");
    if (!response || !response->isSuccess()) tally_delivery::log(2, "TallyPulseReportSender: Could not connect to server.");
    if (index_) index_->setSentReportSuccessfully(true);
    removeStoredDataWithIdentifier(tag);
    unregisterTask(task, true);
}

void TallyPulseCBReportSender::retransmitNotSentBlocks() {
    if (!index_ || !hasOngoingTasksWindow()) return;
    try {
        auto const blocks = index_->notSentBlocksForDataKey(pulseCBReportDataKey());
        tally_delivery::log(2, std::string("TallyPulseReportSender: ") + kName + ", Not sent blocks count [" +
                                   std::to_string(blocks.size()) + "]");
        auto manager = TallyPulseCallbackReportManager::sharedInstance();
        sendInGroups(
            blocks, kMaxGroupBytes, [this](std::string const& id) { removeStoredDataWithIdentifier(id); },
            [&](std::vector<platform::Data> batch, std::string const& group, Claims claims) {
                size_t size = 0;
                for (auto const& d : batch) size += d.size();
                tally_delivery::log(2, std::string("TallyPulseReportSender: ") + kName + ", Payload size " +
                                           std::to_string(size) + ", reports added " + std::to_string(batch.size()));
                sendData(manager->dataForSending(batch), group, std::move(claims));
            });
    } catch (std::exception const& e) {
        tally_delivery::handleException(e);
    }
}

void TallyPulseCBReportSender::didCompleteAllTasks() {
    if (index_) index_->discardOutdatedBlocksForDataKey(pulseCBReportDataKey());
}
