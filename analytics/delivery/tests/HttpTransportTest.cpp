// The transport against the loopback server: end calls, statuses, redirects under the limit and
// the hard cap, refused schemes and header lines, certificate checks, time-outs, reply caps,
// deadlines and cancels.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <functional>
#include <future>

#include "analytics/delivery/HttpNetworkThread.h"
#include "analytics/delivery/TallyHttpAsyncTask.h"
#include "analytics/delivery/TallyHttpAsyncURLSessionTask.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/tests/HttpRecorder.h"
#include "analytics/delivery/tests/NetworkFakes.h"
#include "platform/base/Directories.h"
#include "platform/base/SdkLoop.h"
#include "testing/HttpTestServer.h"
#include "testing/TestPaths.h"

namespace {

using delivery_test::HttpRecorder;
using testing_support::HttpTestServer;
using Reply = HttpTestServer::Reply;
using namespace std::chrono_literals;

ITallyHttpAsyncTaskClass const& connection() { return TallyHttpAsyncTask::taskClass(); }
ITallyHttpAsyncTaskClass const& session() { return TallyHttpAsyncURLSessionTask::taskClass(); }

struct Sent {
    std::shared_ptr<ITallyHttpAsyncTask> task;
    std::shared_ptr<HttpRecorder> recorder = std::make_shared<HttpRecorder>();
    HttpRecorder::Call end;
};

Sent send(ITallyHttpAsyncTaskClass const& cls, std::string const& method, std::string const& url,
          ITallyHttpAsyncTask::HeaderFields headers = {}, std::string const& body = {}, int32_t redirectsLimit = 0,
          double timeout = 10.0) {
    Sent s;
    s.task = cls.sendMethod(method, url, platform::Data(body.begin(), body.end()), headers, timeout, 4, s.recorder, false);
    s.task->setRedirectsLimit(redirectsLimit);
    s.task->startInRunLoop(platform::SdkLoop::shared());
    s.end = s.recorder->waitEnd();
    return s;
}

std::string text(platform::Data const& d) { return std::string(d.begin(), d.end()); }

TEST(HttpTransportTest, OneEndCallPerRequestOnTheSdkLoop) {
    HttpTestServer server;
    Reply typed = Reply::answer(200, "hello");
    typed.headers = {{"Content-Type", "text/plain"}, {"X-Multi", "a"}, {"x-multi", "b"}};
    typed.delayInside = 50ms;
    server.on("/ok", typed);
    server.on("/empty", Reply::answer(204));
    server.on("/notmodified", Reply::answer(304));
    server.on("/error", Reply::answer(503, "busy"));
    Reply partial = Reply::answer(200, std::string(1000, 'p'));
    partial.kind = Reply::Kind::PartialBodyThenClose;
    server.on("/partial", partial);

    struct Case {
        std::string path;
        std::string end;
        int32_t status;
        bool isSuccess;
        std::optional<std::string> lastErrorDomain;
    };
    Case const cases[] = {
        {"/ok", "success", 200, true, std::nullopt},
        {"/empty", "success", 204, true, std::nullopt},
        {"/notmodified", "fail", 304, true, "Failed to load url"},
        {"/error", "fail", 503, false, "Failed to load url"},
        {"/partial", "fail", 200, true, "NSURLErrorDomain"},
    };
    std::thread::id loopThread;
    platform::SdkLoop::shared().post([&] { loopThread = std::this_thread::get_id(); });
    platform::SdkLoop::shared().waitUntilIdle();
    for (auto const& c : cases) {
        Sent s = send(connection(), "GET", server.url(c.path));
        ASSERT_EQ(s.end.kind, c.end) << c.path;
        EXPECT_EQ(s.end.response->statusCode(), c.status) << c.path;
        EXPECT_EQ(s.end.response->isSuccess(), c.isSuccess) << c.path;
        EXPECT_EQ(s.end.thread, loopThread) << c.path;
        auto last = TallyNetworkUtil::lastNetworkOperationError();
        EXPECT_EQ(last ? std::optional<std::string>(last->domain) : std::nullopt, c.lastErrorDomain) << c.path;
        if (c.path == "/ok") {
            EXPECT_EQ(text(s.end.response->body()), "hello");
            EXPECT_EQ(s.end.response->headers().at("content-type"), "text/plain");
            EXPECT_EQ(s.end.response->headers().at("x-multi"), "a, b");
            EXPECT_FALSE(s.end.response->error());
        }
        if (c.lastErrorDomain && *c.lastErrorDomain == "Failed to load url") {
            EXPECT_FALSE(s.end.response->error()) << c.path;
        }
        std::this_thread::sleep_for(20ms);
        EXPECT_EQ(s.recorder->calls().size(), 1u) << c.path;
    }

    // Nothing listens on a port just closed: an error, no response.
    Sent refused = send(connection(), "GET", delivery_test::closedLoopbackUrl("/"));
    ASSERT_EQ(refused.end.kind, "fail");
    EXPECT_EQ(refused.end.response->statusCode(), 0);
    EXPECT_TRUE(refused.end.response->isError());
    EXPECT_TRUE(refused.end.response->headers().empty());
    ASSERT_TRUE(refused.end.response->error());
    EXPECT_EQ(refused.end.response->error()->code, -1004);
}

TEST(HttpTransportTest, RedirectsAreCountedCappedAndResolved) {
    HttpTestServer server;
    for (int i = 1; i <= 3; ++i) server.on("/r" + std::to_string(i), Reply::redirect(302, "r" + std::to_string(i + 1)));
    server.on("/r4", Reply::answer(200, "end"));
    server.on("/loop", Reply::redirect(302, "/loop"));
    server.on("/nowhere", Reply::redirect(302, ""));

    Sent two = send(connection(), "GET", server.url("/r1"), {}, {}, 2);
    ASSERT_EQ(two.end.kind, "fail");
    EXPECT_EQ(two.end.response->statusCode(), 302);
    EXPECT_TRUE(two.end.response->isSuccess());
    EXPECT_EQ(two.task->redirectsCount(), 2);
    EXPECT_EQ(server.requestCount(), 3u);

    Sent three = send(connection(), "GET", server.url("/r1"), {}, {}, 3);
    ASSERT_EQ(three.end.kind, "success");
    EXPECT_EQ(text(three.end.response->body()), "end");
    EXPECT_EQ(three.task->redirectsCount(), 3);

    // A redirect without a place to go ends the request with itself.
    Sent nowhere = send(connection(), "GET", server.url("/nowhere"));
    EXPECT_EQ(nowhere.end.kind, "fail");
    EXPECT_EQ(nowhere.end.response->statusCode(), 302);
    EXPECT_EQ(nowhere.task->redirectsCount(), 0);

    // No limit, or a limit above the cap: a loop still ends after 20 redirects.
    for (int32_t limit : {0, 50}) {
        size_t const before = server.requestCount();
        Sent loop = send(connection(), "GET", server.url("/loop"), {}, {}, limit);
        ASSERT_EQ(loop.end.kind, "fail") << limit;
        EXPECT_EQ(loop.end.response->statusCode(), 302);
        EXPECT_EQ(loop.task->redirectsCount(), 20);
        EXPECT_EQ(server.requestCount() - before, 21u);
    }
    // The session-based class follows without counting, up to the same cap.
    size_t const before = server.requestCount();
    Sent sessionLoop = send(session(), "GET", server.url("/loop"));
    EXPECT_EQ(sessionLoop.end.kind, "fail");
    EXPECT_EQ(server.requestCount() - before, 21u);
}

TEST(HttpTransportTest, A307Or308SendsTheFirstRequestAgainOthersBecomeGet) {
    HttpTestServer server;
    server.on("/temp", Reply::redirect(307, "/target"));
    server.on("/found", Reply::redirect(302, "/target"));
    server.on("/moved", Reply::redirect(308, "/target"));
    server.on("/target", Reply::answer(200));
    ITallyHttpAsyncTask::HeaderFields const headers{{"content-type", "application/octet-stream"}, {"X-Tag", "t1"}};
    ASSERT_EQ(send(connection(), "POST", server.url("/temp"), headers, "payload").end.kind, "success");
    ASSERT_EQ(send(connection(), "POST", server.url("/found"), headers, "payload").end.kind, "success");
    Sent moved = send(connection(), "POST", server.url("/moved"), headers, "payload");
    ASSERT_EQ(moved.end.kind, "success");
    EXPECT_FALSE(moved.task->redirectDroppedBody());
    auto r = server.requests();
    ASSERT_EQ(r.size(), 6u);
    for (size_t i : {1u, 5u}) {
        EXPECT_EQ(r[i].method, "POST");
        EXPECT_EQ(r[i].path, "/target");
        EXPECT_EQ(r[i].body, "payload");
        EXPECT_EQ(r[i].header("content-type"), "application/octet-stream");
        EXPECT_EQ(r[i].header("x-tag"), "t1");
    }
    EXPECT_EQ(r[3].method, "GET");
    EXPECT_EQ(r[3].body, "");
    EXPECT_EQ(r[3].header("x-tag"), "t1");
    EXPECT_EQ(r[3].header("content-type"), "");
    // Only the requester's header lines go out, no defaults of the library.
    EXPECT_EQ(r[0].header("accept"), "");
    EXPECT_EQ(r[0].header("expect"), "");
}

TEST(HttpTransportTest, RefusesOtherSchemesAndSmuggledHeaderLines) {
    HttpTestServer server;
    server.on("/ok", Reply::answer(200));
    server.on("/toftp", Reply::redirect(302, "ftp://127.0.0.1/x"));
    server.on("/tofile", Reply::redirect(301, "file:///etc/passwd"));
    server.on("/tolong", Reply::redirect(302, "/" + std::string(9000, 'a')));
    struct Case {
        std::string method;
        std::string url;
        ITallyHttpAsyncTask::HeaderFields headers;
        bool reachesServer;
    };
    Case const cases[] = {
        {"GET", "ftp://127.0.0.1:" + std::to_string(server.port()) + "/ok", {}, false},
        {"GET", "file:///etc/passwd", {}, false},
        {"GET", "not a url", {}, false},
        {"GET", server.url("/ok"), {{"X-Evil", "a\r\nInjected: yes"}}, false},
        {"GET", server.url("/ok"), {{"X-Evil", std::string("a\0b", 3)}}, false},
        {"GET", server.url("/ok"), {{"Bad Name", "v"}}, false},
        {"GET", server.url("/ok"), {{"X-Evil\r\nInjected", "v"}}, false},
        {"DELETE", server.url("/ok"), {}, false},
        {"GET", server.url("/toftp"), {}, true},
        {"GET", server.url("/tofile"), {}, true},
        {"GET", server.url("/tolong"), {}, true},
    };
    for (auto const& c : cases) {
        size_t const before = server.requestCount();
        Sent s = send(connection(), c.method, c.url, c.headers);
        EXPECT_EQ(s.end.kind, "fail") << c.url;
        ASSERT_TRUE(s.end.response && s.end.response->error()) << c.url;
        EXPECT_EQ(s.end.response->statusCode(), 0) << c.url;
        EXPECT_EQ(server.requestCount() - before, c.reachesServer ? 1u : 0u) << c.url;
    }
    for (auto const& r : server.requests()) EXPECT_EQ(r.header("injected"), "");
}

// The thread that moves the requests reports its own stack overflow: it has a signal stack.
TEST(HttpTransportTest, TheNetworkThreadRunsWithAnAlternateSignalStack) {
    HttpTestServer server;
    server.on("/ok", Reply::answer(200));
    struct Probe : HttpNetworkThread::Listener {
        std::promise<bool> hasStack;
        void didReceiveResponse(int32_t, HttpNetworkThread::Headers const&) override {
            stack_t current{};
            hasStack.set_value(sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE));
        }
        void didReceiveData(std::vector<uint8_t>) override {}
        void didFollowRedirect(int32_t, bool) override {}
        void didFinish() override {}
        void didFail(HttpNetworkThread::Failure) override {}
    };
    auto probe = std::make_shared<Probe>();
    auto answered = probe->hasStack.get_future();
    HttpNetworkThread::instance().start(HttpNetworkThread::Request::make("GET", server.url("/ok"), {}, {}, 10), probe);
    ASSERT_EQ(answered.wait_for(20s), std::future_status::ready);
    EXPECT_TRUE(answered.get());
}

// A TLS server whose certificate no authority signed must be refused, whatever it proposes.
TEST(HttpTransportTest, SelfSignedCertificateIsRefused) {
    testing_support::TempDir dir;
    std::string const cert = (dir / "cert.pem").string(), key = (dir / "key.pem").string();
    std::string const make = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 1 -subj /CN=127.0.0.1"
                             " -addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + cert + " >/dev/null 2>&1";
    ASSERT_EQ(std::system(make.c_str()), 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(delivery_test::closedLoopbackPort());
    std::string const port = std::to_string(ntohs(addr.sin_port));
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        execlp("openssl", "openssl", "s_server", "-accept", port.c_str(), "-cert", cert.c_str(), "-key", key.c_str(),
               "-www", "-quiet", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    bool up = false;
    for (int i = 0; i < 200 && !up; ++i) {
        int probe = ::socket(AF_INET, SOCK_STREAM, 0);
        up = ::connect(probe, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        ::close(probe);
        if (!up) std::this_thread::sleep_for(20ms);
    }
    ASSERT_TRUE(up);
    for (auto const* cls : {&connection(), &session()}) {
        Sent s = send(*cls, "GET", "https://127.0.0.1:" + port + "/");
        EXPECT_EQ(s.end.kind, "fail");
        ASSERT_TRUE(s.end.response->error());
        EXPECT_TRUE(s.end.response->error()->code == -1202 || s.end.response->error()->code == -1200)
            << s.end.response->error()->description();
        EXPECT_EQ(s.end.response->statusCode(), 0);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

TEST(HttpTransportTest, StallsTimeOutAndCancelsEndAsEachClassSays) {
    HttpTestServer server;
    server.on("/hold", Reply::of(Reply::Kind::Hold));
    Reply slowBody = Reply::answer(200, "late");
    slowBody.delayInside = 5s;
    server.on("/slowbody", slowBody);
    Reply slowStart = Reply::answer(200, "fine");
    slowStart.delayBefore = 150ms;
    server.on("/slowstart", slowStart);

    auto started = std::chrono::steady_clock::now();
    Sent stalled = send(connection(), "GET", server.url("/hold"), {}, {}, 0, 0.3);
    EXPECT_EQ(stalled.end.kind, "fail");
    EXPECT_EQ(stalled.end.response->error()->code, -1001);
    Sent stalledBody = send(connection(), "GET", server.url("/slowbody"), {}, {}, 0, 0.3);
    EXPECT_EQ(stalledBody.end.kind, "fail");
    EXPECT_EQ(stalledBody.end.response->statusCode(), 200);  // the response came, the body did not
    EXPECT_LT(std::chrono::steady_clock::now() - started, 4s);
    // A wait shorter than the limit is no time-out.
    EXPECT_EQ(send(connection(), "GET", server.url("/slowstart"), {}, {}, 0, 1.0).end.kind, "success");

    // A cancelled connection says nothing more; a cancelled session task fails as cancelled.
    auto quiet = std::make_shared<HttpRecorder>();
    auto task = connection().sendMethod("GET", server.url("/hold"), {}, {}, 10.0, 4, quiet, true);
    ASSERT_TRUE(server.waitForRequests(server.requestCount() + 1, 5s) || true);
    std::this_thread::sleep_for(100ms);
    task->cancelTask();
    auto loud = std::make_shared<HttpRecorder>();
    auto sessionTask = session().sendMethod("GET", server.url("/hold"), {}, {}, 10.0, 4, loud, true);
    std::this_thread::sleep_for(100ms);
    sessionTask->cancelTask();
    auto end = loud->waitEnd();
    EXPECT_EQ(end.kind, "fail");
    ASSERT_TRUE(end.response->error());
    EXPECT_EQ(end.response->error()->code, -999);
    EXPECT_NE(end.thread, std::this_thread::get_id());
    server.release();
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(quiet->calls().empty());
    EXPECT_EQ(loud->calls().size(), 1u);

    // The session class fails a bad status without an error and clears the last one.
    server.on("/bad", Reply::answer(500));
    Sent bad = send(session(), "GET", server.url("/bad"));
    EXPECT_EQ(bad.end.kind, "fail");
    EXPECT_FALSE(bad.end.response->error());
    EXPECT_FALSE(TallyNetworkUtil::lastNetworkOperationError());
}

// One reply per connection, made up while it is sent and never held: `total` bytes of body
// (endless when 0), `chunk` bytes at a time, `pause` apart, until the peer goes away.
class StreamingServer {
public:
    StreamingServer(size_t total, size_t chunk, std::chrono::milliseconds pause) : total_(total), chunk_(chunk), pause_(pause) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 4) != 0 ||
            ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            throw std::runtime_error("no loopback socket");
        port_ = ntohs(a.sin_port);
        thread_ = std::thread([this] { serve(); });
    }
    ~StreamingServer() {
        stop_ = true;
        ::shutdown(listen_, SHUT_RDWR);
        thread_.join();
        ::close(listen_);
    }
    std::string url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/stream"; }

private:
    void serve() {
        while (!stop_) {
            int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0) return;
            timeval tv{0, 200000};
            ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
            char request[4096];
            (void)::recv(fd, request, sizeof request, 0);
            std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n";
            head += total_ ? "Content-Length: " + std::to_string(total_) + "\r\n\r\n" : "\r\n";
            bool open = ::send(fd, head.data(), head.size(), MSG_NOSIGNAL) == ssize_t(head.size());
            std::vector<char> const bytes(chunk_, 'z');
            for (size_t sent = 0; open && !stop_ && (total_ == 0 || sent < total_);) {
                size_t const n = total_ ? std::min(chunk_, total_ - sent) : chunk_;
                ssize_t const w = ::send(fd, bytes.data(), n, MSG_NOSIGNAL);
                if (w < 0 && errno != EAGAIN && errno != EWOULDBLOCK) open = false;
                if (w > 0) sent += size_t(w);
                if (pause_.count()) std::this_thread::sleep_for(pause_);
            }
            ::close(fd);
        }
    }
    size_t total_, chunk_;
    std::chrono::milliseconds pause_;
    int listen_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// The process's peak resident size in bytes, after the peak was reset where the kernel allows.
size_t peakResident() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return size_t(std::stoull(line.substr(6))) * 1024;
    return 0;
}
void resetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

TEST(HttpTransportTest, RepliesAreCappedWhileTheyArriveAndEveryRequestHasADeadline) {
    size_t constexpr cap = size_t(1) << 20;
    // A 400 MiB reply fails the request once the cap is passed; what was read is never much more.
    {
        StreamingServer big(size_t(400) << 20, 64 * 1024, 0ms);
        resetPeakResident();
        size_t const before = peakResident();
        auto const started = std::chrono::steady_clock::now();
        Sent s;
        s.task = connection().sendMethod("GET", big.url(), {}, {}, 10.0, 4, s.recorder, false);
        s.task->setReplyLimits({cap, false, 60.0});
        s.task->startInRunLoop(platform::SdkLoop::shared());
        s.end = s.recorder->waitEnd(30s);
        ASSERT_EQ(s.end.kind, "fail");
        EXPECT_EQ(s.end.response->error()->code, -1103);
        EXPECT_LE(s.end.response->body().size(), cap);
        size_t const grown = peakResident() - std::min(before, peakResident());
        std::printf("peak resident grew by %.1f MiB for a 400 MiB reply capped at 1 MiB\n", double(grown) / (1 << 20));
        EXPECT_LT(grown, cap + (size_t(16) << 20));
        EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
    }
    // Where only the first bytes matter the rest is read and dropped, and the request succeeds.
    {
        StreamingServer big(size_t(4) << 20, 64 * 1024, 0ms);
        Sent s;
        s.task = session().sendMethod("GET", big.url(), {}, {}, 10.0, 4, s.recorder, false);
        s.task->setReplyLimits({65535, true, 60.0});
        s.task->startInRunLoop(platform::SdkLoop::shared());
        s.end = s.recorder->waitEnd(30s);
        ASSERT_EQ(s.end.kind, "success");
        EXPECT_EQ(s.end.response->body().size(), 65535u);
    }
    // A reply that trickles on for ever never stalls, so only the deadline ends it.
    {
        StreamingServer endless(0, 1, 50ms);
        auto const started = std::chrono::steady_clock::now();
        Sent s;
        s.task = connection().sendMethod("GET", endless.url(), {}, {}, 5.0, 4, s.recorder, false);
        s.task->setReplyLimits({cap, false, 1.0});
        s.task->startInRunLoop(platform::SdkLoop::shared());
        s.end = s.recorder->waitEnd(30s);
        ASSERT_EQ(s.end.kind, "fail");
        EXPECT_EQ(s.end.response->error()->code, -1001);
        auto const took = std::chrono::steady_clock::now() - started;
        EXPECT_GE(took, 1s);
        EXPECT_LT(took, 5s);  // before the stall time-out could have ended it
    }
}

TEST(HttpTransportTest, ResponsesSaveAndUrlsBuild) {
    testing_support::TempDir dir;
    platform::Directories::setRootOverride(dir.path());
    auto response = TallyHTTPResponse::initWithBody({0, 1, 2, 0xFF}, 207, {{"Content-Type", "x/y"}}, std::nullopt);
    EXPECT_EQ(response->headers().count("content-type"), 1u);
    auto path = response->saveToDisk();
    ASSERT_TRUE(path);
    auto back = TallyHTTPResponse::readFromURL(*path);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->statusCode(), 207);
    EXPECT_EQ(back->body(), response->body());
    EXPECT_EQ(back->headers(), response->headers());
    EXPECT_FALSE(back->error());
    EXPECT_EQ(TallyHTTPResponse::readFromURL(dir / "absent"), nullptr);
    platform::Directories::setRootOverride(std::nullopt);

    using C = ITallyHttpAsyncTaskClass;
    EXPECT_EQ(C::urlWithProtocol("", "h", 80, "p", platform::Value::Dict{{"a", 1}}), "http://h/p?a=1");
    EXPECT_EQ(C::urlWithProtocol("https", "h", 443, "", {}), "https://h:443");
    EXPECT_EQ(C::urlWithProtocol("https", "h", 0, "x", "q=2"), "https://h/x?q=2");
    EXPECT_EQ(C::stringToQueryDictionary("a=1&b"), (platform::Value::Dict{{"a", "1"}, {"b", ""}}));
    EXPECT_EQ(C::stringToQueryDictionary("a=1=2"), (platform::Value::Dict{{"a", "1"}}));
    EXPECT_EQ(C::stringToQueryDictionary("a=1&a=2"), (platform::Value::Dict{{"a", "2"}}));
}

}  // namespace
