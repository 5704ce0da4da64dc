#include "analytics/crash/tests/ReportDecoding.h"

#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace crash_test {

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Report decodeReport(const std::vector<uint8_t>& bytes) {
    if (bytes.size() <= 8 || std::memcmp(bytes.data(), "tlcrash", 7) != 0 || bytes[7] != 1)
        return nullptr;
    return Report(tlcrash__crash_report__unpack(nullptr, bytes.size() - 8, bytes.data() + 8));
}

ChildResult runChild(const std::function<void()>& body, int timeoutMs) {
    ChildResult result;
    pid_t child = fork();
    if (child == 0) {
        alarm(static_cast<unsigned>(timeoutMs / 1000 + 5));
        body();
        _exit(0);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    for (;;) {
        pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child)
            break;
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            result.timedOut = true;
            return result;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (WIFSIGNALED(status)) {
        result.signaled = true;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    return result;
}

bool hasFrameIn(const Tlcrash__CrashReport__Thread* thread, const void* function, uint64_t span) {
    const auto start = reinterpret_cast<uint64_t>(function);
    for (size_t i = 0; i < thread->n_frames; ++i) {
        const uint64_t pc = thread->frames[i]->pc;
        if (pc >= start && pc < start + span)
            return true;
    }
    return false;
}

}  // namespace crash_test
