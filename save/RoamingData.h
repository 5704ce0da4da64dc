#pragma once
// The player's whole persistent state: unlocked levels with their goals and best results, the
// best hardcore run, the control scheme, the option switches and the one-time notices shown.
// One copy lives in the local save file and one in the cloud store; both are reconciled by
// merge(). A record belongs to one accessor at a time and has no locking of its own.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace boost::serialization {
class access;
}

class RoamingData {
public:
    // One unlocked level: an entry exists exactly when the level is unlocked.
    class LevelEntry {
    public:
        explicit LevelEntry(uint32_t levelId);

        // The mutable accessors mark the entry changed whether or not the caller then writes.
        uint64_t& best();
        uint64_t best() const { return best_; }
        uint32_t levelId() const { return levelId_; }
        uint8_t& goalFlags();
        uint8_t goalFlags() const { return goalFlags_; }
        // Bits 0 to 2 of goalFlags (the coin, no-death and time goals) that are set: 0..3.
        int goalCount() const;

    private:
        friend class RoamingData;
        friend class boost::serialization::access;
        friend struct RoamingDataTestAccess;
        LevelEntry() = default;
        template <class Archive>
        void serialize(Archive& ar, unsigned int version);

        uint8_t changed_ = 0;
        uint8_t goalFlags_ = 0;
        uint32_t levelId_ = 0;
        uint64_t best_ = 0;
    };

    static constexpr size_t kTimestampSize = 20;
    // Archives longer than this are refused on loading.
    static constexpr uint32_t kMaxArchiveSize = 0x100000;

    explicit RoamingData(bool changed);

    // Get or insert; the reference is valid until the next insertion.
    LevelEntry& levelEntry(uint32_t level);
    // The first entry whose level is not below level; compare its levelId() before use.
    std::vector<LevelEntry>::iterator findLevelEntry(uint32_t level);
    std::vector<LevelEntry>::const_iterator findLevelEntry(uint32_t level) const;
    bool hasLevelEntry(uint32_t level) const;
    std::vector<LevelEntry>& levelEntries() { return levels_; }
    std::vector<LevelEntry> const& levelEntries() const { return levels_; }

    bool subtitlesEnabled() const { return (options_ & 1) != 0; }
    void setSubtitlesEnabled(bool enabled);
    bool cellularDownloadAllowed() const { return (options_ & 2) != 0; }
    void setCellularDownloadAllowed(bool allowed);
    uint8_t controlScheme() const { return controlScheme_; }
    void setControlScheme(uint8_t scheme);
    uint64_t hardcoreBestTime() const { return hardcoreBestTime_; }
    void setHardcoreBestTime(uint64_t time);
    uint32_t noticeFlags() const { return noticeFlags_; }
    void setNoticeFlags(uint32_t flags);

    // The UTC time of the last commit, "yyyy-MM-ddTHH:mm:ss".
    std::string timestamp() const;

    // When the record or an entry changed: re-stamps it, clears the changed marks, returns true.
    bool commit();
    // Set by merge: the stored copy must be rewritten even when commit finds nothing new.
    bool needsSave() const { return forceSave_ != 0; }
    // The last load read a record of a class version above today's: rewriting it drops what this
    // version cannot read, so its bytes must be kept first.
    bool fromNewerVersion() const { return newerVersion_ != 0; }

    // Reconciles two copies; both end equal. Goals are OR-ed, best results and the hardcore run
    // keep the lower non-zero value, notices are OR-ed; the newer copy's options win. With equal
    // stamps a copy that holds stored values (loaded or committed) is newer than one that holds
    // none, else the second copy (the cloud's) is.
    static void merge(RoamingData& a, RoamingData& b);

    // The stored blob: u32 archive length, then the zlib-compressed archive. Throws when the
    // record cannot be encoded (memory, or an archive over kMaxArchiveSize that could not be
    // loaded back).
    std::vector<uint8_t> save() const;
    // Fills the record from a blob, as far as it reads; the fields not read keep their values.
    // Returns false when the blob was damaged (not inflatable to its declared length, a bad
    // header, a short or inconsistent archive, a time stamp that does not parse, which then
    // reads as 1970), so a caller can keep the damaged bytes aside.
    bool load(uint8_t const* data, size_t size);

private:
    friend class boost::serialization::access;
    friend struct RoamingDataTestAccess;
    template <class Archive>
    void serialize(Archive& ar, unsigned int version);
    bool anyChanged() const;
    bool sameStoredContent(RoamingData const& other) const;
    static void mergeInto(RoamingData& newer, RoamingData& older);

    uint8_t changed_;
    uint8_t forceSave_ = 0;
    uint8_t stored_ = 0;        // holds values read from a blob or committed
    uint8_t newerVersion_ = 0;  // read from a newer class version
    uint8_t badStamp_ = 0;      // the last load's stamp did not parse
    char timestamp_[kTimestampSize] = "1970-01-01T00:00:00";
    std::vector<LevelEntry> levels_;
    uint8_t controlScheme_ = 0;
    uint8_t options_ = 1;
    uint64_t hardcoreBestTime_ = 0;
    uint32_t noticeFlags_ = 0;
};
