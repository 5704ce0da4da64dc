#pragma once
// One error the application reported, with an optional live crash report.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"

using platform::Data;

class TallyError : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyError";
    // A new error with the next error ID and the current date.
    TallyError();
    static std::shared_ptr<TallyError> errorWithString(std::optional<std::string> errorString,
                                                       std::optional<std::string> message,
                                                       std::optional<std::string> exceptionString, int errorType,
                                                       Data reportData);
    static void registerArchiveClass();

    void appendToData(Data& data) const;
    std::string description() const;

    int errorID() const { return errorID_; }
    void setErrorID(int id) { errorID_ = id; }
    int errorType() const { return errorType_; }
    void setErrorType(int t) { errorType_ = t; }
    platform::Date date() const { return date_; }
    void setDate(platform::Date d) { date_ = d; }
    std::optional<std::string> const& errorString() const { return errorString_; }
    void setErrorString(std::optional<std::string> s) { errorString_ = std::move(s); }
    std::optional<std::string> const& errorMessage() const { return errorMessage_; }
    void setErrorMessage(std::optional<std::string> s) { errorMessage_ = std::move(s); }
    std::optional<std::string> const& exceptionString() const { return exceptionString_; }
    void setExceptionString(std::optional<std::string> s) { exceptionString_ = std::move(s); }
    Data const& reportData() const { return reportData_; }
    void setReportData(Data d) { reportData_ = std::move(d); }

    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;

private:
    struct Decoded {};
    explicit TallyError(Decoded) {}
    int errorID_ = 0;
    int errorType_ = 0;
    platform::Date date_;
    std::optional<std::string> errorString_, errorMessage_, exceptionString_;
    Data reportData_;
};
