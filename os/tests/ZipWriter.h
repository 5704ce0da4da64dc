#pragma once
// Writes small zip archives byte by byte, so tests can lay out entries exactly (odd offsets,
// compressed or directory entries, lying sizes) the way a real or damaged archive might.
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ziptest {

struct Entry {
    Entry(std::string name, std::string content) : name(std::move(name)), content(std::move(content)) {}

    std::string name;
    std::string content;
    uint16_t method = 0;              // 0 stored, 8 deflated (content is then compressed)
    uint32_t externalAttributes = 0;  // 0x10: directory
    uint16_t localExtra = 0;          // padding bytes in the local header's extra field
    std::optional<uint32_t> directoryCompressedSize;  // what the central directory claims
    std::optional<uint32_t> directoryUncompressedSize;
};

// The archive's bytes; prefix is written before the first local header (a larger file holding
// the archive).
std::string build(std::vector<Entry> const& entries, std::string const& prefix = {});

void writeFile(std::filesystem::path const& file, std::string const& bytes);

}  // namespace ziptest
