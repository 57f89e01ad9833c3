// Counts the heap allocations of the executable that links alloc_count.c:
// malloc and its relatives are replaced by counting wrappers around glibc's
// own allocator, so the C libraries underneath (SDL, X11, the mixer) count as
// well as C++ operator new, which calls malloc.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct alloc_totals {
    uint64_t allocations;  // malloc, calloc, realloc, the aligned kinds, operator new
    uint64_t frees;        // free and operator delete of a non-null block
};

// Every thread since the process started.
struct alloc_totals alloc_totals_all(void);
// The calling thread only.
struct alloc_totals alloc_totals_thread(void);

#ifdef __cplusplus
}
#endif
