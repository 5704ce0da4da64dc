#pragma once
// Walks one raw Avro binary datum by its schema before the Avro library reads it. The library
// allocates from the lengths and block counts it finds, so a datum is refused when any length
// or block count goes beyond the bytes left, a union or enum index is out of range, or a varint
// is longer than its type allows.
#include <avro.h>

#include <cstddef>
#include <cstdint>

// True when the bytes begin with one whole datum of the schema (what follows it is ignored,
// as the library's reader ignores it).
bool avroDatumFits(avro_schema_t schema, uint8_t const* bytes, size_t size);
