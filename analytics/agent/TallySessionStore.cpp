// Where sessions survive the process: the current session's keyed archive, the saved session
// blocks, the initial timestamp and installation id in the keychain; and the hand-over of blocks
// to the data sender.
#include <algorithm>
#include <cctype>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <cinttypes>
#include <cstdio>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyKeychainWrapper.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyWatchConnectivity.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyHTTPResponse.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/Digests.h"
#include "platform/base/KeyedArchive.h"
#include "platform/base/NoteSet.h"

namespace {

char const* const kInstallIdKey = "TallySessionInstallIDKey";
char const* const kTimestampKey = "TallySessionTimestampKey";
char const* const kApiKeyKey = "TallyAPIKey";

std::shared_ptr<TallyGlobalVariableStorage> settings() { return TallyGlobalVariableStorage::sharedInstance(); }

std::shared_ptr<TallyKeychainWrapper> keychain() {
    return TallyKeychainWrapper::keychainWrapperWithIdentifier(TallyKeychainWrapper::kAnalyticsIdentifier);
}

std::filesystem::path dataFile(char const* format, bool withVersion = true) {
    char name[128];
    if (withVersion)
        std::snprintf(name, sizeof name, format, TallyGlobalVariableStorage::apiKeyHash(),
                      TallySessionInfo::agentVersion().c_str());
    else
        std::snprintf(name, sizeof name, format, TallyGlobalVariableStorage::apiKeyHash());
    return TallyUtil::filePathDirectory() / name;
}

void writeArchive(Value const& root, std::filesystem::path const& path) {
    TallyUtil::archiveObject(root, path);
    TallyUtil::addSkipBackupAttributeToItemAtURL(path);
}

// Like writeArchive, for files whose loss must be told: false with the reason in *error.
bool writeArchiveChecked(Value const& root, std::filesystem::path const& path, std::string* error) {
    if (!platform::KeyedArchive::writeToFile(root, path, error)) return false;
    TallyUtil::addSkipBackupAttributeToItemAtURL(path);
    return true;
}

std::optional<std::string> optString(platform::ArchiveDecoder const& d, char const* key) { return d.decodeString(key); }

// The notes beside the saved sessions (see below).
platform::NoteSet& notes();

// The saved session blocks as last read, and what their file was like. The file is an archive of
// the blocks, oldest first, followed by a record that readers of the blocks alone skip: the id of
// the change that saved each block, of the last clear, and of the notes folded in.
struct Saved {
    enum State { Read, Missing, Unreadable, Damaged } state = Missing;
    std::vector<Data> blocks;
    std::vector<std::string> stamps;  // one per block
    std::string cleared;              // blocks saved before this id are gone
    std::set<std::string> folded;
    // Notes of writers that found the file locked, read in with the blocks: gone once stored.
    platform::NoteSet::Fold fold;
    std::map<Data, std::string> stampOf;  // of the blocks as read

    std::string latest() const {
        std::string last = cleared;
        for (auto const& s : stamps) last = std::max(last, s);
        return last;
    }
    // A change made at `stamp`: a clear drops what was saved before it, and blocks saved before
    // the last clear are not added.
    void apply(std::string const& stamp, bool clear, std::vector<Data> added) {
        if (clear && stamp > cleared) {
            cleared = stamp;
            for (size_t i = stamps.size(); i-- > 0;)
                if (stamps[i] < stamp) blocks.erase(blocks.begin() + ptrdiff_t(i)), stamps.erase(stamps.begin() + ptrdiff_t(i));
        }
        if (stamp < cleared) return;
        for (auto& b : added) blocks.push_back(std::move(b)), stamps.push_back(stamp);
    }
    // Oldest first, within the cap.
    void settle() {
        std::vector<size_t> order(blocks.size());
        for (size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) { return stamps[a] < stamps[b]; });
        std::vector<Data> sorted;
        std::vector<std::string> sortedStamps;
        for (size_t i : order) sorted.push_back(std::move(blocks[i])), sortedStamps.push_back(stamps[i]);
        size_t const before = sorted.size();
        TallySession::removeOldSessionsIfNecessary(sorted);
        sortedStamps.erase(sortedStamps.begin(), sortedStamps.begin() + ptrdiff_t(before - sorted.size()));
        blocks = std::move(sorted);
        stamps = std::move(sortedStamps);
        stampOf.clear();
        for (size_t i = 0; i < blocks.size(); ++i) stampOf.emplace(blocks[i], stamps[i]);
    }
    // What is left of the blocks as read, with what this process adds to them (saved now).
    Saved& keeping(std::vector<Data> rest) {
        // With no stamp left after the latest (one made by hand), kept beside it: a clear at that
        // stamp keeps them too.
        std::string const now = notes().stampAfter(latest()).value_or(latest());
        stamps.clear();
        for (auto const& b : rest) {
            auto it = stampOf.find(b);
            stamps.push_back(it != stampOf.end() ? it->second : now);
        }
        blocks = std::move(rest);
        return *this;
    }
};

// Blocks saved while the saved-sessions file was there but could not be read: they wait in a file
// beside it, sent with the next send or written with the file's own once it reads again.
std::filesystem::path heldFilePath() {
    auto path = TallySession::sessionsFilePath();
    return path += ".held";
}

// Reads an archive of the file's form into saved; false when it is not one.
bool readInto(std::optional<Value> const& value, Saved& saved) {
    auto const* a = value ? value->array() : nullptr;
    if (!a) return value && value->isNull();
    std::vector<Data> blocks;
    Value const* record = nullptr;
    for (auto const& b : *a) {
        if (b.data()) blocks.push_back(*b.data());
        if (b.dict()) record = &b;
    }
    Value const* stamps = record ? record->find("stamps") : nullptr;
    // A stamp no clock gives would outlast every clear: the block is as old as one from before
    // stamps, and such a clear clears nothing more.
    auto const stampIn = [](Value const* v) {
        return v && v->string() && platform::NoteSet::isStamp(*v->string()) ? *v->string() : std::string();
    };
    for (size_t i = 0; i < blocks.size(); ++i) {
        Value const* stamp = stamps && stamps->array() && stamps->array()->size() == blocks.size() ? &(*stamps->array())[i] : nullptr;
        saved.blocks.push_back(std::move(blocks[i]));
        saved.stamps.push_back(stampIn(stamp));
    }
    if (std::string const cleared = stampIn(record ? record->find("cleared") : nullptr); !cleared.empty())
        saved.apply(cleared, true, {});
    if (Value const* f = record ? record->find("folded") : nullptr; f && f->array())
        for (auto const& id : *f->array())
            if (id.string()) saved.folded.insert(*id.string());
    return true;
}

Value archiveOf(Saved const& saved) {
    Value::Array a, stamps, folded;
    a.reserve(saved.blocks.size() + 1);
    for (auto const& b : saved.blocks) a.push_back(Value(b));
    for (auto const& s : saved.stamps) stamps.push_back(Value(s));
    for (auto const& id : saved.folded) folded.push_back(Value(id));
    Value::Dict record{{"stamps", Value(std::move(stamps))}, {"folded", Value(std::move(folded))}};
    if (!saved.cleared.empty()) record["cleared"] = Value(saved.cleared);
    a.push_back(Value(std::move(record)));
    return Value(std::move(a));
}

// A process that finds the saved sessions locked by another never waits for it: it writes its
// change to a note beside them (see NoteSet), which whoever next holds the lock folds in. A note
// is an archive of the blocks it adds, after a {"clear": true} when it clears what came before.
// An earlier version named its notes by a UUID.
bool olderNoteName(std::string_view middle) {
    if (middle.size() != 36) return false;
    for (size_t i = 0; i < middle.size(); ++i) {
        bool const dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? middle[i] != '-' : !std::isxdigit(static_cast<unsigned char>(middle[i]))) return false;
    }
    return true;
}

platform::NoteSet& notes() {
    static auto* const all = new std::map<std::string, std::unique_ptr<platform::NoteSet>>;
    static std::mutex guard;
    std::lock_guard<std::mutex> lock(guard);
    auto const path = TallySession::sessionsFilePath();
    auto& n = (*all)[path.string()];
    if (!n)
        n = std::make_unique<platform::NoteSet>(path.parent_path(), path.filename().string() + ".held.", "",
                                                platform::KeyedArchive::kMaxSize, olderNoteName);
    return *n;
}

platform::NoteSet::Apply noteInto(Saved& saved) {
    return [&saved](platform::NoteSet::Note const& note) {
        auto const v = platform::KeyedArchive::decode(note.bytes.data(), note.bytes.size());
        auto const* a = v ? v->array() : nullptr;
        if (!a) return false;
        std::vector<Data> blocks;
        bool clear = false;
        for (auto const& b : *a) {
            if (b.data()) blocks.push_back(*b.data());
            if (Value const* c = b.find("clear"); c && c->asBool()) clear = *c->asBool();
        }
        saved.apply(note.stamp, clear, std::move(blocks));
        return true;
    };
}

Saved readSaved(bool locked = false);

// Blocks of this process that cannot go into the locked file now, or a clear of what came before.
// Stamped after what is there now: a clear drops every block saved before it, be it stamped by a
// clock ahead of this one.
void holdInNote(std::vector<Data> blocks, std::string const& lockError, bool clear = false) {
    if (blocks.empty() && !clear) return;
    std::string const count = std::to_string(blocks.size());
    Value::Array a;
    if (clear) a.push_back(Value(Value::Dict{{"clear", Value(true)}}));
    for (auto& b : blocks) a.push_back(Value(std::move(b)));
    std::string error;
    auto const id = notes().write(platform::KeyedArchive::encode(Value(std::move(a))), &error, readSaved().latest());
    if (!id) {
        TallyUtil::log(1, "TallySession: " + lockError + ", and its note cannot be written (" + error + "): " +
                              (clear ? "the saved sessions are not cleared" : count + " saved session(s) lost"));
        return;
    }
    TallyUtil::log(2, "TallySession: " + lockError + "; " + (clear ? "a clear and " : "") + count +
                          " session(s) kept in a note " + *id);
}

// The saved sessions as they are, with the notes beside them: under the lock folded in (removed
// once stored), otherwise only read.
Saved readSaved(bool locked) {
    TallyUtil::registerArchiveClasses();
    auto file = platform::readWholeFile(TallySession::sessionsFilePath(), platform::KeyedArchive::kMaxSize);
    Saved saved;
    if (file.status == platform::WholeFile::Missing) {
        saved.state = Saved::Missing;
    } else if (file.status == platform::WholeFile::Failed) {
        saved.state = Saved::Unreadable;
    } else {
        // One too large to be ours reads no better later: damaged, like one that does not decode.
        auto value = file.status == platform::WholeFile::Read ? platform::KeyedArchive::decode(file.bytes) : std::nullopt;
        saved.state = readInto(value, saved) ? Saved::Read : Saved::Damaged;
    }
    readInto(TallyUtil::safeUnarchiveObjectWithFile(heldFilePath()), saved);
    if (locked) {
        saved.fold = notes().fold(saved.folded, noteInto(saved));
        saved.folded = std::set<std::string>(saved.fold.record.begin(), saved.fold.record.end());
    } else {
        notes().read(saved.folded, noteInto(saved));
    }
    saved.settle();
    return saved;
}

// Another process on the same home saves and sends sessions too: each change holds the lock from
// its read to its write, so what it writes is what was there plus its own change. While another
// process holds it (busy) the change goes to a note instead; without any lock (a folder that
// cannot take the lock file) the change is made all the same, as before.
class SavedLock {
public:
    SavedLock() : lock_(lockPath()) {
        if (!lock_.held() && !lock_.busy())
            TallyUtil::log(1, "TallySession: " + lock_.error() + "; saved sessions changed unlocked");
    }
    bool busy() const { return lock_.busy(); }
    std::string const& error() const { return lock_.error(); }

private:
    static std::filesystem::path lockPath() {
        auto path = TallySession::sessionsFilePath();
        return path += ".lock";
    }
    platform::FileLock lock_;
};

// Replaces the saved list read as `saved.state`, and logs where it went; the notes folded in go
// once it is stored. A file that is there but cannot be read is never written over, nor a damaged
// one that cannot be kept aside first: the list waits beside it. False when it is neither.
bool storeSaved(Saved const& saved) {
    auto const path = TallySession::sessionsFilePath();
    std::string const count = std::to_string(saved.blocks.size());
    std::string error;
    std::string why;
    if (saved.state == Saved::Unreadable) {
        why = "cannot be read";
    } else if (saved.state == Saved::Damaged && !platform::keepFileAside(path, ".bad", &error)) {
        why = "is damaged and cannot be kept aside (" + error + "); it is left as it is";
    }
    if (!why.empty()) {
        if (!writeArchiveChecked(archiveOf(saved), heldFilePath(), &error)) {
            TallyUtil::log(1, "TallySession: Saved sessions at " + path.string() + " " + why + ", and " +
                                  heldFilePath().string() + " cannot be written (" + error + "): " + count +
                                  " saved session(s) lost");
            return false;
        }
        if (!saved.blocks.empty())
            TallyUtil::log(1, "TallySession: Saved sessions at " + path.string() + " " + why + "; " + count +
                                  " kept beside it until they can be stored there");
        notes().finish(saved.fold);
        return true;
    }
    if (!writeArchiveChecked(archiveOf(saved), path, &error)) {
        TallyUtil::log(1, "TallySession: Saved sessions cannot be written (" + error + "): " + path.string() +
                              " keeps what it had, the " + count + " to store are not stored");
        return false;
    }
    // Only once they are in the file: a stop in between sends some twice rather than none.
    std::error_code ec;
    std::filesystem::remove(heldFilePath(), ec);
    notes().finish(saved.fold);
    return true;
}

}  // namespace

// Archive.

void TallySession::encodeWith(platform::ArchiveEncoder& e) const {
    auto opt = [&](char const* key, auto const& v) {
        if (v) e.encode(key, Value(*v));
    };
    auto always = [&](char const* key, std::optional<std::string> const& v) { e.encode(key, v ? Value(*v) : Value()); };
    e.encode("serializationVersion", Value(kSerializationVersion));
    e.encode("startTime", Value(startTime()));
    opt("endTime", endTime_);
    opt("lastPartialUploadTime", lastPartialUploadTime());
    opt("pauseTime", pauseTime());
    e.encode("setBackgroundSessionEnabled", Value(backgroundSessionEnabled_));
    e.encode("appApplicationState", Value(appApplicationState_));
    e.encode("pauseIntervalMillis", Value(totalPauseIntervalMillis_));
    e.encode("hasSessionOriginName", Value(hasSessionOriginName_));
    always("sessionOriginName", sessionOriginName_);
    e.encode("hasDeepLinkName", Value(hasDeepLinkName_));
    always("deepLinkName", deepLinkName_);
    e.encode("sessionPropertyParams", Value(sessionPropertyParams_));
    e.encode("sessionParams", Value(sessionParams_));
    Value::Dict counts;
    for (auto const& [name, count] : eventCounts_) counts[name] = Value(count);
    e.encode("eventCounts", Value(std::move(counts)));
    auto events = [](std::vector<std::shared_ptr<TallyEvent>> const& log) {
        Value::Array a;
        for (auto const& ev : log) a.push_back(Value(ev));
        return Value(std::move(a));
    };
    e.encode("pendingEventLog", events(pendingEventLog_));
    e.encode("eventLog", events(eventLog_));
    e.encode("eventLogComplete", Value(eventLogComplete_));
    Value::Array errors;
    for (auto const& err : errors_) errors.push_back(Value(err));
    e.encode("errors", Value(std::move(errors)));
    e.encode("totalErrorCount", Value(totalErrorCount_));
    e.encode("latitude", Value(latitude_));
    e.encode("longitude", Value(longitude_));
    e.encode("accuracy", Value(accuracy_));
    e.encode("truncated", Value(truncated_));
    e.encode("crashed", Value(crashed_));
    opt("crashReportData", crashReportData_);
    e.encode("apiKey", Value(apiKey()));
    always("appVersion", appVersion_);
    always("userID", userID_);
    e.encode("pageViewCount", Value(pageViewCount_));
    e.encode("locale", Value(locale_));
    e.encode("timeZone", Value(timeZone_));
    opt("age", age_);
    e.encode("gender", Value(gender_));
    always("watchAppVersion", watchAppVersion_);
    e.encode("watchEventThreshold", Value(watchEventThreshold_));
    e.encode("watchDurationThreshold", Value(watchDurationThreshold_));
}

void TallySession::registerArchiveClass() {
    platform::KeyedArchive::registerClass(kClassName, [](platform::ArchiveDecoder const& d) -> std::shared_ptr<platform::Archivable> {
        int64_t const version = d.decodeInt("serializationVersion").value_or(0);
        if (version != kSerializationVersion && version >= 1) return nullptr;
        auto start = d.decodeDate("startTime");
        if (!start) return nullptr;
        auto toInt = [](std::optional<int64_t> v, int fallback) {
            return v && *v >= INT32_MIN && *v <= INT32_MAX ? static_cast<int>(*v) : fallback;
        };
        std::shared_ptr<TallySession> s(new TallySession(d.decodeString("apiKey").value_or(""),
                                                         optString(d, "appVersion"), *start));
        s->serializationVersion_ = static_cast<int>(version);
        s->endTime_ = d.decodeDate("endTime");
        s->pauseTime_ = d.decodeDate("pauseTime");
        s->lastPartialUploadTime_ = d.decodeDate("lastPartialUploadTime");
        if (auto const* p = d.decodeDict("sessionParams")) s->sessionParams_ = *p;
        if (auto const* p = d.decodeDict("sessionPropertyParams")) s->sessionPropertyParams_ = *p;
        s->totalPauseIntervalMillis_ = d.decodeInt("pauseIntervalMillis").value_or(0);
        s->backgroundSessionEnabled_ = d.decodeBool("setBackgroundSessionEnabled").value_or(false);
        s->appApplicationState_ = toInt(d.decodeInt("appApplicationState"), -1);
        s->hasSessionOriginName_ = d.decodeBool("hasSessionOriginName").value_or(false);
        s->sessionOriginName_ = optString(d, "sessionOriginName");
        s->hasDeepLinkName_ = d.decodeBool("hasDeepLinkName").value_or(false);
        s->deepLinkName_ = optString(d, "deepLinkName");
        if (auto const* counts = d.decodeDict("eventCounts")) {
            for (auto const& [name, count] : *counts)
                if (auto n = count.asInt()) s->eventCounts_[name] = toInt(n, 0);
        }
        auto events = [&](char const* key, std::vector<std::shared_ptr<TallyEvent>>& out) {
            if (auto const* a = d.decodeArray(key))
                for (auto const& v : *a)
                    if (auto ev = v.objectAs<TallyEvent>()) out.push_back(std::move(ev));
        };
        events("pendingEventLog", s->pendingEventLog_);
        events("eventLog", s->eventLog_);
        s->eventLogComplete_ = d.decodeBool("eventLogComplete").value_or(true);
        if (auto const* a = d.decodeArray("errors"))
            for (auto const& v : *a)
                if (auto err = v.objectAs<TallyError>()) s->errors_.push_back(std::move(err));
        // A stored session beyond the limits cannot have come from this agent.
        if (s->eventCounts_.size() > size_t(TallySessionInfo::maxEventCounts()) ||
            s->eventLog_.size() > size_t(TallySessionInfo::maxEventLogCount()) ||
            s->pendingEventLog_.size() > kMaxPendingEvents || s->errors_.size() > size_t(TallySessionInfo::maxErrors()) ||
            s->sessionPropertyParams_.size() > size_t(TallySessionInfo::maxSessionProperties())) {
            TallyUtil::log(2, "TallySession: Stored session over the limits, dropped");
            return nullptr;
        }
        s->totalErrorCount_ = toInt(d.decodeInt("totalErrorCount"), 0);
        s->latitude_ = d.decodeDouble("latitude").value_or(0);
        s->longitude_ = d.decodeDouble("longitude").value_or(0);
        s->accuracy_ = static_cast<float>(d.decodeDouble("accuracy").value_or(0));
        s->truncated_ = d.decodeBool("truncated").value_or(false);
        s->crashed_ = d.decodeBool("crashed").value_or(false);
        s->crashReportData_ = d.decodeData("crashReportData");
        s->userID_ = optString(d, "userID");
        s->pageViewCount_ = toInt(d.decodeInt("pageViewCount"), 0);
        s->locale_ = d.decodeString("locale").value_or("");
        s->timeZone_ = d.decodeString("timeZone").value_or("");
        s->gender_ = toInt(d.decodeInt("gender"), -1);
        s->age_ = d.decodeDate("age");
        s->watchAppVersion_ = optString(d, "watchAppVersion");
        s->watchEventThreshold_ = toInt(d.decodeInt("watchEventThreshold"), 0);
        s->watchDurationThreshold_ = toInt(d.decodeInt("watchDurationThreshold"), 0);
        s->publishCounts();
        return s;
    });
}

// Files.

std::filesystem::path TallySession::sessionsFilePath() { return dataFile(".tallyStored%d_%s.archive"); }
std::filesystem::path TallySession::currentSessionFilePath() { return dataFile(".tallyCurrent%d_%s.archive"); }
std::filesystem::path TallySession::currentWatchSessionFilePath() { return dataFile(".tallyCurrentWatch%d_%s.archive"); }
std::filesystem::path TallySession::currentWatchAutoIncrementFilePath() {
    return dataFile(".tallyCurrentWatchAutoIncrement%d_%s.archive");
}
std::filesystem::path TallySession::initialTimestampFilePath() { return dataFile(".initialTimestamp%d.archive", false); }
std::filesystem::path TallySession::oldInitialTimestampFilePathUptilAgentVersion109() {
    return TallyUtil::oldFilePathDirectoryUptilAgentVersion109() / initialTimestampFilePath().filename();
}

void TallySession::saveToDisk() {
    serializationVersion_ = kSerializationVersion;
    writeArchive(Value(shared_from_this()), currentSessionFilePath());
}

std::vector<Data> TallySession::savedSessions() { return readSaved().blocks; }

void TallySession::setSavedSessions(std::vector<Data> const& sessions) {
    SavedLock lock;
    if (lock.busy()) return holdInNote(sessions, lock.error(), true);
    Saved saved = readSaved(true);
    auto const stamp = notes().stampAfter(saved.latest());
    if (stamp)
        saved.apply(*stamp, true, sessions);
    else
        TallyUtil::log(1, "TallySession: the saved sessions are not cleared: their stamps leave no room for a later one");
    saved.settle();
    storeSaved(saved);
}

void TallySession::removeOldSessionsIfNecessary(std::vector<Data>& saved) {
    size_t const max = static_cast<size_t>(std::max(0, TallySessionInfo::maxSessions()));
    if (saved.size() <= max) return;
    TallyUtil::log(2, "TallySession: Max sessions allowed[" + std::to_string(max) + "] exceeded");
    TallyUtil::log(2, "TallySession: Removing [" + std::to_string(saved.size() - max) + "] sessions from saved sessions");
    saved.erase(saved.begin(), saved.begin() + static_cast<std::ptrdiff_t>(saved.size() - max));
}

void TallySession::addToSavedSessions(std::shared_ptr<TallySession> const& session) {
    try {
        TallyUtil::log(2, "TallySession: Add session with startTime[" + Value(session->startTime()).describe() +
                              "] to saved sessions");
        SavedLock lock;
        if (lock.busy()) {
            if (auto block = session->data()) holdInNote({std::move(*block)}, lock.error());
            return;
        }
        Saved saved = readSaved(true);
        // With no stamp left after the latest (one made by hand), kept beside it, as in keeping().
        if (auto block = session->data())
            saved.apply(notes().stampAfter(saved.latest()).value_or(saved.latest()), false, {std::move(*block)});
        saved.settle();
        storeSaved(saved);
    } catch (std::exception const& e) {
        TallyUtil::log(1, std::string("+[TallySession addToSavedSessions:]: exception ") + e.what());
    }
}

void TallySession::removeCurrentSessionFile() {
    std::error_code ec;
    std::filesystem::remove(currentSessionFilePath(), ec);
}

std::shared_ptr<TallySession> TallySession::unarchiveCurrentSession() {
    TallyUtil::registerArchiveClasses();
    auto v = TallyUtil::safeUnarchiveObjectWithFile(currentSessionFilePath());
    return v ? v->objectAs<TallySession>() : nullptr;
}

void TallySession::resetStoreForTesting() { setCurrentSession(nullptr); }

// Keychain values.

platform::Date TallySession::initialTimestamp() { return initialTimestampFor(apiKey(), startTime()); }

platform::Date TallySession::initialTimestampFor(std::string const& key, platform::Date start) {
    auto kc = keychain();
    std::optional<platform::Date> stored;
    std::optional<std::string> storedKey;
    if (kc) {
        if (auto v = kc->objectForKey(kTimestampKey)) stored = v->date();
        if (auto v = kc->objectForKey(kApiKeyKey); v && v->string()) storedKey = *v->string();
        if (!storedKey) {
            kc->setObject(Value(key), kApiKeyKey);
        } else if (*storedKey != key) {
            kc->setObject(Value(key), kApiKeyKey);
            stored.reset();
        }
    }
    if (stored && (!storedKey || *storedKey == key)) {
        TallyUtil::log(2, "TallySession: Initial timestamp[" + Value(*stored).describe() + "] from secure source");
        return *stored;
    }
    if (!storedKey || *storedKey == key) {
        auto path = initialTimestampFilePath();
        if (!TallyUtil::dataExistsAtPath(path)) {
            auto old = oldInitialTimestampFilePathUptilAgentVersion109();
            auto moved = TallyUtil::safeUnarchiveObjectWithFile(old);
            if (moved && moved->date()) {
                TallyUtil::log(2, "TallySession: Moving initial timestamp[" + moved->describe() + "] from saved source");
                writeArchive(*moved, path);
            }
            // Deleted only once its value is stored again, so a failed write loses nothing.
            if (!moved || !moved->date() || TallyUtil::dataExistsAtPath(path)) {
                std::error_code ec;
                std::filesystem::remove(old, ec);
            }
        }
        if (auto legacy = TallyUtil::safeUnarchiveObjectWithFile(path); legacy && legacy->date()) {
            if (kc) kc->setObject(*legacy, kTimestampKey);
            TallyUtil::log(2, "TallySession: Initial timestamp[" + legacy->describe() + "] from legacy source");
            return *legacy->date();
        }
    }
    platform::Date const made = start;
    if (kc) kc->setObject(Value(made), kTimestampKey);
    settings()->setAppInstallProcessDone(false);
    TallyUtil::log(2, "TallySession: Initial timestamp[" + Value(made).describe() + "] created and saved");
    return made;
}

void TallySession::migrateInstallIDFromDiskToKeychain() {
    auto guid = settings()->guidAsIDForSessionReports();
    if (!guid) return;
    if (guid->string()) {
        if (auto kc = keychain(); kc && kc->setThisDeviceString(*guid->string(), kInstallIdKey))
            settings()->setGuidAsIDForSessionReports(std::nullopt);
    } else {
        settings()->setGuidAsIDForSessionReports(std::nullopt);
    }
}

std::string TallySession::installationIDForSessionReport() {
    migrateInstallIDFromDiskToKeychain();
    auto kc = keychain();
    if (kc) {
        if (auto id = kc->stringForKey(kInstallIdKey); id && !id->empty()) return *id;
    }
    std::string id = TallyUtil::generateCFUUID();
    if (kc) kc->setThisDeviceString(id, kInstallIdKey);
    return id;
}

Data TallySession::installationIDAsBytes() {
    std::string hex;
    for (char c : installationIDForSessionReport())
        if (c != '-') hex += c;
    return TallyUtil::dataFromHexString(hex);
}

void TallySession::removeInstallationIDFromKeychain() {
    if (auto kc = keychain()) kc->removeObjectForKey(kInstallIdKey);
}

// Sending.

void TallySession::sendSessionsToServerIncludingCurrentSession(bool includeCurrent) {
    try {
        transferIDs();
        bool optedOut = false;
        std::shared_ptr<TallyPulseSettings> pulse;
        TallyGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentGlobalsMapSync(
            [&](Value::Dict const& map) {
                if (auto it = map.find("pulseSettings"); it != map.end()) pulse = it->second.objectAs<TallyPulseSettings>();
            });
        if (settings()->pulseMonitoringEnabled() && pulse) optedOut = !pulse->analyticsEnabled();
        if (!optedOut && TallyUtil::hasUserOptedOut() && !settings()->optOutSessionPending()) optedOut = true;
        if (optedOut) {
            TallyUtil::log(2, "TallySession: User is opted out, not sending session report");
            setSavedSessions({});
            return;
        }
        auto sender = TallyDataSender::instance();
        {
            std::lock_guard<std::recursive_mutex> lock(classLock());
            if (sender) sender->setDataSenderDelegate(weak_from_this());
        }
        TallyUtil::log(2, std::string("TallySession: Sending sessions to server, include current ") +
                              (includeCurrent ? "YES" : "NO"));
        // Held until the list is written back, so another process's sessions saved meanwhile stay.
        SavedLock lock;
        // Locked by another process: this session goes alone, the saved ones wait for a later send.
        Saved stored = lock.busy() ? Saved{} : readSaved(true);
        // A pile of notes folds a round at a time, each stored, until a pass begun here is through,
        // before a saved session goes out: a clear among them drops what it cleared.
        for (bool began = stored.fold.began; !lock.busy() && (stored.fold.more || !began) && storeSaved(stored);
             began = began || stored.fold.began)
            stored = readSaved(true);
        auto const store = [&](std::vector<Data> rest) {
            if (lock.busy())
                holdInNote(std::move(rest), lock.error());
            else
                storeSaved(stored.keeping(std::move(rest)));
        };
        std::vector<Data>& blocks = stored.blocks;
        if (includeCurrent)
            if (auto own = data()) blocks.push_back(std::move(*own));
        if (auto saved = settings()->savedResponseUrl()) {
            TallyHTTPResponse::readFromURL(*saved);
            return;
        }
        // Without a sender nothing can take the blocks: keep them for the next send.
        if (!sender) {
            TallyUtil::log(2, "TallySession: No data sender, sessions kept");
            store(std::move(blocks));
            if (includeCurrent) resetEventLogs();
            return;
        }
        settings()->setOptOutSessionPending(false);
        std::vector<Data> failed;
        for (size_t i = 0; i < blocks.size(); ++i) {
            // A saved one is named by what it is: a send stopped after the hand-over, before the
            // list is written back, hands the same block over again next time, and the sender
            // keeps one. The current session's report is new each time, even when its bytes are
            // those of the last one: it takes a name of its own.
            std::string identifier;
            if (i < stored.stamps.size()) {
                std::string name = stored.stamps[i];
                name.push_back('\0');
                name.append(blocks[i].begin(), blocks[i].end());
                identifier = platform::nameUuidString(name);
            }
            bool handed = false;
            try {
                handed = sender->sendSessionsData(blocks[i], identifier);
            } catch (...) {
                TallyUtil::handleException(std::current_exception());
            }
            if (!handed) failed.push_back(blocks[i]);  // kept, not lost with the list
        }
        TallyUtil::log(2, "TallySession: Scheduled send " + std::to_string(blocks.size() - failed.size()) +
                              " session(s).");
        store(std::move(failed));
        resetEventLogs();
    } catch (...) {
        TallyUtil::handleException(std::current_exception());
    }
}

void TallySession::sendSessionsToServerForCreateSession() {
    auto s = settings();
    TallyUtil::log(2, "Native Debug Log: ad_fetch = " + std::to_string(s->adsFetchCount()) +
                          ", ad_requests = " + std::to_string(s->adRequestsCount()) +
                          ", ads_returned = " + std::to_string(s->adsReturnedCount()) +
                          ", ad_ready = " + std::to_string(s->adsReadyCount()) +
                          ", Impression fired = " + std::to_string(s->adsImpressionFiredCount()));
    s->setAdsFetchCount(0);
    s->setAdRequestsCount(0);
    s->setAdsReturnedCount(0);
    s->setAdsReadyCount(0);
    s->setAdsImpressionFiredCount(0);
    sendSessionsToServerIncludingCurrentSession(true);
}

void TallySession::transferIDs() {
    Value::Dict ids;
    if (auto vendor = TallyUtil::getIdentifierForVendor()) ids["tally://id1"] = Value(*vendor);
    ids["tally://id2"] = Value(installationIDForSessionReport());
    auto connectivity = TallyWatchConnectivity::defaultConnectivty();
    if (ids.empty() || !connectivity) return;
    connectivity->setDelegate(weak_from_this());
    connectivity->setup();
    connectivity->transferUserInfo(ids);
}

bool TallySession::isTallyUserInfo(std::vector<std::string> const& keys) {
    for (auto const& k : keys)
        if (k == "tally://id1" || k == "tally://id2") return true;
    return false;
}

bool TallySession::tallyUserInfo(Value::Dict const& userInfo) {
    std::vector<std::string> keys;
    for (auto const& [k, v] : userInfo) keys.push_back(k);
    return isTallyUserInfo(keys);
}

void TallySession::disableWatchConnectivity() {
    if (auto c = TallyWatchConnectivity::defaultConnectivty()) c->disableWatchConnectivity();
}

void TallySession::disableTransferOfTallyInfo() {
    if (auto c = TallyWatchConnectivity::defaultConnectivty()) c->disableTransferTallyInfo();
}
