// Settings files: values round-trip through the file, damaged lines are skipped without losing
// the good ones, changes that would break the line format are refused, and what is no settings
// file (a pipe, a device, a huge file) is read as empty and kept aside before it is replaced.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "platform/GameServices.h"
#include "platform/PreferencesFile.h"
#include "testing/TestPaths.h"

namespace {

TEST(PreferencesFile, ValuesRoundTripThroughTheFile) {
    testing_support::TempDir dir;
    auto path = dir / "sub" / "prefs";
    {
        platform::PreferencesFile p(path);
        EXPECT_EQ(p.integer("missing"), 0);
        EXPECT_FALSE(p.boolean("missing"));
        EXPECT_TRUE(p.set("version", "1.0 (7)"));
        EXPECT_TRUE(p.setInteger("count", -42));
        EXPECT_TRUE(p.setReal("date", 1754000000.125));
        EXPECT_TRUE(p.setBoolean("rated", true));
        EXPECT_TRUE(p.set("empty", ""));
        EXPECT_FALSE(p.set("bad=key", "x"));
        EXPECT_FALSE(p.set("", "x"));
        EXPECT_FALSE(p.set("key", "two\nlines"));
        ASSERT_TRUE(p.synchronize());
    }
    platform::PreferencesFile q(path);
    EXPECT_EQ(q.string("version"), "1.0 (7)");
    EXPECT_EQ(q.integer("count"), -42);
    EXPECT_DOUBLE_EQ(q.real("date"), 1754000000.125);
    EXPECT_TRUE(q.boolean("rated"));
    EXPECT_EQ(q.string("empty"), "");
    EXPECT_EQ(q.entries().size(), 5u);
}

TEST(PreferencesFile, DamagedLinesAreSkipped) {
    auto e = platform::PreferencesFile::parse("a=1\r\nno equals\n=novalue\nb=x=y\n\n\xff\xfe=\x01\nc=3");
    EXPECT_EQ(e.size(), 4u);
    EXPECT_EQ(e["a"], "1");
    EXPECT_EQ(e["b"], "x=y");
    EXPECT_EQ(e["c"], "3");
    testing_support::TempDir dir;
    std::ofstream(dir / "p") << "count=notanumber\nreal=1e400\n";
    platform::PreferencesFile p(dir / "p");
    EXPECT_EQ(p.integer("count"), 0);
    EXPECT_EQ(p.real("real"), 0);
}

TEST(PreferencesFile, UnwritableFolderFailsWithoutTouchingMemory) {
    platform::PreferencesFile p("/proc/zelv-no-such/prefs");
    EXPECT_TRUE(p.setInteger("a", 1));
    EXPECT_FALSE(p.synchronize());
    EXPECT_EQ(p.integer("a"), 1);
}

TEST(PreferencesFile, WhatIsNoSettingsFileIsReadAsEmptyAndKeptAsideBeforeItIsReplaced) {
    testing_support::TempDir dir;
    struct Case {
        char const* name;
        bool (*make)(std::filesystem::path const&);
    };
    Case const cases[] = {
        {"pipe", [](std::filesystem::path const& p) { return mkfifo(p.c_str(), 0600) == 0; }},
        {"link to /dev/zero", [](std::filesystem::path const& p) { return symlink("/dev/zero", p.c_str()) == 0; }},
        {"10 GB sparse", [](std::filesystem::path const& p) {
             std::ofstream(p) << "a=1\n";
             return truncate(p.c_str(), 10'000'000'000) == 0;
         }},
        {"over the cap", [](std::filesystem::path const& p) {
             std::ofstream(p) << "a=1\n" << std::string(platform::PreferencesFile::kMaxSize, '#');
             return true;
         }},
    };
    for (Case const& c : cases) {
        auto const path = dir / std::to_string(&c - cases);
        ASSERT_TRUE(c.make(path)) << c.name;
        auto const type = std::filesystem::symlink_status(path).type();
        platform::PreferencesFile p(path);
        EXPECT_TRUE(p.damaged()) << c.name;
        EXPECT_TRUE(p.entries().empty()) << c.name;
        EXPECT_TRUE(p.setInteger("count", 3));
        ASSERT_TRUE(p.synchronize()) << c.name;
        EXPECT_FALSE(p.damaged()) << c.name;
        EXPECT_EQ(std::filesystem::symlink_status(path.string() + ".bad").type(), type) << c.name;
        EXPECT_EQ(platform::PreferencesFile(path).integer("count"), 3) << c.name;
    }
    // Where it cannot be kept aside it is left alone, and the changes stay in memory.
    std::filesystem::create_directory(dir / "folder");
    platform::PreferencesFile folder(dir / "folder");
    EXPECT_TRUE(folder.damaged());
    EXPECT_TRUE(folder.set("a", "1"));
    EXPECT_FALSE(folder.synchronize());
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
    EXPECT_EQ(folder.string("a"), "1");

    // The scores file is one too: a pipe there is no score, and the first result replaces it.
    ASSERT_EQ(mkfifo((dir / "gameservices").c_str(), 0600), 0);
    platform::GameServices services(dir / "gameservices", true);
    EXPECT_FALSE(services.hasScore("board"));
    services.reportScores({{"board", 42, false}});
    EXPECT_EQ(platform::GameServices(dir / "gameservices", true).score("board"), 42);
}

}  // namespace
