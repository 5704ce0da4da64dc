#include "analytics/delivery/TallyHTTPResponse.h"

#include <algorithm>
#include <cctype>
#include <ctime>
#include <limits>

#include "analytics/agent/TallyUtil.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"

namespace {

int32_t clampStatus(int64_t status) {
    return int32_t(std::clamp<int64_t>(status, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

std::string lowerCase(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
}

}  // namespace

std::shared_ptr<TallyHTTPResponse> TallyHTTPResponse::initWithResponse(std::optional<PlatformResponse> const& response,
                                                                       platform::Data body,
                                                                       std::optional<platform::Error> error) {
    auto r = std::make_shared<TallyHTTPResponse>();
    if (response) {
        r->body_ = std::move(body);
        r->statusCode_ = clampStatus(response->statusCode);
        // Repeated fields are joined the way the platform joins them.
        for (auto const& [name, value] : response->headerFields) {
            auto [it, fresh] = r->headers_.emplace(lowerCase(name), value);
            if (!fresh) it->second += ", " + value;
        }
    }
    r->error_ = std::move(error);
    return r;
}

std::shared_ptr<TallyHTTPResponse> TallyHTTPResponse::initWithBody(platform::Data body, int64_t statusCode,
                                                                   Headers const& headers,
                                                                   std::optional<platform::Error> error) {
    auto r = std::make_shared<TallyHTTPResponse>();
    r->body_ = std::move(body);
    r->statusCode_ = clampStatus(statusCode);
    for (auto const& [name, value] : headers) r->headers_[lowerCase(name)] = value;
    r->error_ = std::move(error);
    return r;
}

std::string TallyHTTPResponse::description() const {
    std::string text = "status:" + std::to_string(statusCode_) + " error:" + (error_ ? error_->description() : "(null)") +
                       " body:" + std::string(body_.begin(), body_.end());
    return text;
}

std::filesystem::path TallyHTTPResponse::filePath(int32_t n) {
    std::string const name = "tallyResponse" + std::to_string(n);
    if (TallyUtil::getSystemVersionAsAnInteger() < 50100) {
        platform::Directories::create(platform::Directories::caches());
        return platform::Directories::caches() / name;
    }
    std::filesystem::path const folder = platform::Directories::applicationSupport() / "TallyFiles";
    platform::Directories::create(folder);
    TallyUtil::addSkipBackupAttributeToItemAtURL(folder);
    return folder / name;
}

std::optional<std::filesystem::path> TallyHTTPResponse::saveToDisk() const {
    int32_t const n = int32_t(uint32_t(uint64_t(std::time(nullptr))));
    platform::Value::Dict headers;
    for (auto const& [name, value] : headers_) headers[name] = value;
    platform::Value::Dict plist{{"statusCode", platform::Value(statusCode_)},
                                {"body", platform::Value(body_)},
                                {"headers", platform::Value(std::move(headers))}};
    std::filesystem::path const path = filePath(n);
    if (!platform::KeyedArchive::writeToFile(platform::Value(std::move(plist)), path)) return std::nullopt;
    TallyUtil::addSkipBackupAttributeToItemAtURL(path);
    return path;
}

std::shared_ptr<TallyHTTPResponse> TallyHTTPResponse::readFromURL(std::filesystem::path const& path) {
    auto read = platform::KeyedArchive::readFromFile(path);
    if (read.status != platform::KeyedArchive::ReadResult::Read) return nullptr;
    platform::Value const& root = read.value;
    platform::Data body;
    if (auto const* b = root.find("body"); b && b->data()) body = *b->data();
    int64_t status = 0;
    if (auto const* s = root.find("statusCode")) status = s->toInt64().value_or(0);
    Headers headers;
    if (auto const* h = root.find("headers"); h && h->dict())
        for (auto const& [name, value] : *h->dict())
            if (value.string()) headers[name] = *value.string();
    return initWithBody(std::move(body), status, headers, std::nullopt);
}
