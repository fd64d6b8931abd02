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
// Memory is uninitialised (in practice fresh mapped blocks read as zero,
// malloc'ed and reused ones do not). Every block is at least 16-byte aligned.
// A block must be freed or resized with the byte count it currently has: the
// count decides which allocator owns it.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
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

// The size in bytes of the block the allocator really provides for a request
// of `bytes`: the request itself below kHugeThreshold, otherwise rounded up to
// whole huge pages. A block must be freed, resized or cached under this count.
// 0 when the rounding overflows.
std::size_t block_size(std::size_t bytes) noexcept;

// Blocks with reuse. A fresh mapping is faulted in and zeroed by the kernel on
// first touch, which costs more than the arithmetic of a bulk operation over
// it; so, as malloc keeps its heap, a few freed big blocks are kept and handed
// to the next request they fit (not more than twice its size).
//
// take_block: `bytes` is a block_size() count; on return it holds the size of
// the block given (a cached block may be larger). nullptr when memory is short.
void* take_block(std::size_t& bytes) noexcept;
// Gives back a block of `bytes` (its block_size() count): cached or freed.
void give_block(void* p, std::size_t bytes) noexcept;

// An owned contiguous array of trivially copyable T, uninitialised, with
// amortised growth: a list's elements, an iterator's snapshot, or the output
// of a bulk operation. Every failure (memory short, an impossible size)
// reports false and leaves the array as it was.
template <class T>
class Buffer {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>,
                  "Buffer holds plain values only");

public:
    Buffer() noexcept = default;
    Buffer(Buffer&& o) noexcept
        : data_(std::exchange(o.data_, nullptr)),
          size_(std::exchange(o.size_, 0)),
          bytes_(std::exchange(o.bytes_, 0)) {}
    Buffer& operator=(Buffer&& o) noexcept {
        Buffer gone(std::move(*this));
        data_ = std::exchange(o.data_, nullptr);
        size_ = std::exchange(o.size_, 0);
        bytes_ = std::exchange(o.bytes_, 0);
        return *this;
    }
    Buffer(const Buffer&) = delete;
    Buffer& operator=(const Buffer&) = delete;
    ~Buffer() { give_block(data_, bytes_); }

    T* data() noexcept { return data_; }
    const T* data() const noexcept { return data_; }
    std::size_t size() const noexcept { return size_; }
    T& operator[](std::size_t i) noexcept { return data_[i]; }
    const T& operator[](std::size_t i) const noexcept { return data_[i]; }

    // Replaces the content by n uninitialised entries in a fresh block.
    bool allocate(std::size_t n) noexcept {
        Buffer fresh;
        if (!fresh.reserve(n)) return false;
        fresh.size_ = n;
        *this = std::move(fresh);
        return true;
    }

    // Room for n entries in all, without changing the size.
    bool reserve(std::size_t n) noexcept {
        if (n > kMaxCount) return false;
        return n * sizeof(T) <= bytes_ || resize_block(n * sizeof(T));
    }

    bool append(const T* values, std::size_t n) noexcept {
        if (n == 0) return true;
        if (n > kMaxCount - size_) return false;
        if ((size_ + n) * sizeof(T) > bytes_ && !grow(size_ + n)) return false;
        std::memcpy(data_ + size_, values, n * sizeof(T));
        size_ += n;
        return true;
    }

    bool push_back(const T& v) noexcept {
        if (size_ == kMaxCount) return false;
        if ((size_ + 1) * sizeof(T) > bytes_ && !grow(size_ + 1)) return false;
        data_[size_++] = v;
        return true;
    }

private:
    static constexpr std::size_t kMaxCount = static_cast<std::size_t>(-1) / sizeof(T);

    // At least double the block, so that appending one at a time is amortised.
    bool grow(std::size_t count) noexcept {
        std::size_t want = (count < 4 ? 4 : count) * sizeof(T);
        if (bytes_ <= static_cast<std::size_t>(-1) / 2 && want < 2 * bytes_) want = 2 * bytes_;
        return resize_block(want);
    }

    bool resize_block(std::size_t want) noexcept {
        std::size_t bytes = block_size(want);
        if (bytes == 0) return false;
        void* p = data_ == nullptr ? take_block(bytes) : realloc_huge(data_, bytes_, bytes);
        if (p == nullptr) return false;
        data_ = static_cast<T*>(p);
        bytes_ = bytes;
        return true;
    }

    T* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t bytes_ = 0;  // the block's size, as the allocator must be told it
};

}  // namespace orvath::core
