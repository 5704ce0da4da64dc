#pragma once
#include <functional>

namespace testing_support {

// Runs body(i) for i in [0, count) in forked processes let go at one moment; returns how many
// returned true. The children leave through _exit, so the test's exit work runs in the parent only.
int runInProcessesAtOnce(int count, std::function<bool(int)> const& body);

}  // namespace testing_support
