#include "analytics/crash/tests/support/MachOFixtureWriter.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace crash_test {

namespace {

constexpr uint64_t kLinkeditAddress = 0x10000;
constexpr uint64_t kTextStart = 0x1000;  // header and load commands come first

uint64_t alignUp(uint64_t v, uint64_t a) { return (v + a - 1) / a * a; }

void putName(std::vector<uint8_t>& out, std::string const& name) {
    char field[16] = {};
    std::memcpy(field, name.data(), std::min<size_t>(name.size(), 16));
    out.insert(out.end(), field, field + 16);
}

void putUleb(std::vector<uint8_t>& out, uint64_t v) {
    do {
        uint8_t byte = v & 0x7F;
        v >>= 7;
        if (v)
            byte |= 0x80;
        out.push_back(byte);
    } while (v);
}

}  // namespace

MachOFixtureWriter::MachOFixtureWriter(uint32_t cputype, bool is64, bool swapped)
    : cputype_(cputype), is64_(is64), swapped_(swapped) {
    static char const* const names[] = {"__TEXT", "__DATA", "__OBJC", "__DWARF"};
    for (size_t i = 0; i < 4; ++i)
        segments_.push_back(Segment{names[i], i * kSegmentSpan, i == 0 ? kTextStart : 0, {}});
}

MachOFixtureWriter::Segment& MachOFixtureWriter::segment(std::string const& name) {
    for (Segment& s : segments_) {
        if (s.name == name)
            return s;
    }
    throw std::invalid_argument("unknown fixture segment " + name);
}

uint64_t MachOFixtureWriter::addSection(std::string const& segmentName, std::string const& name,
                                        std::vector<uint8_t> const& bytes) {
    Segment& s = segment(segmentName);
    const uint64_t offset = alignUp(s.used, 16);
    if (offset + bytes.size() > kSegmentSpan)
        throw std::length_error("fixture segment full");
    s.sections.push_back(Section{name, s.address + offset, bytes});
    s.used = offset + bytes.size();
    return s.address + offset;
}

void MachOFixtureWriter::addSymbol(std::string const& name, uint64_t value, uint16_t desc, uint8_t type) {
    symbols_.push_back(Symbol{name, value, desc, type});
}

void MachOFixtureWriter::addRebase(uint64_t address) { rebases_.push_back(address); }

void MachOFixtureWriter::put16(std::vector<uint8_t>& out, uint16_t v) const {
    if (swapped_)
        v = __builtin_bswap16(v);
    uint8_t b[2];
    std::memcpy(b, &v, 2);
    out.insert(out.end(), b, b + 2);
}

void MachOFixtureWriter::put32(std::vector<uint8_t>& out, uint32_t v) const {
    if (swapped_)
        v = __builtin_bswap32(v);
    uint8_t b[4];
    std::memcpy(b, &v, 4);
    out.insert(out.end(), b, b + 4);
}

void MachOFixtureWriter::put64(std::vector<uint8_t>& out, uint64_t v) const {
    if (swapped_)
        v = __builtin_bswap64(v);
    uint8_t b[8];
    std::memcpy(b, &v, 8);
    out.insert(out.end(), b, b + 8);
}

std::vector<uint8_t> MachOFixtureWriter::build() const {
    std::vector<Segment const*> used;
    for (Segment const& s : segments_) {
        if (s.name == "__TEXT" || !s.sections.empty())
            used.push_back(&s);
    }

    // __LINKEDIT: rebase opcodes, then symbols (locals first), then strings.
    std::vector<uint8_t> rebase;
    for (uint64_t address : rebases_) {
        size_t index = 0;
        for (; index < used.size(); ++index) {
            if (address >= used[index]->address && address < used[index]->address + kSegmentSpan)
                break;
        }
        if (index == used.size())
            throw std::invalid_argument("rebase outside every segment");
        rebase.push_back(0x11);
        rebase.push_back(uint8_t(0x20 | index));
        putUleb(rebase, address - used[index]->address);
        rebase.push_back(0x51);
    }
    rebase.push_back(0x00);
    while (rebase.size() % 8)
        rebase.push_back(0);

    std::vector<Symbol> ordered;
    for (Symbol const& s : symbols_)
        if (!(s.type & 0x01))
            ordered.push_back(s);
    const uint32_t localCount = uint32_t(ordered.size());
    for (Symbol const& s : symbols_)
        if (s.type & 0x01)
            ordered.push_back(s);
    std::vector<uint8_t> strings = {' ', 0};
    std::vector<uint8_t> symtab;
    for (Symbol const& s : ordered) {
        put32(symtab, uint32_t(strings.size()));
        strings.insert(strings.end(), s.name.begin(), s.name.end());
        strings.push_back(0);
        symtab.push_back(s.type);
        symtab.push_back(1);
        put16(symtab, s.desc);
        if (is64_)
            put64(symtab, s.value);
        else
            put32(symtab, uint32_t(s.value));
    }
    while (strings.size() % 8)
        strings.push_back(0);

    // File layout: header and commands, then each segment's bytes.
    const uint64_t headerSize = is64_ ? 32 : 28;
    const uint64_t segmentSize = is64_ ? 72 : 56;
    const uint64_t sectionSize = is64_ ? 80 : 68;
    uint64_t commandsSize = 0;
    uint32_t commandCount = 0;
    for (Segment const* s : used) {
        commandsSize += segmentSize + s->sections.size() * sectionSize;
        ++commandCount;
    }
    commandsSize += segmentSize + 48 + 24 + (dysymtab_ ? 80 : 0);
    commandCount += 3 + (dysymtab_ ? 1 : 0);
    if (headerSize + commandsSize > kTextStart)
        throw std::length_error("fixture load commands too large");

    std::vector<uint64_t> fileOffsets;
    uint64_t fileSize = 0;
    for (Segment const* s : used) {
        fileOffsets.push_back(fileSize);
        fileSize = alignUp(fileSize + s->used, 16);
    }
    const uint64_t linkeditOffset = fileSize;
    const uint64_t rebaseOffset = linkeditOffset;
    const uint64_t symOffset = rebaseOffset + rebase.size();
    const uint64_t strOffset = symOffset + symtab.size();
    const uint64_t linkeditSize = rebase.size() + symtab.size() + strings.size();

    std::vector<uint8_t> out;
    put32(out, is64_ ? 0xFEEDFACF : 0xFEEDFACE);
    put32(out, cputype_);
    put32(out, 0);
    put32(out, 6);  // dylib
    put32(out, commandCount);
    put32(out, uint32_t(commandsSize));
    put32(out, 0);
    if (is64_)
        put32(out, 0);

    auto segmentCommand = [&](std::string const& name, uint64_t vmaddr, uint64_t vmsize, uint64_t fileoff,
                              uint64_t filesize, std::vector<Section> const& sections, uint64_t sectionFileBase) {
        put32(out, is64_ ? 0x19 : 0x1);
        put32(out, uint32_t(segmentSize + sections.size() * sectionSize));
        putName(out, name);
        if (is64_) {
            put64(out, vmaddr);
            put64(out, vmsize);
            put64(out, fileoff);
            put64(out, filesize);
        } else {
            put32(out, uint32_t(vmaddr));
            put32(out, uint32_t(vmsize));
            put32(out, uint32_t(fileoff));
            put32(out, uint32_t(filesize));
        }
        put32(out, 7);
        put32(out, 5);
        put32(out, uint32_t(sections.size()));
        put32(out, 0);
        for (Section const& section : sections) {
            putName(out, section.name);
            putName(out, name);
            if (is64_) {
                put64(out, section.address);
                put64(out, section.bytes.size());
            } else {
                put32(out, uint32_t(section.address));
                put32(out, uint32_t(section.bytes.size()));
            }
            put32(out, uint32_t(sectionFileBase + (section.address - vmaddr)));
            for (int i = 0; i < (is64_ ? 7 : 6); ++i)
                put32(out, 0);
        }
    };
    for (size_t i = 0; i < used.size(); ++i) {
        Segment const* s = used[i];
        segmentCommand(s->name, s->address, kSegmentSpan, fileOffsets[i], s->used, s->sections, fileOffsets[i]);
    }
    segmentCommand("__LINKEDIT", kLinkeditAddress, alignUp(linkeditSize, 0x1000), linkeditOffset, linkeditSize, {}, 0);

    put32(out, 0x80000022);  // LC_DYLD_INFO_ONLY
    put32(out, 48);
    put32(out, uint32_t(rebaseOffset));
    put32(out, uint32_t(rebase.size()));
    for (int i = 0; i < 8; ++i)
        put32(out, 0);

    put32(out, 0x2);  // LC_SYMTAB
    put32(out, 24);
    put32(out, uint32_t(symOffset));
    put32(out, uint32_t(ordered.size()));
    put32(out, uint32_t(strOffset));
    put32(out, uint32_t(strings.size()));

    if (dysymtab_) {
        put32(out, 0xB);
        put32(out, 80);
        put32(out, 0);
        put32(out, localCount);
        put32(out, localCount);
        put32(out, uint32_t(ordered.size()) - localCount);
        for (int i = 0; i < 14; ++i)
            put32(out, 0);
    }

    out.resize(linkeditOffset, 0);
    for (size_t i = 0; i < used.size(); ++i) {
        for (Section const& section : used[i]->sections) {
            std::copy(section.bytes.begin(), section.bytes.end(),
                      out.begin() + long(fileOffsets[i] + (section.address - used[i]->address)));
        }
    }
    out.insert(out.end(), rebase.begin(), rebase.end());
    out.insert(out.end(), symtab.begin(), symtab.end());
    out.insert(out.end(), strings.begin(), strings.end());
    return out;
}

}  // namespace crash_test
