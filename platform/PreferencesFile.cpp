#include "platform/PreferencesFile.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <system_error>

#include "platform/AtomicFile.h"

namespace platform {

namespace {

bool validKey(std::string const& key) {
    return !key.empty() && key.find_first_of("=\r\n") == std::string::npos;
}

bool validValue(std::string const& value) { return value.find_first_of("\r\n") == std::string::npos; }

int64_t integerOf(std::string const* s) {
    int64_t v = 0;
    if (!s || std::from_chars(s->data(), s->data() + s->size(), v).ec != std::errc()) return 0;
    return v;
}

// A count written by someone else may be as large as it likes: the sum stops at the ends.
int64_t plus(int64_t a, int64_t b) {
    int64_t sum = 0;
    if (!__builtin_add_overflow(a, b, &sum)) return sum;
    return b > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
}

constexpr std::string_view kNoteSuffix = ".pending";

// The folder the file is in, "." for a bare name.
std::filesystem::path folderOf(std::filesystem::path const& file) {
    return file.has_parent_path() ? file.parent_path() : std::filesystem::path(".");
}

// An earlier version named its notes by its write tag and a count: 16 hex digits, '.', digits.
bool olderNoteName(std::string_view middle) {
    return middle.size() > 17 && middle[16] == '.' &&
           middle.substr(0, 16).find_first_not_of("0123456789abcdef") == std::string_view::npos &&
           middle.substr(17).find_first_not_of("0123456789") == std::string_view::npos;
}

template <class F>
void forEachLine(std::string_view text, F const& f) {
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        f(line);
    }
}

constexpr std::string_view kSetAt = "=set ", kFolded = "=folded ";

}  // namespace

std::map<std::string, std::string> PreferencesFile::parse(std::string_view text) {
    std::map<std::string, std::string> entries;
    forEachLine(text, [&](std::string_view line) {
        size_t const eq = line.find('=');
        if (eq == 0 || eq == std::string_view::npos) return;
        entries[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    });
    return entries;
}

PreferencesFile::Stored PreferencesFile::parseStored(std::string_view text) {
    Stored stored;
    stored.entries = parse(text);
    forEachLine(text, [&](std::string_view line) {
        if (line.starts_with(kFolded)) stored.folded.insert(std::string(line.substr(kFolded.size())));
        if (!line.starts_with(kSetAt)) return;
        line.remove_prefix(kSetAt.size());
        size_t const space = line.find(' ');
        // A stamp no clock gives (a copy's clock far ahead) would hold the key for good: the
        // value is as old as one from before stamps, and the next change of it wins.
        if (space != std::string_view::npos && space > 0 && validKey(std::string(line.substr(space + 1))) &&
            NoteSet::isStamp(line.substr(0, space)))
            stored.setAt[std::string(line.substr(space + 1))] = std::string(line.substr(0, space));
    });
    return stored;
}

std::string PreferencesFile::textOf(Stored const& stored) {
    std::string text;
    for (auto const& [k, v] : stored.entries) text += k + "=" + v + "\n";
    for (auto const& [k, id] : stored.setAt) text += std::string(kSetAt) + id + " " + k + "\n";
    for (auto const& id : stored.folded) text += std::string(kFolded) + id + "\n";
    return text;
}

PreferencesFile::PreferencesFile(std::filesystem::path path)
    : path_(std::move(path)),
      // A view reads notes up to what a reader takes: every change told kept shows, however large.
      notes_(folderOf(path_), "." + path_.filename().string() + ".", std::string(kNoteSuffix), kMaxSize, olderNoteName, 0644,
             kMaxReadSize) {
    // Opened without blocking and read up to a cap: a pipe or a link to a device in the file's
    // place must neither stop the game nor fill its memory.
    WholeFile file = readWholeFile(path_, kMaxReadSize);
    switch (file.status) {
    case WholeFile::Missing:
        break;
    case WholeFile::Read:
        stored_ = parseStored(std::string_view(reinterpret_cast<char const*>(file.bytes.data()), file.bytes.size()));
        break;
    case WholeFile::TooLarge:
        std::fprintf(stderr, "Preferences: %s is not a settings file (%llu bytes); starting from defaults\n",
                     path_.c_str(), static_cast<unsigned long long>(file.size));
        damaged_ = true;
        break;
    case WholeFile::Failed:
        std::fprintf(stderr, "Preferences: cannot read %s (%s); starting from defaults\n", path_.c_str(),
                     file.error.c_str());
        damaged_ = true;
        break;
    }
    bool notes = false;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        refreshView();
        notes = notes_.any();
    }
    // Copies that found the lock held left notes: folded now, unless it is held still, until a
    // pass begun here is through (each write a round, the lock let go in between).
    for (bool began = false; notes && write(std::chrono::milliseconds(0), true);) {
        std::lock_guard<std::mutex> lock(mutex_);
        began = began || lastFold_.began;
        notes = lastFold_.locked && (lastFold_.more || !began);
    }
}

// One line a change: "set <key>=<value>" then "add <key>=<delta>", as Change applies them. A note
// of which no line reads is damaged.
NoteSet::Apply PreferencesFile::noteInto(Stored& stored) const {
    return [&stored, size = entriesSize(stored)](NoteSet::Note const& note) mutable {
        auto const within = [&](Changes const& changes) {
            if (applyWithin(stored, size, note.stamp, changes, kMaxFoldedEntries)) return true;
            note.waits = true;
            return false;
        };
        // Parsed once: a view over a pile applies every note again at each write.
        if (auto const parsed = std::static_pointer_cast<Changes const>(note.parsed)) return within(*parsed);
        std::string_view const text(reinterpret_cast<char const*>(note.bytes.data()), note.bytes.size());
        Changes changes;
        bool any = false;
        // A line without its end was cut short: skipped, as every line that does not read.
        for (size_t pos = 0, end; (end = text.find('\n', pos)) != std::string_view::npos; pos = end + 1) {
            std::string_view const line = text.substr(pos, end - pos);
            size_t const eq = line.find('=');
            if (eq == std::string_view::npos || eq <= 4) continue;
            std::string const key(line.substr(4, eq - 4));
            std::string const value(line.substr(eq + 1));
            if (!validKey(key) || !validValue(value)) continue;
            char const* const valueEnd = value.data() + value.size();
            int64_t delta = 0;
            if (line.starts_with("set ")) {
                changes[key] = Change{value, 0};
                any = true;
            } else if (line.starts_with("add ")) {
                auto const read = std::from_chars(value.data(), valueEnd, delta);
                if (read.ec != std::errc() || read.ptr != valueEnd) continue;
                Change& change = changes[key];
                change.added = plus(change.added, delta);
                any = true;
            }
        }
        if (!any) return false;
        auto const parsed = std::make_shared<Changes const>(std::move(changes));
        note.parsed = parsed;
        return within(*parsed);
    };
}

void PreferencesFile::apply(Entries& entries, Changes const& changes) {
    for (auto const& [key, change] : changes) {
        if (change.value) entries[key] = *change.value;
        if (change.added == 0) continue;
        auto it = entries.find(key);
        entries[key] = std::to_string(plus(integerOf(it == entries.end() ? nullptr : &it->second), change.added));
    }
}

void PreferencesFile::apply(Stored& stored, std::string const& stamp, Changes const& changes) {
    Changes kept;
    for (auto const& [key, change] : changes) {
        auto const at = stored.setAt.find(key);
        if (at != stored.setAt.end() && stamp < at->second) continue;
        if (change.value) stored.setAt[key] = stamp;
        kept.emplace(key, change);
    }
    apply(stored.entries, kept);
}

namespace {

// What the lines of a key's value and of its stamp take in the file.
size_t entryLineSize(std::string const& key, std::string const& value) { return key.size() + value.size() + 2; }
size_t stampLineSize(std::string const& key, std::string const& stamp) { return kSetAt.size() + stamp.size() + key.size() + 2; }

}  // namespace

size_t PreferencesFile::entriesSize(Stored const& stored) {
    size_t size = 0;
    for (auto const& [key, value] : stored.entries) size += entryLineSize(key, value);
    for (auto const& [key, stamp] : stored.setAt) size += stampLineSize(key, stamp);
    return size;
}

std::string PreferencesFile::latestOf(Stored const& stored) {
    std::string latest;
    for (auto const& [key, id] : stored.setAt) latest = std::max(latest, id);
    // A note folded in may have removed its key: its stamp stands in the record alone.
    for (auto const& id : stored.folded)
        if (id > latest && NoteSet::isStamp(id)) latest = id;
    return latest;
}

bool PreferencesFile::applyWithin(Stored& stored, size_t& size, std::string const& stamp, Changes const& changes,
                                  uint64_t limit) {
    auto const linesOf = [&](std::string const& key) {
        size_t n = 0;
        if (auto it = stored.entries.find(key); it != stored.entries.end()) n += entryLineSize(key, it->second);
        if (auto it = stored.setAt.find(key); it != stored.setAt.end()) n += stampLineSize(key, it->second);
        return n;
    };
    Stored was;  // the changed keys' lines as they were
    size_t before = 0, after = 0;
    for (auto const& [key, change] : changes) {
        before += linesOf(key);
        if (auto it = stored.entries.find(key); it != stored.entries.end()) was.entries.insert(*it);
        if (auto it = stored.setAt.find(key); it != stored.setAt.end()) was.setAt.insert(*it);
    }
    apply(stored, stamp, changes);
    for (auto const& [key, change] : changes) after += linesOf(key);
    if (after > before && size - before + after > limit) {
        for (auto const& [key, change] : changes) stored.entries.erase(key), stored.setAt.erase(key);
        stored.entries.merge(was.entries);
        stored.setAt.merge(was.setAt);
        return false;
    }
    size = size - before + after;
    return true;
}

// What the lines of changes made at once would add to stored's, as far as they are longer.
uint64_t PreferencesFile::growthOf(Stored const& stored, Changes const& changes) {
    uint64_t grows = 0;
    for (auto const& [key, change] : changes) {
        auto const entry = stored.entries.find(key);
        std::string const* was = entry == stored.entries.end() ? nullptr : &entry->second;
        size_t length = change.value ? change.value->size() : was ? was->size() : 0;
        if (change.added != 0)
            length = std::to_string(plus(integerOf(change.value ? &*change.value : was), change.added)).size();
        size_t const before = was ? entryLineSize(key, *was) : 0, after = key.size() + length + 2;
        if (after > before) grows += after - before;
        // A stamp is as long as the longest a clock gives.
        if (change.value && !stored.setAt.count(key)) grows += kSetAt.size() + 48 + key.size() + 2;
    }
    return grows;
}

std::optional<PreferencesFile::Stored> PreferencesFile::seenBeside(Stored const& base, Changes const& changes) {
    if (growthOf(base, changes) == 0) return std::nullopt;
    Stored seen = base;
    if (heldElsewhere_) {
        notes_.read(seen.folded, noteInto(seen));
        return seen;
    }
    // The notes a round's view passes over count as what they add once read, and by their size
    // before; they are read only where that decides it and it takes no more than a note may be.
    uint64_t unread = 0;
    Stored const none;
    uint64_t const passedOver =
        notes_.read(seen.folded, noteInto(seen), true, [&](uint64_t size, std::shared_ptr<void const> const& parsed) {
            if (parsed) return growthOf(none, *std::static_pointer_cast<Changes const>(parsed));
            unread += size;
            return size;
        });
    if (passedOver == 0 || entriesSize(seen) + growthOf(seen, changes) + passedOver <= kMaxEntries || unread > kMaxSize)
        return seen;
    seen = base;
    notes_.read(seen.folded, noteInto(seen));
    return seen;
}

bool PreferencesFile::applyOwn(Stored* seen, Stored* stored, std::string const& stamp, Changes& changes) const {
    size_t seenSize = seen ? entriesSize(*seen) : 0, size = stored ? entriesSize(*stored) : 0;
    std::string refused;
    for (auto it = changes.begin(); it != changes.end();) {
        Changes const one{*it};
        if ((!seen || applyWithin(*seen, seenSize, stamp, one, kMaxEntries)) &&
            (!stored || applyWithin(*stored, size, stamp, one, kMaxFoldedEntries))) {
            ++it;
            continue;
        }
        refused += (refused.empty() ? "" : ", ") + it->first;
        it = changes.erase(it);
    }
    if (refused.empty()) return true;
    std::fprintf(stderr, "Preferences: %s not written: %s would be larger than %llu bytes\n", refused.c_str(),
                 path_.c_str(), static_cast<unsigned long long>(kMaxSize));
    return false;
}

void PreferencesFile::refreshView() {
    Stored view = stored_;
    notes_.read(view.folded, noteInto(view), !heldElsewhere_);
    entries_ = view.entries;
    viewed_ = std::move(view);
    apply(entries_, pending_);
}

bool PreferencesFile::damaged() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return damaged_;
}

// The damaged file keeps its name under "<name>.bad", as with the save.
bool PreferencesFile::keepDamagedAside() {
    std::string error;
    if (platform::keepFileAside(path_, ".bad", &error)) return true;
    std::fprintf(stderr, "Preferences: %s; it is left as it is\n", error.c_str());
    return false;
}

std::optional<std::string> PreferencesFile::string(std::string const& key) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) return std::nullopt;
    return it->second;
}

int64_t PreferencesFile::integer(std::string const& key) const {
    auto s = string(key);
    return integerOf(s ? &*s : nullptr);
}

double PreferencesFile::real(std::string const& key) const {
    auto s = string(key);
    double v = 0;
    if (!s || std::from_chars(s->data(), s->data() + s->size(), v).ec != std::errc()) return 0;
    return v;
}

bool PreferencesFile::boolean(std::string const& key) const { return string(key) == std::string("1"); }

bool PreferencesFile::set(std::string const& key, std::string const& value) {
    if (!validKey(key)) return false;
    // A line that could never fit is refused before the value is looked through or copied; the
    // next write tells it, as it tells a change that does not fit beside the others.
    if (key.size() + value.size() + 2 > kMaxEntries) {
        std::lock_guard<std::mutex> lock(mutex_);
        refused_.insert(key);
        return false;
    }
    if (!validValue(value)) return false;
    std::lock_guard<std::mutex> lock(mutex_);
    entries_[key] = value;
    pending_[key] = Change{value, 0};
    return true;
}

std::optional<int64_t> PreferencesFile::addInteger(std::string const& key, int64_t delta) {
    if (!validKey(key)) return std::nullopt;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    int64_t const sum = plus(integerOf(it == entries_.end() ? nullptr : &it->second), delta);
    entries_[key] = std::to_string(sum);
    Change& change = pending_[key];
    change.added = plus(change.added, delta);
    return sum;
}

bool PreferencesFile::setInteger(std::string const& key, int64_t value) { return set(key, std::to_string(value)); }

bool PreferencesFile::setReal(std::string const& key, double value) {
    char buf[64];
    auto r = std::to_chars(buf, buf + sizeof buf, value);
    return set(key, std::string(buf, r.ptr));
}

bool PreferencesFile::setBoolean(std::string const& key, bool value) { return set(key, value ? "1" : "0"); }

bool PreferencesFile::synchronize(std::chrono::milliseconds wait) {
    std::set<std::string> refused;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        refused.swap(refused_);
    }
    bool const written = write(wait, false);
    if (refused.empty()) return written;
    std::string keys;
    for (auto const& key : refused) keys += (keys.empty() ? "" : ", ") + key;
    std::fprintf(stderr, "Preferences: %s not written: %s would be larger than %llu bytes\n", keys.c_str(), path_.c_str(),
                 static_cast<unsigned long long>(kMaxSize));
    return false;
}

bool PreferencesFile::write(std::chrono::milliseconds wait, bool foldAfterWaiting) {
    std::error_code ec;
    std::filesystem::create_directories(path_.parent_path(), ec);
    // Hidden, beside the file: the folder is the player's.
    // A write that may not wait does not wait for another thread of this process either: its
    // changes go to a note, as when another process holds the lock, and that thread's round goes on.
    FileLock fileLock(path_.parent_path() / ("." + path_.filename().string() + ".lock"), wait,
                      wait.count() > 0 ? FileLock::ThisProcess::WaitedFor : FileLock::ThisProcess::NotWaitedFor);
    // Changes made from here on wait for the next write; these go back to them should it fail.
    Changes writing;
    auto const refusedUnstamped = [&] {
        std::fprintf(stderr, "Preferences: changes to %s refused: its stamps leave no room for a later one\n", path_.c_str());
        writing.clear();
    };
    auto const putBack = [&] {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto const& [key, later] : pending_) {
            Change& change = writing[key];
            if (later.value)
                change = later;
            else
                change.added = plus(change.added, later.added);
        }
        pending_ = std::move(writing);
    };
    if (fileLock.busy()) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lastFold_ = {};
            // While another process holds it no fold shows the rest of a pile: a view reads it all.
            if (!fileLock.heldHere() && !heldElsewhere_.exchange(true)) refreshView();
            if (pending_.empty()) return true;
        }
        // The file as it is now: a copy that wrote it since this object read it may have stamped
        // it ahead of this clock.
        WholeFile const file = readWholeFile(path_, kMaxReadSize);
        std::optional<Stored> const onDisk =
            file.status == WholeFile::Read
                ? std::optional(parseStored(std::string_view(reinterpret_cast<char const*>(file.bytes.data()), file.bytes.size())))
                : std::nullopt;
        std::string stamp;
        bool fits = true;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            writing.swap(pending_);
            // Stamped after all this object read and the file holds, and taken only as far as it
            // fits beside the file and every note there.
            if (auto const made = notes_.stampAfter(std::max(latestOf(stored_), onDisk ? latestOf(*onDisk) : std::string()))) {
                stamp = *made;
                // Beside a round of this process's fold, what this object last saw of the notes:
                // the fold holds them while it reads them.
                std::optional<Stored> seen = !fileLock.heldHere()              ? seenBeside(onDisk ? *onDisk : stored_, writing)
                                             : growthOf(viewed_, writing) > 0 ? std::optional(viewed_)
                                                                              : std::nullopt;
                fits = applyOwn(seen ? &*seen : nullptr, nullptr, stamp, writing);
            } else {
                refusedUnstamped();
                fits = false;
            }
        }
        // What was refused is seen no more, once the rest is in a note or back among the changes.
        auto const seenAsKept = [&] {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!fits) refreshView();
        };
        std::string text;
        for (auto const& [key, change] : writing) {
            if (change.value) text += "set " + key + "=" + *change.value + "\n";
            if (change.added != 0) text += "add " + key + "=" + std::to_string(change.added) + "\n";
        }
        std::string error = "the note would be larger than " + std::to_string(kMaxSize) + " bytes";
        std::optional<std::string> const id =
            writing.empty() || text.size() > kMaxSize ||
                    !notes_.writeAs(stamp, std::vector<uint8_t>(text.begin(), text.end()), &error)
                ? std::nullopt
                : std::optional<std::string>(stamp);
        if (id || writing.empty()) {
            seenAsKept();
            if (!id) return fits;
            std::lock_guard<std::mutex> lock(mutex_);
            if (!toldBusy_ && !fileLock.heldHere())
                std::fprintf(stderr, "Preferences: %s; the changes are in a note, %s\n", fileLock.error().c_str(), id->c_str());
            toldBusy_ = toldBusy_ || !fileLock.heldHere();
            return fits;
        }
        std::fprintf(stderr, "Preferences: changes to %s not written: another process holds its lock and %s\n",
                     path_.c_str(), error.c_str());
        putBack();
        seenAsKept();
        return false;
    }
    if (!fileLock.held() && !ec) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!toldUnlocked_) std::fprintf(stderr, "Preferences: %s; written unlocked\n", fileLock.error().c_str());
        toldUnlocked_ = true;
    }
    // Another process's write since ours is the ground our changes go on, with what copies that
    // found the lock held left in notes. Unlocked, another writer may fold a note too: left.
    WholeFile const file = readWholeFile(path_, kMaxReadSize);
    Stored merged;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (file.status == WholeFile::TooLarge || file.status == WholeFile::Failed) {
            if (!keepDamagedAside()) return false;
        }
        // A file that is gone or damaged gets what this process knew of it.
        merged = file.status == WholeFile::Read
                     ? parseStored(std::string_view(reinterpret_cast<char const*>(file.bytes.data()), file.bytes.size()))
                     : stored_;
    }
    // A write that waited for another thread's round leaves the next round to the next write:
    // it waits for one round at most.
    if (fileLock.held()) heldElsewhere_ = false;
    NoteSet::Fold fold;
    if (fileLock.held() && (foldAfterWaiting || !fileLock.waitedForWork())) {
        fold = notes_.fold(merged.folded, noteInto(merged));
        merged.folded = std::set<std::string>(fold.record.begin(), fold.record.end());
        fileLock.markWorkForWaiters();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        lastFold_ = {fileLock.held(), fold.began, fold.more};
        writing.swap(pending_);
    }
    bool fits = writing.empty();  // a write that only folds needs no stamp
    // What this object sees once written, made before the write when it has changes to check.
    std::optional<Stored> seen;
    if (!fits) {
        if (auto const stamp = notes_.stampAfter(latestOf(merged))) {
            seen = seenBeside(merged, writing);
            fits = applyOwn(seen ? &*seen : nullptr, &merged, *stamp, writing);
        } else {
            refusedUnstamped();
        }
    }
    std::string const text = textOf(merged);
    std::string error;
    if (text.size() > kMaxReadSize) {
        // Only a file over kMaxFoldedEntries already, with a large record of notes: nothing is lost.
        std::fprintf(stderr, "Preferences: %s not written: it would be larger than %llu bytes\n", path_.c_str(),
                     static_cast<unsigned long long>(kMaxReadSize));
        putBack();
        return false;
    }
    bool renamed = false;
    bool const flushed = writeFileAtomically(path_, reinterpret_cast<uint8_t const*>(text.data()), text.size(), &error,
                                             0644, &renamed);
    if (!renamed) {
        // A folder that could not be made (a read-only disk) is the reason, not its absence.
        if (ec) error = "cannot create " + path_.parent_path().string() + ": " + ec.message();
        std::fprintf(stderr, "Preferences: cannot write %s: %s\n", path_.c_str(), error.c_str());
        putBack();
        return false;
    }
    // In place, so written, though a power loss may take it back: its changes are not made again.
    if (!flushed) std::fprintf(stderr, "Preferences: %s written, but %s\n", path_.c_str(), error.c_str());
    notes_.finish(fold);
    uint64_t written = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        written = ++written_;
        stored_ = merged;
        damaged_ = false;
    }
    // The view over the notes left is made again with neither lock held, and not shown over that
    // of a later write.
    fileLock.release();
    if (!seen) {
        seen = std::move(merged);
        notes_.read(seen->folded, noteInto(*seen), true);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (written > shown_) {
        shown_ = written;
        entries_ = seen->entries;
        viewed_ = std::move(*seen);
        apply(entries_, pending_);
    }
    return fits && flushed;
}

std::map<std::string, std::string> PreferencesFile::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

}  // namespace platform
