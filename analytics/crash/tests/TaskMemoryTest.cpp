#include "analytics/crash/AsyncMObject.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <sys/mman.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

// Three pages: readable, PROT_NONE guard, readable.
struct GuardedPages {
    uint64_t page = tlcrash_async_page_size();
    uint8_t* base = nullptr;
    GuardedPages() {
        base = static_cast<uint8_t*>(
            mmap(nullptr, page * 3, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
        for (uint64_t i = 0; i < page * 3; ++i)
            base[i] = static_cast<uint8_t>(i * 7);
        mprotect(base + page, page, PROT_NONE);
    }
    ~GuardedPages() { munmap(base, page * 3); }
    uint64_t at(uint64_t offset) const { return reinterpret_cast<uint64_t>(base) + offset; }
};

TEST(CrashTaskMemory, CopiesGiveCodesForEveryBadRange) {
    GuardedPages pages;
    const tlcrash_task_t self = tlcrash_async_task_self();
    uint8_t buffer[16];
    EXPECT_EQ(tlcrash_async_task_memcpy(self, pages.at(32), -16, buffer, 16), TLCRASH_ESUCCESS);
    EXPECT_EQ(std::memcmp(buffer, pages.base + 16, 16), 0);
    EXPECT_EQ(tlcrash_async_task_memcpy(self, pages.at(pages.page), 0, buffer, 8), TLCRASH_ENOTFOUND);
    // A copy running from a readable page into the guard fails as a whole.
    EXPECT_EQ(tlcrash_async_task_memcpy(self, pages.at(pages.page - 8), 0, buffer, 16), TLCRASH_ENOTFOUND);
    EXPECT_EQ(tlcrash_async_task_memcpy(self, 0, 0, buffer, 8), TLCRASH_ENOTFOUND);
    EXPECT_EQ(tlcrash_async_task_memcpy(self, 16, -32, buffer, 8), TLCRASH_ENOMEM);
    EXPECT_EQ(tlcrash_async_task_memcpy(self, UINT64_MAX - 4, 0, buffer, 8), TLCRASH_ENOTFOUND);
    EXPECT_EQ(tlcrash_async_task_memcpy(self, UINT64_MAX - 4, 8, buffer, 8), TLCRASH_ENOMEM);

    uint32_t value32 = 0;
    uint64_t value64 = 0;
    std::memcpy(pages.base, "\x01\x02\x03\x04\x05\x06\x07\x08", 8);
    EXPECT_EQ(tlcrash_async_task_read_uint32(self, &tlcrash_async_byteorder_swapped, pages.at(0), 0, &value32),
              TLCRASH_ESUCCESS);
    EXPECT_EQ(value32, 0x01020304u);
    EXPECT_EQ(tlcrash_async_task_read_uint64(self, tlcrash_async_byteorder_native(), pages.at(0), 0, &value64),
              TLCRASH_ESUCCESS);
    EXPECT_EQ(value64, 0x0807060504030201u);
    EXPECT_EQ(tlcrash_async_task_read_uint64(self, tlcrash_async_byteorder_native(), pages.at(pages.page), 0, &value64),
              TLCRASH_ENOTFOUND);
}

TEST(CrashTaskMemory, ObjectsStopAtHolesAndStayInsideTheirRange) {
    GuardedPages pages;
    const tlcrash_task_t self = tlcrash_async_task_self();
    tlcrash_async_mobject mobj;

    // The range runs into the guard page: only the readable prefix is kept.
    ASSERT_EQ(tlcrash_async_mobject_init(&mobj, self, pages.at(100), pages.page * 2, false), TLCRASH_ESUCCESS);
    EXPECT_EQ(tlcrash_async_mobject_length(&mobj), pages.page - 100);
    uint8_t byte = 0;
    EXPECT_EQ(tlcrash_async_mobject_read_uint8(&mobj, pages.at(100), 0, &byte), TLCRASH_ESUCCESS);
    EXPECT_EQ(byte, pages.base[100]);
    EXPECT_EQ(tlcrash_async_mobject_read_uint8(&mobj, pages.at(pages.page - 1), 0, &byte), TLCRASH_ESUCCESS);
    EXPECT_EQ(byte, pages.base[pages.page - 1]);
    EXPECT_EQ(tlcrash_async_mobject_read_uint8(&mobj, pages.at(pages.page), 0, &byte), TLCRASH_EINVAL);
    // Before the start, through a negative offset, and straddling the end.
    EXPECT_EQ(tlcrash_async_mobject_read_uint8(&mobj, pages.at(100), -1, &byte), TLCRASH_EINVAL);
    EXPECT_EQ(tlcrash_async_mobject_read_uint8(&mobj, pages.at(120), -20, &byte), TLCRASH_ESUCCESS);
    uint32_t word = 0;
    EXPECT_EQ(tlcrash_async_mobject_read_uint32(&mobj, tlcrash_async_byteorder_native(), pages.at(pages.page - 2), 0,
                                                &word),
              TLCRASH_EINVAL);
    // Lengths and offsets that overflow.
    EXPECT_EQ(tlcrash_async_mobject_remap(&mobj, pages.at(100), 0, UINT64_MAX), nullptr);
    EXPECT_EQ(tlcrash_async_mobject_remap(&mobj, pages.at(100), INT64_MAX, 1), nullptr);
    EXPECT_EQ(tlcrash_async_mobject_remap(&mobj, pages.at(100), INT64_MIN, 1), nullptr);
    EXPECT_NE(tlcrash_async_mobject_remap(&mobj, pages.at(100), 0, pages.page - 100), nullptr);
    // The object is a copy: later changes to the task do not show.
    const uint8_t before = pages.base[200];
    pages.base[200] = static_cast<uint8_t>(before + 1);
    EXPECT_EQ(tlcrash_async_mobject_read_uint8(&mobj, pages.at(200), 0, &byte), TLCRASH_ESUCCESS);
    EXPECT_EQ(byte, before);
    tlcrash_async_mobject_free(&mobj);

    // Requiring all of it, or starting in the hole, fails.
    EXPECT_EQ(tlcrash_async_mobject_init(&mobj, self, pages.at(100), pages.page * 2, true), TLCRASH_ENOMEM);
    EXPECT_EQ(tlcrash_async_mobject_init(&mobj, self, pages.at(pages.page + 10), 16, false), TLCRASH_ENOMEM);
    // Ranges that wrap around.
    EXPECT_EQ(tlcrash_async_mobject_init(&mobj, self, UINT64_MAX - 10, 100, false), TLCRASH_EINVAL);
    EXPECT_EQ(tlcrash_async_mobject_init(&mobj, self, pages.at(0), UINT64_MAX, false), TLCRASH_EINVAL);

    // The page after the guard maps on its own, with the lead inside its page.
    ASSERT_EQ(tlcrash_async_mobject_init(&mobj, self, pages.at(pages.page * 2 + 5), 10, true), TLCRASH_ESUCCESS);
    EXPECT_EQ(tlcrash_async_mobject_length(&mobj), 10u);
    uint64_t value = 0;
    EXPECT_EQ(tlcrash_async_mobject_read_uint64(&mobj, tlcrash_async_byteorder_native(), pages.at(pages.page * 2 + 7),
                                                0, &value),
              TLCRASH_ESUCCESS);
    uint64_t expected;
    std::memcpy(&expected, pages.base + pages.page * 2 + 7, 8);
    EXPECT_EQ(value, expected);
    EXPECT_EQ(tlcrash_async_mobject_read_uint64(&mobj, tlcrash_async_byteorder_native(), pages.at(pages.page * 2 + 8),
                                                0, &value),
              TLCRASH_EINVAL);
    tlcrash_async_mobject_free(&mobj);
}

TEST(CrashTaskMemory, ReadsAForkedChild) {
    GuardedPages pages;
    int ready[2];
    int done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t child = fork();
    if (child == 0) {
        alarm(20);
        close(done[1]);
        close(ready[0]);
        std::memcpy(pages.base, "child's own data", 16);
        char c = 'r';
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);  // until the parent closes its end
        _exit(0);
    }
    close(ready[1]);
    close(done[0]);
    char c;
    if (read(ready[0], &c, 1) == 1) {
        char buffer[16];
        EXPECT_EQ(tlcrash_async_task_memcpy(child, pages.at(0), 0, buffer, 16), TLCRASH_ESUCCESS);
        EXPECT_EQ(std::memcmp(buffer, "child's own data", 16), 0);
        tlcrash_async_mobject mobj;
        if (tlcrash_async_mobject_init(&mobj, child, pages.at(0), pages.page * 3, false) == TLCRASH_ESUCCESS) {
            EXPECT_EQ(tlcrash_async_mobject_length(&mobj), pages.page);
            EXPECT_EQ(std::memcmp(tlcrash_async_mobject_remap(&mobj, pages.at(0), 0, 16), "child's own data", 16), 0);
            tlcrash_async_mobject_free(&mobj);
        } else {
            ADD_FAILURE() << "no memory object over the child";
        }
        // Our own copy is untouched.
        EXPECT_NE(std::memcmp(pages.base, "child's own data", 16), 0);
    } else {
        ADD_FAILURE() << "child did not start";
    }
    close(done[1]);
    close(ready[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    // A task that is gone gives a code.
    char buffer[16];
    EXPECT_NE(tlcrash_async_task_memcpy(child, pages.at(0), 0, buffer, 16), TLCRASH_ESUCCESS);
}

// Threads taking and giving back copies at once never get each other's pages.
TEST(CrashTaskMemory, ReservedCopiesAreEachThreadsOwn) {
    tlcrash_async_mobject_reserve();
    const uint64_t page = tlcrash_async_page_size();
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::vector<uint8_t> mine(page * 3, static_cast<uint8_t>(t + 1));
            const auto at = reinterpret_cast<uint64_t>(mine.data());
            for (int round = 0; round < 2000; ++round) {
                tlcrash_async_mobject mobj;
                const uint64_t length = page * (1 + round % 2);
                if (tlcrash_async_mobject_init(&mobj, tlcrash_async_task_self(), at, length, true) != TLCRASH_ESUCCESS) {
                    wrong++;
                    continue;
                }
                const auto* copy = static_cast<const uint8_t*>(tlcrash_async_mobject_remap(&mobj, at, 0, length));
                for (uint64_t i = 0; i < length; i += 512)
                    if (copy[i] != t + 1)
                        wrong++;
                tlcrash_async_mobject_free(&mobj);
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
