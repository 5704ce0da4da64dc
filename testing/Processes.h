#pragma once
#include <functional>

namespace testing_support {

// Runs body(i) for i in [0, count) in forked processes that are let go at one moment, and returns
// how many of them returned true. The children end with _exit, so the test's own exit work runs
// only in the parent.
int runInProcessesAtOnce(int count, std::function<bool(int)> const& body);

}  // namespace testing_support
