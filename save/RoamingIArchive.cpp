#include "save/RoamingIArchive.h"

#include <bit>
#include <cstring>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_binary_iarchive.ipp>
#include <boost/archive/impl/basic_binary_iprimitive.ipp>

namespace boost::archive {
template class basic_binary_iprimitive<RoamingIArchive, char, std::char_traits<char>>;
template class basic_binary_iarchive<RoamingIArchive>;
template class binary_iarchive_impl<RoamingIArchive, char, std::char_traits<char>>;
template class detail::archive_serializer_map<RoamingIArchive>;
}  // namespace boost::archive

namespace roaming_detail {
MemoryBuffer::MemoryBuffer(uint8_t const* data, size_t size) {
    char* begin = const_cast<char*>(reinterpret_cast<char const*>(data));
    setg(begin, begin, begin + size);
}
}  // namespace roaming_detail

namespace {
using boost::archive::archive_exception;
}

RoamingIArchive::RoamingIArchive(uint8_t const* data, size_t size)
    : MemoryBufferHolder(data, size),
      Base(buffer, boost::archive::no_header | boost::archive::no_codecvt) {
    readHeader();
}

void RoamingIArchive::readHeader() {
    static char const signature[] = "serialization::archive";
    uint32_t length = 0;
    load_binary(&length, sizeof length);
    if (length != sizeof signature - 1) {
        throw archive_exception(archive_exception::invalid_signature);
    }
    char text[sizeof signature - 1];
    load_binary(text, sizeof text);
    if (std::memcmp(text, signature, sizeof text) != 0) {
        throw archive_exception(archive_exception::invalid_signature);
    }
    uint16_t version = 0;
    load_binary(&version, sizeof version);
    if (version > kMaxLibraryVersion) {
        throw archive_exception(archive_exception::unsupported_version);
    }
    libraryVersion_ = version;
    set_library_version(boost::serialization::library_version_type(version));
    uint8_t sizes[4] = {};
    load_binary(sizes, sizeof sizes);
    int32_t byteOrderMark = 0;
    load_binary(&byteOrderMark, sizeof byteOrderMark);
    // The recorded size of long (sizes[1]) differs between writers and is not checked.
    if (sizes[0] != 4 || sizes[2] != 4 || sizes[3] != 8 || byteOrderMark != 1) {
        throw archive_exception(archive_exception::incompatible_native_format);
    }
}

void RoamingIArchive::load_override(boost::serialization::collection_size_type& count) {
    uint32_t value = 0;
    load_binary(&value, sizeof value);
    // Bounded by the bytes that remain, so a damaged count can neither reserve a huge vector nor
    // run a long loop over elements that read nothing.
    if (value > buffer.remaining()) {
        throw archive_exception(archive_exception::array_size_too_short);
    }
    count = boost::serialization::collection_size_type(value);
}

void RoamingIArchive::load_override(boost::archive::tracking_type& tracking) {
    uint8_t value = 0;
    load_binary(&value, sizeof value);
    tracking = boost::archive::tracking_type(value != 0);
}
