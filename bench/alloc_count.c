// glibc exports its allocator under __libc_* names, and every library in the
// process (libc's own strdup and fopen included) calls malloc through the
// symbol the executable defines, so forwarding to those names counts them all.
#define _GNU_SOURCE
#include "alloc_count.h"

#include <errno.h>
#include <execinfo.h>
#include <malloc.h>
#include <stdatomic.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);
extern void* __libc_pvalloc(size_t size);
extern void __libc_free(void* block);

static atomic_uint_fast64_t all_allocations;
static atomic_uint_fast64_t all_frees;
static atomic_int_fast64_t all_live_bytes;
// Plain thread-locals of the executable live in static TLS: reading them never allocates.
static _Thread_local uint64_t thread_allocations;
static _Thread_local uint64_t thread_frees;
static _Thread_local int64_t thread_live_bytes;

static _Thread_local int tracing;
static _Thread_local int in_trace;

// A stack per allocation, written straight to stderr: backtrace_symbols_fd needs no heap.
static void trace(int64_t size)
{
    if (!tracing || in_trace) return;
    in_trace = 1;
    char line[64];
    const int n = snprintf(line, sizeof line, "-- allocation of %lld bytes\n", (long long)size);
    if (write(2, line, (size_t)n) < 0) {
        // stderr is gone: nothing to tell
    }
    void* frames[32];
    backtrace_symbols_fd(frames, backtrace(frames, 32), 2);
    in_trace = 0;
}

void alloc_trace_thread(int on)
{
    if (on) {
        // backtrace loads its unwinder on first use, allocating: do that now.
        void* frames[4];
        backtrace(frames, 4);
    }
    tracing = on;
}

static void note_allocation(void* block)
{
    if (block == NULL) return;
    const int64_t size = (int64_t)malloc_usable_size(block);
    atomic_fetch_add_explicit(&all_allocations, 1, memory_order_relaxed);
    atomic_fetch_add_explicit(&all_live_bytes, size, memory_order_relaxed);
    thread_allocations += 1;
    thread_live_bytes += size;
    trace(size);
}

static void note_free(void* block)
{
    if (block == NULL) return;
    const int64_t size = (int64_t)malloc_usable_size(block);
    atomic_fetch_add_explicit(&all_frees, 1, memory_order_relaxed);
    atomic_fetch_sub_explicit(&all_live_bytes, size, memory_order_relaxed);
    thread_frees += 1;
    thread_live_bytes -= size;
}

void* malloc(size_t size)
{
    void* block = __libc_malloc(size);
    note_allocation(block);
    return block;
}

void* calloc(size_t count, size_t size)
{
    void* block = __libc_calloc(count, size);
    note_allocation(block);
    return block;
}

// A resize is one allocation and one free, whether or not the block moves.
void* realloc(void* block, size_t size)
{
    if (block != NULL && size == 0) {
        note_free(block);
        __libc_free(block);
        return NULL;
    }
    note_free(block);
    void* moved = __libc_realloc(block, size);
    if (moved == NULL && block != NULL) {
        note_allocation(block);  // failed: the old block is still there
        return NULL;
    }
    note_allocation(moved);
    return moved;
}

void* reallocarray(void* block, size_t count, size_t size)
{
    size_t total;
    if (__builtin_mul_overflow(count, size, &total)) {
        errno = ENOMEM;
        return NULL;
    }
    return realloc(block, total);
}

void free(void* block)
{
    note_free(block);
    __libc_free(block);
}

void* memalign(size_t alignment, size_t size)
{
    void* block = __libc_memalign(alignment, size);
    note_allocation(block);
    return block;
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = memalign(alignment, size);
    if (block == NULL) return ENOMEM;
    *out = block;
    return 0;
}

void* valloc(size_t size)
{
    void* block = __libc_valloc(size);
    note_allocation(block);
    return block;
}

void* pvalloc(size_t size)
{
    void* block = __libc_pvalloc(size);
    note_allocation(block);
    return block;
}

struct alloc_totals alloc_totals_all(void)
{
    struct alloc_totals t;
    t.allocations = atomic_load_explicit(&all_allocations, memory_order_relaxed);
    t.frees = atomic_load_explicit(&all_frees, memory_order_relaxed);
    t.live_bytes = atomic_load_explicit(&all_live_bytes, memory_order_relaxed);
    return t;
}

struct alloc_totals alloc_totals_thread(void)
{
    struct alloc_totals t = {thread_allocations, thread_frees, thread_live_bytes};
    return t;
}
