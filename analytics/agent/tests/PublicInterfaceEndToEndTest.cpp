// The agent driven only through its public calls, with the real senders against loopback
// servers: pulse on, the delegate hears of the new session and the session asks for the
// configuration; the served configuration's event and trigger keys
// make logged events call the partner (the last matching key alone decides) and the callback
// reports are posted, a stalled call as the time-out it was; a purchase through a store the host
// installed reaches the session report with its receipt and the machine's own architecture. Events
// the pre-session cache had to refuse mark the first report incomplete.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <string_view>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include "analytics/agent/Tally.h"
#include "analytics/agent/TallyDelegate.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyKeychainWrapper.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/tests/SessionBlockReader.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyPulseEventController.h"
#include "analytics/delivery/TallyStoreKit.h"
#include "analytics/delivery/tests/AvroTestWriter.h"
#include "analytics/delivery/tests/NetworkFakes.h"
#include "analytics/delivery/tests/PulseFixture.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Directories.h"
#include "platform/base/NotificationCenter.h"
#include "testing/HttpTestServer.h"
#include "testing/TestPaths.h"

namespace {

using testing_support::HttpTestServer;
using Reply = HttpTestServer::Reply;
using namespace std::chrono_literals;

class TestStore : public TallyStoreKit {
public:
    std::optional<platform::Data> appStoreReceipt() override { return receipt; }
    void requestProducts(std::set<std::string> const& ids,
                         std::function<void(std::optional<std::vector<SKProduct>>)> answer) override {
        std::vector<SKProduct> products;
        for (auto const& id : ids) products.push_back({id, "Gold pack", "0.99", "EUR"});
        answer(products);
    }
    platform::Data receipt{'R', 'E', 'C', 'E', 'I', 'P', 'T', 0, 1, 2, 0xff};
};

class SessionWatcher : public TallyDelegate {
public:
    void tallySessionDidCreateWithInfo(platform::Value::Dict const& info) override {
        std::lock_guard lock(mutex);
        infos.push_back(info);
    }
    std::mutex mutex;
    std::vector<platform::Value::Dict> infos;
};

class PublicInterface : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Directories::setRootOverride(dir.path());
        platform::DeviceProfile profile;
        profile.applicationState = 0;
        platform::DeviceFacts::setProfile(profile);
        TallyStoreKit::setShared(store);
    }
    void TearDown() override {
        Tally::setDelegate(nullptr);
        Tally::reset();
        platform::SdkLoop::shared().setVirtualClock(false);
        TallyNetworkUtil::resetForTesting();
        TallyStoreKit::setShared(nullptr);
        TallyGlobalPersistentManager::cleanup();
        platform::DeviceFacts::setProfile({});
        platform::Directories::setRootOverride(std::nullopt);
    }
    // The requests to a path that the server answered, once there are at least n of them.
    static std::vector<HttpTestServer::Request> answered(HttpTestServer const& server, std::string const& path, size_t n,
                                                         std::chrono::seconds timeout = 30s) {
        auto const end = std::chrono::steady_clock::now() + timeout;
        for (;;) {
            std::vector<HttpTestServer::Request> out;
            for (auto const& r : server.requests())
                if (r.path == path && r.answeredStatus != 0) out.push_back(r);
            if (out.size() >= n || std::chrono::steady_clock::now() > end) return out;
            std::this_thread::sleep_for(10ms);
        }
    }
    static bool eventually(std::function<bool()> const& condition, std::chrono::seconds timeout = 30s) {
        auto const end = std::chrono::steady_clock::now() + timeout;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    // This test run again in a new process, as a later launch is: `variable` set to `value` there
    // and `input`, when given, as its standard input.
    static pid_t launchCopy(char const* variable, std::string const& value, int input = -1) {
        std::string filter =
            std::string("--gtest_filter=PublicInterface.") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        char* argv[] = {filter.data(), filter.data(), nullptr};
        setenv(variable, value.c_str(), 1);
        // A copy draws nothing: it starts without the GL driver, which took most of its start.
        setenv("ZELV_TEST_TRIAL", "copy", 1);
        pid_t const child = fork();
        if (child == 0) {
            if (input >= 0) dup2(input, STDIN_FILENO);
            _exit(execv("/proc/self/exe", argv));
        }
        unsetenv("ZELV_TEST_TRIAL");
        unsetenv(variable);
        return child;
    }

    // Makes this process a copy given "<number> <url> <folder>": the parent's folder in place of its
    // own, reports sent to url. Returns the number.
    int becomeCopy(char const* arguments) {
        std::filesystem::remove_all(dir.path());
        char const* url = std::strchr(arguments, ' ') + 1;
        char const* folder = std::strchr(url, ' ') + 1;
        platform::Directories::setRootOverride(std::filesystem::path(folder));
        Tally::setServerURL(std::string(url, folder - 1));
        return std::atoi(arguments);
    }

    // No report post of this process is under way.
    static bool senderIdle() {
        auto const sender = TallyDataSender::instance();
        size_t running = 0;
        if (sender) sender->queue().sync([&] { running = sender->runningTaskCount(); });
        return running == 0;
    }

    // A port bound and never listened on refuses every connection, and no server takes it until
    // `socket` closes.
    static std::string refusedEndpoint(int& socket) {
        socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        EXPECT_EQ(::bind(socket, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
        EXPECT_EQ(::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &length), 0);
        return "http://127.0.0.1:" + std::to_string(ntohs(address.sin_port)) + "/aas.do";
    }

    // How many requests so far carried the text.
    static size_t requestsHolding(HttpTestServer const& server, std::string const& text) {
        return size_t(std::ranges::count_if(server.requests(), [&](auto const& r) { return r.body.find(text) != std::string::npos; }));
    }

    // The session reports posted so far, decoded.
    static std::vector<block_reader::Report> sessionReports(HttpTestServer const& server) {
        std::vector<block_reader::Report> out;
        for (auto const& r : server.requests())
            if (r.path == "/aas.do") out.push_back(block_reader::readReport(block_reader::Bytes(r.body.begin(), r.body.end())));
        return out;
    }
    static std::string machine() {
        utsname names{};
        return uname(&names) == 0 ? names.machine : "";
    }

    testing_support::TempDir dir;
    std::shared_ptr<TestStore> store = std::make_shared<TestStore>();
};

}  // namespace

TEST_F(PublicInterface, ConfigurationCallbackReportAndPurchaseTravelTheWholeWay) {
    HttpTestServer service;  // reports, configuration and callback reports
    HttpTestServer partner;  // the partner's callback endpoint
    pulse_test::ResponseFixture configuration;
    pulse_test::CallbackFixture callback, stalled;
    callback.callbackId = 42;
    callback.uri = partner.url("/cb?event=%{event_name}&user=%{publisher_user_id}");
    callback.events = {pulse_test::plainEvent("LEVEL_DONE")};
    stalled.callbackId = 43;
    stalled.uri = partner.url("/stall?event=%{event_name}");
    stalled.events = {pulse_test::triggerEvent("LEVEL_DONE", "stars", {"3"})};
    configuration.callbacks = {callback, stalled};
    configuration.maxAttemptsPerReport = 1;  // a report after every outcome
    configuration.reportUrl = service.url("/pcr.do");
    auto const reply = pulse_test::encodeResponse(configuration);
    service.on("/config", Reply::answer(200, std::string(reply.begin(), reply.end())));
    service.on("/aas.do", Reply::answer(200));
    service.on("/pcr.do", Reply::answer(200));
    partner.on("/cb", Reply::answer(200, "thanks"));
    // The status line comes, then nothing for longer than a request waits between two bytes.
    Reply stall = Reply::answer(200, "too late");
    stall.delayInside = 40s;
    partner.on("/stall", stall);

    Tally::setServerURL(service.url("/aas.do"));
    Tally::setPulseServerURL(service.url("/config"));
    Tally::setPulseEnabled(true);
    Tally::setUserID(std::string("player-7"));
    auto watcher = std::make_shared<SessionWatcher>();
    Tally::setDelegate(watcher);
    Tally::startSession("E2E KEY");
    {
        std::lock_guard lock(watcher->mutex);
        ASSERT_EQ(watcher->infos.size(), 1u);
        EXPECT_EQ(*watcher->infos[0].at("apiKey").string(), "E2EKEY");
        EXPECT_EQ(*watcher->infos[0].at("sessionId").string(), Tally::getSessionID());
        EXPECT_NE(Tally::getSessionID(), "0");
    }

    // The new session asks for the configuration.
    auto config = answered(service, "/config", 1);
    ASSERT_EQ(config.size(), 1u);
    EXPECT_EQ(config[0].method, "POST");
    EXPECT_EQ(config[0].header("content-type"), "application/vnd.tally.sdk-avrobin;version=2");
    EXPECT_FALSE(config[0].body.empty());
    ASSERT_TRUE(eventually([] { return TallyPulseEventController::currentSettings() != nullptr; }));

    // The trigger's event calls the partner with the values filled in, and the outcome is reported.
    // Three stars match the name and the later trigger: only the trigger's callback goes out.
    EXPECT_EQ(Tally::logEvent("OTHER"), Tally::kAccepted);
    EXPECT_EQ(Tally::logEvent("LEVEL_DONE", Tally::Parameters{{"stars", int64_t(3)}}), Tally::kAccepted);
    ASSERT_TRUE(partner.waitForRequests(1, 30s));
    EXPECT_EQ(Tally::logEvent("LEVEL_DONE", Tally::Parameters{{"stars", int64_t(2)}}), Tally::kAccepted);
    auto calls = answered(partner, "/cb", 1);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].method, "GET");
    EXPECT_EQ(calls[0].query, "event=LEVEL_DONE&user=player-7");
    auto reports = answered(service, "/pcr.do", 1);
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].header("content-type"), "application/octet-stream");
    EXPECT_FALSE(reports[0].body.empty());
    EXPECT_LT(calls[0].arrival, reports[0].arrival);

    // A purchase is recorded with the receipt of the installed store.
    SKPaymentTransaction purchase;
    purchase.transactionIdentifier = "T-1";
    purchase.transactionState = 1;
    purchase.payment.productIdentifier = "gold.pack";
    std::promise<int32_t> heard;
    Tally::logPaymentTransaction(purchase, [&heard](int32_t status) { heard.set_value(status); });
    auto status = heard.get_future();
    ASSERT_EQ(status.wait_for(30s), std::future_status::ready);
    EXPECT_EQ(status.get(), 1);

    // The session's report carries the purchase event and, in its purchase list, the receipt bytes;
    // its device facts name this machine's architecture.
    Tally::endSession();
    bool found = false;
    ASSERT_TRUE(eventually([&] {
        for (auto const& report : sessionReports(service)) {
            for (auto const& block : report.blocks) {
                bool purchased = false;
                for (auto const& e : block.events)
                    if (e.name == "Tally.purchase" && e.params.count("fl.ProductID") && e.params.at("fl.ProductID") == "gold.pack")
                        purchased = true;
                if (purchased && block.receipts == std::vector<block_reader::Bytes>{store->receipt}) {
                    found = true;
                    EXPECT_TRUE(block.eventLogComplete);
                }
            }
        }
        return found;
    }));
    for (auto const& report : sessionReports(service)) EXPECT_EQ(report.device.at("device.arch").first, machine());

    // The stalled call timed out: reported failed with no HTTP status and retried later, and
    // callback 42 was never called for three stars.
    std::optional<pulse_test::ParsedReport::Attempt> timedOut;
    ASSERT_TRUE(eventually(
        [&] {
            for (auto const& r : answered(service, "/pcr.do", 2, 0s))
                for (auto const& invocation : pulse_test::parseReport(r.body).invocations)
                    for (auto const& cb : invocation.callbacks)
                        if (cb.id == 43 && !cb.attempts.empty()) timedOut = cb.attempts[0];
            return timedOut.has_value();
        },
        60s));
    EXPECT_EQ(timedOut->status, 0);
    EXPECT_EQ(timedOut->state, 4);
    EXPECT_EQ(timedOut->number, 1);
    EXPECT_FALSE(timedOut->final);
    EXPECT_EQ(answered(partner, "/cb", 1, 0s).size(), 1u);
    EXPECT_EQ(partner.requests().size(), 2u);
}

TEST_F(PublicInterface, EventsTheFullPreSessionCacheRefusedMarkTheFirstReportIncomplete) {
    HttpTestServer service;
    service.on("/aas.do", Reply::answer(200));
    Tally::setServerURL(service.url("/aas.do"));
    std::map<int, int> statuses;
    for (int i = 0; i < 5000; ++i) ++statuses[Tally::logEvent("EARLY")];
    EXPECT_EQ(statuses, (std::map<int, int>{{Tally::kLogFull, 4000}, {Tally::kCached, 1000}}));
    Tally::startSession("DROP KEY");
    Tally::endSession();
    std::optional<block_reader::Block> first;
    ASSERT_TRUE(eventually([&] {
        for (auto const& report : sessionReports(service))
            for (auto const& block : report.blocks)
                if (!block.events.empty()) first = block;
        return first.has_value();
    }));
    EXPECT_EQ(first->events.size(), 1000u);
    EXPECT_FALSE(first->eventLogComplete);
}

TEST_F(PublicInterface, ACallbackThatSucceedsOnceTheNetworkIsBackIsNotRetried) {
    HttpTestServer service;  // the configuration and the partner
    pulse_test::ResponseFixture configuration;
    configuration.callbacks.resize(1);
    configuration.callbacks[0].uri = service.url("/won");
    configuration.callbacks[0].events = {pulse_test::plainEvent("WON")};
    auto const reply = pulse_test::encodeResponse(configuration);
    service.on("/config", Reply::answer(200, std::string(reply.begin(), reply.end())));
    service.on("/won", std::vector<Reply>{Reply::answer(500), Reply::answer(200)});
    delivery_test::FakeMonitorInjected network;  // the kernel's side of the network watcher
    platform::SdkLoop::shared().setVirtualClock(true);  // the retry waits on the agent's clock
    Tally::setPulseServerURL(service.url("/config"));
    Tally::setPulseEnabled(true);
    Tally::startSession("RETRY KEY");
    ASSERT_TRUE(eventually([] { return TallyPulseEventController::currentSettings() != nullptr; }));
    Tally::logEvent("WON");
    ASSERT_TRUE(eventually([] { return !TallyGlobalVariableStorage::sharedInstance()->pendingUrlTimers().empty(); }));
    // The network goes and comes back within the 90 s: the waiting attempt goes at once, and succeeds.
    delivery_test::FakeMonitor::change(0);
    ASSERT_TRUE(eventually([] { return !TallyNetworkUtil::isNetworkReachable(); }));
    delivery_test::FakeMonitor::change(platform::NetworkMonitor::kReachable);
    ASSERT_EQ(answered(service, "/won", 2).size(), 2u);
    // The success ends the attempt: none is kept to go again, and no retry is set for it.
    auto const ended = [] {
        bool none = false;
        TallyGlobalPersistentManager::sharedInstance()->readSync(TallyGlobalPersistentManager::PulseUrls,
                                                                 [&](platform::Value::Dict const& fired) { none = fired.empty(); });
        return none && TallyGlobalVariableStorage::sharedInstance()->pendingUrlTimers().empty();
    };
    ASSERT_TRUE(eventually(ended));
    platform::SdkLoop::shared().advance(400'000);  // past the first two retry times
    // Whatever fell due has run and found nothing to send.
    TallyGlobalPersistentManager::sharedInstance()->waitUntilIdle();
    platform::SdkLoop::shared().waitUntilIdle();
    EXPECT_TRUE(ended());
    EXPECT_EQ(answered(service, "/won", 3, 0s).size(), 2u);
}

TEST_F(PublicInterface, SavedSessionsOutlastALaunchThatCannotReadThemAndAreSentAfter) {
    HttpTestServer service;
    service.on("/aas.do", Reply::answer(200));
    Tally::setServerURL(service.url("/aas.do"));
    TallyGlobalVariableStorage::sharedInstance()->setApiKey("SAVED");
    std::filesystem::path const path = TallySession::sessionsFilePath(), hop = path.string() + ".hop";
    TallyUtil::archiveObject(platform::Value("damaged"), path);
    Tally::setSessionReportsOnCloseEnabled(false);  // an ended session joins the saved ones
    Tally::startSession("SAVED");
    Tally::logEvent("EARLIER");
    Tally::endSession();
    Tally::reset();
    EXPECT_TRUE(std::filesystem::exists(path.string() + ".bad"));  // kept aside before it was replaced
    // For the next launch its path loops, so it cannot be opened; then it reads again.
    std::filesystem::rename(path, hop.string() + "x");
    std::filesystem::create_symlink(hop.filename(), path);
    std::filesystem::create_symlink(hop.filename(), hop);
    Tally::setSessionReportsOnCloseEnabled(false);
    Tally::startSession("SAVED");
    Tally::logEvent("DURING");
    Tally::endSession();
    Tally::reset();
    std::filesystem::rename(hop.string() + "x", hop);
    Tally::startSession("SAVED");
    EXPECT_TRUE(eventually([&] { return requestsHolding(service, "EARLIER") == 1 && requestsHolding(service, "DURING") == 1; }));
}

TEST_F(PublicInterface, SessionsTwoProcessesEndAtOnceAreAllSentOnceTheEndpointAnswers) {
    auto marker = [](int i) { return "ENDED_R" + std::to_string(i / 2) + "_P" + std::to_string(i % 2) + "_"; };
    if (char const* twin = std::getenv("TALLY_TWIN")) {  // "<session> <end> <url or -> <folder>", as a second launch is
        int const i = std::atoi(twin);
        char const end = *(std::strchr(twin, ' ') + 1);
        char const* url = std::strchr(twin, ' ') + 3;
        char const* folder = std::strchr(url, ' ') + 1;
        platform::Directories::setRootOverride(std::filesystem::path(folder));
        char c;
        (void)!::read(STDIN_FILENO, &c, 1);  // both go when the parent closes its end
        // "-": nothing listens there once the server is gone.
        Tally::setServerURL(*url == '-' ? HttpTestServer().url("/aas.do") : std::string(url, folder - 1));
        Tally::setSessionReportsOnCloseEnabled(end != 'S');
        Tally::startSession("TWICE");
        Tally::logEvent(marker(i).c_str());
        Tally::endSession();
        // Live until its posts end (one that quits mid-post leaves them to be sent again); K until killed.
        while (end == 'K' || !senderIdle()) std::this_thread::sleep_for(10ms);
        return;
    }
    HttpTestServer service, holding;
    service.on("/aas.do", Reply::answer(200));
    holding.on("/aas.do", Reply::of(Reply::Kind::Hold));
    // Per round, each copy's end (S saved, E sent, K sent to a server that holds it, and killed
    // meanwhile), then the server: none at first (both stores race and reports are left), then one
    // that answers (both send their own and the leftovers at once; the killed copy's session goes
    // with the next), and last a third process holding every lock file the whole time.
    constexpr std::string_view kRounds[] = {"EE-", "SS-", "EEa", "SEa", "EEa", "KEa", "EEa", "ES-", "EEh", "SSh"};
    constexpr int kSessions = 2 * int(std::size(kRounds));
    for (int i = 0; i < kSessions; i += 2) {
        std::string_view const round = kRounds[i / 2];
        int gate[2], status = -1;
        pid_t children[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        std::vector<int> held;
        for (auto const& e : std::filesystem::recursive_directory_iterator(dir.path()))
            if (round[2] == 'h' && e.path().extension() == ".lock") {
                held.push_back(::open(e.path().c_str(), O_RDWR | O_CLOEXEC));
                ASSERT_EQ(::flock(held.back(), LOCK_EX), 0);
            }
        ASSERT_EQ(held.empty(), round[2] != 'h');
        for (int p = 0; p < 2; ++p) {
            std::string const url = round[p] == 'K' ? holding.url("/aas.do") : round[2] == 'a' ? service.url("/aas.do") : "-";
            children[p] = launchCopy("TALLY_TWIN", std::to_string(i + p) + " " + round[p] + " " + url + " " + dir.path().string(), gate[0]);
        }
        for (int fd : gate) close(fd);
        for (int p = 0; p < 2; ++p) {
            if (round[p] == 'K') {
                EXPECT_TRUE(eventually([&] { return requestsHolding(holding, marker(i + p)) > 0; }));
                ::kill(children[p], SIGKILL);
            }
            EXPECT_TRUE(waitpid(children[p], &status, 0) == children[p]);
            EXPECT_TRUE(round[p] == 'K' ? WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL : status == 0);
        }
        for (int fd : held) close(fd);
    }
    // Two reports listed nowhere (a list written over by another version); every file old enough to
    // be taken back, but one of those two dated a day ahead (the clock set back since).
    auto index = TallyDataSenderIndex::instantiatedIndexWithIndexFile(TallyDataSender::kIndexFileName);
    // (A report whose process found the list's lock held is in a note beside it, not in the list
    // until a write folds the notes in: one is made here until the list holds two reports.)
    ASSERT_TRUE(eventually([&] {
        size_t withData = 0;
        for (auto const& [key, blocks] : index->indexMap())
            for (auto const& b : blocks) withData += b->data() ? 1 : 0;
        if (withData >= 2) return true;
        index->indexMapQueue().sync([&] { index->saveState(); });
        return false;
    }));
    std::vector<std::string> unlisted;
    for (auto const& [key, blocks] : index->indexMap())
        for (auto const& b : blocks)
            if (auto const data = b->data(); data && unlisted.size() < 2) {
                index->removeBlockInfoWithIdentifier(b->identifier(), key);  // deletes the file: written again
                index->indexMapQueue().sync([] {});
                if (b->setData(data)) unlisted.push_back(b->identifier());
            }
    ASSERT_EQ(unlisted.size(), 2u);
    for (auto const& e : std::filesystem::directory_iterator(TallyUtil::filePathDirectory()))
        std::filesystem::last_write_time(e.path(), std::filesystem::last_write_time(e.path()) - 5min);
    timespec const aDayAhead[2] = {{std::time(nullptr) + 86400, 0}, {std::time(nullptr) + 86400, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, (TallyUtil::filePathDirectory() / unlisted[1]).c_str(), aDayAhead, 0), 0);
    Tally::setServerURL(service.url("/aas.do"));
    Tally::startSession("TWICE");
    EXPECT_TRUE(eventually([&] {  // every session either ended, and both unlisted files taken back and sent
        for (int i = 0; i < kSessions; ++i)
            if (requestsHolding(service, marker(i)) == 0) return false;
        return senderIdle() && std::ranges::none_of(unlisted, [](auto const& name) {
                   return std::filesystem::exists(TallyUtil::filePathDirectory() / name);
               });
    }));
    for (int i = 0; i < kSessions; ++i) EXPECT_EQ(requestsHolding(service, marker(i)), 1u) << marker(i);
}

// Two processes on one home add 200 keychain items each at once, one straight into the keychain and
// one through the agent's wrapper, and return from main right after the last: every add that
// returned success is kept, written under the lock or in a note when the other held it.
TEST_F(PublicInterface, KeychainAddsOfTwoProcessesThatEndAtOnceAreAllKept) {
    constexpr int kItems = 200;
    auto name = [](int round, int process, int n) { return std::to_string(round) + "." + std::to_string(process) + "." + std::to_string(n); };
    // A service of its own each round.
    auto wrapper = [](int round) {
        return TallyKeychainWrapper::keychainWrapperWithIdentifier(TallyKeychainWrapper::kAnalyticsIdentifier + std::to_string(round));
    };
    if (char const* twin = std::getenv("TALLY_KEYCHAIN")) {  // "<round> <process> <folder>"
        int const round = std::atoi(twin), process = std::atoi(std::strchr(twin, ' ') + 1);
        platform::Directories::setRootOverride(std::filesystem::path(std::strchr(std::strchr(twin, ' ') + 1, ' ') + 1));
        char c;
        (void)!::read(STDIN_FILENO, &c, 1);  // both go when the parent closes its end
        for (int n = 0; n < kItems; ++n) {
            std::string const s = name(round, process, n);
            platform::Data const d(s.begin(), s.end());
            bool const added = process ? platform::Keychain::add(wrapper(round)->identifier(), d, d, d, {}) == platform::Keychain::kSuccess
                                       : wrapper(round)->setString(s, s);
            if (!added) std::exit(1);
        }
        std::exit(0);  // as a return from main
    }
    for (int round = 0; round < 3; ++round) {
        int gate[2], status = -1, children[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        for (int p = 0; p < 2; ++p)
            children[p] = launchCopy("TALLY_KEYCHAIN", std::to_string(round) + " " + std::to_string(p) + " " + dir.path().string(), gate[0]);
        for (int fd : gate) close(fd);
        for (int child : children) EXPECT_TRUE(waitpid(child, &status, 0) == child && status == 0);
        int kept = 0;
        for (int p = 0; p < 2; ++p)
            for (int n = 0; n < kItems; ++n) kept += wrapper(round)->stringForKey(name(round, p, n)) == name(round, p, n);
        EXPECT_EQ(kept, 2 * kItems) << "round " << round;
    }
}

// A copy whose clock ran 5 s or an hour ahead wrote while a third process held every lock (its
// notes named by its clock). A change this process makes after reading the copy's wins all the
// same: opted in after reading the copy's opt-out, it reads itself opted in; and the opt-out's
// clear, noted while the locks are held, drops the session the copy saved before it, which never
// reaches the server once this process is opted in again. Notes named where stamps end (as a copy
// whose clock read past 2262 once named them) are damaged and change nothing.
TEST_F(PublicInterface, ChangesAfterThoseOfACopyWithItsClockAheadWin) {
    if (char const* folder = std::getenv("TALLY_FAST")) {
        platform::Directories::setRootOverride(std::filesystem::path(folder));
        Tally::setServerURL(HttpTestServer().url("/aas.do"));  // nothing listens there once it is gone
        Tally::setTallyOptOut(true);
        Tally::setSessionReportsOnCloseEnabled(false);  // an ended session joins the saved ones
        Tally::startSession("CLOCK");
        Tally::logEvent("SAVED_BY_THE_FAST_COPY");
        Tally::endSession();
        return;
    }
    HttpTestServer service;
    service.on("/aas.do", Reply::answer(200));
    auto const isNote = [](std::string const& n) { return n.ends_with(".pending") || n.find(".held.") != std::string::npos; };
    int round = 0;
    struct Clock {
        char const* name;
        std::function<std::string(std::string const&)> time;
    };
    for (auto const& clock : {Clock{"5 s", testing_support::clockAhead(5s)}, Clock{"1 h", testing_support::clockAhead(1h)},
                              Clock{"at the end", testing_support::clockAtTheEnd()}}) {
        auto const home = dir / std::to_string(++round);
        platform::Directories::setRootOverride(home);
        Tally::setServerURL(service.url("/aas.do"));
        // Opted out, and the opt-out's one session sent.
        Tally::setTallyOptOut(true);
        Tally::startSession("CLOCK");
        Tally::endSession();
        Tally::reset();
        TallyGlobalVariableStorage::sharedInstance()->setApiKey("CLOCK");
        std::vector<int> held;
        for (auto const& lock : {platform::Keychain::directory() / "keychain.lock",
                                 std::filesystem::path(TallySession::sessionsFilePath().string() + ".lock")}) {
            held.push_back(::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            EXPECT_EQ(::flock(held.back(), LOCK_EX), 0);
        }
        int status = -1;
        pid_t const copy = launchCopy("TALLY_FAST", home.string());
        ASSERT_EQ(waitpid(copy, &status, 0), copy);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        size_t restamped = 0;
        for (auto const& folder : {platform::Keychain::directory(), TallyUtil::filePathDirectory()})
            restamped += testing_support::restampNotes(folder, isNote, clock.time);
        EXPECT_GE(restamped, 2u);
        // Opted out, this process's session clears the saved ones; then it opts in.
        Tally::startSession("CLOCK");
        Tally::endSession();
        Tally::reset();
        EXPECT_TRUE(Tally::hasUserOptedOut());
        Tally::setTallyOptOut(false);
        EXPECT_FALSE(Tally::hasUserOptedOut()) << clock.name;
        for (int fd : held) ::close(fd);
        std::string const marker = "OPTED_IN_" + std::to_string(round) + "_";
        Tally::startSession("CLOCK");
        Tally::logEvent(marker.c_str());
        Tally::endSession();
        EXPECT_TRUE(eventually([&] { return requestsHolding(service, marker) == 1 && senderIdle(); })) << clock.name;
        EXPECT_FALSE(Tally::hasUserOptedOut());
        Tally::reset();
    }
    EXPECT_EQ(requestsHolding(service, "SAVED_BY_THE_FAST_COPY"), 0u);
}

// A host that returns from main right after ending its session, the endpoint refusing and the
// sender's list at its cap: the agent's threads still decode the list, retry and send while the
// process's statics go. No exit dies or reports, and the sessions the cap keeps go out later.
TEST_F(PublicInterface, ExitsRightAfterTheSessionEndsTouchNothingDestroyedAndLoseNothing) {
    auto marker = [](int i) { return "EXITED_" + std::to_string(i) + "_"; };
    if (char const* run = std::getenv("TALLY_EXIT")) {  // "<run> <url> <folder>"
        int const i = becomeCopy(run);
        Tally::startSession("EXIT KEY");
        Tally::logEvent(marker(i).c_str());
        Tally::endSession();
        std::exit(0);  // as a return from main: no shutdown, the statics go
    }
    // The list at its cap before the first run.
    TallyGlobalVariableStorage::sharedInstance()->setApiKey("EXIT KEY");
    auto index = TallyDataSenderIndex::instantiatedIndexWithIndexFile(TallyDataSender::kIndexFileName);
    for (size_t i = 0; i < TallyDataSenderIndex::kMaxBlocksPerKey; ++i)
        index->addBlockInfo(TallyDataSenderBlockInfo::initWithData(platform::Data(64, uint8_t(i))), TallyDataSender::dataKey());
    index->indexMapQueue().sync([] {});
    index.reset();
    Tally::reset();
    int refusing = -1;
    std::string const url = refusedEndpoint(refusing);
    constexpr int kRuns = 40;
    for (int i = 0; i < kRuns; ++i) {
        int status = -1;
        pid_t const child = launchCopy("TALLY_EXIT", std::to_string(i) + " " + url + " " + dir.path().string());
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "run " << i << ": status " << status;
    }
    ::close(refusing);
    HttpTestServer service;
    service.on("/aas.do", Reply::answer(200));
    Tally::setServerURL(service.url("/aas.do"));
    Tally::startSession("EXIT KEY");
    auto sent = [&](int i) { return requestsHolding(service, marker(i)) > 0; };
    EXPECT_TRUE(eventually([&] {  // the last runs' sessions, which the list's cap keeps
        for (int i = kRuns - 10; i < kRuns; ++i)
            if (!sent(i)) return false;
        return true;
    }));
}

// Copies that end their sessions at quit (the will-terminate notice, reports on close), one at a
// time and two at once, against a server that takes up to 400 ms to answer: each report on its
// way has its answer heard before the copy ends, so no start sends it again. A server that never
// answers holds a quit only briefly, and its report stays for the next start.
TEST_F(PublicInterface, SessionsEndedAtQuitAreSentOnceAndASilentServerHoldsNoQuit) {
    auto marker = [](int i) { return "QUIT_" + std::to_string(i) + "_"; };
    if (char const* quit = std::getenv("TALLY_QUIT")) {  // "<session> <url> <folder>"
        int const session = becomeCopy(quit);
        char c;
        (void)!::read(STDIN_FILENO, &c, 1);  // the copies of a round go together
        Tally::startSession("QUIT KEY");
        Tally::logEvent(marker(session).c_str());
        platform::NotificationCenter::shared().post(Tally::kWillTerminate);  // the game's quit
        std::exit(0);
    }
    HttpTestServer service, silent;
    std::atomic<int> replies{0};
    service.on("/aas.do", [&replies](HttpTestServer::Request const&) {
        Reply r = Reply::answer(200);
        r.delayBefore = std::chrono::milliseconds(replies++ * 137 % 401);  // spread over 0-400 ms
        return r;
    });
    silent.on("/aas.do", Reply::of(Reply::Kind::Hold));
    int sessions = 0;
    // Returns when the round's copies have ended, each with status 0 (one that hangs is killed).
    auto round = [&](int copies, std::string const& url) {
        int gate[2], status = -1;
        pid_t children[2];
        ASSERT_EQ(pipe2(gate, O_CLOEXEC), 0);
        for (int p = 0; p < copies; ++p)
            children[p] = launchCopy("TALLY_QUIT", std::to_string(sessions++) + " " + url + " " + dir.path().string(), gate[0]);
        for (int fd : gate) close(fd);
        for (int p = 0; p < copies; ++p) {
            bool const ended = eventually([&] { return waitpid(children[p], &status, WNOHANG) == children[p]; });
            if (!ended) ::kill(children[p], SIGKILL), waitpid(children[p], &status, 0);
            EXPECT_TRUE(ended && WIFEXITED(status) && WEXITSTATUS(status) == 0) << "session " << sessions << ": status " << status;
        }
    };
    constexpr int kRounds = 6;
    for (int r = 0; r < kRounds; ++r) round(1, service.url("/aas.do"));
    for (int r = 0; r < kRounds; ++r) round(2, service.url("/aas.do"));
    int const unanswered = sessions;
    round(1, silent.url("/aas.do"));
    auto const ended = std::chrono::steady_clock::now();
    ASSERT_EQ(requestsHolding(silent, marker(unanswered)), 1u);
    // The quit waits two seconds at most (a thread sanitizer's exit adds a second of its own); one
    // held by the server would wait out the request's 20 s. Ten tell them apart on a loaded machine.
    for (auto const& r : silent.requests())
        if (r.body.find(marker(unanswered)) != std::string::npos) {
            auto const ms = std::chrono::duration_cast<std::chrono::milliseconds>(ended - r.arrival).count();
            std::printf("quit against a silent server: exit %lld ms after its report arrived\n", static_cast<long long>(ms));
            EXPECT_LT(ms, 10000) << "the quit waited on a server that never answers";
        }
    // The next start sends whatever is left, the silent server's report too (its block stayed);
    // every session reached the answering server exactly once.
    Tally::setServerURL(service.url("/aas.do"));
    Tally::startSession("QUIT KEY");
    EXPECT_TRUE(eventually([&] {
        for (int i = 0; i < sessions; ++i)
            if (requestsHolding(service, marker(i)) == 0) return false;
        return senderIdle() && TallyDataSender::instance()->dataIndex()->notSentBlocksForDataKey(TallyDataSender::dataKey()).empty();
    }));
    for (int i = 0; i < sessions; ++i) EXPECT_EQ(requestsHolding(service, marker(i)), 1u) << marker(i);
}

// A host that forks without exec while the agent's threads run, and while another of its threads
// logs: the child has neither. Each child logs, ends its session and exits, at a different moment
// of the parent's work; every one ends (a watchdog kills one that hangs), and what the children
// ended reaches the server at a later start.
TEST_F(PublicInterface, ChildrenForkedWithoutExecEndTheirSessionsAndEnd) {
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
    // This sanitizer's allocator takes no lock around a fork: a child of a threaded process hangs
    // in it when another thread was allocating, whatever the agent does.
    GTEST_SKIP() << "the address sanitizer's allocator is not kept whole across fork()";
#endif
#endif
    // Refused while they run: no thread of a test server allocates as a fork strikes.
    int refusing = -1;
    Tally::setServerURL(refusedEndpoint(refusing));
    Tally::startSession("FORKED");
    std::atomic<bool> stop{false};
    std::thread logger([&] {
        while (!stop) Tally::logEvent("BESIDE");
    });
    constexpr int kChildren = 8;
    for (int i = 0; i < kChildren; ++i) {
        Tally::logEvent(("PARENT_" + std::to_string(i)).c_str());
        std::string const parentTag = platform::atomicWriteTag();
        pid_t const child = fork();
        if (child == 0) {
            // Another writer: its temporary files and notes must not take the parent's names.
            if (platform::atomicWriteTag() == parentTag) _exit(3);
            Tally::logEvent(("FORKED_" + std::to_string(i)).c_str());
            Tally::endSession();
            std::exit(0);  // the exit handler's last saves run too
        }
        ASSERT_GT(child, 0);
        int status = -1;
        bool const ended = eventually([&] { return waitpid(child, &status, WNOHANG) == child; });
        if (!ended) {
            ::kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        EXPECT_TRUE(ended) << "child " << i << " hung";
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child " << i << ": status " << status;
    }
    stop = true;
    logger.join();
    Tally::endSession();
    Tally::reset();
    ::close(refusing);
    HttpTestServer service;
    service.on("/aas.do", Reply::answer(200));
    Tally::setServerURL(service.url("/aas.do"));
    Tally::startSession("FORKED");
    EXPECT_TRUE(eventually([&] {
        for (int i = 0; i < kChildren; ++i)
            if (requestsHolding(service, "FORKED_" + std::to_string(i)) == 0) return false;
        return true;
    }));
}
