#pragma once
// The text styles that menus, the HUD and the game modes ask the fonts for, and the names the
// font tables store them under. One table for the engine and the data tool: a style is named by
// its enumerator, so a misspelt name cannot quietly fall back to font 0.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace Fonts {

enum class FontStyle : std::uint8_t {
    popupButton,
    regularNeon,
    regularMenu,
    regularMenuBold,
    mesquiteHeader,
    mesquiteSmallHeader,
    hud,
    largeNumber,
    backgroundDownloader,
    largeHeadline,
    credits,
    creditsBold,
    boardsText,
    boardsLegendText,
    boardsHeader,
    subtitles,
};

inline constexpr std::array<std::string_view, 16> fontStyleNames = {
    "popupButton",     "regularNeon",          "regularMenu",   "regularMenuBold", "mesquiteHeader", "mesquiteSmallHeader",
    "hud",             "largeNumber",          "backgroundDownloader", "largeHeadline",  "credits",        "creditsBold",
    "boardsText",      "boardsLegendText",     "boardsHeader",  "subtitles",
};
inline constexpr std::size_t fontStyleCount = fontStyleNames.size();
static_assert(std::size_t(FontStyle::subtitles) + 1 == fontStyleCount, "one name per style");

constexpr std::string_view fontStyleName(FontStyle style) { return fontStyleNames[std::size_t(style)]; }

}  // namespace Fonts
