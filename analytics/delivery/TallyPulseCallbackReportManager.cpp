#include "analytics/delivery/TallyPulseCallbackReportManager.h"

#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "analytics/delivery/TallyPulseClock.h"
#include "analytics/delivery/TallyPulseCBReportSender.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "platform/base/DeviceFacts.h"

using platform::Value;

namespace {
std::mutex instanceMutex;
std::shared_ptr<TallyPulseCallbackReportManager>& slot() {
    // Never destroyed: work still queued at exit must not find it gone.
    static auto* instance = new std::shared_ptr<TallyPulseCallbackReportManager>();
    return *instance;
}
}  // namespace

std::shared_ptr<TallyPulseCallbackReportManager> TallyPulseCallbackReportManager::sharedInstance() {
    std::lock_guard<std::mutex> lock(instanceMutex);
    if (!slot()) slot() = std::make_shared<TallyPulseCallbackReportManager>();
    return slot();
}

void TallyPulseCallbackReportManager::resetForTesting() {
    std::shared_ptr<TallyPulseCallbackReportManager> old;
    {
        std::lock_guard<std::mutex> lock(instanceMutex);
        old = std::move(slot());
    }
    if (old) old->queue().waitUntilIdle();
}

TallyPulseCallbackReportManager::TallyPulseCallbackReportManager() {
    TallyPulseTriggerInvokeInfo::registerArchiveClass();
    triggers_ = savedTriggers();
    updateTotalAttemptsCount(triggers_);
    queue_ = std::make_unique<platform::WorkQueue>("com.Tally.PulseCBReportManager");
}

std::filesystem::path TallyPulseCallbackReportManager::reportsFilePath() {
    return TallyUtil::filePathDirectory() /
           (".tallyPulseReports" + std::to_string(TallyGlobalVariableStorage::apiKeyHash()) + ".archive");
}

std::vector<TallyPulseCallbackReportManager::Invoke> TallyPulseCallbackReportManager::savedTriggers() {
    std::vector<Invoke> list;
    auto const stored = TallyUtil::safeUnarchiveObjectWithFile(reportsFilePath());
    if (!stored || !stored->array()) return list;
    for (auto const& v : *stored->array()) {
        // A stored list with anything else in it is not ours to guess at.
        auto invoke = v.objectAs<TallyPulseTriggerInvokeInfo>();
        if (!invoke) return {};
        list.push_back(std::move(invoke));
    }
    return list;
}

void TallyPulseCallbackReportManager::setSavedTriggers(std::vector<Invoke> const& triggers) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    Value::Array list;
    for (auto const& t : triggers) list.emplace_back(t);
    auto const path = reportsFilePath();
    TallyUtil::archiveObject(Value(std::move(list)), path);
    TallyUtil::addSkipBackupAttributeToItemAtURL(path);
}

bool TallyPulseCallbackReportManager::addToSavedTriggers(Invoke invoke) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    triggers_.push_back(std::move(invoke));
    setSavedTriggers(triggers_);
    return true;
}

void TallyPulseCallbackReportManager::updateTotalAttemptsCount(std::vector<Invoke> const& triggers) {
    uint64_t n = 0;
    for (auto const& t : triggers) n += t->attemptCount();
    totalAttemptCount_ = n;
}

void TallyPulseCallbackReportManager::withLock(std::function<void()> const& block) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    block();
}

std::vector<TallyPulseCallbackReportManager::Invoke> TallyPulseCallbackReportManager::triggers() const {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    return triggers_;
}

void TallyPulseCallbackReportManager::setTriggers(std::vector<Invoke> triggers) {
    std::lock_guard<std::recursive_mutex> lock(lock_);
    triggers_ = std::move(triggers);
}

void TallyPulseCallbackReportManager::archiveAttempt(Attempt attempt) {
    if (!attempt) return;
    queue_->async([this, attempt = std::move(attempt)] { TallyUtil::guarded([&] { performArchiveAttempt(attempt); }); });
}

void TallyPulseCallbackReportManager::performArchiveAttempt(Attempt const& attempt) {
    {
        std::lock_guard<std::recursive_mutex> lock(lock_);
        for (auto const& invoke : triggers_) {
            if (invoke->invokeId != attempt->invokeId()) continue;
            for (auto const& report : invoke->callbacks()) {
                if (report->callbackId != attempt->callbackId()) continue;
                report->mergeAttempt(attempt);
                ++totalAttemptCount_;
                break;
            }
        }
        setSavedTriggers(triggers_);
    }
    checkAndSendReportsToServer();
}

void TallyPulseCallbackReportManager::checkAndSendReportsToServer() {
    auto settings = TallyPulseEventController::currentSettings();
    if (!settings) return;
    bool due = totalAttemptCount_.load() >= uint64_t(std::max<int32_t>(settings->maxCallbackAttemptsPerReport, 0));
    if (!due) {
        auto const last = TallyGlobalVariableStorage::sharedInstance()->lastPulseReportTime();
        double const since = last ? TallyPulseClock::now() - last->secondsSince1970 : 0;
        due = since > double(settings->maxReportDelaySecs);
    }
    if (due) sendCallBackInfoToServer();
}

void TallyPulseCallbackReportManager::sendCallBackInfoToServer() {
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    storage->setLastPulseReportTime(platform::Date{TallyPulseClock::now()});
    TallyUtil::guarded([&] {
        if (TallyUtil::hasUserOptedOut() && !storage->optOutSessionPending()) {
            TallyUtil::log(2, "TallyPulseEndPointInvokeInfo: User is opted out, not sending callback report");
            std::lock_guard<std::recursive_mutex> lock(lock_);
            setSavedTriggers({});
            return;
        }
        TallyUtil::log(2, "TallyPulseEndPointInvokeInfo: Sending callback reports to server");
        std::vector<platform::Data> reports;
        auto const list = triggers();
        for (auto const& t : list)
            if (auto d = t->data()) reports.push_back(std::move(*d));
        if (reports.empty()) return;
        auto sender = TallyPulseCBReportSender::instance();
        // Only what the sender stored or posted counts as handed over.
        if (!sender || !sender->sendPulseReportsData(reports)) {
            TallyUtil::log(2, "TallyPulseEndPointInvokeInfo: reports not handed over, kept for the next report");
            return;
        }
        TallyUtil::log(2, "TallyPulseEndPointInvokeInfo: Scheduled send " + std::to_string(list.size()) + " reports(s).");
        std::lock_guard<std::recursive_mutex> lock(lock_);
        uint64_t left = 0;
        std::vector<Invoke> keep;
        for (auto const& t : triggers_) {
            t->setCBAttemptsSent();
            left += t->removeSentCBAttempts();
            if (!t->callbacks().empty()) keep.push_back(t);
        }
        triggers_ = std::move(keep);
        setSavedTriggers(triggers_);
        totalAttemptCount_ = left;
    });
}

std::optional<platform::Data> TallyPulseCallbackReportManager::dataForSending(std::vector<platform::Data> const& reports) {
    auto data = callbackStatusDataForReports(reports);
    if (!data)
        TallyUtil::log(2, "-[TallyPulseCallbackReportManager dataForSending:]: Unable to create reports data from reports array");
    return data;
}

std::optional<platform::Data> TallyPulseCallbackReportManager::callbackStatusDataForReports(std::vector<platform::Data> const& reports) {
    auto storage = TallyGlobalVariableStorage::sharedInstance();
    auto const vendor = TallyUtil::getIdentifierForVendor();
    platform::Data out;
    TallyProtocolData::appendUshort(1, out);
    TallyProtocolData::appendUshort(1, out);
    TallyProtocolData::appendTimestamp(TallyPulseClock::now(), out);
    TallyProtocolData::appendString(storage->apiKey().value_or(""), out);
    TallyProtocolData::appendString(storage->appVersion().value_or(""), out);
    TallyProtocolData::appendUshort(189, out);
    TallyProtocolData::appendUshort(TallyiOSUtil::agentPlatform(), out);
    TallyProtocolData::appendString(platform::DeviceFacts::systemVersion(), out);
    TallyProtocolData::appendBoolean(!TallyUtil::isAdTrackingEnabled(), out);
    TallyProtocolData::appendUshort(1, out);
    TallyProtocolData::appendUshort(6, out);
    std::string const id = vendor.value_or("");
    TallyProtocolData::appendShortData(platform::Data(id.begin(), id.end()), out);
    TallyProtocolData::appendUshort(1, out);
    TallyProtocolData::appendUshort(0, out);
    TallyProtocolData::appendString(id, out);
    TallyProtocolData::appendUshort(uint16_t(reports.size()), out);
    for (auto const& r : reports) out.insert(out.end(), r.begin(), r.end());
    TallyProtocolData::appendInt(TallyUtil::dataChecksum(out), out);
    return out;
}
