#include "platform/file_handle.h"

#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<FileHandle> FileHandle::open(const std::string& path, Mode mode, bool no_follow) {
    int flags = O_CLOEXEC;
    switch (mode) {
    case Read:
        flags |= O_RDONLY;
        break;
    case WriteNew:
        flags |= O_WRONLY | O_CREAT | O_TRUNC;
        break;
    case WriteNewAtEnd:
        flags |= O_WRONLY | O_CREAT | O_TRUNC | O_APPEND;
        break;
    case Append:
        flags |= O_WRONLY | O_CREAT;
        break;
    case AppendAtEnd:
        flags |= O_WRONLY | O_CREAT | O_APPEND;
        break;
    case ReadWrite:
        flags |= O_RDWR | O_CREAT;
        break;
    default:
        return nullptr;
    }
    if (no_follow)
        flags |= O_NOFOLLOW;
    if (path.empty() || path.find('\0') != std::string::npos)
        return nullptr;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return nullptr;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    std::unique_ptr<FileHandle> handle(new FileHandle(fd));
    handle->m_full_disk = mode != Read && on_full_disk_double(path);
    if (mode == Append && ::lseek(fd, 0, SEEK_END) < 0)
        return nullptr;
    return handle;
}

FileHandle::~FileHandle() {
    ::close(m_fd);
}

uint32_t FileHandle::read(void* buffer, uint32_t count) {
    uint32_t done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < count) {
        ssize_t got = ::read(m_fd, bytes + done, count - done);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        done += uint32_t(got);
    }
    return done;
}

bool FileHandle::write(const void* buffer, uint32_t count) {
    if (m_full_disk) {
        struct stat info {};
        const off_t here = ::lseek(m_fd, 0, SEEK_CUR);
        const bool at_end = (::fcntl(m_fd, F_GETFL) & O_APPEND) != 0;
        if (::fstat(m_fd, &info) != 0 || here < 0 || at_end ||
            uint64_t(here) + count > uint64_t(info.st_size)) {
            errno = ENOSPC;
            return false;
        }
    }
    uint32_t done = 0;
    auto* bytes = static_cast<const char*>(buffer);
    while (done < count) {
        ssize_t put = ::write(m_fd, bytes + done, count - done);
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += uint32_t(put);
    }
    return true;
}

int64_t FileHandle::size() const {
    struct stat info {};
    if (::fstat(m_fd, &info) != 0)
        return -1;
    return int64_t(info.st_size);
}

bool FileHandle::seek(uint64_t position) {
    if (position > uint64_t(INT64_MAX))
        return false;
    return ::lseek(m_fd, off_t(position), SEEK_SET) >= 0;
}

int64_t FileHandle::tell() const {
    return int64_t(::lseek(m_fd, 0, SEEK_CUR));
}

bool FileHandle::flush() {
    return ::fsync(m_fd) == 0 || errno == EINVAL;
}

bool FileHandle::truncate_here() {
    off_t here = ::lseek(m_fd, 0, SEEK_CUR);
    return here >= 0 && ::ftruncate(m_fd, here) == 0;
}

WholeFile read_whole_file(const std::string& path, uint64_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    std::unique_ptr<FileHandle> file = FileHandle::open(path, FileHandle::Read);
    if (!file)
        return WholeFile::CannotOpen;
    const int64_t size = file->size();
    if (size < 0)
        return WholeFile::CannotRead;
    if (uint64_t(size) > limit || uint64_t(size) > UINT32_MAX)
        return WholeFile::TooLarge;
    constexpr uint32_t kChunk = 64 * 1024;
    for (;;) {
        const size_t at = bytes.size();
        const size_t wanted = size_t(std::max<int64_t>(size - int64_t(at), kChunk));
        bytes.resize(at + wanted);
        const uint32_t got = file->read(bytes.data() + at, uint32_t(wanted));
        bytes.resize(at + got);
        if (bytes.size() > limit) {
            bytes.clear();
            return WholeFile::TooLarge;
        }
        if (got < wanted)
            break;
    }
    if (bytes.size() < uint64_t(size))
        return WholeFile::CannotRead;
    return WholeFile::Read;
}

std::string read_whole_text(const std::string& path, uint64_t limit) {
    std::vector<uint8_t> bytes;
    if (read_whole_file(path, limit, bytes) != WholeFile::Read)
        return {};
    return std::string(bytes.begin(), bytes.end());
}

} // namespace platform
