#pragma once
// A font handle: the font's atlas page and its record, both owned by the Fonts::Context.

namespace Graphics {
class Texture;
}

namespace Fonts {

struct FontRecord;

struct Font {
    Graphics::Texture const* page = nullptr;  // null: the font has no page to draw from
    FontRecord const* font = nullptr;
};

}  // namespace Fonts
