#pragma once

// An open file (POSIX descriptor). Paths are UTF-8. One object per thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class FileHandle {
public:
    enum Mode {
        Read = 0,      // existing file
        WriteNew = 1,  // created or truncated
        Append = 2,    // created if missing, positioned at the end
        ReadWrite = 3, // created if missing, positioned at the start
        // Created or truncated; every write lands at the file's current end, so a file that
        // another process truncates meanwhile gets no hole of zeros (the shared log).
        WriteNewAtEnd = 4,
        // Created if missing, never truncated; every write lands at the file's current end.
        AppendAtEnd = 5,
    };

    // Nothing when the file cannot be opened. `no_follow` refuses a symbolic link as the last
    // component (for files made in shared folders).
    static std::unique_ptr<FileHandle> open(const std::string& path, Mode mode,
                                            bool no_follow = false);
    ~FileHandle();
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;

    // Bytes read; stops early only at the end or on an error.
    uint32_t read(void* buffer, uint32_t count);
    // True only when every byte was written.
    bool write(const void* buffer, uint32_t count);
    // Size in bytes, or -1 on failure.
    int64_t size() const;
    bool seek(uint64_t position);
    // Current position, or -1 on failure.
    int64_t tell() const;
    bool flush();
    bool truncate_here();

private:
    explicit FileHandle(int descriptor) : m_fd(descriptor) {}
    int m_fd;
    bool m_full_disk{false}; // the test double of a full disk holds this file
};

// The program's one way to read a whole file (foundation/file.h gives it to the code above):
// its bytes, when it opens and holds at most `limit` bytes. It is read to its end, so a file
// whose size the system does not tell (/proc) is read whole too. On CannotRead `bytes` keeps
// what could be read; otherwise it is empty on failure.
enum class WholeFile { Read, CannotOpen, TooLarge, CannotRead };
[[nodiscard]] WholeFile read_whole_file(const std::string& path, uint64_t limit,
                                        std::vector<uint8_t>& bytes);
// The same as text; empty when it cannot be read whole.
std::string read_whole_text(const std::string& path, uint64_t limit);

} // namespace platform
