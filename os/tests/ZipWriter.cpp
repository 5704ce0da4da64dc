#include "os/tests/ZipWriter.h"

#include <zlib.h>

#include <fstream>
#include <stdexcept>

namespace ziptest {
namespace {

void put16(std::string& out, uint32_t v) {
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}

void put32(std::string& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

std::string deflateRaw(std::string const& in) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::runtime_error("deflateInit2");
    std::string out(deflateBound(&z, uLong(in.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    z.avail_in = uInt(in.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

}  // namespace

std::string build(std::vector<Entry> const& entries, std::string const& prefix) {
    std::string out = prefix;
    std::string directory;
    for (auto const& e : entries) {
        std::string stored = e.method == 8 ? deflateRaw(e.content) : e.content;
        uint32_t crc = uint32_t(crc32(0, reinterpret_cast<Bytef const*>(e.content.data()), uInt(e.content.size())));
        uint32_t localOffset = uint32_t(out.size() - prefix.size());
        put32(out, 0x04034b50);
        put16(out, 20);
        put16(out, 0);
        put16(out, e.method);
        put16(out, 0);
        put16(out, 0x4821);
        put32(out, crc);
        put32(out, uint32_t(stored.size()));
        put32(out, uint32_t(e.content.size()));
        put16(out, uint32_t(e.name.size()));
        put16(out, e.localExtra);
        out += e.name;
        if (e.localExtra) {
            // One unknown extra block filling the padding.
            put16(out, 0xCAFE);
            put16(out, e.localExtra - 4u);
            out.append(e.localExtra - 4u, '\0');
        }
        out += stored;

        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, e.method);
        put16(directory, 0);
        put16(directory, 0x4821);
        put32(directory, crc);
        put32(directory, e.directoryCompressedSize.value_or(uint32_t(stored.size())));
        put32(directory, e.directoryUncompressedSize.value_or(uint32_t(e.content.size())));
        put16(directory, uint32_t(e.name.size()));
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, e.externalAttributes);
        put32(directory, localOffset);
        directory += e.name;
    }
    uint32_t directoryOffset = uint32_t(out.size() - prefix.size());
    out += directory;
    put32(out, 0x06054b50);
    put16(out, 0);
    put16(out, 0);
    put16(out, uint32_t(entries.size()));
    put16(out, uint32_t(entries.size()));
    put32(out, uint32_t(directory.size()));
    put32(out, directoryOffset);
    put16(out, 0);
    return out;
}

void writeFile(std::filesystem::path const& file, std::string const& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
}

}  // namespace ziptest
