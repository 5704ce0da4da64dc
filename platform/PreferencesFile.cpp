#include "platform/PreferencesFile.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
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

// "." + file name + "." + 16 hex digits + "." + decimal counter + ".pending": the middle is checked
// so that a note of "<name>.x" beside it is not taken for one of "<name>".
bool isNoteOf(std::string const& fileName, std::string_view name) {
    std::string const prefix = "." + fileName + ".";
    if (name.size() <= prefix.size() + kNoteSuffix.size() || !name.starts_with(prefix) || !name.ends_with(kNoteSuffix))
        return false;
    std::string_view const middle = name.substr(prefix.size(), name.size() - prefix.size() - kNoteSuffix.size());
    return middle.size() > 17 && middle[16] == '.' &&
           middle.substr(0, 16).find_first_not_of("0123456789abcdef") == std::string_view::npos &&
           middle.substr(17).find_first_not_of("0123456789") == std::string_view::npos;
}

}  // namespace

std::map<std::string, std::string> PreferencesFile::parse(std::string_view text) {
    std::map<std::string, std::string> entries;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        size_t const eq = line.find('=');
        if (eq == 0 || eq == std::string_view::npos) continue;
        entries[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
    }
    return entries;
}

PreferencesFile::PreferencesFile(std::filesystem::path path) : path_(std::move(path)) {
    // Opened without blocking and read up to a cap: a pipe or a link to a device in the file's
    // place must neither stop the game nor fill its memory.
    WholeFile file = readWholeFile(path_, kMaxSize);
    switch (file.status) {
    case WholeFile::Missing:
        break;
    case WholeFile::Read:
        stored_ = parse(std::string_view(reinterpret_cast<char const*>(file.bytes.data()), file.bytes.size()));
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
    // A copy that went while the lock was held: its changes are seen now, written by the next write.
    entries_ = stored_;
    for (auto const& note : readNotes()) apply(entries_, note.changes);
}

// A quit does not wait for the lock either: changes still waiting get one more try.
PreferencesFile::~PreferencesFile() {
    auto owed = [this] {
        std::lock_guard<std::mutex> lock(mutex_);
        return owed_ && !pending_.empty();
    };
    if (!owed() || !synchronize() || !owed()) return;
    // Still held: left in a note for whoever writes next.
    Changes changes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        changes.swap(pending_);
    }
    std::string error;
    if (!writeNote(changes, &error))
        std::fprintf(stderr, "Preferences: changes to %s not written: another process holds its lock and %s\n",
                     path_.c_str(), error.c_str());
}

// One line a change: "set <key>=<value>" then "add <key>=<delta>", as Change applies them.
bool PreferencesFile::writeNote(Changes const& changes, std::string* error) const {
    // Each object its own name: two going at once in one process do not write over each other.
    static std::atomic<uint64_t> counter{0};
    std::filesystem::path const note =
        folderOf(path_) / ("." + path_.filename().string() + "." + atomicWriteTag() + "." +
                           std::to_string(counter.fetch_add(1)) + std::string(kNoteSuffix));
    std::string text;
    for (auto const& [key, change] : changes) {
        if (change.value) text += "set " + key + "=" + *change.value + "\n";
        if (change.added != 0) text += "add " + key + "=" + std::to_string(change.added) + "\n";
    }
    return writeFileAtomically(note, reinterpret_cast<uint8_t const*>(text.data()), text.size(), error);
}

std::vector<PreferencesFile::Note> PreferencesFile::readNotes() const {
    std::vector<Note> notes;
    std::string const fileName = path_.filename().string();
    for (auto const& path : regularFilesIn(folderOf(path_), [&](std::string const& name) { return isNoteOf(fileName, name); })) {
        WholeFile const file = readWholeFile(path, kMaxSize, /*followLink=*/false);
        if (file.status != WholeFile::Read) continue;
        Note note{path, {}};
        std::string_view const text(reinterpret_cast<char const*>(file.bytes.data()), file.bytes.size());
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
                note.changes[key] = Change{value, 0};
            } else if (line.starts_with("add ")) {
                auto const read = std::from_chars(value.data(), valueEnd, delta);
                if (read.ec != std::errc() || read.ptr != valueEnd) continue;
                Change& change = note.changes[key];
                change.added = plus(change.added, delta);
            }
        }
        notes.push_back(std::move(note));
    }
    return notes;
}

void PreferencesFile::apply(Entries& entries, Changes const& changes) {
    for (auto const& [key, change] : changes) {
        if (change.value) entries[key] = *change.value;
        if (change.added == 0) continue;
        auto it = entries.find(key);
        entries[key] = std::to_string(plus(integerOf(it == entries.end() ? nullptr : &it->second), change.added));
    }
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
    if (!validKey(key) || !validValue(value)) return false;
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
    std::error_code ec;
    std::filesystem::create_directories(path_.parent_path(), ec);
    // Hidden, beside the file: the folder is the player's.
    FileLock fileLock(path_.parent_path() / ("." + path_.filename().string() + ".lock"), wait);
    if (fileLock.busy()) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!toldBusy_) std::fprintf(stderr, "Preferences: %s; the changes are written later\n", fileLock.error().c_str());
        toldBusy_ = owed_ = true;
        return true;
    }
    if (!fileLock.held() && !ec) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!toldUnlocked_) std::fprintf(stderr, "Preferences: %s; written unlocked\n", fileLock.error().c_str());
        toldUnlocked_ = true;
    }
    // Another process's write since ours is the ground our changes go on, with what copies that
    // found the lock held left in notes. Unlocked, another writer may apply a note too: left.
    WholeFile const file = readWholeFile(path_, kMaxSize);
    std::vector<Note> const notes = fileLock.held() ? readNotes() : std::vector<Note>();
    Entries merged;
    Changes writing;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (file.status == WholeFile::TooLarge || file.status == WholeFile::Failed) {
            if (!keepDamagedAside()) return false;
        }
        // A file that is gone or damaged gets what this process knew of it.
        merged = file.status == WholeFile::Read
                     ? parse(std::string_view(reinterpret_cast<char const*>(file.bytes.data()), file.bytes.size()))
                     : stored_;
        for (auto const& note : notes) apply(merged, note.changes);
        apply(merged, pending_);
        // Changes made from here on wait for the next write.
        writing.swap(pending_);
    }
    std::string text;
    for (auto const& [k, v] : merged) text += k + "=" + v + "\n";
    std::string error;
    if (!writeFileAtomically(path_, reinterpret_cast<uint8_t const*>(text.data()), text.size(), &error)) {
        // A folder that could not be made (a read-only disk) is the reason, not its absence.
        if (ec) error = "cannot create " + path_.parent_path().string() + ": " + ec.message();
        std::fprintf(stderr, "Preferences: cannot write %s: %s\n", path_.c_str(), error.c_str());
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto const& [key, later] : pending_) {
            Change& change = writing[key];
            if (later.value)
                change = later;
            else
                change.added = plus(change.added, later.added);
        }
        pending_ = std::move(writing);
        return false;
    }
    for (auto const& note : notes) {
        std::error_code removeError;
        if (!std::filesystem::remove(note.path, removeError) && removeError)
            std::fprintf(stderr, "Preferences: cannot remove %s: %s\n", note.path.c_str(), removeError.message().c_str());
    }
    std::lock_guard<std::mutex> lock(mutex_);
    stored_ = std::move(merged);
    entries_ = stored_;
    apply(entries_, pending_);
    damaged_ = owed_ = false;
    return true;
}

std::map<std::string, std::string> PreferencesFile::entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
}

}  // namespace platform
