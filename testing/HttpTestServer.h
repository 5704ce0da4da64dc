#pragma once
// A loopback HTTP/1.1 server for tests: 127.0.0.1 on an ephemeral port, no TLS, one thread per
// connection. It records every request and answers from a script per path, which can also
// misbehave on purpose (delays, dropped or reset connections, partial bodies, held replies). A
// seeded fault mode replaces a share of the scripted answers with random faults.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace testing_support {

class HttpTestServer {
public:
    struct Request {
        std::string method;
        std::string path;   // without the query
        std::string query;  // after "?", empty when none
        std::map<std::string, std::string> headers;  // names lower-cased; repeats joined with ", "
        std::string body;   // after de-chunking
        std::chrono::steady_clock::time_point arrival;
        // What the server answered: the status of a reply it sent whole, 0 when it sent none.
        int answeredStatus = 0;
        // The status of a reply the server began to send (set before its first byte goes out).
        int replyStatus = 0;
        bool fault = false;  // answered by the fault mode rather than the script

        std::string header(std::string const& name) const;
    };

    struct Reply {
        enum class Kind {
            Respond,               // status, headers and body
            CloseWithoutReply,     // close the connection without a byte
            Reset,                 // abort the connection (RST)
            PartialBodyThenClose,  // headers announce the whole body, half is sent, then close
            Hold,                  // wait until release(), then respond
        };
        Kind kind = Kind::Respond;
        int status = 200;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string body;
        std::chrono::milliseconds delayBefore{0};  // before the first byte of the reply
        std::chrono::milliseconds delayInside{0};  // after the headers, before the body

        static Reply answer(int code, std::string body = {});
        static Reply redirect(int code, std::string location);
        static Reply of(Kind kind);
    };
    using Handler = std::function<Reply(Request const&)>;

    // Random faults in place of a share of the scripted replies (see FaultKind).
    enum class FaultKind { Refuse, Drop, Reset, Stall, ServerError, RedirectLoop, GarbageOk, Count };
    struct FaultMode {
        uint32_t seed = 1;
        double rate = 0.0;                          // share of requests that get a fault
        std::chrono::milliseconds stall{1500};      // a stall holds this long, then closes
    };

    HttpTestServer();
    ~HttpTestServer();
    HttpTestServer(HttpTestServer const&) = delete;
    HttpTestServer& operator=(HttpTestServer const&) = delete;

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by pathAndQuery.
    std::string url(std::string const& pathAndQuery) const;

    // Unscripted paths answer 404.
    void on(std::string const& path, Reply reply);
    // The replies in turn; the last one repeats.
    void on(std::string const& path, std::vector<Reply> replies);
    void on(std::string const& path, Handler handler);

    void setFaultMode(FaultMode mode);
    size_t faultCount(FaultKind kind) const;
    size_t faultTotal() const;

    std::vector<Request> requests() const;
    size_t requestCount() const;
    // True once at least count requests have arrived.
    bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;

    // Lets every held reply go on, and the ones held later too.
    void release();
    size_t heldNow() const;
    size_t connectionsAccepted() const { return accepted_.load(); }
    size_t peakConcurrentConnections() const { return peak_.load(); }

private:
    void acceptLoop();
    void serve(int fd);
    bool readRequest(int fd, std::string& buffer, Request& request, bool& keepAlive);
    Reply scripted(Request const& request);
    bool pickFault(FaultKind& kind);
    bool pickRefusal();
    bool waitFor(std::chrono::milliseconds delay);
    void record(size_t index, int status, bool fault);

    int listenFd_ = -1;
    int wakeFd_ = -1;
    uint16_t port_ = 0;
    std::thread acceptor_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::map<std::string, Handler> handlers_;
    std::vector<Request> requests_;
    FaultMode faults_;
    std::mt19937 random_;
    size_t faultCounts_[size_t(FaultKind::Count)] = {};
    bool released_ = false;
    size_t held_ = 0;
    bool stopping_ = false;
    size_t active_ = 0;
    std::vector<int> open_;
    std::atomic<size_t> accepted_{0};
    std::atomic<size_t> peak_{0};
};

}  // namespace testing_support
