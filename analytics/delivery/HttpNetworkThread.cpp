#include "analytics/delivery/HttpNetworkThread.h"

#include "platform/base/AlternateSignalStack.h"
#include "platform/base/Digests.h"
#include "platform/base/ForkedChild.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <system_error>

namespace {

using Clock = std::chrono::steady_clock;

std::string lowerCase(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
}

bool isToken(std::string const& name) {
    if (name.empty()) return false;
    for (char c : name) {
        if (std::isalnum(uint8_t(c))) continue;
        if (std::strchr("!#$%&'*+-.^_`|~", c) && c != '\0') continue;
        return false;
    }
    return true;
}

bool hasLineBreakOrNul(std::string const& text) { return text.find_first_of(std::string("\r\n\0", 3)) != std::string::npos; }

bool isRedirect(long status) { return status == 301 || status == 302 || status == 303 || status == 307 || status == 308; }

HttpNetworkThread::Failure failureFor(CURLcode code, char const* detail) {
    int32_t c = HttpNetworkThread::kUnknown;
    switch (code) {
        case CURLE_OPERATION_TIMEDOUT: c = HttpNetworkThread::kTimedOut; break;
        case CURLE_UNSUPPORTED_PROTOCOL: c = HttpNetworkThread::kUnsupportedURL; break;
        case CURLE_URL_MALFORMAT: c = HttpNetworkThread::kBadURL; break;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY: c = HttpNetworkThread::kCannotFindHost; break;
        case CURLE_COULDNT_CONNECT: c = HttpNetworkThread::kCannotConnectToHost; break;
        case CURLE_GOT_NOTHING:
        case CURLE_RECV_ERROR:
        case CURLE_SEND_ERROR:
        case CURLE_PARTIAL_FILE: c = HttpNetworkThread::kNetworkConnectionLost; break;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_BAD_CONTENT_ENCODING: c = HttpNetworkThread::kBadServerResponse; break;
        case CURLE_PEER_FAILED_VERIFICATION: c = HttpNetworkThread::kServerCertificateUntrusted; break;
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_CACERT_BADFILE: c = HttpNetworkThread::kSecureConnectionFailed; break;
        default: break;
    }
    std::string message = curl_easy_strerror(code);
    if (detail && *detail) message += std::string(": ") + detail;
    return {c, message};
}

}  // namespace

struct HttpNetworkThread::Transfer {
    uint64_t id = 0;
    Request original;
    Request current;
    std::shared_ptr<Listener> listener;
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    int32_t redirects = 0;
    // The attempt in flight.
    long status = 0;
    Headers headers;
    bool following = false;
    std::string nextUrl;
    Failure redirectFailure;
    Clock::time_point lastActivity;
    Clock::time_point due;  // the whole request's deadline
    int64_t moved = 0;
    size_t bodyBytes = 0;    // of the reply in flight
    bool overflowed = false;
    char error[CURL_ERROR_SIZE] = {};
};

HttpNetworkThread& HttpNetworkThread::instance() {
    // Never destroyed: senders still start and cancel requests while the process's statics go.
    static auto* thread = new HttpNetworkThread;
    return *thread;
}

HttpNetworkThread::HttpNetworkThread() {
    platform::keepCryptoUntilProcessEnd();  // before libcurl starts libcrypto
    curl_global_init(CURL_GLOBAL_DEFAULT);
    multi_ = curl_multi_init();
    std::lock_guard lock(mutex_);
    startThread();
}

bool HttpNetworkThread::startThread() {
    if (platform::isForkedChildWithoutThreads()) {
        noThread_ = "a forked child has none";
        return false;
    }
    if (thread_.joinable()) return true;
    platform::noteLibraryThreadStarting();
    try {
        thread_ = std::thread([this] { run(); });
        return true;
    } catch (std::system_error const& e) {
        noThread_ = e.code().message();
        return false;
    }
}

HttpNetworkThread::~HttpNetworkThread() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    curl_multi_wakeup(multi_);
    if (thread_.joinable()) thread_.join();
    curl_multi_cleanup(multi_);
}

std::string HttpNetworkThread::schemeOf(std::string const& url) {
    CURLU* u = curl_url();
    std::string scheme;
    if (curl_url_set(u, CURLUPART_URL, url.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK) {
        char* s = nullptr;
        if (curl_url_get(u, CURLUPART_SCHEME, &s, 0) == CURLUE_OK && s) scheme = lowerCase(s);
        curl_free(s);
    }
    curl_url_cleanup(u);
    return scheme;
}

HttpNetworkThread::Failure HttpNetworkThread::refusal(Request const& request) {
    if (request.method != "GET" && request.method != "PUT" && request.method != "POST")
        return {kBadURL, "method " + request.method + " is not sent"};
    std::string const scheme = schemeOf(request.url);
    if (scheme.empty()) return {kBadURL, "the URL does not parse"};
    if (scheme != "http" && scheme != "https") return {kUnsupportedURL, "only http and https URLs are loaded"};
    for (auto const& [name, value] : request.headers) {
        if (!isToken(name)) return {kBadURL, "header name is not a token"};
        if (hasLineBreakOrNul(value)) return {kBadURL, "header " + name + " holds a line break or NUL"};
    }
    return {};
}

uint64_t HttpNetworkThread::start(Request request, std::shared_ptr<Listener> listener) {
    if (platform::isForkedChildWithoutThreads()) {
        // The thread, and whatever it held, stayed with the parent: nothing here is touched.
        listener->didFail({kUnknown, "cannot start the network thread: a forked child has none"});
        return 0;
    }
    auto t = std::make_unique<Transfer>();
    t->original = request;
    t->current = std::move(request);
    t->listener = std::move(listener);
    uint64_t id;
    std::string noThread;
    {
        std::lock_guard lock(mutex_);
        id = t->id = nextId_++;
        if (startThread())
            incoming_.push_back(std::move(t));
        else
            noThread = noThread_;
    }
    if (t) {
        // Nothing would ever move it: it fails now rather than waiting for good.
        t->listener->didFail({kUnknown, "cannot start the network thread: " + noThread});
        return id;
    }
    curl_multi_wakeup(multi_);
    return id;
}

void HttpNetworkThread::cancel(uint64_t id) {
    if (platform::isForkedChildWithoutThreads()) return;
    {
        std::lock_guard lock(mutex_);
        cancels_.push_back(id);
    }
    curl_multi_wakeup(multi_);
}

void HttpNetworkThread::configure(Transfer& t) {
    t.status = 0;
    t.headers.clear();
    t.following = false;
    t.nextUrl.clear();
    t.redirectFailure = {};
    t.lastActivity = Clock::now();
    t.moved = 0;
    t.bodyBytes = 0;
    t.overflowed = false;
    t.error[0] = '\0';
    if (!t.easy) t.easy = curl_easy_init();
    CURL* e = t.easy;
    curl_easy_reset(e);
    curl_slist_free_all(t.headerList);
    t.headerList = nullptr;
    // Only the requester's header lines go out: curl's own defaults are switched off.
    bool hasContentType = false;
    for (auto const& [name, value] : t.current.headers) {
        if (lowerCase(name) == "content-type") hasContentType = true;
        std::string line = value.empty() ? name + ";" : name + ": " + value;
        t.headerList = curl_slist_append(t.headerList, line.c_str());
    }
    t.headerList = curl_slist_append(t.headerList, "Expect:");
    t.headerList = curl_slist_append(t.headerList, "Accept:");
    if (!hasContentType) t.headerList = curl_slist_append(t.headerList, "Content-Type:");

    long const timeoutMs = long(std::max<int64_t>(1, t.current.timeout.count()));
    curl_easy_setopt(e, CURLOPT_URL, t.current.url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    // The machine itself is never reached through a proxy.
    curl_easy_setopt(e, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, t.headerList);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, t.error);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &HttpNetworkThread::onHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &t);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &HttpNetworkThread::onData);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &t);
    curl_easy_setopt(e, CURLOPT_XFERINFOFUNCTION, &HttpNetworkThread::onProgress);
    curl_easy_setopt(e, CURLOPT_XFERINFODATA, &t);
    curl_easy_setopt(e, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(e, CURLOPT_PRIVATE, &t);
    if (t.current.method == "GET") {
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
    } else {
        static char const empty[1] = {0};
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(t.current.body.size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, t.current.body.empty() ? empty : reinterpret_cast<char const*>(t.current.body.data()));
        if (t.current.method != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, t.current.method.c_str());
    }
}

size_t HttpNetworkThread::onHeader(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    size_t const n = size * count;
    t.lastActivity = Clock::now();
    std::string line(data, n);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.rfind("HTTP/", 0) == 0) {
        // A new status line starts a new header block (after 100 Continue, for instance).
        t.headers.clear();
        size_t sp = line.find(' ');
        t.status = sp == std::string::npos ? 0 : std::strtol(line.c_str() + sp + 1, nullptr, 10);
        return n;
    }
    if (!line.empty()) {
        size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string value = line.substr(colon + 1);
            size_t b = value.find_first_not_of(" \t");
            value = b == std::string::npos ? std::string() : value.substr(b);
            while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
            t.headers.emplace_back(line.substr(0, colon), value);
        }
        return n;
    }
    // The end of a header block.
    if (t.status >= 100 && t.status < 200) return n;
    if (isRedirect(t.status)) {
        std::string location;
        for (auto const& [name, value] : t.headers)
            if (lowerCase(name) == "location") location = value;
        if (!location.empty()) {
            int32_t const count = t.redirects + 1;
            int32_t const limit = t.original.redirectsLimit;
            t.redirects = count;
            if ((limit == 0 || count <= limit) && count <= kRedirectHardCap) {
                // Followed: this response and its body go nowhere.
                t.following = true;
                if (location.size() > kMaxLocationLength) {
                    t.redirectFailure = {kBadURL, "redirect location is too long"};
                } else {
                    CURLU* u = curl_url();
                    curl_url_set(u, CURLUPART_URL, t.current.url.c_str(), CURLU_NON_SUPPORT_SCHEME);
                    char* resolved = nullptr;
                    if (curl_url_set(u, CURLUPART_URL, location.c_str(), CURLU_NON_SUPPORT_SCHEME) == CURLUE_OK &&
                        curl_url_get(u, CURLUPART_URL, &resolved, 0) == CURLUE_OK && resolved) {
                        t.nextUrl = resolved;
                        std::string const scheme = schemeOf(t.nextUrl);
                        if (scheme != "http" && scheme != "https")
                            t.redirectFailure = {kUnsupportedURL, "redirect to a scheme other than http or https"};
                    } else {
                        t.redirectFailure = {kBadURL, "redirect location does not parse"};
                    }
                    curl_free(resolved);
                    curl_url_cleanup(u);
                }
                return n;
            }
        }
    }
    t.listener->didReceiveResponse(int32_t(t.status), t.headers);
    return n;
}

size_t HttpNetworkThread::onData(char* data, size_t size, size_t count, void* self) {
    auto& t = *static_cast<Transfer*>(self);
    size_t const n = size * count;
    t.lastActivity = Clock::now();
    if (t.following || n == 0) return n;
    // Capped while it arrives: what is over the cap is never held.
    size_t const room = t.current.maxBodyBytes - std::min(t.bodyBytes, t.current.maxBodyBytes);
    if (n > room && !t.current.keepFirstBytesOnly) {
        t.overflowed = true;
        return 0;  // curl ends the transfer with a write error
    }
    size_t const kept = std::min(n, room);
    t.bodyBytes += kept;
    if (kept > 0) t.listener->didReceiveData(std::vector<uint8_t>(data, data + kept));
    return n;
}

int HttpNetworkThread::onProgress(void* self, int64_t, int64_t dlNow, int64_t, int64_t ulNow) {
    auto& t = *static_cast<Transfer*>(self);
    if (dlNow + ulNow != t.moved) {
        t.moved = dlNow + ulNow;
        t.lastActivity = Clock::now();
    }
    return 0;
}

void HttpNetworkThread::release(Transfer& t) {
    if (t.easy) {
        curl_multi_remove_handle(multi_, t.easy);
        curl_easy_cleanup(t.easy);
        t.easy = nullptr;
    }
    curl_slist_free_all(t.headerList);
    t.headerList = nullptr;
}

void HttpNetworkThread::fail(Transfer& t, Failure failure) {
    auto listener = t.listener;
    uint64_t const id = t.id;
    release(t);
    running_.erase(id);
    listener->didFail(std::move(failure));
}

void HttpNetworkThread::finish(Transfer& t, int result) {
    CURLcode const code = CURLcode(result);
    if (t.overflowed)
        return fail(t, {kDataLengthExceedsMaximum,
                        "The reply is longer than the " + std::to_string(t.current.maxBodyBytes) + " bytes it may have."});
    if (t.following && code == CURLE_OK) {
        if (!t.redirectFailure.message.empty()) return fail(t, t.redirectFailure);
        // 307 and 308 send the first request again; any other redirect becomes a GET without a body.
        bool const keepsRequest = t.status == 307 || t.status == 308;
        Request next = keepsRequest ? t.original : t.current;
        next.url = t.nextUrl;
        bool const droppedBody = !keepsRequest && (t.current.method != "GET" || !t.current.body.empty());
        if (!keepsRequest) {
            next.method = "GET";
            next.body.clear();
            std::erase_if(next.headers, [](auto const& h) { return lowerCase(h.first) == "content-type"; });
        }
        t.current = std::move(next);
        t.listener->didFollowRedirect(t.redirects, droppedBody);
        curl_multi_remove_handle(multi_, t.easy);
        configure(t);
        curl_multi_add_handle(multi_, t.easy);
        return;
    }
    if (code != CURLE_OK) return fail(t, failureFor(code, t.error));
    auto listener = t.listener;
    uint64_t const id = t.id;
    release(t);
    running_.erase(id);
    listener->didFinish();
}

void HttpNetworkThread::run() {
    platform::AlternateSignalStack::installForThisThread();
    for (;;) {
        // A round moves requests and calls their listeners: library work, which a fork waits for.
        auto wait = std::chrono::milliseconds(200);
        {
            platform::LibraryWork work;
            std::deque<std::unique_ptr<Transfer>> incoming;
            std::vector<uint64_t> cancels;
            {
                std::lock_guard lock(mutex_);
                if (stopping_) break;
                incoming.swap(incoming_);
                cancels.swap(cancels_);
            }
            for (auto& t : incoming) {
                Transfer& ref = *t;
                running_[t->id] = std::move(t);
                Failure refused = refusal(ref.current);
                if (!refused.message.empty()) {
                    fail(ref, std::move(refused));
                    continue;
                }
                ref.due = Clock::now() + ref.original.deadline;
                configure(ref);
                curl_multi_add_handle(multi_, ref.easy);
            }
            for (uint64_t id : cancels) {
                auto it = running_.find(id);
                if (it == running_.end()) continue;
                release(*it->second);
                running_.erase(it);
            }
            int still = 0;
            curl_multi_perform(multi_, &still);
            int left = 0;
            while (CURLMsg* msg = curl_multi_info_read(multi_, &left)) {
                if (msg->msg != CURLMSG_DONE) continue;
                Transfer* t = nullptr;
                curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &t);
                if (t) finish(*t, msg->data.result);
            }
            // Requests that moved no byte for their time-out, or outlived their deadline, end as
            // timed out.
            auto const now = Clock::now();
            std::vector<std::pair<Transfer*, char const*>> late;
            for (auto& [id, t] : running_) {
                auto const stall = t->lastActivity + t->current.timeout;
                if (t->due <= now) {
                    late.emplace_back(t.get(), "The request did not finish within its deadline.");
                } else if (stall <= now) {
                    late.emplace_back(t.get(), "The request timed out.");
                } else {
                    wait = std::min(wait, std::chrono::duration_cast<std::chrono::milliseconds>(std::min(stall, t->due) - now) +
                                              std::chrono::milliseconds(1));
                }
            }
            for (auto [t, why] : late) fail(*t, {kTimedOut, why});
        }
        curl_multi_poll(multi_, nullptr, 0, int(wait.count()), nullptr);
    }
    for (auto& [id, t] : running_) release(*t);
    running_.clear();
}
