#include "platform/registry_database.h"

#include "platform/xdg_folders.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform::registry {

namespace {

constexpr size_t max_key_bytes = 4096;
constexpr size_t max_name_bytes = 1024;

// A database file younger than this may be empty because its maker has not written it yet.
constexpr int kNewDatabaseSeconds = 5;

void make_directories(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/') {
            std::string prefix = path.substr(0, pos);
            if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
                return;
        }
    }
}

const char* const schema =
    "CREATE TABLE IF NOT EXISTS keys(root INTEGER NOT NULL, path TEXT NOT NULL COLLATE NOCASE,"
    " parent TEXT NOT NULL COLLATE NOCASE, name TEXT NOT NULL, PRIMARY KEY(root, path));"
    "CREATE INDEX IF NOT EXISTS keys_by_parent ON keys(root, parent);"
    "CREATE TABLE IF NOT EXISTS reg_values(root INTEGER NOT NULL, key TEXT NOT NULL COLLATE NOCASE,"
    " name TEXT NOT NULL COLLATE NOCASE, type INTEGER NOT NULL, data,"
    " PRIMARY KEY(root, key, name));"
    "CREATE TABLE IF NOT EXISTS notifications(name TEXT PRIMARY KEY COLLATE NOCASE,"
    " root INTEGER NOT NULL, key TEXT NOT NULL COLLATE NOCASE,"
    " value_name TEXT NOT NULL COLLATE NOCASE, command TEXT NOT NULL, flags INTEGER NOT NULL,"
    " condition INTEGER NOT NULL, mask INTEGER NOT NULL, target INTEGER NOT NULL);";

// The process id, kept current across fork without a system call per use.
std::atomic<pid_t> g_pid{0};

void refresh_pid() {
    g_pid.store(::getpid(), std::memory_order_relaxed);
}

pid_t current_pid() {
    static const bool registered = [] {
        refresh_pid();
        ::pthread_atfork(nullptr, nullptr, refresh_pid);
        return true;
    }();
    (void)registered;
    return g_pid.load(std::memory_order_relaxed);
}

} // namespace

bool valid_root(RegistryRoot root) {
    return root >= RegistryRoot::ClassesRoot && root <= RegistryRoot::CurrentConfig;
}

std::vector<std::string> components_of(const std::string& key) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : key) {
        if (c == '\\') {
            if (!part.empty())
                parts.push_back(std::move(part));
            part.clear();
        } else {
            part.push_back(c);
        }
    }
    if (!part.empty())
        parts.push_back(std::move(part));
    return parts;
}

std::string join_components(const std::vector<std::string>& parts, size_t count) {
    std::string out;
    for (size_t i = 0; i < count; ++i) {
        if (i)
            out.push_back('\\');
        out += parts[i];
    }
    return out;
}

// A key path in its stored form, or nothing when it is not acceptable.
std::optional<std::string> normalise(const std::string& key) {
    if (key.size() > max_key_bytes || key.find('\0') != std::string::npos)
        return std::nullopt;
    auto parts = components_of(key);
    for (const auto& part : parts)
        if (part.size() > 255)
            return std::nullopt;
    return join_components(parts, parts.size());
}

bool valid_name(const std::string& name) {
    return name.size() <= max_name_bytes && name.find('\0') == std::string::npos;
}

std::string directory() {
    if (const char* dir = std::getenv("QUILLORY_CONFIG_DIR"); dir && *dir)
        return dir;
    return config_home() + "/quillory";
}

Statement::Statement(sqlite3* db, const char* sql) {
    m_rc = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
}

Statement::~Statement() {
    sqlite3_finalize(m_statement);
}

Statement& Statement::bind(int index, int64_t value) {
    sqlite3_bind_int64(m_statement, index, value);
    return *this;
}

Statement& Statement::bind(int index, const std::string& text) {
    sqlite3_bind_text(m_statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
    return *this;
}

std::string Statement::text(int column) const {
    const unsigned char* data = sqlite3_column_text(m_statement, column);
    int size = sqlite3_column_bytes(m_statement, column);
    return data ? std::string(reinterpret_cast<const char*>(data), size_t(size)) : std::string();
}

Transaction::Transaction(sqlite3* db) : m_db(db) {
    rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
}

Transaction::~Transaction() {
    if (rc == SQLITE_OK && !m_done)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
}

int Transaction::commit() {
    m_done = true;
    int result = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (result != SQLITE_OK)
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    return result;
}

Database& Database::instance() {
    static Database* database = new Database();
    return *database;
}

bool Database::is_corruption(int rc) {
    int primary = rc & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

void Database::damaged_during_use(int rc) {
    note("registry: database damaged during use (" + std::string(sqlite3_errstr(rc)) + ")");
    drop_connection(true);
    set_aside();
}

void Database::close() {
    std::lock_guard lock(m_mutex);
    drop_connection(m_pid == current_pid());
    m_failure_reported = false;
}

RegistryStamp Database::stamp() {
    std::lock_guard lock(m_mutex);
    RegistryStamp result;
    if (!ensure_open())
        return result;
    result.connection = m_generation;
    result.local_writes = m_local_writes;
    if (m_counter) {
        result.data_version = __atomic_load_n(m_counter, __ATOMIC_ACQUIRE);
    } else if (m_data_version) {
        if (sqlite3_step(m_data_version) == SQLITE_ROW)
            result.data_version = uint64_t(sqlite3_column_int64(m_data_version, 0));
        sqlite3_reset(m_data_version);
    }
    return result;
}

// Called after every committed write: tells this process and, through the shared change
// counter, every other one.
void Database::count_write() {
    std::lock_guard lock(m_mutex);
    ++m_local_writes;
    if (m_counter && m_pid == current_pid()) {
        __atomic_add_fetch(m_counter, 1, __ATOMIC_RELEASE);
        // A write through the mapping is seen by no file watch: the stamp's times tell them,
        // after the commit, so that a watcher reading then finds the new content.
        ::utimensat(AT_FDCWD, m_stamp_path.c_str(), nullptr, 0);
    }
}

std::vector<std::string> Database::take_diagnostics() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_diagnostics, {});
}

bool Database::take_set_aside() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_set_aside_unseen, false);
}

void Database::note(const std::string& message) {
    std::fprintf(stderr, "quillory: %s\n", message.c_str());
    m_diagnostics.push_back(message);
}

void Database::drop_connection(bool close_it) {
    if (m_db && close_it) {
        sqlite3_finalize(m_data_version);
        sqlite3_close_v2(m_db);
    }
    if (m_counter && close_it)
        ::munmap(m_counter, sizeof(uint64_t));
    m_counter = nullptr;
    // A connection inherited across fork is abandoned, never used or closed.
    m_db = nullptr;
    m_data_version = nullptr;
    ++m_generation;
}

bool Database::ensure_open() {
    if (m_db && m_pid == current_pid())
        return true;
    if (m_db)
        drop_connection(false);
    // After a failure, try again at most once a second: a statement that reads the store
    // on every call must stay cheap while the store is unusable.
    auto now = std::chrono::steady_clock::now();
    if (m_failure_reported && now - m_last_failure < std::chrono::seconds(1))
        return false;
    m_path = directory() + "/registry.sqlite";
    // A database of 0 bytes is one a crash of the file system cut short, not a new one:
    // SQLite would take it as empty and every setting would be lost without a word.
    if (is_cut_short()) {
        note("registry: database " + m_path + " is empty (cut short)");
        set_aside();
    }
    // Two processes opening the store at the same moment can meet SQLITE_BUSY where
    // SQLite does not wait (switching to WAL, its first schema); such an open is tried
    // again for a few seconds before it counts as a failure.
    int busy_retries = 0;
    for (int attempt = 0; attempt < 2; ++attempt) {
        int rc = open_database();
        if (rc == SQLITE_OK)
            return true;
        drop_connection(true);
        if ((rc == SQLITE_BUSY || rc == SQLITE_LOCKED) && busy_retries < 250) {
            ++busy_retries;
            --attempt;
            ::usleep(20000);
            continue;
        }
        if (!is_corruption(rc) || attempt > 0) {
            if (!m_failure_reported)
                note("registry: cannot open " + m_path + " (" + sqlite3_errstr(rc) + ")");
            m_failure_reported = true;
            m_last_failure = now;
            return false;
        }
        set_aside();
    }
    return false;
}

int Database::open_database() {
    make_directories(directory());
    int rc =
        sqlite3_open_v2(m_path.c_str(), &m_db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    m_pid = current_pid();
    ++m_generation;
    sqlite3_extended_result_codes(m_db, 0);
    sqlite3_busy_timeout(m_db, 15000);
    rc = sqlite3_exec(m_db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_exec(m_db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    {
        Statement check(m_db, "PRAGMA quick_check");
        if (!check.ok())
            return check.prepare_result();
        rc = check.step();
        if (rc == SQLITE_ROW && check.text(0) != "ok")
            return SQLITE_CORRUPT;
        if (rc != SQLITE_ROW && rc != SQLITE_DONE)
            return rc;
    }
    rc = sqlite3_exec(m_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_exec(m_db, schema, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc;
    }
    rc = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    rc = sqlite3_prepare_v2(m_db, "PRAGMA data_version", -1, &m_data_version, nullptr);
    if (rc != SQLITE_OK)
        return rc;
    map_change_counter();
    m_failure_reported = false;
    return SQLITE_OK;
}

// A counter shared by every process using the store, raised after each committed write.
// Reading it costs no system call, unlike asking the database whether it changed.
void Database::map_change_counter() {
    std::string path = m_path.substr(0, m_path.rfind('/') + 1) + registry_stamp_name;
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return;
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        (info.st_size >= off_t(sizeof(uint64_t)) || ::ftruncate(fd, sizeof(uint64_t)) == 0)) {
        void* mapped = ::mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapped != MAP_FAILED) {
            m_counter = static_cast<uint64_t*>(mapped);
            m_stamp_path = path;
        }
    }
    ::close(fd);
}

// The database file exists with no bytes, and not because another process has only just
// created it.
bool Database::is_cut_short() const {
    struct stat info {};
    if (::stat(m_path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0)
        return false;
    return std::time(nullptr) - info.st_mtime > kNewDatabaseSeconds;
}

void Database::set_aside() {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".corrupt-%lld-%d", (long long)std::time(nullptr),
                  int(::getpid()));
    std::string aside = m_path + suffix;
    if (std::rename(m_path.c_str(), aside.c_str()) == 0) {
        for (const char* extra : {"-wal", "-shm"}) {
            std::string from = m_path + extra;
            std::rename(from.c_str(), (aside + extra).c_str());
        }
        note("registry: damaged database set aside as " + aside);
        m_set_aside_unseen = true;
    } else {
        note("registry: damaged database " + m_path + " could not be set aside");
    }
}

} // namespace platform::registry
