#pragma once
// The languages the game ships, as the locale names of their per-language files.
#include <array>
#include <string_view>

namespace datatool {

inline constexpr std::string_view baseLocale = "en_US";
inline constexpr std::array<std::string_view, 11> shippedLocales = {
    "en_US", "de_DE", "es_ES", "fr_FR", "it_IT", "ja_JP", "ko_KR", "pt_BR", "ru_RU", "zh_CN", "zh_TW"};

}  // namespace datatool
