#pragma once
// The changes a process could not write into a store file because another process held the
// store's lock: each one kept at once in a note beside the file, until a holder of the lock folds
// it in.
//
// A note is a new file, written atomically once and never rewritten. Its name carries a unique id
// that orders as the notes were made: the wall clock in nanoseconds, the process's write tag and
// its process id. The store file records the ids of the notes folded into it. A holder of the lock
// removes the notes the file names without applying them again, applies the others oldest first,
// writes the store file with their ids in that same atomic write, and only then removes them:
// whatever moment a kill strikes, each note is applied exactly once.
//
// An id is also the time of a change. A store keeps, beside a value, the id of the change that
// made it (a change under the lock takes a new id too), so that a note made before a change the
// holder wrote without having seen it never goes over that change. A change is stamped later than
// every stamp its writer read, whatever the wall clock did since (stepped back, or another copy's
// clock ahead): a change never loses to one its writer had seen. A time that leaves no room for
// a later id in signed 64-bit nanoseconds is no stamp: a note named so is damaged, and a store
// file's value stamped so is as old as one from before stamps. A change that cannot be stamped
// later than what it read (a stamp made by hand just short of that) is refused. A file whose name
// is not of the form this version or an earlier one gives its notes is no note: it is left alone.
#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// What a stat says of a file or folder. Two are the same only when neither changed within the
// tenth of a second before it was taken: a change a moment later may get the same coarse time
// stamp, and then it would not show.
struct FileVersion {
    bool exists = false;
    dev_t dev = 0;
    ino_t ino = 0;
    int64_t size = 0, modified = 0, changed = 0;  // nanoseconds
    bool settled = false;

    static FileVersion of(std::filesystem::path const& path);
    bool sameAs(FileVersion const& other) const;
};

class NoteSet {
public:
    // One fold is a round of a pass: a pass goes once through the notes listed at its start, in
    // rounds of a few milliseconds each, so that a pile never holds the store's lock for long. A
    // round takes kMinFold notes (when there are) and then more until kRoundMicroseconds would
    // have passed by its end: its reading so far, and what the store's write and the removal of
    // the notes taken cost the rounds before; kMaxFold at most. It ends once its notes hold
    // kRoundBytes, whatever their count (a single note larger than that is a round of its own).
    static constexpr size_t kMinFold = 32, kMaxFold = 1000;
    static constexpr int64_t kRoundMicroseconds = 4000;
    static constexpr uint64_t kRoundBytes = 256u << 10;

    // A note as a store applies it: its stamp (its id; the notes of an older form stamp before
    // every id, in name order), its bytes, and what the store made of them before (kept with the
    // note, empty at first).
    struct Note {
        std::string const& stamp;
        std::vector<uint8_t> const& bytes;
        std::shared_ptr<void const>& parsed;
        // Set by an Apply that returns false for a note that reads but that the store cannot take
        // now (it would grow past what a reader takes): the note waits, kept on disk, unfolded.
        bool& waits;
    };
    // False: nothing of the note was applied; it does not read, unless it waits.
    using Apply = std::function<bool(Note const& note)>;

    // Notes named prefix + id + suffix in folder, none read when larger than maxSize. olderForm,
    // when given, takes the middle of the names an earlier version gave its notes. A reader's view
    // of a round reads up to viewBytes of notes (see read): at least maxSize where views take
    // rounds, so that no note hides itself and every later one while no fold can be made.
    NoteSet(std::filesystem::path folder, std::string prefix, std::string suffix, uint64_t maxSize,
            std::function<bool(std::string_view)> olderForm = {}, unsigned mode = 0644, uint64_t viewBytes = kRoundBytes);
    ~NoteSet();
    NoteSet(NoteSet const&) = delete;
    NoteSet& operator=(NoteSet const&) = delete;

    // A new id, unique in the process, later than `after` and than every id this process made
    // from its clock; nothing when no id is left after `after`.
    static std::optional<std::string> newId(std::string_view after = {});
    // A new id, later than `read` (the latest stamp of the store file as its writer read it) and
    // than every note there is or was listed or written here: the stamp of a change of this
    // writer. Nothing when the stamps leave no room for it: the change is refused.
    std::optional<std::string> stampAfter(std::string_view read);
    // Whether a store file's stamp is one: an id a clock can give, or the stamp of a note of an
    // older form. A value stamped otherwise is as old as one from before stamps.
    static bool isStamp(std::string_view stamp);

    // The id of the note written (on disk when this returns), or nothing, with the reason in *error.
    // Its stamp is later than `read` (see stampAfter). It waits for no fold's round under way here:
    // the next view or fold takes the note in. Nothing in a folder that cannot be listed,
    // where no fold would find the note.
    std::optional<std::string> write(std::vector<uint8_t> const& bytes, std::string* error = nullptr,
                                     std::string_view read = {});
    // The same, named by `id`, a stamp stampAfter just gave; false, with the reason in *error.
    bool writeAs(std::string const& id, std::vector<uint8_t> const& bytes, std::string* error = nullptr);

    // A reader's view: applies the notes there are that `folded` does not name, oldest first. Each
    // note is read once (and kept, up to viewBytes of them a view: those past that are read again
    // by each view that takes them), and the folder listed again only when it changed. With `aRound`, only as
    // many as a round takes, though up to viewBytes of them whatever their size, and then the
    // notes written here: the rest of a pile shows once a fold reaches it, and a reader waits for
    // no pile. With passedOver, returns its sum over the notes there that `folded` does not name
    // and this view did not apply (not read, or waiting).
    // What a note passed over may add to the store: from its size (looked up once), or from what
    // the store made of it when an earlier view applied it (parsed, null before).
    using Bound = std::function<uint64_t(uint64_t size, std::shared_ptr<void const> const& parsed)>;
    uint64_t read(std::set<std::string> const& folded, Apply const& apply, bool aRound = false, Bound const& passedOver = {});

    // Under the store's lock: removes the notes `folded` names and applies the others of the pass,
    // oldest first, for one round; one that does not read is removed, with a log line. One that
    // cannot be read now (another account's, say) is passed over until the next pass, told once;
    // one that waits stays for the next pass, told once a pass.
    struct Fold {
        std::vector<std::string> record;  // the ids the store file is written with
        std::vector<std::filesystem::path> applied;
        bool more = false;   // the pass has notes left for another round
        bool began = false;  // this round began the pass: notes made before it are in it
    };
    Fold fold(std::set<std::string> const& folded, Apply const& apply);
    // Once the store file written with fold.record is on disk.
    void finish(Fold const& fold);

    // Whether any note is there now.
    bool any();

    // For tests: called at each step of a fold with the notes' folder and prefix, to stop the
    // process there.
    static void setFaultHook(std::function<void(std::string const&)> hook);

private:
    struct Listed {
        std::string stamp, id, name;
        auto operator<=>(Listed const&) const = default;
    };
    struct Read {
        // Unreadable: not now (no descriptor left, say), tried again by the next fold.
        enum State { Good, Damaged, Unreadable } state = Good;
        std::vector<uint8_t> bytes;
        std::shared_ptr<void const> parsed;
        uint64_t view = 0;  // the last view that applied it
    };
    // How far a round (or a view) has gone: ended once it took what a round may, counting what
    // is to come after a fold's reading.
    struct Round {
        std::chrono::steady_clock::time_point began = std::chrono::steady_clock::now();
        size_t taken = 0;
        uint64_t bytes = 0;
        std::chrono::nanoseconds after{0}, perNote{0};
        uint64_t maxBytes = kRoundBytes;  // a view's: viewBytes
        bool over() const;
    };
    // The latest id of the notes there now. A pile is listed whole once; after that the kernel's
    // notices of names made in the folder since tell the rest, until they overflow or another
    // folder is at its path.
    std::string latestThere();
    // The middle of a name of this set's form (prefix + middle + suffix), empty for another name.
    std::string_view idIn(std::string_view name) const;
    std::vector<Listed> const& listing(bool fresh);
    void step() const;
    // What was read of the note, nothing when it is gone.
    Read* readNote(Listed const& note, bool again);

    std::filesystem::path folder_;
    std::string prefix_, suffix_;
    uint64_t maxSize_;
    std::function<bool(std::string_view)> olderForm_;
    unsigned mode_;
    uint64_t viewBytes_;
    std::mutex mutex_;
    FileVersion listedAt_;
    std::vector<Listed> listed_;
    std::mutex seenMutex_;  // taken alone, or under mutex_; a writer takes no other
    std::string seen_;      // the latest stamp listed or looked at
    // Notes written here that no view or fold took in yet (into read_ and written_).
    std::vector<std::pair<std::string, std::vector<uint8_t>>> fresh_;
    void takeFresh();  // with mutex_ held
    std::mutex watchMutex_;
    int watch_ = -1;      // an inotify descriptor on the folder, made once a listing finds a pile
    pid_t watchPid_ = 0;  // the process it was made in: a forked child shares its notices, so lists
    dev_t watchDev_ = 0;  // the folder watched, as it was at the path
    ino_t watchIno_ = 0;
    std::string there_;   // the latest id listed or noticed since the watch began
    size_t listedNames_ = 0;  // names the last listing found
    std::map<std::string, Read> read_;  // by name
    std::map<std::string, uint64_t> sizes_;  // by name: a note never changes, so its size holds
    std::vector<Listed> pass_;          // the fold's pass, as listed at its start
    size_t passAt_ = 0;                 // the first note of the pass no round has reached
    std::set<std::string> toldUnreadable_;  // names
    std::set<std::string> written_;         // names of the notes written here, while listed
    uint64_t views_ = 0;
    // What the last rounds' ends cost: the store's write (from fold() to finish()), and removing a
    // note; until a round has taken notes, what they cost on a quiet disk.
    std::chrono::steady_clock::time_point folded_;
    std::chrono::nanoseconds writeCost_ = std::chrono::milliseconds(1), removeCost_ = std::chrono::microseconds(10);
    size_t passDamaged_ = 0, passUnreadable_ = 0, passWaiting_ = 0;  // found in the pass, not told yet
};

}  // namespace platform
