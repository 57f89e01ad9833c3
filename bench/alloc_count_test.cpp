// The allocation counter of the benchmark: each kind of allocation the C and
// C++ libraries can make must count, once, on the right thread, or the
// benchmark's "no allocation per frame" would mean nothing.
#include "alloc_count.h"

#include <malloc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <thread>

namespace {

int failures = 0;

// Keeps the compiler from pairing up and removing an allocation and its free.
void escape(void* p)
{
    asm volatile("" : : "g"(p) : "memory");
}

// The allocations and frees the calling thread made in body.
alloc_totals delta(const std::function<void()>& body)
{
    const alloc_totals before = alloc_totals_thread();
    body();
    const alloc_totals after = alloc_totals_thread();
    return alloc_totals{after.allocations - before.allocations, after.frees - before.frees};
}

void expect(const char* what, uint64_t allocations, uint64_t frees, const std::function<void()>& body)
{
    const alloc_totals d = delta(body);
    if (d.allocations != allocations || d.frees != frees) {
        fprintf(stderr, "FAIL: %s: %llu allocations, %llu frees (want %llu, %llu)\n", what,
                static_cast<unsigned long long>(d.allocations), static_cast<unsigned long long>(d.frees),
                static_cast<unsigned long long>(allocations), static_cast<unsigned long long>(frees));
        ++failures;
    }
}

// One block of a kind, made and freed.
void expect_one(const char* what, void* (*make)())
{
    expect(what, 1, 1, [make] {
        void* p = make();
        escape(p);
        free(p);
    });
}

}  // namespace

int main()
{
    expect_one("malloc", [] { return malloc(100); });
    expect_one("calloc", [] { return calloc(10, 10); });
    expect_one("realloc from null", [] { return realloc(nullptr, 100); });
    expect_one("posix_memalign", [] {
        void* p = nullptr;
        return posix_memalign(&p, 64, 100) == 0 ? p : nullptr;
    });
    expect_one("aligned_alloc", [] { return aligned_alloc(64, 128); });
    expect_one("memalign", [] { return memalign(64, 128); });
    expect_one("valloc", [] { return valloc(100); });
    // Inside libc: strdup calls malloc through the interposable symbol.
    expect_one("strdup", [] { return static_cast<void*>(strdup("a string to copy")); });

    // libstdc++'s operators call malloc and free the same way.
    expect("new and delete", 1, 1, [] {
        int* p = new int(7);
        escape(p);
        delete p;
    });
    expect("new[] and delete[]", 1, 1, [] {
        auto* p = new double[64];
        escape(p);
        delete[] p;
    });
    expect("aligned new and delete", 1, 1, [] {
        void* p = ::operator new (256, std::align_val_t{128});
        escape(p);
        ::operator delete (p, std::align_val_t{128});
    });

    // A resize is one allocation and one free; realloc to zero frees.
    expect("malloc, realloc, realloc to zero", 2, 2, [] {
        void* p = malloc(16);
        escape(p);
        p = realloc(p, 100000);
        escape(p);
        escape(realloc(p, 0));
    });
    // A failed resize changes nothing: the old block is still there.
    expect("failed realloc", 1, 1, [] {
        volatile size_t too_much = SIZE_MAX / 2;
        void* p = malloc(16);
        escape(p);
        if (realloc(p, too_much) != nullptr) abort();
        free(p);
    });
    expect("free(nullptr) and plain arithmetic", 0, 0, [] {
        volatile long sum = 0;
        free(nullptr);
        for (int i = 0; i < 1000; ++i) sum = sum + i;
    });

    // Another thread's allocations count in the process totals, not in this thread's.
    const alloc_totals all_before = alloc_totals_all(), mine_before = alloc_totals_thread();
    uint64_t theirs = 0;
    std::thread other([&] {
        theirs = delta([] { expect_one("malloc on another thread", [] { return malloc(64); }); }).allocations;
    });
    other.join();
    const uint64_t all = alloc_totals_all().allocations - all_before.allocations;
    const uint64_t mine = alloc_totals_thread().allocations - mine_before.allocations;
    // Starting a thread allocates its bookkeeping here too: at least the other's one, not exactly.
    if (theirs != 1 || all < mine + 1) {
        fprintf(stderr, "FAIL: another thread's allocation: it saw %llu, the process %llu beyond ours\n",
                static_cast<unsigned long long>(theirs), static_cast<unsigned long long>(all - mine));
        ++failures;
    }

    if (failures == 0) printf("allocation counter: all checks passed\n");
    return failures == 0 ? 0 : 1;
}
