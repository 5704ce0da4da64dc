#include "platform/CurlResourceRequest.h"

#include "platform/base/AlternateSignalStack.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"

#include <curl/curl.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <type_traits>

namespace platform {

namespace {

void curlOnce() {
    static bool const ready = (keepCryptoUntilProcessEnd(), curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK);
    (void)ready;
}

// A file-size limit (EFBIG) stops a write as a full disk or a quota does.
bool outOfSpace(int error) { return error == ENOSPC || error == EDQUOT || error == EFBIG; }

}  // namespace

CurlResourceRequest::CurlResourceRequest(std::string url, std::filesystem::path target, Check check,
                                         uint64_t maxBytes)
    : url_(std::move(url)), target_(std::move(target)), check_(std::move(check)), maxBytes_(maxBytes) {}

CurlResourceRequest::~CurlResourceRequest() {
    cancel_ = true;
    if (thread_.joinable()) thread_.join();
}

std::filesystem::path CurlResourceRequest::cacheFolder() { return Directories::cacheHome() / "zelv"; }

void CurlResourceRequest::begin(Progress progress, Completion completion) {
    if (thread_.joinable()) return;
    curlOnce();
    try {
        thread_ = std::thread([this, progress, completion] {
            AlternateSignalStack::installForThisThread();
            run(progress, completion);
        });
    } catch (std::system_error const& e) {
        std::fprintf(stderr, "Download: cannot start its thread: %s\n", e.what());
        completion(kDownloadFailed, std::string());
    }
}

// A callback of another type would be called through the wrong function type.
static_assert(std::is_same_v<curl_off_t, int64_t>);

int CurlResourceRequest::onProgress(void* p, int64_t total, int64_t now, int64_t, int64_t) {
    auto* self = static_cast<CurlResourceRequest*>(p);
    if (self->cancel_) return 1;
    if (total > 0) {
        double f = double(now) / double(total);
        if (f != self->fraction_.load()) {
            self->fraction_ = f;
            if (self->progress_) self->progress_(f);
        }
    }
    return 0;
}

uint64_t CurlResourceRequest::freeBytes() const {
    struct statvfs vfs {};
    if (statvfs(target_.parent_path().c_str(), &vfs) != 0) return std::numeric_limits<uint64_t>::max();
    return uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize);
}

bool CurlResourceRequest::passes(std::filesystem::path const& path, char const* what) const {
    std::string why;
    if (!check_ || check_(path.string(), &why)) return true;
    std::fprintf(stderr, "Download: %s %s is damaged (%s); it is deleted\n", what, path.c_str(), why.c_str());
    return false;
}

size_t CurlResourceRequest::onData(char* data, size_t size, size_t count, void* p) {
    auto* self = static_cast<CurlResourceRequest*>(p);
    size_t const n = size * count;
    if (n > self->maxBytes_ - std::min(self->written_, self->maxBytes_)) {
        self->tooLarge_ = true;
        return 0;  // fails the transfer
    }
    // The disk is measured at the start and at every MiB: a body that would leave it without
    // its reserve is refused as out of space before it fills it.
    uint64_t const mib = 1u << 20;
    if (self->written_ == 0 || (self->written_ + n) / mib != self->written_ / mib) {
        curl_off_t total = -1;
        if (self->curl_) curl_easy_getinfo(static_cast<CURL*>(self->curl_), CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &total);
        uint64_t const still = total > 0 && uint64_t(total) > self->written_ ? uint64_t(total) - self->written_ : n;
        uint64_t const available = self->freeBytes();
        if (available < kFreeSpaceReserve || std::max<uint64_t>(still, n) > available - kFreeSpaceReserve) {
            self->writeErrno_ = ENOSPC;
            return 0;
        }
    }
    self->written_ += n;
    if (std::fwrite(data, 1, n, self->out_) != n || std::fflush(self->out_) != 0) {
        self->writeErrno_ = errno;
        return 0;  // fails the transfer
    }
    return n;
}

void CurlResourceRequest::run(Progress progress, Completion completion) {
    std::error_code ec;
    // A copy from an earlier run is fetched again only when the source is newer, and serves
    // while the source cannot be reached.
    bool cached = std::filesystem::is_regular_file(target_, ec);
    // Anything else under the copy's name (a folder, a pipe) is not a copy and would refuse the
    // rename for ever; the cache folder is ours, so it goes.
    if (!cached && std::filesystem::symlink_status(target_, ec).type() != std::filesystem::file_type::not_found &&
        !ec) {
        std::fprintf(stderr, "Download: %s is not a file; it is removed\n", target_.c_str());
        std::filesystem::remove_all(target_, ec);
        if (ec) std::fprintf(stderr, "Download: cannot remove %s: %s\n", target_.c_str(), ec.message().c_str());
    }
    // A damaged copy from an earlier run (cut off, flipped bytes) would be served for ever.
    if (cached && !passes(target_, "the copy in place")) {
        std::filesystem::remove(target_, ec);
        cached = false;
    }
    struct stat cachedStat {};
    if (cached && stat(target_.c_str(), &cachedStat) != 0) cachedStat.st_mtime = 0;
    auto useCached = [&] {
        fraction_ = 1.0;
        if (!cancel_) completion(0, target_.string());
    };
    std::error_code folderError;
    std::filesystem::create_directories(target_.parent_path(), folderError);
    std::filesystem::path const part = target_.string() + ".part";
    // Whatever a killed run left under the part name goes; the new one is made afresh, so a pipe
    // or a link there is never written through.
    std::filesystem::remove_all(part, ec);
    out_ = std::fopen(part.c_str(), "wbx");
    if (!out_) {
        int e = errno;
        // A folder that could not be made (a read-only disk) is the reason, not its absence.
        if (e == ENOENT && folderError) e = folderError.value();
        if (cached) return useCached();
        std::fprintf(stderr, "Download: cannot write %s: %s\n", part.c_str(), std::strerror(e));
        if (!cancel_) completion(outOfSpace(e) ? kOutOfSpace : kDownloadFailed, std::string());
        return;
    }
    progress_ = std::move(progress);
    written_ = 0;
    tooLarge_ = false;
    CURL* curl = curl_easy_init();
    curl_ = curl;
    CURLcode result = CURLE_FAILED_INIT;
    bool notModified = false;
    curl_off_t sourceTime = -1;
    if (curl) {
        curl_easy_setopt(curl, CURLOPT_URL, url_.c_str());
        curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(curl, CURLOPT_FAILONERROR, 1L);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT, 15L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(curl, CURLOPT_LOW_SPEED_TIME, kStallSeconds);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, &CurlResourceRequest::onData);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, &CurlResourceRequest::onProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, this);
        curl_easy_setopt(curl, CURLOPT_FILETIME, 1L);
        curl_easy_setopt(curl, CURLOPT_MAXFILESIZE_LARGE, curl_off_t(maxBytes_));
        if (cached) {
            curl_easy_setopt(curl, CURLOPT_TIMECONDITION, long(CURL_TIMECOND_IFMODSINCE));
            curl_easy_setopt(curl, CURLOPT_TIMEVALUE_LARGE, curl_off_t(cachedStat.st_mtime));
        }
        result = curl_easy_perform(curl);
        if (result == CURLE_OK) {
            long unmet = 0;
            curl_easy_getinfo(curl, CURLINFO_CONDITION_UNMET, &unmet);
            notModified = unmet != 0;
            curl_easy_getinfo(curl, CURLINFO_FILETIME_T, &sourceTime);
        }
        curl_easy_cleanup(curl);
        curl_ = nullptr;
    }
    bool ok = result == CURLE_OK;
    if (ok && (fsync(fileno(out_)) != 0)) {
        writeErrno_ = errno;
        ok = false;
    }
    if (std::fclose(out_) != 0 && ok) {
        writeErrno_ = errno;
        ok = false;
    }
    out_ = nullptr;
    if (ok && notModified && cached) {
        std::filesystem::remove(part, ec);
        return useCached();
    }
    bool reported = false;
    if (ok && !passes(part, "the fetched file")) {
        ok = false;
        reported = true;
    }
    if (ok) {
        // The copy carries the source's time, for the next run's comparison.
        if (sourceTime >= 0) {
            timespec times[2] = {{time_t(sourceTime), 0}, {time_t(sourceTime), 0}};
            utimensat(AT_FDCWD, part.c_str(), times, 0);
        }
        std::filesystem::rename(part, target_, ec);
        if (ec) {
            ok = false;
            reported = true;  // said here: the fetch itself went well
            std::fprintf(stderr, "Download: cannot put the fetched file in place as %s: %s\n", target_.c_str(),
                         ec.message().c_str());
        }
    }
    if (!ok) {
        std::filesystem::remove(part, ec);
        int error = kDownloadFailed;
        if (outOfSpace(writeErrno_))
            error = kOutOfSpace;
        else if (result == CURLE_COULDNT_RESOLVE_HOST || result == CURLE_COULDNT_CONNECT ||
                 result == CURLE_COULDNT_RESOLVE_PROXY)
            error = kNetworkUnavailable;
        if (tooLarge_ || result == CURLE_FILESIZE_EXCEEDED)
            std::fprintf(stderr, "Download of %s failed: larger than %llu bytes\n", url_.c_str(),
                         static_cast<unsigned long long>(maxBytes_));
        else if (writeErrno_)
            std::fprintf(stderr, "Download: cannot write %s: %s\n", part.c_str(), std::strerror(writeErrno_));
        else if (!reported)
            std::fprintf(stderr, "Download of %s failed: %s\n", url_.c_str(), curl_easy_strerror(result));
        if (cached) return useCached();
        if (!cancel_) completion(error, std::string());
        return;
    }
    // The folder entry of the rename must survive a power loss too.
    int dir = open(target_.parent_path().c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        fsync(dir);
        close(dir);
    }
    fraction_ = 1.0;
    if (!cancel_) completion(0, target_.string());
}

}  // namespace platform
