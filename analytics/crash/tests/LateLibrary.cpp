// A library the reporter's tests load only after enabling it.
extern "C" __attribute__((visibility("default"), noinline)) void zelvLateLibraryCrash() {
    *static_cast<volatile int*>(nullptr) = 1;
    asm volatile("" ::: "memory");
}
