// Executed frames: x86-64 Mach-O code, mapped by the test loader, calls back into this program,
// which captures its registers and walks the stack back through every Mach-O frame (frame-based,
// frameless and DWARF-only) to the Linux caller, naming each frame.
#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/AsyncStackCursor.h"
#include "analytics/crash/LogWriter.h"
#include "analytics/crash/tests/ReportDecoding.h"
#include "analytics/crash/tests/support/MachOTestLoader.h"
#include "analytics/crash/tests/support/UnwindTestSupport.h"

#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <fcntl.h>
#include <string>
#include <vector>

using namespace crash_test;

namespace {

using ChainEntry = int (*)(int depth, void* context, void (*callback)(void*));

struct Walk {
    tlcrash_async_image_list* images = nullptr;
    tlcrash_async_macho_image* image = nullptr;
    jmp_buf back;
    std::vector<uint64_t> pcs;
    std::vector<std::string> names;          // looked up at pc - 1 for caller frames
    std::string lastCallAtReturnAddress;     // the same frame looked up at its return address
    tlcrash_unwind_error_t end = TLCRASH_UNWIND_ESUCCESS;
};

void keepName(uint64_t, const char* name, void* context) { *static_cast<std::string*>(context) = name; }

tlcrash_error_t walkFromHere(tlcrash_async_thread_state* state, void* context) {
    auto* walk = static_cast<Walk*>(context);
    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, tlcrash_async_task_self(), state, walk->images);
    for (uint32_t depth = 0; depth < 512; ++depth) {
        walk->end = tlcrash_async_stack_cursor_next(&cursor);
        if (walk->end != TLCRASH_UNWIND_ESUCCESS)
            break;
        uint64_t pc = 0;
        tlcrash_async_stack_cursor_get_reg(&cursor, 0, &pc);
        walk->pcs.push_back(pc);
        std::string name;
        if (tlcrash_async_macho_image_contains_address(walk->image, pc - 1)) {
            tlcrash_async_symbolicate(walk->image, TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr,
                                      tlcrash_async_unwind_lookup_pc(pc, depth > 0), keepName, &name);
            if (walk->lastCallAtReturnAddress.empty())
                tlcrash_async_symbolicate(walk->image, TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, nullptr, pc,
                                          keepName, &walk->lastCallAtReturnAddress);
        }
        walk->names.push_back(name);
    }
    tlcrash_async_stack_cursor_free(&cursor);
    return TLCRASH_ESUCCESS;
}

// Called from the Mach-O code as a function that never returns.
__attribute__((noinline)) void onChainCallback(void* context) {
    auto* walk = static_cast<Walk*>(context);
    tlcrash_async_thread_state_current(walkFromHere, walk);
    longjmp(walk->back, 1);
}

__attribute__((noinline)) void callChain(ChainEntry entry, int depth, Walk* walk) {
    if (setjmp(walk->back) == 0)
        entry(depth, walk, onChainCallback);
}

struct ReportRun {
    tlcrash_async_image_list* images;
    Tallytlcrash_log_writer* writer;
    std::string path;
    tlcrash_error_t result = TLCRASH_EUNKNOWN;
    jmp_buf back;
};

tlcrash_error_t writeReport(tlcrash_async_thread_state* state, void* context) {
    auto* run = static_cast<ReportRun*>(context);
    report_file file;
    report_file_init(&file, open(run->path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644), 0);
    const tlcrash_log_signal_info signal{11, 1, 0, nullptr};
    run->result = Tallytlcrash_log_writer_write(run->writer, tlcrash_async_thread_self(), run->images, &file, &signal,
                                                state);
    report_file_close(&file);
    return run->result;
}

__attribute__((noinline)) void onChainReport(void* context) {
    tlcrash_async_thread_state_current(writeReport, context);
    longjmp(static_cast<ReportRun*>(context)->back, 1);
}

std::string fixedOsVersion() { return "9.3.5"; }

}  // namespace

TEST(CrashExecutedFrames, WalksBackThroughEveryMachOFrameToTheLinuxCaller) {
    ImageList images;  // outlives the images announced to it
    MachOTestLoader loader(readBytes(imagesDir() / "x86_64_chain.dylib"), "x86_64_chain.dylib", true);
    loader.announce(images.get());
    const auto entry = reinterpret_cast<ChainEntry>(loader.symbol("_chain_entry"));

    for (int depth : {0, 3}) {
        Walk walk;
        walk.images = images.get();
        walk.image = loader.image();
        callChain(entry, depth, &walk);

        std::vector<std::string> expected = {"_chain_last_call"};
        for (int i = 0; i <= depth; ++i)
            expected.insert(expected.end(), {"_chain_framed_inner", "_chain_dwarf_hop", "_chain_frameless"});
        expected.push_back("_chain_entry");

        // Frame 0 is the capture inside the callback; the Mach-O frames follow it.
        ASSERT_GT(walk.names.size(), expected.size() + 1) << "the walk ended with " << walk.end;
        EXPECT_EQ(walk.names[0], "");
        std::vector<std::string> got(walk.names.begin() + 1, walk.names.begin() + 1 + long(expected.size()));
        EXPECT_EQ(got, expected) << "depth " << depth;
        const uint64_t caller = walk.pcs[expected.size() + 1];
        const uint64_t start = reinterpret_cast<uint64_t>(&callChain);
        EXPECT_TRUE(caller > start && caller < start + 0x200) << "back in the Linux caller";
        EXPECT_EQ(walk.lastCallAtReturnAddress, "_chain_after_last_call")
            << "the return address alone names the function after the call";
    }
}

TEST(CrashExecutedFrames, TheReportNamesCallerFramesAndKeepsTheirReturnAddresses) {
    ImageList images;  // outlives the images announced to it
    MachOTestLoader loader(readBytes(imagesDir() / "x86_64_chain.dylib"), "x86_64_chain.dylib", true);
    loader.announce(images.get());
    const auto entry = reinterpret_cast<ChainEntry>(loader.symbol("_chain_entry"));
    Tallytlcrash_log_writer_set_os_version_source(fixedOsVersion);
    Tallytlcrash_log_writer writer{};
    ASSERT_EQ(Tallytlcrash_log_writer_init(&writer, "com.example.zelv", "1", "1.0",
                                           TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE, true),
              TLCRASH_ESUCCESS);
    testing_support::TempDir dir;
    ReportRun run{images.get(), &writer, (dir / "report").string(), TLCRASH_EUNKNOWN, {}};
    if (setjmp(run.back) == 0)
        entry(1, &run, onChainReport);
    Tallytlcrash_log_writer_free(&writer);
    Tallytlcrash_log_writer_set_os_version_source(nullptr);
    ASSERT_EQ(run.result, TLCRASH_ESUCCESS);

    crash_test::Report report = crash_test::decodeReport(crash_test::readFile(run.path));
    ASSERT_TRUE(report);
    const Tlcrash__CrashReport__Thread* crashed = nullptr;
    for (size_t i = 0; i < report->n_threads; ++i)
        if (report->threads[i]->crashed)
            crashed = report->threads[i];
    ASSERT_NE(crashed, nullptr);
    ASSERT_GE(crashed->n_frames, 9u);
    // Frame 1 returns to the first byte of the next function, yet is named after its caller.
    const auto* lastCall = crashed->frames[1];
    EXPECT_EQ(lastCall->pc, loader.symbol("_chain_after_last_call"));
    ASSERT_NE(lastCall->symbol, nullptr);
    EXPECT_STREQ(lastCall->symbol->name, "_chain_last_call");
    EXPECT_EQ(lastCall->symbol->start_address, loader.symbol("_chain_last_call"));
    std::vector<std::string> names;
    for (size_t i = 1; i < 9; ++i)
        names.push_back(crashed->frames[i]->symbol ? crashed->frames[i]->symbol->name : "");
    EXPECT_EQ(names, (std::vector<std::string>{"_chain_last_call", "_chain_framed_inner", "_chain_dwarf_hop",
                                               "_chain_frameless", "_chain_framed_inner", "_chain_dwarf_hop",
                                               "_chain_frameless", "_chain_entry"}));
    bool listed = false;
    for (size_t i = 0; i < report->n_binary_images; ++i)
        listed |= report->binary_images[i]->base_address == loader.base() &&
                  std::string(report->binary_images[i]->name) == "x86_64_chain.dylib";
    EXPECT_TRUE(listed);
}
