#include "platform/base/NoteSet.h"

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>

#include "platform/base/AtomicFile.h"

namespace platform {
namespace {

// A clock set past 2262 would overflow: it reads as the last nanosecond there is.
int64_t nanoseconds(timespec const& t) {
    int64_t ns = 0;
    if (__builtin_mul_overflow(int64_t(t.tv_sec), int64_t(1'000'000'000), &ns) || __builtin_add_overflow(ns, int64_t(t.tv_nsec), &ns))
        return t.tv_sec < 0 ? 0 : std::numeric_limits<int64_t>::max();
    return ns;
}

int64_t wallClock() {
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return nanoseconds(now);
}

// Plain loops: a pile's names are checked at every listing.
bool digits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "<20 digits of nanoseconds>-<16 hex digits of tag>-<process id>", as newId makes them.
bool isId(std::string_view s) {
    auto const hex = [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); };
    return s.size() > 38 && s[20] == '-' && s[37] == '-' && digits(s.substr(0, 20)) &&
           std::all_of(s.begin() + 21, s.begin() + 37, hex) && digits(s.substr(38));
}

// Before every id, and after the stamp of what a store holds from before stamps.
constexpr std::string_view kOlderFormStamp = "00000000000000000000-";

// Past the times an id may carry: what a clock gives in signed 64-bit nanoseconds (April 2262),
// less room for ids made one after another from the latest. A clock read past kClockLimit (set
// past 2262) reads as kClockLimit: the room above it is for ids made later than what was read.
constexpr uint64_t kLastTime = (uint64_t(1) << 63) - (uint64_t(1) << 50);
constexpr uint64_t kClockLimit = kLastTime - (uint64_t(1) << 49);

// The time of an id, when it leaves room for a later one.
std::optional<uint64_t> timeOf(std::string_view id) {
    uint64_t t = 0;
    if (!isId(id) || std::from_chars(id.data(), id.data() + 20, t).ec != std::errc() || t >= kLastTime) return std::nullopt;
    return t;
}

// Constant-initialised, with no guard: a child forked while another thread made a guarded one on
// its first fold would wait on that guard for good at its own first fold.
constinit std::atomic<std::function<void(std::string const&)>*> faultHook{nullptr};

}  // namespace

FileVersion FileVersion::of(std::filesystem::path const& path) {
    FileVersion v;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        v.settled = errno == ENOENT || errno == ENOTDIR;
        return v;
    }
    v.exists = true;
    v.dev = st.st_dev;
    v.ino = st.st_ino;
    v.size = st.st_size;
    v.modified = nanoseconds(st.st_mtim);
    v.changed = nanoseconds(st.st_ctim);
    v.settled = wallClock() - std::max(v.modified, v.changed) >= 100'000'000;
    return v;
}

bool FileVersion::sameAs(FileVersion const& o) const {
    return settled && o.settled && exists == o.exists && dev == o.dev && ino == o.ino && size == o.size &&
           modified == o.modified && changed == o.changed;
}

NoteSet::NoteSet(std::filesystem::path folder, std::string prefix, std::string suffix, uint64_t maxSize,
                 std::function<bool(std::string_view)> olderForm, unsigned mode, uint64_t viewBytes)
    : folder_(std::move(folder)),
      prefix_(std::move(prefix)),
      suffix_(std::move(suffix)),
      maxSize_(maxSize),
      olderForm_(std::move(olderForm)),
      mode_(mode),
      viewBytes_(viewBytes) {}

NoteSet::~NoteSet() {
    if (watch_ >= 0) ::close(watch_);
}

std::optional<std::string> NoteSet::newId(std::string_view after) {
    // Two ranges, each counted on from the last id made in it: ids the clock gives, and those above
    // kClockLimit, made only after a stamp read there. A stamp near the end thus ends no more than
    // the changes made after it, never every other id of the process.
    static std::atomic<uint64_t> lastBelow{0}, lastAbove{kClockLimit};
    uint64_t floor = uint64_t(std::clamp<int64_t>(wallClock(), 1, int64_t(kClockLimit)));
    if (auto const seen = timeOf(after)) floor = std::max(floor, *seen + 1);
    uint64_t next = 0;
    if (floor < kClockLimit) {
        uint64_t prev = lastBelow.load();
        do next = std::max(floor, prev + 1);
        while (next < kClockLimit && !lastBelow.compare_exchange_weak(prev, next));
    }
    if (next == 0 || next >= kClockLimit) {
        uint64_t prev = lastAbove.load();
        do {
            next = std::max(floor, prev + 1);
            if (next >= kLastTime) return std::nullopt;
        } while (!lastAbove.compare_exchange_weak(prev, next));
    }
    char id[64];
    std::snprintf(id, sizeof id, "%020llu-%s-%d", static_cast<unsigned long long>(next), atomicWriteTag().c_str(),
                  int(::getpid()));
    return std::string(id);
}

std::optional<std::string> NoteSet::stampAfter(std::string_view read) {
    // Later than every note there is now, too: a note made before this change, by a writer whose
    // stamps ran as far ahead as this one's, never goes over it. Only the names are looked at: a
    // pile takes long to list whole, and a writer under the lock does this each time.
    std::string const there = latestThere();
    std::string latest(read);
    {
        std::lock_guard<std::mutex> lock(seenMutex_);
        seen_ = std::max(seen_, there);
        if (!timeOf(latest) || seen_ > latest) latest = seen_;
    }
    auto id = newId(latest);
    if (id) {
        std::lock_guard<std::mutex> lock(seenMutex_);
        seen_ = std::max(seen_, *id);
    }
    return id;
}

std::string NoteSet::latestThere() {
    // Listing 20,000 names takes the kernel some 7 ms, and a writer under the lock asks each time;
    // below a few thousand a listing costs less than the notices.
    constexpr size_t kWatchFrom = 4096;
    std::lock_guard<std::mutex> lock(watchMutex_);
    auto const take = [&](std::string_view name) {
        if (auto const id = idIn(name); id > there_ && timeOf(id)) there_ = id;
    };
    // The notices follow the folder watched wherever it goes: one moved aside, or whose folder
    // was, and another put in its place (a restore) would tell nothing of the notes made here.
    struct stat here {};
    bool const same = ::stat(folder_.c_str(), &here) == 0 && here.st_dev == watchDev_ && here.st_ino == watchIno_;
    bool whole = watch_ < 0 || watchPid_ != ::getpid() || !same;
    alignas(inotify_event) char buffer[64 * 1024];
    while (!whole) {
        ssize_t const got = ::read(watch_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            whole = !(got < 0 && errno == EAGAIN);
            break;
        }
        for (ssize_t at = 0; at < got;) {
            auto const* e = reinterpret_cast<inotify_event const*>(buffer + at);
            // Notices lost, or the folder gone: what is there is listed again.
            if (e->mask & (IN_Q_OVERFLOW | IN_IGNORED)) whole = true;
            if (e->len > 0) take(std::string_view(e->name));
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
    if (!whole) return there_;
    if (watch_ >= 0) ::close(watch_);
    watch_ = -1;
    // Watched from before the listing, so that a name made while it goes is noticed if not
    // listed; only once the last listing found a pile: a watch for each small folder would take
    // the user's notices. The folder is known by what was at its path before the watch was made:
    // one put in its place meanwhile is listed again next time.
    int watch = listedNames_ >= kWatchFrom && ::stat(folder_.c_str(), &here) == 0 ? ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC) : -1;
    if (watch >= 0 && ::inotify_add_watch(watch, folder_.c_str(), IN_CREATE | IN_MOVED_TO | IN_ONLYDIR) < 0) {
        ::close(watch);
        watch = -1;
    }
    there_.clear();
    listedNames_ = 0;
    regularFileNamesIn(folder_, [&](std::string const& name) {
        ++listedNames_;
        take(name);
        return false;
    });
    if (watch >= 0 && listedNames_ >= kWatchFrom) {
        watch_ = watch;
        watchPid_ = ::getpid();
        watchDev_ = here.st_dev;
        watchIno_ = here.st_ino;
    } else if (watch >= 0) {
        ::close(watch);
    }
    return there_;
}

bool NoteSet::isStamp(std::string_view stamp) { return timeOf(stamp) || stamp.starts_with(kOlderFormStamp); }

std::optional<std::string> NoteSet::write(std::vector<uint8_t> const& bytes, std::string* error, std::string_view read) {
    auto const stamp = stampAfter(read);
    if (!stamp) {
        if (error) *error = "the stamps there leave no room for a later one";
        return std::nullopt;
    }
    return writeAs(*stamp, bytes, error) ? stamp : std::nullopt;
}

bool NoteSet::writeAs(std::string const& id, std::vector<uint8_t> const& bytes, std::string* error) {
    // A note in a folder that cannot be listed would never be found, nor folded.
    if (::faccessat(AT_FDCWD, folder_.c_str(), R_OK | X_OK, AT_EACCESS) != 0) {
        if (error) *error = "cannot list " + folder_.string() + " (" + std::strerror(errno) + ")";
        return false;
    }
    std::string const name = prefix_ + id + suffix_;
    if (!writeFileAtomically(folder_ / name, bytes.data(), bytes.size(), error, mode_)) return false;
    // Taken in by the next view or fold: a note is written while another thread's round goes on.
    std::lock_guard<std::mutex> lock(seenMutex_);
    fresh_.emplace_back(name, bytes);
    return true;
}

void NoteSet::takeFresh() {
    std::vector<std::pair<std::string, std::vector<uint8_t>>> fresh;
    {
        std::lock_guard<std::mutex> lock(seenMutex_);
        fresh.swap(fresh_);
    }
    for (auto& [name, bytes] : fresh) {
        read_[name] = Read{Read::Good, std::move(bytes), nullptr};
        written_.insert(name);
    }
}

std::string_view NoteSet::idIn(std::string_view name) const {
    if (name.size() <= prefix_.size() + suffix_.size() || !name.starts_with(prefix_) || !name.ends_with(suffix_)) return {};
    return name.substr(prefix_.size(), name.size() - prefix_.size() - suffix_.size());
}

std::vector<NoteSet::Listed> const& NoteSet::listing(bool fresh) {
    FileVersion const now = FileVersion::of(folder_);
    if (!fresh && now.sameAs(listedAt_)) return listed_;
    listedAt_ = now;
    listed_.clear();
    auto const wanted = [&](std::string const& name) {
        auto const id = idIn(name);
        return !id.empty() && (isId(id) || (olderForm_ && olderForm_(id)));
    };
    for (auto& name : regularFileNamesIn(folder_, wanted)) {
        std::string id(idIn(name));
        std::string stamp = isId(id) ? id : std::string(kOlderFormStamp) + id;
        listed_.push_back({std::move(stamp), std::move(id), std::move(name)});
    }
    // Names of one form order as their stamps: a pile is seldom out of order.
    if (!std::is_sorted(listed_.begin(), listed_.end())) std::sort(listed_.begin(), listed_.end());
    // What is gone is not kept.
    std::vector<std::string_view> names;
    names.reserve(listed_.size());
    for (auto const& l : listed_) names.push_back(l.name);
    if (!std::is_sorted(names.begin(), names.end())) std::sort(names.begin(), names.end());
    // Both in name order: one walk each.
    auto const keepListed = [&](auto& byName, auto const& nameOf) {
        auto at = names.begin();
        for (auto it = byName.begin(); it != byName.end();) {
            while (at != names.end() && *at < std::string_view(nameOf(*it))) ++at;
            it = at != names.end() && *at == nameOf(*it) ? std::next(it) : byName.erase(it);
        }
    };
    keepListed(read_, [](auto const& r) -> std::string const& { return r.first; });
    keepListed(sizes_, [](auto const& r) -> std::string const& { return r.first; });
    keepListed(toldUnreadable_, [](std::string const& name) -> std::string const& { return name; });
    keepListed(written_, [](std::string const& name) -> std::string const& { return name; });
    std::string latest;
    for (auto const& l : listed_) {
        if (!isId(l.id)) continue;
        // Named by a time no clock gives: damaged, whatever it holds.
        if (timeOf(l.id))
            latest = std::max(latest, l.id);
        else
            read_.try_emplace(l.name, Read{Read::Damaged, {}, nullptr});
    }
    std::lock_guard<std::mutex> lock(seenMutex_);
    seen_ = std::max(seen_, latest);
    return listed_;
}

NoteSet::Read* NoteSet::readNote(Listed const& note, bool again) {
    if (auto it = read_.find(note.name); it != read_.end()) {
        if (!again) return &it->second;
        // A fold's pass was listed rounds ago: another process may have folded the note since.
        struct stat st {};
        if (::lstat((folder_ / note.name).c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            read_.erase(it);
            return nullptr;
        }
        if (it->second.state != Read::Unreadable) return &it->second;
        read_.erase(it);
    }
    // A link is never followed: only the folder's own files count.
    WholeFile file = readWholeFile(folder_ / note.name, maxSize_, false);
    if (file.status == WholeFile::Missing) return nullptr;
    Read& r = read_[note.name];
    r.state = file.status == WholeFile::Read ? Read::Good : file.status == WholeFile::Failed ? Read::Unreadable : Read::Damaged;
    r.bytes = std::move(file.bytes);
    return &r;
}

bool NoteSet::Round::over() const {
    return taken == kMaxFold || (taken > 0 && bytes >= maxBytes) ||
           (taken >= kMinFold && std::chrono::steady_clock::now() - began + after + perNote * int64_t(taken) >=
                                     std::chrono::microseconds(kRoundMicroseconds));
}

uint64_t NoteSet::read(std::set<std::string> const& folded, Apply const& apply, bool aRound, Bound const& passedOver) {
    Round round;
    std::lock_guard<std::mutex> lock(mutex_);
    takeFresh();
    // As many as a fold's round would take.
    round.after = writeCost_;
    round.perNote = removeCost_;
    round.maxBytes = viewBytes_;
    ++views_;
    auto const view = [&](Listed const& note, bool again) {
        Read* r = readNote(note, again);
        if (!r || r->state != Read::Good || r->view == views_) return;
        r->view = views_;
        round.bytes += r->bytes.size();
        bool waits = false;
        if (!apply(Note{note.stamp, r->bytes, r->parsed, waits})) {
            if (waits) {
                r->view = 0;
                return;
            }
            r->state = Read::Damaged;
            r->bytes.clear();
            r->parsed.reset();
        }
    };
    // A whole view reads on past what it keeps: a note beyond that is applied and let go at once,
    // read again by the next view, so that a view holds no more than viewBytes of notes however
    // large the pile.
    std::set<std::string_view> streamed;
    auto const stream = [&](Listed const& note) {
        WholeFile file = readWholeFile(folder_ / note.name, maxSize_, false);
        if (file.status != WholeFile::Read) return view(note, false);  // told as any note is
        streamed.insert(note.name);
        std::shared_ptr<void const> parsed;
        bool waits = false;
        if (!apply(Note{note.stamp, file.bytes, parsed, waits}) && !waits) read_.try_emplace(note.name, Read{Read::Damaged, {}, nullptr});
    };
    // Beside a pass under way a round's view goes on from where the pass is, as it was listed:
    // a pile is not listed again for each view (notes are looked at one by one, another process
    // may have folded them since).
    bool const inPass = aRound && passAt_ < pass_.size();
    auto const& listed = inPass ? pass_ : listing(false);
    for (auto at = listed.begin() + (inPass ? passAt_ : 0); at != listed.end() && !(aRound && round.over()); ++at) {
        if (folded.count(at->id)) continue;
        // Nor does a round's view read a note larger than what is left of it: it shows once folded.
        struct stat st {};
        if (!read_.count(at->name) && ::lstat((folder_ / at->name).c_str(), &st) == 0 &&
            round.bytes + uint64_t(st.st_size) > round.maxBytes) {
            if (aRound) break;
            ++round.taken;
            stream(*at);
            continue;
        }
        ++round.taken;
        view(*at, inPass);
    }
    // Its own changes it always sees.
    if (aRound)
        for (auto const& name : written_) {
            std::string const id(idIn(name));
            if (!folded.count(id)) view(Listed{id, id, name}, true);
        }
    if (!passedOver) return 0;
    // The notes the view went through, as listed for it. The size of one never read is looked up
    // for a round's time a view at most: the sizes of a new pile's notes are learnt over a few
    // writes, and those not looked up yet count for nothing meanwhile.
    uint64_t sum = 0;
    std::shared_ptr<void const> const unread;
    auto const lookUpUntil = std::chrono::steady_clock::now() + std::chrono::microseconds(kRoundMicroseconds);
    for (auto at = listed.begin() + (inPass ? passAt_ : 0); at != listed.end(); ++at) {
        Listed const& note = *at;
        if (folded.count(note.id) || streamed.count(note.name)) continue;
        if (auto it = read_.find(note.name); it != read_.end() && it->second.state != Read::Unreadable) {
            if (it->second.state == Read::Good && it->second.view != views_) sum += passedOver(it->second.bytes.size(), it->second.parsed);
            continue;
        }
        auto size = sizes_.find(note.name);
        if (size == sizes_.end()) {
            struct stat st {};
            if (std::chrono::steady_clock::now() >= lookUpUntil || ::lstat((folder_ / note.name).c_str(), &st) != 0) continue;
            size = sizes_.emplace(note.name, uint64_t(st.st_size)).first;
        }
        sum += passedOver(size->second, unread);
    }
    return sum;
}

NoteSet::Fold NoteSet::fold(std::set<std::string> const& folded, Apply const& apply) {
    Round round;
    std::lock_guard<std::mutex> lock(mutex_);
    takeFresh();
    round.after = writeCost_;
    round.perNote = removeCost_;
    Fold f;
    // By name, listed or not: a note made after the pass was listed may have been folded by
    // another process, which was stopped before it removed it.
    for (auto const& id : folded) {
        if (!isId(id) && !(olderForm_ && olderForm_(id))) continue;
        std::string const name = prefix_ + id + suffix_;
        if (::unlink((folder_ / name).c_str()) == 0 || errno == ENOENT)
            read_.erase(name);
        else
            f.record.push_back(id);  // still there: still named
    }
    if (passAt_ >= pass_.size()) {
        pass_ = listing(true);
        passAt_ = 0;
        f.began = true;
    }
    step();
    size_t damaged = 0, unreadable = 0, waiting = 0;
    while (passAt_ < pass_.size() && !round.over()) {
        Listed const& note = pass_[passAt_++];
        if (folded.count(note.id)) continue;
        ++round.taken;
        Read* r = readNote(note, true);
        if (!r) continue;
        if (r->state == Read::Unreadable) {
            if (toldUnreadable_.insert(note.name).second) ++passUnreadable_;
            continue;
        }
        round.bytes += r->bytes.size();
        std::filesystem::path const path = folder_ / note.name;
        bool waits = false;
        if (r->state == Read::Damaged || !apply(Note{note.stamp, r->bytes, r->parsed, waits})) {
            if (waits) {
                ++passWaiting_;
                continue;
            }
            ::unlink(path.c_str());
            read_.erase(note.name);
            ++damaged;
            continue;
        }
        f.record.push_back(note.id);
        f.applied.push_back(path);
    }
    // Told once a pass: a pile takes many rounds. What cannot be read, only when not told before.
    f.more = passAt_ < pass_.size();
    passDamaged_ += damaged;
    damaged = 0;
    if (!f.more) {
        pass_.clear();
        damaged = std::exchange(passDamaged_, 0);
        unreadable = std::exchange(passUnreadable_, 0);
        waiting = std::exchange(passWaiting_, 0);
    }
    if (damaged)
        std::fprintf(stderr, "removed %zu damaged note(s) %s*%s in %s\n", damaged, prefix_.c_str(), suffix_.c_str(),
                     folder_.c_str());
    if (unreadable)
        std::fprintf(stderr, "%zu note(s) %s*%s in %s cannot be read now; passed over\n", unreadable, prefix_.c_str(),
                     suffix_.c_str(), folder_.c_str());
    if (waiting)
        std::fprintf(stderr, "%zu note(s) %s*%s in %s kept unfolded: folded in, they would make the store larger than a reader takes\n",
                     waiting, prefix_.c_str(), suffix_.c_str(), folder_.c_str());
    step();
    folded_ = std::chrono::steady_clock::now();
    return f;
}

void NoteSet::finish(Fold const& fold) {
    // Learnt from the rounds that took notes: a cost that grew counts at once, one that fell a
    // quarter of the way a round, so that one slow round (a flush held up) ends the next few early.
    auto const learn = [](std::chrono::nanoseconds& cost, std::chrono::nanoseconds latest) {
        cost = std::max(latest, (3 * cost + latest) / 4);
    };
    auto const began = std::chrono::steady_clock::now();
    if (!fold.applied.empty()) {
        std::lock_guard<std::mutex> lock(mutex_);
        learn(writeCost_, began - folded_);
    }
    // Unlinked without the lock: a reader's view waits for no removal. And flushed here, in the
    // round whose cost it is, not by the next write of whoever comes next.
    step();
    for (auto const& path : fold.applied) {
        ::unlink(path.c_str());
        step();
    }
    if (fold.applied.empty()) return;
    if (int const dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    std::lock_guard<std::mutex> lock(mutex_);
    learn(removeCost_, (std::chrono::steady_clock::now() - began) / int64_t(fold.applied.size()));
    for (auto const& path : fold.applied) read_.erase(path.filename().string());
}

bool NoteSet::any() {
    std::lock_guard<std::mutex> lock(mutex_);
    takeFresh();
    return !listing(false).empty();
}

void NoteSet::step() const {
    if (auto* const hook = faultHook.load(std::memory_order_acquire); hook && *hook) (*hook)((folder_ / prefix_).string());
}

void NoteSet::setFaultHook(std::function<void(std::string const&)> hook) {
    delete faultHook.exchange(hook ? new std::function<void(std::string const&)>(std::move(hook)) : nullptr);
}

}  // namespace platform
