/* Built for arm64 Mach-O: functions whose compact unwind entries the lookup tests find. */

__attribute__((noinline)) int arm64_leaf(int x) { return x * 3 + 1; }

/* Frameless with saved registers: a large local array and values live across calls. */
__attribute__((noinline)) int arm64_spills(int x) {
    volatile int buffer[12];
    int a = arm64_leaf(x), b = arm64_leaf(a), c = arm64_leaf(b);
    for (int i = 0; i < 12; ++i) buffer[i] = a + b * i + c;
    return buffer[x & 7] + a + b + c;
}

__attribute__((noinline)) int arm64_outer(int x) {
    int total = 0;
    for (int i = 0; i < x; ++i) total += arm64_spills(i + total);
    return total;
}
