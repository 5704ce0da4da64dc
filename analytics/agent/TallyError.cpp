#include "analytics/agent/TallyError.h"

#include <climits>
#include <cstdio>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/delivery/TallyProtocolData.h"

using platform::Value;

TallyError::TallyError()
    : errorID_(TallyAutoIncrement::instance()->nextCountFor(TallyAutoIncrement::kErrors)), date_(TallyClock::now()) {}

std::shared_ptr<TallyError> TallyError::errorWithString(std::optional<std::string> errorString,
                                                        std::optional<std::string> message,
                                                        std::optional<std::string> exceptionString, int errorType,
                                                        Data reportData) {
    auto e = std::make_shared<TallyError>();
    e->errorString_ = std::move(errorString);
    e->errorMessage_ = std::move(message);
    e->exceptionString_ = std::move(exceptionString);
    e->errorType_ = errorType;
    e->reportData_ = std::move(reportData);
    return e;
}

void TallyError::appendToData(Data& data) const {
    TallyProtocolData::appendUshort(static_cast<uint16_t>(errorID_), data);
    TallyProtocolData::appendTimestamp(date_.secondsSince1970, data);
    TallyProtocolData::appendString(errorString_.value_or(""), data);
    TallyProtocolData::appendString(errorMessage_.value_or(""), data);
    TallyProtocolData::appendString(exceptionString_.value_or(""), data);
    TallyProtocolData::appendByte(static_cast<int8_t>(errorType_ & 0xFF), data);
    bool const hasReport = !reportData_.empty();
    TallyProtocolData::appendByte(hasReport ? 1 : 0, data);
    if (hasReport) TallyProtocolData::appendLargeData(reportData_, data);
}

std::string TallyError::description() const {
    auto text = [](std::optional<std::string> const& s) { return s ? *s : std::string("(null)"); };
    return "errorLogId[" + std::to_string(errorID_) + "] errorTime[" + Value(date_).describe() + "] errorId[" +
           text(errorString_) + "] errorMessage[" + text(errorMessage_) + "] exception[" + text(exceptionString_) +
           "] type[" + std::to_string(errorType_) + "]";
}

void TallyError::encodeWith(platform::ArchiveEncoder& e) const {
    e.encode("errorID", Value(errorID_));
    e.encode("date", Value(date_));
    if (errorString_) e.encode("errorString", Value(*errorString_));
    if (errorMessage_) e.encode("errorMessage", Value(*errorMessage_));
    if (exceptionString_) e.encode("exceptionString", Value(*exceptionString_));
    e.encode("errorType", Value(errorType_));
    e.encode("reportData", Value(reportData_));
}

void TallyError::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        auto id = d.decodeInt("errorID");
        auto date = d.decodeDate("date");
        auto type = d.decodeInt("errorType");
        if (!id || !date || !type || *id < INT_MIN || *id > INT_MAX || *type < INT_MIN || *type > INT_MAX)
            return nullptr;
        auto e = std::shared_ptr<TallyError>(new TallyError(Decoded{}));
        e->errorID_ = static_cast<int>(*id);
        e->date_ = *date;
        e->errorType_ = static_cast<int>(*type);
        e->errorString_ = d.decodeString("errorString");
        e->errorMessage_ = d.decodeString("errorMessage");
        e->exceptionString_ = d.decodeString("exceptionString");
        e->reportData_ = d.decodeData("reportData").value_or(Data{});
        return e;
    });
}
