#include "analytics/delivery/TallyDataSenderIndex.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <set>

#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyDeliveryAgent.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/SdkLoop.h"

namespace {

// Block files are named by a canonical UUID.
bool isBlockFileName(std::string const& name) {
    if (name.size() != 36) return false;
    for (size_t i = 0; i < name.size(); ++i) {
        bool const dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? name[i] != '-' : !std::isxdigit(static_cast<unsigned char>(name[i]))) return false;
    }
    return true;
}

}  // namespace

TallyDataSenderIndex::TallyDataSenderIndex()
    : indexMapQueue_(std::make_shared<platform::WorkQueue>("com.Tally.indexMapQueue")) {}

void TallyDataSenderIndex::registerArchiveClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        TallyDataSenderBlockInfo::registerArchiveClass();
        platform::KeyedArchive::registerClass(kClassName, &TallyDataSenderIndex::initWithCoder);
    });
}

std::filesystem::path TallyDataSenderIndex::filePath() const {
    if (fileName_.empty()) return {};
    return tally_delivery::filesFolder() / fileName_;
}

std::shared_ptr<platform::Archivable> TallyDataSenderIndex::initWithCoder(platform::ArchiveDecoder const& decoder) {
    auto index = std::make_shared<TallyDataSenderIndex>();
    index->sentReportSuccessfully_ = decoder.decodeBool("TallySentReportSuccessfulKey").value_or(false);
    if (auto const* map = decoder.decodeDict("index")) {
        for (auto const& [key, list] : *map) {
            Blocks blocks;
            if (auto const* array = list.array())
                for (auto const& item : *array)
                    if (auto block = item.objectAs<TallyDataSenderBlockInfo>()) blocks.push_back(std::move(block));
            index->indexMap_[key] = std::move(blocks);
        }
    }
    if (auto const* folded = decoder.decodeArray("foldedNotes"))
        for (auto const& id : *folded)
            if (id.string()) index->folded_.insert(*id.string());
    return index;
}

void TallyDataSenderIndex::encodeWith(platform::ArchiveEncoder& encoder) const {
    platform::Value::Dict map;
    for (auto const& [key, blocks] : indexMap_) {
        platform::Value::Array list;
        for (auto const& block : blocks) list.emplace_back(std::shared_ptr<platform::Archivable>(block));
        map[key] = std::move(list);
    }
    encoder.encode("index", std::move(map));
    encoder.encode("TallySentReportSuccessfulKey", sentReportSuccessfully_.load());
    if (!folded_.empty()) {
        platform::Value::Array folded;
        for (auto const& id : folded_) folded.emplace_back(id);
        encoder.encode("foldedNotes", std::move(folded));
    }
}

std::shared_ptr<TallyDataSenderIndex> TallyDataSenderIndex::instantiatedIndexWithIndexFile(std::string const& fileName) {
    registerArchiveClasses();
    std::filesystem::path const path = tally_delivery::filesFolder() / fileName;
    // Safe unarchiving deletes only a file read whole that does not decode.
    auto value = TallyUtil::safeUnarchiveObjectWithFile(path);
    std::shared_ptr<TallyDataSenderIndex> index = value ? value->objectAs<TallyDataSenderIndex>() : nullptr;
    if (value && !index) {
        // A whole archive of something else: it will never be an index.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
    }
    if (!index) index = std::make_shared<TallyDataSenderIndex>();
    index->fileName_ = fileName;
    std::error_code error;
    index->fileUnread_ = !value && std::filesystem::exists(path, error);
    if (index->fileUnread_)
        tally_delivery::log(1, "TallyDataSenderIndex: cannot read " + path.string() + "; it is kept and read again later");
    return index;
}

void TallyDataSenderIndex::noteRemoved(std::shared_ptr<TallyDataSenderBlockInfo> const& block) {
    removed_.insert(block->identifier());
    std::erase_if(added_, [&](auto const& a) { return a.second == block; });
}

// The file's list is the truth, less what this index removed since and with what it added since;
// blocks this index knows keep their objects, which carry the groups of running requests.
void TallyDataSenderIndex::mergeWith(TallyDataSenderIndex const& onDisk) {
    std::map<std::string, std::shared_ptr<TallyDataSenderBlockInfo>> known;
    for (auto const& [key, blocks] : indexMap_)
        for (auto const& b : blocks) known.emplace(b->identifier(), b);
    IndexMap merged;
    std::set<std::string> listed;
    for (auto const& [key, blocks] : onDisk.indexMap_) {
        if (removedKeys_.count(key)) continue;
        Blocks& out = merged[key];
        for (auto const& b : blocks) {
            if (removed_.count(b->identifier()) || !listed.insert(b->identifier()).second) continue;
            auto const it = known.find(b->identifier());
            out.push_back(it != known.end() ? it->second : b);
        }
    }
    // Added here since the last write; the file's blocks are older, so they go first.
    for (auto const& [key, block] : added_)
        if (!removed_.count(block->identifier()) && listed.insert(block->identifier()).second)
            merged[key].push_back(block);
    for (auto const& [key, blocks] : indexMap_)
        if (!removedKeys_.count(key)) merged.try_emplace(key);
    indexMap_ = std::move(merged);
    if (onDisk.sentReportSuccessfully_) sentReportSuccessfully_ = true;
}

// ".<index file>.<id>.added": hidden, as the agent's other files of its own. An earlier version
// named its one note by its write tag.
std::unique_ptr<platform::NoteSet> TallyDataSenderIndex::notesOf(std::string const& indexFileName) {
    auto const olderForm = [](std::string_view middle) {
        return middle.size() == 16 && middle.find_first_not_of("0123456789abcdef") == std::string_view::npos;
    };
    return std::make_unique<platform::NoteSet>(tally_delivery::filesFolder(), "." + indexFileName + ".", ".added",
                                               platform::KeyedArchive::kMaxSize, olderForm);
}

platform::NoteSet::Apply TallyDataSenderIndex::eachNoted(
    std::function<void(std::string const&, std::shared_ptr<TallyDataSenderBlockInfo> const&)> f) {
    return [f = std::move(f)](platform::NoteSet::Note const& note) {
        auto const value = platform::KeyedArchive::decode(note.bytes);
        auto const noted = value ? value->objectAs<TallyDataSenderIndex>() : nullptr;
        if (!noted) return false;
        for (auto const& [key, blocks] : noted->indexMap_)
            for (auto const& b : blocks) f(key, b);
        return true;
    };
}

// This process's additions that are in no note yet, for whoever holds the lock next: a new note,
// never rewritten, so a folder removes no more than it read.
void TallyDataSenderIndex::writeNote() {
    auto note = std::make_shared<TallyDataSenderIndex>();
    for (auto const& [key, block] : added_)
        if (!removed_.count(block->identifier()) && !noted_.count(block->identifier())) note->indexMap_[key].push_back(block);
    if (note->indexMap_.empty()) return;
    if (!notes_) notes_ = notesOf(fileName_);
    std::string error;
    if (!notes_->write(platform::KeyedArchive::encode(platform::Value(std::shared_ptr<platform::Archivable>(note))), &error)) {
        tally_delivery::log(1, "TallyDataSenderIndex: cannot write a note beside " + filePath().string() + ": " + error);
        return;
    }
    for (auto const& [key, blocks] : note->indexMap_)
        for (auto const& b : blocks) noted_.insert(b->identifier());
}

void TallyDataSenderIndex::scheduleRetry() {
    if (retryScheduled_) return;
    retryScheduled_ = true;
    platform::SdkLoop::shared().after(kRetryMs, [weak = weak_from_this()] {
        if (auto self = weak.lock())
            self->indexMapQueue_->async([self] {
                self->retryScheduled_ = false;
                if (self->unsaved_) self->saveState();
            });
    });
}

bool TallyDataSenderIndex::saveMerged(std::function<void()> const& extra) {
    std::filesystem::path const path = filePath();
    if (path.empty()) return false;
    // Hidden, as the agent's other files of its own: only blocks are named plainly.
    platform::FileLock lock(path.parent_path() / ("." + fileName_ + ".lock"));
    if (lock.busy()) {
        if (!unsaved_) tally_delivery::log(2, "TallyDataSenderIndex: " + lock.error() + "; written later");
        unsaved_ = true;
        writeNote();
        scheduleRetry();
        return false;
    }
    if (!lock.held()) tally_delivery::log(1, "TallyDataSenderIndex: " + lock.error() + "; written unlocked");
    auto read = platform::KeyedArchive::readFromFile(path);
    if (read.status == platform::KeyedArchive::ReadResult::Unreadable) {
        if (!fileUnread_) tally_delivery::log(1, "TallyDataSenderIndex: cannot read " + path.string() + "; it is kept and read again later");
        fileUnread_ = true;
        return false;
    }
    fileUnread_ = false;
    // A file that is gone or is no index lists nothing: this index's own list is written then.
    auto const onDisk = read.status == platform::KeyedArchive::ReadResult::Read
                            ? read.value.objectAs<TallyDataSenderIndex>()
                            : nullptr;
    // What writers that found the lock held noted meanwhile goes after the file's list, before
    // this index's additions: listed once, unless removed here since or already sent (its file
    // gone). Also unlocked (no lock file can be had): a block is listed by its identifier, so a
    // note another writer folds too lists nothing twice.
    std::set<std::string> listed;
    for (auto const& [key, blocks] : onDisk ? onDisk->indexMap_ : indexMap_)
        for (auto const& b : blocks) listed.insert(b->identifier());
    if (!notes_) notes_ = notesOf(fileName_);
    IndexMap& into = onDisk ? onDisk->indexMap_ : indexMap_;
    platform::NoteSet::Fold const fold =
        notes_->fold(onDisk ? onDisk->folded_ : std::set<std::string>(), eachNoted([&](auto const& key, auto const& b) {
            std::error_code ec;
            if (removedKeys_.count(key) || removed_.count(b->identifier()) || !listed.insert(b->identifier()).second ||
                !std::filesystem::exists(tally_delivery::filesFolder() / b->identifier(), ec))
                return;
            into[key].push_back(b);
        }));
    if (onDisk) mergeWith(*onDisk);
    folded_ = std::set<std::string>(fold.record.begin(), fold.record.end());
    if (extra) extra();
    std::string error;
    if (!platform::KeyedArchive::writeToFile(platform::Value(std::shared_ptr<platform::Archivable>(shared_from_this())),
                                             path, &error)) {
        tally_delivery::log(1, "TallyDataSenderIndex: cannot write " + path.string() + ": " + error);
        return false;
    }
    added_.clear();
    removed_.clear();
    removedKeys_.clear();
    noted_.clear();
    notes_->finish(fold);
    unsaved_ = false;
    // A pile of notes folds a round a write; the queue's other jobs go between rounds.
    if (fold.more)
        indexMapQueue_->async([weak = weak_from_this()] {
            if (auto self = weak.lock()) self->saveState();
        });
    return true;
}

void TallyDataSenderIndex::saveState() { saveMerged(); }

size_t TallyDataSenderIndex::adoptUnlistedBlocks(std::string const& dataKey, std::vector<std::string> const& otherIndexFiles,
                                                 int64_t minAgeSeconds) {
    if (dataKey.empty() || filePath().empty()) return 0;
    size_t adopted = 0;
    indexMapQueue_->sync([&] {
        saveMerged([&] {
            std::set<std::string> listed;
            for (auto const& [key, blocks] : indexMap_)
                for (auto const& b : blocks) listed.insert(b->identifier());
            // Blocks of the other senders share the folder: while one of their lists cannot be
            // read, no file can be told to be nobody's.
            for (auto const& name : otherIndexFiles) {
                auto other = platform::KeyedArchive::readFromFile(tally_delivery::filesFolder() / name);
                if (other.status == platform::KeyedArchive::ReadResult::Missing) continue;
                auto const index = other.status == platform::KeyedArchive::ReadResult::Read
                                       ? other.value.objectAs<TallyDataSenderIndex>()
                                       : nullptr;
                if (!index) return;
                for (auto const& [key, blocks] : index->indexMap_)
                    for (auto const& b : blocks) listed.insert(b->identifier());
                notesOf(name)->read({}, eachNoted([&](auto const&, auto const& b) { listed.insert(b->identifier()); }));
            }
            // A live process lists a block a moment after writing its file (the hand-over waits
            // for the listing), so only a file older than that can be nobody's. One taken all the
            // same is still listed once, by its identifier, and at worst sent twice, never lost.
            // A file dated further ahead than that (the clock set back since) is no write under way.
            time_t const now = ::time(nullptr);
            Blocks found;
            std::error_code ec;
            for (auto it = std::filesystem::directory_iterator(tally_delivery::filesFolder(), ec);
                 !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
                std::string const name = it->path().filename().string();
                struct stat st {};
                if (!isBlockFileName(name) || listed.count(name) || ::lstat(it->path().c_str(), &st) != 0 ||
                    !S_ISREG(st.st_mode) || std::llabs(int64_t(now) - int64_t(st.st_mtime)) < minAgeSeconds)
                    continue;
                found.push_back(TallyDataSenderBlockInfo::forStoredFile(name, uint64_t(st.st_size),
                                                                        platform::Date{double(st.st_mtime)}));
            }
            std::stable_sort(found.begin(), found.end(),
                             [](auto const& a, auto const& b) { return a->creationDate() < b->creationDate(); });
            for (auto& b : found) {
                added_.emplace_back(dataKey, b);
                indexMap_[dataKey].push_back(std::move(b));
            }
            adopted = found.size();
        });
    });
    if (adopted) tally_delivery::log(1, "TallyDataSenderIndex: " + std::to_string(adopted) + " block file(s) no list named taken back");
    return adopted;
}

void TallyDataSenderIndex::addBlockInfo(std::shared_ptr<TallyDataSenderBlockInfo> block, std::string const& dataKey) {
    if (!block || dataKey.empty()) return;
    indexMapQueue_->async([self = shared_from_this(), block = std::move(block), dataKey] {
        self->indexMap_[dataKey].push_back(block);
        self->added_.emplace_back(dataKey, block);
        self->saveState();
    });
}

void TallyDataSenderIndex::removeBlockInfoWithIdentifier(std::string const& identifier, std::string const& dataKey) {
    if (identifier.empty() || dataKey.empty()) return;
    indexMapQueue_->async([self = shared_from_this(), identifier, dataKey] {
        auto it = self->indexMap_.find(dataKey);
        if (it != self->indexMap_.end()) {
            std::erase_if(it->second, [&](std::shared_ptr<TallyDataSenderBlockInfo> const& b) {
                if (b->identifier() != identifier && b->groupIdentifier() != identifier) return false;
                b->deletePersistentData();
                self->noteRemoved(b);
                return true;
            });
        }
        self->saveState();
    });
}

TallyDataSenderIndex::Blocks TallyDataSenderIndex::notSentBlocksForDataKey(std::string const& dataKey) {
    Blocks copy;
    if (dataKey.empty()) return copy;
    indexMapQueue_->sync([&] {
        auto it = indexMap_.find(dataKey);
        if (it != indexMap_.end()) copy = it->second;
    });
    return copy;
}

bool TallyDataSenderIndex::discardOutdatedBlocksForDataKey(std::string const& dataKey) {
    if (dataKey.empty()) return false;
    bool removed = false;
    indexMapQueue_->sync([&] {
        auto it = indexMap_.find(dataKey);
        if (it == indexMap_.end() || it->second.size() <= kMaxBlocksPerKey) return;
        size_t const excess = it->second.size() - kMaxBlocksPerKey;
        for (size_t i = 0; i < excess; ++i) {
            it->second[i]->deletePersistentData();
            noteRemoved(it->second[i]);
        }
        it->second.erase(it->second.begin(), it->second.begin() + ptrdiff_t(excess));
        saveState();
        removed = true;
    });
    return removed;
}

bool TallyDataSenderIndex::discardOldBlocksForDataKey(std::string const& dataKey) {
    bool removed = false;
    indexMapQueue_->sync([&] {
        auto it = indexMap_.find(dataKey);
        if (it == indexMap_.end() || it->second.size() < kMaxBlocksPerKey + 1) return;
        Blocks sorted = it->second;
        std::stable_sort(sorted.begin(), sorted.end(), [](auto const& a, auto const& b) {
            return int64_t(a->creationDate().secondsSince1970) > int64_t(b->creationDate().secondsSince1970);
        });
        for (size_t i = kMaxBlocksPerKey; i < sorted.size(); ++i) {
            sorted[i]->deletePersistentData();
            noteRemoved(sorted[i]);
        }
        sorted.resize(kMaxBlocksPerKey);
        it->second = std::move(sorted);
        removed = true;
    });
    return removed;
}

void TallyDataSenderIndex::setupForCurrentDataKey(std::string const& dataKey) {
    if (dataKey.empty()) return;
    bool removedKey = false;
    indexMapQueue_->sync([&] {
        for (auto it = indexMap_.begin(); it != indexMap_.end();) {
            if (it->first == dataKey) {
                ++it;
                continue;
            }
            for (auto const& b : it->second) {
                b->deletePersistentData();
                noteRemoved(b);
            }
            removedKeys_.insert(it->first);
            it = indexMap_.erase(it);
            removedKey = true;
        }
    });
    if (removedKey && !discardOutdatedBlocksForDataKey(dataKey)) indexMapQueue_->sync([&] { saveState(); });
}

TallyDataSenderIndex::IndexMap TallyDataSenderIndex::indexMap() {
    IndexMap copy;
    indexMapQueue_->sync([&] { copy = indexMap_; });
    return copy;
}
