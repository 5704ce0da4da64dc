// Settings files: values round-trip through the file, damaged lines are skipped without losing
// the good ones, and changes that would break the line format are refused.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <fstream>

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

// A pipe, an endless device, a 10 GB sparse file or a folder is no settings file: it is read as
// empty and kept aside as "<name>.bad" by the first write (a folder cannot be, and stays).
TEST(PreferencesFile, WhatIsNoSettingsFileIsReadAsEmptyAndKeptAsideBeforeItIsReplaced) {
    testing_support::TempDir dir;
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "zero");
    std::ofstream(dir / "sparse") << "a=1\n";
    std::filesystem::resize_file(dir / "sparse", 10'000'000'000);
    std::filesystem::create_directory(dir / "folder");
    for (std::string const name : {"pipe", "zero", "sparse", "folder"}) {
        platform::PreferencesFile p(dir / name);
        EXPECT_TRUE(p.damaged() && p.entries().empty()) << name;
        p.setInteger("count", 3);
        bool const kept = name != "folder";
        EXPECT_EQ(p.synchronize(), kept) << name;
        EXPECT_EQ(platform::PreferencesFile(dir / name).integer("count"), kept ? 3 : 0) << name;
        EXPECT_EQ(std::filesystem::exists(dir / (name + ".bad")), kept) << name;
    }
}

}  // namespace
