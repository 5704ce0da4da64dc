#include "analytics/delivery/TallyDataSenderIndex.h"

#include <algorithm>
#include <mutex>
#include <set>

#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyDeliveryAgent.h"

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

bool TallyDataSenderIndex::recoverUnreadFile() {
    if (!fileUnread_) return true;
    auto read = platform::KeyedArchive::readFromFile(filePath());
    if (read.status == platform::KeyedArchive::ReadResult::Unreadable) return false;
    fileUnread_ = false;
    auto old = read.status == platform::KeyedArchive::ReadResult::Read ? read.value.objectAs<TallyDataSenderIndex>() : nullptr;
    if (!old) return true;
    // The file's blocks are older than anything added since, so they go first.
    for (auto& [key, blocks] : old->indexMap_) {
        Blocks& mine = indexMap_[key];
        std::set<std::string> known;
        for (auto const& b : mine) known.insert(b->identifier());
        Blocks merged;
        for (auto& b : blocks)
            if (!known.count(b->identifier())) merged.push_back(b);
        merged.insert(merged.end(), mine.begin(), mine.end());
        mine = std::move(merged);
    }
    if (old->sentReportSuccessfully_) sentReportSuccessfully_ = true;
    return true;
}

void TallyDataSenderIndex::saveState() {
    std::filesystem::path const path = filePath();
    if (path.empty()) return;
    if (!recoverUnreadFile()) return;
    platform::KeyedArchive::writeToFile(platform::Value(std::shared_ptr<platform::Archivable>(shared_from_this())), path);
}

void TallyDataSenderIndex::addBlockInfo(std::shared_ptr<TallyDataSenderBlockInfo> block, std::string const& dataKey) {
    if (!block || dataKey.empty()) return;
    indexMapQueue_->async([self = shared_from_this(), block = std::move(block), dataKey] {
        self->indexMap_[dataKey].push_back(block);
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
        for (size_t i = 0; i < excess; ++i) it->second[i]->deletePersistentData();
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
        for (size_t i = kMaxBlocksPerKey; i < sorted.size(); ++i) sorted[i]->deletePersistentData();
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
            for (auto const& b : it->second) b->deletePersistentData();
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
