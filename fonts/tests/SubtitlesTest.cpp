// SubRip parsing and the shown-line query.
#include <gtest/gtest.h>

#include "fonts/ReadTextFile.h"
#include "fonts/Subtitles.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"

#include <fstream>

using Lines = std::vector<std::string>;

namespace {
Lines shown(Subtitles const& s, float t) {
    auto const* lines = s.textAt(t);
    return lines ? *lines : Lines{"<none>"};
}
}  // namespace

TEST(Subtitles, StandardFileAndTimes) {
    auto s = Subtitles::parse(
        "1\n00:01:02,500 --> 00:01:04,000\nHello there.\n\n"
        "2\n01:00:00,001 --> 01:00:01,000\nFirst line\nSecond line\n");
    ASSERT_EQ(s.entries().size(), 2u);
    EXPECT_EQ(s.entries().at(62500.0f).end, 64000.0f);
    EXPECT_EQ(s.entries().at(3600001.0f).lines, (Lines{"First line", "Second line"}));
    // Latest start first.
    EXPECT_EQ(s.entries().begin()->first, 3600001.0f);

    EXPECT_EQ(shown(s, 62500.0f), Lines{"<none>"});  // not yet at its start
    EXPECT_EQ(shown(s, 62500.5f), Lines{"Hello there."});
    EXPECT_EQ(shown(s, 63999.0f), Lines{"Hello there."});
    EXPECT_EQ(shown(s, 64000.0f), Lines{"<none>"});  // gone at its end
    EXPECT_EQ(shown(s, 0.0f), Lines{"<none>"});
    EXPECT_EQ(shown(s, 3600500.0f), (Lines{"First line", "Second line"}));
}

TEST(Subtitles, LineEndsEmptyLinesAndDigitLines) {
    std::string lf = "1\n00:00:01,000 --> 00:00:03,000\nOne\n\nTwo\n2019\nThree\n";
    std::string crlf = "1\r\n00:00:01,000 --> 00:00:03,000\r\nOne\r\n\r\nTwo\r\n2019\r\nThree\r\n";
    for (char& c : crlf)
        if (c == '\r') c = '\n';  // as readTextFile hands it over
    for (auto const& text : {lf, crlf}) {
        auto s = Subtitles::parse(text);
        ASSERT_EQ(s.entries().size(), 1u);
        EXPECT_EQ(s.entries().at(1000.0f).lines, (Lines{"One", "Two", "Three"}));
    }
    // A text line holding the arrow is a timing line of its own.
    auto s = Subtitles::parse("00:00:01,000 --> 00:00:05,000\nA\nsee -> here --> there\nB\n");
    EXPECT_EQ(s.entries().at(1000.0f).lines, Lines{"A"});
}

TEST(Subtitles, OverlapsDuplicatesSpacesAndDamage) {
    auto s = Subtitles::parse(
        "00:00:01,000 --> 00:00:10,000\nlong\n"
        "00:00:02,000 --> 00:00:03,000\nshort\n"
        "00:00:02,000 --> 00:00:09,000\nduplicate start\n"
        "00: 00 :04, 5 00 --> 00:00:05,000\nspaced\n");
    EXPECT_EQ(shown(s, 2500.0f), Lines{"short"});
    // After the latest-starting entry ended, the earlier long one is not considered.
    EXPECT_EQ(shown(s, 3500.0f), Lines{"<none>"});
    EXPECT_EQ(shown(s, 4600.0f), Lines{"spaced"});

    // A field that is no number gives time 0; an end not after its start is never shown.
    auto bad = Subtitles::parse("00:xx:01,000 --> 00:00:02,000\nzero start\n00:00:05,000 --> 00:00:05,000\nnever\n");
    EXPECT_EQ(bad.entries().count(0.0f), 1u);
    EXPECT_EQ(shown(bad, 1.0f), Lines{"zero start"});
    EXPECT_EQ(shown(bad, 5000.0f), Lines{"<none>"});
    EXPECT_EQ(shown(bad, 5000.5f), Lines{"<none>"});
    auto huge = Subtitles::parse("99999999999:00:00,000 --> 00:00:02,000\nx\n");
    EXPECT_EQ(huge.entries().count(0.0f), 1u);

    // Timings with fewer than four fields, or without a second time, are skipped with their text.
    auto shortTimes = Subtitles::parse(
        "00:01,000 --> 00:00:02,000\nthree fields\n"
        "00:00:03,000 -->\nno end\n"
        "-->\n"
        "00:00:04,000 --> 00:00:06,000\nkept\n");
    ASSERT_EQ(shortTimes.entries().size(), 1u);
    EXPECT_EQ(shown(shortTimes, 5000.0f), Lines{"kept"});
    EXPECT_TRUE(Subtitles::parse("").entries().empty());
    EXPECT_TRUE(Subtitles::parse("no timing at all\n\n12\n").entries().empty());
}

TEST(Subtitles, ReadsThroughTheFileSystem) {
    testing_support::TempDir dir;
    std::string path = (dir / "intro_en_US.srt").string();
    std::ofstream(path, std::ios::binary) << "1\r\n00:00:01,000 --> 00:00:02,000\r\nHi\r\n";
    EXPECT_EQ(readTextFile(path), "1\n\n00:00:01,000 --> 00:00:02,000\n\nHi\n\n");
    Subtitles s(path);
    EXPECT_EQ(shown(s, 1500.0f), Lines{"Hi"});

    EXPECT_EQ(readTextFile((dir / "missing.srt").string()), "");
    Subtitles missing((dir / "missing.srt").string());
    EXPECT_TRUE(missing.entries().empty());
    EXPECT_EQ(missing.textAt(1.0f), nullptr);
}
