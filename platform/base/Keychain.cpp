#include "platform/base/Keychain.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <system_error>
#include <thread>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "platform/base/AtomicFile.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/ForkedChild.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/NoteSet.h"
#include "platform/base/SdkLoop.h"

namespace platform {
namespace {

bool retryScheduled = false;

// The callers of this process that wait for lock(), and when the last one let it go: a fold of
// notes lets them go first between its rounds, so that a start's reads wait for one round at most
// rather than for a whole pile's fold (a mutex lets the thread that just unlocked take it again).
std::atomic<int> callersWaiting{0};
std::atomic<int64_t> lastCallEnded{0};

int64_t steadyMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// One lock for every read-modify-write of the item files of this process. Constant-initialised
// and never destroyed: the retry below may run while the process's statics go away. Held across
// fork(), so that a child never starts with it taken by a thread it does not have (the retry's);
// its handlers touch nothing that needs making.
constinit std::mutex itemsLock;
static_assert(std::is_trivially_destructible_v<std::mutex>);
std::atomic<bool> forkHandled{false};

std::mutex& lock() {
    // Added on the first use, after the lock files' and the queues' (this lock is taken before
    // theirs): a fork waits as a caller does, and a fold lets it in after the round under way.
    atFork(
        forkHandled,
        [] {
            ++callersWaiting;
            itemsLock.lock();
            --callersWaiting;
        },
        [] { itemsLock.unlock(); },
        [] {
            // The loop that would retry stayed behind (its lock may be taken for
            // good): the child's notes wait for the next change or start.
            retryScheduled = true;
            callersWaiting = 0;  // threads the child does not have
            itemsLock.unlock();
        });
    return itemsLock;
}

class CallerTurn {
public:
    CallerTurn() {
        ++callersWaiting;
        lock().lock();
        --callersWaiting;
    }
    ~CallerTurn() {
        lastCallEnded = steadyMs();
        lock().unlock();
    }
    CallerTurn(CallerTurn const&) = delete;
    CallerTurn& operator=(CallerTurn const&) = delete;
};

// Before a fold's round: the calls of a start or a quit, less than a tenth of a second apart, go
// first; for a quarter second at most, so that a caller that keeps calling does not hold the fold
// off for good.
void letCallersGoFirst() {
    int64_t const start = steadyMs();
    while (steadyMs() - start < 250 && (callersWaiting > 0 || steadyMs() - lastCallEnded < 100))
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
}

// Another process on the same home changes the same files: a change holds an exclusive lock on a
// file in the folder from its read to its write, since two unlocked writers lose items. Null when
// the folder is not there and cannot (or need not) be made; otherwise the lock, held or not.
std::unique_ptr<FileLock> folderLock(std::filesystem::path const& dir, bool make) {
    struct stat st {};
    if (make ? !Directories::create(dir) : ::stat(dir.c_str(), &st) != 0) return nullptr;
    ::chmod(dir.c_str(), 0700);
    return std::make_unique<FileLock>(dir / "keychain.lock");
}

std::string stemOf(std::string const& service) {
    return hexString(sha1(reinterpret_cast<uint8_t const*>(service.data()), service.size()));
}

// A service's items, and what the file records of the changes that made them.
struct Items {
    int status = Keychain::kSuccess;
    std::string service;
    Value::Map map;                        // account -> {"generic", "value", "accessible"}
    std::map<Value, std::string> changed;  // account -> the id of the change that made or removed it
    std::string cleared;                   // every item changed before this id is gone
    std::set<std::string> folded;          // notes applied here that may still be there

    std::string latest() const {
        std::string last = cleared;
        for (auto const& [account, id] : changed) last = std::max(last, id);
        return last;
    }
};

// A change made at `stamp`; one older than what an item holds, or than a removal of them all,
// leaves it be. An item from before stamps (none recorded) is older than every change.
void apply(Items& items, std::string const& stamp, bool clearAll, Value::Map const& changes) {
    if (clearAll && stamp > items.cleared) {
        items.cleared = stamp;
        std::erase_if(items.map, [&](auto const& item) {
            auto it = items.changed.find(item.first);
            return it == items.changed.end() || it->second < stamp;
        });
        std::erase_if(items.changed, [&](auto const& c) { return c.second < stamp; });
    }
    if (stamp < items.cleared) return;
    for (auto const& [account, item] : changes) {
        std::string& at = items.changed[account];
        if (stamp < at) continue;
        at = stamp;
        if (item.isNull())
            items.map.erase(account);
        else
            items.map[account] = item;
    }
}

// Notes are "." + the item file's stem + "." + id + ".pending"; an earlier version named them by
// its write tag, process id and count.
bool olderNoteName(std::string_view middle) {
    size_t const a = middle.find('.'), b = middle.rfind('.');
    auto digits = [](std::string_view s) { return !s.empty() && s.find_first_not_of("0123456789") == std::string_view::npos; };
    return a == 16 && b > a && middle.substr(0, 16).find_first_not_of("0123456789abcdef") == std::string_view::npos &&
           digits(middle.substr(a + 1, b - a - 1)) && digits(middle.substr(b + 1));
}

// One service's file and notes, and what was last read of its file. Under lock().
struct Service {
    explicit Service(std::filesystem::path dir, std::string stem)
        // A view reads notes up to what a fold keeps: every change told kept shows, however large.
        : file(dir / (stem + ".item")),
          stem(stem),
          notes(dir, "." + stem + ".", ".pending", Keychain::kMaxNoteSize, olderNoteName, 0600, Keychain::kMaxFoldedSize) {}
    std::filesystem::path file;
    std::string stem;
    NoteSet notes;
    FileVersion version;
    Items read;
};

Service& serviceAt(std::filesystem::path const& dir, std::string const& stem) {
    static auto* const all = new std::map<std::string, std::unique_ptr<Service>>;
    auto& s = (*all)[(dir / stem).string()];
    if (!s) s = std::make_unique<Service>(dir, stem);
    return *s;
}

// The file as it is; read again only once it changed.
Items readItems(Service& s) {
    FileVersion const version = FileVersion::of(s.file);
    if (version.sameAs(s.version)) return s.read;
    Items items;
    auto r = KeyedArchive::readFromFile(s.file);
    if (r.status == KeyedArchive::ReadResult::Unreadable) {
        // Not replaced while it cannot be read: the error may pass and the items come back.
        items.status = Keychain::kIoError;
        return items;
    }
    if (r.status == KeyedArchive::ReadResult::Read) {
        if (Value const* v = r.value.find("service"); v && v->string()) items.service = *v->string();
        if (Value const* m = r.value.find("items"); m && m->map()) items.map = *m->map();
        // A stamp no clock gives would hold the item for good: it is as old as one from before
        // stamps, and the next change wins.
        if (Value const* m = r.value.find("changed"); m && m->map())
            for (auto const& [account, id] : *m->map())
                if (id.string() && NoteSet::isStamp(*id.string())) items.changed[account] = *id.string();
        if (Value const* c = r.value.find("cleared"); c && c->string() && NoteSet::isStamp(*c->string()))
            items.cleared = *c->string();
        if (Value const* f = r.value.find("folded"); f && f->array())
            for (auto const& id : *f->array())
                if (id.string()) items.folded.insert(*id.string());
    }
    s.version = version;
    s.read = items;
    return items;
}

// A note: {"service", "clearAll", "changes": account -> item or null}.
struct Note {
    std::string service;
    bool clearAll = false;
    Value::Map changes;
};

// Applies a note to items; false (nothing applied) when it does not read as one of this service's,
// or when it waits: the items, as large as the file read and the notes applied, would pass
// kMaxFoldedSize. A note of one item stands in for the last note applied of that item: a pile of
// changes of one large item counts as that item once.
NoteSet::Apply noteInto(Service const& s, Items& items) {
    return [&s, &items, size = uint64_t(std::max<int64_t>(s.version.size, 0)),
            noted = std::map<Value, uint64_t>()](NoteSet::Note const& note) mutable {
        auto read = std::static_pointer_cast<Note const>(note.parsed);
        if (!read) {
            std::optional<Value> const v = KeyedArchive::decode(note.bytes.data(), note.bytes.size());
            Value const* service = v ? v->find("service") : nullptr;
            Value const* clearAll = v ? v->find("clearAll") : nullptr;
            Value const* changes = v ? v->find("changes") : nullptr;
            if (!service || !service->string() || stemOf(*service->string()) != s.stem || !clearAll ||
                !clearAll->asBool() || !changes || !changes->map())
                return false;
            for (auto const& [account, item] : *changes->map())
                if (!account.data() || account.data()->empty() || !(item.isNull() || item.dict())) return false;
            read = std::make_shared<Note const>(Note{*service->string(), *clearAll->asBool(), *changes->map()});
            note.parsed = read;
        }
        Value const* const one = !read->clearAll && read->changes.size() == 1 ? &read->changes.begin()->first : nullptr;
        auto const before = one ? noted.find(*one) : noted.end();
        uint64_t const replaced = before == noted.end() ? 0 : before->second;
        if (size - replaced + note.bytes.size() > Keychain::kMaxFoldedSize) {
            note.waits = true;
            return false;
        }
        if (items.service.empty()) items.service = read->service;
        apply(items, note.stamp, read->clearAll, read->changes);
        size = size - replaced + note.bytes.size();
        if (one) noted[*one] = note.bytes.size();
        return true;
    };
}

// What this process sees: the file with the notes it has not folded, a round of a pile while a
// fold can show the rest, every note while another process holds the lock.
Items load(Service& s, std::filesystem::path const& dir) {
    Items items = readItems(s);
    if (items.status != Keychain::kSuccess) return items;
    bool const heldElsewhere = [&] {
        auto const folder = folderLock(dir, false);
        return folder && folder->busy();
    }();
    s.notes.read(items.folded, noteInto(s, items), !heldElsewhere);
    return items;
}

// Under a held folderLock().
int save(Service const& s, Items const& items) {
    if (items.map.empty() && items.changed.empty() && items.cleared.empty() && items.folded.empty()) {
        std::error_code ec;
        std::filesystem::remove(s.file, ec);
        return ec ? Keychain::kIoError : Keychain::kSuccess;
    }
    Value::Map changed;
    for (auto const& [account, id] : items.changed) changed[account] = Value(id);
    Value::Array folded;
    for (auto const& id : items.folded) folded.push_back(Value(id));
    Value::Dict file{{"service", Value(items.service)}, {"items", Value(items.map)}, {"changed", Value(std::move(changed))},
                     {"folded", Value(std::move(folded))}};
    if (!items.cleared.empty()) file["cleared"] = Value(items.cleared);
    Data const bytes = KeyedArchive::encode(Value(std::move(file)));
    return writeFileAtomically(s.file, bytes.data(), bytes.size(), nullptr, 0600) ? Keychain::kSuccess
                                                                                   : Keychain::kIoError;
}

struct Written {
    int status = Keychain::kSuccess;
    bool more = false;   // notes left for another fold
    bool began = false;  // a pass of the notes
};

// Under folderLock(), held unless no lock can be had there: the file, as read under it, with the
// notes folded in (up to a fold's worth) and the change, when there is one, made after them.
Written write(Service& s, Items items, bool locked, std::function<void(Items&)> const& change) {
    if (items.status != Keychain::kSuccess) return {items.status, false};
    NoteSet::Fold fold;
    // Without the lock another writer may fold the same notes: they are left to a locked one.
    if (locked) {
        fold = s.notes.fold(items.folded, noteInto(s, items));
        items.folded = std::set<std::string>(fold.record.begin(), fold.record.end());
    }
    if (!change && fold.applied.empty()) return {Keychain::kSuccess, fold.more, fold.began};
    if (change) change(items);
    int const status = save(s, items);
    if (status == Keychain::kSuccess) s.notes.finish(fold);
    return {status, fold.more, fold.began};
}

enum class Folded { All, Busy };
Folded foldRounds(std::filesystem::path const& dir);

// A retry's fold, on a thread of its own: one at a time, taking each folder a retry asked for
// meanwhile (the one it was started for may be done with by then).
void foldRestInBackground(std::filesystem::path const& dir) {
    static auto* const guard = new std::mutex;
    static auto* const asked = new std::set<std::filesystem::path>;
    static bool running = false;
    std::lock_guard<std::mutex> lock(*guard);
    asked->insert(dir);
    if (running) return;
    try {
        std::thread([] {
            for (;;) {
                std::filesystem::path next;
                {
                    std::lock_guard<std::mutex> lock(*guard);
                    if (asked->empty()) {
                        running = false;
                        return;
                    }
                    next = asked->extract(asked->begin()).value();
                }
                foldRounds(next);
            }
        }).detach();
        running = true;
    } catch (std::system_error const& e) {
        asked->erase(dir);
        std::fprintf(stderr, "Keychain: notes left for a later fold: %s\n", e.what());
    }
}

// A retry is timed by the SDK's loop and folds beside it: a round of large notes takes long, and
// the loop's other jobs wait for none.
void scheduleRetry(std::filesystem::path const& dir) {
    if (retryScheduled) return;
    retryScheduled = true;
    SdkLoop::shared().after(1000, [dir] {
        {
            std::lock_guard<std::mutex> guard(lock());
            retryScheduled = false;
        }
        foldRestInBackground(dir);
    });
}

// One change of a service's items: what it did to them, or why it did nothing.
struct Change {
    int status = Keychain::kSuccess;
    bool clearAll = false;
    Value account;
    Value item;  // null: removed
};

// Under lock(): applies edit to the service's items as this process sees them and writes the
// change under the folder's lock; while another process holds the lock the change goes to a note
// at once. Either way it is on disk when this returns success.
int change(std::string const& service, std::function<Change(Value::Map&)> const& edit) {
    std::filesystem::path const dir = Keychain::directory();
    auto const folder = folderLock(dir, true);
    if (!folder) return Keychain::kIoError;
    Service& s = serviceAt(dir, stemOf(service));
    Items const file = readItems(s);
    if (file.status != Keychain::kSuccess) return file.status;
    Items view = file;
    uint64_t const passedOver =
        s.notes.read(view.folded, noteInto(s, view), !folder->busy(), [](uint64_t size, auto const&) { return size; });
    Change c = edit(view.map);
    if (c.status != Keychain::kSuccess) return c.status;
    Value::Map changes;
    if (!c.clearAll) changes[c.account] = c.item;
    if (!c.item.isNull()) {
        // Taken beside every note there: a note adds at most twice its size, and those the view
        // passed over are read only where they could decide it.
        auto const sizes = [&](Value::Map const& map) {
            Value::Map after = map;
            after[c.account] = c.item;
            return std::pair{KeyedArchive::encode(Value(map)).size(), KeyedArchive::encode(Value(std::move(after))).size()};
        };
        auto [before, after] = sizes(view.map);
        if (passedOver > 0 && after + 2 * passedOver > Keychain::kMaxItemsSize) {
            Items all = file;
            s.notes.read(all.folded, noteInto(s, all));
            std::tie(before, after) = sizes(all.map);
        }
        if (after > before && after > Keychain::kMaxItemsSize) {
            std::fprintf(stderr, "Keychain: a change of %s refused: its items would take %llu bytes, more than %llu\n",
                         s.file.c_str(), static_cast<unsigned long long>(after),
                         static_cast<unsigned long long>(Keychain::kMaxItemsSize));
            return Keychain::kIoError;
        }
    }
    if (folder->busy()) {
        Data const bytes = KeyedArchive::encode(
            Value(Value::Dict{{"service", Value(service)}, {"clearAll", Value(c.clearAll)}, {"changes", Value(changes)}}));
        std::string error;
        if (!s.notes.write(bytes, &error, view.latest())) {
            std::fprintf(stderr, "Keychain: %s, and its note cannot be written: %s\n", folder->error().c_str(), error.c_str());
            return Keychain::kIoError;
        }
        scheduleRetry(dir);
        return Keychain::kSuccess;
    }
    // Unlocked (a folder that cannot take the lock file) the change is made all the same.
    bool stamped = true;
    int const status = write(s, file, folder->held(), [&](Items& items) {
                           auto const stamp = s.notes.stampAfter(items.latest());
                           if (!(stamped = stamp.has_value())) return;
                           items.service = service;
                           apply(items, *stamp, c.clearAll, changes);
                       }).status;
    if (stamped) return status;
    std::fprintf(stderr, "Keychain: a change of %s refused: its stamps leave no room for a later one\n", s.file.c_str());
    return Keychain::kIoError;
}

char const* accessibleName(Keychain::Accessibility a) {
    return a == Keychain::Accessibility::WhenUnlocked ? "WhenUnlocked" : "AlwaysThisDeviceOnly";
}

// "." + 40 hex digits + "." ... ".pending": the stems that have notes.
std::set<std::string> stemsWithNotes(std::filesystem::path const& dir) {
    std::set<std::string> stems;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(dir, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        std::string const name = it->path().filename().string();
        if (name.size() > 42 && name[0] == '.' && name[41] == '.' && name.ends_with(".pending") &&
            name.find_first_not_of("0123456789abcdef", 1) == 41)
            stems.insert(name.substr(1, 40));
    }
    return stems;
}

// An item larger than the items may be is refused before it is copied or encoded.
bool tooLarge(std::string const& service, uint64_t bytes) {
    if (bytes <= Keychain::kMaxItemsSize) return false;
    std::fprintf(stderr, "Keychain: a change of %s refused: an item of %llu bytes, more than %llu\n", service.c_str(),
                 static_cast<unsigned long long>(bytes), static_cast<unsigned long long>(Keychain::kMaxItemsSize));
    return true;
}

}  // namespace

std::filesystem::path Keychain::directory() { return Directories::applicationSupport() / "keychain"; }

int Keychain::add(std::string const& service, Data const& account, Data const& generic, Data const& value,
                  Accessibility accessible) {
    if (account.empty()) return kParam;
    if (tooLarge(service, account.size() + generic.size() + value.size())) return kIoError;
    CallerTurn guard;
    return change(service, [&](Value::Map& map) {
        Change c;
        c.account = Value(account);
        if (map.count(c.account)) {
            c.status = kDuplicateItem;
            return c;
        }
        c.item = Value(Value::Dict{
            {"generic", Value(generic)}, {"value", Value(value)}, {"accessible", Value(accessibleName(accessible))}});
        return c;
    });
}

int Keychain::copyMatching(std::string const& service, Data const& account, Data& value) {
    CallerTurn guard;
    Items items = load(serviceAt(directory(), stemOf(service)), directory());
    if (items.status != kSuccess) return items.status;
    auto it = items.map.find(Value(account));
    if (it == items.map.end()) return kItemNotFound;
    Value const* v = it->second.find("value");
    if (!v || !v->data()) return kItemNotFound;
    value = *v->data();
    return kSuccess;
}

// No folder, no items: a change of one need not make it.
static bool folderMissing() {
    struct stat st {};
    return ::stat(Keychain::directory().c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR);
}

int Keychain::update(std::string const& service, Data const& account, Data const& value) {
    if (tooLarge(service, account.size() + value.size())) return kIoError;
    CallerTurn guard;
    if (folderMissing()) return kItemNotFound;
    return change(service, [&](Value::Map& map) {
        Change c;
        c.account = Value(account);
        auto it = map.find(c.account);
        if (it == map.end() || !it->second.dict()) {
            c.status = kItemNotFound;
            return c;
        }
        c.item = it->second;
        (*c.item.dict())["value"] = Value(value);
        return c;
    });
}

int Keychain::remove(std::string const& service, Data const& account) {
    CallerTurn guard;
    if (folderMissing()) return kItemNotFound;
    return change(service, [&](Value::Map& map) {
        Change c;
        c.account = Value(account);
        c.clearAll = account.empty();
        if (c.clearAll ? map.empty() : !map.count(c.account)) c.status = kItemNotFound;
        return c;
    });
}

std::optional<Keychain::Accessibility> Keychain::accessibility(std::string const& service, Data const& account) {
    CallerTurn guard;
    Items items = load(serviceAt(directory(), stemOf(service)), directory());
    auto it = items.map.find(Value(account));
    if (it == items.map.end()) return std::nullopt;
    Value const* a = it->second.find("accessible");
    if (!a || !a->string()) return std::nullopt;
    return *a->string() == "WhenUnlocked" ? Accessibility::WhenUnlocked : Accessibility::AlwaysThisDeviceOnly;
}

bool Keychain::foldNotes(std::filesystem::path const& dir) { return foldRounds(dir) == Folded::All; }

namespace {

// Rounds, each a pass's round of one service's notes, until a pass begun here is through (one a
// change left may come first): a reader of this process waits for one round at most. The first
// round waits only for a caller already waiting: a retry's few notes take one.
Folded foldRounds(std::filesystem::path const& dir) {
    size_t done = 0;
    for (auto const& stem : stemsWithNotes(dir)) {
        for (bool more = true, began = false; more || !began; ++done) {
            std::unique_lock<std::mutex> guard(lock(), std::defer_lock);
            // A caller that came while this waited for the lock (behind another fold's round,
            // say) goes first too, once.
            for (bool yielded = false;;) {
                if (done > 0 || yielded) letCallersGoFirst();
                guard.lock();
                if (yielded || callersWaiting == 0) break;
                guard.unlock();
                yielded = true;
            }
            auto const folder = folderLock(dir, false);
            if (!folder || !folder->held()) {
                if (folder && folder->busy()) scheduleRetry(dir);
                return Folded::Busy;
            }
            Service& s = serviceAt(dir, stem);
            Written const w = write(s, readItems(s), true, {});
            if (w.status != Keychain::kSuccess) break;
            more = w.more;
            began = began || w.began;
        }
    }
    return Folded::All;
}

}  // namespace

}  // namespace platform
