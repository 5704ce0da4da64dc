#pragma once
// Fetches one file with libcurl (http, https, file URLs) into a cache folder: the bytes go to a
// temporary file that is flushed and renamed into place only when complete, so a half-fetched
// file is never taken for the content. A copy already in place is fetched again only when the
// source is newer than it, and serves on its own while the source cannot be reached.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <string>
#include <thread>

#include "platform/ResourceRequest.h"

namespace platform {

class CurlResourceRequest : public ResourceRequest {
public:
    // A stalled transfer (no byte for this long) fails.
    static constexpr long kStallSeconds = 20;

    CurlResourceRequest(std::string url, std::filesystem::path target);
    // Stops a transfer under way; its completion then does not run.
    ~CurlResourceRequest() override;

    void begin(Progress progress, Completion completion) override;
    double fractionCompleted() const override { return fraction_.load(); }

    // $XDG_CACHE_HOME/zelv/ (or ~/.cache/zelv/).
    static std::filesystem::path cacheFolder();

private:
    void run(Progress progress, Completion completion);
    // Called through libcurl with curl_off_t arguments, which the source checks are int64_t.
    static int onProgress(void* self, int64_t total, int64_t now, int64_t, int64_t);
    static size_t onData(char* data, size_t size, size_t count, void* self);

    std::string url_;
    std::filesystem::path target_;
    std::atomic<double> fraction_{0.0};
    std::atomic<bool> cancel_{false};
    FILE* out_ = nullptr;
    int writeErrno_ = 0;
    Progress progress_;
    std::thread thread_;
};

}  // namespace platform
