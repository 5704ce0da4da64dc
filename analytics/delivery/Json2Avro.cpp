#include "analytics/delivery/Json2Avro.h"

#include <atomic>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace {

std::atomic<std::FILE*> messageStream{nullptr};

int fail(char const* message) {
    std::FILE* stream = messageStream.load();
    std::fputs(message, stream ? stream : stderr);
    return 1;
}

// A JSON string's bytes up to the first zero byte, as the C string reads.
std::string cText(json_t const* j) { return std::string(json_string_value(j)); }

}  // namespace

void Json2Avro::setMessageStream(std::FILE* stream) { messageStream = stream; }

int Json2Avro::convert(avro_schema_t schema, json_t const* json, avro_value_t* value) {
    if (!json) return fail("ERROR: Avro schema does not match JSON\n");
    switch (avro_typeof(schema)) {
        case AVRO_STRING: {
            json_t const* s = json;
            if (json_is_object(json)) {
                s = json_object_get(json, "string");
                if (!s) return 1;
            }
            if (!json_is_string(s)) return fail("ERROR: Expecting JSON string for Avro string, got something else\n");
            std::string const text = cText(s);
            return avro_value_set_string_len(value, text.c_str(), text.size() + 1) == 0 ? 0 : 1;
        }
        case AVRO_BYTES: {
            if (!json_is_string(json)) return fail("ERROR: Expecting JSON string for Avro string, got something else\n");
            std::string text = cText(json);
            return avro_value_set_bytes(value, text.data(), text.size()) == 0 ? 0 : 1;
        }
        case AVRO_INT32:
            if (!json_is_integer(json)) return fail("ERROR: Expecting JSON integer for Avro int, got something else\n");
            return avro_value_set_int(value, int32_t(uint32_t(uint64_t(json_integer_value(json))))) == 0 ? 0 : 1;
        case AVRO_INT64:
            if (!json_is_integer(json)) return fail("ERROR: Expecting JSON integer for Avro long, got something else\n");
            return avro_value_set_long(value, json_integer_value(json)) == 0 ? 0 : 1;
        case AVRO_FLOAT: {
            if (!json_is_real(json)) return fail("ERROR: Expecting JSON real for Avro float, got something else\n");
            double const d = json_real_value(json);
            // Beyond the float range the narrowing is undefined: it becomes infinity.
            float const f = d > FLT_MAX ? INFINITY : d < -FLT_MAX ? -INFINITY : float(d);
            return avro_value_set_float(value, f) == 0 ? 0 : 1;
        }
        case AVRO_DOUBLE:
            if (!json_is_real(json)) return fail("ERROR: Expecting JSON real for Avro double, got something else\n");
            return avro_value_set_double(value, json_real_value(json)) == 0 ? 0 : 1;
        case AVRO_BOOLEAN:
            if (!json_is_boolean(json)) return fail("ERROR: Expecting JSON boolean for Avro boolean, got something else\n");
            return avro_value_set_boolean(value, json_is_true(json)) == 0 ? 0 : 1;
        case AVRO_NULL:
            if (!json_is_null(json)) return fail("ERROR: Expecting JSON null for Avro null, got something else\n");
            return avro_value_set_null(value) == 0 ? 0 : 1;
        case AVRO_RECORD: {
            if (!json_is_object(json)) return fail("ERROR: Expecting JSON object for Avro record, got something else\n");
            size_t const n = avro_schema_record_size(schema);
            for (size_t i = 0; i < n; ++i) {
                avro_value_t field;
                char const* name = nullptr;
                if (avro_value_get_by_index(value, i, &field, &name) != 0 || !name) return 1;
                if (convert(avro_schema_record_field_get_by_index(schema, int(i)), json_object_get(json, name), &field) != 0)
                    return 1;
            }
            return 0;
        }
        case AVRO_ENUM: {
            int symbol = -1;
            if (json_is_integer(json)) {
                json_int_t const v = json_integer_value(json);
                if (v >= 0 && v < avro_schema_enum_number_of_symbols(schema)) symbol = int(v);
            } else if (json_is_string(json)) {
                symbol = avro_schema_enum_get_by_name(schema, json_string_value(json));
            } else {
                return fail("ERROR: Expecting JSON integer os string for Avro enum, got something else\n");
            }
            // A number outside the symbols or a name that is none of them sets nothing.
            if (symbol < 0) return fail("ERROR: Expecting JSON integer os string for Avro enum, got something else\n");
            return avro_value_set_enum(value, symbol) == 0 ? 0 : 1;
        }
        case AVRO_FIXED: {
            if (!json_is_string(json)) return fail("ERROR: Expecting JSON string for Avro fixed, got something else\n");
            std::string text = cText(json);
            if (int64_t(text.size()) != avro_schema_fixed_size(schema) || avro_value_set_fixed(value, text.data(), text.size()) != 0)
                return fail("ERROR: Setting Avro fixed value FAILED\n");
            return 0;
        }
        case AVRO_MAP: {
            if (!json_is_object(json)) return fail("ERROR: Expecting JSON object for Avro map, got something else\n");
            avro_schema_t const values = avro_schema_map_values(schema);
            char const* key;
            json_t* member;
            json_object_foreach(const_cast<json_t*>(json), key, member) {
                avro_value_t element;
                if (avro_value_add(value, key, &element, nullptr, nullptr) != 0) return 1;
                if (convert(values, member, &element) != 0) return 1;
            }
            return 0;
        }
        case AVRO_ARRAY: {
            if (!json_is_array(json)) return fail("ERROR: Expecting JSON array for Avro array, got something else\n");
            avro_schema_t const items = avro_schema_array_items(schema);
            size_t index;
            json_t* element;
            json_array_foreach(const_cast<json_t*>(json), index, element) {
                avro_value_t item;
                if (avro_value_append(value, &item, nullptr) != 0) return 1;
                if (convert(items, element, &item) != 0) return 1;
            }
            return 0;
        }
        case AVRO_UNION: {
            size_t const n = avro_schema_union_size(schema);
            for (size_t i = 0; i < n; ++i) {
                avro_schema_t const branchSchema = avro_schema_union_branch(schema, int(i));
                avro_value_t branch;
                if (!branchSchema || avro_value_set_branch(value, int(i), &branch) != 0) continue;
                json_t const* source = json;
                if (is_avro_record(branchSchema) || is_avro_map(branchSchema)) {
                    // Given in JSON as an object with one member named after the type.
                    char const* typeName = is_avro_record(branchSchema) ? avro_schema_name(branchSchema) : "map";
                    source = json_is_object(json) && typeName ? json_object_get(json, typeName) : nullptr;
                }
                if (convert(branchSchema, source, &branch) == 0) return 0;
            }
            return fail("ERROR: No type in the Avro union matched the JSON type we got\n");
        }
        case AVRO_LINK:
            return fail("ERROR: AVRO_LINK is not implemented\n");
    }
    return 1;
}

std::optional<platform::Data> Json2Avro::AVRORepresentationWithJSONSchemaData(platform::Data const& jsonText,
                                                                             platform::Data const& schemaText) {
    json_error_t error;
    json_t* json = json_loadb(reinterpret_cast<char const*>(jsonText.data()), jsonText.size(), JSON_DISABLE_EOF_CHECK, &error);
    if (!json) return std::nullopt;
    avro_schema_t schema = nullptr;
    std::string const text(schemaText.begin(), schemaText.end());
    if (avro_schema_from_json_length(text.data(), text.size(), &schema) != 0 || !schema) {
        json_decref(json);
        return std::nullopt;
    }
    std::optional<platform::Data> out;
    avro_value_iface_t* iface = avro_generic_class_from_schema(schema);
    avro_value_t value;
    if (iface && avro_generic_value_new(iface, &value) == 0) {
        if (convert(schema, json, &value) == 0) {
            platform::Data buffer(jsonText.size());
            avro_writer_t writer = avro_writer_memory(reinterpret_cast<char*>(buffer.data()), int64_t(buffer.size()));
            if (writer) {
                if (avro_value_write(writer, &value) == 0) {
                    buffer.resize(size_t(avro_writer_tell(writer)));
                    out = std::move(buffer);
                }
                avro_writer_free(writer);
            }
        }
        avro_value_decref(&value);
    }
    if (iface) avro_value_iface_decref(iface);
    avro_schema_decref(schema);
    json_decref(json);
    return out;
}
