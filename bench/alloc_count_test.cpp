// The allocation counter of the benchmark: each kind of allocation the C and
// C++ libraries can make must count, once, on the right thread.
#include "alloc_count.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <thread>

namespace {

int failures = 0;

void check(bool ok, const char* what)
{
    if (!ok) {
        fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    }
}

// Keeps the compiler from pairing up and removing an allocation and its free.
void escape(void* p) { asm volatile("" : : "g"(p) : "memory"); }

// Runs body and returns how many allocations and frees the calling thread made.
template <typename F>
alloc_totals delta(F&& body)
{
    const alloc_totals before = alloc_totals_thread();
    body();
    const alloc_totals after = alloc_totals_thread();
    return alloc_totals{after.allocations - before.allocations, after.frees - before.frees,
                        after.live_bytes - before.live_bytes};
}

void expect_one_each(const char* what, alloc_totals d)
{
    char text[160];
    snprintf(text, sizeof text, "%s: %llu allocations, %llu frees, %lld live bytes (want 1, 1, 0)", what,
             static_cast<unsigned long long>(d.allocations), static_cast<unsigned long long>(d.frees),
             static_cast<long long>(d.live_bytes));
    check(d.allocations == 1 && d.frees == 1 && d.live_bytes == 0, text);
}

}  // namespace

int main()
{
    expect_one_each("malloc", delta([] {
                        void* p = malloc(100);
                        escape(p);
                        free(p);
                    }));
    expect_one_each("calloc", delta([] {
                        void* p = calloc(10, 10);
                        escape(p);
                        free(p);
                    }));
    expect_one_each("realloc from null", delta([] {
                        void* p = realloc(nullptr, 100);
                        escape(p);
                        free(p);
                    }));
    expect_one_each("posix_memalign", delta([] {
                        void* p = nullptr;
                        if (posix_memalign(&p, 64, 100) == 0) escape(p);
                        free(p);
                    }));
    expect_one_each("aligned_alloc", delta([] {
                        void* p = aligned_alloc(64, 128);
                        escape(p);
                        free(p);
                    }));
    expect_one_each("memalign", delta([] {
                        void* p = memalign(64, 128);
                        escape(p);
                        free(p);
                    }));
    // Inside libc: strdup calls malloc through the interposable symbol.
    expect_one_each("strdup", delta([] {
                        char* p = strdup("a string to copy");
                        escape(p);
                        free(p);
                    }));
    expect_one_each("new and delete", delta([] {
                        int* p = new int(7);
                        escape(p);
                        delete p;
                    }));
    expect_one_each("new[] and delete[]", delta([] {
                        auto* p = new double[64];
                        escape(p);
                        delete[] p;
                    }));
    struct alignas(128) Wide {
        char bytes[128];
    };
    expect_one_each("aligned new and delete", delta([] {
                        auto* p = new Wide;
                        escape(p);
                        delete p;
                    }));
    expect_one_each("std::string past its inline buffer", delta([] {
                        std::string s(200, 'x');
                        escape(s.data());
                    }));

    // A resize is one allocation and one free; freeing by realloc to zero is a free.
    {
        const alloc_totals d = delta([] {
            void* p = malloc(16);
            escape(p);
            p = realloc(p, 100000);
            escape(p);
            p = realloc(p, 0);
            escape(p);
        });
        check(d.allocations == 2 && d.frees == 2 && d.live_bytes == 0, "malloc, realloc, realloc to zero");
    }

    // free(nullptr) is no free, and work without the heap counts nothing.
    {
        volatile long sum = 0;
        const alloc_totals d = delta([&] {
            free(nullptr);
            for (int i = 0; i < 1000; ++i) sum = sum + i;
        });
        check(d.allocations == 0 && d.frees == 0, "free(nullptr) and plain arithmetic count nothing");
    }

    // Live bytes follow blocks that stay allocated.
    {
        void* kept = nullptr;
        const alloc_totals d = delta([&] {
            kept = malloc(1000);
            escape(kept);
        });
        check(d.allocations == 1 && d.frees == 0 && d.live_bytes >= 1000, "a kept block stays live");
        free(kept);
    }

    // Another thread's allocations count in the process totals, not in this thread's.
    {
        const alloc_totals all_before = alloc_totals_all();
        const alloc_totals mine_before = alloc_totals_thread();
        uint64_t theirs = 0;
        std::thread other([&] {
            const alloc_totals t0 = alloc_totals_thread();
            for (int i = 0; i < 10; ++i) {
                void* p = malloc(64);
                escape(p);
                free(p);
            }
            theirs = alloc_totals_thread().allocations - t0.allocations;
        });
        other.join();
        const uint64_t all = alloc_totals_all().allocations - all_before.allocations;
        const uint64_t mine = alloc_totals_thread().allocations - mine_before.allocations;
        check(theirs == 10, "the other thread counts its own ten allocations");
        // Starting a thread allocates its stack bookkeeping here too: at least the ten.
        check(all >= mine + 10, "the process totals include the other thread's allocations");
    }

    if (failures == 0) printf("allocation counter: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
