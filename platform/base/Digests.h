#pragma once
// Checksums, digests and identifiers from the installed libraries: zlib's CRC-32, libcrypto's
// MD5 and SHA-1, libuuid's UUIDs.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/Value.h"

namespace platform {

uint32_t crc32(uint8_t const* bytes, size_t size);
inline uint32_t crc32(std::string_view text) {
    return crc32(reinterpret_cast<uint8_t const*>(text.data()), text.size());
}
Data md5(uint8_t const* bytes, size_t size);
Data sha1(uint8_t const* bytes, size_t size);
// Two lower-case hex digits per byte.
std::string hexString(uint8_t const* bytes, size_t size);
inline std::string hexString(Data const& d) { return hexString(d.data(), d.size()); }
// A new random UUID in canonical upper-case form.
std::string newUuidString();
// The same UUID for the same name, in the same form (name-based, from SHA-1).
std::string nameUuidString(std::string_view name);
// Keeps libcrypto's state to the end of the process: its own clean-up at exit would free it
// while background threads still hash or connect. Takes effect when called before any other
// use of libcrypto in the process (digests here, and libcurl's start, call it first).
void keepCryptoUntilProcessEnd();

}  // namespace platform
