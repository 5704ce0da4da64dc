#pragma once
// The parts of Mach exception handling that are plain data and decisions: the exception to
// signal table, the exception mask, the saved exception ports, the message layouts of the
// exception server and the forwarding to previous handlers. Linux has no Mach ports; these
// work on the same numbers and byte layouts, with the kernel calls passed in.
#include "analytics/crash/TallyTLCrashHostInfo.h"

#include <cstddef>
#include <cstdint>
#include <vector>

using tlcrash_kern_return_t = int32_t;
using tlcrash_mach_port_t = uint32_t;

enum : int32_t { TLCRASH_KERN_SUCCESS = 0, TLCRASH_KERN_FAILURE = 5 };
enum : uint32_t { TLCRASH_MACH_PORT_NULL = 0, TLCRASH_MACH_PORT_DEAD = ~0u };
enum : uint32_t { TLCRASH_EXC_TYPES_COUNT = 14 };
enum : int32_t {
    TLCRASH_EXCEPTION_DEFAULT = 1,
    TLCRASH_EXCEPTION_STATE = 2,
    TLCRASH_EXCEPTION_STATE_IDENTITY = 3,
};
constexpr uint32_t TLCRASH_MACH_EXCEPTION_CODES = 0x80000000u;

// Mask of the exceptions a reporter asks for: bad access, bad instruction, arithmetic,
// software and breakpoint; from kernel major version 13 on also guard exceptions.
uint32_t tlcrash_mach_exception_mask(const TallyTLCrashHostInfo* host);

// Maps a Mach exception to a signal in the report's numbering. Needs two codes; the address is
// the second.
bool tlcrash_mach_exception_to_signal(uint64_t exception_type, const uint64_t* codes, size_t code_count, int* signo,
                                      int* code, uint64_t* address);

// The saved exception ports as plain data, readable from the crash path.
struct tlcrash_mach_port_record {
    uint32_t count;
    uint32_t masks[TLCRASH_EXC_TYPES_COUNT];
    tlcrash_mach_port_t ports[TLCRASH_EXC_TYPES_COUNT];
    int32_t behaviors[TLCRASH_EXC_TYPES_COUNT];
    int32_t flavors[TLCRASH_EXC_TYPES_COUNT];
};

class TallyTLCrashMachExceptionPort {
public:
    TallyTLCrashMachExceptionPort(tlcrash_mach_port_t port, uint32_t mask, int32_t behavior, int32_t flavor)
        : port_(port), mask_(mask), behavior_(behavior), flavor_(flavor) {}
    tlcrash_mach_port_t server_port() const { return port_; }
    uint32_t mask() const { return mask_; }
    int32_t behavior() const { return behavior_; }
    int32_t flavor() const { return flavor_; }

private:
    tlcrash_mach_port_t port_;
    uint32_t mask_;
    int32_t behavior_;
    int32_t flavor_;
};

class TallyTLCrashMachExceptionPortSet {
public:
    // Throws std::length_error beyond TLCRASH_EXC_TYPES_COUNT entries.
    explicit TallyTLCrashMachExceptionPortSet(const std::vector<TallyTLCrashMachExceptionPort>& ports);
    explicit TallyTLCrashMachExceptionPortSet(const tlcrash_mach_port_record& record);
    const std::vector<TallyTLCrashMachExceptionPort>& set() const { return ports_; }
    tlcrash_mach_port_record asyncSafeRepresentation() const { return record_; }

private:
    std::vector<TallyTLCrashMachExceptionPort> ports_;
    tlcrash_mach_port_record record_{};
};

// Exception request (64-bit codes): header of 24 bytes (bits, size, remote port, local port,
// voucher, id), descriptor count, thread and task port descriptors of 12 bytes, NDR record,
// exception type at 60, code count at 64, the codes from 68. Shorter than 76 bytes it is
// answered with a failure; codes that would not fit in the receive buffer past those 76 bytes
// get no answer.
constexpr size_t TLCRASH_MACH_REQUEST_MIN_SIZE = 76;
constexpr size_t TLCRASH_MACH_REQUEST_CODES_OFFSET = 68;
constexpr size_t TLCRASH_MACH_REPLY_SIZE = 36;

enum class tlcrash_mach_request_check {
    Handle,         // call the callback and reply with its result
    ReplyFailure,   // too short: reply KERN_FAILURE
    Drop,           // the codes do not fit in the buffer: no reply
};

struct tlcrash_mach_exception_request {
    tlcrash_mach_port_t thread;
    tlcrash_mach_port_t task;
    int32_t exception_type;
    uint32_t code_count;
    const uint8_t* codes;  // code_count little-endian 64-bit values
};

// buffer_size is the receive buffer's capacity; the message's own size is in its header.
tlcrash_mach_request_check tlcrash_mach_check_request(const uint8_t* buffer, size_t buffer_size,
                                                      tlcrash_mach_exception_request* request);
// The reply to a request: its remote disposition, 36 bytes, to its reply port, id + 100, the
// NDR record and the return code.
void tlcrash_mach_build_reply(const uint8_t* request, tlcrash_kern_return_t result,
                              uint8_t reply[TLCRASH_MACH_REPLY_SIZE]);

// The kernel calls a forward makes.
struct tlcrash_mach_forward_calls {
    tlcrash_kern_return_t (*raise)(tlcrash_mach_port_t port, tlcrash_mach_port_t thread, tlcrash_mach_port_t task,
                                   int32_t type, const int32_t* codes, uint32_t count, void* context);
    tlcrash_kern_return_t (*get_state)(tlcrash_mach_port_t thread, int32_t flavor, uint32_t* state, uint32_t* count,
                                       void* context);
    tlcrash_kern_return_t (*raise_state)(tlcrash_mach_port_t port, int32_t type, const int32_t* codes, uint32_t count,
                                         int32_t flavor, const uint32_t* state, uint32_t state_count, void* context);
    tlcrash_kern_return_t (*raise_state_identity)(tlcrash_mach_port_t port, tlcrash_mach_port_t thread,
                                                  tlcrash_mach_port_t task, int32_t type, const int32_t* codes,
                                                  uint32_t count, int32_t flavor, const uint32_t* state,
                                                  uint32_t state_count, void* context);
    void* context;
};

constexpr uint32_t TLCRASH_MACH_STATE_WORDS = 144;

// Hands an exception to the first saved port that takes it, as that port asked to get it.
tlcrash_kern_return_t tlcrash_mach_forward_exception(const tlcrash_mach_port_record* record, tlcrash_mach_port_t task,
                                                     tlcrash_mach_port_t thread, int32_t exception_type,
                                                     const uint64_t* codes, uint32_t code_count,
                                                     const tlcrash_mach_forward_calls* calls);
