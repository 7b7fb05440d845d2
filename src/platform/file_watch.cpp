#include "platform/file_watch.h"

#include "platform/ready_watch.h"
#include "platform/utf.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

namespace {

constexpr uint32_t watch_mask =
    IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;

int add_watch(int descriptor, const std::u16string& folder) {
    const std::string path = utf16_to_utf8(folder);
    return inotify_add_watch(descriptor, path.c_str(), watch_mask);
}

// Reads every pending notification: `entry` gets each file's change with its watch descriptor,
// `gone` each watch the system ended (its folder deleted or moved away).
template <typename Entry, typename Gone> void read_events(int descriptor, Entry entry, Gone gone) {
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t got = read(descriptor, buffer, sizeof buffer);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;
        }
        ssize_t offset = 0;
        while (offset + ssize_t(sizeof(inotify_event)) <= got) {
            const auto* event = reinterpret_cast<const inotify_event*>(buffer + offset);
            const ssize_t next = offset + ssize_t(sizeof(inotify_event)) + event->len;
            if (next > got)
                break;
            if (event->mask & IN_IGNORED) {
                gone(event->wd);
            } else if (event->len > 0 && (event->mask & IN_ISDIR) == 0) {
                std::string name(event->name, strnlen(event->name, event->len));
                FileWatch::Change change = FileWatch::Change::Changed;
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    change = FileWatch::Change::Created;
                else if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                    change = FileWatch::Change::Deleted;
                entry(event->wd, change, utf8_to_utf16(name));
            }
            offset = next;
        }
    }
}

} // namespace

std::unique_ptr<FileWatch> FileWatch::create(const std::u16string& folder) {
    int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    if (add_watch(descriptor, folder) < 0) {
        close(descriptor);
        return nullptr;
    }
    return std::unique_ptr<FileWatch>(new FileWatch(descriptor));
}

FileWatch::~FileWatch() {
    close(m_descriptor);
}

std::vector<FileWatch::Event> FileWatch::poll() {
    std::vector<Event> events;
    read_events(
        m_descriptor,
        [&](int, Change change, std::u16string name) {
            events.push_back({change, std::move(name)});
        },
        [](int) {});
    return events;
}

std::unique_ptr<FolderWatches> FolderWatches::create() {
    int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    return std::unique_ptr<FolderWatches>(new FolderWatches(descriptor));
}

FolderWatches::FolderWatches(int descriptor) : m_descriptor(descriptor) {}

FolderWatches::~FolderWatches() {
    m_ready.reset();
    close(m_descriptor);
}

bool FolderWatches::notify_ready(std::function<void()> handler) {
    m_ready.reset();
    m_ready = ReadyWatch::create(m_descriptor, std::move(handler));
    return m_ready != nullptr;
}

bool FolderWatches::add(const std::u16string& folder) {
    if (watching(folder))
        return true;
    const int watch = add_watch(m_descriptor, folder);
    if (watch < 0)
        return false;
    // A folder that takes the place of one added before under another name shares its watch.
    for (auto& [descriptor, path] : m_folders)
        if (descriptor == watch) {
            path = folder;
            return true;
        }
    m_folders.emplace_back(watch, folder);
    return true;
}

bool FolderWatches::watching(const std::u16string& folder) const {
    for (const auto& [descriptor, path] : m_folders)
        if (path == folder)
            return true;
    return false;
}

std::vector<FolderWatches::Event> FolderWatches::poll() {
    std::vector<Event> events;
    auto folder_of = [&](int watch) -> const std::u16string* {
        for (const auto& [descriptor, path] : m_folders)
            if (descriptor == watch)
                return &path;
        return nullptr;
    };
    read_events(
        m_descriptor,
        [&](int watch, FileWatch::Change change, std::u16string name) {
            if (const std::u16string* folder = folder_of(watch))
                events.push_back({change, *folder, std::move(name)});
        },
        [&](int watch) {
            m_folders.erase(std::remove_if(m_folders.begin(), m_folders.end(),
                                           [&](const auto& entry) { return entry.first == watch; }),
                            m_folders.end());
        });
    return events;
}

} // namespace platform
