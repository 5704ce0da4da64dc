#include "fonts/Context.h"

#include <cstdio>

#include "fonts/FontTable.h"
#include "os/FileSystem.h"
#include "os/services/PlatformServices.h"

namespace Fonts {
namespace {

void logLine(std::string const& message) { std::fprintf(stderr, "fonts: %s\n", message.c_str()); }

// Reads a table from the archives. A damaged table keeps what was read before the damage: some
// text beats none.
template <class Table>
void readTable(std::string const& path, Table& table) {
    auto& fs = Singleton<FileSystem>::instance();
    if (!fs.exists(path)) {
        logLine(path + " not found");
        return;
    }
    auto file = fs.open(path);
    std::string error;
    if (!table.read(file->data(), file->size(), &error))
        logLine(path + " is damaged (" + error + "); keeping what was read");
}

FontRecord const& builtInFont() {
    static FontRecord const font;
    return font;
}

constexpr uint8_t pageLoadFlags = 2;

}  // namespace

Context::Context(Graphics::Context* graphics, std::string const& directory)
    : Context(graphics, directory, preferredLocale()) {}

Context::Context(Graphics::Context* graphics, std::string const& directory, std::string const& locale) {
    std::string const base = directory + locale;
    FontTable table;
    readTable(base + ".fonts", table);
    readTable(base + ".strings", strings_);

    pages_.reserve(table.pageFlags.size());
    for (std::size_t i = 0; i < table.pageFlags.size(); ++i) {
        uint8_t const filter = table.pageFlags[i] != 0 ? 1 : 0;
        TextureDescriptor descriptor(base + "_" + std::to_string(i) + ".png", TextureOptions(filter, filter, 0, 0),
                                     pageLoadFlags);
        pages_.emplace_back(graphics, descriptor);
    }
    fonts_ = std::move(table.fonts);
    styles_ = std::move(table.styles);
    fontPages_ = std::move(table.fontPages);

    for (auto const& [style, index] : styles_) {
        auto page = fontPages_.find(index);
        if (index >= fonts_.size() || page == fontPages_.end() || page->second >= pages_.size())
            logLine(base + ".fonts: style \"" + style + "\" has no usable font or page");
    }
    if (!fonts_.empty()) {
        for (std::string_view style : fontStyleNames)
            if (!styles_.contains(std::string(style)))
                logLine(base + ".fonts: no style \"" + std::string(style) + "\"; it takes font 0");
    }
}

Font Context::font(std::string const& style) const {
    auto s = styles_.find(style);
    uint32_t const index = s != styles_.end() ? s->second : 0;
    Font result;
    result.font = index < fonts_.size() ? &fonts_[index] : &builtInFont();
    auto p = fontPages_.find(index);
    if (index < fonts_.size() && p != fontPages_.end() && p->second < pages_.size()) result.page = &pages_[p->second];
    return result;
}

}  // namespace Fonts
