#pragma once
// One triggered event and the callback reports of the callbacks it fired. Its list of reports
// is guarded by its own lock; the report manager takes its lock first when it holds both.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/delivery/TallyPulseCallbackReportInfo.h"

class TallyPulseTriggerInvokeInfo : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseTriggerInvokeInfo";
    using Report = std::shared_ptr<TallyPulseCallbackReportInfo>;
    enum TriggerType : int32_t { kOtherEvent = 0, kAppInstall = 1, kSessionStart = 2, kSessionEnd = 3, kLoggedEvent = 4 };

    // Registers the reports and attempts too.
    static void registerArchiveClass();
    static std::shared_ptr<TallyPulseTriggerInvokeInfo> initWithCoder(platform::ArchiveDecoder const& decoder);
    static std::shared_ptr<TallyPulseTriggerInvokeInfo> initWithDictionary(platform::Value::Dict const& dict);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    platform::Value::Dict dataDictionary() const;
    // Same fields; a new list sharing the reports.
    std::shared_ptr<TallyPulseTriggerInvokeInfo> copy() const;

    // The invocation record; nothing when no report has anything to report.
    std::optional<platform::Data> data();
    void setCBAttemptsSent();
    uint64_t removeSentCBAttempts();
    void removeCompletedCallbacks();

    std::vector<Report> callbacks() const;
    void setCallbacks(std::vector<Report> callbacks);
    void appendCallback(Report report);
    uint64_t attemptCount() const;

    bool includesEventTrigger = false;
    int32_t triggerType = 0;
    std::string invokeId;
    double sessionId = 0;
    int64_t sessionOffset = 0;
    int64_t eventOccuranceId = 0;
    std::string eventName;

private:
    mutable std::mutex mutex_;
    std::vector<Report> callbacks_;
};
