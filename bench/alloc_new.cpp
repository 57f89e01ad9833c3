// operator new and delete on top of the counting malloc and free, so a C++
// allocation counts once, in the same totals as the C libraries' ones.
#include <cstdlib>
#include <new>

namespace {

void* allocate(std::size_t size)
{
    if (size == 0) size = 1;
    for (;;) {
        if (void* block = std::malloc(size)) return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

void* allocate_aligned(std::size_t size, std::align_val_t alignment)
{
    if (size == 0) size = 1;
    const auto align = static_cast<std::size_t>(alignment);
    for (;;) {
        void* block = nullptr;
        if (posix_memalign(&block, align < sizeof(void*) ? sizeof(void*) : align, size) == 0) return block;
        std::new_handler handler = std::get_new_handler();
        if (handler == nullptr) throw std::bad_alloc();
        handler();
    }
}

}  // namespace

void* operator new(std::size_t size) { return allocate(size); }
void* operator new[](std::size_t size) { return allocate(size); }
void* operator new(std::size_t size, std::align_val_t a) { return allocate_aligned(size, a); }
void* operator new[](std::size_t size, std::align_val_t a) { return allocate_aligned(size, a); }

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t& t) noexcept { return operator new(size, t); }
void* operator new(std::size_t size, std::align_val_t a, const std::nothrow_t&) noexcept
{
    try {
        return allocate_aligned(size, a);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, std::align_val_t a, const std::nothrow_t& t) noexcept
{
    return operator new(size, a, t);
}

void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t, std::align_val_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete(void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, std::align_val_t, const std::nothrow_t&) noexcept { std::free(block); }
