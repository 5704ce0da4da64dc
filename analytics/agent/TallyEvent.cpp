#include "analytics/agent/TallyEvent.h"

#include <charconv>
#include <climits>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/delivery/TallyProtocolData.h"

TallyEvent::TallyEvent(std::string name, bool timed, std::optional<Value::Dict> const& parameters,
                       std::shared_ptr<platform::Archivable> transaction)
    : name_(std::move(name)), timed_(timed), transaction_(std::move(transaction)) {
    updateParameters(parameters);
    started_ = TallyClock::now();
    automaticallyEnded_ = false;
    updateID();
}

void TallyEvent::updateID() {
    int const id = TallyAutoIncrement::instance()->nextCountFor(TallyAutoIncrement::kEvents);
    std::lock_guard<std::mutex> lock(mutex_);
    eventLogId_ = id;
}

void TallyEvent::updateParameters(std::optional<Value::Dict> const& incoming) {
    if (!incoming || incoming->empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    Value::Dict merged = parameters_;
    for (auto const& [key, value] : *incoming) {
        bool const kept = value.string() || value.isNumber();
        if (kept) merged[key] = value;
    }
    if (merged.size() > kMaxParameters && !transaction_) return;
    parameters_ = std::move(merged);
}

std::string TallyEvent::descriptionOf(Value const& v) {
    if (v.string()) return *v.string();
    char buf[64];
    if (auto b = v.asBool()) return *b ? "1" : "0";
    if (auto i = v.asInt()) return std::to_string(*i);
    if (auto u = v.asUInt()) return std::to_string(*u);
    if (v.kind() == Value::Kind::Float) {
        auto r = std::to_chars(buf, buf + sizeof buf, static_cast<float>(*v.asDouble()));
        return std::string(buf, r.ptr);
    }
    if (auto d = v.asDouble()) {
        auto r = std::to_chars(buf, buf + sizeof buf, *d);
        return std::string(buf, r.ptr);
    }
    return v.describe();
}

namespace {
std::optional<double> seconds(std::optional<platform::Date> d) {
    return d ? std::optional<double>(d->secondsSince1970) : std::nullopt;
}
}  // namespace

bool TallyEvent::isUnterminated() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return timed_ && !ended_;
}

int64_t TallyEvent::startOffsetFromSessionStart(std::optional<platform::Date> sessionStart) const {
    return TallyProtocolData::timeIntervalFrom(seconds(sessionStart), started().secondsSince1970);
}

int64_t TallyEvent::duration() const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!timed_ || !ended_) return 0;
    return TallyProtocolData::timeIntervalFrom(started_.secondsSince1970, ended_->secondsSince1970);
}

Data TallyEvent::dataRelativeToSessionStart(std::optional<platform::Date> sessionStart) const {
    Value::Dict const params = parameters();
    Data out;
    TallyProtocolData::appendUshort(static_cast<uint16_t>(eventLogId()), out);
    TallyProtocolData::appendString(name_, out);
    TallyProtocolData::appendUshort(static_cast<uint16_t>(params.size()), out);
    for (auto const& [key, value] : params) {
        TallyProtocolData::appendString(key, out);
        TallyProtocolData::appendString(descriptionOf(value), out);
    }
    TallyProtocolData::appendLong(startOffsetFromSessionStart(sessionStart), out);
    TallyProtocolData::appendLong(duration(), out);
    return out;
}

platform::Date TallyEvent::started() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}
void TallyEvent::setStarted(platform::Date d) {
    std::lock_guard<std::mutex> lock(mutex_);
    started_ = d;
}
std::optional<platform::Date> TallyEvent::ended() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return ended_;
}
void TallyEvent::setEnded(std::optional<platform::Date> d) {
    std::lock_guard<std::mutex> lock(mutex_);
    ended_ = d;
}
bool TallyEvent::automaticallyEnded() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return automaticallyEnded_;
}
void TallyEvent::setAutomaticallyEnded(bool a) {
    std::lock_guard<std::mutex> lock(mutex_);
    automaticallyEnded_ = a;
}
Value::Dict TallyEvent::parameters() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return parameters_;
}
int TallyEvent::eventLogId() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return eventLogId_;
}
void TallyEvent::setEventLogId(int id) {
    std::lock_guard<std::mutex> lock(mutex_);
    eventLogId_ = id;
}

void TallyEvent::encodeWith(platform::ArchiveEncoder& e) const {
    std::lock_guard<std::mutex> lock(mutex_);
    e.encode("name", Value(name_));
    e.encode("started", Value(started_));
    if (ended_) e.encode("ended", Value(*ended_));
    e.encode("timed", Value(timed_));
    e.encode("parameters", Value(parameters_));
    e.encode("automaticallyEnded", Value(automaticallyEnded_));
    e.encode("eventLogId", Value(eventLogId_));
    if (transaction_) e.encode("transaction", Value(transaction_));
}

void TallyEvent::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        // Decoded only with the types the event was written with; anything else is no event.
        auto name = d.decodeString("name");
        auto started = d.decodeDate("started");
        auto id = d.decodeInt("eventLogId");
        if (!name || !started || !id || *id < INT_MIN || *id > INT_MAX) return nullptr;
        std::shared_ptr<TallyEvent> e(new TallyEvent());
        e->name_ = *name;
        e->started_ = *started;
        e->ended_ = d.decodeDate("ended");
        e->timed_ = d.decodeBool("timed").value_or(false);
        e->automaticallyEnded_ = d.decodeBool("automaticallyEnded").value_or(false);
        if (auto const* p = d.decodeDict("parameters")) e->parameters_ = *p;
        e->eventLogId_ = static_cast<int>(*id);
        if (auto const* t = d.value("transaction", Value::Kind::Object)) e->transaction_ = t->object();
        return e;
    });
}
