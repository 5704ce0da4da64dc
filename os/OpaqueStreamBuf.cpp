#include "os/OpaqueStreamBuf.h"

OpaqueStreamBuf::OpaqueStreamBuf(std::shared_ptr<File> const& file)
    : OpaqueStreamBuf(file ? file->data() : nullptr, file ? file->size() : 0) {
    file_ = file;
}

OpaqueStreamBuf::OpaqueStreamBuf(uint8_t const* data, uint64_t size) {
    // The get area is never written through: the const_cast only satisfies setg's signature.
    char* begin = const_cast<char*>(reinterpret_cast<char const*>(data));
    if (!begin) size = 0;
    setg(begin, begin, begin + size);
}

OpaqueStreamBuf::~OpaqueStreamBuf() = default;
