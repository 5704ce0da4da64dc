#include "analytics/crash/AsyncList.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

namespace {

std::vector<int> contents(AsyncSafeList<int>& list) {
    std::vector<int> out;
    list.setReading(true);
    for (auto* node = list.head(); node != nullptr; node = node->next.load())
        out.push_back(node->value);
    list.setReading(false);
    return out;
}

TEST(CrashAsyncList, OrderRemovalAndParkedNodes) {
    AsyncSafeList<int> list;
    list.append(2);
    list.append(3);
    list.prepend(1);
    EXPECT_EQ(contents(list), (std::vector<int>{1, 2, 3}));
    EXPECT_TRUE(list.removeFirst([](int v) { return v == 3; }));
    list.append(4);
    EXPECT_TRUE(list.removeFirst([](int v) { return v == 1; }));
    EXPECT_FALSE(list.removeFirst([](int v) { return v == 1; }));
    EXPECT_EQ(contents(list), (std::vector<int>{2, 4}));

    // A reader standing on a node: the node is parked, keeps its link onwards, and is not
    // handed out again while that reader may still be on it.
    list.append(5);
    list.setReading(true);
    auto* standing = list.head()->next.load();  // 4
    EXPECT_TRUE(list.removeFirst([](int v) { return v == 4; }));
    EXPECT_EQ(list.parkedNodes(), 1u);
    list.append(6);
    EXPECT_EQ(standing->value, 4);
    EXPECT_EQ(standing->next.load()->value, 5);
    EXPECT_EQ(list.parkedNodes(), 1u);
    list.setReading(false);
    // With no reader left the parked node can come back.
    list.append(7);
    EXPECT_EQ(list.parkedNodes(), 0u);
    EXPECT_EQ(contents(list), (std::vector<int>{2, 5, 6, 7}));
    list.clear();
    EXPECT_TRUE(contents(list).empty());
}

TEST(CrashAsyncList, ConcurrentWritersAndReaders) {
    AsyncSafeList<int> list;
    std::atomic<bool> stop{false};
    std::atomic<long> seen{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r) {
        readers.emplace_back([&] {
            while (!stop.load()) {
                list.setReading(true);
                long sum = 0;
                for (auto* node = list.head(); node != nullptr; node = node->next.load())
                    sum += node->value >= 0 ? 1 : 0;
                list.setReading(false);
                seen.fetch_add(sum);
            }
        });
    }
    std::vector<std::thread> writers;
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 2000; ++i) {
                int value = w * 100000 + i;
                if (i % 2)
                    list.append(value);
                else
                    list.prepend(value);
                if (i % 3 == 0)
                    list.removeFirst([value](int v) { return v == value; });
            }
        });
    }
    for (auto& t : writers)
        t.join();
    stop = true;
    for (auto& t : readers)
        t.join();
    // Every value added and not removed is there exactly once.
    auto values = contents(list);
    EXPECT_EQ(values.size(), 2u * (2000 - 667));
    std::sort(values.begin(), values.end());
    EXPECT_EQ(std::adjacent_find(values.begin(), values.end()), values.end());
}

}  // namespace
