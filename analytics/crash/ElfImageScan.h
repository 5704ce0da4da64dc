#pragma once
// Keeps the ELF part of an image list in step with the objects the process has loaded. This
// runs outside the crash path (it allocates and takes the loader's lock); the crash path only
// reads the list, under its reader count.
#include "analytics/crash/AsyncImageList.h"

#include <cstddef>

// Lists the objects loaded since the last call and drops the ones unloaded since; a call
// finds nothing to do when the loader's counts have not moved. Returns how many objects the
// list holds.
size_t tlcrash_elf_images_refresh(tlcrash_async_image_list* images);

// Refreshes once, then from a thread of its own every interval, so that libraries loaded
// later (drivers, plugins) are listed too. Only the first call per process starts the thread;
// false, with errno set, when it cannot be started (the next call tries again).
bool tlcrash_elf_images_watch(tlcrash_async_image_list* images, unsigned interval_ms);
