#pragma once
// A cloud key-value store stood in for by a folder: each key is one file holding its value, so
// several installs that point at one folder (a synced folder, a network share) share one "cloud".
// The store is available while the folder exists and is writable. Other processes' changes are
// announced through inotify on a watcher thread; this object's own writes are not announced.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class KeyValueStore {
public:
    // Why the change handler was called.
    enum class ChangeReason : uint8_t {
        ServerChange = 0,   // another writer changed or removed the listed keys
        AccountChange = 3,  // the folder went away or was replaced: the store is unavailable
    };
    using ChangeHandler = std::function<void(ChangeReason, std::vector<std::string> const& keys)>;

    // Values larger than this are refused on writing and read as empty.
    static constexpr size_t kMaxValueSize = 1u << 20;

    explicit KeyValueStore(std::filesystem::path folder);
    ~KeyValueStore();
    KeyValueStore(KeyValueStore const&) = delete;
    KeyValueStore& operator=(KeyValueStore const&) = delete;

    std::filesystem::path const& folder() const { return folder_; }
    bool available() const;

    // None when the store is unavailable or the value cannot be read; an empty vector when the
    // key holds nothing.
    std::optional<std::vector<uint8_t>> data(std::string const& key) const;
    // Replaces the key's value atomically; false when unavailable or the write failed.
    bool setData(std::string const& key, std::vector<uint8_t> const& value);
    // Every write already reaches the folder; true while the store is available.
    bool synchronize() const;

    // Called on the watcher thread (with no lock of this object held). Starts watching
    // on the first call; an empty handler stops the announcements.
    void setChangeHandler(ChangeHandler handler);

    // Keys are plain names: letters, digits, '_', '-' and '.' not in first place.
    static bool validKey(std::string const& key);

private:
    void startWatcher();
    void watch();

    std::filesystem::path folder_;
    std::mutex handlerMutex_;
    ChangeHandler handler_;
    int inotifyFd_ = -1;
    int wakeFd_ = -1;
    std::thread watcher_;
};

}  // namespace platform
