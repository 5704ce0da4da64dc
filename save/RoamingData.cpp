#include "save/RoamingData.h"

#include <zlib.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include <boost/archive/archive_exception.hpp>
#include <boost/serialization/export.hpp>
#include <boost/serialization/tracking.hpp>
#include <boost/serialization/vector.hpp>
#include <boost/serialization/version.hpp>

#include "os/services/TimeStrings.h"
#include "save/RoamingIArchive.h"
#include "save/RoamingOArchive.h"

BOOST_CLASS_VERSION(RoamingData, 6)
BOOST_CLASS_VERSION(RoamingData::LevelEntry, 2)
BOOST_CLASS_TRACKING(RoamingData, boost::serialization::track_never)
BOOST_CLASS_TRACKING(RoamingData::LevelEntry, boost::serialization::track_never)
BOOST_CLASS_EXPORT_KEY2(RoamingData, "RoamingData")
BOOST_CLASS_EXPORT_KEY2(RoamingData::LevelEntry, "RoamingData::LevelEntry")

namespace {
// The stamp of a record never committed; it parses to 0 like a damaged one, but is sound.
char const kEpoch[] = "1970-01-01T00:00:00";
}  // namespace

RoamingData::LevelEntry::LevelEntry(uint32_t levelId) : levelId_(levelId) {}

uint64_t& RoamingData::LevelEntry::best() {
    changed_ = 1;
    return best_;
}

uint8_t& RoamingData::LevelEntry::goalFlags() {
    changed_ = 1;
    return goalFlags_;
}

int RoamingData::LevelEntry::goalCount() const { return std::popcount(unsigned(goalFlags_ & 7u)); }

template <class Archive>
void RoamingData::LevelEntry::serialize(Archive& ar, unsigned int version) {
    // Entries of versions 0 and 1 carry nothing that is still read.
    if (version >= 2) {
        ar & goalFlags_;
        ar & levelId_;
        ar & best_;
    }
}

template <class Archive>
void RoamingData::serialize(Archive& ar, unsigned int version) {
    // Versions 0 to 3 stored nothing that is still read; a version above 6 is read like 6.
    if (version < 4) {
        return;
    }
    ar & timestamp_;
    if constexpr (Archive::is_loading::value) {
        stored_ = 1;
        newerVersion_ = version > 6 ? 1 : 0;
        // An unreadable stamp would order this copy wrongly against the other in every merge.
        char text[kTimestampSize + 1] = {};
        std::memcpy(text, timestamp_, kTimestampSize);
        if (parseTimeString(text) == 0 && std::strcmp(text, kEpoch) != 0) {
            badStamp_ = 1;
            std::memset(timestamp_, 0, sizeof timestamp_);
            std::memcpy(timestamp_, kEpoch, sizeof kEpoch);
        }
    }
    ar & levels_;
    uint32_t scheme = controlScheme_;  // stored widened
    ar & scheme;
    if constexpr (Archive::is_loading::value) {
        controlScheme_ = static_cast<uint8_t>(scheme);
    }
    ar & options_;
    if (version >= 5) {
        ar & hardcoreBestTime_;
    }
    if (version >= 6) {
        ar & noticeFlags_;
    }
}

RoamingData::RoamingData(bool changed) : changed_(changed ? 1 : 0) {}

RoamingData::LevelEntry& RoamingData::levelEntry(uint32_t level) {
    auto it = findLevelEntry(level);
    if (it != levels_.end() && it->levelId_ == level) {
        return *it;
    }
    changed_ = 1;
    levels_.emplace_back(level);
    std::sort(levels_.begin(), levels_.end(),
              [](LevelEntry const& x, LevelEntry const& y) { return x.levelId_ < y.levelId_; });
    return *findLevelEntry(level);
}

std::vector<RoamingData::LevelEntry>::iterator RoamingData::findLevelEntry(uint32_t level) {
    return std::lower_bound(levels_.begin(), levels_.end(), level,
                            [](LevelEntry const& e, uint32_t l) { return e.levelId_ < l; });
}

std::vector<RoamingData::LevelEntry>::const_iterator RoamingData::findLevelEntry(uint32_t level) const {
    return std::lower_bound(levels_.begin(), levels_.end(), level,
                            [](LevelEntry const& e, uint32_t l) { return e.levelId_ < l; });
}

bool RoamingData::hasLevelEntry(uint32_t level) const {
    auto it = findLevelEntry(level);
    return it != levels_.end() && it->levelId_ == level;
}

void RoamingData::setSubtitlesEnabled(bool enabled) {
    uint8_t const options = enabled ? (options_ | 1) : (options_ & ~1);
    if (options != options_) {
        options_ = options;
        changed_ = 1;
    }
}

void RoamingData::setCellularDownloadAllowed(bool allowed) {
    uint8_t const options = allowed ? (options_ | 2) : (options_ & ~2);
    if (options != options_) {
        options_ = options;
        changed_ = 1;
    }
}

void RoamingData::setControlScheme(uint8_t scheme) {
    controlScheme_ = scheme;
    changed_ = 1;
}

void RoamingData::setHardcoreBestTime(uint64_t time) {
    hardcoreBestTime_ = time;
    changed_ = 1;
}

void RoamingData::setNoticeFlags(uint32_t flags) {
    noticeFlags_ = flags;
    changed_ = 1;
}

std::string RoamingData::timestamp() const { return std::string(timestamp_, strnlen(timestamp_, kTimestampSize)); }

bool RoamingData::anyChanged() const {
    return changed_ != 0 ||
           std::any_of(levels_.begin(), levels_.end(), [](LevelEntry const& e) { return e.changed_ != 0; });
}

bool RoamingData::commit() {
    if (!anyChanged()) {
        return false;
    }
    std::string const now = utcNowString();
    std::memset(timestamp_, 0, sizeof timestamp_);
    std::memcpy(timestamp_, now.data(), std::min(now.size(), kTimestampSize - 1));
    changed_ = 0;
    stored_ = 1;
    for (LevelEntry& e : levels_) {
        e.changed_ = 0;
    }
    return true;
}

bool RoamingData::sameStoredContent(RoamingData const& other) const {
    auto sameEntry = [](LevelEntry const& x, LevelEntry const& y) {
        return x.goalFlags_ == y.goalFlags_ && x.levelId_ == y.levelId_ && x.best_ == y.best_;
    };
    return std::memcmp(timestamp_, other.timestamp_, kTimestampSize) == 0 &&
           std::equal(levels_.begin(), levels_.end(), other.levels_.begin(), other.levels_.end(), sameEntry) &&
           controlScheme_ == other.controlScheme_ && options_ == other.options_ &&
           hardcoreBestTime_ == other.hardcoreBestTime_ && noticeFlags_ == other.noticeFlags_;
}

namespace {

// The stamp may be damaged and unterminated: read at most its 20 bytes.
int64_t stampSeconds(char const (&stamp)[RoamingData::kTimestampSize]) {
    char text[RoamingData::kTimestampSize + 1] = {};
    std::memcpy(text, stamp, RoamingData::kTimestampSize);
    return parseTimeString(text);
}

}  // namespace

void RoamingData::mergeInto(RoamingData& newer, RoamingData& older) {
    for (LevelEntry const& e : older.levels_) {
        LevelEntry& t = newer.levelEntry(e.levelId_);
        if (e.goalFlags_ != t.goalFlags_) {
            t.goalFlags_ |= e.goalFlags_;
            t.changed_ = 1;
        }
        if (e.best_ != 0 && e.best_ != t.best_) {
            t.best_ = t.best_ == 0 ? e.best_
                                   : static_cast<uint64_t>(std::min(static_cast<int64_t>(t.best_),
                                                                    static_cast<int64_t>(e.best_)));
            t.changed_ = 1;
        }
    }
    if (older.hardcoreBestTime_ != 0 &&
        (newer.hardcoreBestTime_ == 0 || newer.hardcoreBestTime_ > older.hardcoreBestTime_)) {
        newer.hardcoreBestTime_ = older.hardcoreBestTime_;
        newer.changed_ = 1;
    }
    uint32_t const notices = newer.noticeFlags_ | older.noticeFlags_;
    if (notices != newer.noticeFlags_) {
        newer.noticeFlags_ = notices;
        newer.changed_ = 1;
    }
    bool const committed = newer.commit();
    uint8_t const olderFromNewerVersion = older.newerVersion_;
    older = newer;  // the older copy's own options are dropped: the newer copy's win
    older.newerVersion_ = olderFromNewerVersion;  // where its stored bytes came from stays
    older.forceSave_ = 1;
    if (committed) {
        newer.forceSave_ = 1;
    }
}

void RoamingData::merge(RoamingData& a, RoamingData& b) {
    a.commit();
    b.commit();
    int64_t const ta = stampSeconds(a.timestamp_);
    int64_t const tb = stampSeconds(b.timestamp_);
    if (ta == tb) {
        // A copy that holds nothing (a new cloud folder, a save never written) has no options
        // to give: the other copy's are kept, whatever its stamp says.
        if (a.stored_ != b.stored_) {
            a.stored_ ? mergeInto(a, b) : mergeInto(b, a);
            return;
        }
        // Two copies changed within the same second still differ: merge them by the same rules,
        // taking the cloud copy (b) as the newer so every device settles on the same options.
        if (!a.sameStoredContent(b)) {
            mergeInto(b, a);
        }
        return;
    }
    if (ta > tb) {
        mergeInto(a, b);
    } else {
        mergeInto(b, a);
    }
}

std::vector<uint8_t> RoamingData::save() const {
    std::stringbuf archiveBytes;
    {
        RoamingOArchive ar(archiveBytes);
        RoamingData const& self = *this;
        ar << self;
    }
    std::string const archive = archiveBytes.str();
    // A blob that load() would refuse must never replace a readable one.
    if (archive.size() > kMaxArchiveSize) {
        throw std::length_error("save record: archive of " + std::to_string(archive.size()) +
                                " bytes is over the limit");
    }
    uLong const length = static_cast<uLong>(archive.size());
    uLongf compressedLength = compressBound(length);
    std::vector<uint8_t> blob(compressedLength + 4);
    int status = compress2(blob.data() + 4, &compressedLength, reinterpret_cast<Bytef const*>(archive.data()),
                           length, 9);
    if (status != Z_OK) {
        throw std::runtime_error("save record: compression failed (" + std::to_string(status) + ")");
    }
    uint32_t const l = static_cast<uint32_t>(length);
    std::memcpy(blob.data(), &l, 4);
    blob.resize(4 + compressedLength);
    return blob;
}

bool RoamingData::load(uint8_t const* data, size_t size) {
    if (data == nullptr || size < 4) {
        return false;
    }
    uint32_t length = 0;
    std::memcpy(&length, data, 4);
    if (length > kMaxArchiveSize) {
        return false;
    }
    std::vector<uint8_t> archive(length);
    uLongf inflated = length;
    // The scratch byte keeps the pointer valid for an empty archive.
    uint8_t scratch = 0;
    int status = uncompress(length ? archive.data() : &scratch, &inflated, data + 4, static_cast<uLong>(size - 4));
    // A stream that does not inflate exactly to its declared length is damaged: reading its
    // garbage would spread it to both stored copies at the next merge.
    if (status != Z_OK || inflated != length) {
        return false;
    }
    badStamp_ = 0;
    newerVersion_ = 0;
    try {
        RoamingIArchive ar(archive.data(), archive.size());
        ar >> *this;
    } catch (std::exception const&) {
        return false;  // what was read before the damage stays
    }
    return badStamp_ == 0;
}
