#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>
#include <istream>
#include <new>
#include <random>
#include <string>

#include "os/FileSystem.h"
#include "os/OpaqueStreamBuf.h"
#include "os/TextureDescriptor.h"
#include "os/tests/ZipWriter.h"
#include "testing/TestPaths.h"

namespace {

std::string bytesOf(std::shared_ptr<File> const& f) {
    return f->size() ? std::string(reinterpret_cast<char const*>(f->data()), f->size()) : std::string();
}

std::string pattern(size_t n, unsigned seed) {
    std::string s(n, '\0');
    std::mt19937 rng(seed);
    for (auto& c : s) c = char(rng());
    return s;
}

TEST(FileSystemLookup, NewestArchiveWinsThenOlderThenDisk) {
    testing_support::TempDir dir;
    ziptest::writeFile(dir / "pak0.pak", ziptest::build({{"a.txt", "old a"}, {"b.txt", "only in pak0"}}));
    ziptest::writeFile(dir / "pak1.pak", ziptest::build({{"a.txt", "new a"}}));
    ziptest::writeFile(dir / "loose.txt", "on disk");
    FileSystem fs;
    ASSERT_NE(fs.mount((dir / "pak0.pak").string()), nullptr);
    EXPECT_EQ(bytesOf(fs.open("a.txt")), "old a");
    ASSERT_NE(fs.mount((dir / "pak1.pak").string()), nullptr);
    EXPECT_EQ(bytesOf(fs.open("a.txt")), "new a");
    EXPECT_EQ(bytesOf(fs.open("b.txt")), "only in pak0");
    EXPECT_EQ(bytesOf(fs.open((dir / "loose.txt").string())), "on disk");

    EXPECT_FALSE(fs.exists("missing.txt"));
    auto missing = fs.open("missing.txt");
    ASSERT_NE(missing, nullptr);
    EXPECT_EQ(missing->size(), 0u);
    EXPECT_EQ(missing->data(), nullptr);
    EXPECT_EQ(fs.mount((dir / "nothing.pak").string()), nullptr);
}

TEST(FileSystemLookup, UnreadableThingsOpenEmpty) {
    testing_support::TempDir dir;
    std::filesystem::create_directories(dir / "sub");
    ziptest::writeFile(dir / "empty.bin", "");
    ziptest::writeFile(dir / "garbage.pak", "this is not a zip archive at all");
    FileSystem fs;
    // A directory exists but has no bytes.
    EXPECT_TRUE(fs.exists((dir / "sub").string()));
    EXPECT_EQ(fs.open((dir / "sub").string())->size(), 0u);
    EXPECT_EQ(fs.open((dir / "empty.bin").string())->size(), 0u);
    // A pipe nobody writes to neither blocks nor mounts anything.
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(fs.open((dir / "pipe").string())->size(), 0u);
    auto* pipe = fs.mount((dir / "pipe").string());
    ASSERT_NE(pipe, nullptr);
    EXPECT_TRUE(pipe->entries().empty());
    // Something that is not an archive mounts with no entries; a directory too.
    auto* garbage = fs.mount((dir / "garbage.pak").string());
    ASSERT_NE(garbage, nullptr);
    EXPECT_TRUE(garbage->entries().empty());
    auto* sub = fs.mount((dir / "sub").string());
    ASSERT_NE(sub, nullptr);
    EXPECT_TRUE(sub->entries().empty());
}

TEST(FileSystemArchive, OnlyPlainStoredEntriesWithinTheArchiveAreListed) {
    testing_support::TempDir dir;
    std::string big = pattern(3 * 4096 + 17, 1);
    ziptest::Entry deflated{"deflated.txt", std::string(500, 'x')};
    deflated.method = 8;
    // A deflated entry whose claimed sizes happen to agree is still not its content.
    ziptest::Entry deflatedSameSizes{"deflated2.txt", pattern(64, 9)};
    deflatedSameSizes.method = 8;
    deflatedSameSizes.directoryUncompressedSize = deflatedSameSizes.directoryCompressedSize = 40;
    ziptest::Entry dirEntry{"levels/", ""};
    ziptest::Entry dirAttr{"folder", "x"};
    dirAttr.externalAttributes = 0x10;
    ziptest::Entry beyond{"beyond.bin", "abcd"};
    beyond.directoryCompressedSize = beyond.directoryUncompressedSize = 1u << 30;
    ziptest::Entry sizesDisagree{"disagree.bin", "abcdefgh"};
    sizesDisagree.directoryUncompressedSize = 4000;
    // The directory agrees with itself but not with the local header.
    ziptest::Entry headersDisagree{"headers.bin", "abcdefgh"};
    headersDisagree.directoryCompressedSize = headersDisagree.directoryUncompressedSize = 4;
    ziptest::writeFile(dir / "a.pak", ziptest::build({{"first.txt", "1"},
                                                      deflated,
                                                      deflatedSameSizes,
                                                      dirEntry,
                                                      dirAttr,
                                                      {"empty.txt", ""},
                                                      beyond,
                                                      sizesDisagree,
                                                      headersDisagree,
                                                      {"dup.txt", "first copy"},
                                                      {"big.bin", big},
                                                      {"dup.txt", "second copy"},
                                                      {"last.txt", "end"}}));
    FileSystem fs;
    auto* archive = fs.mount((dir / "a.pak").string());
    ASSERT_NE(archive, nullptr);
    for (auto name : {"deflated.txt", "deflated2.txt", "levels/", "levels", "folder", "empty.txt", "beyond.bin",
                      "disagree.bin", "headers.bin"}) {
        EXPECT_FALSE(archive->contains(name)) << name;
        EXPECT_FALSE(fs.exists(name)) << name;
    }
    EXPECT_EQ(archive->entries().size(), 4u);
    EXPECT_EQ(bytesOf(fs.open("first.txt")), "1");
    EXPECT_EQ(bytesOf(fs.open("dup.txt")), "first copy");
    EXPECT_EQ(bytesOf(fs.open("big.bin")), big);
    EXPECT_EQ(bytesOf(fs.open("last.txt")), "end");
}

TEST(FileSystemArchive, EntriesAtAnyOffsetMapFromThePageBelow) {
    testing_support::TempDir dir;
    // Pad local headers so entries start at, just before, and just after page boundaries.
    std::vector<ziptest::Entry> entries;
    std::vector<std::string> contents;
    for (unsigned i = 0; i < 12; ++i) {
        ziptest::Entry e{"e" + std::to_string(i), pattern(1 + i * 1531, i)};
        e.localExtra = uint16_t(4 + (i * 977) % 4000);
        entries.push_back(e);
    }
    ziptest::writeFile(dir / "a.pak", ziptest::build(entries));
    FileSystem fs;
    auto* archive = fs.mount((dir / "a.pak").string());
    ASSERT_NE(archive, nullptr);
    bool sawUnaligned = false;
    for (auto const& e : entries) {
        auto const& where = archive->entries().at(e.name);
        sawUnaligned |= where.offset % pageSize() != 0;
        auto f = fs.open(e.name);
        EXPECT_EQ(f->size(), e.content.size());
        EXPECT_EQ(bytesOf(f), e.content) << e.name;
    }
    EXPECT_TRUE(sawUnaligned);
}

TEST(FileSystemArchive, ViewsOutliveTheirArchiveAndItsReplacement) {
    testing_support::TempDir dir;
    std::vector<ziptest::Entry> entries;
    for (unsigned i = 0; i < 6; ++i) {
        entries.emplace_back("v" + std::to_string(i), pattern(100 + i * 40000, 20 + i));
        entries.back().localExtra = uint16_t(4 + i * 1013);
    }
    auto const path = (dir / "a.pak").string();
    ziptest::writeFile(path, ziptest::build(entries));
    std::vector<std::shared_ptr<File>> views;
    {
        FileSystem fs;
        ASSERT_NE(fs.mount(path), nullptr);
        for (auto const& e : entries) views.push_back(fs.open(e.name));
        views.push_back(fs.open("v2"));  // two views of one entry
    }
    // Unmounted: every view still reads its own bytes.
    for (size_t i = 0; i < entries.size(); ++i) EXPECT_EQ(bytesOf(views[i]), entries[i].content) << i;
    EXPECT_EQ(bytesOf(views.back()), entries[2].content);

    // Replaced on disk by a different archive under the same name (as a download does): old
    // views keep the old bytes, a new mount sees the new ones.
    FileSystem fs;
    ASSERT_NE(fs.mount(path), nullptr);
    auto before = fs.open("v3");
    ziptest::writeFile(dir / "next.pak", ziptest::build({{"v3", "replaced"}}));
    std::filesystem::rename(dir / "next.pak", path);
    FileSystem later;
    ASSERT_NE(later.mount(path), nullptr);
    EXPECT_EQ(bytesOf(later.open("v3")), "replaced");
    EXPECT_EQ(bytesOf(before), entries[3].content);
    EXPECT_EQ(bytesOf(fs.open("v4")), entries[4].content);
    views.clear();
    EXPECT_EQ(bytesOf(before), entries[3].content);
}

TEST(FileSystemArchive, ArchiveInsideALargerFile) {
    testing_support::TempDir dir;
    std::string prefix = pattern(5000, 3);
    std::string archive = ziptest::build({{"x.txt", "inside"}, {"y.txt", pattern(9000, 4)}}, prefix);
    ziptest::writeFile(dir / "blob.bin", archive);
    FileSystem fs;
    auto* ranged = fs.mount((dir / "blob.bin").string(),
                            MemoryMappedZipFile::Range{prefix.size(), archive.size() - prefix.size()});
    ASSERT_NE(ranged, nullptr);
    EXPECT_EQ(ranged->archiveOffset(), prefix.size());
    EXPECT_EQ(bytesOf(ranged->open("x.txt")), "inside");
    EXPECT_EQ(bytesOf(ranged->open("y.txt")), pattern(9000, 4));
    // The same file mounted whole: the zip reader finds the archive after the prefix.
    FileSystem whole;
    auto* all = whole.mount((dir / "blob.bin").string());
    ASSERT_NE(all, nullptr);
    EXPECT_EQ(bytesOf(all->open("x.txt")), "inside");
    // A range reaching past the end of the file is cut, never read beyond it.
    FileSystem cut;
    auto* past = cut.mount((dir / "blob.bin").string(), MemoryMappedZipFile::Range{prefix.size(), 1u << 30});
    ASSERT_NE(past, nullptr);
    EXPECT_EQ(past->archiveLength(), archive.size() - prefix.size());
    EXPECT_EQ(bytesOf(past->open("x.txt")), "inside");
}

TEST(FileSystemArchive, EntriesBeyondTwoGibibytes) {
    testing_support::TempDir dir;
    // A sparse file: 2.5 GiB of hole, then the archive, so entry offsets need more than 31 bits.
    uint64_t const start = (5ull << 30) / 2 + 123;
    std::string content = pattern(10000, 8);
    std::string archive = ziptest::build({{"far.bin", content}});
    {
        std::ofstream out(dir / "sparse.pak", std::ios::binary);
        out.seekp(std::streamoff(start));
        out.write(archive.data(), std::streamsize(archive.size()));
        ASSERT_TRUE(out.good());
    }
    FileSystem fs;
    auto* whole = fs.mount((dir / "sparse.pak").string());
    ASSERT_NE(whole, nullptr);
    ASSERT_TRUE(whole->contains("far.bin"));
    EXPECT_GT(whole->entries().at("far.bin").offset, start);
    EXPECT_EQ(bytesOf(fs.open("far.bin")), content);
    auto* ranged = fs.mount((dir / "sparse.pak").string(), MemoryMappedZipFile::Range{start, archive.size()});
    ASSERT_NE(ranged, nullptr);
    EXPECT_EQ(bytesOf(ranged->open("far.bin")), content);
}

TEST(FileSystemArchive, ShrunkArchiveFileGivesEmptyEntriesNotACrash) {
    testing_support::TempDir dir;
    std::string tail = pattern(20000, 5);
    std::string archive = ziptest::build({{"head.txt", "head"}, {"tail.bin", tail}});
    ziptest::writeFile(dir / "a.pak", archive);
    FileSystem fs;
    ASSERT_NE(fs.mount((dir / "a.pak").string()), nullptr);
    // Replaced behind our back by a shorter file: mapping past its end would fault on access.
    std::filesystem::resize_file(dir / "a.pak", 4096);
    EXPECT_EQ(bytesOf(fs.open("head.txt")), "head");
    EXPECT_EQ(fs.open("tail.bin")->size(), 0u);
}

TEST(FileSystemArchive, DamagedArchivesKeepOnlyIntactEntries) {
    testing_support::TempDir dir;
    std::vector<ziptest::Entry> entries{{"a.txt", "alpha"}, {"b/c.bin", pattern(700, 6)}, {"d.txt", "delta"}};
    std::string good = ziptest::build(entries);
    auto check = [&](std::string const& bytes, bool exact) {
        ziptest::writeFile(dir / "d.pak", bytes);
        MemoryMappedZipFile archive((dir / "d.pak").string());
        for (auto const& [name, where] : archive.entries()) {
            auto f = archive.open(name);
            ASSERT_LE(where.offset + where.length, bytes.size());
            EXPECT_EQ(f->size(), where.length);
            EXPECT_EQ(bytesOf(f), bytes.substr(where.offset, where.length));
            if (exact) {
                bool known = false;
                for (auto const& e : entries) known |= e.name == name && e.content == bytesOf(f);
                EXPECT_TRUE(known) << name;
            }
        }
    };
    for (size_t n = 0; n <= good.size(); ++n) check(good.substr(0, n), true);
    std::mt19937 rng(7);
    for (int round = 0; round < 400; ++round) {
        std::string bad = good;
        for (int k = 0; k < 3; ++k) bad[rng() % bad.size()] ^= char(1 + rng() % 255);
        check(bad, false);
    }
}

TEST(FileSystemPaths, ExtensionAndReplaceExtension) {
    EXPECT_EQ(FileSystem::extension("levels/level01.pxl"), ".pxl");
    EXPECT_EQ(FileSystem::replaceExtension("levels/level01.pxl", "_en_US.pxl"), "levels/level01_en_US.pxl");
    EXPECT_EQ(FileSystem::replaceExtension("levels/level01", "_en_US"), "levels/level01_en_US");
    EXPECT_EQ(FileSystem::extension("archive.v2/name"), ".v2/name");
    EXPECT_EQ(FileSystem::extension("a.b.c"), ".c");
    // Paths without '.' come from level data too: no exception, just no extension.
    EXPECT_EQ(FileSystem::extension("levels/level01"), "");
    EXPECT_EQ(FileSystem::extension(""), "");
    auto localized = FileSystem::replaceExtension("noext", "_ja_JP" + FileSystem::extension("noext"));
    EXPECT_EQ(localized, "noext_ja_JP");
}

TEST(OpaqueStreamBufTest, ReadsTheRangeThenEndOfFile) {
    testing_support::TempDir dir;
    ziptest::writeFile(dir / "a.pak", ziptest::build({{"t.txt", "12 34 end"}}));
    FileSystem fs;
    fs.mount((dir / "a.pak").string());
    std::istream in(nullptr);
    {
        OpaqueStreamBuf buf(fs.open("t.txt"));  // keeps the file alive by itself
        in.rdbuf(&buf);
        int a = 0, b = 0;
        std::string word;
        in >> a >> b >> word;
        EXPECT_EQ(a, 12);
        EXPECT_EQ(b, 34);
        EXPECT_EQ(word, "end");
        EXPECT_EQ(in.get(), std::char_traits<char>::eof());
        EXPECT_TRUE(in.eof());
        in.rdbuf(nullptr);
    }
    OpaqueStreamBuf empty(std::make_shared<InvalidFile>());
    EXPECT_EQ(empty.sgetc(), std::char_traits<char>::eof());
    char raw[] = "xyz";
    OpaqueStreamBuf part(reinterpret_cast<uint8_t const*>(raw), 2);
    char got[4] = {};
    EXPECT_EQ(part.sgetn(got, 4), 2);
    EXPECT_STREQ(got, "xy");
}

TEST(TextureDescriptorTest, DefaultIsAllZero) {
    // Construct over dirty memory: nothing may be left as it was.
    alignas(TextureDescriptor) unsigned char storage[sizeof(TextureDescriptor)];
    std::fill(std::begin(storage), std::end(storage), 0xAB);
    auto* d = new (storage) TextureDescriptor;  // default-initialised, as a member or local would be
    EXPECT_EQ(d->flags, 0);
    EXPECT_EQ(d->options, TextureOptions(0, 0, 0, 0));
    EXPECT_TRUE(d->path.empty());
    d->~TextureDescriptor();
}

}  // namespace

// What the start-up refuses to mount: every way a data archive arrives damaged is named, and
// only the checksum pass sees bytes flipped inside an entry.
TEST(FileSystemArchive, CheckRefusesDamagedArchivesAndSaysWhy) {
    testing_support::TempDir dir;
    std::string const good = ziptest::build({{"a.txt", "first entry"}, {"b.bin", pattern(5000, 3)}});
    ziptest::writeFile(dir / "good.pak", good);
    std::string why;
    EXPECT_TRUE(MemoryMappedZipFile::check((dir / "good.pak").string(), true, &why)) << why;

    std::string flipped = good;
    flipped[good.find("first entry") + 2] ^= 0x20;
    ziptest::writeFile(dir / "flipped.pak", flipped);
    EXPECT_TRUE(MemoryMappedZipFile::check((dir / "flipped.pak").string(), false));
    EXPECT_FALSE(MemoryMappedZipFile::check((dir / "flipped.pak").string(), true, &why));
    EXPECT_NE(why.find("a.txt"), std::string::npos) << why;

    ziptest::Entry deflated{"d.txt", std::string(100, 'x')};
    deflated.method = 8;
    ziptest::Entry lying{"l.txt", "abcd"};
    lying.directoryUncompressedSize = 400;
    ziptest::Entry beyond{"far.bin", "abcd"};
    beyond.directoryCompressedSize = beyond.directoryUncompressedSize = 1u << 30;
    std::filesystem::create_directories(dir / "folder.pak");
    ASSERT_EQ(mkfifo((dir / "pipe.pak").c_str(), 0600), 0);
    struct Case {
        std::string name, bytes, reason;
    };
    std::vector<Case> const cases = {
        {"empty.pak", "", "empty"},
        {"random.pak", pattern(20000, 7), "not a zip"},
        {"cut.pak", good.substr(0, good.size() - 30), "not a zip"},
        {"half.pak", good.substr(0, good.size() / 2), "not a zip"},
        {"nofiles.pak", ziptest::build({}), ""},
        {"deflated.pak", ziptest::build({{"a.txt", "x"}, deflated}), "compressed"},
        {"lying.pak", ziptest::build({lying}), "inconsistent sizes"},
        {"beyond.pak", ziptest::build({beyond}), "far.bin"},
    };
    for (auto const& c : cases) ziptest::writeFile(dir / c.name, c.bytes);
    std::vector<Case> all = cases;
    all.push_back({"missing.pak", "", "No such file"});
    all.push_back({"folder.pak", "", "folder"});
    all.push_back({"pipe.pak", "", "not a regular file"});
    for (auto const& c : all) {
        why.clear();
        EXPECT_FALSE(MemoryMappedZipFile::check((dir / c.name).string(), false, &why)) << c.name;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    }
}
