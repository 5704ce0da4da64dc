// The built string tables hold every key the game's code and its level catalogue read, in every
// shipped language (the keys are gathered from the sources, so a new key without a text fails here
// rather than showing "String not found" to a player), and the sample credits exercise the whole
// walk: names-only and roles-and-names entries, a store-only number skipped in the middle, and the
// swapped pair. The libraries the credits say the game is built with are ones the game loads.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "fonts/StringTable.h"
#include "level/LevelCatalog.h"
#include "menus/Credits.h"
#include "os/FileSystem.h"
#include "testing/TestPaths.h"
#include "tools/datatool/Locales.h"

namespace {

std::string readFile(std::filesystem::path const& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

// The shared libraries the game binary loads, as ldd lists them.
std::string loadedLibraries() {
    std::string out(1 << 16, '\0');
    FILE* pipe = popen(("ldd " + (testing_support::binaryDir() / "zelv").string()).c_str(), "r");
    out.resize(fread(out.data(), 1, out.size(), pipe));
    return pclose(pipe), out;
}

// The string keys the game's sources name: every literal handed straight to localizedString or
// hasString, and, in the files that look texts up, every camel-case literal (keys travel through
// parameters and tables there). Font style names and the save's file name are literals of that
// shape that are not keys.
std::set<std::string> keysInTheSources() {
    auto const root = testing_support::sourceDir();
    std::set<std::string> notKeys;
    std::regex const literal(R"re("([a-z][a-z0-9]*[A-Z][A-Za-z0-9_]*)")re");
    std::string const styles = readFile(root / "fonts" / "FontStyle.h");
    for (std::sregex_iterator it(styles.begin(), styles.end(), literal), end; it != end; ++it) notKeys.insert((*it)[1]);
    std::regex const direct(R"re((?:localizedString|hasString)\(\s*"([^"]+)"\s*\))re");
    std::set<std::string> keys;
    for (char const* folder : {"menus", "game", "level", "world", "fonts", "os"})
        for (auto const& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            auto const& path = entry.path();
            std::string const where = path.string();
            if (where.find("/tests/") != std::string::npos || where.find("/bench/") != std::string::npos ||
                where.find("/fuzz/") != std::string::npos)
                continue;
            if (path.extension() != ".cpp" && path.extension() != ".h") continue;
            std::string const text = readFile(path);
            for (std::sregex_iterator it(text.begin(), text.end(), direct), end; it != end; ++it) keys.insert((*it)[1]);
            if (text.find("localizedString(") == std::string::npos) continue;
            std::istringstream lines(text);
            for (std::string line; std::getline(lines, line);) {
                if (line.find("RoamingDataFile") != std::string::npos || line.find("kSaveName") != std::string::npos)
                    continue;
                // Comments name other things in that shape (achievement ids).
                if (auto comment = line.find("//"); comment != std::string::npos) line.resize(comment);
                for (std::sregex_iterator it(line.begin(), line.end(), literal), end; it != end; ++it)
                    if (!notKeys.count((*it)[1])) keys.insert((*it)[1]);
            }
        }
    return keys;
}

TEST(MenuStrings, EveryKeyTheCodeAndTheLevelCatalogueReadExistsInEveryLanguage) {
    auto const pak0 = testing_support::binaryDir() / "pak0.pak";
    FileSystem fs;
    ASSERT_NE(fs.mount(pak0.string()), nullptr) << pak0 << " is missing: build the pak target";
    std::set<std::string> keys = keysInTheSources();
    // The scan reaches the keys handed on through parameters too, not only the direct ones.
    for (char const* key : {"hardcore", "restartScenePopup", "skipTutorialPopup", "act1Header"})
        EXPECT_TRUE(keys.count(key)) << key << " was not found in the sources";
    for (size_t i = 0; i < LevelCatalog::count(); ++i)
        if (!LevelCatalog::entry(i).nameKey.empty()) keys.insert(LevelCatalog::entry(i).nameKey);
    for (auto locale : datatool::shippedLocales) {
        std::string const name(locale);
        auto file = fs.open("fonts/" + name + ".strings");
        ASSERT_TRUE(file) << name;
        Fonts::StringTable table;
        ASSERT_TRUE(table.read(file->data(), file->size())) << name;
        for (auto const& key : keys) EXPECT_TRUE(table.contains(key)) << name << " has no text for " << key;
    }
}

TEST(MenuStrings, EveryKeyTheMenusReadExists) {
    auto const pak0 = testing_support::binaryDir() / "pak0.pak";
    FileSystem fs;
    ASSERT_NE(fs.mount(pak0.string()), nullptr) << pak0 << " is missing: build the pak target";

    char const* const fixed[] = {"downloaderDownloadingNewContent",
                                 "downloaderPaused",
                                 "downloaderNoNetwork",
                                 "downloaderVerifyingContent",
                                 "downloaderFinished",
                                 "downloaderAskForCellularData",
                                 "downloaderNoDiskSpace",
                                 "popupAffirmative",
                                 "hardcoreUnlocked",
                                 "yesPopup",
                                 "noPopup",
                                 "gameCenterPopup"};
    // Credited libraries that come as shared objects (GLM, UTF8-CPP and cereal are headers only).
    std::pair<char const*, char const*> const shared[] = {{"SDL2", "libSDL2"}, {"OpenGL ES", "libGLESv2"},
        {"libpng", "libpng16"}, {"libwebp", "libwebp"}, {"FreeType", "libfreetype"}, {"OpenAL Soft", "libopenal"},
        {"Opus", "libopus"}, {"FFmpeg", "libavcodec"}, {"Box2D", "libbox2d"}, {"Bullet", "libBullet"}, {"zlib", "libz."},
        {"libdeflate", "libdeflate"}, {"libcurl", "libcurl"}, {"OpenSSL", "libcrypto"}, {"Avro C", "libavro"},
        {"Jansson", "libjansson"}, {"protobuf-c", "libprotobuf-c"}, {"Boost", "libboost_"}};
    std::string const loaded = loadedLibraries();
    for (auto locale : datatool::shippedLocales) {
        std::string const name(locale);
        auto file = fs.open("fonts/" + name + ".strings");
        Fonts::StringTable table;
        ASSERT_TRUE(table.read(file->data(), file->size())) << name;
        for (char const* key : fixed) EXPECT_TRUE(table.contains(key)) << name << " " << key;

        // The credits walk as the menu does it.
        int justNames = 0, rolesAndNames = 0, skipped = 0, swapPairs = 0;
        for (int n = 0; n < 1000; ++n) {
            std::string const number = std::to_string(n);
            if (!table.contains("credits_header_" + number)) {
                if (table.contains("credits_header_" + number + "_amazon_only")) {
                    ++skipped;
                    continue;
                }
                break;
            }
            if (table.contains("credits_just_names_" + number)) {
                ++justNames;
                continue;
            }
            ASSERT_TRUE(table.contains("credits_roles_" + number)) << name << " " << n;
            ASSERT_TRUE(table.contains("credits_names_" + number)) << name << " " << n;
            ++rolesAndNames;
            std::string const& names = table.get("credits_names_" + number);
            for (auto [credited, file] : shared)
                EXPECT_TRUE(names.find(credited) == std::string::npos || loaded.find(file) != std::string::npos)
                    << name << ": the credits name " << credited << ", which the game does not load";
            swapPairs += names.find(Credits::kSwapNames[0]) != std::string::npos &&
                         names.find(Credits::kSwapNames[1]) != std::string::npos;
        }
        EXPECT_GE(justNames, 1) << name;
        EXPECT_GE(rolesAndNames, 1) << name;
        EXPECT_GE(skipped, 1) << name;
        EXPECT_GE(swapPairs, 1) << name;
        // The list goes on past the skipped number: its last entry thanks the player.
        EXPECT_TRUE(table.contains("credits_header_5")) << name;
    }
}

}  // namespace
