#pragma once

// The registry store: keys under four (five) roots holding 32-bit numbers and texts, kept in an
// SQLite database "registry.sqlite" in the configuration folder ($QUILLORY_CONFIG_DIR, else
// $XDG_CONFIG_HOME/quillory, else ~/.config/quillory). Several processes share it safely:
// every write is its own committed transaction (WAL, synchronous=FULL) and concurrent writers
// wait for each other. A connection is never carried across fork: a child process opens its
// own. A database that cannot be read is renamed aside ("registry.sqlite.corrupt-<time>") and
// a fresh one is used. All functions may be called from any thread. Writes can start programs:
// registry_notifications.h.
//
// Names are UTF-8. Key paths are sub-key names joined by "\" (empty components are ignored, so
// "Software\Corvane\" and "Software\Corvane" are the same key); key and value names compare
// without regard to ASCII case, as the phone's registry did.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

enum class RegistryRoot {
    None = 0, // no root: every operation fails
    ClassesRoot,
    CurrentUser,
    LocalMachine,
    Users,
    CurrentConfig,
};

// The registry's own type codes.
enum : uint32_t { REG_SZ = 1, REG_DWORD = 4 };

struct RegistryValueInfo {
    std::string name;
    uint32_t type{0};
    uint32_t dword{0}; // REG_DWORD
    std::string text;  // REG_SZ
};

// Reads create the key when it is missing (as opening with create does). A value of another
// type than the one asked for reads as absent. False leaves `out` untouched.
bool registry_read_dword(RegistryRoot root, const std::string& key, const std::string& name,
                         uint32_t& out);
bool registry_read_string(RegistryRoot root, const std::string& key, const std::string& name,
                          std::string& out);
bool registry_write_dword(RegistryRoot root, const std::string& key, const std::string& name,
                          uint32_t value);
bool registry_write_string(RegistryRoot root, const std::string& key, const std::string& name,
                           const std::string& text);
// False when the value did not exist (or the store failed).
bool registry_delete_value(RegistryRoot root, const std::string& key, const std::string& name);
bool registry_create_key(RegistryRoot root, const std::string& key);
bool registry_key_exists(RegistryRoot root, const std::string& key);
// Direct sub-keys in name order; empty when the key does not exist. Does not create the key.
std::vector<std::string> registry_subkeys(RegistryRoot root, const std::string& key);
// Values of an existing key in name order. Does not create the key.
std::vector<RegistryValueInfo> registry_values(RegistryRoot root, const std::string& key);
// Every write is already durable when it returns; this checkpoints the write-ahead log.
bool registry_flush();

// Changes whenever the store's content may have changed, in this process or in another one
// writing through this store (a change counter shared through "registry.stamp" beside the
// database): a cheap way to keep a value cached and re-read it only when needed.
struct RegistryStamp {
    uint64_t connection{0};
    uint64_t data_version{0};
    uint64_t local_writes{0};
    bool operator==(const RegistryStamp&) const = default;
};
RegistryStamp registry_stamp();

class ReadyWatch;

// Runs a handler from the calling thread's message loop after each write to the store, by this
// process or another one (a phone-state provider): for values that need a look only when they
// may have changed. A burst of writes may come as one call; a write that commits while the
// handler runs brings another call.
class RegistryWatch {
public:
    // Null when the store cannot be opened or watched.
    static std::unique_ptr<RegistryWatch> create(std::function<void()> on_change);
    ~RegistryWatch();
    RegistryWatch(const RegistryWatch&) = delete;
    RegistryWatch& operator=(const RegistryWatch&) = delete;

private:
    explicit RegistryWatch(int descriptor);
    void drain();

    int m_descriptor;
    std::function<void()> m_on_change;
    std::unique_ptr<ReadyWatch> m_ready;
};

// Closes this process's connection; the next call reopens it, finding the folder again from
// the environment (tests point QUILLORY_CONFIG_DIR elsewhere and call this).
void registry_close();
// The database file the store uses (or would use).
std::string registry_database_path();
// Messages about recoveries (a corrupt database set aside), taken once each; also written to
// standard error when they happen.
std::vector<std::string> registry_take_diagnostics();
// True once after a damaged (or cut short) database was set aside and the settings started
// afresh: for the screens to say so.
bool registry_take_set_aside();

} // namespace platform
