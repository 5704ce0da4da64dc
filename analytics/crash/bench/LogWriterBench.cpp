// Writing a report of 8 threads x 512 frames to /dev/null, against protobuf-c packing the same
// report into memory.
#include "analytics/crash/LogWriter.h"
#include "testing/TestPaths.h"

#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

std::atomic<int> parked{0};
volatile uint8_t stopAll = 0;

__attribute__((noinline)) int deepThenSpin(int depth) {
    if (depth == 0) {
        parked.fetch_add(1);
        asm volatile("1: pause\n\tcmpb $0, (%0)\n\tje 1b" : : "r"(&stopAll) : "memory");
        return 0;
    }
    int below = deepThenSpin(depth - 1);
    // Keeps the call a real call: no loop made of the recursion.
    asm volatile("" : "+r"(below) : : "memory");
    return below + 1;
}

struct DeepThreads {
    std::vector<std::thread> threads;
    bool parkedInTime = false;
    DeepThreads() {
        for (int i = 0; i < 8; ++i)
            threads.emplace_back([] { benchmark::DoNotOptimize(deepThenSpin(600)); });
        auto const deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (parked.load() < 8 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        parkedInTime = parked.load() == 8;
    }
    ~DeepThreads() {
        stopAll = 1;
        for (auto& t : threads)
            t.join();
    }
};

tlcrash_error_t writeTo(Tallytlcrash_log_writer* writer, int fd) {
    report_file file;
    report_file_init(&file, fd, 0);
    tlcrash_log_signal_info signal{5, 2, 0, nullptr};
    tlcrash_error_t err = Tallytlcrash_log_writer_write(writer, 0, nullptr, &file, &signal, nullptr);
    report_file_flush(&file);
    return err;
}

struct Fixture {
    Tallytlcrash_log_writer writer{};
    DeepThreads threads;
    Fixture() { Tallytlcrash_log_writer_init(&writer, "com.example.zelv", "1", "1.0", 0, false); }
    ~Fixture() { Tallytlcrash_log_writer_free(&writer); }
};

Fixture& fixture() {
    static Fixture f;
    return f;
}

void BM_WriteReportToDevNull(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.threads.parkedInTime) return state.SkipWithError("the 8 deep threads did not park within 30 s");
    const int fd = open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        if (writeTo(&f.writer, fd) != TLCRASH_ESUCCESS) {
            state.SkipWithError("write failed");
            break;
        }
    }
    close(fd);
}
BENCHMARK(BM_WriteReportToDevNull)->Unit(benchmark::kMicrosecond);

void BM_ProtobufCPackSameReport(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.threads.parkedInTime) return state.SkipWithError("the 8 deep threads did not park within 30 s");
    testing_support::TempDir dir;
    const auto path = dir / "report";
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    writeTo(&f.writer, fd);
    close(fd);
    auto report = crash_test::decodeReport(crash_test::readFile(path));
    if (!report) {
        state.SkipWithError("report does not decode");
        return;
    }
    size_t frames = 0;
    for (size_t i = 0; i < report->n_threads; ++i)
        frames += report->threads[i]->n_frames;
    state.counters["frames"] = static_cast<double>(frames);
    std::vector<uint8_t> buffer(protobuf_c_message_get_packed_size(&report->base));
    for (auto _ : state)
        benchmark::DoNotOptimize(protobuf_c_message_pack(&report->base, buffer.data()));
}
BENCHMARK(BM_ProtobufCPackSameReport)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
