#include "platform/base/Keychain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/base/AtomicFile.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/ForkedChild.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/SdkLoop.h"

namespace platform {
namespace {

bool retryScheduled = false;

// One lock for every read-modify-write of the item files of this process. Never destroyed: the
// retry below may run while the process's statics go away. Held across fork(), so that a child
// never starts with it taken by a thread it does not have (the retry's).
std::mutex& lock() {
    static auto* const m = [] {
        auto* const made = new std::mutex;
        atFork([] { lock().lock(); }, [] { lock().unlock(); },
               [] {
                   // The loop that would retry stayed behind (its lock may be taken for
                   // good): the child writes what waits at its next change or writePending().
                   retryScheduled = true;
                   lock().unlock();
               });
        return made;
    }();
    return *m;
}

// Another process on the same home changes the same files: a change holds an exclusive lock on a
// file in the folder from its read to its write, since two unlocked writers lose items. Null when
// the folder cannot be made; otherwise the lock, held or not.
std::unique_ptr<FileLock> folderLock() {
    std::filesystem::path const dir = Keychain::directory();
    if (!Directories::create(dir)) return nullptr;
    ::chmod(dir.c_str(), 0700);
    return std::make_unique<FileLock>(dir / "keychain.lock");
}

std::filesystem::path serviceFile(std::string const& service) {
    Data const d = sha1(reinterpret_cast<uint8_t const*>(service.data()), service.size());
    return Keychain::directory() / (hexString(d) + ".item");
}

// Items of a service: account -> {"generic", "value", "accessible"}.
struct Items {
    int status = Keychain::kSuccess;
    Value::Map map;
    std::vector<std::filesystem::path> notes;  // read (damaged ones too): removed once the items are written
};

// Changes made while another process held the lock (stopped in a debugger, say): nobody waits for
// it. This process sees them at once, and writes them over what is on disk once the lock is free:
// tried again each second, and by the next change; at the end they go into a note (below). Under
// lock().
struct Pending {
    bool clearAll = false;  // every item removed before `changes`
    Value::Map changes;     // account -> the item, or null when removed
};
std::map<std::string, Pending>& pending() {
    static auto* const p = new std::map<std::string, Pending>;
    return *p;
}

void applyChanges(Value::Map& map, bool clearAll, Value::Map const& changes) {
    if (clearAll) map.clear();
    for (auto const& [account, item] : changes) {
        if (item.isNull())
            map.erase(account);
        else
            map[account] = item;
    }
}

// What a process still had waiting when it ended, the lock held by another all along, is left in
// note files beside the items: "." + the item file's stem + "." + writer + "." + count + ".pending".
// A name is never written twice, so whoever applies a note under the lock removes just what it read.
std::string notePrefix(std::string const& service) { return "." + serviceFile(service).stem().string() + "."; }

bool readNote(std::filesystem::path const& path, std::string const& service, Pending& note) {
    // A link is never followed: only this folder's own files count.
    WholeFile const file = readWholeFile(path, KeyedArchive::kMaxSize, false);
    if (file.status != WholeFile::Read) return false;
    std::optional<Value> const v = KeyedArchive::decode(file.bytes.data(), file.bytes.size());
    Value const* s = v ? v->find("service") : nullptr;
    Value const* clearAll = v ? v->find("clearAll") : nullptr;
    Value const* changes = v ? v->find("changes") : nullptr;
    if (!s || !s->string() || *s->string() != service || !clearAll || !clearAll->asBool() || !changes ||
        !changes->map())
        return false;
    for (auto const& [account, item] : *changes->map())
        if (!account.data() || account.data()->empty() || !(item.isNull() || item.dict())) return false;
    note.clearAll = *clearAll->asBool();
    note.changes = *changes->map();
    return true;
}

// The service's notes over its items, in name order. One that is not a regular file is left be;
// a damaged one is applied nowhere and goes with the others.
void applyNotes(std::string const& service, Items& items) {
    std::string const prefix = notePrefix(service);
    auto const isNote = [&](std::string const& name) { return name.starts_with(prefix) && name.ends_with(".pending"); };
    for (auto const& path : regularFilesIn(Keychain::directory(), isNote)) {
        Pending note;
        if (readNote(path, service, note)) applyChanges(items.map, note.clearAll, note.changes);
        items.notes.push_back(path);
    }
}

// Under a held folderLock(), once the items the notes went into are written.
void removeNotes(std::vector<std::filesystem::path> const& notes) {
    for (auto const& note : notes) ::unlink(note.c_str());
}

// Under lock(): what still waits goes into a note of this process per service, in place of the
// one it wrote before (which holds less).
void writeNotes() {
    struct Written {
        pid_t pid = 0;  // a forked child's copy is not its own
        std::filesystem::path note;
    };
    static auto* const written = new std::map<std::string, Written>;
    static uint64_t count = 0;
    for (auto const& [service, p] : pending()) {
        std::string seq = std::to_string(count++);
        seq.insert(0, seq.size() < 10 ? 10 - seq.size() : 0, '0');  // name order is write order
        std::filesystem::path const note =
            Keychain::directory() /
            (notePrefix(service) + atomicWriteTag() + "." + std::to_string(::getpid()) + "." + seq + ".pending");
        Data const bytes = KeyedArchive::encode(
            Value(Value::Dict{{"service", Value(service)}, {"clearAll", Value(p.clearAll)}, {"changes", Value(p.changes)}}));
        if (!writeFileAtomically(note, bytes.data(), bytes.size(), nullptr, 0600)) continue;
        Written& last = (*written)[service];
        if (last.pid == ::getpid()) ::unlink(last.note.c_str());
        last = {::getpid(), note};
    }
}

Items load(std::string const& service) {
    Items items;
    auto r = KeyedArchive::readFromFile(serviceFile(service));
    if (r.status == KeyedArchive::ReadResult::Unreadable) {
        // Not replaced while it cannot be read: the error may pass and the items come back.
        items.status = Keychain::kIoError;
        return items;
    }
    if (r.status != KeyedArchive::ReadResult::Missing)
        if (Value const* m = r.value.find("items"); m && m->map()) items.map = *m->map();
    applyNotes(service, items);
    if (auto it = pending().find(service); it != pending().end())
        applyChanges(items.map, it->second.clearAll, it->second.changes);
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

void writePendingLocked();

void scheduleRetry() {
    if (retryScheduled) return;
    retryScheduled = true;
    SdkLoop::shared().after(1000, [] {
        std::lock_guard<std::mutex> guard(lock());
        retryScheduled = false;
        writePendingLocked();
    });
}

// Under lock(): what waits is written if the folder's lock can be had now.
void writePendingLocked() {
    if (pending().empty()) return;
    auto const folder = folderLock();
    if (folder && folder->busy()) return scheduleRetry();
    for (auto it = pending().begin(); it != pending().end();) {
        Items const items = load(it->first);
        // One that cannot be read keeps its changes waiting, as a change of it would fail now.
        if (items.status != Keychain::kSuccess || save(it->first, items.map) != Keychain::kSuccess) {
            ++it;
            continue;
        }
        removeNotes(items.notes);
        it = pending().erase(it);
    }
}

// One change of a service's items: what it did to them, or why it did nothing.
struct Change {
    int status = Keychain::kSuccess;
    bool clearAll = false;
    Value account;
    Value item;  // null: removed
};

// Applies edit to the service's items as they are now (pending changes included) under the
// folder's lock, and writes them; while another process holds the lock the change waits instead.
int change(std::string const& service, std::function<Change(Value::Map&)> const& edit) {
    auto const folder = folderLock();
    if (!folder) return Keychain::kIoError;
    Items items = load(service);
    if (items.status != Keychain::kSuccess) return items.status;
    Change c = edit(items.map);
    if (c.status != Keychain::kSuccess) return c.status;
    if (folder->busy()) {
        Pending& p = pending()[service];
        if (c.clearAll) {
            p.clearAll = true;
            p.changes.clear();
        } else {
            p.changes[c.account] = std::move(c.item);
        }
        scheduleRetry();
        return Keychain::kSuccess;
    }
    // Unlocked (a folder that cannot take the lock file) the change is made all the same.
    int const status = save(service, items.map);
    if (status == Keychain::kSuccess) {
        pending().erase(service);
        removeNotes(items.notes);
    }
    return status;
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
    return change(service, [&](Value::Map& map) {
        Change c;
        c.account = Value(account);
        if (map.count(c.account)) {
            c.status = kDuplicateItem;
            return c;
        }
        c.item = Value(Value::Dict{
            {"generic", Value(generic)}, {"value", Value(value)}, {"accessible", Value(accessibleName(accessible))}});
        map[c.account] = c.item;
        return c;
    });
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
    if (folderMissing() && !pending().count(service)) return kItemNotFound;
    return change(service, [&](Value::Map& map) {
        Change c;
        c.account = Value(account);
        auto it = map.find(c.account);
        if (it == map.end() || !it->second.dict()) {
            c.status = kItemNotFound;
            return c;
        }
        (*it->second.dict())["value"] = Value(value);
        c.item = it->second;
        return c;
    });
}

int Keychain::remove(std::string const& service, Data const& account) {
    std::lock_guard<std::mutex> guard(lock());
    if (folderMissing() && !pending().count(service)) return kItemNotFound;
    return change(service, [&](Value::Map& map) {
        Change c;
        c.account = Value(account);
        c.clearAll = account.empty();
        if (c.clearAll ? map.empty() : map.erase(c.account) == 0) c.status = kItemNotFound;
        if (c.clearAll) map.clear();
        return c;
    });
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

bool Keychain::writePending() {
    std::lock_guard<std::mutex> guard(lock());
    writePendingLocked();
    // Kept past this process, for whoever changes the items next.
    writeNotes();
    return pending().empty();
}

}  // namespace platform
