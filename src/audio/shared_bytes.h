#pragma once

// Audio data moves between stages as views of reference-counted byte blocks, never copied when
// handed on. The count changes atomically, so slices may cross threads; the bytes themselves are
// written only through writable_data(), which copies them first when another view shares them.

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace audio {

// A heap block shared by reference count. Made with a count of 1; the last release frees it.
class SharedBytes {
public:
    static SharedBytes* create(size_t capacity);
    void add_ref() { m_count.fetch_add(1, std::memory_order_relaxed); }
    void release();
    int32_t count() const { return m_count.load(std::memory_order_acquire); }
    uint8_t* bytes() { return m_bytes; }
    const uint8_t* bytes() const { return m_bytes; }
    size_t capacity() const { return m_capacity; }

private:
    explicit SharedBytes(size_t capacity);
    ~SharedBytes();
    SharedBytes(const SharedBytes&) = delete;
    SharedBytes& operator=(const SharedBytes&) = delete;

    std::atomic<int32_t> m_count{1};
    uint8_t* m_bytes{nullptr};
    size_t m_capacity{0};
};

// A view [offset, offset + length) of a SharedBytes. Copies share the block. The empty slice
// holds no block at all and behaves as a block of capacity 0.
class ByteSlice {
public:
    ByteSlice() = default;
    ByteSlice(const ByteSlice& other);
    ByteSlice(ByteSlice&& other) noexcept;
    ByteSlice& operator=(const ByteSlice& other);
    ByteSlice& operator=(ByteSlice&& other) noexcept;
    ~ByteSlice();

    // A new block of n bytes (contents unspecified), and a new block holding a copy of bytes.
    static ByteSlice allocate(size_t n);
    static ByteSlice copy_of(size_t n, const void* bytes);

    // A view of part of this one, sharing the block. Clamped to this slice's bounds.
    ByteSlice slice(size_t offset, size_t length) const;

    const uint8_t* data() const { return m_block ? m_block->bytes() + m_offset : nullptr; }
    // The slice's bytes for writing: copied into a block of its own first when shared.
    uint8_t* writable_data();
    size_t size() const { return m_length; }
    [[nodiscard]] bool empty() const { return m_length == 0; }
    // Views sharing the block (0 for the empty slice).
    int32_t use_count() const { return m_block ? m_block->count() : 0; }
    // Shortens the view (never lengthens it).
    void truncate(size_t length);

private:
    ByteSlice(SharedBytes* block, size_t offset, size_t length)
        : m_block(block), m_offset(offset), m_length(length) {}

    SharedBytes* m_block{nullptr};
    size_t m_offset{0};
    size_t m_length{0};
};

} // namespace audio
