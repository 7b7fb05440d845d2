#include "platform/file_watch.h"

#include "foundation/unicode.h"

#include <cerrno>
#include <cstring>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

std::unique_ptr<FileWatch> FileWatch::create(const std::u16string& folder) {
    int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    const std::string path = foundation::utf16_to_utf8(folder);
    const uint32_t mask =
        IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE | IN_DELETE | IN_MOVED_FROM | IN_ONLYDIR;
    if (inotify_add_watch(descriptor, path.c_str(), mask) < 0) {
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
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        ssize_t got = read(m_descriptor, buffer, sizeof buffer);
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
            if (event->len > 0 && (event->mask & IN_ISDIR) == 0) {
                std::string name(event->name, strnlen(event->name, event->len));
                Change change = Change::Changed;
                if (event->mask & (IN_CREATE | IN_MOVED_TO))
                    change = Change::Created;
                else if (event->mask & (IN_DELETE | IN_MOVED_FROM))
                    change = Change::Deleted;
                events.push_back({change, foundation::utf8_to_utf16(name)});
            }
            offset = next;
        }
    }
    return events;
}

} // namespace platform
