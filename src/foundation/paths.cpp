#include "foundation/paths.h"

#include "foundation/log.h"
#include "foundation/text.h"
#include "platform/command_line.h"
#include "platform/desktop_entries.h"
#include "platform/file_system.h"
#include "platform/mount_table.h"
#include "platform/process.h"
#include "platform/registry_store.h"
#include "platform/system_paths.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>

namespace foundation {

namespace {

bool is_separator(char16_t c) {
    return c == u'/' || c == u'\\';
}

struct ProgramLocation {
    std::u16string full_name;
    std::u16string directory; // the program file's own folder
    std::u16string file_name;
    std::u16string data_directory; // what "%app_path%" names
};

bool is_folder(const std::u16string& path) {
    platform::PathStatus status;
    int error = 0;
    return platform::path_status(to_utf8(path), status, error) && status.directory;
}

// The program's data (skins, languages, sounds, help) lies beside it in a build tree, and in
// ../share/quillory once installed into a prefix (bin/ beside share/).
std::u16string data_directory_for(const std::u16string& program_directory) {
    if (is_folder(program_directory + u"/skins"))
        return program_directory;
    const std::u16string prefix = parent_of(program_directory);
    if (!prefix.empty()) {
        std::u16string installed = join(prefix, u"share/quillory");
        if (is_folder(installed))
            return installed;
    }
    return program_directory;
}

std::mutex g_program_mutex;
std::optional<ProgramLocation> g_program;
std::u16string g_program_override;

const ProgramLocation& program_location() {
    bool too_long = false;
    {
        std::lock_guard lock(g_program_mutex);
        if (!g_program) {
            std::u16string full = g_program_override.empty()
                                      ? from_utf8(platform::executable_path())
                                      : g_program_override;
            too_long = full.size() >= 1024;
            ProgramLocation location;
            location.full_name = full;
            location.directory = without_trailing_separator(directory_of(full));
            location.file_name = name_of(full);
            if (!too_long)
                location.data_directory = data_directory_for(location.directory);
            // Kept even when too long: the fatal error's own log statement expands the log
            // file's name.
            g_program = location;
        }
    }
    if (too_long)
        fatal_error(u"get_app_path()", u"path is more then MAX_PATH long");
    return *g_program;
}

std::u16string macro_value(std::u16string_view macro) {
    if (macro == u"%app_full_name%")
        return program_location().full_name;
    if (macro == u"%app_path%")
        return program_location().data_directory;
    if (macro == u"%app_name%")
        return program_location().file_name;
    if (macro == u"%my_documents%")
        return from_utf8(platform::documents_directory());
    static const std::pair<std::u16string_view, const char*> specials[] = {
        {u"%windows%", "windows"},
        {u"%startup%", "startup"},
        {u"%programs%", "programs"},
        {u"%start_menu%", "start_menu"},
        {u"%program_files%", "program_files"},
    };
    for (const auto& [name, which] : specials)
        if (macro == name)
            return from_utf8(platform::special_directory(which));
    return {};
}

const std::u16string_view macros[] = {u"%app_full_name%", u"%app_path%",   u"%app_name%",
                                      u"%my_documents%",  u"%windows%",    u"%startup%",
                                      u"%programs%",      u"%start_menu%", u"%program_files%"};

struct FakeSpace {
    double free_bytes;
    double total_bytes;
};
std::mutex g_space_mutex;
std::map<std::u16string, FakeSpace> g_fake_space;

std::optional<FakeSpace> fake_space_for(const std::u16string& path) {
    std::lock_guard lock(g_space_mutex);
    std::optional<FakeSpace> found;
    size_t best = 0;
    for (const auto& [prefix, space] : g_fake_space) {
        if (prefix.size() >= best && path_starts_with(path, prefix)) {
            best = prefix.size();
            found = space;
        }
    }
    return found;
}

void create_directory_expanded(const std::u16string& path) {
    if (path.empty())
        return;
    create_directory_expanded(parent_of(path));
    std::u16string target = without_trailing_separator(path);
    if (target.empty())
        return;
    bool result = platform::make_directory(to_utf8(target));
    log() << "CreateDirectoryW {" << target << "} result=" << result << "\n";
}

} // namespace

std::u16string expand(const std::u16string& path) {
    std::u16string out;
    size_t start = 0;
    if (!path.empty() && path[0] == u'%') {
        for (auto macro : macros) {
            if (starts_with(path, macro)) {
                out = macro_value(macro);
                start = macro.size();
                break;
            }
        }
    } else {
        program_location();
    }
    out.reserve(out.size() + path.size() - start);
    for (size_t i = start; i < path.size(); ++i)
        out.push_back(path[i] == u'\\' ? u'/' : path[i]);
    return out;
}

void set_program_file_for_testing(const std::u16string& full_name) {
    std::lock_guard lock(g_program_mutex);
    g_program_override = full_name;
    g_program.reset();
}

std::u16string sibling_program(const std::u16string& name) {
    return join(program_location().directory, name);
}

std::u16string directory_of(const std::u16string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (is_separator(path[i - 1]))
            return path.substr(0, i);
    return {};
}

std::u16string name_of(const std::u16string& path) {
    for (size_t i = path.size(); i > 0; --i)
        if (is_separator(path[i - 1]))
            return path.substr(i);
    return path;
}

std::u16string without_trailing_separator(const std::u16string& path) {
    if (!path.empty() && is_separator(path.back()))
        return path.substr(0, path.size() - 1);
    return path;
}

std::u16string join(const std::u16string& directory, const std::u16string& name) {
    if (directory.empty())
        return name;
    return without_trailing_separator(directory) + u"/" + name;
}

std::u16string parent_of(const std::u16string& path) {
    return directory_of(without_trailing_separator(path));
}

bool same_path(const std::u16string& a, const std::u16string& b) {
    // File names on this system are case-sensitive: compared as they are.
    return without_trailing_separator(expand(a)) == without_trailing_separator(expand(b));
}

bool path_starts_with(const std::u16string& path, const std::u16string& prefix) {
    const std::u16string whole = without_trailing_separator(expand(path));
    const std::u16string start = without_trailing_separator(expand(prefix));
    if (whole.size() < start.size() || whole.compare(0, start.size(), start) != 0)
        return false;
    // Whole components only: "/media/u/disk1" does not lie in "/media/u/disk".
    return whole.size() == start.size() || start.empty() || is_separator(whole[start.size()]) ||
           is_separator(start.back());
}

void create_directory(const std::u16string& path) {
    create_directory_expanded(expand(path));
}

bool delete_file(const std::u16string& path) {
    return platform::remove_file(to_utf8(expand(path)));
}

bool trash_file(const std::u16string& path) {
    const std::string target = to_utf8(expand(path));
    std::string reason;
    switch (platform::move_to_trash(target, reason)) {
    case platform::TrashOutcome::Trashed:
        return true;
    case platform::TrashOutcome::Gone:
        return false;
    case platform::TrashOutcome::NoTrash:
        break;
    }
    static std::atomic<bool> told{false};
    if (!told.exchange(true))
        log() << "trash_file: no trash (" << std::string_view(reason) << "), deleting instead {"
              << path << "}\n";
    return platform::remove_file(target);
}

bool link_file(const std::u16string& from, const std::u16string& to) {
    int error = 0;
    return platform::link_path(to_utf8(expand(from)), to_utf8(expand(to)), error);
}

bool sync_folder_of(const std::u16string& path) {
    return platform::sync_directory(platform::folder_of(to_utf8(expand(path))));
}

bool replace_file(const std::u16string& from, const std::u16string& to) {
    int error = 0;
    return platform::replace_keeping_date(to_utf8(expand(from)), to_utf8(expand(to)), error);
}

FileInfo::FileInfo(const std::u16string& path) : m_path(path) {
    std::string target = to_utf8(without_trailing_separator(expand(path)));
    platform::PathStatus status;
    if (!platform::path_status(target, status, m_error))
        return;
    m_attributes = status.directory ? attribute_directory : attribute_normal;
    if (!status.writable)
        m_attributes |= attribute_read_only;
    m_size = uint32_t(status.size);
    m_created = DateTime::from_unix_time(status.change_seconds, status.change_nanoseconds);
    m_written = DateTime::from_unix_time(status.write_seconds, status.write_nanoseconds);
}

bool FileInfo::move_to(const std::u16string& new_path) {
    return platform::rename_path(to_utf8(expand(m_path)), to_utf8(expand(new_path)), m_error);
}

bool same_file(const std::u16string& a, const std::u16string& b) {
    platform::FileIdentity first, second;
    int error = 0;
    return platform::file_identity(to_utf8(expand(a)), first, error) &&
           platform::file_identity(to_utf8(expand(b)), second, error) && first == second;
}

bool is_readable_file(const std::u16string& path, std::string& reason) {
    int error = 0;
    if (platform::is_regular_file(to_utf8(expand(path)), error))
        return true;
    reason = platform::error_text(error);
    return false;
}

bool execute_file(const std::u16string& file, const std::u16string& parameters) {
    std::u16string path = expand(file);
    log() << "execute_file(" << path << "} {" << parameters << ")\n";
    std::string target = to_utf8(path);
    auto extra = platform::split_command_line(to_utf8(parameters));
    if (!extra) {
        log() << "execute_file: a quote is left open in the parameters\n";
        return false;
    }
    std::vector<std::string> words;
    if (platform::is_executable_file(target)) {
        words.push_back(target);
        for (auto& word : *extra)
            words.push_back(std::move(word));
    } else {
        words = platform::document_command(target, *extra);
    }
    return platform::spawn_detached(words);
}

double total_size(const std::u16string& path) {
    std::u16string expanded = expand(path);
    uint64_t total = 0, available = 0;
    bool real = platform::volume_space(to_utf8(expanded), total, available);
    if (auto fake = fake_space_for(expanded)) {
        if (fake->total_bytes >= 0)
            return fake->total_bytes;
        return std::max(real ? double(total) : 0.0, fake->free_bytes);
    }
    return real ? double(total) : 0.0;
}

double free_space(const std::u16string& path) {
    std::u16string expanded = expand(path);
    if (auto fake = fake_space_for(expanded))
        return fake->free_bytes;
    uint64_t total = 0, available = 0;
    if (!platform::volume_space(to_utf8(expanded), total, available))
        return 0;
    return double(available);
}

void set_free_space_for_testing(const std::u16string& prefix, double free_bytes,
                                double total_bytes) {
    std::lock_guard lock(g_space_mutex);
    if (prefix.empty()) {
        g_fake_space.clear();
        return;
    }
    std::u16string key = without_trailing_separator(expand(prefix));
    if (free_bytes < 0)
        g_fake_space.erase(key);
    else
        g_fake_space[key] = {free_bytes, total_bytes};
}

void find_drives(DriveSink& sink) {
    std::u16string documents = expand(u"%my_documents%");
    log() << "find_drives: mydoc={" << documents << "}\n";
    auto listed = platform::storage_cards_override();
    const std::vector<std::string> cards =
        listed ? std::move(*listed) : platform::removable_mount_points();
    for (const auto& card : cards) {
        std::u16string path = without_trailing_separator(from_utf8(card));
        if (path_starts_with(documents, path) || total_size(path) <= 1000000.0) {
            log() << "skipping result={" << path << "}\n";
            continue;
        }
        log() << "returning result={" << path << "}\n";
        if (!sink.on_drive(path))
            return;
    }
}

bool matches_pattern(std::u16string_view name, std::u16string_view pattern) {
    if (pattern == u"*.*")
        pattern = u"*";
    std::u16string n = to_lower(name);
    std::u16string p = to_lower(pattern);
    size_t ni = 0, pi = 0, star = std::u16string::npos, mark = 0;
    while (ni < n.size()) {
        if (pi < p.size() && (p[pi] == u'?' || p[pi] == n[ni])) {
            ++ni;
            ++pi;
        } else if (pi < p.size() && p[pi] == u'*') {
            star = pi++;
            mark = ni;
        } else if (star != std::u16string::npos) {
            pi = star + 1;
            ni = ++mark;
        } else {
            return false;
        }
    }
    while (pi < p.size() && p[pi] == u'*')
        ++pi;
    return pi == p.size();
}

namespace {
// Folders already entered, by device and inode: a link back up the tree is not followed round.
using Visited = std::set<platform::FileIdentity>;

// False when the sink asked to stop.
bool search(FileSink& sink, const std::u16string& directory, const std::u16string& file_pattern,
            const std::u16string& directory_pattern, bool recursive, Visited& visited) {
    std::vector<platform::DirectoryEntry> entries;
    std::string where = to_utf8(expand(directory.empty() ? std::u16string(u".") : directory));
    platform::FileIdentity identity;
    int error = 0;
    if (!platform::file_identity(where, identity, error) || !visited.insert(identity).second)
        return true;
    if (!platform::list_directory(where, entries))
        return true;
    for (const auto& entry : entries) {
        std::u16string name = from_utf8(entry.name);
        if (!entry.directory && matches_pattern(name, file_pattern))
            if (!sink.on_file(join(directory, name)))
                return false;
    }
    for (const auto& entry : entries) {
        std::u16string name = from_utf8(entry.name);
        if (!entry.directory || !matches_pattern(name, directory_pattern))
            continue;
        std::u16string path = join(directory, name);
        if (!sink.on_directory(path))
            return false;
        if (recursive && !search(sink, path, file_pattern, directory_pattern, recursive, visited))
            return false;
    }
    return true;
}
} // namespace

void find_files(FileSink& sink, const std::u16string& directory, const std::u16string& file_pattern,
                const std::u16string& directory_pattern, bool recursive) {
    Visited visited;
    search(sink, directory, file_pattern, directory_pattern, recursive, visited);
}

} // namespace foundation
