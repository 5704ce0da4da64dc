#include "fonts/StringTable.h"

#include <cereal/archives/binary.hpp>
#include <cereal/types/string.hpp>
#include <cereal/types/utility.hpp>
#include <cereal/types/vector.hpp>

#include <algorithm>
#include <sstream>

#include "fonts/MurmurHash2.h"
#include "fonts/TableReader.h"
#include "os/OpaqueStreamBuf.h"

namespace Fonts {
namespace {
// Built before main and never destroyed, so references handed out stay valid for the whole run.
std::string const& emptyText() {
    static std::string const* const text = new std::string();
    return *text;
}
std::string const& notFoundText() {
    static std::string const* const text = new std::string("String not found");
    return *text;
}
[[maybe_unused]] auto const& builtEarly = (emptyText(), notFoundText());
}  // namespace

std::string const& StringTable::missText() { return notFoundText(); }

StringTable::Entry const* StringTable::find(uint32_t hash) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), hash,
                               [](Entry const& e, uint32_t h) { return e.first < h; });
    return it != entries_.end() && it->first == hash ? &*it : nullptr;
}

std::string const& StringTable::get(std::string const& key) const {
    if (key.empty()) return emptyText();
    Entry const* e = find(stringKeyHash(key));
    return e ? e->second : notFoundText();
}

bool StringTable::contains(std::string const& key) const { return find(stringKeyHash(key)) != nullptr; }

bool StringTable::read(uint8_t const* data, std::size_t size, std::string* error) {
    OpaqueStreamBuf buffer(data, size);
    std::istream stream(&buffer);
    TableReader in(stream, data ? size : 0);
    try {
        uint64_t n = in.count();
        entries_.reserve(in.reservable(n, 4 + 8));
        for (uint64_t i = 0; i < n; ++i) {
            Entry e;
            in.value(e.first);
            in.string(e.second);
            entries_.push_back(std::move(e));
        }
    } catch (std::exception const& e) {
        if (error) *error = e.what();
        return false;
    }
    return true;
}

std::vector<uint8_t> StringTable::write(std::vector<Entry> const& entries) {
    std::ostringstream out(std::ios::binary);
    {
        cereal::BinaryOutputArchive ar(out);
        ar(entries);
    }
    std::string bytes = out.str();
    return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

}  // namespace Fonts
