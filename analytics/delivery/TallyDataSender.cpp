#include "analytics/delivery/TallyDataSender.h"

#include <mutex>
#include <set>

#include <utf8.h>

#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "analytics/delivery/TallyPulseCBReportSender.h"
#include "platform/base/SdkLoop.h"

namespace {

std::mutex classLock;
std::shared_ptr<TallyDataSender>& shared() {
    static auto* instance = new std::shared_ptr<TallyDataSender>;  // outlives the other statics
    return *instance;
}

// A cookie length that is negative or runs past the section.
class MalformedCookie : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

}  // namespace

void TallyDataSender::setupInstanceWithQueue(std::shared_ptr<platform::WorkQueue> queue,
                                             std::shared_ptr<TallyBackgroundTaskTracker> tracker) {
    std::lock_guard lock(classLock);
    if (shared()) return;
    auto sender = std::make_shared<TallyDataSender>(std::move(queue), std::move(tracker));
    sender->initialize();
    sender->setup();
    shared() = std::move(sender);
}

std::shared_ptr<TallyDataSender> TallyDataSender::instance() {
    std::lock_guard lock(classLock);
    return shared();
}

void TallyDataSender::cleanup() {
    std::shared_ptr<TallyDataSender> old;
    {
        std::lock_guard lock(classLock);
        old = std::move(shared());
    }
    if (!old) return;
    // The running list belongs to the queue.
    old->queue().sync([&] { old->retire(); });
}

std::string TallyDataSender::dataKey() {
    return "Data_" + std::to_string(static_cast<unsigned long>(tally_delivery::apiKeyHash())) + "_189";
}

TallyDataSender::TallyDataSender(std::shared_ptr<platform::WorkQueue> queue, std::shared_ptr<TallyBackgroundTaskTracker> tracker)
    : TallyDataSenderBase(std::move(queue), std::move(tracker)), httpAsyncTaskClass_(&TallyHttpAsyncTask::taskClass()) {}

void TallyDataSender::setup() {
    dataIndex_ = TallyDataSenderIndex::instantiatedIndexWithIndexFile(kIndexFileName);
    dataIndex_->setupForCurrentDataKey(dataKey());
    // Block files no index lists any more (another process's list written over this one's by an
    // earlier version, or a process stopped between a block and its listing) go out again.
    dataIndex_->adoptUnlistedBlocks(dataKey(), {TallyPulseCBReportSender::kIndexFileName}, kAdoptAfterSeconds);
}

std::shared_ptr<TallyDataSender> TallyDataSender::self() {
    return std::static_pointer_cast<TallyDataSender>(shared_from_this());
}

std::pair<std::string, TallyDataSenderBlockInfo::Claim> TallyDataSender::storeData(platform::Data const& data,
                                                                                   std::string identifier) {
    auto block = TallyDataSenderBlockInfo::initWithData(data, std::move(identifier));
    if (!block) return {};
    std::pair<std::string, TallyDataSenderBlockInfo::Claim> stored{block->identifier(), block->claim()};
    dataIndex_->addBlockInfo(std::move(block), dataKey());
    // The index file lists the block before the caller goes on, so a crash right after a hand-over
    // cannot leave the block's file unlisted.
    dataIndex_->indexMapQueue().sync([] {});
    return stored;
}

void TallyDataSender::removeStoredDataWithIdentifier(std::string const& identifier) {
    dataIndex_->removeBlockInfoWithIdentifier(identifier, dataKey());
}

bool TallyDataSender::everSentReportSuccessfully() const { return dataIndex_->sentReportSuccessfully(); }

bool TallyDataSender::sendSessionsData(platform::Data const& data, std::string const& identifier) {
    bool stored = false;
    try {
        auto delegate = dataSenderDelegate();
        if (!delegate) {
            tally_delivery::log(1, "-[TallyDataSender sendSessionsData:]: Unable to send session data");
            return false;
        }
        // Listed already, or about to be taken back unlisted: it goes out with the others.
        if (!identifier.empty() && !TallyDataSenderBlockInfo::forStoredFile(identifier, 0, {})->isFileMissing()) {
            tally_delivery::log(2, "TallyDataSender: block " + identifier + " is stored already");
            return true;
        }
        auto [id, claim] = storeData(data, identifier);
        stored = !id.empty();
        if (!stored || !hasOngoingTasksWindow()) return stored;
        std::vector<TallyDataSenderBlockInfo::Claim> claims;
        claims.push_back(std::move(claim));
        sendData(delegate->dataForSending({data}), id, std::move(claims));
    } catch (std::exception const& e) {
        tally_delivery::handleException(e);
    }
    return stored;
}

void TallyDataSender::sendData(std::optional<platform::Data> body, std::string const& identifier,
                               std::vector<TallyDataSenderBlockInfo::Claim> claims) {
    if (!body || !httpAsyncTaskClass_) return;
    tally_delivery::log(2, "TallyDataSender: posting session via tallyhttpasynctask!");
    auto task = httpAsyncTaskClass_->sendMethod("POST", TallyNetworkUtil::serverURL(), std::move(*body),
                                                {{"content-type", "application/octet-stream"}}, requestTimeout_,
                                                ITallyHttpAsyncTaskClass::kReloadIgnoringCacheData, self(), false);
    if (!task) return;
    task->setTag(identifier);
    task->setReplyLimits({kMaxReplyBytes, false, kDeadlineSeconds});
    if (!registerNewTask(task, std::move(claims))) return;
    platform::SdkLoop::shared().post([task] { task->startInRunLoop(platform::SdkLoop::shared()); });
}

void TallyDataSender::requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                        std::shared_ptr<TallyHTTPResponse> const& response) {
    // A redirect that dropped the body got its 2xx for a bodiless GET: the reports never
    // arrived, so their blocks stay.
    if (task && task->redirectDroppedBody()) {
        tally_delivery::log(2, "TallyDataSender: redirect dropped the report body, keeping its blocks");
        return requestDidFail(task, response);
    }
    queue_->async([self = self(), task, response] { self->requestSuccessComplete(task, response); });
}

void TallyDataSender::requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                     std::shared_ptr<TallyHTTPResponse> const& response) {
    queue_->async([self = self(), task, response] { self->failed(task, response); });
}

void TallyDataSender::requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                       std::shared_ptr<TallyHTTPResponse> const& response) {
    queue_->async([self = self(), task, response] { self->failed(task, response); });
}

void TallyDataSender::failed(std::shared_ptr<ITallyHttpAsyncTask> const& task, std::shared_ptr<TallyHTTPResponse> const& response) {
    std::string const error = response && response->error() ? response->error()->description() : "(null)";
    tally_delivery::log(2, "TallyDataSender: Could not connect to server: " + error);
    unregisterTask(task, false);
}

void TallyDataSender::requestSuccessComplete(std::shared_ptr<ITallyHttpAsyncTask> const& task,
                                             std::shared_ptr<TallyHTTPResponse> const& response) {
    std::string const tag = task ? task->tag() : std::string();
    if (retired()) {
        // Its index is the folder's as it was when this sender was dropped: writing it now would
        // unlist what the live sender stored since. The blocks stay and go out again.
        tally_delivery::log(2, "TallyDataSender: reply for a dropped sender, id [" + tag + "]: its blocks stay");
        return unregisterTask(task, false);
    }
    tally_delivery::log(2, "TallyDataSender: async http response code: " + std::to_string(response->statusCode()) +
                               ", id [" + tag + "]");
    if (!response->isSuccess()) tally_delivery::log(2, "TallyDataSender: Could not connect to server.");
    dataIndex_->setSentReportSuccessfully(true);
    removeStoredDataWithIdentifier(tag);
    try {
        parseResponse(*response);
    } catch (std::exception const& e) {
        tally_delivery::log(2, std::string("TallyDataSender, Failed to parse response with exception ") + e.what());
    }
    unregisterTask(task, true);
}

void TallyDataSender::parseResponse(TallyHTTPResponse const& response) {
    platform::Data const& body = response.body();
    if (body.empty()) {
        tally_delivery::clearCookies();
        return;
    }
    int16_t const chunkType = TallyProtocolData::getInt16FromData(body, 0);
    TallyProtocolData::getInt32FromData(body, 2);
    std::span<uint8_t const> section;
    int32_t offset = 0;
    if (chunkType != kReplyChunkType) {
        char text[16];
        std::snprintf(text, sizeof text, "%x", unsigned(uint16_t(chunkType)));
        tally_delivery::log(2, std::string("TallyDataSender: Got unexpected chunk typd ") + text);
    } else {
        TallyProtocolData::getInt16FromData(body, 6);
        section = std::span<uint8_t const>(body).subspan(std::min<size_t>(8, body.size()));
        offset = parseCookies(section);
    }
    TallyProtocolData::getInt16FromData(section, offset);
    tally_delivery::savePersistentGlobalsToDisk();
}

int32_t TallyDataSender::parseCookies(std::span<uint8_t const> section) {
    int16_t const n = TallyProtocolData::getInt16FromData(section, 0);
    if (n <= 0) return 2;
    int64_t p = 2;
    int64_t const size = int64_t(section.size());
    auto slice = [&](int64_t from, int64_t length) {
        // Checked before any slice: a negative or overrunning length ends the parse.
        if (length < 0 || from < 0 || from > size || length > size - from)
            throw MalformedCookie("cookie length " + std::to_string(length) + " at " + std::to_string(from) +
                                  " runs outside " + std::to_string(size) + " bytes");
        return section.subspan(size_t(from), size_t(length));
    };
    for (int i = 0; i < n; ++i) {
        if (p >= size) {
            tally_delivery::log(2, "-[TallyDataSender parseCookies:]: Unable to read all cookies from response, number read " +
                                       std::to_string(i + 1));
            break;
        }
        int64_t const k = TallyProtocolData::getInt16FromData(section, int32_t(p));
        auto const key = slice(p + 2, k);
        int64_t const vAt = p + 2 + k;
        if (vAt > INT32_MAX) throw MalformedCookie("cookie runs past the reply");
        int64_t const v = TallyProtocolData::getInt16FromData(section, int32_t(vAt));
        auto const value = slice(p + 4 + k, v);
        std::string keyText(key.begin(), key.end());
        if (utf8::find_invalid(keyText.begin(), keyText.end()) != keyText.end()) {
            tally_delivery::log(1, "TallyDataSender: cookie key is not UTF-8, skipped");
        } else {
            tally_delivery::updateIfChangedCookieValue(platform::Data(value.begin(), value.end()), keyText);
        }
        p = p + k + 2 + v + 2;
    }
    return int32_t(p);
}

void TallyDataSender::retransmitNotSentBlocks() {
    if (!hasOngoingTasksWindow()) return;
    auto delegate = dataSenderDelegate();
    if (!delegate) {
        if (!tally_delivery::isInWatchExtension())
            tally_delivery::log(1, "-[TallyDataSender retransmitNotSentBlocks]: Unable to send session data");
        return;
    }
    auto const blocks = dataIndex_->notSentBlocksForDataKey(dataKey());
    tally_delivery::log(2, "TallyDataSender: Not sent blocks count [" + std::to_string(blocks.size()) + "]");
    sendInGroups(
        blocks, kMaxGroupBytes, [this](std::string const& id) { removeStoredDataWithIdentifier(id); },
        [&](std::vector<platform::Data> datas, std::string const& group, Claims claims) {
            size_t size = 0;
            for (auto const& d : datas) size += d.size();
            tally_delivery::log(2, "TallyDataSender, Payload size " + std::to_string(size) + ", sessions added " +
                                       std::to_string(datas.size()));
            sendData(delegate->dataForSending(datas), group, std::move(claims));
        });
}

void TallyDataSender::didCompleteAllTasks() {
    if (!retired()) dataIndex_->discardOutdatedBlocksForDataKey(dataKey());
}
