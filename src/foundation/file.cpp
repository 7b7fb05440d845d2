#include "foundation/file.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/file_handle.h"

namespace foundation {

File::File() = default;

File::File(const std::u16string& path, Mode mode) {
    // The caller asks is_open().
    (void)open(path, mode);
}

File::~File() = default;

bool File::open(const std::u16string& path, Mode mode) {
    close();
    if (mode < Read || mode > ReadWrite)
        return false;
    m_handle = platform::FileHandle::open(to_utf8(expand(path)), platform::FileHandle::Mode(mode));
    return m_handle != nullptr;
}

void File::close() {
    m_handle.reset();
}

bool File::is_open() const {
    return m_handle != nullptr;
}

uint32_t File::read(void* buffer, uint32_t count) {
    if (!m_handle || !buffer)
        return 0;
    return m_handle->read(buffer, count);
}

uint32_t File::skip(uint32_t count) {
    if (!m_handle)
        return 0;
    int64_t here = m_handle->tell();
    int64_t size = m_handle->size();
    if (here < 0 || size < 0)
        return 0;
    int64_t target = here + int64_t(count);
    if (target > size)
        target = here > size ? here : size;
    if (!m_handle->seek(uint64_t(target)))
        return 0;
    return uint32_t(target - here);
}

uint64_t File::size() const {
    if (!m_handle)
        return 0;
    int64_t size = m_handle->size();
    return size < 0 ? 0 : uint64_t(size);
}

bool File::seek(uint64_t position) {
    return m_handle && m_handle->seek(position);
}

uint64_t File::tell() const {
    if (!m_handle)
        return 0;
    int64_t here = m_handle->tell();
    return here < 0 ? 0 : uint64_t(here);
}

bool File::write(const void* buffer, uint32_t count) {
    if (!m_handle || (!buffer && count))
        return false;
    return m_handle->write(buffer, count);
}

bool File::flush() {
    return m_handle && m_handle->flush();
}

bool File::truncate() {
    return m_handle && m_handle->truncate_here();
}

WholeFile read_whole_file(const std::u16string& path, uint64_t limit, std::vector<uint8_t>& bytes) {
    return platform::read_whole_file(to_utf8(expand(path)), limit, bytes);
}

} // namespace foundation
