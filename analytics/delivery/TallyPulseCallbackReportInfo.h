#pragma once
// The attempts of one callback within one trigger invocation, as they are reported. The attempt
// list is guarded by the report's own lock: the controller appends to it while the report
// manager writes and prunes it.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "analytics/delivery/TallyPulseCallbackAttemptInfo.h"

class TallyPulseCallbackReportInfo : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseCallbackReportInfo";
    using Attempt = std::shared_ptr<TallyPulseCallbackAttemptInfo>;

    static void registerArchiveClass();
    // Nothing when a stored field has the wrong kind or an attempt does not decode.
    static std::shared_ptr<TallyPulseCallbackReportInfo> initWithCoder(platform::ArchiveDecoder const& decoder);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    // Same fields, a new list holding the same attempts.
    std::shared_ptr<TallyPulseCallbackReportInfo> copy() const;

    // The callback report record over the attempts not in flight; nothing when there is none.
    std::optional<platform::Data> data();
    void setAttemptsSent();
    // Drops the attempts handed over; how many remain.
    uint64_t removeSentAttempts();
    bool finalAttemptMade() const;

    std::vector<Attempt> attempts() const;
    void setAttempts(std::vector<Attempt> attempts);
    void appendAttempt(Attempt attempt);
    // Replaces the first attempt of the same number, or appends.
    void mergeAttempt(Attempt attempt);
    size_t attemptCount() const;

    // Replaced when a session end is processed again, while a report may be written.
    std::string substitutedUrl() const;
    void setSubstitutedUrl(std::string url);

    std::string invokeId;
    int64_t callbackId = 0;

private:
    mutable std::mutex mutex_;
    std::string substitutedUrl_;
    std::vector<Attempt> attempts_;
};
