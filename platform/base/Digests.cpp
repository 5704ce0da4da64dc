#include "platform/base/Digests.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <uuid/uuid.h>
#include <zlib.h>

#include <climits>

namespace platform {
namespace {

Data digest(EVP_MD const* md, uint8_t const* bytes, size_t size) {
    keepCryptoUntilProcessEnd();
    Data out(EVP_MAX_MD_SIZE);
    unsigned length = 0;
    if (EVP_Digest(size ? bytes : reinterpret_cast<uint8_t const*>(""), size, out.data(), &length, md, nullptr) != 1)
        return {};
    out.resize(length);
    return out;
}

}  // namespace

void keepCryptoUntilProcessEnd() {
    static bool const kept = OPENSSL_init_crypto(OPENSSL_INIT_NO_ATEXIT, nullptr) == 1;
    (void)kept;
}

uint32_t crc32(uint8_t const* bytes, size_t size) {
    uLong crc = ::crc32(0L, Z_NULL, 0);
    while (size > 0) {
        uInt const n = size > UINT_MAX ? UINT_MAX : static_cast<uInt>(size);
        crc = ::crc32(crc, bytes, n);
        bytes += n;
        size -= n;
    }
    return static_cast<uint32_t>(crc);
}

Data md5(uint8_t const* bytes, size_t size) { return digest(EVP_md5(), bytes, size); }

Data sha1(uint8_t const* bytes, size_t size) { return digest(EVP_sha1(), bytes, size); }

std::string hexString(uint8_t const* bytes, size_t size) {
    static char const digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(size * 2);
    for (size_t i = 0; i < size; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string newUuidString() {
    uuid_t id;
    uuid_generate_random(id);
    char text[37];
    uuid_unparse_upper(id, text);
    return text;
}

std::string nameUuidString(std::string_view name) {
    // A namespace of our own: no other system's names hash to these.
    static uuid_t const space = {0x3b, 0x1e, 0x7c, 0x52, 0x90, 0x4d, 0x4a, 0x6f,
                                 0x8e, 0x21, 0x5d, 0xc4, 0x07, 0xa9, 0x6b, 0xf3};
    uuid_t id;
    uuid_generate_sha1(id, space, name.data(), name.size());
    char text[37];
    uuid_unparse_upper(id, text);
    return text;
}

}  // namespace platform
