#include "controller/record_watch.h"

#include "controller/record_storage.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "platform/file_watch.h"

#include <unordered_set>

namespace controller {

namespace {

class FileCollector : public foundation::FileSink {
public:
    explicit FileCollector(std::vector<std::u16string>& out) : m_out(out) {}
    bool on_file(const std::u16string& path) override {
        m_out.push_back(path);
        return true;
    }
    bool on_directory(const std::u16string&) override { return true; }

private:
    std::vector<std::u16string>& m_out;
};

} // namespace

RecordWatch::RecordWatch() = default;
RecordWatch::~RecordWatch() = default;

void RecordWatch::set_storage_folders(const std::vector<std::u16string>& folders) {
    m_folders.clear();
    for (const auto& folder : folders) {
        m_folders.push_back(folder);
        m_folders.push_back(foundation::join(folder, std::u16string(incoming_folder)));
        m_folders.push_back(foundation::join(folder, std::u16string(outgoing_folder)));
    }
    have_watches();
    // At the start the scan finds what the folders hold; a folder added later is watched by
    // changes(), which reports its files.
    if (!m_started && m_watches)
        for (const auto& folder : m_folders)
            if (foundation::FileInfo(folder).is_directory())
                m_watches->add(folder);
    m_started = true;
}

bool RecordWatch::have_watches() {
    if (m_watches)
        return true;
    m_watches = platform::FolderWatches::create();
    if (m_watches && m_handler)
        m_watches->notify_ready(m_handler);
    return m_watches != nullptr;
}

void RecordWatch::set_change_handler(std::function<void()> handler) {
    m_handler = std::move(handler);
    if (m_watches && m_handler)
        m_watches->notify_ready(m_handler);
}

void RecordWatch::add_existing(const std::u16string& folder, std::vector<std::u16string>& out) {
    FileCollector collector(out);
    foundation::find_files(collector, folder, u"*", u"*", false);
}

std::vector<std::u16string> RecordWatch::changes() {
    std::vector<std::u16string> paths;
    if (!have_watches())
        return paths;
    for (const auto& event : m_watches->poll())
        paths.push_back(foundation::join(event.folder, event.name));
    // Folders made since, or made again after they were deleted; a storage added meanwhile.
    for (const auto& folder : m_folders) {
        if (m_watches->watching(folder) || !foundation::FileInfo(folder).is_directory() ||
            !m_watches->add(folder))
            continue;
        foundation::log() << "RecordWatch folder:" << folder << "\n";
        // Files made before the watch began (a folder often comes with its first record).
        add_existing(folder, paths);
    }
    // Bursts come down to one look at each file.
    std::vector<std::u16string> once;
    std::unordered_set<std::u16string> seen;
    for (auto& path : paths)
        if (seen.insert(path).second)
            once.push_back(std::move(path));
    return once;
}

} // namespace controller
