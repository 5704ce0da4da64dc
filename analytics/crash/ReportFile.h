#pragma once
// The report's output: a buffered descriptor with an optional byte limit, and the field
// encoder that writes protocol-buffer fields into it (or only sizes them).
#include <cstddef>
#include <cstdint>

constexpr size_t TLCRASH_REPORT_FILE_BUFFER = 256;

struct report_file {
    int fd;
    uint64_t limit;        // 0: none
    uint64_t total_bytes;  // accepted so far
    uint64_t buflen;
    // Set at the first refused or failed write; every later write is refused too, so a cut
    // report never has holes inside its messages.
    bool failed;
    uint8_t buffer[TLCRASH_REPORT_FILE_BUFFER];
};

void report_file_init(report_file* file, int fd, uint64_t limit);
bool report_file_write(report_file* file, const void* data, size_t length);
bool report_file_flush(report_file* file);
bool report_file_close(report_file* file);

enum tlcrash_proto_type : uint32_t {
    TLCRASH_PROTO_INT32 = 0,
    TLCRASH_PROTO_SINT32 = 1,
    TLCRASH_PROTO_SFIXED32 = 2,
    TLCRASH_PROTO_INT64 = 3,
    TLCRASH_PROTO_SINT64 = 4,
    TLCRASH_PROTO_SFIXED64 = 5,
    TLCRASH_PROTO_UINT32 = 6,
    TLCRASH_PROTO_FIXED32 = 7,
    TLCRASH_PROTO_UINT64 = 8,
    TLCRASH_PROTO_FIXED64 = 9,
    TLCRASH_PROTO_FLOAT = 10,
    TLCRASH_PROTO_DOUBLE = 11,
    TLCRASH_PROTO_BOOL = 12,
    TLCRASH_PROTO_ENUM = 13,
    TLCRASH_PROTO_STRING = 14,
    TLCRASH_PROTO_BYTES = 15,
    TLCRASH_PROTO_MESSAGE = 16,
};

// Value of a bytes field.
struct tlcrash_proto_bytes {
    uint64_t length;
    const void* data;
};

// Writes one field (nothing when file is null) and returns its encoded size. For a message the
// value is the body length (uint32_t) and only the tag and length are written.
size_t writer_pack_field(report_file* file, uint32_t field_id, tlcrash_proto_type type, const void* value);
