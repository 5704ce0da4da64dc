#pragma once
// Turns a JSON document into Avro binary data by an Avro schema given as JSON text, one schema
// type at a time. A failure writes one line to standard error and gives nothing.
#include <avro.h>
#include <jansson.h>

#include <cstdio>
#include <optional>

#include "platform/base/Value.h"

class Json2Avro {
public:
    // The Avro binary encoding of the JSON text by the schema, or nothing on any failure (the
    // output may be no longer than the JSON text).
    static std::optional<platform::Data> AVRORepresentationWithJSONSchemaData(platform::Data const& json,
                                                                             platform::Data const& schema);
    // Fills the value from the JSON value (absent: nothing was there); 0 on success, 1 on failure.
    static int convert(avro_schema_t schema, json_t const* json, avro_value_t* value);
    // Where the messages go: standard error unless a fuzz run quiets them.
    static void setMessageStream(std::FILE* stream);
};
