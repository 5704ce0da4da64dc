// The real download: "pak1" fetched with libcurl from a loopback HTTP server and from a file://
// URL into the cache folder, and a server that vanishes mid-transfer pauses the download until
// the retry fetches it. Endless, oversized and damaged sources are refused and never kept.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <chrono>
#include <fstream>
#include <iterator>
#include <optional>
#include <thread>

#include "os/MemoryMappedZipFile.h"
#include "os/services/PlatformServices.h"
#include "os/tests/ZipWriter.h"
#include "os/shell/MainQueue.h"
#include "os/shell/OnDemandDownload.h"
#include "platform/CurlResourceRequest.h"
#include "testing/TestPaths.h"

namespace {

// A listening-ready socket on a free loopback port.
int loopbackSocket(int& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    port = ntohs(addr.sin_port);
    return fd;
}

// Serves one body to every request, dated long ago, and answers "not modified" to a request that
// asks since when; while `cut` is set, closes the connection halfway through.
class LoopbackServer {
public:
    explicit LoopbackServer(std::string body) : body_(std::move(body)) {
        fd_ = loopbackSocket(port_);
        listen(fd_, 8);
        thread_ = std::thread([this] { serve(); });
    }
    ~LoopbackServer() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/pak1.pak"; }
    std::atomic<bool> cut{false};
    std::atomic<int> requests{0};

private:
    void serve() {
        while (!stop_) {
            int c = accept(fd_, nullptr, nullptr);
            if (c < 0) return;
            ++requests;
            char buf[4096];
            ssize_t got = recv(c, buf, sizeof buf, 0);
            std::string const request(buf, size_t(std::max<ssize_t>(got, 0)));
            if (request.find("If-Modified-Since:") != std::string::npos) {
                std::string const notModified = "HTTP/1.1 304 Not Modified\r\nConnection: close\r\n\r\n";
                send(c, notModified.data(), notModified.size(), MSG_NOSIGNAL);
                close(c);
                continue;
            }
            std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body_.size()) +
                               "\r\nLast-Modified: Tue, 01 Mar 2016 12:00:00 GMT\r\nConnection: close\r\n\r\n";
            size_t const n = cut ? body_.size() / 2 : body_.size();
            std::string out = head + body_.substr(0, n);
            send(c, out.data(), out.size(), MSG_NOSIGNAL);
            close(c);
        }
    }
    std::string body_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::string readAll(std::filesystem::path const& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

struct Fetch {
    testing_support::TempDir cache;
    os::MainQueue queue;
    std::vector<std::string> mounted;
    std::string url;
    platform::CurlResourceRequest::Check check;
    uint64_t maxBytes = platform::CurlResourceRequest::kMaxBytes;
    std::filesystem::path target = cache / "pak1.pak";
    os::OnDemandDownload download{
        [this] { return std::make_unique<platform::CurlResourceRequest>(url, target, check, maxBytes); },
        [this](std::string const& p) { mounted.push_back(p); }, queue};

    // Runs the main queue until the state is `state` (or 10 s pass).
    bool waitFor(int state, int64_t skewMs = 0) {
        for (int i = 0; i < 1000; ++i) {
            queue.drain(nowMs() + skewMs);
            if (download.currDownloadState() == state) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
};

std::string payload() {
    std::string body(3 << 20, '\0');
    for (size_t i = 0; i < body.size(); ++i) body[i] = char((i * 2654435761u) >> 13);
    return body;
}

TEST(Download, FetchesFromALoopbackServerAndMounts) {
    std::string const body = payload();
    LoopbackServer server(body);
    Fetch f;
    f.url = server.url();
    f.download.start();
    ASSERT_TRUE(f.waitFor(4));
    EXPECT_FLOAT_EQ(f.download.currDownloadProgress(), 1.0f);
    ASSERT_EQ(f.mounted.size(), 1u);
    EXPECT_EQ(readAll(f.mounted[0]) == body, true);
    EXPECT_FALSE(std::filesystem::exists(f.cache / "pak1.pak.part"));
    // Already fetched and not changed since: the server is asked, the copy is kept.
    auto const fetched = std::filesystem::last_write_time(f.cache / "pak1.pak");
    f.download.start();
    ASSERT_TRUE(f.waitFor(4));
    EXPECT_EQ(server.requests, 2);
    EXPECT_EQ(std::filesystem::last_write_time(f.cache / "pak1.pak"), fetched);
}

TEST(Download, FetchesFromAFileUrl) {
    testing_support::TempDir source;
    std::string const body = payload().substr(0, 100000);
    std::ofstream(source / "pak1.pak", std::ios::binary) << body;
    Fetch f;
    f.url = "file://" + (source / "pak1.pak").string();
    f.download.start();
    ASSERT_TRUE(f.waitFor(4));
    EXPECT_EQ(readAll(f.cache / "pak1.pak"), body);
    // A newer source replaces the copy; without a source the copy serves.
    std::ofstream(source / "pak1.pak", std::ios::binary | std::ios::trunc) << "newer";
    std::filesystem::last_write_time(source / "pak1.pak",
                                     std::filesystem::last_write_time(source / "pak1.pak") + std::chrono::hours(1));
    f.download.start();
    ASSERT_TRUE(f.waitFor(4));
    EXPECT_EQ(readAll(f.cache / "pak1.pak"), "newer");
    std::filesystem::remove(source / "pak1.pak");
    f.download.start();
    ASSERT_TRUE(f.waitFor(4));
    EXPECT_EQ(readAll(f.cache / "pak1.pak"), "newer");

    Fetch missing;
    missing.url = "file://" + (source / "nothing.pak").string();
    missing.download.start();
    ASSERT_TRUE(missing.waitFor(1));
    EXPECT_EQ(missing.download.currDownloaderPausedReason(), 0);
    EXPECT_FALSE(std::filesystem::exists(missing.cache / "pak1.pak"));
}

TEST(Download, ServerVanishingMidwayPausesAndTheRetryFetches) {
    std::string const body = payload();
    LoopbackServer server(body);
    server.cut = true;
    Fetch f;
    f.url = server.url();
    f.download.start();
    ASSERT_TRUE(f.waitFor(1));
    EXPECT_EQ(f.download.currDownloaderPausedReason(), 0);
    EXPECT_FALSE(std::filesystem::exists(f.cache / "pak1.pak"));
    EXPECT_FALSE(std::filesystem::exists(f.cache / "pak1.pak.part"));
    EXPECT_TRUE(f.mounted.empty());
    // Nothing happens before the ten seconds are up.
    f.queue.drain(nowMs() + 5000);
    EXPECT_EQ(f.download.currDownloadState(), 1);
    server.cut = false;
    ASSERT_TRUE(f.waitFor(4, os::OnDemandDownload::kRetryDelayMs + 100));
    EXPECT_EQ(readAll(f.cache / "pak1.pak") == body, true);
    EXPECT_GE(server.requests, 2);
}

TEST(Download, UnreachableHostFailsAsNoNetwork) {
    // A port nobody listens on.
    int port = 0;
    close(loopbackSocket(port));
    testing_support::TempDir cache;
    platform::CurlResourceRequest r("http://127.0.0.1:" + std::to_string(port) + "/x",
                                    cache / "pak1.pak");
    std::atomic<int> error{1};
    std::atomic<bool> done{false};
    r.begin(nullptr, [&](int e, std::string const&) {
        error = e;
        done = true;
    });
    for (int i = 0; i < 500 && !done; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(done);
    EXPECT_EQ(error, platform::ResourceRequest::kNetworkUnavailable);
}

// The paused state with its reason, a retry coming, and nothing of the body left behind.
void expectRefused(Fetch& f, int reason, char const* what) {
    ASSERT_TRUE(f.waitFor(1)) << what;
    EXPECT_EQ(f.download.currDownloaderPausedReason(), reason) << what;
    EXPECT_FALSE(std::filesystem::exists(f.cache / "pak1.pak")) << what;
    EXPECT_FALSE(std::filesystem::exists(f.cache / "pak1.pak.part")) << what;
    EXPECT_TRUE(f.mounted.empty()) << what;
}

TEST(Download, EndlessOversizedOrTooBigForTheDiskBodiesAreRefused) {
    {
        Fetch f;
        f.url = "file:///dev/zero";
        f.maxBytes = 1 << 20;
        f.download.start();
        expectRefused(f, 0, "endless file");
        // The retry comes as for any failure; failing again, the next one waits twice as long.
        f.queue.drain(nowMs() + os::OnDemandDownload::kRetryDelayMs + 100);
        EXPECT_EQ(f.download.currDownloadState(), 0);
        expectRefused(f, 0, "endless file again");
        f.queue.drain(nowMs() + os::OnDemandDownload::kRetryDelayMs + 100);
        EXPECT_EQ(f.download.currDownloadState(), 1);
        f.queue.drain(nowMs() + 2 * os::OnDemandDownload::kRetryDelayMs + 100);
        EXPECT_EQ(f.download.currDownloadState(), 0);
    }
    LoopbackServer server(payload());
    {
        Fetch f;
        f.url = server.url();
        f.maxBytes = 1 << 20;  // the server announces 3 MiB
        f.download.start();
        expectRefused(f, 0, "announced size over the bound");
    }
    if (geteuid() != 0) GTEST_SKIP() << "not root: cannot mount a small tmpfs for the disk-space case";
    testing_support::TempDir small;
    if (mount("tmpfs", small.path().c_str(), "tmpfs", 0, "size=10m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs: " << std::strerror(errno);
    {
        // 3 MiB would fit, but not with the reserve left for everything else on the disk.
        Fetch f;
        f.url = server.url();
        f.target = small / "cache" / "pak1.pak";
        f.download.start();
        ASSERT_TRUE(f.waitFor(1));
        EXPECT_EQ(f.download.currDownloaderPausedReason(), 2);
        EXPECT_FALSE(std::filesystem::exists(f.target.string() + ".part"));
        EXPECT_TRUE(f.mounted.empty());
    }
    umount2(small.path().c_str(), MNT_DETACH);
}

TEST(Download, DamagedArchivesAreNeverKeptOrMountedAndADamagedCopyIsFetchedAgain) {
    testing_support::TempDir source;
    std::string const good = ziptest::build({{"images/a.png", payload().substr(0, 5000)}, {"b.txt", "pak1"}});
    std::string flipped = good;
    flipped[100] ^= 0x01;  // inside the first entry's bytes
    auto writeSource = [&](std::string const& bytes) {
        std::ofstream(source / "pak1.pak", std::ios::binary | std::ios::trunc) << bytes;
    };
    auto archiveCheck = [](std::string const& path, std::string* why) {
        return MemoryMappedZipFile::check(path, true, why);
    };
    for (auto const& [bytes, what] : {std::pair{good.substr(0, good.size() - 10), "truncated"},
                                      std::pair{flipped, "flipped"}, std::pair{payload().substr(0, 9000), "random"}}) {
        Fetch f;
        f.url = "file://" + (source / "pak1.pak").string();
        f.check = archiveCheck;
        writeSource(bytes);
        f.download.start();
        expectRefused(f, 0, what);
        // Mended at the source: the retry fetches and mounts it.
        writeSource(good);
        ASSERT_TRUE(f.waitFor(4, os::OnDemandDownload::kRetryDelayMs + 100)) << what;
        EXPECT_EQ(readAll(f.cache / "pak1.pak"), good) << what;
    }
    // A damaged copy in place, newer than the source (so not fetched for its age), is replaced.
    Fetch f;
    f.url = "file://" + (source / "pak1.pak").string();
    f.check = archiveCheck;
    std::ofstream(f.cache / "pak1.pak", std::ios::binary) << flipped;
    std::filesystem::last_write_time(f.cache / "pak1.pak",
                                     std::filesystem::last_write_time(source / "pak1.pak") + std::chrono::hours(1));
    f.download.start();
    ASSERT_TRUE(f.waitFor(4));
    EXPECT_EQ(readAll(f.cache / "pak1.pak"), good);
    // With the source gone, a damaged copy is not served either.
    std::ofstream(f.cache / "pak1.pak", std::ios::binary | std::ios::trunc) << good.substr(0, 200);
    std::filesystem::remove(source / "pak1.pak");
    f.mounted.clear();
    f.download.start();
    expectRefused(f, 0, "damaged copy without a source");
}

// The cache folder follows the XDG rules: a relative XDG_CACHE_HOME is ignored, and without HOME
// the account's own home is used, never the shared temporary folder.
TEST(Download, CacheFolderIgnoresRelativeXdgAndNeverFallsBackToTmp) {
    struct Saved {
        char const* name;
        std::optional<std::string> value;
    };
    std::vector<Saved> saved;
    for (char const* name : {"XDG_CACHE_HOME", "HOME"}) {
        char const* v = std::getenv(name);
        saved.push_back({name, v ? std::optional<std::string>(v) : std::nullopt});
    }
    passwd const* pw = getpwuid(getuid());
    ASSERT_TRUE(pw && pw->pw_dir);
    std::string const account = pw->pw_dir;

    setenv("XDG_CACHE_HOME", "relative/cache", 1);
    setenv("HOME", "/some/home", 1);
    EXPECT_EQ(platform::CurlResourceRequest::cacheFolder(), std::filesystem::path("/some/home/.cache/zelv"));
    unsetenv("HOME");
    EXPECT_EQ(platform::CurlResourceRequest::cacheFolder(), std::filesystem::path(account) / ".cache" / "zelv");
    setenv("XDG_CACHE_HOME", "/abs/cache", 1);
    EXPECT_EQ(platform::CurlResourceRequest::cacheFolder(), std::filesystem::path("/abs/cache/zelv"));

    for (auto const& s : saved) {
        if (s.value)
            setenv(s.name, s.value->c_str(), 1);
        else
            unsetenv(s.name);
    }
}

}  // namespace
