#pragma once
// Reads session blocks and reports field by field, as the server would; throws on any overrun.
#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace block_reader {

using Bytes = std::vector<uint8_t>;

struct Cursor {
    Bytes const& b;
    size_t at = 0;
    uint64_t n(int bytes) {
        if (at + size_t(bytes) > b.size()) throw std::out_of_range("block overrun");
        uint64_t v = 0;
        for (int i = 0; i < bytes; ++i) v = (v << 8) | b[at++];
        return v;
    }
    uint8_t u8() { return uint8_t(n(1)); }
    uint16_t u16() { return uint16_t(n(2)); }
    int32_t i32() { return int32_t(uint32_t(n(4))); }
    int64_t i64() { return int64_t(n(8)); }
    Bytes raw(size_t len) {
        if (at + len > b.size()) throw std::out_of_range("block overrun");
        at += len;
        return Bytes(b.begin() + long(at - len), b.begin() + long(at));
    }
    std::string str() {
        Bytes r = raw(u16());
        return std::string(r.begin(), r.end());
    }
    // Skips fields: b u8, h u16, i i32/f32, l i64/f64, s string, L large data.
    void skip(char const* fields) {
        for (; *fields; ++fields) {
            switch (*fields) {
                case 'b': n(1); break;
                case 'h': n(2); break;
                case 'i': n(4); break;
                case 'l': n(8); break;
                case 's': str(); break;
                case 'L': raw(uint32_t(n(4))); break;
            }
        }
    }
};

struct Event {
    std::string name;
    std::map<std::string, std::string> params;
};
struct Error {
    uint16_t id = 0;
    uint8_t type = 0;
    Bytes report;
};

struct Block {
    uint16_t version = 0;
    int64_t start = 0, length = 0;
    std::map<std::string, std::string> properties;
    std::map<std::string, std::pair<std::string, uint8_t>> params;  // value, change mark
    std::vector<Event> events;
    bool eventLogComplete = false;
    int32_t totalErrors = 0;
    std::vector<Error> errors;  // the crash entry last, when there is one
    std::vector<Bytes> receipts;  // of the purchases
};

// A watch block has no truncated flag and no transaction count.
inline Block readBlock(Cursor& c, bool watch = false) {
    Block k;
    k.version = c.u16();
    c.skip("s");
    k.start = c.i64();
    k.length = c.i64();
    c.skip("lbb");
    if (c.u8()) c.skip("s");
    if (c.u8()) c.skip("s");
    for (int i = c.u16(); i > 0; --i) {
        std::string key = c.str();
        k.properties[key] = c.str();
    }
    for (int i = c.u16(); i > 0; --i) {
        std::string key = c.str(), value = c.str();
        k.params[key] = {value, c.u8()};
    }
    c.skip(watch ? "ssbbsblliibbb" : "ssbbsbllibibbb");
    if (c.u8()) c.skip("l");
    for (int i = c.u16(); i > 0; --i) c.skip("si");
    for (int i = c.u16(); i > 0; --i) {
        Event e;
        c.skip("h");
        e.name = c.str();
        for (int j = c.u16(); j > 0; --j) {
            std::string key = c.str();
            e.params[key] = c.str();
        }
        c.skip("ll");
        k.events.push_back(std::move(e));
    }
    k.eventLogComplete = c.u8() != 0;
    k.totalErrors = c.i32();
    for (int i = c.u16(); i > 0; --i) {
        Error e;
        e.id = c.u16();
        c.skip("lsss");
        e.type = c.u8();
        if (c.u8()) e.report = c.raw(uint32_t(c.n(4)));
        k.errors.push_back(std::move(e));
    }
    c.skip("ihhh");
    if (!watch)
        for (int i = c.u16(); i > 0; --i) {
            c.skip("b");
            k.receipts.push_back(c.raw(uint32_t(c.n(4))));
        }
    return k;
}

inline Block readBlock(Bytes const& b, bool watch = false) {
    Cursor c{b};
    Block k = readBlock(c, watch);
    if (c.at != b.size()) throw std::runtime_error("trailing bytes after the block");
    return k;
}

struct Report {
    std::string apiKey;
    uint16_t agent = 0;
    std::map<uint16_t, Bytes> ids;  // kind -> value bytes
    int64_t installed = 0;
    std::map<std::string, std::pair<std::string, uint8_t>> device;
    std::vector<Block> blocks;
    std::map<std::string, Bytes> cookies;
    uint32_t checksum = 0;
    size_t checksumAt = 0;
};

inline Report readReport(Bytes const& b, bool watch = false) {
    Cursor c{b};
    Report r;
    if (c.u16() != 31 || c.u16() != 4 || c.u16() != 1) throw std::runtime_error("bad header words");
    c.skip("lhh");
    r.agent = c.u16();
    c.skip("l");
    r.apiKey = c.str();
    c.skip("sb");
    for (int i = c.u16(); i > 0; --i) {
        uint16_t kind = c.u16();
        r.ids[kind] = c.raw(c.u16());
    }
    c.skip("bbb");
    r.installed = c.i64();
    c.skip("l");
    for (int i = c.u16(); i > 0; --i) {
        std::string key = c.str(), value = c.str();
        r.device[key] = {value, c.u8()};
    }
    c.skip("hb");
    for (int i = c.u16(); i > 0; --i)
        for (int j = (c.skip("s"), c.u16()); j > 0; --j) c.skip("s");
    for (int i = c.u16(); i > 0; --i)
        for (int j = (c.skip("s"), c.u16()); j > 0; --j) c.skip("ss");
    c.skip("s");
    for (int i = c.u16(); i > 0; --i) r.blocks.push_back(readBlock(c, watch));
    for (int i = c.u16(); i > 0; --i) {
        Bytes key = c.raw(c.u16());
        r.cookies[std::string(key.begin(), key.end())] = c.raw(c.u16());
    }
    r.checksumAt = c.at;
    r.checksum = uint32_t(c.i32());
    if (c.at != b.size()) throw std::runtime_error("trailing bytes after the report");
    return r;
}

}  // namespace block_reader
