#include "analytics/crash/ReportFile.h"

#include "analytics/crash/AsyncSupport.h"

#include <cerrno>
#include <cstdlib>
#include <sys/syscall.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const uint8_t* data, size_t length) {
    int saved = errno;
    while (length > 0) {
        long written = syscall(SYS_write, fd, data, length);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            errno = saved;
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    errno = saved;
    return true;
}

size_t packVarint(uint8_t* out, uint64_t value) {
    size_t n = 0;
    do {
        uint8_t byte = value & 0x7F;
        value >>= 7;
        out[n++] = static_cast<uint8_t>(byte | (value ? 0x80 : 0));
    } while (value);
    return n;
}

}  // namespace

void report_file_init(report_file* file, int fd, uint64_t limit) {
    file->fd = fd;
    file->limit = limit;
    file->total_bytes = 0;
    file->buflen = 0;
    file->failed = false;
}

bool report_file_write(report_file* file, const void* data, size_t length) {
    if (file->failed)
        return false;
    if (file->limit != 0 && file->total_bytes + length > file->limit) {
        file->failed = true;
        return false;
    }
    file->total_bytes += length;
    if (file->buflen + length > sizeof file->buffer && !report_file_flush(file))
        return false;
    if (length > sizeof file->buffer) {
        if (!writeAll(file->fd, static_cast<const uint8_t*>(data), length)) {
            file->failed = true;
            return false;
        }
        return true;
    }
    tlcrash_async_memcpy(file->buffer + file->buflen, data, length);
    file->buflen += length;
    return true;
}

bool report_file_flush(report_file* file) {
    if (file->buflen == 0)
        return !file->failed;
    bool ok = writeAll(file->fd, file->buffer, file->buflen);
    file->buflen = 0;
    if (!ok)
        file->failed = true;
    return ok && !file->failed;
}

bool report_file_close(report_file* file) {
    bool flushed = report_file_flush(file);
    int saved = errno;
    bool closed = syscall(SYS_close, file->fd) == 0;
    errno = saved;
    return flushed && closed;
}

size_t writer_pack_field(report_file* file, uint32_t field_id, tlcrash_proto_type type, const void* value) {
    uint32_t wire;
    switch (type) {
    case TLCRASH_PROTO_INT32: case TLCRASH_PROTO_SINT32: case TLCRASH_PROTO_INT64: case TLCRASH_PROTO_SINT64:
    case TLCRASH_PROTO_UINT32: case TLCRASH_PROTO_UINT64: case TLCRASH_PROTO_BOOL: case TLCRASH_PROTO_ENUM:
        wire = 0;
        break;
    case TLCRASH_PROTO_SFIXED64: case TLCRASH_PROTO_FIXED64: case TLCRASH_PROTO_DOUBLE:
        wire = 1;
        break;
    case TLCRASH_PROTO_SFIXED32: case TLCRASH_PROTO_FIXED32: case TLCRASH_PROTO_FLOAT:
        wire = 5;
        break;
    case TLCRASH_PROTO_STRING: case TLCRASH_PROTO_BYTES: case TLCRASH_PROTO_MESSAGE:
        wire = 2;
        break;
    default:
        abort();
    }
    uint8_t head[32];
    size_t n = packVarint(head, static_cast<uint64_t>(field_id) << 3 | wire);
    const uint8_t* body = nullptr;
    uint64_t bodyLength = 0;
    switch (type) {
    case TLCRASH_PROTO_INT32:
        // Negative values are sign-extended and take ten bytes.
        n += packVarint(head + n, static_cast<uint64_t>(static_cast<int64_t>(*static_cast<const int32_t*>(value))));
        break;
    case TLCRASH_PROTO_SINT32: {
        int32_t v = *static_cast<const int32_t*>(value);
        n += packVarint(head + n, (static_cast<uint32_t>(v) << 1) ^ static_cast<uint32_t>(v >> 31));
        break;
    }
    case TLCRASH_PROTO_SINT64: {
        int64_t v = *static_cast<const int64_t*>(value);
        n += packVarint(head + n, (static_cast<uint64_t>(v) << 1) ^ static_cast<uint64_t>(v >> 63));
        break;
    }
    case TLCRASH_PROTO_INT64: case TLCRASH_PROTO_UINT64:
        n += packVarint(head + n, *static_cast<const uint64_t*>(value));
        break;
    case TLCRASH_PROTO_UINT32: case TLCRASH_PROTO_ENUM: case TLCRASH_PROTO_MESSAGE:
        n += packVarint(head + n, *static_cast<const uint32_t*>(value));
        break;
    case TLCRASH_PROTO_BOOL:
        head[n++] = *static_cast<const uint8_t*>(value);
        break;
    case TLCRASH_PROTO_SFIXED32: case TLCRASH_PROTO_FIXED32: case TLCRASH_PROTO_FLOAT:
        tlcrash_async_memcpy(head + n, value, 4);
        n += 4;
        break;
    case TLCRASH_PROTO_SFIXED64: case TLCRASH_PROTO_FIXED64: case TLCRASH_PROTO_DOUBLE:
        tlcrash_async_memcpy(head + n, value, 8);
        n += 8;
        break;
    case TLCRASH_PROTO_STRING: {
        body = static_cast<const uint8_t*>(value);
        bodyLength = tlcrash_async_strlen(static_cast<const char*>(value));
        n += packVarint(head + n, bodyLength);
        break;
    }
    case TLCRASH_PROTO_BYTES: {
        auto* bytes = static_cast<const tlcrash_proto_bytes*>(value);
        body = static_cast<const uint8_t*>(bytes->data);
        bodyLength = bytes->length;
        n += packVarint(head + n, bodyLength);
        break;
    }
    }
    if (file != nullptr) {
        report_file_write(file, head, n);
        if (bodyLength > 0)
            report_file_write(file, body, bodyLength);
    }
    return n + bodyLength;
}
