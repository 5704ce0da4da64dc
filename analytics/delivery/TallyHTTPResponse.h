#pragma once
// The outcome of one HTTP request as requesters see it: status, body, lower-cased headers and
// the error of a failed request. Responses can be saved to and read back from the files folder.
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/Value.h"

class TallyHTTPResponse {
public:
    using Headers = std::map<std::string, std::string>;
    // What the transport received: the final status line and header fields.
    struct PlatformResponse {
        int64_t statusCode = 0;
        std::vector<std::pair<std::string, std::string>> headerFields;
    };

    // initWithResponse: without a platform response the status stays 0 and body and headers empty.
    static std::shared_ptr<TallyHTTPResponse> initWithResponse(std::optional<PlatformResponse> const& response,
                                                               platform::Data body,
                                                               std::optional<platform::Error> error);
    static std::shared_ptr<TallyHTTPResponse> initWithBody(platform::Data body, int64_t statusCode, Headers const& headers,
                                                           std::optional<platform::Error> error);

    bool isSuccess() const { return statusCode_ >= 200 && statusCode_ <= 399; }
    bool isError() const { return !isSuccess(); }
    std::string description() const;

    // The saved file's path, or nothing when it could not be written.
    std::optional<std::filesystem::path> saveToDisk() const;
    static std::shared_ptr<TallyHTTPResponse> readFromURL(std::filesystem::path const& path);
    static std::filesystem::path filePath(int32_t n);

    platform::Data const& body() const { return body_; }
    int32_t statusCode() const { return statusCode_; }
    std::optional<platform::Error> const& error() const { return error_; }
    Headers const& headers() const { return headers_; }

private:
    int32_t statusCode_ = 0;
    platform::Data body_;
    std::optional<platform::Error> error_;
    Headers headers_;
};
