#pragma once
// The one thread that moves every HTTP request of the agent, over one libcurl multi handle.
// libcurl never follows redirects itself: this thread counts them against the request's limit
// and a hard cap, resolves Location against the request URL, and re-issues the request. Only
// http and https are spoken, certificates are always checked against the system's CA store, and
// a request whose method or header lines could smuggle anything is failed before it is sent.
//
// Listener calls run on this thread, in the order response, data chunks, then exactly one of
// finished or failed; nothing follows a cancel once it has been processed. While the thread
// cannot be started (a limit on threads) a request fails at once, on the caller's thread, and
// the next request tries to start it again; so does every request in a forked child.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

class HttpNetworkThread {
public:
    using Headers = std::vector<std::pair<std::string, std::string>>;

    // What a failure was, in the codes of the phone's URL loading errors.
    struct Failure {
        int32_t code = 0;
        std::string message;
    };
    static constexpr int32_t kCancelled = -999;
    static constexpr int32_t kBadURL = -1000;
    static constexpr int32_t kTimedOut = -1001;
    static constexpr int32_t kUnsupportedURL = -1002;
    static constexpr int32_t kCannotFindHost = -1003;
    static constexpr int32_t kCannotConnectToHost = -1004;
    static constexpr int32_t kNetworkConnectionLost = -1005;
    static constexpr int32_t kHTTPTooManyRedirects = -1007;
    static constexpr int32_t kBadServerResponse = -1011;
    static constexpr int32_t kDataLengthExceedsMaximum = -1103;
    static constexpr int32_t kSecureConnectionFailed = -1200;
    static constexpr int32_t kServerCertificateUntrusted = -1202;
    static constexpr int32_t kUnknown = -1;

    // Redirects followed at most, whatever a request's own limit says.
    static constexpr int32_t kRedirectHardCap = 20;
    // Longest Location that is followed.
    static constexpr size_t kMaxLocationLength = 8192;

    struct Request {
        std::string method;  // GET, PUT or POST
        std::string url;
        Headers headers;
        std::vector<uint8_t> body;
        // The longest wait for a connection or between two bytes moved either way.
        std::chrono::milliseconds timeout{20000};
        // Redirects followed before one is refused; 0 means only the hard cap applies.
        int32_t redirectsLimit = 0;
        // The longest reply body taken in: a longer one fails the request, or, when
        // keepFirstBytesOnly, only its first bytes are passed on and the rest is read and dropped.
        size_t maxBodyBytes = size_t(1) << 20;
        bool keepFirstBytesOnly = false;
        // The longest the whole request may take, redirects included, however steadily bytes move.
        std::chrono::milliseconds deadline{120000};

        // A request from a task class's arguments; the time-out in seconds.
        static Request make(std::string method, std::string url, std::map<std::string, std::string> const& headers,
                            std::vector<uint8_t> body, double timeoutSeconds) {
            Request request;
            request.method = std::move(method);
            request.url = std::move(url);
            request.headers.assign(headers.begin(), headers.end());
            request.body = std::move(body);
            request.timeout = std::chrono::milliseconds(int64_t(timeoutSeconds * 1000.0));
            return request;
        }
    };

    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void didReceiveResponse(int32_t status, Headers const& headers) = 0;
        virtual void didReceiveData(std::vector<uint8_t> chunk) = 0;
        // Called with the new count each time a redirect is followed; droppedBody when the
        // redirect turned the request into a GET without its body (301, 302 and 303 do; 307 and
        // 308 send the request again as it was).
        virtual void didFollowRedirect(int32_t count, bool droppedBody) = 0;
        virtual void didFinish() = 0;
        virtual void didFail(Failure failure) = 0;
    };

    static HttpNetworkThread& instance();

    // Queues a request; returns its id for cancel.
    uint64_t start(Request request, std::shared_ptr<Listener> listener);
    void cancel(uint64_t id);

    // An empty message when the request may be sent; otherwise why it may not.
    static Failure refusal(Request const& request);
    // The scheme of a URL, lower-cased, or empty when it does not parse.
    static std::string schemeOf(std::string const& url);

    ~HttpNetworkThread();

private:
    struct Transfer;
    HttpNetworkThread();
    // With mutex_ held: false, the reason kept in noThread_, when the thread cannot be started.
    bool startThread();
    void run();
    void configure(Transfer& t);
    void finish(Transfer& t, int result);
    void fail(Transfer& t, Failure failure);
    void release(Transfer& t);

    static size_t onHeader(char* data, size_t size, size_t count, void* self);
    static size_t onData(char* data, size_t size, size_t count, void* self);
    static int onProgress(void* self, int64_t dlTotal, int64_t dlNow, int64_t ulTotal, int64_t ulNow);

    void* multi_ = nullptr;
    std::mutex mutex_;
    std::deque<std::unique_ptr<Transfer>> incoming_;
    std::vector<uint64_t> cancels_;
    bool stopping_ = false;
    uint64_t nextId_ = 1;
    std::map<uint64_t, std::unique_ptr<Transfer>> running_;  // network thread only
    std::string noThread_;
    std::thread thread_;
};
