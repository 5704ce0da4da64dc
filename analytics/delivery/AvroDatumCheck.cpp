#include "analytics/delivery/AvroDatumCheck.h"

namespace {

class Walker {
public:
    Walker(uint8_t const* p, size_t n) : p_(p), left_(n) {}

    bool value(avro_schema_t s, int depth) {
        if (!s || depth > 64) return false;
        switch (avro_typeof(s)) {
            case AVRO_NULL:
                return true;
            case AVRO_BOOLEAN:
                return skip(1);
            case AVRO_INT32: {
                int64_t v;
                return varint(&v, 5) && v >= INT32_MIN && v <= INT32_MAX;
            }
            case AVRO_INT64: {
                int64_t v;
                return varint(&v, 10);
            }
            case AVRO_FLOAT:
                return skip(4);
            case AVRO_DOUBLE:
                return skip(8);
            case AVRO_STRING:
            case AVRO_BYTES:
                return lengthAndSkip();
            case AVRO_FIXED:
                return skip(size_t(avro_schema_fixed_size(s)));
            case AVRO_ENUM: {
                int64_t v;
                return varint(&v, 5) && v >= 0 && v < avro_schema_enum_number_of_symbols(s);
            }
            case AVRO_RECORD: {
                size_t const n = avro_schema_record_size(s);
                for (size_t i = 0; i < n; ++i)
                    if (!value(avro_schema_record_field_get_by_index(s, int(i)), depth + 1)) return false;
                return true;
            }
            case AVRO_UNION: {
                int64_t v;
                if (!varint(&v, 5) || v < 0 || uint64_t(v) >= avro_schema_union_size(s)) return false;
                return value(avro_schema_union_branch(s, int(v)), depth + 1);
            }
            case AVRO_ARRAY:
                return blocks(avro_schema_array_items(s), false, depth);
            case AVRO_MAP:
                return blocks(avro_schema_map_values(s), true, depth);
            case AVRO_LINK:
                return value(avro_schema_link_target(s), depth + 1);
        }
        return false;
    }

private:
    bool skip(size_t n) {
        if (n > left_) return false;
        p_ += n;
        left_ -= n;
        return true;
    }

    // Zig-zag varint of at most maxBytes bytes.
    bool varint(int64_t* out, int maxBytes) {
        uint64_t v = 0;
        for (int i = 0; i < maxBytes; ++i) {
            if (left_ == 0) return false;
            uint8_t const b = *p_++;
            --left_;
            v |= uint64_t(b & 0x7f) << (7 * i);
            if (!(b & 0x80)) {
                *out = int64_t(v >> 1) ^ -int64_t(v & 1);
                return true;
            }
        }
        return false;
    }

    bool lengthAndSkip() {
        int64_t len;
        return varint(&len, 10) && len >= 0 && uint64_t(len) <= left_ && skip(size_t(len));
    }

    bool blocks(avro_schema_t item, bool keyed, int depth) {
        for (;;) {
            int64_t count;
            if (!varint(&count, 10)) return false;
            if (count == 0) return true;
            if (count < 0) {
                if (count == INT64_MIN) return false;
                count = -count;
                int64_t bytes;
                if (!varint(&bytes, 10) || bytes < 0 || uint64_t(bytes) > left_) return false;
            }
            if (uint64_t(count) > left_) return false;
            for (int64_t i = 0; i < count; ++i) {
                if (keyed && !lengthAndSkip()) return false;
                if (!value(item, depth + 1)) return false;
            }
        }
    }

    uint8_t const* p_;
    size_t left_;
};

}  // namespace

bool avroDatumFits(avro_schema_t schema, uint8_t const* bytes, size_t size) {
    if (!schema || (!bytes && size)) return false;
    Walker w(bytes, size);
    return w.value(schema, 0);
}
