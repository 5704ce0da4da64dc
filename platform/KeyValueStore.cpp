#include "platform/KeyValueStore.h"

#include "platform/base/AlternateSignalStack.h"
#include "platform/base/ReportOnce.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <cstring>
#include <map>

#include "platform/AtomicFile.h"

namespace platform {

KeyValueStore::KeyValueStore(std::filesystem::path folder) : folder_(std::move(folder)) {}

KeyValueStore::~KeyValueStore() {
    if (watcher_.joinable()) {
        uint64_t one = 1;
        while (::write(wakeFd_, &one, sizeof one) < 0 && errno == EINTR) {
        }
        watcher_.join();
    }
    if (inotifyFd_ >= 0) {
        ::close(inotifyFd_);
    }
    if (wakeFd_ >= 0) {
        ::close(wakeFd_);
    }
}

bool KeyValueStore::validKey(std::string const& key) {
    if (key.empty() || key.size() > 200 || key[0] == '.') {
        return false;
    }
    return std::all_of(key.begin(), key.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-' || c == '.';
    });
}

bool KeyValueStore::available() const {
    struct stat st {};
    return ::stat(folder_.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
           ::access(folder_.c_str(), W_OK | X_OK) == 0;
}

bool KeyValueStore::synchronize() const { return available(); }

std::optional<std::vector<uint8_t>> KeyValueStore::data(std::string const& key) const {
    if (!validKey(key) || !available()) {
        return std::nullopt;
    }
    std::filesystem::path const path = folder_ / key;
    WholeFile file = readWholeFile(path, kMaxValueSize);
    switch (file.status) {
    case WholeFile::Read:
        return std::move(file.bytes);
    case WholeFile::Missing:
        return std::vector<uint8_t>();
    case WholeFile::TooLarge:
        std::fprintf(stderr, "KeyValueStore: %s holds %llu bytes, over the limit; read as empty\n", path.c_str(),
                     static_cast<unsigned long long>(file.size));
        return std::vector<uint8_t>();
    case WholeFile::Failed:
        break;
    }
    if (ReportOnce::first(path.string() + " " + file.error))
        std::fprintf(stderr, "KeyValueStore: cannot read %s: %s\n", path.c_str(), file.error.c_str());
    return std::nullopt;
}

bool KeyValueStore::setData(std::string const& key, std::vector<uint8_t> const& value) {
    if (!validKey(key) || value.size() > kMaxValueSize || !available()) {
        return false;
    }
    std::string error;
    if (!writeFileAtomically(folder_ / key, value.data(), value.size(), &error)) {
        std::fprintf(stderr, "KeyValueStore: %s\n", error.c_str());
        return false;
    }
    return true;
}

void KeyValueStore::setChangeHandler(ChangeHandler handler) {
    std::lock_guard<std::mutex> lock(handlerMutex_);
    handler_ = std::move(handler);
    if (handler_ && !watcher_.joinable()) {
        startWatcher();
    }
}

void KeyValueStore::startWatcher() {
    inotifyFd_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (inotifyFd_ < 0 || wakeFd_ < 0 ||
        ::inotify_add_watch(inotifyFd_, folder_.c_str(),
                            IN_CLOSE_WRITE | IN_MOVED_TO | IN_MOVED_FROM | IN_DELETE | IN_DELETE_SELF |
                                IN_MOVE_SELF | IN_ONLYDIR) < 0) {
        std::fprintf(stderr, "KeyValueStore: cannot watch %s: %s\n", folder_.c_str(), std::strerror(errno));
        for (int* fd : {&inotifyFd_, &wakeFd_}) {
            if (*fd >= 0) {
                ::close(*fd);
                *fd = -1;
            }
        }
        return;
    }
    try {
        watcher_ = std::thread([this] {
            AlternateSignalStack::installForThisThread();
            watch();
        });
    } catch (std::system_error const& e) {
        // Runs without hearing of other processes' changes, as when the folder cannot be watched.
        std::fprintf(stderr, "KeyValueStore: cannot watch %s: %s\n", folder_.c_str(), e.what());
        for (int* fd : {&inotifyFd_, &wakeFd_}) {
            ::close(*fd);
            *fd = -1;
        }
    }
}

void KeyValueStore::watch() {
    std::string const ownTag = "." + atomicWriteTag() + ".";
    std::map<uint32_t, bool> renames;  // cookie -> renamed from one of this process's temp files
    bool watching = true;
    alignas(inotify_event) char buffer[16 * 1024];
    for (;;) {
        pollfd fds[2] = {{wakeFd_, POLLIN, 0}, {inotifyFd_, POLLIN, 0}};
        if (::poll(fds, watching ? 2 : 1, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        if (fds[0].revents != 0) {
            return;
        }
        ssize_t n = ::read(inotifyFd_, buffer, sizeof buffer);
        if (n <= 0) {
            continue;
        }
        std::vector<std::string> keys;
        bool accountChanged = false;
        for (ssize_t at = 0; at < n;) {
            auto const* ev = reinterpret_cast<inotify_event const*>(buffer + at);
            at += static_cast<ssize_t>(sizeof(inotify_event) + ev->len);
            std::string const name = ev->len ? std::string(ev->name) : std::string();
            if (ev->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                accountChanged = true;
                continue;
            }
            if (ev->mask & IN_MOVED_FROM) {
                if (renames.size() > 256) {
                    renames.clear();
                }
                renames[ev->cookie] = name.find(ownTag) != std::string::npos;
                continue;
            }
            if (isAtomicWriteTemp(name) || !validKey(name)) {
                continue;
            }
            if (ev->mask & IN_MOVED_TO) {
                auto it = renames.find(ev->cookie);
                bool own = it != renames.end() && it->second;
                if (it != renames.end()) {
                    renames.erase(it);
                }
                if (own) {
                    continue;
                }
            }
            if (std::find(keys.begin(), keys.end(), name) == keys.end()) {
                keys.push_back(name);
            }
        }
        ChangeHandler handler;
        {
            std::lock_guard<std::mutex> lock(handlerMutex_);
            handler = handler_;
        }
        if (handler && !keys.empty()) {
            handler(ChangeReason::ServerChange, keys);
        }
        if (accountChanged) {
            watching = false;  // the watch is gone with the folder
            if (handler) {
                handler(ChangeReason::AccountChange, {});
            }
        }
    }
}

}  // namespace platform
