// Readers open and look up entries while the main thread mounts archive after archive.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "os/FileSystem.h"
#include "os/tests/ZipWriter.h"
#include "testing/TestPaths.h"

namespace {

TEST(FileSystemConcurrency, OpenWhileMounting) {
    testing_support::TempDir dir;
    constexpr int archives = 24;
    for (int i = 0; i < archives; ++i) {
        std::vector<ziptest::Entry> entries{{"shared.txt", "v" + std::to_string(i)},
                                            {"only" + std::to_string(i) + ".txt", std::string(100 + i, 'a' + i % 26)}};
        ziptest::writeFile(dir / ("p" + std::to_string(i) + ".pak"), ziptest::build(entries));
    }
    ziptest::writeFile(dir / "p0.pak.base", ziptest::build({{"shared.txt", "base"}}));
    FileSystem fs;
    fs.mount((dir / "p0.pak.base").string());

    std::atomic<bool> done{false};
    std::atomic<int> failures{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 4; ++t) {
        readers.emplace_back([&, t] {
            int lastSeen = -1;
            while (!done.load()) {
                auto f = fs.open("shared.txt");
                std::string s(reinterpret_cast<char const*>(f->data()), f->size());
                // Mounts only ever add: a reader never sees an older archive win again.
                int seen = s == "base" ? -1 : std::stoi(s.substr(1));
                if (seen < lastSeen) failures++;
                lastSeen = seen;
                fs.exists("only" + std::to_string(t) + ".txt");
                // Misses are remembered across threads, so each is logged once.
                EXPECT_EQ(fs.open("missing" + std::to_string(t % 2) + ".txt")->size(), 0u);
            }
        });
    }
    for (int i = 0; i < archives; ++i) ASSERT_NE(fs.mount((dir / ("p" + std::to_string(i) + ".pak")).string()), nullptr);
    done = true;
    for (auto& r : readers) r.join();
    EXPECT_EQ(failures.load(), 0);
    auto f = fs.open("shared.txt");
    EXPECT_EQ(std::string(reinterpret_cast<char const*>(f->data()), f->size()), "v23");
    for (int i = 0; i < archives; ++i) EXPECT_TRUE(fs.exists("only" + std::to_string(i) + ".txt"));
}

}  // namespace
