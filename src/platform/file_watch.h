#pragma once

// Change notifications for the entries of one folder (inotify underneath). Not recursive.
// One owner thread; poll() never blocks.

#include <memory>
#include <string>
#include <vector>

namespace platform {

class FileWatch {
public:
    enum class Change { Created, Changed, Deleted };
    struct Event {
        Change change;
        std::u16string name; // the entry's name inside the folder
    };

    // Null when the folder cannot be watched (missing, unreadable, no watches left).
    static std::unique_ptr<FileWatch> create(const std::u16string& folder);
    ~FileWatch();
    FileWatch(const FileWatch&) = delete;
    FileWatch& operator=(const FileWatch&) = delete;

    // The changes since the last call, oldest first. An entry moved in counts as created, moved
    // out as deleted; a file closed after writing counts as changed.
    std::vector<Event> poll();

private:
    explicit FileWatch(int descriptor) : m_descriptor(descriptor) {}
    int m_descriptor;
};

} // namespace platform
