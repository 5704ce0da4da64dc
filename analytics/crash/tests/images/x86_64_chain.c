/* Built for x86-64 Mach-O and run on Linux: a call chain from the test back into the test.
 * Frame-based functions here; the frameless one and the DWARF-only one live in their own
 * sources. Nothing is imported: the callback arrives as a pointer. */

typedef void (*chain_callback)(void *context);
typedef void (*chain_noreturn)(void *context) __attribute__((noreturn));

int chain_frameless(int depth, void *context, chain_callback callback);
int chain_dwarf_hop(int depth, void *context, chain_callback callback);

/* Ends in a call that does not return, so its return address is the next function's entry. */
__attribute__((noinline)) void chain_last_call(void *context, chain_callback callback) {
    ((chain_noreturn)callback)(context);
}

__attribute__((noinline)) int chain_after_last_call(int x) { return x + 11; }

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
