#include "save/RoamingOArchive.h"

#include <bit>
#include <cstring>
#include <limits>

#include <boost/archive/archive_exception.hpp>
#include <boost/archive/impl/archive_serializer_map.ipp>
#include <boost/archive/impl/basic_binary_oarchive.ipp>
#include <boost/archive/impl/basic_binary_oprimitive.ipp>

static_assert(std::endian::native == std::endian::little, "save blobs are little-endian");

namespace boost::archive {
template class basic_binary_oprimitive<RoamingOArchive, char, std::char_traits<char>>;
template class basic_binary_oarchive<RoamingOArchive>;
template class binary_oarchive_impl<RoamingOArchive, char, std::char_traits<char>>;
template class detail::archive_serializer_map<RoamingOArchive>;
}  // namespace boost::archive

RoamingOArchive::RoamingOArchive(std::streambuf& out)
    : Base(out, boost::archive::no_header | boost::archive::no_codecvt) {
    static char const signature[] = "serialization::archive";
    uint32_t const length = sizeof signature - 1;
    save_binary(&length, sizeof length);
    save_binary(signature, length);
    uint16_t const version = kLibraryVersion;
    save_binary(&version, sizeof version);
    // Recorded sizes of int, long, float and double: long is recorded as 4 on every processor.
    uint8_t const sizes[4] = {4, 4, 4, 8};
    save_binary(sizes, sizeof sizes);
    int32_t const byteOrderMark = 1;
    save_binary(&byteOrderMark, sizeof byteOrderMark);
}

void RoamingOArchive::save_override(boost::serialization::collection_size_type const& count) {
    if (std::size_t(count) > std::numeric_limits<uint32_t>::max()) {
        throw boost::archive::archive_exception(boost::archive::archive_exception::output_stream_error);
    }
    uint32_t const value = static_cast<uint32_t>(std::size_t(count));
    save_binary(&value, sizeof value);
}
