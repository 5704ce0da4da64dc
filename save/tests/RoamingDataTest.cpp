// The record's change tracking and the merge of two copies.
#include <gtest/gtest.h>

#include "os/services/TimeStrings.h"
#include "save/RoamingData.h"
#include "save/tests/RoamingDataTestAccess.h"

using Access = RoamingDataTestAccess;

namespace {

// A committed copy with the given stamp and nothing pending.
RoamingData copyAt(char const* stamp) {
    RoamingData r(false);
    Access::setTimestamp(r, stamp);
    return r;
}

// A copy whose changes were committed at `stamp`.
template <class Change>
RoamingData committedAt(char const* stamp, Change change) {
    RoamingData r = copyAt(stamp);
    change(r);
    r.commit();
    Access::setTimestamp(r, stamp);
    return r;
}

RoamingData::LevelEntry const& entry(RoamingData const& r, uint32_t level) {
    auto it = r.findLevelEntry(level);
    EXPECT_TRUE(it != r.levelEntries().end() && it->levelId() == level);
    return *it;
}

char const kOld[] = "2016-01-01T00:00:00";
char const kNew[] = "2016-06-01T00:00:00";

}  // namespace

TEST(SaveRecord, ChangeTrackingAndSortedEntries) {
    RoamingData r(false);
    EXPECT_FALSE(r.commit());
    EXPECT_EQ(r.timestamp(), "1970-01-01T00:00:00");
    // An option set to its current value is no change; the control scheme always is.
    r.setSubtitlesEnabled(true);
    r.setCellularDownloadAllowed(false);
    EXPECT_FALSE(r.commit());
    r.setControlScheme(0);
    EXPECT_TRUE(r.commit());
    EXPECT_NE(parseTimeString(r.timestamp().c_str()), 0);

    // A new entry marks the record, not the entry; reading a mutable accessor marks the entry.
    EXPECT_FALSE(Access::entryChanged(r.levelEntry(5)));
    EXPECT_TRUE(r.commit());
    EXPECT_FALSE(r.commit());
    EXPECT_EQ(r.levelEntry(5).best(), 0u);
    EXPECT_TRUE(r.commit());

    r.levelEntry(5).goalFlags() = 0b1011;  // bit 3 is no goal
    r.levelEntry(2);
    r.levelEntry(9);
    ASSERT_EQ(r.levelEntries().size(), 3u);
    EXPECT_EQ(r.levelEntries()[0].levelId(), 2u);
    EXPECT_EQ(r.levelEntries()[2].levelId(), 9u);
    EXPECT_EQ(entry(r, 5).goalCount(), 2);
    EXPECT_FALSE(r.hasLevelEntry(3));
    EXPECT_EQ(r.findLevelEntry(3)->levelId(), 5u);
}

TEST(SaveRecord, MergeTakesTheUnionOfEntriesAndTheBestResults) {
    // Older entry missing in the newer copy: copied, newer re-stamped, both saved.
    RoamingData older = committedAt(kOld, [](RoamingData& r) { Access::setEntry(r, 3, 0b001, 9000); });
    RoamingData newer = copyAt(kNew);
    RoamingData::merge(older, newer);
    EXPECT_EQ(entry(newer, 3).goalFlags(), 0b001);
    EXPECT_EQ(entry(newer, 3).best(), 9000u);
    EXPECT_GT(parseTimeString(newer.timestamp().c_str()), parseTimeString(kNew));
    EXPECT_TRUE(newer.needsSave());
    EXPECT_TRUE(older.needsSave());
    EXPECT_EQ(older.timestamp(), newer.timestamp());
    EXPECT_EQ(entry(older, 3).best(), 9000u);

    struct Case {
        uint64_t olderBest, newerBest, expected;
    };
    for (Case c : {Case{8000, 9000, 8000}, Case{0, 9000, 9000}, Case{8000, 0, 8000}, Case{5, 5, 5}}) {
        RoamingData o = committedAt(kOld, [&](RoamingData& r) { Access::setEntry(r, 1, 0b010, c.olderBest); });
        RoamingData n = committedAt(kNew, [&](RoamingData& r) { Access::setEntry(r, 1, 0b100, c.newerBest); });
        RoamingData::merge(n, o);  // argument order does not decide which copy is newer
        EXPECT_EQ(entry(n, 1).best(), c.expected) << c.olderBest << " " << c.newerBest;
        EXPECT_EQ(entry(o, 1).best(), c.expected);
        EXPECT_EQ(entry(o, 1).goalFlags(), 0b110);
    }
}

TEST(SaveRecord, MergeOfHardcoreNoticesAndOptions) {
    struct Case {
        uint64_t older, newer, expected;
    };
    for (Case c : {Case{50000, 0, 50000}, Case{0, 40000, 40000}, Case{30000, 40000, 30000}, Case{50000, 40000, 40000}}) {
        RoamingData o = committedAt(kOld, [&](RoamingData& r) { r.setHardcoreBestTime(c.older); });
        RoamingData n = committedAt(kNew, [&](RoamingData& r) { r.setHardcoreBestTime(c.newer); });
        RoamingData::merge(o, n);
        EXPECT_EQ(o.hardcoreBestTime(), c.expected);
        EXPECT_EQ(n.hardcoreBestTime(), c.expected);
    }

    RoamingData o = committedAt(kOld, [](RoamingData& r) { r.setNoticeFlags(1); });
    RoamingData n = copyAt(kNew);
    RoamingData::merge(o, n);
    EXPECT_EQ(n.noticeFlags(), 1u);
    EXPECT_EQ(o.noticeFlags(), 1u);
    EXPECT_TRUE(n.needsSave());
    EXPECT_NE(n.timestamp(), kNew);

    // Only the older copy differs in its control scheme: the newer copy's wins, and only the
    // older copy needs saving.
    RoamingData o2 = committedAt(kOld, [](RoamingData& r) {
        r.setControlScheme(1);
        r.setSubtitlesEnabled(false);
    });
    RoamingData n2 = copyAt(kNew);
    RoamingData::merge(n2, o2);
    EXPECT_EQ(o2.controlScheme(), 0);
    EXPECT_TRUE(o2.subtitlesEnabled());
    EXPECT_TRUE(o2.needsSave());
    EXPECT_FALSE(n2.needsSave());
    EXPECT_EQ(n2.timestamp(), kNew);
    EXPECT_EQ(o2.timestamp(), kNew);
}

TEST(SaveRecord, EqualStampsWithDifferentContentsStillMerge) {
    // Both copies changed within the same second (or both were just committed by the merge).
    RoamingData file = committedAt(kOld, [](RoamingData& r) {
        Access::setEntry(r, 1, 0b001, 700);
        r.setControlScheme(1);
    });
    RoamingData cloud = committedAt(kOld, [](RoamingData& r) { Access::setEntry(r, 2, 0b100, 800); });
    RoamingData::merge(file, cloud);
    for (RoamingData const* r : {&file, &cloud}) {
        ASSERT_EQ(r->levelEntries().size(), 2u);
        EXPECT_EQ(entry(*r, 1).best(), 700u);
        EXPECT_EQ(entry(*r, 2).best(), 800u);
        EXPECT_EQ(r->controlScheme(), 0);  // the cloud copy's options win a tie
    }
    EXPECT_TRUE(file.needsSave());
    EXPECT_TRUE(cloud.needsSave());
    EXPECT_EQ(file.timestamp(), cloud.timestamp());

    // Equal stamps and equal contents: nothing to do, nothing to save.
    RoamingData same1 = copyAt(kOld), same2 = copyAt(kOld);
    RoamingData::merge(same1, same2);
    EXPECT_FALSE(same1.needsSave());
    EXPECT_FALSE(same2.needsSave());

    // Pending changes on both sides are stamped with the same second by the merge itself.
    RoamingData a = copyAt(kOld), b = copyAt(kOld);
    a.levelEntry(10).best() = 5;
    b.levelEntry(11).best() = 6;
    RoamingData::merge(a, b);
    EXPECT_TRUE(a.hasLevelEntry(11));
    EXPECT_TRUE(b.hasLevelEntry(10));
}

// A copy that holds nothing (a new cloud folder) never takes the options of one that does, even
// when that one's stamp is unreadable or 1970; an unreadable stamp is damage and reads as 1970.
TEST(SaveRecord, MergeKeepsTheOptionsOfTheOnlyCopyThatHoldsAny) {
    for (char const* stamp : {"1970-01-01T00:00:00", "garbage", "", "2016-13-45T99:99:99", "2016-01-01 00:00:00"}) {
        SCOPED_TRACE(stamp);
        RoamingData written = committedAt(kOld, [](RoamingData& r) {
            r.setControlScheme(2);
            r.setSubtitlesEnabled(false);
            r.setCellularDownloadAllowed(true);
            Access::setEntry(r, 4, 0b011, 900);
        });
        Access::setTimestamp(written, stamp);
        std::vector<uint8_t> const blob = written.save();
        for (bool localHoldsIt : {true, false}) {
            RoamingData holder(false), fresh(false);
            bool const loaded = holder.load(blob.data(), blob.size());
            EXPECT_EQ(loaded, std::string(stamp) == "1970-01-01T00:00:00");
            EXPECT_EQ(holder.timestamp(), "1970-01-01T00:00:00");
            if (localHoldsIt)
                RoamingData::merge(holder, fresh);
            else
                RoamingData::merge(fresh, holder);
            for (RoamingData const* r : {&holder, &fresh}) {
                EXPECT_EQ(r->controlScheme(), 2);
                EXPECT_FALSE(r->subtitlesEnabled());
                EXPECT_TRUE(r->cellularDownloadAllowed());
                EXPECT_EQ(entry(*r, 4).best(), 900u);
            }
            EXPECT_TRUE(fresh.needsSave());
        }
    }
    // A copy with a sound stamp still beats one whose stamp was unreadable.
    RoamingData damaged = committedAt(kNew, [](RoamingData& r) { r.setControlScheme(2); });
    Access::setTimestamp(damaged, "not a time");
    std::vector<uint8_t> const blob = damaged.save();
    RoamingData local(false);
    EXPECT_FALSE(local.load(blob.data(), blob.size()));
    RoamingData cloud = committedAt(kOld, [](RoamingData& r) { r.setControlScheme(1); });
    RoamingData::merge(local, cloud);
    EXPECT_EQ(local.controlScheme(), 1);
    EXPECT_EQ(cloud.controlScheme(), 1);
}
