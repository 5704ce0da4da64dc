// The JSON-to-Avro converter over (JSON, schema) pairs: the first byte picks one of a set of
// schemas covering every type, the rest is the JSON text.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "analytics/delivery/Json2Avro.h"

namespace {
char const* const kSchemas[] = {
    R"({"type":"array","items":"double"})",
    R"({"type":"array","items":["null","string",{"type":"map","values":"long"}]})",
    R"({"type":"record","name":"R","fields":[{"name":"i","type":"int"},{"name":"f","type":"float"},
       {"name":"b","type":"bytes"},{"name":"t","type":"boolean"},
       {"name":"e","type":{"type":"enum","name":"E","symbols":["A","B","C"]}},
       {"name":"x","type":{"type":"fixed","name":"X","size":2}},
       {"name":"u","type":["null",{"type":"record","name":"U","fields":[{"name":"s","type":"string"}]}]},
       {"name":"m","type":{"type":"map","values":{"type":"array","items":"long"}}}]})",
    R"({"type":"record","name":"L","fields":[{"name":"next","type":["null","L"]}]})",
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static bool const quiet = [] {
        // The converter's messages would bury the fuzzer's own output.
        Json2Avro::setMessageStream(std::fopen("/dev/null", "w"));
        return true;
    }();
    (void)quiet;
    if (size == 0) return 0;
    char const* schema = kSchemas[data[0] % (sizeof kSchemas / sizeof kSchemas[0])];
    platform::Data json(data + 1, data + size);
    auto out = Json2Avro::AVRORepresentationWithJSONSchemaData(json, platform::Data(schema, schema + std::strlen(schema)));
    if (out && out->size() > json.size()) std::abort();
    return 0;
}
