#include "controller/record_watch.h"

#include "controller/record_storage.h"
#include "foundation/log.h"
#include "foundation/paths.h"
#include "platform/file_watch.h"

#include <algorithm>
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
    std::vector<std::u16string> wanted;
    for (const auto& folder : folders) {
        wanted.push_back(folder);
        wanted.push_back(foundation::join(folder, std::u16string(incoming_folder)));
        wanted.push_back(foundation::join(folder, std::u16string(outgoing_folder)));
    }
    std::vector<Folder> next;
    for (auto& path : wanted) {
        auto present = std::find_if(m_folders.begin(), m_folders.end(),
                                    [&](const Folder& f) { return f.path == path; });
        if (present != m_folders.end()) {
            next.push_back(std::move(*present));
            continue;
        }
        Folder folder;
        folder.path = path;
        // At the start the scan finds what the folders hold; a folder added later is watched
        // by changes(), which reports its files.
        if (!m_started && foundation::FileInfo(path).is_directory())
            folder.watch = platform::FileWatch::create(path);
        next.push_back(std::move(folder));
    }
    m_folders = std::move(next);
    m_started = true;
}

void RecordWatch::add_existing(const std::u16string& folder, std::vector<std::u16string>& out) {
    FileCollector collector(out);
    foundation::find_files(collector, folder, u"*", u"*", false);
}

std::vector<std::u16string> RecordWatch::changes() {
    std::vector<std::u16string> paths;
    for (Folder& folder : m_folders) {
        if (folder.watch) {
            for (const auto& event : folder.watch->poll())
                paths.push_back(foundation::join(folder.path, event.name));
            // A folder deleted (or put aside) takes its watch with it; it is watched again when
            // it comes back.
            if (!foundation::FileInfo(folder.path).is_directory())
                folder.watch.reset();
        } else if (foundation::FileInfo(folder.path).is_directory()) {
            folder.watch = platform::FileWatch::create(folder.path);
            if (!folder.watch)
                continue;
            foundation::log() << "RecordWatch folder:" << folder.path << "\n";
            // Files made before the watch began (a folder often comes with its first record).
            add_existing(folder.path, paths);
        }
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
