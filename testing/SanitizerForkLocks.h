#pragma once

namespace testing_support {

// True where forks take the address checker's allocator, quarantine, stack and thread locks, so
// that a child forked beside allocating and freeing threads can allocate and free: in a build with
// the address checker whose runtime's locks were all found. False elsewhere, where nothing needs
// taking.
bool sanitizerForkLocksAdded();

}  // namespace testing_support
