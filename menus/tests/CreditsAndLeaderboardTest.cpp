// The main menu's credits and leaderboards on real GL: the credits walk over a string table of
// the test's own (gaps, store-only headers, missing texts), the frame-counted scroll and its end,
// skipping, the name swap under a fixed seed; the leaderboard signed in, signed out and revisited.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstring>
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

size_t vertexCount(Fonts::TextMesh const& mesh) {
    size_t n = 0;
    for (auto const& b : mesh.batches) n += b.vertices.size();
    return n;
}

bool sameGlyphs(Fonts::TextMesh const& a, Fonts::TextMesh const& b) {
    if (a.batches.size() != b.batches.size()) return false;
    for (size_t i = 0; i < a.batches.size(); ++i) {
        auto const& x = a.batches[i].vertices;
        auto const& y = b.batches[i].vertices;
        if (x.size() != y.size() || std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) != 0) return false;
    }
    return true;
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
    // Vertices of these texts laid out on their own.
    size_t verticesOf(Fonts::Context& f, std::vector<std::pair<std::string, bool>> const& texts) {
        Fonts::TextMesh mesh;
        for (auto const& [text, bold] : texts)
            Fonts::layoutText(f.font(bold ? Fonts::FontStyle::creditsBold : Fonts::FontStyle::credits), mesh,
                              glm::vec3(0.0f), text, Fonts::alignLeft, glm::vec4(1.0f), glm::mat4(1.0f), 1.0f);
        return vertexCount(mesh);
    }
};

TEST_F(Pages, CreditsWalkGapsAndMissingTexts) {
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
    Credits c(graphics.get(), audio, f.get(), [] {}, glm::vec4(1.0f), 2, 1.0f);
    // Entry 2 is skipped, 3's missing names read "String not found", 5 is after the end (no 4).
    EXPECT_EQ(vertexCount(c.mesh()), verticesOf(*f, {{"Team", false},
                                                     {"One\nTwo", true},
                                                     {"Roles", false},
                                                     {"Lead\nArt", false},
                                                     {"Ada Quill\nBram Ostrova", true},
                                                     {"Half", false},
                                                     {"Music", false},
                                                     {"String not found", true}}));
    // 50 from each header to its body, the body's own lines, 50 to the next header.
    Fonts::TextMesh scratch;
    float const line = -Fonts::layoutText(f->font(Fonts::FontStyle::creditsBold), scratch, glm::vec3(0.0f), "a\nb",
                                          Fonts::alignLeft, glm::vec4(1.0f), glm::mat4(1.0f), 1.0f).y;
    ASSERT_GT(line, 0.0f);
    EXPECT_NEAR(c.bottom(), -10.0f - 3 * 100.0f - 2 * line, 0.5f);

    // The swap trades the two people; the coin is fixed by the seed.
    EXPECT_EQ(Credits::swapNames("Ada Quill\nBram Ostrova\nAda Quill"), "Bram Ostrova\nAda Quill\nAda Quill");
    EXPECT_EQ(Credits::swapNames("Only Ada Quill"), "Only Bram Ostrova");
    bool seen[2] = {false, false};
    for (uint32_t seed = 0; seed < 16; ++seed) {
        Credits::setSeedForTesting(seed);
        Credits a(graphics.get(), audio, f.get(), [] {}, glm::vec4(1.0f), 2, 1.0f);
        Credits b(graphics.get(), audio, f.get(), [] {}, glm::vec4(1.0f), 2, 1.0f);
        EXPECT_EQ(a.swapped(), b.swapped());
        seen[a.swapped()] = true;
        // The two names differ in length, so a swap moves the glyphs.
        EXPECT_EQ(sameGlyphs(a.mesh(), c.mesh()), a.swapped() == c.swapped());
    }
    EXPECT_TRUE(seen[0] && seen[1]);
}

TEST_F(Pages, EmptyCreditsEndByTheScrollAtSixtyFrames) {
    // No header 0 in any form: an empty text that still scrolls until its end passes the middle.
    auto f = language("xb_XB", {{"credits_header_1", "Never reached"}});
    int ends = 0;
    // The owner may drop the credits from the end callback.
    std::unique_ptr<Credits> owned;
    owned = std::make_unique<Credits>(graphics.get(), audio, f.get(), [&] { ++ends, owned.reset(); }, glm::vec4(1.0f),
                                      2, 1.0f);
    Credits& c = *owned;
    EXPECT_TRUE(c.mesh().empty());
    EXPECT_FLOAT_EQ(c.bottom(), -10.0f);
    c.start();
    int frames = 0;
    while (c.state() == Credits::kFadingIn && frames < 1000) c.update(kFrame), ++frames;
    EXPECT_NEAR(frames * kFrame, 900.0f, 2 * kFrame);  // a full fade of about 889 ms
    frames = 0;
    while (c.state() == Credits::kScrolling && frames < 2000) {
        c.update(kFrame), ++frames;
        if (frames == 60) {
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
    EXPECT_LT(c.bottom(), -300.0f);  // the sample credits
    GamepadState a;
    a.buttonA = 1;
    for (int showing = 0; showing < 2; ++showing) {
        menu.reset();
        menu.open();
        EXPECT_FLOAT_EQ(c.offset(), 0.0f);  // from the bottom again
        menu.touchEnded(glm::vec2(640, 360), 0);
        menu.gamepadInput(a);
        menu.buttonPressed(ViewController::buttonPause);
        EXPECT_EQ(c.state(), Credits::kFadingIn);
        while (c.state() == Credits::kFadingIn) menu.update(kFrame);
        for (int i = 0; i < 20; ++i) menu.update(kFrame);
        menu.gamepadInput(GamepadState{});
        menu.buttonPressed(ViewController::buttonPause + 1);
        EXPECT_EQ(c.state(), Credits::kScrolling);
        if (showing == 0)
            menu.gamepadInput(a);
        else
            menu.touchEnded(glm::vec2(640, 360), 0);
        EXPECT_EQ(c.state(), Credits::kFadingOut);
        float const at = c.offset();
        for (int i = 0; i < 10; ++i) menu.update(kFrame);
        EXPECT_FLOAT_EQ(c.offset(), at + 5.0f);  // still moving while it fades
        menu.preDraw();
        frame(glm::vec4(0.0f), [&] { menu.draw(graphics.get(), shader.get(), screenProjection()); });
        while (!c.isIdle()) menu.update(kFrame);
        for (int i = 0; i < 10; ++i) menu.update(kFrame);
        EXPECT_EQ(backs, showing + 1);
    }
}

TEST_F(Pages, LeaderboardSignedInSignedOutAndAgain) {
    int backs = 0;
    MainMenuLeaderboardMenu menu(graphics.get(), audio, fonts.get(), [&] { ++backs; }, true);
    ASSERT_TRUE(loadTextures());
    MainMenuLeaderboardMenu::CloseCallback pending;
    int opened = 0;
    auto opener = [&](MainMenuLeaderboardMenu::CloseCallback const& close) { ++opened, pending = close; };

    // Signed in: the boards show and nothing else; their close returns at once.
    menu.reset();
    menu.open(opener);
    EXPECT_EQ(opened, 1);
    for (int i = 0; i < 10; ++i) menu.update(10.0f);
    EXPECT_FALSE(menu.box()->isActive());
    EXPECT_EQ(backs, 0);
    pending(true);
    EXPECT_EQ(backs, 1);

    // Signed out, through the platform (no shell here answers "not shown" at once): the box,
    // and the way back only once it has fully closed.
    menu.reset();
    menu.open(MainMenuLeaderboardMenu::gameCenterOpener());
    EXPECT_TRUE(menu.box()->isActive());
    for (int i = 0; i < 200 && menu.box()->state() != ConfirmationBox::kInteractive; ++i) menu.update(10.0f), loadTextures();
    ASSERT_EQ(menu.box()->state(), ConfirmationBox::kInteractive);
    GamepadState a;
    a.buttonA = 1;
    menu.gamepadInput(GamepadState{});
    menu.gamepadInput(a);
    EXPECT_EQ(menu.state(), 1u);
    int frames = 0;
    while (menu.box()->isActive() && frames < 300) {
        EXPECT_EQ(backs, 1);
        menu.update(10.0f), ++frames;
        menu.preDraw();
    }
    EXPECT_EQ(backs, 1);
    menu.update(10.0f);  // the frame after the box has gone
    EXPECT_EQ(backs, 2);
    EXPECT_GT(frames, 10);  // the closing animation played

    // A second visit waits for its own close instead of leaving on its first frame.
    menu.reset();
    menu.open(opener);
    for (int i = 0; i < 30; ++i) menu.update(10.0f);
    EXPECT_EQ(backs, 2);
    pending(true);
    EXPECT_EQ(backs, 3);

    // Without the box, "not shown" goes straight back; an empty opener is a caller's error.
    MainMenuLeaderboardMenu bare(graphics.get(), audio, fonts.get(), [&] { ++backs; }, false);
    bare.open(opener);
    pending(false);
    EXPECT_EQ(backs, 4);
    EXPECT_THROW(bare.open(MainMenuLeaderboardMenu::Opener()), std::bad_function_call);
}

}  // namespace
