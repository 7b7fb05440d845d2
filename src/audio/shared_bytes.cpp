#include "audio/shared_bytes.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace audio {

SharedBytes::SharedBytes(size_t capacity)
    : m_bytes(capacity ? new uint8_t[capacity] : nullptr), m_capacity(capacity) {}

SharedBytes::~SharedBytes() {
    delete[] m_bytes;
}

SharedBytes* SharedBytes::create(size_t capacity) {
    return new SharedBytes(capacity);
}

void SharedBytes::release() {
    if (m_count.fetch_sub(1, std::memory_order_acq_rel) == 1)
        delete this;
}

ByteSlice::ByteSlice(const ByteSlice& other)
    : m_block(other.m_block), m_offset(other.m_offset), m_length(other.m_length) {
    if (m_block)
        m_block->add_ref();
}

ByteSlice::ByteSlice(ByteSlice&& other) noexcept
    : m_block(std::exchange(other.m_block, nullptr)), m_offset(std::exchange(other.m_offset, 0)),
      m_length(std::exchange(other.m_length, 0)) {}

ByteSlice& ByteSlice::operator=(const ByteSlice& other) {
    if (other.m_block)
        other.m_block->add_ref();
    if (m_block)
        m_block->release();
    m_block = other.m_block;
    m_offset = other.m_offset;
    m_length = other.m_length;
    return *this;
}

ByteSlice& ByteSlice::operator=(ByteSlice&& other) noexcept {
    if (this != &other) {
        if (m_block)
            m_block->release();
        m_block = std::exchange(other.m_block, nullptr);
        m_offset = std::exchange(other.m_offset, 0);
        m_length = std::exchange(other.m_length, 0);
    }
    return *this;
}

ByteSlice::~ByteSlice() {
    if (m_block)
        m_block->release();
}

ByteSlice ByteSlice::allocate(size_t n) {
    if (n == 0)
        return {};
    return ByteSlice(SharedBytes::create(n), 0, n);
}

ByteSlice ByteSlice::copy_of(size_t n, const void* bytes) {
    ByteSlice slice = allocate(n);
    if (n)
        std::memcpy(slice.m_block->bytes(), bytes, n);
    return slice;
}

ByteSlice ByteSlice::slice(size_t offset, size_t length) const {
    offset = std::min(offset, m_length);
    length = std::min(length, m_length - offset);
    if (length == 0)
        return {};
    m_block->add_ref();
    return ByteSlice(m_block, m_offset + offset, length);
}

uint8_t* ByteSlice::writable_data() {
    if (!m_block)
        return nullptr;
    if (m_block->count() != 1)
        *this = copy_of(m_length, data());
    return m_block->bytes() + m_offset;
}

void ByteSlice::truncate(size_t length) {
    if (length < m_length)
        m_length = length;
    if (m_length == 0 && m_block) {
        m_block->release();
        m_block = nullptr;
        m_offset = 0;
    }
}

} // namespace audio
