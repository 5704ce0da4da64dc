#include "fonts/FontTable.h"

#include <cereal/archives/binary.hpp>
#include <cereal/types/map.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/vector.hpp>

#include <sstream>

#include "fonts/TableReader.h"
#include "os/OpaqueStreamBuf.h"

namespace Fonts {
namespace {

void readGlyph(TableReader& in, Glyph& g) {
    in.value(g.advance);
    in.value(g.width);
    in.value(g.height);
    in.value(g.offsetX);
    in.value(g.offsetY);
    for (float& f : g.texCoords) in.value(f);
}

void readFont(TableReader& in, FontRecord& f) {
    in.value(f.baseline);
    in.value(f.lineHeight);
    in.value(f.lineSpacing);
    uint64_t n = in.count();
    for (uint64_t i = 0; i < n; ++i) {
        uint32_t codePoint = 0;
        Glyph g;
        in.value(codePoint);
        readGlyph(in, g);
        f.glyphs.emplace(codePoint, g);  // a repeated key keeps the first one read
    }
}

}  // namespace

bool FontTable::read(uint8_t const* data, std::size_t size, std::string* error) {
    OpaqueStreamBuf buffer(data, size);
    std::istream stream(&buffer);
    TableReader in(stream, data ? size : 0);
    try {
        std::size_t flags = in.blockCount(4);
        pageFlags.resize(flags);
        if (flags) in.bytes(pageFlags.data(), flags * 4);

        uint64_t n = in.count();
        fonts.reserve(in.reservable(n, 3 * 4 + 8));
        for (uint64_t i = 0; i < n; ++i) {
            fonts.emplace_back();
            readFont(in, fonts.back());
        }

        n = in.count();
        for (uint64_t i = 0; i < n; ++i) {
            std::string name;
            uint32_t index = 0;
            in.string(name);
            in.value(index);
            styles.emplace(std::move(name), index);
        }

        n = in.count();
        for (uint64_t i = 0; i < n; ++i) {
            uint32_t font = 0, page = 0;
            in.value(font);
            in.value(page);
            fontPages.emplace(font, page);
        }
    } catch (std::exception const& e) {
        if (error) *error = e.what();
        return false;
    }
    return true;
}

std::vector<uint8_t> FontTable::write() const {
    std::ostringstream out(std::ios::binary);
    {
        cereal::BinaryOutputArchive ar(out);
        ar(pageFlags, fonts, styles, fontPages);
    }
    std::string bytes = out.str();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace Fonts
