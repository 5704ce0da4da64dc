#include "platform/base/Keychain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>

#include "platform/base/AtomicFile.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"

namespace platform {
namespace {

// One lock for every read-modify-write of the item files of this process.
std::mutex& lock() {
    static std::mutex m;
    return m;
}

// Another process on the same home changes the same files: a change holds an exclusive lock on a
// file in the folder from its read to its write; without it no change is made, since two unlocked
// writers lose items.
std::unique_ptr<FileLock> folderLock() {
    std::filesystem::path const dir = Keychain::directory();
    if (!Directories::create(dir)) return nullptr;
    ::chmod(dir.c_str(), 0700);
    auto lock = std::make_unique<FileLock>(dir / "keychain.lock");
    if (!lock->held()) lock.reset();
    return lock;
}

std::filesystem::path serviceFile(std::string const& service) {
    Data const d = sha1(reinterpret_cast<uint8_t const*>(service.data()), service.size());
    return Keychain::directory() / (hexString(d) + ".item");
}

// Items of a service: account -> {"generic", "value", "accessible"}.
struct Items {
    int status = Keychain::kSuccess;
    Value::Map map;
};

Items load(std::string const& service) {
    Items items;
    auto r = KeyedArchive::readFromFile(serviceFile(service));
    if (r.status == KeyedArchive::ReadResult::Missing) return items;
    if (r.status == KeyedArchive::ReadResult::Unreadable) {
        // Not replaced while it cannot be read: the error may pass and the items come back.
        items.status = Keychain::kIoError;
        return items;
    }
    if (Value const* m = r.value.find("items"); m && m->map()) items.map = *m->map();
    return items;
}

// No folder, no items: a change of one need not make it.
bool folderMissing() {
    struct stat st {};
    return ::stat(Keychain::directory().c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

// Under a held folderLock(), which made the folder.
int save(std::string const& service, Value::Map const& map) {
    std::filesystem::path const file = serviceFile(service);
    if (map.empty()) {
        std::error_code ec;
        std::filesystem::remove(file, ec);
        return ec ? Keychain::kIoError : Keychain::kSuccess;
    }
    Data const bytes = KeyedArchive::encode(Value(Value::Dict{{"service", Value(service)}, {"items", Value(map)}}));
    return writeFileAtomically(file, bytes.data(), bytes.size(), nullptr, 0600) ? Keychain::kSuccess
                                                                                 : Keychain::kIoError;
}

char const* accessibleName(Keychain::Accessibility a) {
    return a == Keychain::Accessibility::WhenUnlocked ? "WhenUnlocked" : "AlwaysThisDeviceOnly";
}

}  // namespace

std::filesystem::path Keychain::directory() { return Directories::applicationSupport() / "keychain"; }

int Keychain::add(std::string const& service, Data const& account, Data const& generic, Data const& value,
                  Accessibility accessible) {
    if (account.empty()) return kParam;
    std::lock_guard<std::mutex> guard(lock());
    auto const folder = folderLock();
    if (!folder) return kIoError;
    Items items = load(service);
    if (items.status != kSuccess) return items.status;
    if (items.map.count(Value(account))) return kDuplicateItem;
    items.map[Value(account)] = Value(Value::Dict{
        {"generic", Value(generic)}, {"value", Value(value)}, {"accessible", Value(accessibleName(accessible))}});
    return save(service, items.map);
}

int Keychain::copyMatching(std::string const& service, Data const& account, Data& value) {
    std::lock_guard<std::mutex> guard(lock());
    Items items = load(service);
    if (items.status != kSuccess) return items.status;
    auto it = items.map.find(Value(account));
    if (it == items.map.end()) return kItemNotFound;
    Value const* v = it->second.find("value");
    if (!v || !v->data()) return kItemNotFound;
    value = *v->data();
    return kSuccess;
}

int Keychain::update(std::string const& service, Data const& account, Data const& value) {
    std::lock_guard<std::mutex> guard(lock());
    if (folderMissing()) return kItemNotFound;
    auto const folder = folderLock();
    if (!folder) return kIoError;
    Items items = load(service);
    if (items.status != kSuccess) return items.status;
    auto it = items.map.find(Value(account));
    if (it == items.map.end() || !it->second.dict()) return kItemNotFound;
    (*it->second.dict())["value"] = Value(value);
    return save(service, items.map);
}

int Keychain::remove(std::string const& service, Data const& account) {
    std::lock_guard<std::mutex> guard(lock());
    if (folderMissing()) return kItemNotFound;
    auto const folder = folderLock();
    if (!folder) return kIoError;
    Items items = load(service);
    if (items.status != kSuccess) return items.status;
    if (account.empty()) {
        if (items.map.empty()) return kItemNotFound;
        items.map.clear();
    } else if (items.map.erase(Value(account)) == 0) {
        return kItemNotFound;
    }
    return save(service, items.map);
}

std::optional<Keychain::Accessibility> Keychain::accessibility(std::string const& service, Data const& account) {
    std::lock_guard<std::mutex> guard(lock());
    Items items = load(service);
    auto it = items.map.find(Value(account));
    if (it == items.map.end()) return std::nullopt;
    Value const* a = it->second.find("accessible");
    if (!a || !a->string()) return std::nullopt;
    return *a->string() == "WhenUnlocked" ? Accessibility::WhenUnlocked : Accessibility::AlwaysThisDeviceOnly;
}

}  // namespace platform
