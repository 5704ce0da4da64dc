#pragma once

namespace testing_support {

// True where forks take the address checker's allocator and thread locks, so that a child forked
// beside allocating threads can allocate: in a build with the address checker whose runtime's
// locks were found. False elsewhere, where nothing needs taking.
bool sanitizerForkLocksAdded();

}  // namespace testing_support
