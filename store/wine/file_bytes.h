#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <sys/mman.h>

namespace keyloft::wine {

// Storage for a whole registry file, which may run to megabytes. A fresh process faults such a
// buffer in one 4 KiB page at a time, and on a virtual machine each fault is dear (measured: an
// 8.4 MB user.reg, 2,200 faults, 40 ms of a one-shot command's 50). Where the system has
// transparent huge pages, a large buffer is placed on 2 MiB boundaries and asks for them.
template <class T> struct LargeBufferAllocator {
    using value_type = T;

    LargeBufferAllocator() = default;
    template <class U> explicit LargeBufferAllocator(const LargeBufferAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
#ifdef MADV_HUGEPAGE
        if (const std::size_t size = huge(n)) {
            void* got = ::mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE,
                               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (got == MAP_FAILED)
                throw std::bad_alloc();
            const auto start = reinterpret_cast<std::uintptr_t>(got);
            const auto aligned = (start + kHuge - 1) & ~(kHuge - 1);
            if (aligned > start)
                ::munmap(got, aligned - start);
            if (const std::size_t tail = start + kHuge - aligned)
                ::munmap(reinterpret_cast<void*>(aligned + size), tail);
            ::madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
            return reinterpret_cast<T*>(aligned);
        }
#endif
        return std::allocator<T>().allocate(n);
    }
    void deallocate(T* p, std::size_t n) noexcept {
#ifdef MADV_HUGEPAGE
        if (const std::size_t size = huge(n)) {
            ::munmap(p, size);
            return;
        }
#endif
        std::allocator<T>().deallocate(p, n);
    }
    friend bool operator==(const LargeBufferAllocator&, const LargeBufferAllocator&) = default;

private:
    static constexpr std::size_t kHuge = std::size_t(2) << 20;
    // The whole huge pages n elements take; 0 below one, where the heap serves better.
    static std::size_t huge(std::size_t n) {
        const std::size_t bytes = n * sizeof(T);
        return bytes < kHuge ? 0 : (bytes + kHuge - 1) / kHuge * kHuge;
    }
};

// The bytes of a registry file as read, or as written.
using FileBytes = std::basic_string<char, std::char_traits<char>, LargeBufferAllocator<char>>;

} // namespace keyloft::wine
