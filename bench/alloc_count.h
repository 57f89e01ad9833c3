// Counts heap allocations in the executable that links alloc_count.c and
// alloc_new.cpp: malloc and its relatives are replaced by counting wrappers
// around glibc's own allocator, so the C libraries underneath (SDL, X11, the
// mixer) are counted as well as C++ operator new.
#pragma once

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

struct alloc_totals {
    uint64_t allocations;  // malloc, calloc, realloc, the aligned kinds, operator new
    uint64_t frees;        // free and operator delete of a non-null block
    int64_t live_bytes;    // usable size of the blocks not yet freed
};

// Every thread since the process started.
struct alloc_totals alloc_totals_all(void);
// The calling thread only.
struct alloc_totals alloc_totals_thread(void);

// While on, every allocation by the calling thread writes its stack to stderr:
// a way to find out who allocates in a frame.
void alloc_trace_thread(int on);

#ifdef __cplusplus
}
#endif
