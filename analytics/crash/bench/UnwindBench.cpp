// Unwinding the executed 64-frame x86-64 Mach-O stack with every unwinder against frame pointers
// alone on the same stack; symbol lookup in 10,000 symbols against a binary search of a sorted copy.
#include "analytics/crash/AsyncCompactUnwind.h"
#include "analytics/crash/AsyncDwarfCfi.h"
#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/tests/support/MachOFixtureWriter.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <csetjmp>
#include <memory>
#include <string>

namespace {

using ChainEntry = int (*)(int depth, void* context, void (*callback)(void*));

struct Chain {
    tlcrash_async_image_list images;
    std::unique_ptr<crash_test::MachOTestLoader> loader;
    Chain() {
        tlcrash_async_image_list_init(&images, tlcrash_async_task_self());
        loader = std::make_unique<crash_test::MachOTestLoader>(
            crash_test::readBytes(crash_test::imagesDir() / "x86_64_chain.dylib"), "x86_64_chain.dylib", true);
        loader->announce(&images);
    }
};

Chain& chain() {
    static Chain* c = new Chain();
    return *c;
}

struct Run {
    benchmark::State* state;
    const tlcrash_async_unwinder* unwinders;
    size_t count;
    jmp_buf back;
};

tlcrash_error_t walkRepeatedly(tlcrash_async_thread_state* start, void* context) {
    auto* run = static_cast<Run*>(context);
    size_t frames = 0;
    for (auto _ : *run->state) {
        tlcrash_async_stack_cursor cursor;
        tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), start, &chain().images);
        frames = 0;
        while (frames < 512 && tlcrash_async_stack_cursor_next_using(&cursor, run->unwinders, run->count) ==
                                   TLCRASH_UNWIND_ESUCCESS)
            ++frames;
        tlcrash_async_stack_cursor_free(&cursor);
        benchmark::DoNotOptimize(frames);
    }
    run->state->counters["frames"] = double(frames);
    return TLCRASH_ESUCCESS;
}

__attribute__((noinline)) void onChain(void* context) {
    auto* run = static_cast<Run*>(context);
    tlcrash_async_thread_state_current(walkRepeatedly, run);
    longjmp(run->back, 1);
}

void unwindChain(benchmark::State& state, const tlcrash_async_unwinder* unwinders, size_t count) {
    const auto entry = reinterpret_cast<ChainEntry>(chain().loader->symbol("_chain_entry"));
    Run run{&state, unwinders, count, {}};
    // Depth 20: 21 rounds of three Mach-O frames, the last call and the entry make 65 frames.
    if (setjmp(run.back) == 0)
        entry(20, &run, onChain);
}

void BM_UnwindAllUnwinders(benchmark::State& state) {
    static constexpr tlcrash_async_unwinder all[] = {tlcrash_async_read_compact_unwind_frame,
                                                     tlcrash_async_read_dwarf_frame, tlcrash_async_unwind_with_fp};
    unwindChain(state, all, 3);
}

void BM_UnwindFramePointersOnly(benchmark::State& state) {
    static constexpr tlcrash_async_unwinder fp[] = {tlcrash_async_unwind_with_fp};
    unwindChain(state, fp, 1);
}

struct Symbols {
    std::unique_ptr<crash_test::MachOTestLoader> loader;
    std::vector<std::pair<uint64_t, std::string>> sorted;
    Symbols() {
        crash_test::MachOFixtureWriter writer(0x0100000C, true, false);
        writer.addSection("__TEXT", "__text", std::vector<uint8_t>(0x3000, 0));
        for (uint32_t i = 0; i < 10000; ++i) {
            // Spread over the text in an order unrelated to the addresses.
            const uint64_t value = 0x1000 + (uint64_t(i) * 7919) % 10000;
            const std::string name = "_function_" + std::to_string(i);
            writer.addSymbol(name, value);
            sorted.emplace_back(value, name);
        }
        std::sort(sorted.begin(), sorted.end());
        loader = std::make_unique<crash_test::MachOTestLoader>(writer.build(), "symbols");
    }
};

Symbols& symbols() {
    static Symbols* s = new Symbols();
    return *s;
}

void BM_SymbolLookup(benchmark::State& state) {
    Symbols& s = symbols();
    uint64_t pc = 0;
    for (auto _ : state) {
        pc = (pc + 4099) % 10000;
        tlcrash_async_macho_find_symbol(s.loader->image(), s.loader->address(0x1000 + pc),
                                        [](uint64_t, const char* name, void*) { benchmark::DoNotOptimize(name); },
                                        nullptr);
    }
}

void BM_SymbolSortedBinarySearch(benchmark::State& state) {
    Symbols& s = symbols();
    uint64_t pc = 0;
    for (auto _ : state) {
        pc = (pc + 4099) % 10000;
        auto it = std::upper_bound(s.sorted.begin(), s.sorted.end(), 0x1000 + pc,
                                   [](uint64_t v, auto const& entry) { return v < entry.first; });
        benchmark::DoNotOptimize(std::prev(it)->second.data());
    }
}

}  // namespace

BENCHMARK(BM_UnwindAllUnwinders);
BENCHMARK(BM_UnwindFramePointersOnly);
BENCHMARK(BM_SymbolLookup);
BENCHMARK(BM_SymbolSortedBinarySearch);
BENCHMARK_MAIN();
