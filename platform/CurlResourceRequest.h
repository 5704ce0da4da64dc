#pragma once
// Fetches one file with libcurl (http, https, file URLs) into a cache folder: the bytes go to a
// temporary file that is flushed and renamed into place only when complete, so a half-fetched
// file is never taken for the content. A copy already in place is fetched again only when the
// source is newer than it, and serves on its own while the source cannot be reached.
// A body over a size bound, or one that would leave the disk without a reserve, is refused; with
// a check, a fetched file (or a copy in place) that fails it is thrown away and never served.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "platform/ResourceRequest.h"

namespace platform {

class CurlResourceRequest : public ResourceRequest {
public:
    // A stalled transfer (no byte for this long) fails.
    static constexpr long kStallSeconds = 20;

    // Bodies larger than this are refused (an endless source would otherwise fill the disk).
    static constexpr uint64_t kMaxBytes = 64ull << 20;
    // Free space a download leaves on its disk for everything else.
    static constexpr uint64_t kFreeSpaceReserve = 8ull << 20;

    // Whether a file is sound content; why says what is wrong when not.
    using Check = std::function<bool(std::string const& path, std::string* why)>;

    CurlResourceRequest(std::string url, std::filesystem::path target, Check check = nullptr,
                        uint64_t maxBytes = kMaxBytes);
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

    // False (with the reason logged) when the file at path fails the check.
    bool passes(std::filesystem::path const& path, char const* what) const;
    // The bytes free on the target's disk, or UINT64_MAX when that cannot be told.
    uint64_t freeBytes() const;

    std::string url_;
    std::filesystem::path target_;
    Check check_;
    uint64_t maxBytes_;
    uint64_t written_ = 0;
    void* curl_ = nullptr;
    bool tooLarge_ = false;
    std::atomic<double> fraction_{0.0};
    std::atomic<bool> cancel_{false};
    FILE* out_ = nullptr;
    int writeErrno_ = 0;
    Progress progress_;
    std::thread thread_;
};

}  // namespace platform
