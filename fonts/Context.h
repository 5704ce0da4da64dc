#pragma once
// The fonts and localized strings of the player's language: per-language font and string tables
// and the atlas page textures, loaded once from the data archives.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fonts/Font.h"
#include "fonts/FontRecord.h"
#include "fonts/FontStyle.h"
#include "graphics/Texture.h"
#include "fonts/StringTable.h"

namespace Graphics {
class Context;
}

namespace Fonts {

class Context {
public:
    // Loads directory + locale + ".fonts" / ".strings" and the pages directory + locale + "_" +
    // page + ".png", with the locale of the player's language.
    Context(Graphics::Context* graphics, std::string const& directory);
    Context(Graphics::Context* graphics, std::string const& directory, std::string const& locale);
    Context(Context const&) = delete;
    Context& operator=(Context const&) = delete;

    // The font of a style; an unknown style gives font 0. Always safe: a language without fonts
    // gives an empty font, and a font without a loadable page a null page.
    Font font(std::string const& style) const;
    Font font(FontStyle style) const { return font(std::string(fontStyleName(style))); }
    std::string const& localizedString(std::string const& key) const { return strings_.get(key); }
    bool hasString(std::string const& key) const { return strings_.contains(key); }

    std::vector<FontRecord> const& fonts() const { return fonts_; }
    std::map<std::string, uint32_t> const& styles() const { return styles_; }
    std::map<uint32_t, uint32_t> const& fontPages() const { return fontPages_; }
    std::vector<Graphics::Texture> const& pages() const { return pages_; }
    StringTable const& strings() const { return strings_; }

private:
    std::vector<FontRecord> fonts_;
    std::map<std::string, uint32_t> styles_;
    std::map<uint32_t, uint32_t> fontPages_;
    std::vector<Graphics::Texture> pages_;
    StringTable strings_;
};

}  // namespace Fonts
