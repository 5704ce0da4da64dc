// The stored blob, byte for byte, and how damaged or old blobs load.
#include <gtest/gtest.h>

#include <random>

#include "save/RoamingData.h"
#include "save/tests/RoamingDataTestAccess.h"

namespace {

struct Bytes {
    std::vector<uint8_t> v;
    Bytes& u8(uint8_t x) { v.push_back(x); return *this; }
    Bytes& u16(uint16_t x) { return raw(&x, 2); }
    Bytes& u32(uint32_t x) { return raw(&x, 4); }
    Bytes& u64(uint64_t x) { return raw(&x, 8); }
    Bytes& raw(void const* p, size_t n) {
        auto const* b = static_cast<uint8_t const*>(p);
        v.insert(v.end(), b, b + n);
        return *this;
    }
    Bytes& header(uint16_t library = 10) {
        u32(22).raw("serialization::archive", 22).u16(library);
        return u8(4).u8(4).u8(4).u8(8).u32(1);
    }
};

struct Entry {
    uint8_t goals;
    uint32_t level;
    uint64_t best;
};

// The archive as the format table lays it out.
std::vector<uint8_t> archive(uint32_t version, std::vector<Entry> const& entries,
                             char const* stamp = "1970-01-01T00:00:00", uint8_t scheme = 0, uint8_t options = 1,
                             uint64_t hardcore = 0, uint32_t notices = 0) {
    Bytes b;
    b.header().u8(0).u32(version).u32(20);
    char ts[20] = {};
    std::strncpy(ts, stamp, 19);
    b.raw(ts, 20).u8(0).u32(0).u32(static_cast<uint32_t>(entries.size())).u32(2);
    if (!entries.empty()) {
        b.u8(0).u32(2);
    }
    for (Entry const& e : entries) {
        b.u8(e.goals).u32(e.level).u64(e.best);
    }
    b.u32(scheme).u8(options);
    if (version >= 5) {
        b.u64(hardcore);
    }
    if (version >= 6) {
        b.u32(notices);
    }
    return b.v;
}

RoamingData loaded(std::vector<uint8_t> const& blob, bool* ok = nullptr) {
    RoamingData r(false);
    bool result = r.load(blob.data(), blob.size());
    if (ok) {
        *ok = result;
    }
    return r;
}

void expectDefaults(RoamingData const& r) {
    EXPECT_EQ(r.timestamp(), "1970-01-01T00:00:00");
    EXPECT_TRUE(r.levelEntries().empty());
    EXPECT_EQ(r.controlScheme(), 0);
    EXPECT_TRUE(r.subtitlesEnabled());
    EXPECT_FALSE(r.cellularDownloadAllowed());
    EXPECT_EQ(r.hardcoreBestTime(), 0u);
    EXPECT_EQ(r.noticeFlags(), 0u);
}

// The blob fails to load and nothing of it is kept.
void expectRefused(std::vector<uint8_t> const& blob, std::string const& what) {
    SCOPED_TRACE(what);
    bool ok = true;
    expectDefaults(loaded(blob, &ok));
    EXPECT_FALSE(ok);
}

}  // namespace

TEST(SaveFormat, DefaultRecordBytes) {
    std::vector<uint8_t> blob = RoamingData(false).save();
    ASSERT_GE(blob.size(), 6u);
    uint32_t length = 0;
    std::memcpy(&length, blob.data(), 4);
    EXPECT_EQ(length, 95u);
    EXPECT_EQ(blob[4], 0x78);  // zlib stream at level 9
    EXPECT_EQ(blob[5], 0xDA);
    std::vector<uint8_t> bytes = inflateBlob(blob);
    EXPECT_EQ(bytes, archive(6, {}));
}

TEST(SaveFormat, RecordWithEntriesBytesAndLoadBack) {
    RoamingData r(false);
    RoamingDataTestAccess::setEntry(r, 1, 0b101, 0x1122334455667788ull);
    RoamingDataTestAccess::setEntry(r, 0, 0b011, 9000);
    r.setControlScheme(1);
    r.setSubtitlesEnabled(false);
    r.setCellularDownloadAllowed(true);
    r.setHardcoreBestTime(50000);
    r.setNoticeFlags(0x80000001u);
    RoamingDataTestAccess::setTimestamp(r, "2016-03-01T12:34:56");
    std::vector<uint8_t> const blob = r.save();
    std::vector<uint8_t> bytes = inflateBlob(blob);
    EXPECT_EQ(bytes.size(), 95u + 5 + 26);
    EXPECT_EQ(bytes, archive(6, {{0b011, 0, 9000}, {0b101, 1, 0x1122334455667788ull}}, "2016-03-01T12:34:56", 1, 2,
                             50000, 0x80000001u));

    bool ok = false;
    RoamingData back = loaded(blob, &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(back.timestamp(), "2016-03-01T12:34:56");
    ASSERT_EQ(back.levelEntries().size(), 2u);
    RoamingData::LevelEntry const& one = back.levelEntries()[1];
    EXPECT_EQ(one.levelId(), 1u);
    EXPECT_EQ(one.goalFlags(), 0b101);
    EXPECT_EQ(one.best(), 0x1122334455667788ull);
    EXPECT_EQ(back.controlScheme(), 1);
    EXPECT_FALSE(back.subtitlesEnabled());
    EXPECT_TRUE(back.cellularDownloadAllowed());
    EXPECT_EQ(back.hardcoreBestTime(), 50000u);
    EXPECT_EQ(back.noticeFlags(), 0x80000001u);
    EXPECT_FALSE(back.commit());  // changed and forceSave are not stored
    EXPECT_FALSE(back.needsSave());
}

TEST(SaveFormat, OlderClassVersionsLoadWhatTheyHold) {
    std::vector<Entry> const entries = {{1, 2, 300}};
    bool ok = false;
    RoamingData v4 = loaded(wrapArchive(archive(4, entries, "2015-01-02T03:04:05", 1, 3)), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(v4.timestamp(), "2015-01-02T03:04:05");
    EXPECT_TRUE(v4.hasLevelEntry(2));
    EXPECT_EQ(v4.controlScheme(), 1);
    EXPECT_TRUE(v4.cellularDownloadAllowed());
    EXPECT_EQ(v4.hardcoreBestTime(), 0u);
    EXPECT_EQ(v4.noticeFlags(), 0u);

    RoamingData v5 = loaded(wrapArchive(archive(5, entries, "2015-01-02T03:04:05", 0, 1, 4444)));
    EXPECT_EQ(v5.hardcoreBestTime(), 4444u);
    EXPECT_EQ(v5.noticeFlags(), 0u);

    // A newer class version is read like the one written today.
    RoamingData v9 = loaded(wrapArchive(archive(9, entries, "2015-01-02T03:04:05", 0, 1, 1, 2)), &ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(v9.noticeFlags(), 2u);

    // Entries of class version 1 carry nothing: they stay at level 0.
    Bytes old;
    old.header().u8(0).u32(6).u32(20).raw("2015-01-02T03:04:05", 20).u8(0).u32(0).u32(2).u32(1).u8(0).u32(1);
    old.u32(1).u8(1).u64(0).u32(0);
    RoamingData v1entries = loaded(wrapArchive(old.v), &ok);
    EXPECT_TRUE(ok);
    ASSERT_EQ(v1entries.levelEntries().size(), 2u);
    EXPECT_EQ(v1entries.levelEntries()[1].levelId(), 0u);
    EXPECT_EQ(v1entries.controlScheme(), 1);
}

TEST(SaveFormat, DamagedBlobsLoadAsFarAsTheyReadAndReportIt) {
    expectRefused({1, 2, 3}, "three bytes");
    std::vector<uint8_t> huge = wrapArchive(archive(6, {}));
    uint32_t const tooLong = 0x100001;
    std::memcpy(huge.data(), &tooLong, 4);
    expectRefused(huge, "declared length over the limit");

    std::mt19937 rng(7);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> noise(1 + rng() % 300);
        for (auto& b : noise) {
            b = static_cast<uint8_t>(rng());
        }
        expectRefused(noise, "noise " + std::to_string(i));
    }

    // A stream that inflates short of its declared length is not read at all, not even its
    // timestamp: garbage must not reach a merge.
    std::vector<uint8_t> full = archive(6, {{1, 5, 10}}, "2020-01-01T00:00:00", 1);
    std::vector<uint8_t> blob = wrapArchive(full);
    uint32_t const longer = static_cast<uint32_t>(full.size() + 10);
    std::memcpy(blob.data(), &longer, 4);
    expectRefused(blob, "inflates short");
    blob = wrapArchive(full);
    blob.resize(blob.size() - 6);
    expectRefused(blob, "cut inside the stream");
    blob = wrapArchive(full);
    blob[blob.size() / 2] ^= 0x55;
    expectRefused(blob, "flipped byte fails the check sum");
}

TEST(SaveFormat, DamagedArchivesKeepWhatWasReadBeforeTheDamage) {
    std::vector<uint8_t> full =
        archive(6, {{1, 1, 100}, {2, 2, 200}, {4, 3, 300}}, "2020-05-06T07:08:09", 1, 3, 9, 9);
    // Cut inside the second entry.
    std::vector<uint8_t> cut(full.begin(), full.begin() + 83 + 13 + 6);
    bool ok = true;
    RoamingData r = loaded(wrapArchive(cut), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.timestamp(), "2020-05-06T07:08:09");
    ASSERT_EQ(r.levelEntries().size(), 1u);
    EXPECT_EQ(r.levelEntries()[0].levelId(), 1u);
    EXPECT_EQ(r.controlScheme(), 0);
    EXPECT_TRUE(r.subtitlesEnabled());

    // An entry count the remaining bytes cannot hold ends the load before any reservation.
    std::vector<uint8_t> counted = full;
    uint32_t const count = 0xFFFFFFF0u;
    std::memcpy(&counted[70], &count, 4);
    r = loaded(wrapArchive(counted), &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(r.timestamp(), "2020-05-06T07:08:09");
    EXPECT_TRUE(r.levelEntries().empty());
    EXPECT_EQ(r.controlScheme(), 0);

    // A timestamp of more than 20 characters is an error.
    std::vector<uint8_t> stamp = full;
    stamp[41] = 21;
    expectRefused(wrapArchive(stamp), "timestamp length");

    // Header checks: signature, library version, sizes; the size of long is not checked.
    std::vector<uint8_t> sig = full;
    sig[4] = 'S';
    expectRefused(wrapArchive(sig), "signature");
    std::vector<uint8_t> lib = full;
    lib[26] = 11;
    expectRefused(wrapArchive(lib), "library version");
    // Library versions 8 and 9 lay the record out as 10 does: older writers' blobs load whole.
    for (uint8_t older : {8, 9}) {
        lib[26] = older;
        RoamingData r9 = loaded(wrapArchive(lib), &ok);
        EXPECT_TRUE(ok) << int(older);
        EXPECT_EQ(r9.levelEntries().size(), 3u);
        EXPECT_EQ(r9.noticeFlags(), 9u);
    }
    std::vector<uint8_t> longSize = full;
    longSize[29] = 8;
    EXPECT_EQ(loaded(wrapArchive(longSize), &ok).levelEntries().size(), 3u);
    EXPECT_TRUE(ok);
    // A tracking byte other than 0 or 1 must not be read as an invalid bool (the sanitizer
    // build stops on that).
    for (size_t at : {36u, 65u, 78u}) {
        std::vector<uint8_t> tracking = full;
        tracking[at] = 0x7F;
        loaded(wrapArchive(tracking), &ok);
    }
}
