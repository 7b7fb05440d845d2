#include "platform/registry_notifications.h"

#include "platform/command_line.h"
#include "platform/process.h"
#include "platform/registry_database.h"

#include <cstdio>

namespace platform {

using registry::Database;
using registry::Statement;
using registry::StoredValue;
using registry::Transaction;

namespace {

bool condition_holds(const RegistryNotification& n, const StoredValue& v) {
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

bool fires(const RegistryNotification& n, const StoredValue& before, const StoredValue& after) {
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
        n.root = RegistryRoot(select.integer(1));
        n.key = select.text(2);
        n.value_name = select.text(3);
        n.command = select.text(4);
        n.flags = uint32_t(select.integer(5));
        n.condition = RegistryCondition(select.integer(6));
        n.mask = uint32_t(select.integer(7));
        n.target = uint32_t(select.integer(8));
        out.push_back(std::move(n));
    }
    return rc == SQLITE_DONE ? SQLITE_OK : rc;
}

} // namespace

namespace registry {

int notifications_set_off(sqlite3* db, RegistryRoot root, const std::string& key,
                          const std::string& name, const StoredValue& before,
                          const StoredValue& after, std::vector<RegistryNotification>& out) {
    std::vector<RegistryNotification> registered;
    const int rc = load_notifications(db, "WHERE root = ?1 AND key = ?2 AND value_name = ?3", root,
                                      key, name, registered);
    if (rc != SQLITE_OK)
        return rc;
    for (auto& n : registered)
        if (fires(n, before, after))
            out.push_back(std::move(n));
    return SQLITE_OK;
}

void launch(const std::vector<RegistryNotification>& notifications) {
    for (const auto& n : notifications)
        launch_detached(n);
}

} // namespace registry

uint32_t registry_notify_app(const RegistryNotification& notification) {
    auto key = registry::normalise(notification.key);
    if (!registry::valid_root(notification.root) || !key || notification.name.empty() ||
        !registry::valid_name(notification.name) ||
        !registry::valid_name(notification.value_name) ||
        notification.condition > RegistryCondition::LessOrEqual || !has_words(notification.command))
        return REG_NOTIFY_INVALID;
    bool exists = false;
    bool ok = Database::instance().run([&](sqlite3* db) {
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
    Database::instance().count_write();
    return exists ? REG_NOTIFY_ALREADY_EXISTS : REG_NOTIFY_OK;
}

uint32_t registry_stop_notification(const std::string& name) {
    int changes = 0;
    bool ok = Database::instance().run([&](sqlite3* db) {
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
    Database::instance().count_write();
    return changes > 0 ? REG_NOTIFY_OK : REG_NOTIFY_NOT_FOUND;
}

std::vector<RegistryNotification> registry_notifications() {
    std::vector<RegistryNotification> out;
    Database::instance().run([&](sqlite3* db) {
        out.clear();
        return load_notifications(db, "", RegistryRoot::None, {}, {}, out);
    });
    return out;
}

} // namespace platform
