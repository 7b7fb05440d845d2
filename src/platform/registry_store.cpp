#include "platform/registry_store.h"

#include "platform/ready_watch.h"
#include "platform/registry_database.h"

#include <cerrno>
#include <sys/inotify.h>
#include <unistd.h>

namespace platform {

using registry::Database;
using registry::Statement;
using registry::StoredValue;
using registry::Transaction;

namespace {

int create_key(sqlite3* db, RegistryRoot root, const std::string& key) {
    auto parts = registry::components_of(key);
    for (size_t depth = 1; depth <= parts.size(); ++depth) {
        Statement insert(db, "INSERT OR IGNORE INTO keys(root, path, parent, name) "
                             "VALUES(?1, ?2, ?3, ?4)");
        if (!insert.ok())
            return insert.prepare_result();
        insert.bind(1, int64_t(root))
            .bind(2, registry::join_components(parts, depth))
            .bind(3, registry::join_components(parts, depth - 1))
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
               StoredValue& out) {
    Statement select(db, "SELECT type, data FROM reg_values WHERE root = ?1 AND key = ?2 "
                         "AND name = ?3");
    if (!select.ok())
        return select.prepare_result();
    select.bind(1, int64_t(root)).bind(2, key).bind(3, name);
    int rc = select.step();
    out = StoredValue{};
    if (rc == SQLITE_DONE)
        return SQLITE_OK;
    if (rc != SQLITE_ROW)
        return rc;
    out.exists = true;
    int64_t type = select.integer(0);
    int data_type = sqlite3_column_type(select.get(), 1);
    if (type == REG_DWORD && data_type == SQLITE_INTEGER) {
        int64_t number = select.integer(1);
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

bool read_value(RegistryRoot root, const std::string& key_in, const std::string& name,
                StoredValue& out) {
    auto key = registry::normalise(key_in);
    if (!registry::valid_root(root) || !key || !registry::valid_name(name))
        return false;
    bool created = false;
    bool ok = Database::instance().run([&](sqlite3* db) {
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
        Database::instance().count_write();
    return ok;
}

// Writes (or with `remove`, deletes) a value and starts the notifications it sets off.
bool change_value(RegistryRoot root, const std::string& key_in, const std::string& name,
                  const StoredValue* value, bool& existed) {
    auto key = registry::normalise(key_in);
    if (!registry::valid_root(root) || !key || !registry::valid_name(name))
        return false;
    std::vector<RegistryNotification> to_launch;
    bool ok = Database::instance().run([&](sqlite3* db) {
        to_launch.clear();
        Transaction transaction(db);
        if (transaction.rc != SQLITE_OK)
            return transaction.rc;
        StoredValue before;
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
        rc = registry::notifications_set_off(db, root, *key, name, before,
                                             value ? *value : StoredValue{}, to_launch);
        if (rc != SQLITE_OK)
            return rc;
        return transaction.commit();
    });
    if (!ok)
        return false;
    Database::instance().count_write();
    registry::launch(to_launch);
    return value ? true : existed;
}

} // namespace

bool registry_read_dword(RegistryRoot root, const std::string& key, const std::string& name,
                         uint32_t& out) {
    StoredValue value;
    if (!read_value(root, key, name, value) || !value.exists || value.type != REG_DWORD)
        return false;
    out = value.dword;
    return true;
}

bool registry_read_string(RegistryRoot root, const std::string& key, const std::string& name,
                          std::string& out) {
    StoredValue value;
    if (!read_value(root, key, name, value) || !value.exists || value.type != REG_SZ)
        return false;
    out = value.text;
    return true;
}

bool registry_write_dword(RegistryRoot root, const std::string& key, const std::string& name,
                          uint32_t number) {
    StoredValue value{true, REG_DWORD, number, {}};
    bool existed = false;
    return change_value(root, key, name, &value, existed);
}

bool registry_write_string(RegistryRoot root, const std::string& key, const std::string& name,
                           const std::string& text) {
    // A text is stored up to its first zero, as a terminated string would be read back.
    StoredValue value{true, REG_SZ, 0, text.substr(0, text.find('\0'))};
    bool existed = false;
    return change_value(root, key, name, &value, existed);
}

bool registry_delete_value(RegistryRoot root, const std::string& key, const std::string& name) {
    bool existed = false;
    return change_value(root, key, name, nullptr, existed);
}

bool registry_create_key(RegistryRoot root, const std::string& key_in) {
    auto key = registry::normalise(key_in);
    if (!registry::valid_root(root) || !key)
        return false;
    bool ok = Database::instance().run([&](sqlite3* db) {
        Transaction transaction(db);
        if (transaction.rc != SQLITE_OK)
            return transaction.rc;
        int rc = create_key(db, root, *key);
        return rc == SQLITE_OK ? transaction.commit() : rc;
    });
    if (ok)
        Database::instance().count_write();
    return ok;
}

bool registry_key_exists(RegistryRoot root, const std::string& key_in) {
    auto key = registry::normalise(key_in);
    if (!registry::valid_root(root) || !key)
        return false;
    bool exists = false;
    bool ok =
        Database::instance().run([&](sqlite3* db) { return key_exists(db, root, *key, exists); });
    return ok && exists;
}

std::vector<std::string> registry_subkeys(RegistryRoot root, const std::string& key_in) {
    std::vector<std::string> names;
    auto key = registry::normalise(key_in);
    if (!registry::valid_root(root) || !key)
        return names;
    Database::instance().run([&](sqlite3* db) {
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
    auto key = registry::normalise(key_in);
    if (!registry::valid_root(root) || !key)
        return values;
    Database::instance().run([&](sqlite3* db) {
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
            StoredValue value;
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
    return Database::instance().run([](sqlite3* db) {
        int rc =
            sqlite3_wal_checkpoint_v2(db, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
        return rc == SQLITE_BUSY ? SQLITE_OK : rc;
    });
}

RegistryStamp registry_stamp() {
    return Database::instance().stamp();
}

std::unique_ptr<RegistryWatch> RegistryWatch::create(std::function<void()> on_change) {
    // Opening the store makes its folder and the counter's file.
    if (registry_stamp().connection == 0)
        return nullptr;
    const std::string stamp = registry::directory() + "/" + registry::registry_stamp_name;
    const int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    if (inotify_add_watch(descriptor, stamp.c_str(), IN_ATTRIB | IN_MODIFY) < 0) {
        ::close(descriptor);
        return nullptr;
    }
    std::unique_ptr<RegistryWatch> watch(new RegistryWatch(descriptor));
    watch->m_on_change = std::move(on_change);
    RegistryWatch* raw = watch.get();
    watch->m_ready = ReadyWatch::create(descriptor, [raw] {
        raw->drain();
        raw->m_on_change();
    });
    if (!watch->m_ready)
        return nullptr;
    return watch;
}

RegistryWatch::RegistryWatch(int descriptor) : m_descriptor(descriptor) {}

RegistryWatch::~RegistryWatch() {
    m_ready.reset();
    ::close(m_descriptor);
}

void RegistryWatch::drain() {
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(m_descriptor, buffer, sizeof buffer);
        if (got > 0)
            continue;
        if (got < 0 && errno == EINTR)
            continue;
        return;
    }
}

void registry_close() {
    Database::instance().close();
}

std::string registry_database_path() {
    return registry::directory() + "/registry.sqlite";
}

std::vector<std::string> registry_take_diagnostics() {
    return Database::instance().take_diagnostics();
}

bool registry_take_set_aside() {
    return Database::instance().take_set_aside();
}

} // namespace platform
