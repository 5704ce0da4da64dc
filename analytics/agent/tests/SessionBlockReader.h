#pragma once
// Reads session blocks and reports field by field, as the server would; throws on any overrun.
#include <cstdint>
#include <cstring>
#include <map>
#include <optional>
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
    double f64() {
        uint64_t v = n(8);
        double d;
        std::memcpy(&d, &v, 8);
        return d;
    }
    Bytes raw(size_t len) {
        if (at + len > b.size()) throw std::out_of_range("block overrun");
        Bytes out(b.begin() + long(at), b.begin() + long(at + len));
        at += len;
        return out;
    }
    std::string str() {
        Bytes r = raw(u16());
        return std::string(r.begin(), r.end());
    }
    Bytes shortData() { return raw(u16()); }
    Bytes largeData() { return raw(uint32_t(n(4))); }
};

struct Event {
    uint16_t id = 0;
    std::string name;
    std::map<std::string, std::string> params;
    int64_t offset = 0, duration = 0;
};

struct Error {
    uint16_t id = 0;
    std::string name;
    uint8_t type = 0;
    Bytes report;
};

struct Block {
    uint16_t version = 0;
    std::string appVersion;
    int64_t start = 0, length = 0, paused = 0;
    uint8_t applicationState = 0;
    std::map<std::string, std::string> properties;
    std::map<std::string, std::pair<std::string, uint8_t>> params;  // value, change mark
    std::string locale, timeZone, userID;
    int32_t pageViews = 0;
    uint8_t gender = 0;
    std::map<std::string, int32_t> counts;
    std::vector<Event> events;
    bool complete = false;
    int32_t totalErrors = 0;
    std::vector<Error> errors;  // the crash entry last, when there is one
    uint16_t transactions = 0;
};

inline Block readBlock(Cursor& c) {
    Block k;
    k.version = c.u16();
    k.appVersion = c.str();
    k.start = c.i64();
    k.length = c.i64();
    k.paused = c.i64();
    c.u8();
    k.applicationState = c.u8();
    if (c.u8()) c.str();
    if (c.u8()) c.str();
    for (int i = c.u16(); i > 0; --i) {
        std::string key = c.str();
        k.properties[key] = c.str();
    }
    for (int i = c.u16(); i > 0; --i) {
        std::string key = c.str();
        std::string value = c.str();
        k.params[key] = {value, c.u8()};
    }
    k.locale = c.str();
    k.timeZone = c.str();
    c.u8(); c.u8();
    k.userID = c.str();
    c.u8(); c.f64(); c.f64();
    c.n(4); c.u8();
    k.pageViews = c.i32();
    c.u8(); c.u8();
    k.gender = c.u8();
    if (c.u8()) c.i64();
    for (int i = c.u16(); i > 0; --i) {
        std::string name = c.str();
        k.counts[name] = c.i32();
    }
    for (int i = c.u16(); i > 0; --i) {
        Event e;
        e.id = c.u16();
        e.name = c.str();
        for (int j = c.u16(); j > 0; --j) {
            std::string key = c.str();
            e.params[key] = c.str();
        }
        e.offset = c.i64();
        e.duration = c.i64();
        k.events.push_back(std::move(e));
    }
    k.complete = c.u8();
    k.totalErrors = c.i32();
    for (int i = c.u16(); i > 0; --i) {
        Error e;
        e.id = c.u16();
        c.i64();
        e.name = c.str();
        c.str(); c.str();
        e.type = c.u8();
        if (c.u8()) e.report = c.largeData();
        k.errors.push_back(std::move(e));
    }
    c.i32(); c.u16(); c.u16(); c.u16();
    k.transactions = c.u16();
    for (int i = k.transactions; i > 0; --i) {
        c.u8(); c.largeData();
    }
    return k;
}

inline Block readBlock(Bytes const& b) {
    Cursor c{b};
    Block k = readBlock(c);
    if (c.at != b.size()) throw std::runtime_error("trailing bytes after the block");
    return k;
}

struct Report {
    uint16_t platform = 0, agent = 0;
    std::string apiKey, appVersion;
    std::map<uint16_t, Bytes> ids;  // kind -> value bytes
    bool everSent = false;
    int64_t installed = 0, sessionStart = 0;
    std::map<std::string, std::pair<std::string, uint8_t>> device;
    std::string bundle;
    std::vector<Block> blocks;
    std::map<std::string, Bytes> cookies;
    uint32_t checksum = 0;
    size_t checksumAt = 0;
};

inline Report readReport(Bytes const& b) {
    Cursor c{b};
    Report r;
    if (c.u16() != 31 || c.u16() != 4 || c.u16() != 1) throw std::runtime_error("bad header words");
    c.i64(); c.u16();
    r.platform = c.u16();
    r.agent = c.u16();
    c.i64();
    r.apiKey = c.str();
    r.appVersion = c.str();
    c.u8();
    for (int i = c.u16(); i > 0; --i) {
        uint16_t kind = c.u16();
        Bytes v = kind == 15 ? c.shortData() : c.shortData();
        r.ids[kind] = v;
    }
    c.u8();
    r.everSent = c.u8();
    c.u8();
    r.installed = c.i64();
    r.sessionStart = c.i64();
    for (int i = c.u16(); i > 0; --i) {
        std::string key = c.str();
        std::string value = c.str();
        r.device[key] = {value, c.u8()};
    }
    c.u16(); c.u8();
    for (int i = c.u16(); i > 0; --i) {
        c.str();
        for (int j = c.u16(); j > 0; --j) c.str();
    }
    for (int i = c.u16(); i > 0; --i) {
        c.str();
        for (int j = c.u16(); j > 0; --j) {
            c.str(); c.str();
        }
    }
    r.bundle = c.str();
    for (int i = c.u16(); i > 0; --i) r.blocks.push_back(readBlock(c));
    for (int i = c.u16(); i > 0; --i) {
        Bytes key = c.shortData();
        r.cookies[std::string(key.begin(), key.end())] = c.shortData();
    }
    r.checksumAt = c.at;
    r.checksum = uint32_t(c.i32());
    if (c.at != b.size()) throw std::runtime_error("trailing bytes after the report");
    return r;
}

}  // namespace block_reader
