// A second library the reporter's tests load where the late library was, once it is gone.
extern "C" __attribute__((visibility("default"), noinline)) void zelvOtherLibraryCrash() {
    *static_cast<volatile int*>(nullptr) = 2;
    asm volatile("" ::: "memory");
}
