#pragma once
// The binary archive of the save record: the standard binary archive of the serialization library
// with the layout that blobs written by every device share: 4-byte lengths and collection counts
// on every processor and library version 10 in the header (the installed library writes 8-byte
// sizes and its own newer version).
#include <cstdint>
#include <streambuf>
#include <string>

#include <boost/archive/binary_oarchive_impl.hpp>
#include <boost/serialization/collection_size_type.hpp>

class RoamingOArchive
    : public boost::archive::binary_oarchive_impl<RoamingOArchive, char, std::char_traits<char>> {
public:
    static constexpr uint16_t kLibraryVersion = 10;

    // Writes the header at once.
    explicit RoamingOArchive(std::streambuf& out);

private:
    using Base = boost::archive::binary_oarchive_impl<RoamingOArchive, char, std::char_traits<char>>;
    friend class boost::archive::detail::interface_oarchive<RoamingOArchive>;
    friend class boost::archive::detail::common_oarchive<RoamingOArchive>;
    friend class boost::archive::basic_binary_oarchive<RoamingOArchive>;
    friend class boost::archive::basic_binary_oprimitive<RoamingOArchive, char, std::char_traits<char>>;
    friend class boost::archive::save_access;

    template <class T>
    void save_override(T& t) {
        Base::save_override(t);
    }
    void save_override(boost::serialization::collection_size_type const& count);
};
