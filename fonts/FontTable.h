#pragma once
// The contents of one ".fonts" file: page filters, font records, style names and font pages.
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fonts/FontRecord.h"

namespace Fonts {

struct FontTable {
    std::vector<uint32_t> pageFlags;  // per page: 0 nearest filtering, else linear
    std::vector<FontRecord> fonts;
    std::map<std::string, uint32_t> styles;
    std::map<uint32_t, uint32_t> fontPages;

    // Reads as far as the bytes allow: on damage what was read stays (the entry being read keeps
    // what it had so far) and the reason goes to `error`. Returns true when the whole table read.
    bool read(uint8_t const* data, std::size_t size, std::string* error = nullptr);
    std::vector<uint8_t> write() const;
};

}  // namespace Fonts
