#pragma once

// The keys a desktop lets a program start from, and putting the program on one of them.
//
// Where GNOME or Phosh keep their custom key bindings in GSettings (the schema
// "org.gnome.settings-daemon.plugins.media-keys" is installed), the keys offered are a fixed
// set worth giving to a recorder: the Record media key ("XF86AudioRecord") and the Launch keys
// ("XF86Launch1" to "XF86Launch9"), plus every custom binding whose command already runs the
// program. Putting the program on a key rewrites that key's custom binding, or creates one; the
// earlier command is kept in the registry store so that the key can be given back to it.
//
// Elsewhere the keys are the sub-keys of "HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys" in
// the registry store: "Name", the default value (the command), "ResetCmd" and "Icon". Other
// desktops and the tests provide entries there.
//
// QUILLORY_KEY_BINDINGS=registry chooses the registry store even where the schema exists.
// User-interface thread only. Nothing here blocks on the session bus: GSettings writes go out
// in the background and are flushed when the object is destroyed.

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace platform {

// One key the program may be put on. Texts are UTF-8.
struct KeyBinding {
    // Where it lives: the registry key ("HKEY_LOCAL_MACHINE\SOFTWARE\Microsoft\Shell\Keys\X"),
    // or the GSettings path of the custom binding (empty while the desktop has none for it).
    std::string key;
    // GSettings: the key combination ("XF86Launch1"); empty for registry entries.
    std::string accelerator;
    // The caption: the registry's "Name", the fixed key's English name, or the binding's name.
    std::string name;
    std::string command;
    std::string reset_command;
    // The registry's "Icon" value.
    std::string icon;
    // GSettings: which fixed key (0 the Record key, 1 to 9 the Launch keys); -1 otherwise.
    int slot{-1};
};

// Whether a command runs the program.
using CommandTest = std::function<bool(const std::string& command)>;

class KeyBindings {
public:
    virtual ~KeyBindings() = default;

    // "gsettings" or "registry".
    virtual std::string kind() const = 0;
    // How many entries list() gives.
    virtual size_t count(const CommandTest& runs_program) = 0;
    // Every entry with its values read now, in no particular order.
    virtual std::vector<KeyBinding> list(const CommandTest& runs_program) = 0;
    // Puts command on the entry's key, keeping the entry's current command as its reset
    // command. The entry in memory takes the new state even when a write fails (false).
    virtual bool assign(KeyBinding& entry, const std::string& command) = 0;
    // Gives the key back its reset command; a desktop binding without one is removed.
    virtual bool reset(KeyBinding& entry) = 0;
};

struct KeyBindingOptions {
    // Key under HKEY_CURRENT_USER in the registry store where the reset commands of desktop
    // bindings are kept, one sub-key per binding.
    std::string store_key{"Software\\Corvane\\Quillory Vozir\\KeyBindings"};
    // The name a binding made for the program gets (shown in the desktop's settings).
    std::string binding_name{"Quillory Vozir: record"};
    // For tests: schemas compiled in this folder instead of the system's, and the settings kept
    // in this key file instead of the desktop's own store.
    std::string schema_dir;
    std::string settings_file;
};

// The desktop's custom bindings when the schema is installed, else the registry store.
std::unique_ptr<KeyBindings> open_key_bindings(const KeyBindingOptions& options = {});
// The registry store's entries, whatever the desktop.
std::unique_ptr<KeyBindings> open_registry_key_bindings();
// The desktop's custom bindings; none when the schemas are not installed (or not as expected).
std::unique_ptr<KeyBindings> open_gsettings_key_bindings(const KeyBindingOptions& options = {});

// The fixed keys offered on the desktop, in slot order.
struct FixedKey {
    const char* accelerator;
    const char* name;
};
const std::vector<FixedKey>& fixed_keys();

// The key of the registry entries, as a full path.
inline constexpr char shell_keys_path[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Shell\\Keys";

} // namespace platform
