// Exception messages as they arrive in a receive buffer, and kernel release texts.
#include "analytics/crash/TallyTLCrashHostInfo.h"
#include "analytics/crash/TallyTLCrashMachException.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {
void quiet(const std::string&) {}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // A copy of exactly the input's size, so any read past it is caught.
    std::vector<uint8_t> buffer(data, data + size);
    tlcrash_mach_exception_request request{};
    if (tlcrash_mach_check_request(buffer.data(), buffer.size(), &request) == tlcrash_mach_request_check::Handle) {
        uint64_t sum = 0;
        for (uint32_t i = 0; i < request.code_count; ++i) {
            uint64_t code;
            std::memcpy(&code, request.codes + i * 8, 8);
            sum += code;
        }
        uint8_t reply[TLCRASH_MACH_REPLY_SIZE];
        tlcrash_mach_build_reply(buffer.data(), static_cast<int32_t>(sum), reply);
        int signo, code;
        uint64_t address;
        std::vector<uint64_t> codes(request.code_count);
        if (request.code_count > 0)
            std::memcpy(codes.data(), request.codes, request.code_count * 8);
        tlcrash_mach_exception_to_signal(static_cast<uint64_t>(request.exception_type), codes.data(), codes.size(),
                                         &signo, &code, &address);
    }
    TallyTLCrashHostInfo::setLogSink(quiet);
    auto host = TallyTLCrashHostInfo::initWithRelease(std::string(reinterpret_cast<const char*>(data), size));
    if (!host)
        __builtin_trap();
    tlcrash_mach_exception_mask(host.get());
    return 0;
}
