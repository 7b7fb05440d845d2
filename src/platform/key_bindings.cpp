#include "platform/key_bindings.h"

#include "platform/registry_store.h"

#define G_SETTINGS_ENABLE_BACKEND
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <gio/gio.h>
#include <gio/gsettingsbackend.h>

namespace platform {

namespace {

// --- registry store entries --------------------------------------------------------------------

constexpr char machine_prefix[] = "HKEY_LOCAL_MACHINE\\";

// The sub-key path (under HKEY_LOCAL_MACHINE) of a full registry key path; empty for another.
std::string machine_subkey(const std::string& key) {
    const size_t length = std::strlen(machine_prefix);
    if (key.compare(0, length, machine_prefix) != 0)
        return {};
    return key.substr(length);
}

class RegistryKeyBindings final : public KeyBindings {
public:
    std::string kind() const override { return "registry"; }

    size_t count(const CommandTest&) override {
        return registry_subkeys(RegistryRoot::LocalMachine, keys()).size();
    }

    std::vector<KeyBinding> list(const CommandTest&) override {
        std::vector<KeyBinding> entries;
        for (const std::string& name : registry_subkeys(RegistryRoot::LocalMachine, keys())) {
            KeyBinding entry;
            entry.key = std::string(shell_keys_path) + "\\" + name;
            const std::string subkey = machine_subkey(entry.key);
            // A value that cannot be read leaves its text empty.
            registry_read_string(RegistryRoot::LocalMachine, subkey, "Name", entry.name);
            registry_read_string(RegistryRoot::LocalMachine, subkey, "", entry.command);
            registry_read_string(RegistryRoot::LocalMachine, subkey, "ResetCmd",
                                 entry.reset_command);
            registry_read_string(RegistryRoot::LocalMachine, subkey, "Icon", entry.icon);
            entries.push_back(std::move(entry));
        }
        return entries;
    }

    bool assign(KeyBinding& entry, const std::string& command) override {
        const bool written = write(entry, entry.command, command);
        entry.reset_command = entry.command;
        entry.command = command;
        return written;
    }

    bool reset(KeyBinding& entry) override {
        const bool written = write(entry, entry.command, entry.reset_command);
        entry.command = entry.reset_command;
        entry.reset_command.clear();
        return written;
    }

private:
    static std::string keys() { return machine_subkey(shell_keys_path); }

    static bool write(const KeyBinding& entry, const std::string& reset_command,
                      const std::string& command) {
        const std::string subkey = machine_subkey(entry.key);
        if (subkey.empty())
            return false;
        bool ok =
            registry_write_string(RegistryRoot::LocalMachine, subkey, "ResetCmd", reset_command);
        ok = registry_write_string(RegistryRoot::LocalMachine, subkey, "", command) && ok;
        return registry_flush() && ok;
    }
};

// --- GSettings custom bindings -----------------------------------------------------------------

constexpr char media_keys_schema[] = "org.gnome.settings-daemon.plugins.media-keys";
constexpr char custom_schema[] = "org.gnome.settings-daemon.plugins.media-keys.custom-keybinding";
constexpr char list_key[] = "custom-keybindings";
constexpr char bindings_folder[] =
    "/org/gnome/settings-daemon/plugins/media-keys/custom-keybindings/";

struct SchemaUnref {
    void operator()(GSettingsSchema* schema) const { g_settings_schema_unref(schema); }
};
struct SchemaKeyUnref {
    void operator()(GSettingsSchemaKey* key) const { g_settings_schema_key_unref(key); }
};
struct ObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
struct SourceUnref {
    void operator()(GSettingsSchemaSource* source) const { g_settings_schema_source_unref(source); }
};
struct StrvFree {
    void operator()(gchar** strings) const { g_strfreev(strings); }
};
using Schema = std::unique_ptr<GSettingsSchema, SchemaUnref>;
using Settings = std::unique_ptr<GSettings, ObjectUnref>;

bool has_key_of_type(GSettingsSchema* schema, const char* name, const GVariantType* type) {
    if (!g_settings_schema_has_key(schema, name))
        return false;
    std::unique_ptr<GSettingsSchemaKey, SchemaKeyUnref> key(
        g_settings_schema_get_key(schema, name));
    return key && g_variant_type_equal(g_settings_schema_key_get_value_type(key.get()), type);
}

// A path GSettings accepts for a relocatable schema (it aborts on any other): "/" at both
// ends and no empty component.
bool valid_path(const std::string& path) {
    return path.size() >= 2 && path.front() == '/' && path.back() == '/' &&
           path.find("//") == std::string::npos;
}

std::string read_string(GSettings* settings, const char* key) {
    gchar* value = g_settings_get_string(settings, key);
    std::string out = value ? value : "";
    g_free(value);
    return out;
}

bool same_ascii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return g_ascii_tolower(x) == g_ascii_tolower(y);
           });
}

// The fixed key a binding string names ("XF86Launch1" or "Launch1", any case), or -1.
int slot_of(const std::string& binding) {
    std::string_view name = binding;
    if (name.size() > 4 && same_ascii(name.substr(0, 4), "XF86"))
        name.remove_prefix(4);
    const auto& keys = fixed_keys();
    for (size_t i = 0; i < keys.size(); ++i)
        if (same_ascii(name, std::string_view(keys[i].accelerator).substr(4)))
            return int(i);
    return -1;
}

class GSettingsKeyBindings final : public KeyBindings {
public:
    GSettingsKeyBindings(Schema main, Schema custom, KeyBindingOptions options)
        : m_custom(std::move(custom)), m_options(std::move(options)),
          m_backend(
              m_options.settings_file.empty()
                  ? nullptr
                  : g_keyfile_settings_backend_new(m_options.settings_file.c_str(), "/", nullptr)),
          m_settings(g_settings_new_full(main.get(), m_backend.get(), nullptr)) {}

    ~GSettingsKeyBindings() override {
        // Writes may still be on their way to the settings service.
        if (m_wrote)
            g_settings_sync();
    }

    std::string kind() const override { return "gsettings"; }

    size_t count(const CommandTest& runs_program) override { return list(runs_program).size(); }

    std::vector<KeyBinding> list(const CommandTest& runs_program) override {
        const auto& keys = fixed_keys();
        std::vector<KeyBinding> fixed(keys.size());
        std::vector<KeyBinding> others;
        for (const std::string& path : paths()) {
            Settings binding = open(path);
            if (!binding)
                continue;
            KeyBinding entry;
            entry.key = path;
            entry.accelerator = read_string(binding.get(), "binding");
            entry.command = read_string(binding.get(), "command");
            entry.reset_command = stored_reset_command(path);
            const int slot = slot_of(entry.accelerator);
            if (slot >= 0 && fixed[size_t(slot)].key.empty()) {
                entry.slot = slot;
                entry.name = keys[size_t(slot)].name;
                fixed[size_t(slot)] = std::move(entry);
            } else if (runs_program && runs_program(entry.command)) {
                entry.name = read_string(binding.get(), "name");
                if (entry.name.empty())
                    entry.name = entry.accelerator;
                others.push_back(std::move(entry));
            }
        }
        for (size_t i = 0; i < keys.size(); ++i)
            if (fixed[i].key.empty()) {
                fixed[i].accelerator = keys[i].accelerator;
                fixed[i].name = keys[i].name;
                fixed[i].slot = int(i);
            }
        fixed.insert(fixed.end(), std::make_move_iterator(others.begin()),
                     std::make_move_iterator(others.end()));
        return fixed;
    }

    bool assign(KeyBinding& entry, const std::string& command) override {
        bool ok = true;
        const auto existing = paths();
        if (entry.key.empty() ||
            std::find(existing.begin(), existing.end(), entry.key) == existing.end()) {
            // The desktop has no binding for this key (any more): make one.
            entry.key = free_path(existing);
            Settings binding = open(entry.key);
            ok = binding &&
                 g_settings_set_string(binding.get(), "name", m_options.binding_name.c_str()) &&
                 g_settings_set_string(binding.get(), "binding", entry.accelerator.c_str()) &&
                 g_settings_set_string(binding.get(), "command", command.c_str());
            auto grown = existing;
            grown.push_back(entry.key);
            ok = set_paths(grown) && ok;
        } else {
            Settings binding = open(entry.key);
            ok = binding && g_settings_set_string(binding.get(), "command", command.c_str());
        }
        ok = store_reset_command(entry.key, entry.command) && ok;
        m_wrote = true;
        entry.reset_command = entry.command;
        entry.command = command;
        return ok;
    }

    bool reset(KeyBinding& entry) override {
        bool ok = true;
        auto existing = paths();
        const auto at = std::find(existing.begin(), existing.end(), entry.key);
        if (!entry.key.empty() && at != existing.end()) {
            Settings binding = open(entry.key);
            if (entry.reset_command.empty()) {
                // Nothing ran from this key before: the binding goes away.
                existing.erase(at);
                ok = set_paths(existing);
                if (binding)
                    for (const char* key : {"name", "binding", "command"})
                        g_settings_reset(binding.get(), key);
                registry_delete_value(RegistryRoot::CurrentUser, store_key(entry.key), "ResetCmd");
                entry.key.clear();
            } else {
                ok = binding &&
                     g_settings_set_string(binding.get(), "command", entry.reset_command.c_str());
                ok = store_reset_command(entry.key, entry.command) && ok;
            }
            m_wrote = true;
        }
        entry.command = entry.reset_command;
        entry.reset_command.clear();
        return ok;
    }

private:
    std::vector<std::string> paths() const {
        std::unique_ptr<gchar*, StrvFree> list(g_settings_get_strv(m_settings.get(), list_key));
        std::vector<std::string> out;
        for (gchar** at = list.get(); at && *at; ++at)
            out.emplace_back(*at);
        return out;
    }

    bool set_paths(const std::vector<std::string>& paths) {
        std::vector<const gchar*> list;
        for (const auto& path : paths)
            list.push_back(path.c_str());
        list.push_back(nullptr);
        return g_settings_set_strv(m_settings.get(), list_key, list.data());
    }

    Settings open(const std::string& path) const {
        if (!valid_path(path))
            return nullptr;
        return Settings(g_settings_new_full(m_custom.get(), m_backend.get(), path.c_str()));
    }

    static std::string free_path(const std::vector<std::string>& taken) {
        for (int n = 0;; ++n) {
            std::string path = std::string(bindings_folder) + "custom" + std::to_string(n) + "/";
            if (std::find(taken.begin(), taken.end(), path) == taken.end())
                return path;
        }
    }

    // One sub-key per binding, named after the path's last component ("custom3").
    std::string store_key(const std::string& path) const {
        std::string name = path;
        while (!name.empty() && name.back() == '/')
            name.pop_back();
        name = name.substr(name.find_last_of('/') + 1);
        return m_options.store_key + "\\" + name;
    }

    std::string stored_reset_command(const std::string& path) const {
        std::string out;
        // Looked at first: reading would create the key.
        if (registry_key_exists(RegistryRoot::CurrentUser, store_key(path)))
            registry_read_string(RegistryRoot::CurrentUser, store_key(path), "ResetCmd", out);
        return out;
    }

    bool store_reset_command(const std::string& path, const std::string& command) {
        return registry_write_string(RegistryRoot::CurrentUser, store_key(path), "ResetCmd",
                                     command) &&
               registry_flush();
    }

    Schema m_custom;
    KeyBindingOptions m_options;
    std::unique_ptr<GSettingsBackend, ObjectUnref> m_backend;
    Settings m_settings;
    bool m_wrote{false};
};

} // namespace

const std::vector<FixedKey>& fixed_keys() {
    static const std::vector<FixedKey> keys{
        {"XF86AudioRecord", "Record key"}, {"XF86Launch1", "Launch key 1"},
        {"XF86Launch2", "Launch key 2"},   {"XF86Launch3", "Launch key 3"},
        {"XF86Launch4", "Launch key 4"},   {"XF86Launch5", "Launch key 5"},
        {"XF86Launch6", "Launch key 6"},   {"XF86Launch7", "Launch key 7"},
        {"XF86Launch8", "Launch key 8"},   {"XF86Launch9", "Launch key 9"},
    };
    return keys;
}

std::unique_ptr<KeyBindings> open_registry_key_bindings() {
    return std::make_unique<RegistryKeyBindings>();
}

std::unique_ptr<KeyBindings> open_gsettings_key_bindings(const KeyBindingOptions& options) {
    std::unique_ptr<GSettingsSchemaSource, SourceUnref> own;
    if (!options.schema_dir.empty()) {
        own.reset(g_settings_schema_source_new_from_directory(options.schema_dir.c_str(), nullptr,
                                                              TRUE, nullptr));
        if (!own)
            return nullptr;
    }
    // Without any schema installed there is no source at all.
    GSettingsSchemaSource* source = own ? own.get() : g_settings_schema_source_get_default();
    if (!source)
        return nullptr;
    Schema main(g_settings_schema_source_lookup(source, media_keys_schema, TRUE));
    Schema custom(g_settings_schema_source_lookup(source, custom_schema, TRUE));
    if (!main || !custom)
        return nullptr;
    // GSettings aborts on a key it does not know or a value of another type: the schemas must
    // be the ones these bindings are written for.
    if (!g_settings_schema_get_path(main.get()) || g_settings_schema_get_path(custom.get()) ||
        !has_key_of_type(main.get(), list_key, G_VARIANT_TYPE_STRING_ARRAY))
        return nullptr;
    for (const char* key : {"name", "binding", "command"})
        if (!has_key_of_type(custom.get(), key, G_VARIANT_TYPE_STRING))
            return nullptr;
    if (options.settings_file.empty()) {
        // Without a settings service GSettings keeps values in memory only: a binding made
        // there would be gone at the next start, and the desktop would never see it.
        std::unique_ptr<GSettingsBackend, ObjectUnref> backend(g_settings_backend_get_default());
        const char* asked = std::getenv("GSETTINGS_BACKEND");
        if (backend &&
            std::strcmp(G_OBJECT_TYPE_NAME(backend.get()), "GMemorySettingsBackend") == 0 &&
            !(asked && std::strcmp(asked, "memory") == 0))
            return nullptr;
    }
    return std::make_unique<GSettingsKeyBindings>(std::move(main), std::move(custom), options);
}

std::unique_ptr<KeyBindings> open_key_bindings(const KeyBindingOptions& options) {
    const char* choice = std::getenv("QUILLORY_KEY_BINDINGS");
    if (!choice || std::strcmp(choice, "registry") != 0)
        if (auto desktop = open_gsettings_key_bindings(options))
            return desktop;
    return open_registry_key_bindings();
}

} // namespace platform
