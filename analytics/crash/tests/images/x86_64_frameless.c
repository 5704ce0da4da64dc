/* Compiled without frame pointers: its compact unwind entry is frameless. */

typedef void (*chain_callback)(void *context);
int chain_dwarf_hop(int depth, void *context, chain_callback callback);

__attribute__((noinline)) int chain_frameless(int depth, void *context, chain_callback callback) {
    volatile long scratch[6];
    for (int i = 0; i < 6; ++i) scratch[i] = depth * i;
    int result = chain_dwarf_hop(depth, context, callback);
    return result + (int)scratch[depth % 6];
}
