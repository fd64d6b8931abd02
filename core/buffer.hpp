// Storage for large bulk-operation outputs and element arrays.
//
// A 10-million-element output array is 240 MB; with 4 KiB pages its first
// touch costs ~60,000 page faults, which can rival the arithmetic itself.
// Blocks of kHugeThreshold bytes and more are therefore mapped directly,
// aligned to 2 MiB with a huge-page hint (core/platform.hpp): on Linux they are
// marked MADV_HUGEPAGE, so the kernel can back them with transparent huge pages
// (one fault per 2 MiB) even where huge pages are only given on request.
// Smaller blocks come from malloc.
//
// Memory is uninitialised (in practice mapped blocks read as zero, malloc'ed
// ones do not). Every block is at least 16-byte aligned. A block must be freed
// or resized with the byte count it currently has: the count decides which
// allocator owns it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <new>
#include <type_traits>
#include <utility>

namespace orvath::core {

inline constexpr std::size_t kHugeThreshold = std::size_t{2} << 20;  // 2 MiB

// nullptr on failure, and for bytes == 0 (which needs no storage).
void* alloc_huge(std::size_t bytes) noexcept;
// Frees a block of `bytes` bytes from alloc_huge / realloc_huge; nullptr is ignored.
void free_huge(void* p, std::size_t bytes) noexcept;
// Resizes a block of old_bytes to new_bytes, keeping min(old, new) bytes of
// content, possibly moving it. On failure returns nullptr and leaves the old
// block as it was. p may be nullptr (old_bytes must then be 0); new_bytes == 0
// frees p and returns nullptr.
void* realloc_huge(void* p, std::size_t old_bytes, std::size_t new_bytes) noexcept;

// An owned array of n trivially copyable T, uninitialised, from alloc_huge.
template <class T>
class HugeBuffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "HugeBuffer holds plain values only");

public:
    HugeBuffer() noexcept = default;
    // size() == n on success; allocation failure leaves the buffer empty.
    explicit HugeBuffer(std::size_t n) noexcept {
        if (n == 0) return;
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) return;
        data_ = static_cast<T*>(alloc_huge(n * sizeof(T)));
        if (data_) size_ = n;
    }
    HugeBuffer(HugeBuffer&& o) noexcept : data_(std::exchange(o.data_, nullptr)), size_(std::exchange(o.size_, 0)) {}
    HugeBuffer& operator=(HugeBuffer&& o) noexcept {
        if (this != &o) {
            reset();
            data_ = std::exchange(o.data_, nullptr);
            size_ = std::exchange(o.size_, 0);
        }
        return *this;
    }
    HugeBuffer(const HugeBuffer&) = delete;
    HugeBuffer& operator=(const HugeBuffer&) = delete;
    ~HugeBuffer() { reset(); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }
    T* begin() noexcept { return data_; }
    T* end() noexcept { return data_ + size_; }

    // Gives up ownership: the caller frees with free_huge(p, size() * sizeof(T)).
    T* release() noexcept {
        size_ = 0;
        return std::exchange(data_, nullptr);
    }
    void reset() noexcept {
        free_huge(data_, size_ * sizeof(T));
        data_ = nullptr;
        size_ = 0;
    }

private:
    T* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace orvath::core
