// The sample data archive the build makes must hold every fixed asset and every catalog level,
// in a form its reader recognises.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <webp/decode.h>

#include "level/LevelCatalog.h"
#include "os/Assets.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"

namespace {

using Check = std::function<bool(File const&)>;

bool startsWith(File const& f, char const* magic, size_t at = 0) {
    size_t n = std::strlen(magic);
    return f.size() >= at + n && std::memcmp(f.data() + at, magic, n) == 0;
}

// A PNG or WebP image the background decoder accepts: its pixels fit the decoder's output area
// (4,723,140 bytes), and it is not 1024 x 1024, which the texture table takes for a font page.
bool isImage(File const& f) {
    int width = 0, height = 0;
    if (startsWith(f, "\x89PNG\r\n\x1a\n") && f.size() >= 24) {
        auto be32 = [&](size_t at) {
            return int(f.data()[at]) << 24 | int(f.data()[at + 1]) << 16 | int(f.data()[at + 2]) << 8 | int(f.data()[at + 3]);
        };
        width = be32(16);
        height = be32(20);
    } else if (!WebPGetInfo(f.data(), f.size(), &width, &height)) {
        return false;
    }
    return width > 0 && height > 0 && int64_t(width) * height * 4 <= 4723140 && !(width == 1024 && height == 1024);
}
bool isOgg(File const& f) { return startsWith(f, "OggS"); }
bool isMp4(File const& f) { return startsWith(f, "ftyp", 4); }
bool isHitArea(File const& f) {
    std::string text(reinterpret_cast<char const*>(f.data()), f.size());
    return text.find("1 XR\n") != std::string::npos;
}
bool anything(File const&) { return true; }

TEST(SampleData, Pak0HoldsEveryFixedPath) {
    auto pak0 = testing_support::binaryDir() / "pak0.pak";
    FileSystem fs;
    auto* archive = fs.mount(pak0.string());
    ASSERT_NE(archive, nullptr) << pak0 << " is missing: build the pak target";

    std::vector<std::pair<std::string, Check>> wanted;
    for (size_t i = 1; i < Assets::textureCount; ++i) wanted.emplace_back(Assets::textures[i].path, isImage);
    for (auto const& s : Assets::sounds) wanted.emplace_back(s.path, isOgg);
    // The game asks for a track by its table name with the music extension in place of ".wav".
    for (auto const* m : Assets::musicTracks) wanted.emplace_back(FileSystem::replaceExtension(*m, ".m4a"), isMp4);
    for (auto const& h : Assets::hitAreas) wanted.emplace_back(h, isHitArea);
    for (uint64_t i = 0; i < LevelCatalog::count(); ++i) {
        auto const& e = LevelCatalog::entry(i);
        wanted.emplace_back(e.path, anything);
        if (!e.introPath.empty()) wanted.emplace_back(e.introPath, anything);
    }

    std::string missing, unreadable;
    size_t bad = 0;
    for (auto const& [path, check] : wanted) {
        if (!archive->contains(path)) {
            missing += "\n  " + path;
            ++bad;
            continue;
        }
        auto f = archive->open(path);
        if (f->size() == 0 || !check(*f)) {
            unreadable += "\n  " + path;
            ++bad;
        }
    }
    EXPECT_EQ(bad, 0u) << bad << " of " << wanted.size() << " paths fail.\nMissing from pak0.pak:" << missing
                       << "\nPresent but empty or not in the expected format:" << unreadable;
}

TEST(SampleData, Pak1OverridesSomePak0Entries) {
    FileSystem fs;
    auto* pak0 = fs.mount((testing_support::binaryDir() / "pak0.pak").string());
    auto* pak1 = fs.mount((testing_support::binaryDir() / "pak1.pak").string());
    ASSERT_TRUE(pak0 && pak1);
    size_t overridden = 0;
    for (auto const& [name, where] : pak1->entries()) {
        if (!pak0->contains(name)) continue;
        auto before = pak0->open(name), after = fs.open(name);
        ASSERT_GT(after->size(), 0u);
        if (FileSystem::extension(name) == ".png") {
            EXPECT_TRUE(isImage(*after)) << name;
        }
        bool differs = before->size() != after->size() || std::memcmp(before->data(), after->data(), after->size());
        overridden += differs;
    }
    EXPECT_GE(overridden, 1u);
}

}  // namespace
