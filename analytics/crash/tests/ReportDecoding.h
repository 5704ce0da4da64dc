#pragma once
// Test helpers: decoding written reports with protobuf-c and running crashing children.
#include "analytics/crash/tlcrash.pb-c.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace crash_test {

struct ReportDeleter {
    void operator()(Tlcrash__CrashReport* report) const { tlcrash__crash_report__free_unpacked(report, nullptr); }
};
using Report = std::unique_ptr<Tlcrash__CrashReport, ReportDeleter>;

std::vector<uint8_t> readFile(const std::filesystem::path& path);
// Null unless the bytes are the header and one whole report message.
Report decodeReport(const std::vector<uint8_t>& bytes);

struct ChildResult {
    bool timedOut = false;
    bool signaled = false;
    int signal = 0;
    int exitCode = -1;
};

// Runs body in a forked child that must end by itself within the time limit; a child still
// running then is killed and reported as timed out.
ChildResult runChild(const std::function<void()>& body, int timeoutMs = 20000);

// A thread of the report with a frame whose pc lies in [function, function + span).
bool hasFrameIn(const Tlcrash__CrashReport__Thread* thread, const void* function, uint64_t span = 512);

}  // namespace crash_test
