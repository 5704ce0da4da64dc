#include "testing/HttpTestServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <stdexcept>

namespace testing_support {

namespace {

constexpr size_t kMaxHeaderBytes = 64 * 1024;
constexpr size_t kMaxBodyBytes = 64 * 1024 * 1024;

std::string lower(std::string s) {
    for (char& c : s) c = char(std::tolower(uint8_t(c)));
    return s;
}

std::string trim(std::string const& s) {
    size_t b = s.find_first_not_of(" \t");
    size_t e = s.find_last_not_of(" \t");
    return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
}

char const* reason(int status) {
    switch (status) {
        case 200: return "OK";
        case 204: return "No Content";
        case 301: return "Moved Permanently";
        case 302: return "Found";
        case 303: return "See Other";
        case 304: return "Not Modified";
        case 307: return "Temporary Redirect";
        case 404: return "Not Found";
        case 500: return "Internal Server Error";
        case 503: return "Service Unavailable";
        default: return "Status";
    }
}

bool sendAll(int fd, char const* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

void resetConnection(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}

}  // namespace

std::string HttpTestServer::Request::header(std::string const& name) const {
    auto it = headers.find(lower(name));
    return it == headers.end() ? std::string() : it->second;
}

HttpTestServer::Reply HttpTestServer::Reply::answer(int code, std::string body) {
    Reply r;
    r.status = code;
    r.body = std::move(body);
    return r;
}

HttpTestServer::Reply HttpTestServer::Reply::redirect(int code, std::string location) {
    Reply r;
    r.status = code;
    r.headers.emplace_back("Location", std::move(location));
    return r;
}

HttpTestServer::Reply HttpTestServer::Reply::of(Kind kind) {
    Reply r;
    r.kind = kind;
    return r;
}

HttpTestServer::HttpTestServer() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    wakeFd_ = eventfd(0, EFD_CLOEXEC);
    if (listenFd_ < 0 || wakeFd_ < 0) throw std::runtime_error("HttpTestServer: no socket");
    int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, 128) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error(std::string("HttpTestServer: cannot listen: ") + std::strerror(errno));
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { acceptLoop(); });
}

HttpTestServer::~HttpTestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        for (int fd : open_) ::shutdown(fd, SHUT_RDWR);
    }
    changed_.notify_all();
    uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) < 0) {
    }
    acceptor_.join();
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return active_ == 0; });
    lock.unlock();
    ::close(listenFd_);
    ::close(wakeFd_);
}

std::string HttpTestServer::url(std::string const& pathAndQuery) const {
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

void HttpTestServer::on(std::string const& path, Reply reply) {
    on(path, Handler([reply](Request const&) { return reply; }));
}

void HttpTestServer::on(std::string const& path, std::vector<Reply> replies) {
    auto next = std::make_shared<size_t>(0);
    auto list = std::make_shared<std::vector<Reply>>(std::move(replies));
    on(path, Handler([next, list](Request const&) {
        // Called under the server's lock, so the counter needs none of its own.
        Reply r = list->empty() ? Reply::answer(404) : (*list)[std::min(*next, list->size() - 1)];
        ++*next;
        return r;
    }));
}

void HttpTestServer::on(std::string const& path, Handler handler) {
    std::lock_guard lock(mutex_);
    handlers_[path] = std::move(handler);
}

void HttpTestServer::setFaultMode(FaultMode mode) {
    std::lock_guard lock(mutex_);
    faults_ = mode;
    random_.seed(mode.seed);
}

size_t HttpTestServer::faultCount(FaultKind kind) const {
    std::lock_guard lock(mutex_);
    return faultCounts_[size_t(kind)];
}

size_t HttpTestServer::faultTotal() const {
    std::lock_guard lock(mutex_);
    size_t total = 0;
    for (size_t n : faultCounts_) total += n;
    return total;
}

std::vector<HttpTestServer::Request> HttpTestServer::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

size_t HttpTestServer::requestCount() const {
    std::lock_guard lock(mutex_);
    return requests_.size();
}

bool HttpTestServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void HttpTestServer::release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    changed_.notify_all();
}

size_t HttpTestServer::heldNow() const {
    std::lock_guard lock(mutex_);
    return held_;
}

bool HttpTestServer::pickFault(FaultKind& kind) {
    // Under the lock. Refusals are drawn when a connection is accepted, the rest per request.
    if (faults_.rate <= 0.0) return false;
    if (std::uniform_real_distribution<double>(0.0, 1.0)(random_) >= faults_.rate) return false;
    kind = FaultKind(std::uniform_int_distribution<int>(int(FaultKind::Drop), int(FaultKind::Count) - 1)(random_));
    ++faultCounts_[size_t(kind)];
    return true;
}

bool HttpTestServer::pickRefusal() {
    // Under the lock.
    if (faults_.rate <= 0.0) return false;
    double const share = faults_.rate / double(FaultKind::Count);
    if (std::uniform_real_distribution<double>(0.0, 1.0)(random_) >= share) return false;
    ++faultCounts_[size_t(FaultKind::Refuse)];
    return true;
}

void HttpTestServer::acceptLoop() {
    for (;;) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents) return;
        int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        ++accepted_;
        std::lock_guard lock(mutex_);
        if (stopping_) {
            ::close(fd);
            return;
        }
        if (pickRefusal()) {
            // The closest a listening server gets to a refusal: the connection dies unread.
            resetConnection(fd);
            ::close(fd);
            continue;
        }
        ++active_;
        open_.push_back(fd);
        peak_ = std::max(peak_.load(), open_.size());
        std::thread([this, fd] { serve(fd); }).detach();
    }
}

bool HttpTestServer::waitFor(std::chrono::milliseconds delay) {
    if (delay.count() <= 0) return true;
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, delay, [this] { return stopping_; });
}

void HttpTestServer::record(size_t index, int status, bool fault) {
    std::lock_guard lock(mutex_);
    requests_[index].answeredStatus = status;
    requests_[index].fault = fault;
}

bool HttpTestServer::readRequest(int fd, std::string& buffer, Request& request, bool& keepAlive) {
    auto fill = [&]() {
        char chunk[16384];
        for (;;) {
            ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            buffer.append(chunk, size_t(n));
            return true;
        }
    };
    size_t end;
    while ((end = buffer.find("\r\n\r\n")) == std::string::npos) {
        if (buffer.size() > kMaxHeaderBytes || !fill()) return false;
    }
    std::string head = buffer.substr(0, end);
    buffer.erase(0, end + 4);
    size_t lineEnd = head.find("\r\n");
    std::string line = head.substr(0, lineEnd);
    size_t sp1 = line.find(' '), sp2 = line.rfind(' ');
    if (sp1 == std::string::npos || sp2 == sp1) return false;
    request.method = line.substr(0, sp1);
    std::string target = line.substr(sp1 + 1, sp2 - sp1 - 1);
    std::string version = line.substr(sp2 + 1);
    size_t q = target.find('?');
    request.path = target.substr(0, q);
    request.query = q == std::string::npos ? std::string() : target.substr(q + 1);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t next = head.find("\r\n", pos);
        if (next == std::string::npos) next = head.size();
        std::string h = head.substr(pos, next - pos);
        pos = next + 2;
        size_t colon = h.find(':');
        if (colon == std::string::npos) continue;
        std::string name = lower(trim(h.substr(0, colon)));
        std::string value = trim(h.substr(colon + 1));
        auto [it, fresh] = request.headers.emplace(name, value);
        if (!fresh) it->second += ", " + value;
    }
    keepAlive = version == "HTTP/1.1" && lower(request.header("connection")) != "close";
    if (lower(request.header("transfer-encoding")).find("chunked") != std::string::npos) {
        for (;;) {
            size_t le;
            while ((le = buffer.find("\r\n")) == std::string::npos)
                if (!fill()) return false;
            size_t size = std::strtoul(buffer.substr(0, le).c_str(), nullptr, 16);
            buffer.erase(0, le + 2);
            if (size > kMaxBodyBytes) return false;
            if (size == 0) {
                // Trailers end with an empty line.
                while ((le = buffer.find("\r\n")) == std::string::npos)
                    if (!fill()) return false;
                while (le != 0) {
                    buffer.erase(0, le + 2);
                    while ((le = buffer.find("\r\n")) == std::string::npos)
                        if (!fill()) return false;
                }
                buffer.erase(0, 2);
                break;
            }
            while (buffer.size() < size + 2)
                if (!fill()) return false;
            request.body.append(buffer, 0, size);
            buffer.erase(0, size + 2);
        }
    } else {
        std::string cl = request.header("content-length");
        size_t size = cl.empty() ? 0 : std::strtoul(cl.c_str(), nullptr, 10);
        if (size > kMaxBodyBytes) return false;
        while (buffer.size() < size)
            if (!fill()) return false;
        request.body = buffer.substr(0, size);
        buffer.erase(0, size);
    }
    return true;
}

HttpTestServer::Reply HttpTestServer::scripted(Request const& request) {
    // Under the lock.
    auto it = handlers_.find(request.path);
    if (it == handlers_.end()) return Reply::answer(404, "not found");
    return it->second(request);
}

void HttpTestServer::serve(int fd) {
    std::string buffer;
    for (;;) {
        Request request;
        bool keepAlive = false;
        if (!readRequest(fd, buffer, request, keepAlive)) break;
        request.arrival = std::chrono::steady_clock::now();
        Reply reply;
        bool fault = false;
        size_t index;
        {
            std::lock_guard lock(mutex_);
            FaultKind kind{};
            if (pickFault(kind)) {
                fault = true;
                switch (kind) {
                    case FaultKind::Refuse:  // drawn at accept only
                    case FaultKind::Drop: reply = Reply::of(Reply::Kind::CloseWithoutReply); break;
                    case FaultKind::Reset: reply = Reply::of(Reply::Kind::Reset); break;
                    case FaultKind::Stall:
                        reply = Reply::of(Reply::Kind::CloseWithoutReply);
                        reply.delayBefore = faults_.stall;
                        break;
                    case FaultKind::ServerError: reply = Reply::answer(std::uniform_int_distribution<int>(0, 1)(random_) ? 500 : 503); break;
                    case FaultKind::RedirectLoop: reply = Reply::redirect(302, request.path + (request.query.empty() ? "" : "?" + request.query)); break;
                    case FaultKind::GarbageOk: {
                        std::string junk(std::uniform_int_distribution<size_t>(0, 64)(random_), '\0');
                        for (char& c : junk) c = char(random_());
                        reply = Reply::answer(200, junk);
                        break;
                    }
                    case FaultKind::Count: break;
                }
            } else {
                reply = scripted(request);
            }
            index = requests_.size();
            requests_.push_back(request);
        }
        changed_.notify_all();

        if (!waitFor(reply.delayBefore)) break;
        if (reply.kind == Reply::Kind::Hold) {
            std::unique_lock lock(mutex_);
            ++held_;
            changed_.notify_all();
            changed_.wait(lock, [this] { return released_ || stopping_; });
            --held_;
            if (stopping_) break;
        }
        if (reply.kind == Reply::Kind::CloseWithoutReply) break;
        if (reply.kind == Reply::Kind::Reset) {
            resetConnection(fd);
            break;
        }
        bool const partial = reply.kind == Reply::Kind::PartialBodyThenClose;
        std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason(reply.status) + "\r\n";
        for (auto const& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
        bool const bodyless = reply.status == 204 || reply.status == 304 || request.method == "HEAD";
        if (!bodyless) head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
        if (!keepAlive || partial) head += "Connection: close\r\n";
        head += "\r\n";
        {
            std::lock_guard lock(mutex_);
            requests_[index].replyStatus = reply.status;
        }
        if (!sendAll(fd, head.data(), head.size())) break;
        if (!waitFor(reply.delayInside)) break;
        if (bodyless) {
            record(index, reply.status, fault);
        } else if (partial) {
            sendAll(fd, reply.body.data(), reply.body.size() / 2);
            break;
        } else {
            if (!sendAll(fd, reply.body.data(), reply.body.size())) break;
            record(index, reply.status, fault);
        }
        if (!keepAlive) break;
    }
    std::lock_guard lock(mutex_);
    open_.erase(std::find(open_.begin(), open_.end(), fd));
    ::close(fd);
    --active_;
    changed_.notify_all();
}

}  // namespace testing_support
