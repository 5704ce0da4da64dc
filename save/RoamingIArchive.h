#pragma once
// Reads what RoamingOArchive writes, and the older library versions' layouts as the serialization
// library reads them, except that lengths and counts are always 4 bytes. Reading is bounded by the
// bytes in the buffer: a count that the remaining bytes cannot hold is an error, never a reservation.
#include <cstddef>
#include <cstdint>
#include <streambuf>

#include <boost/archive/binary_iarchive_impl.hpp>
#include <boost/serialization/collection_size_type.hpp>

namespace roaming_detail {
// A read-only buffer over the caller's bytes; a base of the archive so that it is built before
// the archive's stream machinery takes it.
class MemoryBuffer : public std::streambuf {
public:
    MemoryBuffer(uint8_t const* data, size_t size);
    size_t remaining() const { return static_cast<size_t>(egptr() - gptr()); }
};
struct MemoryBufferHolder {
    MemoryBufferHolder(uint8_t const* data, size_t size) : buffer(data, size) {}
    MemoryBuffer buffer;
};
}  // namespace roaming_detail

class RoamingIArchive
    : private roaming_detail::MemoryBufferHolder,
      public boost::archive::binary_iarchive_impl<RoamingIArchive, char, std::char_traits<char>> {
public:
    static constexpr uint16_t kMaxLibraryVersion = 10;

    // Reads and checks the header; throws boost::archive::archive_exception when it is not one
    // this reader accepts (signature, library version 10 and below, sizes, byte order).
    RoamingIArchive(uint8_t const* data, size_t size);

    uint16_t libraryVersion() const { return libraryVersion_; }

private:
    using Base = boost::archive::binary_iarchive_impl<RoamingIArchive, char, std::char_traits<char>>;
    friend class boost::archive::detail::interface_iarchive<RoamingIArchive>;
    friend class boost::archive::detail::common_iarchive<RoamingIArchive>;
    friend class boost::archive::basic_binary_iarchive<RoamingIArchive>;
    friend class boost::archive::basic_binary_iprimitive<RoamingIArchive, char, std::char_traits<char>>;
    friend class boost::archive::load_access;

    void readHeader();

    template <class T>
    void load_override(T& t) {
        Base::load_override(t);
    }
    void load_override(boost::serialization::collection_size_type& count);
    void load_override(boost::archive::tracking_type& tracking);

    uint16_t libraryVersion_ = 0;
};
