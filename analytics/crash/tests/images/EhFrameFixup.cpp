// Build-time step for the test images: lld 14 copies __eh_frame without relocating each FDE's
// pc-relative pc_begin: x86-64 FDEs claim their functions at a constant distance, arm64 ones
// all claim the same address. __unwind_info is written correctly, so the FDEs are laid, in
// section order, onto the functions from the first one it sends to DWARF (lld keeps both in
// input order). Without __unwind_info, the one distance that puts every FDE on its own symbol
// is used. The build fails unless every FDE then starts at a distinct symbol.
//
//   EhFrameFixup <input Mach-O> <output Mach-O>
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

struct Image {
    std::vector<uint8_t> bytes;
    bool is64 = false;

    template <typename T>
    T get(uint64_t offset) const {
        if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) throw std::runtime_error("read past the end of the file");
        T value;
        std::memcpy(&value, bytes.data() + offset, sizeof(T));
        return value;
    }
    template <typename T>
    void put(uint64_t offset, T value) {
        if (offset > bytes.size() || bytes.size() - offset < sizeof(T)) throw std::runtime_error("write past the end of the file");
        std::memcpy(bytes.data() + offset, &value, sizeof(T));
    }
};

struct Section {
    uint64_t address = 0;
    uint64_t size = 0;
    uint64_t fileOffset = 0;
};

struct Fde {
    uint64_t fieldFileOffset;  // where pc_begin is stored
    uint64_t fieldAddress;     // its vm address
    uint8_t encoding;
    int64_t stored;
    uint64_t claimed;
    uint64_t range;
};

std::optional<Section> findSection(Image const& image, char const* segment, char const* section, std::set<uint64_t>& symbols, uint32_t* cpuType = nullptr) {
    uint32_t magic = image.get<uint32_t>(0);
    if (magic != 0xFEEDFACF && magic != 0xFEEDFACE) throw std::runtime_error("not a little-endian Mach-O file");
    bool const is64 = magic == 0xFEEDFACF;
    if (cpuType) *cpuType = image.get<uint32_t>(4);
    uint32_t const ncmds = image.get<uint32_t>(16);
    uint64_t cursor = is64 ? 32 : 28;
    std::optional<Section> found;
    for (uint32_t i = 0; i < ncmds; ++i) {
        uint32_t const cmd = image.get<uint32_t>(cursor);
        uint32_t const size = image.get<uint32_t>(cursor + 4);
        if (size < 8) throw std::runtime_error("load command too small");
        if ((cmd == 0x19 && is64) || (cmd == 0x1 && !is64)) {
            char segname[17] = {};
            std::memcpy(segname, image.bytes.data() + cursor + 8, 16);
            uint32_t const nsects = image.get<uint32_t>(cursor + (is64 ? 64 : 48));
            uint64_t header = cursor + (is64 ? 72 : 56);
            for (uint32_t s = 0; s < nsects; ++s, header += is64 ? 80 : 68) {
                char sectname[17] = {};
                std::memcpy(sectname, image.bytes.data() + header, 16);
                if (std::strcmp(segname, segment) == 0 && std::strcmp(sectname, section) == 0) {
                    Section out;
                    out.address = is64 ? image.get<uint64_t>(header + 32) : image.get<uint32_t>(header + 32);
                    out.size = is64 ? image.get<uint64_t>(header + 40) : image.get<uint32_t>(header + 36);
                    out.fileOffset = image.get<uint32_t>(header + (is64 ? 48 : 40));
                    found = out;
                }
            }
        } else if (cmd == 0x2) {
            uint32_t const symoff = image.get<uint32_t>(cursor + 8);
            uint32_t const nsyms = image.get<uint32_t>(cursor + 12);
            for (uint32_t n = 0; n < nsyms; ++n) {
                uint64_t const entry = symoff + uint64_t(n) * (is64 ? 16 : 12);
                uint8_t const type = image.get<uint8_t>(entry + 4);
                if ((type & 0xEE) != 0x0E) continue;
                symbols.insert(is64 ? image.get<uint64_t>(entry + 8) : image.get<uint32_t>(entry + 8));
            }
        }
        cursor += size;
    }
    return found;
}

uint64_t readUleb(Image const& image, uint64_t& offset) {
    uint64_t value = 0;
    for (unsigned shift = 0; shift < 64; shift += 7) {
        uint8_t const byte = image.get<uint8_t>(offset++);
        value |= uint64_t(byte & 0x7F) << shift;
        if (!(byte & 0x80)) return value;
    }
    throw std::runtime_error("LEB128 too long");
}

// The pointer encoding of a CIE's "R" augmentation, or absolute when it has none.
uint8_t cieEncoding(Image const& image, uint64_t cie) {
    uint64_t cursor = cie + 4 + 4;  // length, id
    ++cursor;                       // version
    std::string augmentation;
    while (char c = char(image.get<uint8_t>(cursor++))) augmentation += c;
    readUleb(image, cursor);  // code alignment
    readUleb(image, cursor);  // data alignment (the value is not needed, only its length)
    readUleb(image, cursor);  // return address register
    if (augmentation.empty() || augmentation[0] != 'z') return 0;
    readUleb(image, cursor);
    for (char c : augmentation.substr(1)) {
        if (c == 'R') return image.get<uint8_t>(cursor);
        if (c == 'L') ++cursor;
        else if (c == 'P') throw std::runtime_error("personality routines are not expected in test images");
        else if (c != 'S') break;
    }
    return 0;
}

// The lowest function that __unwind_info sends to DWARF, from its compressed pages.
std::optional<uint64_t> firstDwarfFunction(Image const& image) {
    uint32_t cpu = 0;
    std::set<uint64_t> ignored;
    auto const info = findSection(image, "__TEXT", "__unwind_info", ignored, &cpu);
    if (!info) return std::nullopt;
    uint32_t const dwarfMode = cpu == 0x0100000C ? 0x03000000 : 0x04000000;
    uint64_t const base = info->fileOffset;
    uint32_t const commonOffset = image.get<uint32_t>(base + 4), commonCount = image.get<uint32_t>(base + 8);
    uint32_t const indexOffset = image.get<uint32_t>(base + 20), indexCount = image.get<uint32_t>(base + 24);
    std::optional<uint64_t> best;
    for (uint32_t i = 0; i + 1 < indexCount; ++i) {
        uint64_t const entry = base + indexOffset + uint64_t(i) * 12;
        uint32_t const functionBase = image.get<uint32_t>(entry);
        uint64_t const page = base + image.get<uint32_t>(entry + 4);
        if (image.get<uint32_t>(page) != 3) throw std::runtime_error("lld is expected to write compressed pages only");
        uint16_t const entriesOffset = image.get<uint16_t>(page + 4), entryCount = image.get<uint16_t>(page + 6);
        uint16_t const encodingsOffset = image.get<uint16_t>(page + 8);
        for (uint16_t e = 0; e < entryCount; ++e) {
            uint32_t const packed = image.get<uint32_t>(page + entriesOffset + uint64_t(e) * 4);
            uint32_t const index = packed >> 24;
            uint32_t const encoding = index < commonCount ? image.get<uint32_t>(base + commonOffset + uint64_t(index) * 4)
                                                          : image.get<uint32_t>(page + encodingsOffset + uint64_t(index - commonCount) * 4);
            uint64_t const function = uint64_t(functionBase) + (packed & 0xFFFFFF);
            if ((encoding & 0x0F000000) == dwarfMode && (!best || function < *best)) best = function;
        }
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) try {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <input> <output>\n", argv[0]);
        return 2;
    }
    Image image;
    {
        std::ifstream in(argv[1], std::ios::binary);
        if (!in) throw std::runtime_error(std::string("cannot open ") + argv[1]);
        image.bytes.assign(std::istreambuf_iterator<char>(in), {});
    }
    std::set<uint64_t> symbols;
    auto const section = findSection(image, "__TEXT", "__eh_frame", symbols);
    image.is64 = image.get<uint32_t>(0) == 0xFEEDFACF;
    std::vector<Fde> fdes;
    if (section) {
        uint64_t entry = section->fileOffset;
        uint64_t const end = section->fileOffset + section->size;
        while (entry + 4 <= end) {
            uint32_t const length = image.get<uint32_t>(entry);
            if (length == 0) break;
            if (length == 0xFFFFFFFF) throw std::runtime_error("64-bit CFI entries are not expected from lld");
            uint32_t const id = image.get<uint32_t>(entry + 4);
            if (id != 0) {
                uint64_t const cie = entry + 4 - id;
                Fde fde;
                fde.fieldFileOffset = entry + 8;
                fde.fieldAddress = section->address + (fde.fieldFileOffset - section->fileOffset);
                fde.encoding = cieEncoding(image, cie);
                uint8_t const format = fde.encoding & 0x0F;
                if (format == 0x00 && image.is64) fde.stored = int64_t(image.get<uint64_t>(fde.fieldFileOffset));
                else if (format == 0x00 || format == 0x03 || format == 0x0B) fde.stored = image.get<int32_t>(fde.fieldFileOffset);
                else if (format == 0x04 || format == 0x0C) fde.stored = int64_t(image.get<uint64_t>(fde.fieldFileOffset));
                else throw std::runtime_error("unexpected pc_begin encoding");
                if ((fde.encoding & 0x70) == 0x10) fde.claimed = fde.fieldAddress + uint64_t(fde.stored);
                else if ((fde.encoding & 0x70) == 0x00) fde.claimed = uint64_t(fde.stored);
                else throw std::runtime_error("unexpected pc_begin application");
                bool const wide = format == 0x04 || format == 0x0C || (format == 0x00 && image.is64);
                uint64_t const rangeField = fde.fieldFileOffset + (wide ? 8 : 4);
                fde.range = wide ? image.get<uint64_t>(rangeField) : image.get<uint32_t>(rangeField);
                fdes.push_back(fde);
            }
            entry += 4 + uint64_t(length);
        }
    }

    // Each FDE on its own symbol, none overlapping the next.
    auto sound = [&](std::vector<uint64_t> const& starts) {
        std::set<uint64_t> seen;
        for (size_t i = 0; i < starts.size(); ++i) {
            if (!symbols.count(starts[i]) || !seen.insert(starts[i]).second) return false;
        }
        std::vector<std::pair<uint64_t, uint64_t>> ranges;
        for (size_t i = 0; i < starts.size(); ++i) ranges.emplace_back(starts[i], fdes[i].range);
        std::sort(ranges.begin(), ranges.end());
        for (size_t i = 1; i < ranges.size(); ++i) {
            if (ranges[i - 1].first + ranges[i - 1].second > ranges[i].first) return false;
        }
        return true;
    };
    auto shifted = [&](uint64_t delta) {
        std::vector<uint64_t> starts;
        for (Fde const& fde : fdes) starts.push_back(fde.claimed - delta);
        return starts;
    };
    std::optional<std::vector<uint64_t>> starts;
    if (fdes.empty()) starts.emplace();
    std::optional<uint64_t> const first = fdes.empty() ? std::nullopt : firstDwarfFunction(image);
    if (first) {
        std::vector<uint64_t> laid;
        uint64_t next = *first;
        for (Fde const& fde : fdes) {
            auto it = symbols.lower_bound(next);
            if (it == symbols.end()) break;
            laid.push_back(*it);
            next = *it + fde.range;
        }
        if (laid.size() == fdes.size() && sound(laid)) starts = laid;
    } else if (fdes.size() > 1) {
        for (auto it = symbols.begin(); !starts && it != symbols.end(); ++it) {
            if (sound(shifted(fdes.front().claimed - *it))) starts = shifted(fdes.front().claimed - *it);
        }
    }
    if (!starts) throw std::runtime_error("the FDEs cannot be put onto distinct symbols");
    for (size_t i = 0; i < fdes.size(); ++i) {
        Fde const& fde = fdes[i];
        uint8_t const format = fde.encoding & 0x0F;
        int64_t const fixed = fde.stored - int64_t(fde.claimed - (*starts)[i]);
        if (format == 0x04 || format == 0x0C || (format == 0x00 && image.is64)) image.put<uint64_t>(fde.fieldFileOffset, uint64_t(fixed));
        else image.put<int32_t>(fde.fieldFileOffset, int32_t(fixed));
    }

    std::string const temporary = std::string(argv[2]) + ".tmp";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<char const*>(image.bytes.data()), std::streamsize(image.bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + temporary);
    }
    if (std::rename(temporary.c_str(), argv[2]) != 0) throw std::runtime_error(std::string("cannot rename to ") + argv[2]);
    return 0;
} catch (std::exception const& error) {
    std::fprintf(stderr, "EhFrameFixup: %s\n", error.what());
    return 1;
}
