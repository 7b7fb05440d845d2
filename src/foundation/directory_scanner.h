#pragma once

// A cooperative folder scan on the active scheduler: a step every 1 ms handles folder entries
// for a few milliseconds at most (a large folder's list is not read one entry per timer while
// frames run), and the message loop runs between steps. UI thread only; needs the process's
// scheduler. Files are reported folder by folder, breadth-first; within a folder in name order (a
// folder's entries are read, and sorted by name, when its first step comes). Each started scan
// enters every folder once, known by its device and inode, so links that lead back into the tree (a
// link to a parent folder) are not followed round.

#include "foundation/timer.h"
#include "platform/file_system.h"

#include <deque>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace foundation {

class DirectorySink {
public:
    virtual ~DirectorySink() = default;
    virtual void on_file(const std::u16string& path) = 0;
    // The queue is empty; the scanner stops until the next start().
    virtual void on_done() = 0;
};

class DirectoryScanner : private TimerListener {
public:
    explicit DirectoryScanner(DirectorySink& sink);
    ~DirectoryScanner() override;
    DirectoryScanner(const DirectoryScanner&) = delete;
    DirectoryScanner& operator=(const DirectoryScanner&) = delete;

    // Queues the folder (path macros allowed). The folder being read is dropped (its remaining
    // entries are not reported); folders already queued stay queued, the new one after them.
    // `recursive` applies to the whole scan from now on.
    void start(const std::u16string& directory, bool recursive);
    [[nodiscard]] bool scanning() const;

private:
    // Device and inode of the folders one started scan has entered.
    using Visited = std::set<std::pair<uint64_t, uint64_t>>;
    struct Folder {
        std::u16string path;
        std::shared_ptr<Visited> visited;
    };

    void on_timer(Timer& timer) override;
    // Handles the next entry (opening the next queued folder first when none is open). False
    // when the scan is over and the sink was told.
    [[nodiscard]] bool step();
    void close_search();

    DirectorySink& m_sink;
    Timer m_timer;
    bool m_recursive{false};
    std::deque<Folder> m_queue;
    bool m_search_open{false};
    Folder m_current;
    std::vector<platform::DirectoryEntry> m_entries; // names converted as they are handled
    size_t m_next{0};
};

} // namespace foundation
