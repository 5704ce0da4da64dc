#pragma once
// A small settings file: one "key=value" line per entry, read whole at construction and written
// back atomically by synchronize(). Lines that do not read as an entry are skipped, so a damaged
// file loses only its damaged lines. What cannot be a settings file (no regular file, larger than
// kMaxReadSize, unreadable) is read as empty and kept aside as "<name>.bad" before a write replaces
// it; while it cannot be kept aside it is not replaced. Safe from any thread.
//
// Another copy of the game on the same home changes the same file. A write takes the lock file
// beside it (".<name>.lock"), reads the file again under it, applies this object's changes since
// its last write (values set, counts added to) and adopts the result, so neither copy's changes
// are lost. Nobody waits on another process's lock longer than the bound it gives: while the lock
// is held the changes go at once to a note beside the file (".<name>.<id>.pending", see NoteSet),
// which every new object sees and a write under the lock folds in: of a pile of them, a view takes
// as many as a fold's round does (whatever their size) while a fold can go on, every one while
// another process holds the lock, and its own always. A write that may not wait does not wait for
// another thread of this process holding the lock either (a round of its fold): its changes go to a
// note the same way. Whenever synchronize() returns true the changes are on disk.
//
// The file also keeps, in lines that start with '=' (which every reader skips), the id of the
// change that set each value and the notes folded in that may still be there.
//
// A change is refused when, beside every note this object sees, it would make the entries with
// their stamps larger than kMaxEntries, which leaves room in kMaxSize for the record of a round of
// folded notes: it is dropped and synchronize() returns false; the file and the other changes are
// kept. What returned true is kept: copies that wrote at once may take the file past kMaxSize,
// and a fold takes their notes all the same, as every reader takes a file up to kMaxReadSize.
// Only a note that would take the file past that waits, kept beside it unfolded, with a log line.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/base/NoteSet.h"

namespace platform {

class PreferencesFile {
public:
    static constexpr uint64_t kMaxSize = 1u << 20;
    static constexpr uint64_t kMaxEntries = kMaxSize - NoteSet::kMaxFold * 128;
    static constexpr uint64_t kMaxReadSize = 8u << 20;
    static constexpr uint64_t kMaxFoldedEntries = kMaxReadSize - NoteSet::kMaxFold * 128;
    static_assert(NoteSet::kMaxFold * 128 <= kMaxSize / 4, "a round's record takes a small part of the file");

    // Notes left beside the file are folded in at once when its lock is free, a round a write.
    explicit PreferencesFile(std::filesystem::path path);

    // Parses file text into entries (what the constructor does with the file).
    static std::map<std::string, std::string> parse(std::string_view text);

    std::optional<std::string> string(std::string const& key) const;
    int64_t integer(std::string const& key) const;  // 0 when absent or not a number
    double real(std::string const& key) const;      // 0 when absent or not a number
    bool boolean(std::string const& key) const;     // false unless "1"

    // Keys and values may not hold line breaks, and keys no '='; such changes are refused. So is a
    // value whose line alone would pass kMaxEntries, before it is read or copied: the next
    // synchronize() tells it and returns false.
    bool set(std::string const& key, std::string const& value);
    bool setInteger(std::string const& key, int64_t value);
    bool setReal(std::string const& key, double value);
    bool setBoolean(std::string const& key, bool value);
    // Adds delta to the number under key (0 when absent or not a number) and returns the sum; the
    // write adds it to what the file holds then, so other processes' additions count too.
    // nullopt when the key is refused.
    std::optional<int64_t> addInteger(std::string const& key, int64_t delta);
    // Writes the changes; false (and a log line) when the file cannot be written, or a change
    // would make it larger than kMaxEntries (that one is dropped, the others written), or the
    // stamps there leave none later for the changes (a stamp made by hand: they are dropped). A
    // file written whose folder cannot be flushed after is false too, its changes made. While
    // another process holds the lock for longer than `wait` they go to a note instead, and with no
    // wait, while another thread of this process holds it. A write
    // that waited for another thread's round of notes folds none itself: the next write does.
    bool synchronize(std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    std::map<std::string, std::string> entries() const;
    std::filesystem::path const& path() const { return path_; }
    // The file was there but could not be read as a settings file.
    bool damaged() const;

private:
    // A key's change since the last write: set to `value` (when given), then `added` added.
    struct Change {
        std::optional<std::string> value;
        int64_t added = 0;
    };
    using Entries = std::map<std::string, std::string>;
    using Changes = std::map<std::string, Change>;
    // The file: its entries, the id of the change that set each value, the notes folded in.
    struct Stored {
        Entries entries;
        std::map<std::string, std::string> setAt;
        std::set<std::string> folded;
    };

    static Stored parseStored(std::string_view text);
    static std::string textOf(Stored const& stored);
    static void apply(Entries& entries, Changes const& changes);
    // Applies changes made at `stamp`: a value set or added to before the key's value was set is
    // left out.
    static void apply(Stored& stored, std::string const& stamp, Changes const& changes);
    // What the entries of stored and their stamps take in the file.
    static size_t entriesSize(Stored const& stored);
    // What changes would add to the entries of stored, as far as they make lines longer.
    static uint64_t growthOf(Stored const& stored, Changes const& changes);
    // The latest stamp stored.
    static std::string latestOf(Stored const& stored);
    // apply, unless the changes grow the entries beyond `limit`: false then, nothing applied.
    // size: entriesSize(stored), kept up to date.
    static bool applyWithin(Stored& stored, size_t& size, std::string const& stamp, Changes const& changes, uint64_t limit);
    // base with the notes not folded into it that this object sees where changes grow it: a
    // round's view, or every note where those the round passed over could decide whether the
    // changes fit and are few enough to read.
    // Nothing where they make no line longer.
    std::optional<Stored> seenBeside(Stored const& base, Changes const& changes);
    // This object's changes applied key by key to seen (see seenBeside) and stored, when given:
    // a key that would take seen past kMaxEntries (or stored past kMaxFoldedEntries) is dropped
    // from changes, with one log line, and false returned.
    bool applyOwn(Stored* seen, Stored* stored, std::string const& stamp, Changes& changes) const;
    // Notes that would take stored past kMaxFoldedEntries wait.
    NoteSet::Apply noteInto(Stored& stored) const;
    // stored_ with the notes not folded into it yet and pending_: what this object sees.
    void refreshView();  // with mutex_ held

    std::filesystem::path path_;
    mutable std::mutex mutex_;
    Stored stored_;    // the file as last read or written
    Changes pending_;  // made since
    Stored viewed_;    // stored_ with the notes the last view took
    Entries entries_;  // viewed_'s with pending_ applied: what this process sees
    NoteSet notes_;
    bool damaged_ = false;
    bool toldBusy_ = false, toldUnlocked_ = false;
    // The last write found the lock held by another process: views read every note, not a round.
    std::atomic<bool> heldElsewhere_{false};
    std::set<std::string> refused_;  // keys whose value set() refused since the last write
    // What the last write folded: whether it held the lock, began a pass and left some of it.
    struct LastFold {
        bool locked = false, began = false, more = false;
    } lastFold_;
    uint64_t written_ = 0, shown_ = 0;  // writes made, and the last whose view is shown

    bool keepDamagedAside();  // with mutex_ held
    // synchronize(); one that waited for another thread's fold of notes folds none itself unless
    // foldAfterWaiting.
    bool write(std::chrono::milliseconds wait, bool foldAfterWaiting);
};

}  // namespace platform
