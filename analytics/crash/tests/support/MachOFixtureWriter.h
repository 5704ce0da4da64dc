#pragma once
// Builds small Mach-O images in memory for what lld cannot make: 32-bit, byte-swapped, Thumb
// symbols, regular unwind pages, legacy class metadata, and images to damage on purpose.
#include <cstdint>
#include <string>
#include <vector>

namespace crash_test {

class MachOFixtureWriter {
public:
    MachOFixtureWriter(uint32_t cputype, bool is64, bool swapped);

    bool is64() const { return is64_; }
    // Adds a section; returns its vm address (the image's header sits at 0). Segments are
    // __TEXT, __DATA, __OBJC and __DWARF, each at a fixed place and at most 16 KiB.
    uint64_t addSection(std::string const& segment, std::string const& name, std::vector<uint8_t> const& bytes);
    // A defined symbol (N_SECT, external unless told otherwise) at a vm address.
    void addSymbol(std::string const& name, uint64_t value, uint16_t desc = 0, uint8_t type = 0x0F);
    // A pointer-sized word at a vm address that the loader slides.
    void addRebase(uint64_t address);
    void setDysymtab(bool on) { dysymtab_ = on; }

    // Integers in the image's byte order, for section contents.
    void put16(std::vector<uint8_t>& out, uint16_t v) const;
    void put32(std::vector<uint8_t>& out, uint32_t v) const;
    void put64(std::vector<uint8_t>& out, uint64_t v) const;
    void putPointer(std::vector<uint8_t>& out, uint64_t v) const { is64_ ? put64(out, v) : put32(out, uint32_t(v)); }

    std::vector<uint8_t> build() const;

    static constexpr uint64_t kSegmentSpan = 0x4000;

private:
    struct Section {
        std::string name;
        uint64_t address;
        std::vector<uint8_t> bytes;
    };
    struct Segment {
        std::string name;
        uint64_t address;
        uint64_t used;
        std::vector<Section> sections;
    };
    struct Symbol {
        std::string name;
        uint64_t value;
        uint16_t desc;
        uint8_t type;
    };

    Segment& segment(std::string const& name);

    uint32_t cputype_;
    bool is64_;
    bool swapped_;
    bool dysymtab_ = true;
    std::vector<Segment> segments_;
    std::vector<Symbol> symbols_;
    std::vector<uint64_t> rebases_;
};

}  // namespace crash_test
