#pragma once
// A small hand-written Avro binary writer and reader for tests: fixtures are built field by
// field here, apart from the library and the production schema texts.
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace pulse_test {

class AvroWriter {
public:
    AvroWriter& varint(int64_t v) {
        uint64_t z = (uint64_t(v) << 1) ^ uint64_t(v >> 63);
        do {
            uint8_t b = z & 0x7f;
            z >>= 7;
            if (z) b |= 0x80;
            bytes.push_back(b);
        } while (z);
        return *this;
    }
    AvroWriter& str(std::string const& s) {
        varint(int64_t(s.size()));
        bytes.insert(bytes.end(), s.begin(), s.end());
        return *this;
    }
    AvroWriter& boolean(bool b) {
        bytes.push_back(b ? 1 : 0);
        return *this;
    }
    AvroWriter& raw(std::vector<uint8_t> const& b) {
        bytes.insert(bytes.end(), b.begin(), b.end());
        return *this;
    }
    template <class T>
    AvroWriter& fixedLE(T v) {
        uint8_t const* p = reinterpret_cast<uint8_t const*>(&v);
        bytes.insert(bytes.end(), p, p + sizeof v);
        return *this;
    }
    std::vector<uint8_t> bytes;
};

class AvroReader {
public:
    explicit AvroReader(std::vector<uint8_t> const& b) : b_(b) {}
    int64_t varint() {
        uint64_t v = 0;
        for (int shift = 0; shift < 70; shift += 7) {
            uint8_t const c = byte();
            v |= uint64_t(c & 0x7f) << shift;
            if (!(c & 0x80)) return int64_t(v >> 1) ^ -int64_t(v & 1);
        }
        throw std::runtime_error("varint too long");
    }
    std::string str() {
        int64_t const n = varint();
        if (n < 0 || size_t(n) > b_.size() - pos_) throw std::runtime_error("string overruns");
        std::string s(b_.begin() + long(pos_), b_.begin() + long(pos_) + n);
        pos_ += size_t(n);
        return s;
    }
    bool boolean() { return byte() != 0; }
    template <class T>
    T fixedLE() {
        T v;
        if (b_.size() - pos_ < sizeof v) throw std::runtime_error("short");
        std::memcpy(&v, b_.data() + pos_, sizeof v);
        pos_ += sizeof v;
        return v;
    }
    bool atEnd() const { return pos_ == b_.size(); }

private:
    uint8_t byte() {
        if (pos_ >= b_.size()) throw std::runtime_error("short");
        return b_[pos_++];
    }
    std::vector<uint8_t> const& b_;
    size_t pos_ = 0;
};

struct EventFixture {
    std::string name;                  // a plain event name when paramName is empty
    std::string paramName;
    std::vector<std::string> values;
    bool trigger = false;
};

inline EventFixture plainEvent(std::string name) {
    EventFixture e;
    e.name = std::move(name);
    return e;
}

inline EventFixture triggerEvent(std::string name, std::string param, std::vector<std::string> values) {
    EventFixture e;
    e.name = std::move(name);
    e.paramName = std::move(param);
    e.values = std::move(values);
    e.trigger = true;
    return e;
}

struct CallbackFixture {
    std::string partner = "partner";
    std::vector<EventFixture> events;
    int method = 0;
    std::string uri;
    bool hasBody = false;
    std::string body;
    int32_t maxRedirects = 5, connectTimeout = 20, requestTimeout = 20;
    int64_t callbackId = 1;
    bool hasHeaders = false;
    std::vector<std::pair<std::string, std::string>> headers;
};

struct ResponseFixture {
    int64_t issuedAt = 1000;
    int64_t refreshTtl = 3600, expirationTtl = 604800;
    int logLevel = 4;  // OFF
    std::vector<CallbackFixture> callbacks;
    int32_t maxRetries = 3, maxAttemptsPerReport = 15;
    int64_t maxReportDelay = 600;
    std::string reportUrl = "https://example.invalid/pcr.do";
    bool analyticsEnabled = true;
    int32_t maxSessionProperties = 10;
};

inline std::vector<uint8_t> encodeResponse(ResponseFixture const& r) {
    AvroWriter w;
    w.varint(r.issuedAt).varint(r.refreshTtl).varint(r.expirationTtl).varint(r.logLevel);
    if (!r.callbacks.empty()) {
        w.varint(int64_t(r.callbacks.size()));
        for (auto const& c : r.callbacks) {
            w.str(c.partner);
            if (!c.events.empty()) {
                w.varint(int64_t(c.events.size()));
                for (auto const& e : c.events) {
                    if (!e.trigger) {
                        w.varint(0).str(e.name);
                        continue;
                    }
                    w.varint(1).str(e.name).str(e.paramName);
                    if (!e.values.empty()) {
                        w.varint(int64_t(e.values.size()));
                        for (auto const& v : e.values) w.str(v);
                    }
                    w.varint(0);
                }
            }
            w.varint(0);
            w.varint(c.method).str(c.uri);
            if (c.hasBody) w.varint(1).str(c.body);
            else w.varint(0);
            w.varint(c.maxRedirects).varint(c.connectTimeout).varint(c.requestTimeout).varint(c.callbackId);
            if (c.hasHeaders) {
                w.varint(1);
                if (!c.headers.empty()) {
                    w.varint(int64_t(c.headers.size()));
                    for (auto const& [k, v] : c.headers) w.str(k).str(v);
                }
                w.varint(0);
            } else {
                w.varint(0);
            }
        }
    }
    w.varint(0);
    w.varint(r.maxRetries).varint(r.maxAttemptsPerReport).varint(r.maxReportDelay).str(r.reportUrl);
    w.boolean(r.analyticsEnabled).varint(r.maxSessionProperties);
    return w.bytes;
}

}  // namespace pulse_test
