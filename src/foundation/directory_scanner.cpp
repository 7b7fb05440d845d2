#include "foundation/directory_scanner.h"

#include "foundation/paths.h"
#include "foundation/text.h"
#include "platform/clock.h"
#include "platform/file_system.h"

namespace foundation {

namespace {
constexpr double step_seconds = 0.001;
// One step goes on with further entries while it has taken less than this...
constexpr uint32_t step_budget_ms = 3;
// ...and never beyond this many (a clock that does not move ends the step too).
constexpr size_t step_entries = 256;
} // namespace

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
    const uint32_t began = platform::tick_count();
    for (size_t handled = 1;; ++handled) {
        if (!step())
            return;
        // The sink started another scan from the entry: that start armed the timer.
        if (m_timer.is_active())
            return;
        if (handled >= step_entries || platform::tick_count() - began >= step_budget_ms)
            break;
    }
    m_timer.after(step_seconds);
}

bool DirectoryScanner::step() {
    if (!m_search_open) {
        if (m_queue.empty()) {
            m_sink.on_done();
            return false;
        }
        m_current = std::move(m_queue.front());
        m_queue.pop_front();
        const std::string where = to_utf8(expand(m_current.path));
        platform::FileIdentity identity;
        int error = 0;
        if (!platform::file_identity(where, identity, error) ||
            !m_current.visited->insert({identity.device, identity.inode}).second ||
            !platform::list_directory(where, m_entries) || m_entries.empty()) {
            m_entries.clear();
            return true;
        }
        m_next = 0;
        m_search_open = true;
    }
    const platform::DirectoryEntry entry = std::move(m_entries[m_next]);
    ++m_next;
    if (m_next >= m_entries.size())
        close_search();
    // The sink may call start() from here; the entry was taken first.
    if (!entry.directory)
        m_sink.on_file(join(m_current.path, from_utf8(entry.name)));
    else if (m_recursive)
        m_queue.push_back({join(m_current.path, from_utf8(entry.name)), m_current.visited});
    return true;
}

} // namespace foundation
