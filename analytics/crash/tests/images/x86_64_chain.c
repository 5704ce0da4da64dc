/* Built for x86-64 Mach-O and run on Linux: a call chain from the test back into the test.
 * Frame-based functions here; the frameless one and the DWARF-only one live in their own
 * sources. Nothing is imported: the callback arrives as a pointer. */

typedef void (*chain_callback)(void *context);

int chain_frameless(int depth, void *context, chain_callback callback);
int chain_dwarf_hop(int depth, void *context, chain_callback callback);

/* In x86_64_dwarf.s: ends in a call that does not return, right before the next function. */
void chain_last_call(void *context, chain_callback callback);

/* Called by the DWARF-only function; recurses back through the chain while depth remains. */
__attribute__((noinline)) int chain_framed_inner(int depth, void *context, chain_callback callback) {
    volatile int keep = depth;
    if (depth > 0) return chain_frameless(depth - 1, context, callback) + keep;
    chain_last_call(context, callback);
    return keep;
}

__attribute__((noinline)) int chain_entry(int depth, void *context, chain_callback callback) {
    volatile int keep = depth;
    int result = chain_frameless(depth, context, callback);
    return result + keep;
}
