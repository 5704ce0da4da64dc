// Loading the per-language tables through the file system: present, missing and damaged files.
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "fonts/Context.h"
#include "fonts/FontTable.h"
#include "fonts/Layout.h"
#include "fonts/MurmurHash2.h"
#include "graphics/Context.h"
#include "testing/TestPaths.h"

using namespace Fonts;

namespace {

void writeFile(std::filesystem::path const& path, std::vector<uint8_t> const& bytes) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<char const*>(bytes.data()), std::streamsize(bytes.size()));
}

FontTable sampleTable() {
    FontTable t;
    t.pageFlags = {1, 0};
    for (float size : {10.0f, 20.0f}) {
        FontRecord f;
        f.lineHeight = size;
        f.lineSpacing = 1;
        Glyph g;
        g.advance = size;
        g.width = g.height = size;
        f.glyphs['x'] = g;
        t.fonts.push_back(f);
    }
    t.styles = {{"hud", 1}, {"regularMenu", 0}};
    t.fontPages = {{0, 1}, {1, 0}};
    return t;
}

struct Folder {
    testing_support::TempDir dir;
    std::string directory() const { return dir.path().string() + "/"; }
};

}  // namespace

TEST(FontsContext, LoadsTablesAndResolvesStyles) {
    Folder f;
    FontTable t = sampleTable();
    writeFile(f.dir / "de_DE.fonts", t.write());
    std::vector<StringTable::Entry> entries = {{stringKeyHash("yesPopup"), "Ja"}, {stringKeyHash("noPopup"), "Nein"}};
    std::sort(entries.begin(), entries.end());
    writeFile(f.dir / "de_DE.strings", StringTable::write(entries));

    Context c(nullptr, f.directory(), "de_DE");
    ASSERT_EQ(c.fonts().size(), 2u);
    ASSERT_EQ(c.pages().size(), 2u);
    EXPECT_EQ(c.pages()[0].options(), TextureOptions(1, 1, 0, 0));
    EXPECT_EQ(c.pages()[1].options(), TextureOptions(0, 0, 0, 0));
    EXPECT_EQ(c.pages()[0].hash(), Graphics::Context::hashName(f.directory() + "de_DE_0.png"));
    EXPECT_EQ(c.pages()[1].hash(), Graphics::Context::hashName(f.directory() + "de_DE_1.png"));

    Font hud = c.font("hud");
    EXPECT_EQ(hud.font, &c.fonts()[1]);
    EXPECT_EQ(hud.page, &c.pages()[0]);
    // An unknown style takes font 0 and font 0's page.
    Font unknown = c.font("noSuchStyle");
    EXPECT_EQ(unknown.font, &c.fonts()[0]);
    EXPECT_EQ(unknown.page, &c.pages()[1]);
    // Screens name styles from the one table, which the data tool writes the files from.
    EXPECT_EQ(c.font(FontStyle::hud).font, &c.fonts()[1]);
    EXPECT_EQ(c.font(FontStyle::regularMenu).font, &c.fonts()[0]);
    EXPECT_EQ(c.font(FontStyle::subtitles).font, &c.fonts()[0]);  // not in this file
    std::set<std::string_view> const names(fontStyleNames.begin(), fontStyleNames.end());
    EXPECT_EQ(names.size(), fontStyleCount);
    EXPECT_EQ(fontStyleName(FontStyle::mesquiteSmallHeader), "mesquiteSmallHeader");

    EXPECT_EQ(c.localizedString("yesPopup"), "Ja");
    EXPECT_EQ(c.localizedString("maybePopup"), "String not found");
    EXPECT_EQ(c.localizedString(""), "");
    EXPECT_TRUE(c.hasString("noPopup"));
    EXPECT_FALSE(c.hasString("maybePopup"));
}

TEST(FontsContext, MissingFilesGiveASafeEmptyFont) {
    Folder f;
    Context c(nullptr, f.directory(), "ja_JP");
    EXPECT_TRUE(c.fonts().empty());
    EXPECT_TRUE(c.pages().empty());
    Font font = c.font("hud");
    ASSERT_NE(font.font, nullptr);
    EXPECT_TRUE(font.font->glyphs.empty());
    EXPECT_EQ(font.page, nullptr);
    TextMesh mesh;
    layoutText(font, mesh, {0, 0, 0}, "x\ny", alignCentre, glm::vec4(1), glm::mat4(1), 1.0f);
    EXPECT_TRUE(mesh.empty());
    EXPECT_EQ(c.localizedString("yesPopup"), "String not found");
    EXPECT_EQ(c.localizedString(""), "");
}

TEST(FontsContext, DamagedTablesKeepWhatWasRead) {
    Folder f;
    auto bytes = sampleTable().write();
    bytes.resize(bytes.size() - 6);  // cut inside fontPages
    writeFile(f.dir / "fr_FR.fonts", bytes);
    std::vector<StringTable::Entry> entries = {{1, "one"}, {2, "two"}};
    auto strings = StringTable::write(entries);
    strings.resize(strings.size() - 1);
    writeFile(f.dir / "fr_FR.strings", strings);

    std::unique_ptr<Context> c;
    ASSERT_NO_THROW(c = std::make_unique<Context>(nullptr, f.directory(), "fr_FR"));
    EXPECT_EQ(c->fonts().size(), 2u);
    EXPECT_EQ(c->styles().size(), 2u);
    EXPECT_EQ(c->pages().size(), 2u);
    EXPECT_EQ(c->fontPages().size(), 1u);  // font 1's page was lost
    EXPECT_EQ(c->strings().entries().size(), 1u);
    // Font 1 lost its page: its handle has the font but a null page; font 0 is whole.
    EXPECT_EQ(c->font("hud").font, &c->fonts()[1]);
    EXPECT_EQ(c->font("hud").page, nullptr);
    EXPECT_EQ(c->font("regularMenu").page, &c->pages()[1]);
}

TEST(FontsContext, PageIndicesAreBoundsChecked) {
    Folder f;
    FontTable t = sampleTable();
    t.fontPages = {{0, 7}, {1, 0}};  // page 7 does not exist
    t.styles["ghost"] = 9;           // nor does font 9
    writeFile(f.dir / "it_IT.fonts", t.write());
    Context c(nullptr, f.directory(), "it_IT");
    EXPECT_EQ(c.font("regularMenu").page, nullptr);
    EXPECT_EQ(c.font("regularMenu").font, &c.fonts()[0]);
    Font ghost = c.font("ghost");
    EXPECT_EQ(ghost.page, nullptr);
    ASSERT_NE(ghost.font, nullptr);
    EXPECT_TRUE(ghost.font->glyphs.empty());

    // No pages at all: fonts and styles still load.
    t.pageFlags.clear();
    writeFile(f.dir / "pt_BR.fonts", t.write());
    Context none(nullptr, f.directory(), "pt_BR");
    EXPECT_TRUE(none.pages().empty());
    EXPECT_EQ(none.fonts().size(), 2u);
    EXPECT_EQ(none.font("hud").page, nullptr);
}
