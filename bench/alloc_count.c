// Every library in the process calls malloc through the symbol the executable
// defines; forwarding to glibc's __libc_* names counts each allocation once.
#define _GNU_SOURCE
#include "alloc_count.h"

#include <errno.h>
#include <malloc.h>
#include <stdatomic.h>
#include <stddef.h>

extern void* __libc_malloc(size_t size);
extern void* __libc_calloc(size_t count, size_t size);
extern void* __libc_realloc(void* block, size_t size);
extern void* __libc_memalign(size_t alignment, size_t size);
extern void* __libc_valloc(size_t size);
extern void __libc_free(void* block);

static atomic_uint_fast64_t all_allocations;
static atomic_uint_fast64_t all_frees;
// Thread-locals of the executable live in static TLS: reading them never allocates.
static _Thread_local uint64_t thread_allocations;
static _Thread_local uint64_t thread_frees;

static void* counted(void* block)
{
    if (block != NULL) {
        atomic_fetch_add_explicit(&all_allocations, 1, memory_order_relaxed);
        thread_allocations += 1;
    }
    return block;
}

static void count_free(void* block)
{
    if (block != NULL) {
        atomic_fetch_add_explicit(&all_frees, 1, memory_order_relaxed);
        thread_frees += 1;
    }
}

void* malloc(size_t size)
{
    return counted(__libc_malloc(size));
}
void* calloc(size_t count, size_t size)
{
    return counted(__libc_calloc(count, size));
}
void* memalign(size_t alignment, size_t size)
{
    return counted(__libc_memalign(alignment, size));
}
void* aligned_alloc(size_t alignment, size_t size)
{
    return memalign(alignment, size);
}
void* valloc(size_t size)
{
    return counted(__libc_valloc(size));
}

void free(void* block)
{
    count_free(block);
    __libc_free(block);
}

// A resize is one allocation and one free, whether or not the block moves.
void* realloc(void* block, size_t size)
{
    if (block != NULL && size == 0) {
        free(block);
        return NULL;
    }
    void* moved = __libc_realloc(block, size);
    if (moved == NULL) return NULL;  // failed: the old block is still there, nothing changed
    count_free(block);
    return counted(moved);
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

int posix_memalign(void** out, size_t alignment, size_t size)
{
    if (alignment < sizeof(void*) || (alignment & (alignment - 1)) != 0) return EINVAL;
    void* block = memalign(alignment, size);
    if (block == NULL) return ENOMEM;
    *out = block;
    return 0;
}

struct alloc_totals alloc_totals_all(void)
{
    struct alloc_totals t = {atomic_load_explicit(&all_allocations, memory_order_relaxed),
                             atomic_load_explicit(&all_frees, memory_order_relaxed)};
    return t;
}

struct alloc_totals alloc_totals_thread(void)
{
    struct alloc_totals t = {thread_allocations, thread_frees};
    return t;
}
