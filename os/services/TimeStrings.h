#pragma once
// UTC time stamps as "yyyy-MM-dd'T'HH:mm:ss" (no zone designator), used to order save records.
#include <cstdint>
#include <string>

// Now, e.g. "2016-03-01T12:34:56": always 19 characters.
std::string utcNowString();

// Seconds since 1970-01-01T00:00:00 UTC of a text in that form, read in UTC whatever the local
// time zone; a null pointer or a text that is not exactly such a time gives 0.
int64_t parseTimeString(char const* text);
