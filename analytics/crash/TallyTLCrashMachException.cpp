#include "analytics/crash/TallyTLCrashMachException.h"

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

uint32_t read32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

void write32(uint8_t* p, uint32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

uint32_t tlcrash_mach_exception_mask(const TallyTLCrashHostInfo* host) {
    if (host == nullptr || host->darwinVersion().major < 13)
        return 0x6E;
    return 0x106E;
}

bool tlcrash_mach_exception_to_signal(uint64_t exception_type, const uint64_t* codes, size_t code_count, int* signo,
                                      int* code, uint64_t* address) {
    if (code_count < 2 || exception_type < 1 || exception_type > 6)
        return false;
    *address = codes[1];
    *code = 0;
    switch (exception_type) {
    case 1:  // bad access: an unmapped address, or any other failure
        if (codes[0] == 1) {
            *signo = 11;
            *code = 1;
        } else {
            *signo = 10;
            *code = 2;
        }
        break;
    case 2: *signo = 4; break;
    case 3: *signo = 8; break;
    case 4: *signo = 7; break;
    case 5:
        switch (codes[0]) {
        case 0x10000: *signo = 12; break;
        case 0x10001: *signo = 13; break;
        case 0x10003: *signo = 9; break;
        default: *signo = 6; break;
        }
        break;
    case 6:
        *signo = 5;
        *code = 1;
        break;
    }
    return true;
}

TallyTLCrashMachExceptionPortSet::TallyTLCrashMachExceptionPortSet(
    const std::vector<TallyTLCrashMachExceptionPort>& ports) {
    if (ports.size() > TLCRASH_EXC_TYPES_COUNT)
        throw std::length_error("Set size of " + std::to_string(ports.size()) + " exceeds EXC_TYPES_COUNT (" +
                                std::to_string(TLCRASH_EXC_TYPES_COUNT) + ")");
    ports_ = ports;
    record_.count = static_cast<uint32_t>(ports.size());
    for (size_t i = 0; i < ports.size(); ++i) {
        record_.masks[i] = ports[i].mask();
        record_.ports[i] = ports[i].server_port();
        record_.behaviors[i] = ports[i].behavior();
        record_.flavors[i] = ports[i].flavor();
    }
}

TallyTLCrashMachExceptionPortSet::TallyTLCrashMachExceptionPortSet(const tlcrash_mach_port_record& record) {
    if (record.count > TLCRASH_EXC_TYPES_COUNT)
        throw std::length_error("Count of " + std::to_string(record.count) + " exceeds EXC_TYPES_COUNT (" +
                                std::to_string(TLCRASH_EXC_TYPES_COUNT) + ")");
    record_ = record;
    for (uint32_t i = 0; i < record.count; ++i)
        ports_.emplace_back(record.ports[i], record.masks[i], record.behaviors[i], record.flavors[i]);
}

tlcrash_mach_request_check tlcrash_mach_check_request(const uint8_t* buffer, size_t buffer_size,
                                                      tlcrash_mach_exception_request* request) {
    if (buffer_size < TLCRASH_MACH_REQUEST_MIN_SIZE || read32(buffer + 4) < TLCRASH_MACH_REQUEST_MIN_SIZE)
        return tlcrash_mach_request_check::ReplyFailure;
    const uint32_t count = read32(buffer + 64);
    if ((buffer_size - TLCRASH_MACH_REQUEST_MIN_SIZE) / 8 < count)
        return tlcrash_mach_request_check::Drop;
    request->thread = read32(buffer + 28);
    request->task = read32(buffer + 40);
    request->exception_type = static_cast<int32_t>(read32(buffer + 60));
    request->code_count = count;
    request->codes = buffer + TLCRASH_MACH_REQUEST_CODES_OFFSET;
    return tlcrash_mach_request_check::Handle;
}

void tlcrash_mach_build_reply(const uint8_t* request, tlcrash_kern_return_t result,
                              uint8_t reply[TLCRASH_MACH_REPLY_SIZE]) {
    std::memset(reply, 0, TLCRASH_MACH_REPLY_SIZE);
    write32(reply + 0, read32(request + 0) & 0x1F);
    write32(reply + 4, TLCRASH_MACH_REPLY_SIZE);
    write32(reply + 8, read32(request + 8));
    write32(reply + 12, TLCRASH_MACH_PORT_NULL);
    write32(reply + 20, read32(request + 20) + 100);
    // The NDR record of a little-endian sender: only the integer representation is set.
    reply[24 + 4] = 1;
    write32(reply + 32, static_cast<uint32_t>(result));
}

tlcrash_kern_return_t tlcrash_mach_forward_exception(const tlcrash_mach_port_record* record, tlcrash_mach_port_t task,
                                                     tlcrash_mach_port_t thread, int32_t exception_type,
                                                     const uint64_t* codes, uint32_t code_count,
                                                     const tlcrash_mach_forward_calls* calls) {
    if (exception_type < 0 || exception_type >= 32)
        return TLCRASH_KERN_FAILURE;
    const uint32_t bit = 1u << exception_type;
    const uint32_t count = record->count < TLCRASH_EXC_TYPES_COUNT ? record->count : TLCRASH_EXC_TYPES_COUNT;
    int found = -1;
    for (uint32_t i = 0; i < count; ++i) {
        const tlcrash_mach_port_t port = record->ports[i];
        if (port != TLCRASH_MACH_PORT_NULL && port != TLCRASH_MACH_PORT_DEAD && (record->masks[i] & bit) != 0) {
            found = static_cast<int>(i);
            break;
        }
    }
    if (found < 0)
        return TLCRASH_KERN_FAILURE;
    int32_t codes32[TLCRASH_EXC_TYPES_COUNT * 2];
    const uint32_t n = code_count < sizeof codes32 / sizeof codes32[0] ? code_count : sizeof codes32 / sizeof codes32[0];
    for (uint32_t i = 0; i < n; ++i)
        codes32[i] = static_cast<int32_t>(codes[i]);
    const int32_t behavior = record->behaviors[found];
    const tlcrash_mach_port_t port = record->ports[found];
    // A handler that wants 64-bit codes is not given truncated ones.
    if (static_cast<uint32_t>(behavior) & TLCRASH_MACH_EXCEPTION_CODES)
        return TLCRASH_KERN_FAILURE;
    switch (behavior) {
    case TLCRASH_EXCEPTION_DEFAULT:
        return calls->raise(port, thread, task, exception_type, codes32, n, calls->context);
    case TLCRASH_EXCEPTION_STATE:
    case TLCRASH_EXCEPTION_STATE_IDENTITY: {
        uint32_t state[TLCRASH_MACH_STATE_WORDS];
        uint32_t stateCount = TLCRASH_MACH_STATE_WORDS;
        const int32_t flavor = record->flavors[found];
        const tlcrash_kern_return_t got = calls->get_state(thread, flavor, state, &stateCount, calls->context);
        if (got != TLCRASH_KERN_SUCCESS)
            return got;
        if (stateCount > TLCRASH_MACH_STATE_WORDS)
            stateCount = TLCRASH_MACH_STATE_WORDS;
        if (behavior == TLCRASH_EXCEPTION_STATE)
            return calls->raise_state(port, exception_type, codes32, n, flavor, state, stateCount, calls->context);
        return calls->raise_state_identity(port, thread, task, exception_type, codes32, n, flavor, state, stateCount,
                                           calls->context);
    }
    default:
        return TLCRASH_KERN_FAILURE;
    }
}
