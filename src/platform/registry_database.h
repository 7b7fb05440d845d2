#pragma once

// The registry store's database, shared by the store's values (registry_store.cpp) and its
// change notifications (registry_notifications.cpp); nothing outside those two includes this.
// One connection per process, opened on first use and reopened after a fork or a close; a
// database found damaged is set aside and a fresh one used.

#include "platform/registry_notifications.h"
#include "platform/registry_store.h"

#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <sqlite3.h>
#include <string>
#include <sys/types.h>
#include <vector>

namespace platform::registry {

// The shared change counter's file, beside the database.
inline constexpr const char* registry_stamp_name = "registry.stamp";

// A value as it is stored. A row of an unknown type or with data of the wrong kind exists with
// a type that no typed read accepts.
struct StoredValue {
    bool exists{false};
    uint32_t type{0};
    uint32_t dword{0};
    std::string text;
    bool operator==(const StoredValue&) const = default;
};

bool valid_root(RegistryRoot root);
bool valid_name(const std::string& name);
// A key path in its stored form ("\"-joined, no empty components), or nothing when it is not
// acceptable.
std::optional<std::string> normalise(const std::string& key);
// The names along a stored key path.
std::vector<std::string> components_of(const std::string& key);
// The first `count` components joined again.
std::string join_components(const std::vector<std::string>& parts, size_t count);

// The folder holding the database: $QUILLORY_CONFIG_DIR, else the configuration folder's
// "quillory".
std::string directory();

class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return m_rc == SQLITE_OK; }
    int prepare_result() const { return m_rc; }
    Statement& bind(int index, int64_t value);
    Statement& bind(int index, const std::string& text);
    int step() { return sqlite3_step(m_statement); }
    sqlite3_stmt* get() const { return m_statement; }
    int64_t integer(int column) const { return sqlite3_column_int64(m_statement, column); }
    std::string text(int column) const;

private:
    sqlite3_stmt* m_statement{nullptr};
    int m_rc{SQLITE_ERROR};
};

// BEGIN IMMEDIATE on construction (its result in `rc`); rolled back unless committed.
struct Transaction {
    explicit Transaction(sqlite3* db);
    ~Transaction();
    Transaction(const Transaction&) = delete;
    Transaction& operator=(const Transaction&) = delete;
    int commit();
    int rc;

private:
    sqlite3* m_db;
    bool m_done{false};
};

// This process's connection. Every operation runs under one lock; an operation that finds the
// database damaged has it set aside and runs once more on a fresh one.
class Database {
public:
    // Never destroyed: usable until the process ends.
    static Database& instance();

    // Runs `operation(db)` (which returns an SQLite result code); true when it returned
    // SQLITE_OK.
    template <class Operation> bool run(Operation operation) {
        std::lock_guard lock(m_mutex);
        for (int attempt = 0; attempt < 2; ++attempt) {
            if (!ensure_open())
                return false;
            const int rc = operation(m_db);
            if (rc == SQLITE_OK)
                return true;
            if (!is_corruption(rc) || attempt > 0)
                return false;
            damaged_during_use(rc);
        }
        return false;
    }

    void close();
    RegistryStamp stamp();
    // Called after every committed write: tells this process and, through the shared change
    // counter, every other one.
    void count_write();
    std::vector<std::string> take_diagnostics();
    bool take_set_aside();

private:
    Database() = default;

    static bool is_corruption(int rc);
    void note(const std::string& message);
    void drop_connection(bool close_it);
    bool ensure_open();
    int open_database();
    void map_change_counter();
    bool is_cut_short() const;
    void set_aside();
    void damaged_during_use(int rc);

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
    std::string m_stamp_path; // the shared change counter's file, once mapped
    std::vector<std::string> m_diagnostics;
};

// The change-notification engine (registry_notifications.cpp), as the store's writes use it.
// Inside the write's transaction: the notifications registered on the value that its change
// from `before` to `after` sets off.
int notifications_set_off(sqlite3* db, RegistryRoot root, const std::string& key,
                          const std::string& name, const StoredValue& before,
                          const StoredValue& after, std::vector<RegistryNotification>& out);
// After the write committed: starts their command lines, detached.
void launch(const std::vector<RegistryNotification>& notifications);

} // namespace platform::registry
