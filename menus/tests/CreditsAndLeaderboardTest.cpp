// The main menu's credits and leaderboards on real GL: the credits walk over a string table of
// the test's own (gaps, store-only headers, missing texts) and the name swap under fixed seeds,
// the frame-counted scroll to its end, skipping; the leaderboard signed in, signed out and again.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "fonts/Layout.h"
#include "fonts/MurmurHash2.h"
#include "fonts/StringTable.h"
#include "menus/Credits.h"
#include "menus/MainMenuCreditsMenu.h"
#include "menus/MainMenuLeaderboardMenu.h"
#include "menus/tests/MenuFixture.h"
#include "os/ViewController.h"
#include "os/tests/ZipWriter.h"

namespace {

constexpr float kFrame = 1000.0f / 60.0f;

// A mesh's glyph vertices as bytes: equal meshes give equal strings.
std::string glyphs(Fonts::TextMesh const& mesh) {
    std::string bytes;
    for (auto const& b : mesh.batches)
        bytes.append(reinterpret_cast<char const*>(b.vertices.data()), b.vertices.size() * sizeof(b.vertices[0]));
    return bytes;
}

class Pages : public menus_test::MenuFixture {
protected:
    testing_support::TempDir documents;
    void SetUp() override {
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        MenuFixture::SetUp();
    }
    void TearDown() override {
        Credits::setSeedForTesting(std::nullopt);
        MenuFixture::TearDown();
    }
    // A language of the test's own: the English fonts with these texts, mounted above the data.
    std::unique_ptr<Fonts::Context> language(std::string const& locale, std::map<std::string, std::string> const& texts) {
        auto& fs = Singleton<FileSystem>::instance();
        std::vector<Fonts::StringTable::Entry> entries;
        for (auto const& [k, v] : texts) entries.emplace_back(Fonts::stringKeyHash(k), v);
        std::sort(entries.begin(), entries.end(), [](auto const& a, auto const& b) { return a.first < b.first; });
        auto const table = Fonts::StringTable::write(entries);
        auto bytes = [&](std::string const& path) {
            auto f = fs.open(path);
            return std::string(reinterpret_cast<char const*>(f->data()), f->size());
        };
        std::vector<ziptest::Entry> zip{{"fonts/" + locale + ".strings", std::string(table.begin(), table.end())},
                                        {"fonts/" + locale + ".fonts", bytes("fonts/en_US.fonts")}};
        for (size_t i = 0; i < fonts->pages().size(); ++i)
            zip.emplace_back("fonts/" + locale + "_" + std::to_string(i) + ".png",
                             bytes("fonts/en_US_" + std::to_string(i) + ".png"));
        auto const file = std::filesystem::temp_directory_path() / ("zelv-credits-" + std::to_string(getpid()) + ".zip");
        ziptest::writeFile(file, ziptest::build(zip));
        EXPECT_NE(fs.mount(file.string()), nullptr);
        std::filesystem::remove(file);
        return std::make_unique<Fonts::Context>(graphics.get(), "fonts/", locale);
    }
    Credits credits(Fonts::Context* f, std::function<void()> const& onEnd = [] {}) {
        return Credits(graphics.get(), audio, f, onEnd, glm::vec4(1.0f), 2, 1.0f);
    }
};

TEST_F(Pages, CreditsWalkGapsMissingTextsAndTheSwap) {
    auto f = language("xa_XA", {{"credits_header_0", "Team"},
                                {"credits_just_names_0", "One\nTwo"},
                                {"credits_header_1", "Roles"},
                                {"credits_roles_1", "Lead\nArt"},
                                {"credits_names_1", "Ada Quill\nBram Ostrova"},
                                {"credits_header_2_amazon_only", "Store people here"},
                                {"credits_names_2", "Never shown at all"},
                                {"credits_header_3", "Half"},
                                {"credits_roles_3", "Music"},
                                {"credits_header_5", "Past the end of the list"}});
    Credits::setSeedForTesting(1);
    Credits const c = credits(f.get());
    // Entry 2 is skipped, 3's missing names read "String not found", 5 is after the end (no 4).
    Fonts::TextMesh alone;
    for (auto const& [text, bold] : {std::pair{"Team", false}, {"One\nTwo", true}, {"Roles", false},
                                     {"Lead\nArt", false}, {"Ada Quill\nBram Ostrova", true}, {"Half", false},
                                     {"Music", false}, {"String not found", true}})
        Fonts::layoutText(f->font(bold ? Fonts::FontStyle::creditsBold : Fonts::FontStyle::credits), alone,
                          glm::vec3(0.0f), text, Fonts::alignLeft, glm::vec4(1.0f), glm::mat4(1.0f), 1.0f);
    EXPECT_EQ(glyphs(c.mesh()).size(), glyphs(alone).size());
    // 50 from each header to its body, the body's own lines, 50 to the next header.
    float const line = -Fonts::layoutText(f->font(Fonts::FontStyle::creditsBold), alone, glm::vec3(0.0f), "a\nb",
                                          Fonts::alignLeft, glm::vec4(1.0f), glm::mat4(1.0f), 1.0f).y;
    ASSERT_GT(line, 0.0f);
    EXPECT_NEAR(c.bottom(), -10.0f - 3 * 100.0f - 2 * line, 0.5f);

    // The swap trades the two people; the coin is fixed by the seed, and the two names differ in
    // length, so a swap moves the glyphs.
    EXPECT_EQ(Credits::swapNames("Ada Quill\nBram Ostrova\nAda Quill"), "Bram Ostrova\nAda Quill\nAda Quill");
    EXPECT_EQ(Credits::swapNames("Only Ada Quill"), "Only Bram Ostrova");
    bool seen[2] = {false, false};
    for (uint32_t seed = 0; seed < 16; ++seed) {
        Credits::setSeedForTesting(seed);
        Credits const a = credits(f.get()), b = credits(f.get());
        EXPECT_EQ(a.swapped(), b.swapped());
        seen[a.swapped()] = true;
        EXPECT_EQ(glyphs(a.mesh()) == glyphs(c.mesh()), a.swapped() == c.swapped());
    }
    EXPECT_TRUE(seen[0] && seen[1]);
}

TEST_F(Pages, EmptyCreditsEndByTheScrollAtSixtyFrames) {
    // No header 0 in any form: an empty text that still scrolls until its end passes the middle.
    auto f = language("xb_XB", {{"credits_header_1", "Never reached"}});
    int ends = 0;
    // The owner may drop the credits from the end callback.
    std::unique_ptr<Credits> owned;
    owned = std::make_unique<Credits>(credits(f.get(), [&] { ++ends, owned.reset(); }));
    Credits& c = *owned;
    EXPECT_TRUE(c.mesh().empty());
    c.start();
    int frames = 0;
    while (c.state() == Credits::kFadingIn && frames < 1000) c.update(kFrame), ++frames;
    EXPECT_NEAR(frames * kFrame, 900.0f, 2 * kFrame);  // a full fade of about 889 ms
    for (frames = 0; c.state() == Credits::kScrolling && frames < 2000; ++frames) {
        c.update(kFrame);
        if (frames == 59) {
            EXPECT_FLOAT_EQ(c.offset(), 30.0f);  // 30 px a second
        }
    }
    // Past H/2 + 20 = 380 pixels: 761 frames, about 12.7 s.
    EXPECT_EQ(frames, 761);
    EXPECT_FLOAT_EQ(c.offset(), 381.0f);
    while (owned && frames < 3000) c.update(kFrame), ++frames;
    EXPECT_EQ(ends, 1);
}

TEST_F(Pages, CreditsMenuSkipsOnlyWhileScrolling) {
    int backs = 0;
    MainMenuCreditsMenu menu(graphics.get(), audio, fonts.get(), [&] { ++backs; });
    Credits& c = menu.credits();
    GamepadState a;
    a.buttonA = 1;
    std::function<void()> const skips[] = {[&] { menu.gamepadInput(a); },
                                           [&] { menu.touchEnded(glm::vec2(640, 360), 0); },
                                           [&] { menu.buttonPressed(ViewController::buttonPause); }};
    for (int showing = 0; showing < 3; ++showing) {
        menu.reset();
        menu.open();
        EXPECT_FLOAT_EQ(c.offset(), 0.0f);  // from the bottom again
        for (auto const& skip : skips) skip();
        EXPECT_EQ(c.state(), Credits::kFadingIn);
        for (int i = 0; i < 80; ++i) menu.update(kFrame);
        menu.buttonPressed(ViewController::buttonPause + 1);
        EXPECT_EQ(c.state(), Credits::kScrolling);
        skips[showing]();
        EXPECT_EQ(c.state(), Credits::kFadingOut);
        float const at = c.offset();
        for (int i = 0; i < 10; ++i) menu.update(kFrame);
        EXPECT_FLOAT_EQ(c.offset(), at + 5.0f);  // still moving while it fades
        frame(glm::vec4(0.0f), [&] { menu.draw(graphics.get(), shader.get(), screenProjection()); });
        for (int i = 0; i < 100; ++i) menu.update(kFrame);  // to the end and past it: one call back
        EXPECT_EQ(backs, showing + 1);
    }
}

TEST_F(Pages, LeaderboardSignedInSignedOutAndAgain) {
    int backs = 0;
    MainMenuLeaderboardMenu menu(graphics.get(), audio, fonts.get(), [&] { ++backs; }, true);
    ASSERT_TRUE(loadTextures());
    MainMenuLeaderboardMenu::CloseCallback close;
    auto opener = [&](MainMenuLeaderboardMenu::CloseCallback const& onClose) { close = onClose; };
    auto frames = [&](int n) {
        for (int i = 0; i < n; ++i) menu.update(10.0f), menu.preDraw(), loadTextures();
    };

    // Signed in: the boards show and nothing else; their close returns at once.
    menu.reset();
    menu.open(opener);
    frames(10);
    EXPECT_FALSE(menu.box()->isActive());
    EXPECT_EQ(backs, 0);
    close(true);
    EXPECT_EQ(backs, 1);

    // Signed out, through the platform (no shell here answers "not shown" at once): the box,
    // and the way back only on the frame after it has fully closed.
    menu.reset();
    menu.open(MainMenuLeaderboardMenu::gameCenterOpener());
    for (int i = 0; i < 200 && menu.box()->state() != ConfirmationBox::kInteractive; ++i) frames(1);
    ASSERT_EQ(menu.box()->state(), ConfirmationBox::kInteractive);
    GamepadState a;
    a.buttonA = 1;
    menu.gamepadInput(GamepadState{});
    menu.gamepadInput(a);
    int closing = 0;
    for (; menu.box()->isActive() && closing < 300; ++closing) frames(1);
    EXPECT_GT(closing, 10);
    EXPECT_EQ(backs, 1);
    frames(1);
    EXPECT_EQ(backs, 2);

    // A second visit waits for its own close instead of leaving on its first frame.
    menu.reset();
    menu.open(opener);
    frames(30);
    EXPECT_EQ(backs, 2);
    close(true);
    EXPECT_EQ(backs, 3);

    // Without the box, "not shown" goes straight back.
    MainMenuLeaderboardMenu bare(graphics.get(), audio, fonts.get(), [&] { ++backs; }, false);
    bare.open(opener);
    close(false);
    EXPECT_EQ(backs, 4);
}

}  // namespace
