// Framing a session-sized record field by field, beside copying the same finished bytes into a
// reserved buffer with memcpy (the least any framing can cost).
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "analytics/delivery/TallyProtocolData.h"

namespace {

using Bytes = TallyProtocolData::Bytes;

// A session with 100 events of five parameters each, about the size the agent keeps per session.
void frameSession(Bytes& out) {
    TallyProtocolData::appendUshort(9, out);
    TallyProtocolData::appendString("1.4.2", out);
    TallyProtocolData::appendTimestamp(1765100000.123, out);
    TallyProtocolData::appendLong(183000, out);
    TallyProtocolData::appendLong(0, out);
    TallyProtocolData::appendBoolean(false, out);
    TallyProtocolData::appendByte(1, out);
    TallyProtocolData::appendUshort(2, out);
    TallyProtocolData::appendString("device.locale", out);
    TallyProtocolData::appendString("en_US", out);
    TallyProtocolData::appendString("default.timezone", out);
    TallyProtocolData::appendString("Europe/Berlin", out);
    TallyProtocolData::appendDouble(52.52, out);
    TallyProtocolData::appendDouble(13.40, out);
    TallyProtocolData::appendFloat(65.0f, out);
    TallyProtocolData::appendUshort(100, out);
    for (int e = 0; e < 100; ++e) {
        TallyProtocolData::appendUshort(uint16_t(e), out);
        TallyProtocolData::appendString("STARTED_LEVEL_WITH_PATH", out);
        TallyProtocolData::appendLong(1000 * e, out);
        TallyProtocolData::appendLong(250, out);
        TallyProtocolData::appendUshort(5, out);
        for (int p = 0; p < 5; ++p) {
            TallyProtocolData::appendString("parameter", out);
            TallyProtocolData::appendString("levels/world1/level03.pxl", out);
        }
    }
    TallyProtocolData::appendInt(0, out);
    TallyProtocolData::appendUshort(0, out);
}

void BM_FrameSession(benchmark::State& state) {
    Bytes out;
    out.reserve(64 * 1024);
    for (auto _ : state) {
        out.clear();
        frameSession(out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(out.size()));
}
BENCHMARK(BM_FrameSession);

void BM_MemcpySession(benchmark::State& state) {
    Bytes framed;
    frameSession(framed);
    Bytes out(64 * 1024);
    for (auto _ : state) {
        std::memcpy(out.data(), framed.data(), framed.size());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(framed.size()));
}
BENCHMARK(BM_MemcpySession);

}  // namespace

BENCHMARK_MAIN();
