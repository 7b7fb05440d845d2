#pragma once

// Change notifications for the entries of one folder (inotify underneath). Not recursive.
// One owner thread; poll() never blocks.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class ReadyWatch;

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

// The same for several folders on one notification instance (a user may have few of them).
// A folder that is deleted or moved away stops being watched; add() it again once it is back.
class FolderWatches {
public:
    struct Event {
        FileWatch::Change change;
        std::u16string folder; // as it was added
        std::u16string name;   // the entry's name inside the folder
    };

    // Null when no notification instance can be had.
    static std::unique_ptr<FolderWatches> create();
    ~FolderWatches();
    FolderWatches(const FolderWatches&) = delete;
    FolderWatches& operator=(const FolderWatches&) = delete;

    // False when the folder cannot be watched (missing, unreadable, no watches left).
    bool add(const std::u16string& folder);
    bool watching(const std::u16string& folder) const;
    // The changes since the last call, oldest first, as FileWatch::poll gives them.
    std::vector<Event> poll();
    // From now on `handler` runs from the calling thread's message loop whenever poll() has
    // something to give; it should call poll(). False when no waiting thread can be had.
    bool notify_ready(std::function<void()> handler);

private:
    explicit FolderWatches(int descriptor);
    int m_descriptor;
    std::unique_ptr<ReadyWatch> m_ready;
    std::vector<std::pair<int, std::u16string>> m_folders; // watch descriptor, folder
};

} // namespace platform
