// The per-language font tables fonts/<locale>.fonts and their 1024 x 1024 page images
// fonts/<locale>_<page>.png. Glyphs are rasterised with FreeType from Debian's DejaVu fonts,
// with WenQuanYi Micro Hei for what DejaVu lacks (Japanese, Korean, Chinese). Each language
// gets the characters its strings and subtitles use, plus printable ASCII.
#include <ft2build.h>
#include FT_FREETYPE_H
#include <png.h>
#include <utf8.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <set>

#include "fonts/FontStyle.h"
#include "fonts/FontTable.h"
#include "fonts/StringTable.h"
#include "tools/datatool/DataTool.h"
#include "tools/datatool/Locales.h"

namespace {

constexpr int pageSide = 1024;
constexpr int padding = 2;
std::string const dejavu = "/usr/share/fonts/truetype/dejavu/";
std::string const cjkFace = "/usr/share/fonts/truetype/wqy/wqy-microhei.ttc";

struct FontFace {
    char const* file;  // under the DejaVu folder
    int pixels;
};

// One font per style the screens ask for; font 0 is also what an unknown style gets.
struct StyleFont {
    Fonts::FontStyle style;
    FontFace font;
};
using Fonts::FontStyle;
constexpr StyleFont styleFonts[] = {
    {FontStyle::regularMenu, {"DejaVuSans.ttf", 24}},
    {FontStyle::regularMenuBold, {"DejaVuSans-Bold.ttf", 22}},
    {FontStyle::popupButton, {"DejaVuSans-Bold.ttf", 34}},
    {FontStyle::regularNeon, {"DejaVuSans.ttf", 26}},
    {FontStyle::mesquiteHeader, {"DejaVuSerif-Bold.ttf", 52}},
    {FontStyle::mesquiteSmallHeader, {"DejaVuSerif-Bold.ttf", 36}},
    {FontStyle::hud, {"DejaVuSans-Bold.ttf", 32}},
    {FontStyle::largeNumber, {"DejaVuSans-Bold.ttf", 72}},
    {FontStyle::backgroundDownloader, {"DejaVuSans.ttf", 22}},
    {FontStyle::largeHeadline, {"DejaVuSerif-Bold.ttf", 60}},
    {FontStyle::credits, {"DejaVuSans.ttf", 26}},
    {FontStyle::creditsBold, {"DejaVuSans-Bold.ttf", 26}},
    {FontStyle::boardsText, {"DejaVuSansCondensed.ttf", 24}},
    {FontStyle::boardsLegendText, {"DejaVuSansCondensed.ttf", 20}},
    {FontStyle::boardsHeader, {"DejaVuSansCondensed-Bold.ttf", 32}},
    {FontStyle::subtitles, {"DejaVuSans.ttf", 24}},
};

// Every style of the engine's table gets a font, once.
constexpr bool everyStyleOnce() {
    std::array<int, Fonts::fontStyleCount> seen{};
    for (auto const& s : styleFonts) ++seen[std::size_t(s.style)];
    for (int n : seen)
        if (n != 1) return false;
    return true;
}
static_assert(everyStyleOnce(), "one font for every style");

struct Bitmap {
    uint32_t codePoint = 0;
    Fonts::Glyph glyph;
    int width = 0, height = 0;
    std::vector<uint8_t> coverage;
    int x = 0, y = 0;  // place in the page
};

// Shelves filled left to right, opened top to bottom.
struct Packer {
    struct Shelf {
        int y, height, x;
    };
    std::vector<Shelf> shelves;
    int top = 0;

    bool place(Bitmap& b) {
        int w = b.width + padding, h = b.height + padding;
        for (auto& s : shelves) {
            if (h <= s.height && s.x + w <= pageSide) {
                b.x = s.x;
                b.y = s.y;
                s.x += w;
                return true;
            }
        }
        if (top + h > pageSide || w > pageSide) return false;
        shelves.push_back({top, h, w});
        b.x = 0;
        b.y = top;
        top += h;
        return true;
    }
};

struct Page {
    Packer packer;
    std::vector<uint8_t> alpha = std::vector<uint8_t>(pageSide * pageSide, 0);
};

struct FaceDeleter {
    void operator()(FT_Face f) const { FT_Done_Face(f); }
};
using Face = std::unique_ptr<std::remove_pointer_t<FT_Face>, FaceDeleter>;

class Rasteriser {
public:
    explicit Rasteriser(datatool::Context& ctx) : ctx_(ctx) {
        if (FT_Init_FreeType(&library_)) ctx.error("fonts: FreeType does not start");
    }
    ~Rasteriser() {
        faces_.clear();
        if (library_) FT_Done_FreeType(library_);
    }

    FT_Face face(std::string const& path) {
        auto it = faces_.find(path);
        if (it != faces_.end()) return it->second.get();
        FT_Face f = nullptr;
        if (!library_ || FT_New_Face(library_, path.c_str(), 0, &f)) {
            ctx_.error("fonts: cannot open " + path);
            f = nullptr;
        }
        return faces_.emplace(path, Face(f)).first->second.get();
    }

    // Renders the glyphs of one font; false when a face cannot be opened.
    bool render(FontFace const& wanted, std::set<uint32_t> const& codePoints, Fonts::FontRecord& record,
                std::vector<Bitmap>& bitmaps, std::set<uint32_t>& uncovered) {
        FT_Face primary = face(dejavu + wanted.file);
        FT_Face fallback = face(cjkFace);
        if (!primary || !fallback) return false;
        for (FT_Face f : {primary, fallback}) FT_Set_Pixel_Sizes(f, 0, wanted.pixels);
        record.baseline = 0;  // the line origin is the baseline
        record.lineHeight = float(primary->size->metrics.height >> 6);
        record.lineSpacing = 1.0f;
        for (uint32_t cp : codePoints) {
            FT_Face f = FT_Get_Char_Index(primary, cp) ? primary : FT_Get_Char_Index(fallback, cp) ? fallback : nullptr;
            if (!f) {
                uncovered.insert(cp);
                continue;
            }
            if (FT_Load_Char(f, cp, FT_LOAD_RENDER) || f->glyph->bitmap.pixel_mode != FT_PIXEL_MODE_GRAY) {
                uncovered.insert(cp);
                continue;
            }
            FT_GlyphSlot g = f->glyph;
            Bitmap b;
            b.codePoint = cp;
            b.width = int(g->bitmap.width);
            b.height = int(g->bitmap.rows);
            b.coverage.resize(std::size_t(b.width) * b.height);
            for (int row = 0; row < b.height; ++row)
                std::copy_n(g->bitmap.buffer + row * g->bitmap.pitch, b.width, b.coverage.data() + row * b.width);
            b.glyph.advance = float((g->advance.x + 32) >> 6);
            b.glyph.width = float(b.width);
            b.glyph.height = float(b.height);
            b.glyph.offsetX = float(g->bitmap_left);
            b.glyph.offsetY = float(-g->bitmap_top);
            bitmaps.push_back(std::move(b));
        }
        return true;
    }

private:
    datatool::Context& ctx_;
    FT_Library library_ = nullptr;
    std::map<std::string, Face> faces_;
};

bool packInto(Page& page, std::vector<Bitmap>& bitmaps) {
    Packer trial = page.packer;
    for (auto& b : bitmaps)
        if (!trial.place(b)) return false;
    page.packer = trial;
    for (auto const& b : bitmaps)
        for (int row = 0; row < b.height; ++row)
            std::copy_n(b.coverage.data() + row * b.width, b.width,
                        page.alpha.data() + (b.y + row) * pageSide + b.x);
    return true;
}

void writePngRow(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<datatool::Bytes*>(png_get_io_ptr(png));
    out->insert(out->end(), data, data + length);
}

// White RGBA with the coverage as alpha: the text colour comes from the shader.
datatool::Bytes encodePage(Page const& page) {
    datatool::Bytes out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, writePngRow, nullptr);
    png_set_compression_level(png, 6);
    png_set_IHDR(png, info, pageSide, pageSide, 8, PNG_COLOR_TYPE_RGBA, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    std::vector<uint8_t> row(pageSide * 4);
    for (int y = 0; y < pageSide; ++y) {
        for (int x = 0; x < pageSide; ++x) {
            row[x * 4 + 0] = row[x * 4 + 1] = row[x * 4 + 2] = 255;
            row[x * 4 + 3] = page.alpha[y * pageSide + x];
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

std::set<uint32_t> codePointsOf(datatool::Context& ctx, std::string const& locale) {
    std::set<uint32_t> cps;
    for (uint32_t c = 0x20; c < 0x7f; ++c) cps.insert(c);
    cps.insert(0xFFFD);  // shown in place of damaged text
    auto addText = [&](std::string const& text) {
        std::string valid;
        utf8::replace_invalid(text.begin(), text.end(), std::back_inserter(valid));
        for (auto it = valid.begin(); it != valid.end();) {
            uint32_t cp = utf8::next(it, valid.end());
            if (cp >= 0x20 && cp != 0x7f) cps.insert(cp);
        }
    };
    auto const& entries = ctx.pak0.entries();
    auto strings = entries.find("fonts/" + locale + ".strings");
    if (strings == entries.end()) {
        ctx.error("fonts: no string table for " + locale + " (the strings generator runs first)");
    } else {
        Fonts::StringTable table;
        table.read(strings->second.data(), strings->second.size());
        for (auto const& e : table.entries()) addText(e.second);
    }
    // Every cut-scene's subtitles in this language.
    std::string const suffix = "_" + locale + ".srt";
    for (auto const& [path, bytes] : entries) {
        if (path.rfind("music/", 0) == 0 && path.size() > suffix.size() &&
            path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0)
            addText(std::string(bytes.begin(), bytes.end()));
    }
    return cps;
}

void buildLocale(datatool::Context& ctx, Rasteriser& rasteriser, std::string const& locale) {
    std::set<uint32_t> cps = codePointsOf(ctx, locale);
    Fonts::FontTable table;
    std::vector<Page> pages;
    std::set<uint32_t> uncovered;
    std::map<std::pair<std::string, int>, uint32_t> fontOf;  // one font per face and size
    for (auto const& wanted : styleFonts) {
        auto key = std::make_pair(std::string(wanted.font.file), wanted.font.pixels);
        if (auto it = fontOf.find(key); it != fontOf.end()) {
            table.styles.emplace(Fonts::fontStyleName(wanted.style), it->second);
            continue;
        }
        // A font lives on one page: when its glyphs do not fit on an empty page, it gets smaller.
        FontFace font = wanted.font;
        for (;;) {
            Fonts::FontRecord record;
            std::vector<Bitmap> bitmaps;
            if (!rasteriser.render(font, cps, record, bitmaps, uncovered)) return;
            std::stable_sort(bitmaps.begin(), bitmaps.end(),
                             [](Bitmap const& a, Bitmap const& b) { return a.height > b.height; });
            std::size_t pageIndex = 0;
            while (pageIndex < pages.size() && !packInto(pages[pageIndex], bitmaps)) ++pageIndex;
            if (pageIndex == pages.size()) {
                pages.emplace_back();
                if (!packInto(pages.back(), bitmaps)) {
                    pages.pop_back();
                    font.pixels -= 4;
                    std::printf("datatool: fonts: %s %s does not fit a page; trying %d px\n", locale.c_str(),
                                std::string(Fonts::fontStyleName(wanted.style)).c_str(), font.pixels);
                    if (font.pixels < 8) {
                        ctx.error("fonts: " + locale + " " + std::string(Fonts::fontStyleName(wanted.style)) +
                                  " fits no page");
                        return;
                    }
                    continue;
                }
            }
            for (auto& b : bitmaps) {
                float u0 = float(b.x) / pageSide, v0 = float(b.y) / pageSide;
                float u1 = float(b.x + b.width) / pageSide, v1 = float(b.y + b.height) / pageSide;
                float const uv[8] = {u0, v0, u1, v0, u0, v1, u1, v1};
                std::copy(uv, uv + 8, b.glyph.texCoords);
                record.glyphs.emplace(b.codePoint, b.glyph);
            }
            uint32_t index = uint32_t(table.fonts.size());
            table.fonts.push_back(std::move(record));
            table.fontPages.emplace(index, uint32_t(pageIndex));
            table.styles.emplace(Fonts::fontStyleName(wanted.style), index);
            fontOf.emplace(key, index);
            break;
        }
    }
    if (!uncovered.empty()) {
        std::string list;
        for (uint32_t cp : uncovered) {
            char buf[16];
            std::snprintf(buf, sizeof buf, " U+%04X", cp);
            list += buf;
        }
        std::printf("datatool: fonts: %s: no font has%s\n", locale.c_str(), list.c_str());
    }
    for (std::size_t i = 0; i < pages.size(); ++i) {
        table.pageFlags.push_back(1);  // linear filtering
        auto png = encodePage(pages[i]);
        if (png.empty()) ctx.error("fonts: cannot encode page " + std::to_string(i) + " of " + locale);
        ctx.pak0.add("fonts/" + locale + "_" + std::to_string(i) + ".png", std::move(png));
    }
    ctx.pak0.add("fonts/" + locale + ".fonts", table.write());
    std::printf("datatool: fonts: %s: %zu fonts, %zu characters, %zu pages\n", locale.c_str(), table.fonts.size(),
                cps.size(), pages.size());
}

void build(datatool::Context& ctx) {
    Rasteriser rasteriser(ctx);
    for (auto locale : datatool::shippedLocales) buildLocale(ctx, rasteriser, std::string(locale));
}

datatool::Register reg("fonts", 20, build);

}  // namespace
