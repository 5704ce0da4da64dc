#include "analytics/crash/LogWriter.h"
#include "analytics/crash/SignalNumbers.h"
#include "analytics/crash/TallyTLCrashReport.h"
#include "analytics/crash/ThreadSuspension.h"
#include "testing/TestPaths.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <random>
#include <thread>
#include <unistd.h>
#include <iterator>
#include <utf8.h>
#include <vector>

#include "analytics/crash/tests/ReportDecoding.h"

namespace {

std::string testOsVersion() { return "9.3.5-test"; }

struct Writer {
    Tallytlcrash_log_writer context{};
    Writer(const char* id = "com.example.zelv", const char* version = "42", const char* marketing = "1.2") {
        Tallytlcrash_log_writer_set_os_version_source(testOsVersion);
        EXPECT_EQ(Tallytlcrash_log_writer_init(&context, id, version, marketing, 0, true), TLCRASH_ESUCCESS);
    }
    ~Writer() {
        Tallytlcrash_log_writer_free(&context);
        Tallytlcrash_log_writer_set_os_version_source(nullptr);
    }
};

struct Output {
    tlcrash_error_t result = TLCRASH_EUNKNOWN;
    std::vector<uint8_t> bytes;
    crash_test::Report report;
};

struct WriteRequest {
    Tallytlcrash_log_writer* writer;
    tlcrash_async_image_list* images;
    uint64_t limit;
    tlcrash_log_signal_info signal;
    std::filesystem::path path;
    tlcrash_error_t result;
};

tlcrash_error_t writeWithState(tlcrash_async_thread_state* state, void* context) {
    auto* request = static_cast<WriteRequest*>(context);
    report_file file;
    report_file_init(&file, open(request->path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644), request->limit);
    request->result = Tallytlcrash_log_writer_write(request->writer, tlcrash_async_thread_self(), request->images,
                                                    &file, &request->signal, state);
    report_file_close(&file);
    return request->result;
}

// The report of the calling thread, written from two nested calls so its frames are known.
__attribute__((noinline)) void innerWrite(WriteRequest* request) {
    tlcrash_async_thread_state_current(writeWithState, request);
    asm volatile("" ::: "memory");
}
__attribute__((noinline)) void outerWrite(WriteRequest* request) {
    innerWrite(request);
    asm volatile("" ::: "memory");
}

Output write(Writer& writer, uint64_t limit = 0, tlcrash_async_image_list* images = nullptr,
             tlcrash_log_signal_info signal = {5, 2, 0x1234, nullptr}, bool withState = true) {
    testing_support::TempDir dir;
    WriteRequest request{&writer.context, images, limit, signal, dir / "report", TLCRASH_EUNKNOWN};
    if (withState)
        outerWrite(&request);
    else
        writeWithState(nullptr, &request);
    Output out;
    out.result = request.result;
    out.bytes = crash_test::readFile(request.path);
    out.report = crash_test::decodeReport(out.bytes);
    return out;
}

__attribute__((noinline)) void spinInKnownFunction(std::atomic<bool>* stop, std::atomic<int>* running) {
    running->fetch_add(1);
    // The wait is plain instructions: no sanitizer or coverage call that a frame-pointer walk
    // from inside it would have to get out of.
    asm volatile("1: pause\n\tcmpb $0, (%0)\n\tje 1b" : : "r"(stop) : "memory");
}

struct Spinners {
    std::atomic<bool> stop{false};
    std::atomic<int> running{0};
    std::vector<std::thread> threads;
    explicit Spinners(int count) {
        for (int i = 0; i < count; ++i)
            threads.emplace_back(spinInKnownFunction, &stop, &running);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (running.load() < count && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_EQ(running.load(), count) << "spinning threads did not start";
    }
    ~Spinners() {
        stop = true;
        for (auto& t : threads)
            t.join();
    }
};

size_t threadCount() {
    tlcrash_thread_list list;
    tlcrash_async_task_threads(&list);
    return list.count;
}

TEST(CrashLogWriter, LiveReportCarriesEveryThreadAndTheFacts) {
    Writer writer;
    Spinners spinners(3);
    const size_t threads = threadCount();
    const int64_t before = time(nullptr);
    Output out = write(writer);
    ASSERT_EQ(out.result, TLCRASH_ESUCCESS);
    ASSERT_TRUE(out.report) << "report does not decode";
    const auto* r = out.report.get();

    ASSERT_TRUE(r->report_info);
    EXPECT_TRUE(r->report_info->user_requested);
    EXPECT_EQ(r->report_info->uuid.len, 16u);
    EXPECT_EQ(std::string(r->system_info->os_version), "9.3.5-test");
    EXPECT_EQ(r->system_info->operating_system, TLCRASH__CRASH_REPORT__OPERATING_SYSTEM__OS_UNKNOWN);
    EXPECT_EQ(r->system_info->architecture, TLCRASH__ARCHITECTURE__X86_64);
    EXPECT_NE(r->system_info->os_build, nullptr);
    EXPECT_GE(r->system_info->timestamp, before);
    EXPECT_LE(r->system_info->timestamp, time(nullptr));
    ASSERT_TRUE(r->machine_info);
    EXPECT_EQ(r->machine_info->processor->type, 0x01000007u);
    EXPECT_EQ(r->machine_info->processor->subtype, 3u);
    EXPECT_GE(r->machine_info->logical_processor_count, 1u);
    EXPECT_EQ(std::string(r->application_info->identifier), "com.example.zelv");
    EXPECT_EQ(std::string(r->application_info->version), "42");
    EXPECT_EQ(std::string(r->application_info->marketing_version), "1.2");
    ASSERT_TRUE(r->process_info);
    EXPECT_EQ(r->process_info->process_id, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(r->process_info->parent_process_id, static_cast<uint32_t>(getppid()));
    EXPECT_EQ(std::string(r->process_info->process_name), "crash_writer_te");
    EXPECT_TRUE(std::string(r->process_info->process_path).ends_with("/crash_writer_test"));
    EXPECT_TRUE(r->process_info->native);
    EXPECT_LE(r->process_info->start_time, static_cast<uint64_t>(time(nullptr)));
    EXPECT_GT(r->process_info->start_time, static_cast<uint64_t>(before - 3600));

    ASSERT_EQ(r->n_threads, threads);
    size_t crashed = 0;
    size_t spinning = 0;
    for (size_t i = 0; i < r->n_threads; ++i) {
        const auto* t = r->threads[i];
        EXPECT_EQ(t->thread_number, i);
        if (t->crashed) {
            ++crashed;
            ASSERT_EQ(t->n_registers, 18u);
            EXPECT_EQ(std::string(t->registers[0]->name), "rip");
            EXPECT_EQ(std::string(t->registers[17]->name), "rflags");
            EXPECT_EQ(t->registers[0]->value, t->frames[0]->pc);
            EXPECT_TRUE(crash_test::hasFrameIn(t, reinterpret_cast<void*>(innerWrite)));
            EXPECT_TRUE(crash_test::hasFrameIn(t, reinterpret_cast<void*>(outerWrite)));
        } else {
            EXPECT_EQ(t->n_registers, 0u);
            if (crash_test::hasFrameIn(t, reinterpret_cast<void*>(spinInKnownFunction), 128))
                ++spinning;
        }
    }
    EXPECT_EQ(crashed, 1u);
    EXPECT_EQ(spinning, 3u);
    EXPECT_EQ(std::string(r->signal->name), "SIGTRAP");
    EXPECT_EQ(std::string(r->signal->code), "TRAP_TRACE");
    EXPECT_EQ(r->signal->address, 0x1234u);
    EXPECT_EQ(r->signal->mach_exception, nullptr);
    EXPECT_EQ(r->exception, nullptr);
    EXPECT_EQ(r->n_binary_images, 0u);
}

TEST(CrashLogWriter, ExceptionMachCodesAndUnknownNumbers) {
    Writer writer("id", "", nullptr);
    std::vector<uint64_t> addresses(600);
    for (size_t i = 0; i < addresses.size(); ++i)
        addresses[i] = 0x10000 + i;
    Tallytlcrash_log_writer_set_exception(&writer.context, "std::runtime_error", "it broke", addresses.data(),
                                          addresses.size());
    const uint64_t codes[3] = {1, 2, UINT64_MAX};
    tlcrash_log_mach_signal_info mach{7, codes, 3};
    Output out = write(writer, 0, nullptr, {40, -5, 0, &mach}, false);
    ASSERT_EQ(out.result, TLCRASH_ESUCCESS);
    ASSERT_TRUE(out.report);
    const auto* r = out.report.get();
    ASSERT_TRUE(r->exception);
    EXPECT_EQ(std::string(r->exception->name), "std::runtime_error");
    EXPECT_EQ(std::string(r->exception->reason), "it broke");
    ASSERT_EQ(r->exception->n_frames, 512u);
    EXPECT_EQ(r->exception->frames[511]->pc, 0x10000u + 511);
    EXPECT_EQ(std::string(r->signal->name), "#40");
    EXPECT_EQ(std::string(r->signal->code), "#-5");
    ASSERT_TRUE(r->signal->mach_exception);
    EXPECT_EQ(r->signal->mach_exception->type, 7u);
    ASSERT_EQ(r->signal->mach_exception->n_codes, 3u);
    EXPECT_EQ(r->signal->mach_exception->codes[2], UINT64_MAX);
    EXPECT_EQ(std::string(r->application_info->version), "");
    EXPECT_EQ(r->application_info->marketing_version, nullptr);
    // Without a state the calling thread is left out.
    for (size_t i = 0; i < r->n_threads; ++i)
        EXPECT_FALSE(r->threads[i]->crashed);
    EXPECT_EQ(r->n_threads, threadCount() - 1);
}

// Fake images: a commands area with an optional LC_UUID.
struct FakeImage {
    std::vector<uint32_t> commands;
    std::string name;
    tlcrash_async_macho_image image{};
    FakeImage(uint64_t header, uint64_t size, const std::string& path, bool withUuid, bool swapped) : name(path) {
        auto order = [&](uint32_t v) { return swapped ? __builtin_bswap32(v) : v; };
        commands = {order(0x2), order(8)};  // an unrelated command first
        if (withUuid) {
            commands.push_back(order(0x1B));
            commands.push_back(order(24));
            for (uint32_t i = 0; i < 4; ++i)
                commands.push_back(0x03020100u + i * 0x04040404u);
        }
        image.task = tlcrash_async_task_self();
        image.header_addr = header;
        image.name = name.data();
        image.text_size = size;
        image.byteorder = swapped ? &tlcrash_async_byteorder_swapped : tlcrash_async_byteorder_native();
        image.header.cputype = order(0x0100000C);
        image.header.cpusubtype = order(2);
        EXPECT_EQ(tlcrash_async_mobject_init(&image.load_cmds, image.task, reinterpret_cast<uint64_t>(commands.data()),
                                             commands.size() * 4, true),
                  TLCRASH_ESUCCESS);
    }
    ~FakeImage() { tlcrash_async_mobject_free(&image.load_cmds); }
};

TEST(CrashLogWriter, ImagesAreListedInOrder) {
    Writer writer;
    FakeImage first(0x100000, 0x4000, "/opt/zelv/libfirst.dylib", true, false);
    FakeImage second(0x200000, 0x8000, "/opt/zelv/libsecond.dylib", false, true);
    tlcrash_async_image_list images;
    tlcrash_async_image_list_init(&images, tlcrash_async_task_self());
    tlcrash_async_image_list_append(&images, &first.image);
    tlcrash_async_image_list_append(&images, &second.image);
    EXPECT_EQ(tlcrash_async_image_containing_address(&images, 0x203FFF), &second.image);
    EXPECT_EQ(tlcrash_async_image_containing_address(&images, 0x208000), nullptr);

    Output out = write(writer, 0, &images);
    ASSERT_TRUE(out.report);
    const auto* r = out.report.get();
    ASSERT_EQ(r->n_binary_images, 2u);
    const auto* a = r->binary_images[0];
    EXPECT_EQ(a->base_address, 0x100000u);
    EXPECT_EQ(a->size, 0x4000u);
    EXPECT_EQ(std::string(a->name), "/opt/zelv/libfirst.dylib");
    ASSERT_TRUE(a->has_uuid);
    ASSERT_EQ(a->uuid.len, 16u);
    EXPECT_EQ(a->uuid.data[0], 0x00);
    EXPECT_EQ(a->uuid.data[15], 0x0F);
    ASSERT_TRUE(a->code_type);
    EXPECT_EQ(a->code_type->type, 0x0100000Cu);
    EXPECT_EQ(a->code_type->subtype, 2u);
    const auto* b = r->binary_images[1];
    EXPECT_FALSE(b->has_uuid);
    EXPECT_EQ(b->code_type->type, 0x0100000Cu);

    tlcrash_async_image_list_remove(&images, 0x100000);
    out = write(writer, 0, &images);
    ASSERT_TRUE(out.report);
    ASSERT_EQ(out.report->n_binary_images, 1u);
    EXPECT_EQ(out.report->binary_images[0]->base_address, 0x200000u);
    tlcrash_async_image_list_free(&images);
}

TEST(CrashLogWriter, ReportsOverTheLimitAreCutButWhole) {
    Writer writer;
    std::vector<uint64_t> addresses(40, 0x5000);
    Tallytlcrash_log_writer_set_exception(&writer.context, "E", "R", addresses.data(), addresses.size());
    Spinners spinners(16);
    std::vector<std::unique_ptr<FakeImage>> fakes;
    tlcrash_async_image_list images;
    tlcrash_async_image_list_init(&images, tlcrash_async_task_self());
    for (int i = 0; i < 100; ++i) {
        fakes.push_back(std::make_unique<FakeImage>(0x100000 * (i + 1), 0x1000, "/lib/image" + std::to_string(i), true,
                                                    false));
        tlcrash_async_image_list_append(&images, &fakes.back()->image);
    }

    Output whole = write(writer, 0, &images);
    ASSERT_TRUE(whole.report);
    const size_t allThreads = whole.report->n_threads;
    EXPECT_EQ(whole.report->n_binary_images, 100u);

    for (uint64_t limit : {uint64_t{whole.bytes.size() - 1}, uint64_t{4000}, uint64_t{1500}, uint64_t{1000}}) {
        SCOPED_TRACE(limit);
        Output out = write(writer, limit, &images);
        ASSERT_EQ(out.result, TLCRASH_ESUCCESS);
        EXPECT_LE(out.bytes.size(), limit);
        ASSERT_TRUE(out.report) << "cut report does not decode";
        const auto* r = out.report.get();
        ASSERT_TRUE(r->signal);
        EXPECT_EQ(std::string(r->signal->name), "SIGTRAP");
        ASSERT_TRUE(r->exception);
        EXPECT_EQ(r->exception->n_frames, 40u);
        EXPECT_LE(r->n_threads, allThreads);
        // A thread that does not stop in time is written shorter, so only clearly smaller
        // limits must cut something.
        if (limit <= whole.bytes.size() / 2) {
            EXPECT_LT(r->n_binary_images + r->n_threads, 100u + allThreads);
        }
    }
    // Too small even for what every report holds: an error, never a report with holes.
    Output tiny = write(writer, 200, &images);
    EXPECT_EQ(tiny.result, TLCRASH_OUTPUT_ERR);
    EXPECT_LE(tiny.bytes.size(), 200u);
    tlcrash_async_image_list_free(&images);
}

TEST(CrashLogWriter, RandomInputsDecodeToTheSameValues) {
    // One image, so that the report model takes the reports too.
    FakeImage image(0x100000, 0x4000, "/opt/zelv/libfirst.dylib", true, false);
    tlcrash_async_image_list images;
    tlcrash_async_image_list_init(&images, tlcrash_async_task_self());
    tlcrash_async_image_list_append(&images, &image.image);
    auto sanitized = [](const std::string& s) {
        std::string out;
        utf8::replace_invalid(s.begin(), s.end(), std::back_inserter(out));
        return out;
    };
    std::mt19937_64 random(31);
    auto text = [&](size_t max) {
        std::string s(random() % (max + 1), ' ');
        for (char& c : s)
            c = static_cast<char>(1 + random() % 255);
        return s;
    };
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        const std::string id = text(40);
        const std::string version = text(10);
        const std::string marketing = text(10);
        const bool hasMarketing = random() % 2;
        Writer writer(id.c_str(), version.c_str(), hasMarketing ? marketing.c_str() : nullptr);
        const std::string name = text(30);
        const std::string reason = text(300);
        std::vector<uint64_t> addresses(random() % 20);
        for (auto& a : addresses)
            a = random();
        const bool hasException = random() % 2;
        if (hasException)
            Tallytlcrash_log_writer_set_exception(&writer.context, name.c_str(), reason.c_str(), addresses.data(),
                                                  addresses.size());
        std::vector<uint64_t> codes(random() % 6);
        for (auto& c : codes)
            c = random();
        tlcrash_log_mach_signal_info mach{random(), codes.data(), codes.size()};
        const bool hasMach = random() % 2;
        tlcrash_log_signal_info signal{static_cast<int>(random() % 40), static_cast<int>(random() % 14) - 3, random(),
                                       hasMach ? &mach : nullptr};
        Output out = write(writer, 0, &images, signal, random() % 2);
        ASSERT_EQ(out.result, TLCRASH_ESUCCESS);
        ASSERT_TRUE(out.report);
        const auto* r = out.report.get();
        EXPECT_EQ(std::string(r->application_info->identifier), id);
        EXPECT_EQ(std::string(r->application_info->version), version);
        if (hasMarketing)
            EXPECT_EQ(std::string(r->application_info->marketing_version), marketing);
        else
            EXPECT_EQ(r->application_info->marketing_version, nullptr);
        ASSERT_EQ(r->exception != nullptr, hasException);
        if (hasException) {
            EXPECT_EQ(std::string(r->exception->name), name);
            EXPECT_EQ(std::string(r->exception->reason), reason);
            ASSERT_EQ(r->exception->n_frames, addresses.size());
            for (size_t i = 0; i < addresses.size(); ++i)
                EXPECT_EQ(r->exception->frames[i]->pc, addresses[i]);
        }
        const char* signalName = tlcrash_signal_name(signal.signo);
        EXPECT_EQ(std::string(r->signal->name), signalName ? signalName : "#" + std::to_string(signal.signo));
        const char* codeName = tlcrash_signal_code_name(signal.signo, signal.code);
        EXPECT_EQ(std::string(r->signal->code), codeName ? codeName : "#" + std::to_string(signal.code));
        EXPECT_EQ(r->signal->address, signal.address);
        ASSERT_EQ(r->signal->mach_exception != nullptr, hasMach);
        if (hasMach) {
            EXPECT_EQ(r->signal->mach_exception->type, mach.type);
            ASSERT_EQ(r->signal->mach_exception->n_codes, codes.size());
            for (size_t i = 0; i < codes.size(); ++i)
                EXPECT_EQ(r->signal->mach_exception->codes[i], codes[i]);
        }

        // The same report through the model: text made valid UTF-8, numbers as written.
        platform::Error error;
        auto model = TallyTLCrashReport::initWithData(out.bytes, &error);
        if (r->n_threads == 0) {
            // Written without the calling thread and with no other thread: the model refuses it.
            EXPECT_FALSE(model);
            continue;
        }
        ASSERT_TRUE(model) << error.description();
        EXPECT_EQ(model->applicationInfo()->applicationIdentifier(), sanitized(id));
        EXPECT_EQ(model->applicationInfo()->applicationMarketingVersion(),
                  hasMarketing ? std::optional<std::string>(sanitized(marketing)) : std::nullopt);
        EXPECT_EQ(model->signalInfo()->address(), signal.address);
        ASSERT_EQ(model->hasExceptionInfo(), hasException);
        if (hasException) {
            EXPECT_EQ(model->exceptionInfo()->exceptionReason(), sanitized(reason));
            EXPECT_EQ(model->exceptionInfo()->stackFrames().has_value(), !addresses.empty());
        }
        EXPECT_EQ(model->machExceptionInfo() != nullptr, hasMach);
        if (hasMach) {
            EXPECT_EQ(model->machExceptionInfo()->codes(), codes);
        }
        EXPECT_EQ(model->images().size(), 1u);
    }
    tlcrash_async_image_list_free(&images);
}

}  // namespace
