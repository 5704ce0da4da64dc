#pragma once
// A font handle: the font's atlas page and its record, both owned by the Fonts::Context.

namespace Fonts {

class PageTexture;

struct FontRecord;

struct Font {
    PageTexture const* page = nullptr;  // null: the font has no page to draw from
    FontRecord const* font = nullptr;
};

}  // namespace Fonts
