#pragma once

// A file opened by path (path macros expanded first). Not open after a failed open; every
// operation on a file that is not open returns 0 or false. One object per thread.

#include "platform/file_handle.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace foundation {

class File {
public:
    enum Mode {
        Read = 0,      // existing file, reading
        WriteNew = 1,  // created or truncated, writing
        Append = 2,    // created if missing, writing at the end
        ReadWrite = 3, // created if missing, reading and writing from the start
    };

    File();
    File(const std::u16string& path, Mode mode);
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    [[nodiscard]] bool open(const std::u16string& path, Mode mode);
    void close();
    [[nodiscard]] bool is_open() const;

    // Bytes actually read; 0 at the end or on failure.
    uint32_t read(void* buffer, uint32_t count);
    // Distance actually moved forward.
    uint32_t skip(uint32_t count);
    uint64_t size() const;
    [[nodiscard]] bool seek(uint64_t position);
    uint64_t tell() const;

    // True only when every byte was written.
    [[nodiscard]] bool write(const void* buffer, uint32_t count);
    bool flush();
    // Cuts the file at the current position.
    [[nodiscard]] bool truncate();

private:
    std::unique_ptr<platform::FileHandle> m_handle;
};

// The program's one way to read a whole file (platform::read_whole_file), the path expanded.
using platform::WholeFile;
[[nodiscard]] WholeFile read_whole_file(const std::u16string& path, uint64_t limit,
                                        std::vector<uint8_t>& bytes);

} // namespace foundation
