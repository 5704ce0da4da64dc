// Writing a report: runs inside the crashed process, so no heap, no locks, no exceptions.
#include "analytics/crash/LogWriter.h"

#include "analytics/crash/AsyncMachoReader.h"
#include "analytics/crash/AsyncObjc.h"
#include "analytics/crash/AsyncStackCursor.h"
#include "analytics/crash/SignalNumbers.h"
#include "analytics/crash/ThreadSuspension.h"

#include <atomic>
#include <ctime>

namespace {

// Report sections and fields.
enum : uint32_t {
    kReportSystemInfo = 1,
    kReportApplicationInfo = 2,
    kReportThreads = 3,
    kReportBinaryImages = 4,
    kReportException = 5,
    kReportSignal = 6,
    kReportProcessInfo = 7,
    kReportMachineInfo = 8,
    kReportReportInfo = 9,
};

constexpr uint64_t kUnlimited = UINT64_MAX;
constexpr uint32_t kLoadCommandUuid = 0x1B;
constexpr uint64_t kCpuTypeX86_64 = 0x01000007;
constexpr uint64_t kCpuSubtypeX86_64All = 3;
// The report's operating system and processor: an unknown system (Linux has no value of its
// own) on x86-64.
constexpr uint32_t kOperatingSystemUnknown = 3;
constexpr uint32_t kArchitectureX86_64 = 1;

size_t packString(report_file* file, uint32_t field, const char* value) {
    return writer_pack_field(file, field, TLCRASH_PROTO_STRING, value);
}
size_t packUint64(report_file* file, uint32_t field, uint64_t value) {
    return writer_pack_field(file, field, TLCRASH_PROTO_UINT64, &value);
}
size_t packUint32(report_file* file, uint32_t field, uint32_t value) {
    return writer_pack_field(file, field, TLCRASH_PROTO_UINT32, &value);
}
size_t packEnum(report_file* file, uint32_t field, uint32_t value) {
    return writer_pack_field(file, field, TLCRASH_PROTO_ENUM, &value);
}
size_t packBool(report_file* file, uint32_t field, bool value) {
    uint8_t byte = value ? 1 : 0;
    return writer_pack_field(file, field, TLCRASH_PROTO_BOOL, &byte);
}
size_t packBytes(report_file* file, uint32_t field, const void* data, uint64_t length) {
    tlcrash_proto_bytes bytes{length, data};
    return writer_pack_field(file, field, TLCRASH_PROTO_BYTES, &bytes);
}
size_t packMessageHead(report_file* file, uint32_t field, size_t body) {
    auto length = static_cast<uint32_t>(body);
    return writer_pack_field(file, field, TLCRASH_PROTO_MESSAGE, &length);
}
// Size of a message field: its head and its body.
size_t messageCost(uint32_t field, size_t body) { return packMessageHead(nullptr, field, body) + body; }

// Every message is written twice: once without a file for its size, then for real.
template <typename Body>
size_t packMessage(report_file* file, uint32_t field, Body body) {
    const size_t size = body(nullptr);
    size_t head = packMessageHead(file, field, size);
    if (file != nullptr)
        body(file);
    return head + size;
}

// "#<number>" in at most 9 characters.
void formatNumber(char* out, int value) {
    char digits[12];
    size_t n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude);
    size_t o = 0;
    out[o++] = '#';
    if (value < 0)
        out[o++] = '-';
    while (n > 0 && o < 9)
        out[o++] = digits[--n];
    out[o] = 0;
}

struct SymbolSink {
    report_file* file;
    size_t size;
};

void symbolFound(uint64_t address, const char* name, void* context) {
    auto* sink = static_cast<SymbolSink*>(context);
    sink->size = packString(sink->file, 1, name) + packUint64(sink->file, 2, address);
}

struct Writer {
    Tallytlcrash_log_writer* context;
    tlcrash_async_image_list* images;
    tlcrash_task_t task;
    int64_t timestamp;
    tlcrash_async_objc_cache* objc = nullptr;  // held across all frames of one report
};

// A caller frame's pc is its return address; it is named from pc - 1 but recorded as it is.
size_t frameBody(const Writer& w, report_file* file, uint64_t pc, bool caller) {
    size_t size = packUint64(file, 3, pc);
    if (w.context->symbolication_strategy == 0 || w.images == nullptr || w.images->list == nullptr)
        return size;
    const uint64_t lookup = tlcrash_async_unwind_lookup_pc(pc, caller);
    const uint32_t strategy = w.context->symbolication_strategy;
    tlcrash_async_image_list_set_reading(w.images, true);
    const tlcrash_async_macho_image* image = tlcrash_async_image_containing_address(w.images, lookup);
    const tlcrash_async_elf_image* elf =
        image == nullptr && (strategy & TLCRASH_ASYNC_SYMBOL_STRATEGY_SYMBOL_TABLE)
            ? tlcrash_async_elf_image_containing_address(w.images, lookup)
            : nullptr;
    auto lookUp = [&](SymbolSink* sink) {
        return image != nullptr ? tlcrash_async_symbolicate(image, strategy, w.objc, lookup, symbolFound, sink)
                                : tlcrash_async_elf_find_symbol(elf, lookup, symbolFound, sink);
    };
    SymbolSink sizing{nullptr, 0};
    if ((image != nullptr || elf != nullptr) && lookUp(&sizing) == TLCRASH_ESUCCESS) {
        size += packMessageHead(file, 6, sizing.size) + sizing.size;
        if (file != nullptr) {
            SymbolSink writing{file, 0};
            lookUp(&writing);
        }
    }
    tlcrash_async_image_list_set_reading(w.images, false);
    return size;
}

size_t packFrame(const Writer& w, report_file* file, uint32_t field, uint64_t pc, bool caller) {
    return packMessage(file, field, [&](report_file* f) { return frameBody(w, f, pc, caller); });
}

// Walks a thread's stack once; both passes write the same frames from this list.
uint32_t collectFrames(const Writer& w, const tlcrash_async_thread_state* state, uint64_t* pcs, uint32_t max) {
    uint32_t count = 0;
    tlcrash_async_stack_cursor cursor;
    tlcrash_async_stack_cursor_init(&cursor, w.task, state, w.images);
    while (count < max && tlcrash_async_stack_cursor_next(&cursor) == TLCRASH_UNWIND_ESUCCESS) {
        if (tlcrash_async_stack_cursor_get_reg(&cursor, 0, &pcs[count]) != TLCRASH_UNWIND_ESUCCESS)
            break;
        ++count;
    }
    tlcrash_async_stack_cursor_free(&cursor);
    return count;
}

// One thread's body. With a budget (sizing only) frames stop where the whole thread message
// would no longer fit; frames_out tells the writing pass how many to write.
size_t threadBody(const Writer& w, report_file* file, uint32_t number, bool crashed,
                  const tlcrash_async_thread_state* state, const uint64_t* pcs, uint32_t count, uint64_t budget,
                  uint32_t* frames_out) {
    size_t size = packUint32(file, 1, number) + packBool(file, 3, crashed);
    uint32_t frames = 0;
    if (state != nullptr && count > 0) {
        if (crashed) {
            // The registers of the first frame, which is the thread's state itself.
            const uint32_t registers = tlcrash_async_thread_state_reg_count(state);
            for (uint32_t r = 0; r < registers; ++r) {
                const uint64_t value =
                    tlcrash_async_thread_state_has_reg(state, r) ? tlcrash_async_thread_state_get_reg(state, r) : 0;
                const char* name = tlcrash_async_thread_state_reg_name(state, r);
                size += packMessage(file, 4, [&](report_file* f) {
                    return packString(f, 1, name ? name : "") + packUint64(f, 2, value);
                });
            }
        }
        for (; frames < count; ++frames) {
            const size_t cost = packFrame(w, nullptr, 2, pcs[frames], frames > 0);
            if (budget != kUnlimited && messageCost(kReportThreads, size + cost) > budget)
                break;
            if (file != nullptr)
                packFrame(w, file, 2, pcs[frames], frames > 0);
            size += cost;
        }
    }
    if (frames_out != nullptr)
        *frames_out = frames;
    return size;
}

size_t imageBody(report_file* file, const tlcrash_async_macho_image* image) {
    size_t size = packUint64(file, 2, image->text_size) + packUint64(file, 1, image->header_addr) +
                  packString(file, 3, image->name ? image->name : "");
    if (void* cmd = tlcrash_async_macho_image_find_command(image, kLoadCommandUuid)) {
        uint32_t cmdsize;
        tlcrash_async_memcpy(&cmdsize, static_cast<uint8_t*>(cmd) + 4, 4);
        if (image->byteorder->swap32(cmdsize) >= 24 &&
            tlcrash_async_mobject_verify(&image->load_cmds, reinterpret_cast<uintptr_t>(cmd), 8, 16))
            size += packBytes(file, 4, static_cast<uint8_t*>(cmd) + 8, 16);
    }
    const uint64_t type = tlcrash_async_macho_image_cpu_type(image);
    const uint64_t subtype = tlcrash_async_macho_image_cpu_subtype(image);
    size += packMessage(file, 5, [&](report_file* f) {
        return packEnum(f, 1, 1) + packUint64(f, 2, type) + packUint64(f, 3, subtype);
    });
    return size;
}

// An ELF object: its build-id stands for the image UUID, and every object here is x86-64.
size_t elfImageBody(report_file* file, const tlcrash_async_elf_image* image) {
    size_t size = packUint64(file, 2, image->size) + packUint64(file, 1, image->base) +
                  packString(file, 3, image->name ? image->name : "");
    if (image->has_uuid)
        size += packBytes(file, 4, image->uuid, sizeof image->uuid);
    size += packMessage(file, 5, [&](report_file* f) {
        return packEnum(f, 1, 1) + packUint64(f, 2, kCpuTypeX86_64) + packUint64(f, 3, kCpuSubtypeX86_64All);
    });
    return size;
}

size_t reportInfoBody(const Writer& w, report_file* file) {
    return packBool(file, 1, w.context->user_requested) + packBytes(file, 2, w.context->uuid, 16);
}

size_t systemInfoBody(const Writer& w, report_file* file) {
    const auto& s = w.context->system_info;
    size_t size = packEnum(file, 1, kOperatingSystemUnknown) + packString(file, 2, s.version ? s.version : "");
    if (s.build != nullptr)
        size += packString(file, 5, s.build);
    size += packEnum(file, 3, kArchitectureX86_64);
    int64_t timestamp = w.timestamp;
    size += writer_pack_field(file, 4, TLCRASH_PROTO_INT64, &timestamp);
    return size;
}

size_t machineInfoBody(const Writer& w, report_file* file) {
    const auto& m = w.context->machine_info;
    size_t size = 0;
    if (m.model != nullptr)
        size += packString(file, 1, m.model);
    size += packMessage(file, 2, [&](report_file* f) {
        return packEnum(f, 1, 1) + packUint64(f, 2, m.cpu_type) + packUint64(f, 3, m.cpu_subtype);
    });
    return size + packUint32(file, 3, m.processor_count) + packUint32(file, 4, m.logical_processor_count);
}

size_t applicationInfoBody(const Writer& w, report_file* file) {
    const auto& a = w.context->application_info;
    size_t size = packString(file, 1, a.id ? a.id : "") + packString(file, 2, a.version ? a.version : "");
    if (a.marketing_version != nullptr)
        size += packString(file, 3, a.marketing_version);
    return size;
}

size_t processInfoBody(const Writer& w, report_file* file) {
    const auto& p = w.context->process_info;
    size_t size = 0;
    if (p.process_name != nullptr)
        size += packString(file, 1, p.process_name);
    size += packUint32(file, 2, p.process_id);
    if (p.process_path != nullptr)
        size += packString(file, 3, p.process_path);
    if (p.parent_process_name != nullptr)
        size += packString(file, 4, p.parent_process_name);
    size += packUint32(file, 5, p.parent_process_id) + packBool(file, 6, p.native);
    return size + packUint64(file, 7, p.start_time);
}

size_t exceptionBody(const Writer& w, report_file* file) {
    const auto& e = w.context->uncaught_exception;
    size_t size = packString(file, 1, e.name ? e.name : "") + packString(file, 2, e.reason ? e.reason : "");
    const size_t count = e.callstack_count < TLCRASH_MAX_FRAMES ? e.callstack_count : TLCRASH_MAX_FRAMES;
    for (size_t i = 0; i < count; ++i)
        size += packFrame(w, file, 3, e.callstack[i], i > 0);
    return size;
}

size_t signalBody(const tlcrash_log_signal_info* info, report_file* file) {
    char name[12];
    char code[12];
    if (const char* text = tlcrash_signal_name(info->signo))
        tlcrash_async_memcpy(name, text, tlcrash_async_strlen(text) + 1);
    else
        formatNumber(name, info->signo);
    if (const char* text = tlcrash_signal_code_name(info->signo, info->code))
        tlcrash_async_memcpy(code, text, tlcrash_async_strlen(text) + 1);
    else
        formatNumber(code, info->code);
    size_t size = packString(file, 1, name) + packString(file, 2, code) + packUint64(file, 3, info->address);
    if (const tlcrash_log_mach_signal_info* mach = info->mach_info) {
        size += packMessage(file, 4, [&](report_file* f) {
            size_t body = packUint64(f, 1, mach->type);
            for (size_t i = 0; i < mach->code_count; ++i)
                body += packUint64(f, 2, mach->code[i]);
            return body;
        });
    }
    return size;
}

// Thread ids and one thread's frames live outside the (small) signal stack. They, and the
// thread suspension's slots, have one owner at a time: a crash takes them over from a live
// report, which notices and backs off.
tlcrash_thread_list threadList;
uint64_t framePcs[TLCRASH_MAX_FRAMES];
uint64_t crashedPcs[TLCRASH_MAX_FRAMES];
std::atomic<tlcrash_thread_t> owner{0};
std::atomic<bool> crashWaiting{false};

// How long a crash waits for a live report to give the writer back before taking it anyway.
constexpr int64_t kTakeOverMs = 2000;

int64_t monotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

bool acquireWriter(bool crash, tlcrash_thread_t self) {
    tlcrash_thread_t expected = 0;
    if (owner.compare_exchange_strong(expected, self))
        return true;
    if (!crash)
        return false;
    crashWaiting.store(true);
    // A crash inside a live report on this same thread takes over at once.
    const int64_t deadline = monotonicMs() + kTakeOverMs;
    while (expected != self && monotonicMs() < deadline) {
        timespec pause{0, 1000000};
        nanosleep(&pause, nullptr);
        expected = 0;
        if (owner.compare_exchange_strong(expected, self))
            break;
    }
    owner.store(self);
    crashWaiting.store(false);
    return true;
}

// A live report asks this between its steps; false once a crash wants the writer.
bool stillOwner(bool crash, tlcrash_thread_t self) {
    return crash || (!crashWaiting.load() && owner.load() == self);
}

void releaseWriter(tlcrash_thread_t self) {
    tlcrash_thread_t expected = self;
    owner.compare_exchange_strong(expected, 0);
}

const tlcrash_async_thread_state* threadState(tlcrash_thread_t thread, tlcrash_thread_t self,
                                              const tlcrash_async_thread_state* current_state,
                                              tlcrash_async_thread_state* read) {
    if (thread == self)
        return current_state;
    return tlcrash_async_thread_state_read_thread(read, thread) == TLCRASH_ESUCCESS ? read : nullptr;
}

}  // namespace

tlcrash_error_t Tallytlcrash_log_writer_write(Tallytlcrash_log_writer* writer, tlcrash_thread_t crashed_thread,
                                              tlcrash_async_image_list* image_list, report_file* file,
                                              const tlcrash_log_signal_info* siginfo,
                                              const tlcrash_async_thread_state* current_state) {
    const tlcrash_thread_t self = tlcrash_async_thread_self();
    const bool crash = !writer->user_requested;
    if (!acquireWriter(crash, self))
        return TLCRASH_EINTERNAL;
    if (tlcrash_async_task_threads(&threadList) != TLCRASH_ESUCCESS)
        threadList.count = 0;
    // A list cut at its limit still holds the crashed thread.
    bool listed = false;
    for (size_t i = 0; i < threadList.count; ++i)
        listed = listed || threadList.threads[i] == crashed_thread;
    // A live report asked for a thread that is gone or was never ours: a report naming no
    // crashed thread would pass for a good one.
    if (!crash && !listed && !tlcrash_async_thread_is_own(crashed_thread)) {
        releaseWriter(self);
        return TLCRASH_ENOTFOUND;
    }
    if (!listed && threadList.count == TLCRASH_MAX_THREADS)
        threadList.threads[TLCRASH_MAX_THREADS - 1] = crashed_thread;
    tlcrash_async_threads_suspend(&threadList, TLCRASH_SUSPEND_TIMEOUT_MS);

    timespec now{};
    Writer w{writer, image_list, tlcrash_async_task_self(),
             clock_gettime(CLOCK_REALTIME, &now) == 0 ? static_cast<int64_t>(now.tv_sec) : 0};
    tlcrash_async_objc_cache objc;
    tlcrash_async_objc_cache_init(&objc);
    w.objc = &objc;
    const bool haveImages = image_list != nullptr && image_list->list != nullptr;
    if (haveImages)
        tlcrash_async_image_list_set_reading(image_list, true);

    report_file_write(file, "tlcrash", 7);
    const uint8_t version = 1;
    report_file_write(file, &version, 1);

    auto reportInfo = [&](report_file* f) { return reportInfoBody(w, f); };
    auto systemInfo = [&](report_file* f) { return systemInfoBody(w, f); };
    auto machineInfo = [&](report_file* f) { return machineInfoBody(w, f); };
    auto applicationInfo = [&](report_file* f) { return applicationInfoBody(w, f); };
    auto processInfo = [&](report_file* f) { return processInfoBody(w, f); };
    auto exception = [&](report_file* f) { return exceptionBody(w, f); };
    auto signal = [&](report_file* f) { return signalBody(siginfo, f); };
    const bool hasException = writer->uncaught_exception.has_exception;

    // What must always be there is reserved first; then the crashed thread, the images (a
    // report without them does not decode) and last the other threads share the rest.
    uint64_t remaining = kUnlimited;
    if (file->limit != 0) {
        uint64_t fixed = file->total_bytes + messageCost(kReportReportInfo, reportInfo(nullptr)) +
                         messageCost(kReportSystemInfo, systemInfo(nullptr)) +
                         messageCost(kReportMachineInfo, machineInfo(nullptr)) +
                         messageCost(kReportApplicationInfo, applicationInfo(nullptr)) +
                         messageCost(kReportProcessInfo, processInfo(nullptr)) +
                         messageCost(kReportSignal, signal(nullptr));
        if (hasException)
            fixed += messageCost(kReportException, exception(nullptr));
        remaining = fixed < file->limit ? file->limit - fixed : 0;
    }
    auto spend = [&](size_t cost) {
        if (remaining == kUnlimited)
            return true;
        if (cost > remaining)
            return false;
        remaining -= cost;
        return true;
    };

    // The crashed thread, sized before anything else.
    tlcrash_async_thread_state crashedRead;
    const tlcrash_async_thread_state* crashedState = nullptr;
    uint32_t crashedWalked = 0;
    uint32_t crashedFrames = 0;
    bool crashedFits = false;
    for (size_t i = 0; i < threadList.count; ++i) {
        if (threadList.threads[i] != crashed_thread)
            continue;
        crashedState = threadState(crashed_thread, self, current_state, &crashedRead);
        if (crashed_thread == self && crashedState == nullptr)
            break;
        crashedWalked = crashedState ? collectFrames(w, crashedState, crashedPcs, TLCRASH_MAX_FRAMES) : 0;
        // Sized with the widest thread number it can get.
        const size_t body = threadBody(w, nullptr, static_cast<uint32_t>(TLCRASH_MAX_THREADS), true, crashedState,
                                       crashedPcs, crashedWalked, remaining, &crashedFrames);
        crashedFits = spend(messageCost(kReportThreads, body));
        break;
    }

    // The images that fit after it.
    size_t imageCount = 0;
    uint64_t imageBudget = 0;
    auto forEachImage = [&](auto visit) {
        if (!haveImages)
            return;
        for (auto* node = tlcrash_async_image_list_next(image_list, nullptr); node != nullptr;
             node = tlcrash_async_image_list_next(image_list, node))
            if (!visit([&](report_file* f) { return imageBody(f, node->value); }))
                return;
        for (auto* node = tlcrash_async_image_list_next_elf(image_list, nullptr); node != nullptr;
             node = tlcrash_async_image_list_next_elf(image_list, node))
            if (tlcrash_async_elf_image_is_current(node->value) &&
                !visit([&](report_file* f) { return elfImageBody(f, node->value); }))
                return;
    };
    forEachImage([&](auto body) {
        const size_t cost = messageCost(kReportBinaryImages, body(nullptr));
        if (!spend(cost))
            return false;
        imageBudget += cost;
        ++imageCount;
        return true;
    });

    packMessage(file, kReportReportInfo, reportInfo);
    packMessage(file, kReportSystemInfo, systemInfo);
    packMessage(file, kReportMachineInfo, machineInfo);
    packMessage(file, kReportApplicationInfo, applicationInfo);
    packMessage(file, kReportProcessInfo, processInfo);

    bool backedOff = false;
    uint32_t number = 0;
    for (size_t i = 0; i < threadList.count; ++i) {
        if (!stillOwner(crash, self)) {
            backedOff = true;
            break;
        }
        const tlcrash_thread_t thread = threadList.threads[i];
        if (thread == crashed_thread) {
            if (!crashedFits)
                continue;
            packMessageHead(file, kReportThreads,
                            threadBody(w, nullptr, number, true, crashedState, crashedPcs, crashedFrames, kUnlimited,
                                       nullptr));
            threadBody(w, file, number, true, crashedState, crashedPcs, crashedFrames, kUnlimited, nullptr);
            ++number;
            continue;
        }
        tlcrash_async_thread_state read;
        const tlcrash_async_thread_state* state = threadState(thread, self, current_state, &read);
        if (thread == self && state == nullptr)
            continue;
        const uint32_t walked = state ? collectFrames(w, state, framePcs, TLCRASH_MAX_FRAMES) : 0;
        uint32_t frames = 0;
        const size_t body = threadBody(w, nullptr, number, false, state, framePcs, walked, remaining, &frames);
        // Later threads may still be small enough for what is left.
        if (!spend(messageCost(kReportThreads, body)))
            continue;
        packMessageHead(file, kReportThreads, body);
        threadBody(w, file, number, false, state, framePcs, frames, kUnlimited, nullptr);
        ++number;
    }

    forEachImage([&](auto body) {
        if (imageCount == 0)
            return false;
        const size_t size = body(nullptr);
        const size_t cost = messageCost(kReportBinaryImages, size);
        if (cost > imageBudget)
            return false;
        imageBudget -= cost;
        --imageCount;
        packMessageHead(file, kReportBinaryImages, size);
        body(file);
        return true;
    });

    if (hasException)
        packMessage(file, kReportException, exception);
    packMessage(file, kReportSignal, signal);

    if (haveImages)
        tlcrash_async_image_list_set_reading(image_list, false);
    tlcrash_async_objc_cache_free(&objc);
    tlcrash_async_threads_resume();
    releaseWriter(self);
    if (backedOff)
        return TLCRASH_EINTERNAL;
    return file->failed ? TLCRASH_OUTPUT_ERR : TLCRASH_ESUCCESS;
}
