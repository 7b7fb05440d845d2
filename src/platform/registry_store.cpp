#include "platform/registry_store.h"

#include "platform/command_line.h"
#include "platform/process.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <sqlite3.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace platform {

namespace {

constexpr size_t max_key_bytes = 4096;
constexpr size_t max_name_bytes = 1024;

struct Value {
    bool exists{false};
    uint32_t type{0};
    uint32_t dword{0};
    std::string text;
    bool operator==(const Value&) const = default;
};

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

// A database file younger than this may be empty because its maker has not written it yet.
constexpr int kNewDatabaseSeconds = 5;

bool is_corruption(int rc) {
    int primary = rc & 0xFF;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        m_rc = sqlite3_prepare_v2(db, sql, -1, &m_statement, nullptr);
    }
    ~Statement() { sqlite3_finalize(m_statement); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_rc == SQLITE_OK; }
    int prepare_result() const { return m_rc; }
    Statement& bind(int index, int64_t value) {
        sqlite3_bind_int64(m_statement, index, value);
        return *this;
    }
    Statement& bind(int index, const std::string& text) {
        sqlite3_bind_text(m_statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    int step() { return sqlite3_step(m_statement); }
    sqlite3_stmt* get() const { return m_statement; }

    std::string text(int column) const {
        const unsigned char* data = sqlite3_column_text(m_statement, column);
        int size = sqlite3_column_bytes(m_statement, column);
        return data ? std::string(reinterpret_cast<const char*>(data), size_t(size))
                    : std::string();
    }

private:
    sqlite3_stmt* m_statement{nullptr};
    int m_rc{SQLITE_ERROR};
};

std::string config_directory() {
    if (const char* dir = std::getenv("QUILLORY_CONFIG_DIR"); dir && *dir)
        return dir;
    if (const char* dir = std::getenv("XDG_CONFIG_HOME"); dir && *dir == '/')
        return std::string(dir) + "/quillory";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.config/quillory";
}

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

bool condition_holds(const RegistryNotification& n, const Value& v) {
    if (!v.exists || v.type != REG_DWORD)
        return false;
    uint32_t masked = v.dword & n.mask;
    switch (n.condition) {
    case RegistryCondition::Equal:
        return masked == n.target;
    case RegistryCondition::NotEqual:
        return masked != n.target;
    case RegistryCondition::Greater:
        return masked > n.target;
    case RegistryCondition::GreaterOrEqual:
        return masked >= n.target;
    case RegistryCondition::Less:
        return masked < n.target;
    case RegistryCondition::LessOrEqual:
        return masked <= n.target;
    case RegistryCondition::AnyChange:
        return false;
    }
    return false;
}

bool fires(const RegistryNotification& n, const Value& before, const Value& after) {
    if (n.condition == RegistryCondition::AnyChange)
        return !(before == after);
    return !condition_holds(n, before) && condition_holds(n, after);
}

bool has_words(const std::string& command) {
    const auto words = split_command_line(command);
    return words && !words->empty();
}

void launch_detached(const RegistryNotification& n) {
    auto split = split_command_line(n.command);
    if (!split || split->empty())
        return; // stored before commands had to split cleanly
    std::vector<std::string> words = std::move(*split);
    if ((n.flags & RNAF_NONAMEONCMDLINE) == 0)
        words.push_back(n.name);
    if (!spawn_detached(words))
        std::fprintf(stderr, "quillory: registry notification %s: %s cannot be started\n",
                     n.name.c_str(), words.front().c_str());
}

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

class Store {
public:
    static Store& instance() {
        static Store* store = new Store(); // never destroyed: usable until the process ends
        return *store;
    }

    template <class Operation> bool run(Operation operation) {
        std::lock_guard lock(m_mutex);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!ensure_open())
                return false;
            int rc = operation(m_db);
            if (rc == SQLITE_OK)
                return true;
            if (!is_corruption(rc) || attempt > 0)
                return false;
            note("registry: database damaged during use (" + std::string(sqlite3_errstr(rc)) + ")");
            reset_damaged();
        }
        return false;
    }

    void close() {
        std::lock_guard lock(m_mutex);
        drop_connection(m_pid == current_pid());
        m_failure_reported = false;
    }

    RegistryStamp stamp() {
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
    void count_write() {
        std::lock_guard lock(m_mutex);
        ++m_local_writes;
        if (m_counter && m_pid == current_pid())
            __atomic_add_fetch(m_counter, 1, __ATOMIC_RELEASE);
    }

    std::vector<std::string> take_diagnostics() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_diagnostics, {});
    }

    bool take_set_aside() {
        std::lock_guard lock(m_mutex);
        return std::exchange(m_set_aside_unseen, false);
    }

private:
    Store() = default;

    void note(const std::string& message) {
        std::fprintf(stderr, "quillory: %s\n", message.c_str());
        m_diagnostics.push_back(message);
    }

    void drop_connection(bool close_it) {
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

    bool ensure_open() {
        if (m_db && m_pid == current_pid())
            return true;
        if (m_db)
            drop_connection(false);
        // After a failure, try again at most once a second: a statement that reads the store
        // on every call must stay cheap while the store is unusable.
        auto now = std::chrono::steady_clock::now();
        if (m_failure_reported && now - m_last_failure < std::chrono::seconds(1))
            return false;
        m_path = config_directory() + "/registry.sqlite";
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

    int open_database() {
        make_directories(config_directory());
        int rc = sqlite3_open_v2(m_path.c_str(), &m_db,
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX,
                                 nullptr);
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
    void map_change_counter() {
        std::string path = config_directory() + "/registry.stamp";
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            return;
        struct stat info {};
        if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
            (info.st_size >= off_t(sizeof(uint64_t)) || ::ftruncate(fd, sizeof(uint64_t)) == 0)) {
            void* mapped =
                ::mmap(nullptr, sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (mapped != MAP_FAILED)
                m_counter = static_cast<uint64_t*>(mapped);
        }
        ::close(fd);
    }

    // The database file exists with no bytes, and not because another process has only just
    // created it.
    bool is_cut_short() const {
        struct stat info {};
        if (::stat(m_path.c_str(), &info) != 0 || !S_ISREG(info.st_mode) || info.st_size != 0)
            return false;
        return std::time(nullptr) - info.st_mtime > kNewDatabaseSeconds;
    }

    void set_aside() {
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

    void reset_damaged() {
        drop_connection(true);
        set_aside();
    }

    std::mutex m_mutex;
    sqlite3* m_db{nullptr};
    sqlite3_stmt* m_data_version{nullptr};
    uint64_t* m_counter{nullptr};
    pid_t m_pid{0};
    uint64_t m_generation{0};
    uint64_t m_local_writes{0};
    bool m_failure_reported{false};
    bool m_set_aside_unseen{false}; // a damaged database was set aside; not yet said on screen
    std::chrono::steady_clock::time_point m_last_failure;
    std::string m_path;
    std::vector<std::string> m_diagnostics;
};

// Transaction helpers; each returns an SQLite result code.
struct Transaction {
    explicit Transaction(sqlite3* db) : m_db(db) {
        rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    }
    ~Transaction() {
        if (rc == SQLITE_OK && !m_done)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    int commit() {
        m_done = true;
        int result = sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
        if (result != SQLITE_OK)
            sqlite3_exec(m_db, "ROLLBACK", nullptr, nullptr, nullptr);
        return result;
    }
    int rc;

private:
    sqlite3* m_db;
    bool m_done{false};
};

int create_key(sqlite3* db, RegistryRoot root, const std::string& key) {
    auto parts = components_of(key);
    for (size_t depth = 1; depth <= parts.size(); ++depth) {
        Statement insert(db, "INSERT OR IGNORE INTO keys(root, path, parent, name) "
                             "VALUES(?1, ?2, ?3, ?4)");
        if (!insert.ok())
            return insert.prepare_result();
        insert.bind(1, int64_t(root))
            .bind(2, join_components(parts, depth))
            .bind(3, join_components(parts, depth - 1))
            .bind(4, parts[depth - 1]);
        int rc = insert.step();
        if (rc != SQLITE_DONE)
            return rc;
    }
    return SQLITE_OK;
}

int key_exists(sqlite3* db, RegistryRoot root, const std::string& key, bool& exists) {
    if (key.empty()) {
        exists = true;
        return SQLITE_OK;
    }
    Statement select(db, "SELECT 1 FROM keys WHERE root = ?1 AND path = ?2");
    if (!select.ok())
        return select.prepare_result();
    select.bind(1, int64_t(root)).bind(2, key);
    int rc = select.step();
    if (rc != SQLITE_ROW && rc != SQLITE_DONE)
        return rc;
    exists = rc == SQLITE_ROW;
    return SQLITE_OK;
}

// The stored value exactly as it is; a row of an unknown type or with data of the wrong kind
// counts as a value that no typed read accepts.
int load_value(sqlite3* db, RegistryRoot root, const std::string& key, const std::string& name,
               Value& out) {
    Statement select(db, "SELECT type, data FROM reg_values WHERE root = ?1 AND key = ?2 "
                         "AND name = ?3");
    if (!select.ok())
        return select.prepare_result();
    select.bind(1, int64_t(root)).bind(2, key).bind(3, name);
    int rc = select.step();
    out = Value{};
    if (rc == SQLITE_DONE)
        return SQLITE_OK;
    if (rc != SQLITE_ROW)
        return rc;
    out.exists = true;
    int64_t type = sqlite3_column_int64(select.get(), 0);
    int data_type = sqlite3_column_type(select.get(), 1);
    if (type == REG_DWORD && data_type == SQLITE_INTEGER) {
        int64_t number = sqlite3_column_int64(select.get(), 1);
        if (number >= 0 && number <= 0xFFFFFFFFll) {
            out.type = REG_DWORD;
            out.dword = uint32_t(number);
        }
    } else if (type == REG_SZ && data_type == SQLITE_TEXT) {
        out.type = REG_SZ;
        out.text = select.text(1);
        if (auto zero = out.text.find('\0'); zero != std::string::npos)
            out.text.resize(zero);
    } else {
        out.type = uint32_t(-1);
    }
    return SQLITE_OK;
}

int load_notifications(sqlite3* db, const char* where, RegistryRoot root, const std::string& key,
                       const std::string& name, std::vector<RegistryNotification>& out) {
    std::string sql = "SELECT name, root, key, value_name, command, flags, condition, mask, "
                      "target FROM notifications ";
    sql += where;
    sql += " ORDER BY name";
    Statement select(db, sql.c_str());
    if (!select.ok())
        return select.prepare_result();
    if (root != RegistryRoot::None)
        select.bind(1, int64_t(root)).bind(2, key).bind(3, name);
    int rc;
    while ((rc = select.step()) == SQLITE_ROW) {
        RegistryNotification n;
        n.name = select.text(0);
        n.root = RegistryRoot(sqlite3_column_int64(select.get(), 1));
        n.key = select.text(2);
        n.value_name = select.text(3);
        n.command = select.text(4);
        n.flags = uint32_t(sqlite3_column_int64(select.get(), 5));
        n.condition = RegistryCondition(sqlite3_column_int64(select.get(), 6));
        n.mask = uint32_t(sqlite3_column_int64(select.get(), 7));
        n.target = uint32_t(sqlite3_column_int64(select.get(), 8));
        out.push_back(std::move(n));
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

// Reads a value, creating its key when the key is missing.
bool read_value(RegistryRoot root, const std::string& key_in, const std::string& name, Value& out) {
    auto key = normalise(key_in);
    if (!valid_root(root) || !key || !valid_name(name))
        return false;
    bool created = false;
    bool ok = Store::instance().run([&](sqlite3* db) {
        int rc = load_value(db, root, *key, name, out);
        if (rc != SQLITE_OK || out.exists)
            return rc;
        bool exists = false;
        rc = key_exists(db, root, *key, exists);
        if (rc != SQLITE_OK || exists)
            return rc;
        Transaction transaction(db);
        if (transaction.rc != SQLITE_OK)
            return transaction.rc;
        rc = create_key(db, root, *key);
        if (rc != SQLITE_OK)
            return rc;
        created = true;
        return transaction.commit();
    });
    if (created)
        Store::instance().count_write();
    return ok;
}

// Writes (or with `remove`, deletes) a value and starts the notifications it sets off.
bool change_value(RegistryRoot root, const std::string& key_in, const std::string& name,
                  const Value* value, bool& existed) {
    auto key = normalise(key_in);
    if (!valid_root(root) || !key || !valid_name(name))
        return false;
    std::vector<RegistryNotification> to_launch;
    bool ok = Store::instance().run([&](sqlite3* db) {
        to_launch.clear();
        Transaction transaction(db);
        if (transaction.rc != SQLITE_OK)
            return transaction.rc;
        Value before;
        int rc = load_value(db, root, *key, name, before);
        if (rc != SQLITE_OK)
            return rc;
        existed = before.exists;
        if (value) {
            rc = create_key(db, root, *key);
            if (rc != SQLITE_OK)
                return rc;
            Statement upsert(db, "INSERT OR REPLACE INTO reg_values(root, key, name, type, data) "
                                 "VALUES(?1, ?2, ?3, ?4, ?5)");
            if (!upsert.ok())
                return upsert.prepare_result();
            upsert.bind(1, int64_t(root)).bind(2, *key).bind(3, name).bind(4, value->type);
            if (value->type == REG_DWORD)
                upsert.bind(5, int64_t(value->dword));
            else
                upsert.bind(5, value->text);
            rc = upsert.step();
            if (rc != SQLITE_DONE)
                return rc;
        } else {
            if (!before.exists)
                return SQLITE_OK; // nothing to delete; the transaction rolls back
            Statement remove(db,
                             "DELETE FROM reg_values WHERE root = ?1 AND key = ?2 AND name = ?3");
            if (!remove.ok())
                return remove.prepare_result();
            remove.bind(1, int64_t(root)).bind(2, *key).bind(3, name);
            rc = remove.step();
            if (rc != SQLITE_DONE)
                return rc;
        }
        std::vector<RegistryNotification> registered;
        rc = load_notifications(db, "WHERE root = ?1 AND key = ?2 AND value_name = ?3", root, *key,
                                name, registered);
        if (rc != SQLITE_OK)
            return rc;
        Value after = value ? *value : Value{};
        for (auto& n : registered)
            if (fires(n, before, after))
                to_launch.push_back(std::move(n));
        return transaction.commit();
    });
    if (!ok)
        return false;
    Store::instance().count_write();
    for (const auto& n : to_launch)
        launch_detached(n);
    return value ? true : existed;
}

} // namespace

bool registry_read_dword(RegistryRoot root, const std::string& key, const std::string& name,
                         uint32_t& out) {
    Value value;
    if (!read_value(root, key, name, value) || !value.exists || value.type != REG_DWORD)
        return false;
    out = value.dword;
    return true;
}

bool registry_read_string(RegistryRoot root, const std::string& key, const std::string& name,
                          std::string& out) {
    Value value;
    if (!read_value(root, key, name, value) || !value.exists || value.type != REG_SZ)
        return false;
    out = value.text;
    return true;
}

bool registry_write_dword(RegistryRoot root, const std::string& key, const std::string& name,
                          uint32_t number) {
    Value value{true, REG_DWORD, number, {}};
    bool existed = false;
    return change_value(root, key, name, &value, existed);
}

bool registry_write_string(RegistryRoot root, const std::string& key, const std::string& name,
                           const std::string& text) {
    // A text is stored up to its first zero, as a terminated string would be read back.
    Value value{true, REG_SZ, 0, text.substr(0, text.find('\0'))};
    bool existed = false;
    return change_value(root, key, name, &value, existed);
}

bool registry_delete_value(RegistryRoot root, const std::string& key, const std::string& name) {
    bool existed = false;
    return change_value(root, key, name, nullptr, existed);
}

bool registry_create_key(RegistryRoot root, const std::string& key_in) {
    auto key = normalise(key_in);
    if (!valid_root(root) || !key)
        return false;
    bool ok = Store::instance().run([&](sqlite3* db) {
        Transaction transaction(db);
        if (transaction.rc != SQLITE_OK)
            return transaction.rc;
        int rc = create_key(db, root, *key);
        return rc == SQLITE_OK ? transaction.commit() : rc;
    });
    if (ok)
        Store::instance().count_write();
    return ok;
}

bool registry_key_exists(RegistryRoot root, const std::string& key_in) {
    auto key = normalise(key_in);
    if (!valid_root(root) || !key)
        return false;
    bool exists = false;
    bool ok =
        Store::instance().run([&](sqlite3* db) { return key_exists(db, root, *key, exists); });
    return ok && exists;
}

std::vector<std::string> registry_subkeys(RegistryRoot root, const std::string& key_in) {
    std::vector<std::string> names;
    auto key = normalise(key_in);
    if (!valid_root(root) || !key)
        return names;
    Store::instance().run([&](sqlite3* db) {
        names.clear();
        Statement select(db, "SELECT name FROM keys WHERE root = ?1 AND parent = ?2 "
                             "ORDER BY name COLLATE NOCASE");
        if (!select.ok())
            return select.prepare_result();
        select.bind(1, int64_t(root)).bind(2, *key);
        int rc;
        while ((rc = select.step()) == SQLITE_ROW)
            names.push_back(select.text(0));
        return rc == SQLITE_DONE ? SQLITE_OK : rc;
    });
    return names;
}

std::vector<RegistryValueInfo> registry_values(RegistryRoot root, const std::string& key_in) {
    std::vector<RegistryValueInfo> values;
    auto key = normalise(key_in);
    if (!valid_root(root) || !key)
        return values;
    Store::instance().run([&](sqlite3* db) {
        values.clear();
        std::vector<std::string> names;
        {
            Statement select(db, "SELECT name FROM reg_values WHERE root = ?1 AND key = ?2 "
                                 "ORDER BY name COLLATE NOCASE");
            if (!select.ok())
                return select.prepare_result();
            select.bind(1, int64_t(root)).bind(2, *key);
            int rc;
            while ((rc = select.step()) == SQLITE_ROW)
                names.push_back(select.text(0));
            if (rc != SQLITE_DONE)
                return rc;
        }
        for (const auto& name : names) {
            Value value;
            int rc = load_value(db, root, *key, name, value);
            if (rc != SQLITE_OK)
                return rc;
            values.push_back({name, value.type, value.dword, value.text});
        }
        return SQLITE_OK;
    });
    return values;
}

bool registry_flush() {
    return Store::instance().run([](sqlite3* db) {
        int rc =
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return rc == SQLITE_BUSY ? SQLITE_OK : rc;
    });
}

RegistryStamp registry_stamp() {
    return Store::instance().stamp();
}

void registry_close() {
    Store::instance().close();
}

std::string registry_database_path() {
    return config_directory() + "/registry.sqlite";
}

std::vector<std::string> registry_take_diagnostics() {
    return Store::instance().take_diagnostics();
}

bool registry_take_set_aside() {
    return Store::instance().take_set_aside();
}

uint32_t registry_notify_app(const RegistryNotification& notification) {
    auto key = normalise(notification.key);
    if (!valid_root(notification.root) || !key || notification.name.empty() ||
        !valid_name(notification.name) || !valid_name(notification.value_name) ||
        notification.condition > RegistryCondition::LessOrEqual || !has_words(notification.command))
        return REG_NOTIFY_INVALID;
    bool exists = false;
    bool ok = Store::instance().run([&](sqlite3* db) {
        Transaction transaction(db);
        if (transaction.rc != SQLITE_OK)
            return transaction.rc;
        Statement select(db, "SELECT 1 FROM notifications WHERE name = ?1");
        if (!select.ok())
            return select.prepare_result();
        select.bind(1, notification.name);
        int rc = select.step();
        if (rc == SQLITE_ROW) {
            exists = true;
            return SQLITE_OK;
        }
        if (rc != SQLITE_DONE)
            return rc;
        Statement insert(db, "INSERT INTO notifications(name, root, key, value_name, command, "
                             "flags, condition, mask, target) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, "
                             "?8, ?9)");
        if (!insert.ok())
            return insert.prepare_result();
        insert.bind(1, notification.name)
            .bind(2, int64_t(notification.root))
            .bind(3, *key)
            .bind(4, notification.value_name)
            .bind(5, notification.command)
            .bind(6, int64_t(notification.flags))
            .bind(7, int64_t(notification.condition))
            .bind(8, int64_t(notification.mask))
            .bind(9, int64_t(notification.target));
        rc = insert.step();
        if (rc != SQLITE_DONE)
            return rc;
        return transaction.commit();
    });
    if (!ok)
        return REG_NOTIFY_FAILED;
    Store::instance().count_write();
    return exists ? REG_NOTIFY_ALREADY_EXISTS : REG_NOTIFY_OK;
}

uint32_t registry_stop_notification(const std::string& name) {
    int changes = 0;
    bool ok = Store::instance().run([&](sqlite3* db) {
        Statement remove(db, "DELETE FROM notifications WHERE name = ?1");
        if (!remove.ok())
            return remove.prepare_result();
        remove.bind(1, name);
        int rc = remove.step();
        changes = sqlite3_changes(db);
        return rc == SQLITE_DONE ? SQLITE_OK : rc;
    });
    if (!ok)
        return REG_NOTIFY_FAILED;
    Store::instance().count_write();
    return changes > 0 ? REG_NOTIFY_OK : REG_NOTIFY_NOT_FOUND;
}

std::vector<RegistryNotification> registry_notifications() {
    std::vector<RegistryNotification> out;
    Store::instance().run([&](sqlite3* db) {
        out.clear();
        return load_notifications(db, "", RegistryRoot::None, {}, {}, out);
    });
    return out;
}

} // namespace platform
