#pragma once
// A forward-only std::streambuf over a byte range, so stream readers can parse a mapped file in
// place. Reading past the end yields end-of-file; seeking is not supported.
#include <cstdint>
#include <memory>
#include <streambuf>

#include "os/File.h"

class OpaqueStreamBuf : public std::basic_streambuf<char> {
public:
    // Keeps the file alive for as long as the stream buffer reads it.
    explicit OpaqueStreamBuf(std::shared_ptr<File> const& file);
    // The caller keeps the bytes alive while the stream buffer is used.
    OpaqueStreamBuf(uint8_t const* data, uint64_t size);
    ~OpaqueStreamBuf() override;

private:
    std::shared_ptr<File> file_;
};
