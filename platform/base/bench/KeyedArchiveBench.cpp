// The typed archive against Jansson's own dump and load of the same document without type tags.
#include <benchmark/benchmark.h>
#include <jansson.h>

#include <cstring>
#include <string>

#include "platform/base/KeyedArchive.h"

using platform::Value;

namespace {

// About what one session holds: a hundred events of ten parameters each, plus its facts.
Value sessionDocument() {
    Value::Array events;
    for (int e = 0; e < 100; ++e) {
        Value::Dict params;
        for (int p = 0; p < 10; ++p) params["param" + std::to_string(p)] = Value("value " + std::to_string(e * p));
        events.push_back(Value(Value::Dict{{"name", Value("event" + std::to_string(e))},
                                           {"id", Value(int64_t{e})},
                                           {"start", Value(1.7e9 + e)},
                                           {"timed", Value(e % 2 == 0)},
                                           {"parameters", Value(params)}}));
    }
    return Value(Value::Dict{{"events", Value(events)},
                             {"apiKey", Value("ABCDEFGHIJKLMNOPQRST")},
                             {"startTime", Value(int64_t{1700000000000})},
                             {"model", Value("x86_64")}});
}

json_t* untyped(Value const& v) {
    switch (v.kind()) {
        case Value::Kind::Bool:
            return json_boolean(*v.asBool());
        case Value::Kind::Int:
            return json_integer(*v.asInt());
        case Value::Kind::Double:
            return json_real(*v.asDouble());
        case Value::Kind::String:
            return json_stringn(v.string()->data(), v.string()->size());
        case Value::Kind::Array: {
            json_t* a = json_array();
            for (auto const& e : *v.array()) json_array_append_new(a, untyped(e));
            return a;
        }
        case Value::Kind::Dict: {
            json_t* o = json_object();
            for (auto const& [k, e] : *v.dict()) json_object_set_new(o, k.c_str(), untyped(e));
            return o;
        }
        default:
            return json_null();
    }
}

void archiveEncode(benchmark::State& state) {
    Value const doc = sessionDocument();
    for (auto _ : state) benchmark::DoNotOptimize(platform::KeyedArchive::encode(doc));
}

void janssonDump(benchmark::State& state) {
    Value const doc = sessionDocument();
    for (auto _ : state) {
        // The untyped tree is built inside the loop too: the archive builds its tree each time.
        json_t* j = untyped(doc);
        char* text = json_dumps(j, JSON_COMPACT);
        benchmark::DoNotOptimize(text);
        free(text);
        json_decref(j);
    }
}

void archiveDecode(benchmark::State& state) {
    platform::Data const bytes = platform::KeyedArchive::encode(sessionDocument());
    for (auto _ : state) {
        auto v = platform::KeyedArchive::decode(bytes);
        if (!v) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(v);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}

void janssonLoad(benchmark::State& state) {
    json_t* j = untyped(sessionDocument());
    char* text = json_dumps(j, JSON_COMPACT);
    json_decref(j);
    size_t const length = strlen(text);
    for (auto _ : state) {
        json_error_t error;
        json_t* back = json_loadb(text, length, 0, &error);
        if (!back) {
            state.SkipWithError("load failed");
            break;
        }
        benchmark::DoNotOptimize(back);
        json_decref(back);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(length));
    free(text);
}

}  // namespace

BENCHMARK(archiveEncode);
BENCHMARK(janssonDump);
BENCHMARK(archiveDecode);
BENCHMARK(janssonLoad);
BENCHMARK_MAIN();
