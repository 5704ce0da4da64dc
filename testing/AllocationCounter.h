#pragma once
// A binary that links zelv_allocation_counter has every form of the global operator new and
// delete replaced, so a test or benchmark can count the allocations a stretch of code makes:
// read the count before and after.
#include <cstddef>

namespace testing_support {

std::size_t allocationCount();

}  // namespace testing_support
