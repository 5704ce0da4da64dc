#pragma once
// One logged event of a session: name, parameters (texts and numbers only), start and, for a
// timed event, end; written into the session report relative to the session's start.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"

using platform::Data;
using platform::Value;

class TallyEvent : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyEvent";
    static constexpr size_t kMaxParameters = 10;

    // The transaction is the purchase this event reports (any archivable purchase record).
    TallyEvent(std::string name, bool timed = false, std::optional<Value::Dict> const& parameters = std::nullopt,
               std::shared_ptr<platform::Archivable> transaction = nullptr);
    static void registerArchiveClass();

    void updateID();
    // Merges texts and numbers into the parameters; a merge that would leave more than 10 (without
    // a transaction) is dropped whole.
    void updateParameters(std::optional<Value::Dict> const& parameters);
    Data dataRelativeToSessionStart(std::optional<platform::Date> sessionStart) const;

    bool isUnterminated() const;
    bool isRevenue() const { return transaction_ != nullptr; }
    int64_t startOffsetFromSessionStart(std::optional<platform::Date> sessionStart) const;
    int64_t duration() const;

    std::string const& name() const { return name_; }
    void setName(std::string name) { name_ = std::move(name); }
    platform::Date started() const;
    void setStarted(platform::Date d);
    std::optional<platform::Date> ended() const;
    void setEnded(std::optional<platform::Date> d);
    bool timed() const { return timed_; }
    void setTimed(bool t) { timed_ = t; }
    bool automaticallyEnded() const;
    void setAutomaticallyEnded(bool a);
    Value::Dict parameters() const;
    int eventLogId() const;
    void setEventLogId(int id);
    std::shared_ptr<platform::Archivable> const& transaction() const { return transaction_; }

    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

    // How the phone prints a parameter key or value: texts as they are, numbers in their shortest
    // exact form, bools as 1 and 0.
    static std::string descriptionOf(Value const& v);

private:
    TallyEvent() = default;
    mutable std::mutex mutex_;
    std::string name_;
    platform::Date started_;
    std::optional<platform::Date> ended_;
    bool timed_ = false;
    bool automaticallyEnded_ = false;
    Value::Dict parameters_;
    int eventLogId_ = 0;
    std::shared_ptr<platform::Archivable> transaction_;
};
