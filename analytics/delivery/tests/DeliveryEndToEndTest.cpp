// End to end under injected faults: reports handed to the sender reach the loopback endpoint
// while it refuses, drops, resets and stalls connections, answers 5xx, loops redirects and sends
// garbage 2xx bodies; the sender is rebuilt from disk at random points and a child process
// sending into the same folder is killed with SIGKILL. Afterwards every report handed over has
// arrived in a request answered 2xx, no block is left, and none was deleted before its 2xx.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <atomic>
#include <fstream>
#include <random>
#include <set>

#include "analytics/agent/TallySession.h"
#include "analytics/delivery/tests/SenderFixture.h"

namespace {

using namespace delivery_test;
using namespace std::chrono_literals;
using testing_support::HttpTestServer;

// Every hand-over and removal flushes files to disk; on a memory file system the run takes
// seconds instead of tens of them, and the behaviour checked is the same.
int const useMemoryTemp = [] {
    if (!std::getenv("TMPDIR") && access("/dev/shm", W_OK) == 0) setenv("TMPDIR", "/dev/shm", 1);
    return 0;
}();

std::string reportId(int n) {
    char text[32];
    std::snprintf(text, sizeof text, "report-%06d", n);
    return text;
}

// Reads a report body field by field as the endpoint would; nothing when it is not one.
struct ParsedReport {
    std::vector<std::string> userIds;
    bool crcOk = false;
};

class Reader {
public:
    explicit Reader(std::string const& b) : b_(b) {}
    uint64_t num(int n) {
        need(size_t(n));
        uint64_t v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | uint8_t(b_[p_++]);
        return v;
    }
    std::string str() {
        size_t n = size_t(num(2));
        need(n);
        std::string s = b_.substr(p_, n);
        p_ += n;
        return s;
    }
    size_t pos() const { return p_; }

private:
    void need(size_t n) {
        if (p_ + n > b_.size()) throw std::out_of_range("report ends early");
    }
    std::string const& b_;
    size_t p_ = 0;
};

std::optional<ParsedReport> parseReport(std::string const& body) {
    try {
        Reader r(body);
        ParsedReport out;
        if (r.num(2) != 31 || r.num(2) != 4 || r.num(2) != 1) return std::nullopt;
        r.num(8), r.num(2), r.num(2);
        if (r.num(2) != 189) return std::nullopt;
        r.num(8);
        r.str(), r.str();
        r.num(1);
        for (uint64_t ids = r.num(2); ids > 0; --ids) {
            uint64_t kind = r.num(2);
            if (kind == 15) {
                r.str();  // short data has the same shape as a string
            } else {
                r.str();
            }
        }
        r.num(1), r.num(1), r.num(1), r.num(8), r.num(8);
        for (uint64_t n = r.num(2); n > 0; --n) r.str(), r.str(), r.num(1);
        r.num(2), r.num(1);
        if (r.num(2) != 0 || r.num(2) != 0) return std::nullopt;  // launch options, origin sets
        r.str();
        for (uint64_t sessions = r.num(2); sessions > 0; --sessions) {
            if (r.num(2) != 9) return std::nullopt;
            r.str();
            r.num(8), r.num(8), r.num(8), r.num(1), r.num(1);
            if (r.num(1) || r.num(1) || r.num(2) || r.num(2)) return std::nullopt;
            r.str(), r.str();
            r.num(1), r.num(1);
            out.userIds.push_back(r.str());
            r.num(1), r.num(8), r.num(8), r.num(4), r.num(1), r.num(4), r.num(1), r.num(1), r.num(1);
            if (r.num(1) || r.num(2) || r.num(2)) return std::nullopt;
            r.num(1), r.num(4);
            if (r.num(2)) return std::nullopt;
            r.num(4), r.num(2), r.num(2), r.num(2);
            if (r.num(2)) return std::nullopt;
        }
        for (uint64_t cookies = r.num(2); cookies > 0; --cookies) r.str(), r.str();
        size_t const end = r.pos();
        uint32_t const sum = uint32_t(r.num(4));
        if (r.pos() != body.size()) return std::nullopt;
        out.crcOk = sum == uint32_t(crc32(0, reinterpret_cast<Bytef const*>(body.data()), uInt(end)));
        return out;
    } catch (std::out_of_range const&) {
        return std::nullopt;
    }
}

// Watches the block files; a file that disappears must belong to a report the server has begun
// to answer 2xx in a request carrying it.
class DeletionWatch {
public:
    DeletionWatch(std::filesystem::path folder, HttpTestServer const& server) : folder_(std::move(folder)), server_(server) {
        thread_ = std::thread([this] { run(); });
    }
    ~DeletionWatch() { stop(); }
    void stop() {
        if (!stop_.exchange(true)) thread_.join();
    }
    std::vector<std::string> violations() {
        std::lock_guard lock(mutex_);
        return violations_;
    }
    size_t deletionsSeen() const { return deletions_.load(); }

private:
    void run() {
        std::map<std::string, std::string> known;  // file name -> report id
        while (!stop_) {
            std::set<std::string> present;
            std::error_code ec;
            for (auto it = std::filesystem::directory_iterator(folder_, ec); !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                std::string const name = it->path().filename().string();
                if (name.empty() || name[0] == '.' || name == TallyDataSender::kIndexFileName) continue;
                present.insert(name);
                if (known.count(name)) continue;
                std::ifstream in(it->path(), std::ios::binary);
                std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
                size_t at = content.find("report-");
                if (at != std::string::npos) known[name] = content.substr(at, 13);
            }
            for (auto it = known.begin(); it != known.end();) {
                if (present.count(it->first)) {
                    ++it;
                    continue;
                }
                ++deletions_;
                bool answered = false;
                for (auto const& r : server_.requests())
                    if (r.method == "POST" && r.replyStatus >= 200 && r.replyStatus <= 299 && r.body.find(it->second) != std::string::npos) answered = true;
                if (!answered) {
                    std::lock_guard lock(mutex_);
                    violations_.push_back(it->second);
                }
                it = known.erase(it);
            }
            std::this_thread::sleep_for(2ms);
        }
    }
    std::filesystem::path folder_;
    HttpTestServer const& server_;
    std::atomic<bool> stop_{false};
    std::atomic<size_t> deletions_{0};
    std::mutex mutex_;
    std::vector<std::string> violations_;
    std::thread thread_;
};

class DeliveryEndToEndTest : public SenderFixture {};

// Run only as the child of the fault test: sends into the parent's folder until it is killed.
TEST(DeliveryFaultChild, SendsUntilKilled) {
    char const* root = std::getenv("ZELV_DELIVERY_CHILD_ROOT");
    if (!root) GTEST_SKIP() << "only run by the end-to-end fault test";
    platform::Directories::setRootOverride(std::filesystem::path(root));
    TallyGlobalVariableStorage::sharedInstance()->setApiKey("key");
    TallyUtil::setLogLevel(0);
    TallyNetworkUtil::setServerURL(std::getenv("ZELV_DELIVERY_CHILD_URL"));
    auto queue = std::make_shared<platform::WorkQueue>("com.Tally.child");
    TallyDataSender::setupInstanceWithQueue(queue);
    auto sender = TallyDataSender::instance();
    // The session builds the bodies, as in the agent.
    auto session = TallySession::create("key", std::string("1.0"), platform::Date::now());
    sender->setDataSenderDelegate(session);
    sender->setRequestTimeout(0.2);
    std::ofstream log(std::getenv("ZELV_DELIVERY_CHILD_LOG"), std::ios::app);
    for (int n = 0; n < 25; ++n) {
        std::string const id = reportId(900000 + n);
        Bytes block = sessionBlock(id);
        queue->sync([&] { sender->sendSessionsData(block); });
        log << id << std::endl;  // handed over: the block and its index entry are on disk
        std::this_thread::sleep_for(20ms);
    }
    for (;;) std::this_thread::sleep_for(1s);
}

TEST_F(DeliveryEndToEndTest, ReportsSurviveAThousandFaultsRestartsAndAKill) {
    Bytes const okBody = reply({});
    server.on("/aas.do", HttpTestServer::Reply::answer(200, std::string(okBody.begin(), okBody.end())));
    server.setFaultMode({29, 0.6, 300ms});
    TallyUtil::setLogLevel(0);
    DeletionWatch watch(tally_delivery::filesFolder(), server);
    std::vector<std::string> handed;

    // A child sends into the same folder and dies mid-run.
    std::string const logPath = (dir / "child.log").string();
    pid_t child = fork();
    if (child == 0) {
        setenv("ZELV_DELIVERY_CHILD_ROOT", dir.path().c_str(), 1);
        setenv("ZELV_DELIVERY_CHILD_URL", server.url("/aas.do").c_str(), 1);
        setenv("ZELV_DELIVERY_CHILD_LOG", logPath.c_str(), 1);
        execl("/proc/self/exe", "child", "--gtest_filter=DeliveryFaultChild.*", static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_GT(child, 0);
    // It is killed once about half its reports are handed over, however slowly it starts.
    for (;;) {
        std::ifstream in(logPath);
        std::string line;
        int lines = 0;
        while (std::getline(in, line)) ++lines;
        if (lines >= 12) break;
        ASSERT_EQ(waitpid(child, nullptr, WNOHANG), 0) << "the sending child ended before it was killed";
        std::this_thread::sleep_for(5ms);
    }
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    {
        std::ifstream in(logPath);
        std::string line;
        while (std::getline(in, line))
            if (line.size() == 13) handed.push_back(line);
    }
    ASSERT_GE(handed.size(), 1u);

    // This process takes over the folder, and is rebuilt from disk now and then.
    std::mt19937 random(29);
    auto const session = TallySession::create("key", std::string("1.0"), platform::Date::now());
    auto make = [&](double timeout) {
        auto s = SenderFixture::make(timeout);
        s->setDataSenderDelegate(session);
        return s;
    };
    auto sender = make(0.2);
    int n = 0;
    auto const deadline = std::chrono::steady_clock::now() + 240s;
    while (server.faultTotal() < 1000 && std::chrono::steady_clock::now() < deadline) {
        if (stored(sender) < 40) {
            std::string const id = reportId(n++);
            hand(sender, sessionBlock(id));
            handed.push_back(id);
        }
        networkBecameReachable();
        if (random() % 100 == 0) {
            sender.reset();
            drop();
            sender = make(0.2);
        }
        std::this_thread::sleep_for(1ms);
    }
    auto const faultsDone = std::chrono::steady_clock::now();
    EXPECT_GE(server.faultTotal(), 1000u);
    for (int k = 0; k < int(HttpTestServer::FaultKind::Count); ++k)
        EXPECT_GT(server.faultCount(HttpTestServer::FaultKind(k)), 0u) << "fault kind " << k;

    // The network heals; whatever is stored goes out, under time-outs a loaded machine meets.
    server.setFaultMode({29, 0.0, 300ms});
    sender.reset();
    drop();
    sender = make(10.0);
    for (int i = 0; i < 200 && stored(sender) > 0; ++i) {
        networkBecameReachable();
        idle(sender);
    }
    ASSERT_TRUE(idle(sender));
    watch.stop();
    EXPECT_EQ(stored(sender), 0u);
    EXPECT_EQ(blockFiles(), 0u);
    EXPECT_EQ(watch.violations(), std::vector<std::string>{});
    EXPECT_GT(watch.deletionsSeen(), 0u);

    std::set<std::string> delivered;
    size_t bodies = 0;
    for (auto const& r : server.requests()) {
        if (r.method != "POST" || r.answeredStatus < 200 || r.answeredStatus > 299) continue;
        auto report = parseReport(r.body);
        ASSERT_TRUE(report) << "a 2xx request whose body is no report";
        EXPECT_TRUE(report->crcOk);
        ++bodies;
        delivered.insert(report->userIds.begin(), report->userIds.end());
    }
    for (auto const& id : handed) EXPECT_TRUE(delivered.count(id)) << id << " never reached the endpoint";
    std::printf("main loop %lld ms, heal %lld ms\n", (long long)std::chrono::duration_cast<std::chrono::milliseconds>(faultsDone - (deadline - 240s)).count(), (long long)std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - faultsDone).count());
    std::printf("handed over %zu reports (%zu by the killed child), %zu faults, %zu requests, %zu accepted bodies\n",
                handed.size(), handed.size() - size_t(n), server.faultTotal(), server.requestCount(), bodies);
}

}  // namespace
