#pragma once
// Localized texts keyed by the 32-bit hash of their key, ascending by hash.
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace Fonts {

class StringTable {
public:
    using Entry = std::pair<uint32_t, std::string>;

    StringTable() = default;
    explicit StringTable(std::vector<Entry> entries) : entries_(std::move(entries)) {}

    // The key's text; "" for the empty key, "String not found" for a key the table lacks.
    std::string const& get(std::string const& key) const;
    bool contains(std::string const& key) const;

    std::vector<Entry> const& entries() const { return entries_; }

    // Reads a ".strings" file as far as it goes; the entries read before damage stay.
    bool read(uint8_t const* data, std::size_t size, std::string* error = nullptr);
    // The file form of `entries`, in their current order.
    static std::vector<uint8_t> write(std::vector<Entry> const& entries);

    static std::string const& missText();

private:
    Entry const* find(uint32_t hash) const;

    std::vector<Entry> entries_;
};

}  // namespace Fonts
