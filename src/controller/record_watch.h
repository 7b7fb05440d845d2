#pragma once

// Watches the record folders of the storages, with their "Incoming" and "Outgoing", for files
// that other programs make, change, move in or out and delete (a recording made by
// quillory-cli, a file copied in by the user). Folders that do not exist yet are watched once
// they appear, and the files they already hold then count as changed. Not recursive beyond the
// call folders. UI thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {
class FolderWatches;
}

namespace controller {

class RecordWatch {
public:
    RecordWatch();
    ~RecordWatch();
    RecordWatch(const RecordWatch&) = delete;
    RecordWatch& operator=(const RecordWatch&) = delete;

    // The storages' record folders from now on. Folders already watched stay watched without a
    // word; folders added after the first call report the files they hold at the next
    // changes(), as folders that appear later do.
    void set_storage_folders(const std::vector<std::u16string>& folders);

    // The paths of the files that changed since the last call, each once, in the order they
    // were first seen; what each now is must be looked up on the disk. Watches folders that
    // have appeared meanwhile and lets go of folders that have gone.
    std::vector<std::u16string> changes();

    // `handler` runs from the loop whenever a watched folder reports something, so that
    // changes() need not be asked on the off chance. Folders that are still to appear are seen
    // only by asking.
    void set_change_handler(std::function<void()> handler);

private:
    void add_existing(const std::u16string& folder, std::vector<std::u16string>& out);
    bool have_watches();

    std::unique_ptr<platform::FolderWatches> m_watches; // null until it can be had
    std::vector<std::u16string> m_folders;
    bool m_started{false};
    std::function<void()> m_handler;
};

} // namespace controller
