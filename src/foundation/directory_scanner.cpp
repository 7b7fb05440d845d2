#include "foundation/directory_scanner.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/file_system.h"

namespace foundation {

namespace {
constexpr double step_seconds = 0.001;
}

DirectoryScanner::DirectoryScanner(DirectorySink& sink) : m_sink(sink), m_timer(*this) {}

DirectoryScanner::~DirectoryScanner() {
    m_timer.cancel();
}

void DirectoryScanner::start(const std::u16string& directory, bool recursive) {
    m_timer.cancel();
    m_recursive = recursive;
    m_queue.push_back({directory, std::make_shared<Visited>()});
    close_search();
    m_timer.after(step_seconds);
}

bool DirectoryScanner::scanning() const {
    return m_timer.is_active();
}

void DirectoryScanner::close_search() {
    m_search_open = false;
    m_entries.clear();
    m_next = 0;
}

void DirectoryScanner::on_timer(Timer&) {
    if (!m_search_open) {
        if (m_queue.empty()) {
            m_sink.on_done();
            return;
        }
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        const std::string where = to_utf8(expand(m_current.path));
        platform::FileIdentity identity;
        int error = 0;
        std::vector<platform::DirectoryEntry> entries;
        if (!platform::file_identity(where, identity, error) ||
            !m_current.visited->insert({identity.device, identity.inode}).second ||
            !platform::list_directory(where, entries) || entries.empty()) {
            m_timer.after(step_seconds);
            return;
        }
        for (auto& entry : entries)
            m_entries.push_back({from_utf8(entry.name), entry.directory});
        m_next = 0;
        m_search_open = true;
    }
    const Entry entry = m_entries[m_next];
    ++m_next;
    if (m_next >= m_entries.size())
        close_search();
    // The sink may call start() from here; the entry was taken first.
    if (!entry.directory)
        m_sink.on_file(join(m_current.path, entry.name));
    else if (m_recursive)
        m_queue.push_back({join(m_current.path, entry.name), m_current.visited});
    if (!m_timer.is_active())
        m_timer.after(step_seconds);
}

} // namespace foundation
