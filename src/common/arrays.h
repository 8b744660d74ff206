// Flat arrays that travel between the pipeline stages.
//
// Every stage allocates the arrays it produces and hands ownership back to
// the caller; Array<T> gives array allocation and release without the
// zero-filling that std::vector would do on arrays that are overwritten
// anyway.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

#include "common/page_hints.h"

namespace stlrefine {

// Fresh pages are costly to touch one by one (see page_hints.h).
// Arrays of a large page (2 MiB) or more start on a large-page boundary and
// span whole large pages, so that every byte of them can lie on large pages;
// those that stay untouched cost nothing. Smaller arrays come from the heap
// with all their pages mapped at once: they are about to be written, and
// what stays unused is under a large page.
constexpr std::size_t LargePageSize = std::size_t{1} << 21;
constexpr std::size_t PrefaultSize = std::size_t{1} << 16;

inline void* allocateBytes(std::size_t bytes) {
    if (bytes < LargePageSize) {
        void* data = ::operator new(bytes);
        if (bytes >= PrefaultSize) platform::prefaultPages(data, bytes);
        return data;
    }
    if (bytes > SIZE_MAX - LargePageSize) throw std::bad_array_new_length();
    const std::size_t rounded = (bytes + LargePageSize - 1) & ~(LargePageSize - 1);
    void* data = ::operator new (rounded, std::align_val_t{LargePageSize});
    platform::adviseLargePages(data, rounded);
    return data;
}

inline void releaseBytes(void* data, std::size_t bytes) noexcept {
    if (bytes < LargePageSize) {
        ::operator delete(data);
    } else {
        ::operator delete (data, std::align_val_t{LargePageSize});
    }
}

// Room for n elements, placed as above; also the allocator of the arrays
// that grow as they are filled.
template <class T>
struct LargePageAllocator {
    using value_type = T;
    LargePageAllocator() = default;
    template <class U>
    LargePageAllocator(const LargePageAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(allocateBytes(n * sizeof(T)));
    }
    void deallocate(T* data, std::size_t n) noexcept { releaseBytes(data, n * sizeof(T)); }
    friend bool operator==(const LargePageAllocator&, const LargePageAllocator&) { return true; }
};

template <class T>
using GrowingArray = std::vector<T, LargePageAllocator<T>>;

struct ArrayRelease {
    std::size_t bytes = 0;
    void operator()(void* data) const noexcept { releaseBytes(data, bytes); }
};

// A flat array of plain values, released as it was allocated.
template <class T>
using Array = std::unique_ptr<T[], ArrayRelease>;

// Allocates an array of n elements without initialising them.
template <class T>
Array<T> allocateArray(std::size_t n) {
    static_assert(std::is_trivially_default_constructible_v<T> && std::is_trivially_destructible_v<T>);
    return Array<T>(LargePageAllocator<T>().allocate(n), ArrayRelease{n * sizeof(T)});
}

}  // namespace stlrefine
