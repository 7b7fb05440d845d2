#include "foundation/registry.h"

#include "foundation/log.h"
#include "foundation/text.h"

namespace foundation {

namespace {

using platform::RegistryRoot;

struct Opened {
    RegistryRoot root{RegistryRoot::None};
    std::string subkey;
};

Opened open(const std::u16string& key_path) {
    Opened opened;
    std::u16string subkey;
    split_key_path(key_path, opened.root, subkey);
    opened.subkey = to_utf8(subkey);
    return opened;
}

// Recoveries of the store (a damaged database set aside) go to the log.
void report_recoveries() {
    for (const auto& message : platform::registry_take_diagnostics())
        log() << message << "\n";
}

} // namespace

bool split_key_path(const std::u16string& path, RegistryRoot& root, std::u16string& subkey) {
    static const struct {
        std::u16string_view name;
        RegistryRoot root;
    } roots[] = {
        {u"HKEY_CLASSES_ROOT", RegistryRoot::ClassesRoot},
        {u"HKEY_LOCAL_MACHINE", RegistryRoot::LocalMachine},
        {u"HKEY_USERS", RegistryRoot::Users},
        {u"HKEY_CURRENT_USER", RegistryRoot::CurrentUser},
        {u"HKEY_CURRENT_CONFIG", RegistryRoot::CurrentConfig},
    };
    for (const auto& entry : roots) {
        if (!starts_with(path, entry.name))
            continue;
        if (path.size() == entry.name.size()) {
            root = entry.root;
            subkey.clear();
            return true;
        }
        if (path[entry.name.size()] == u'\\') {
            root = entry.root;
            subkey = path.substr(entry.name.size() + 1);
            return true;
        }
    }
    subkey.clear();
    return false;
}

bool read_dword(const std::u16string& key_path, const std::u16string& value_name, uint32_t& out) {
    Opened key = open(key_path);
    bool ok = platform::registry_read_dword(key.root, key.subkey, to_utf8(value_name), out);
    report_recoveries();
    return ok;
}

bool read_bool(const std::u16string& key_path, const std::u16string& value_name, bool& out) {
    uint32_t value = 0;
    if (!read_dword(key_path, value_name, value))
        return false;
    out = value != 0;
    return true;
}

bool write_dword(const std::u16string& key_path, const std::u16string& value_name, uint32_t value) {
    Opened key = open(key_path);
    bool ok = platform::registry_write_dword(key.root, key.subkey, to_utf8(value_name), value);
    report_recoveries();
    return ok;
}

bool read_string(const std::u16string& key_path, const std::u16string& value_name,
                 std::u16string& out) {
    Opened key = open(key_path);
    std::string text;
    bool ok = platform::registry_read_string(key.root, key.subkey, to_utf8(value_name), text);
    report_recoveries();
    if (ok)
        out = from_utf8(text);
    return ok;
}

bool write_string(const std::u16string& key_path, const std::u16string& value_name,
                  const std::u16string& text) {
    Opened key = open(key_path);
    bool ok =
        platform::registry_write_string(key.root, key.subkey, to_utf8(value_name), to_utf8(text));
    report_recoveries();
    return ok;
}

bool delete_value(const std::u16string& key_path, const std::u16string& value_name) {
    Opened key = open(key_path);
    bool ok = platform::registry_delete_value(key.root, key.subkey, to_utf8(value_name));
    report_recoveries();
    return ok;
}

std::vector<std::u16string> subkey_names(const std::u16string& key_path) {
    Opened key = open(key_path);
    std::vector<std::u16string> names;
    for (const auto& name : platform::registry_subkeys(key.root, key.subkey))
        names.push_back(from_utf8(name));
    report_recoveries();
    return names;
}

void flush() {
    platform::registry_flush();
    report_recoveries();
}

bool take_store_reset() {
    report_recoveries();
    return platform::registry_take_set_aside();
}

} // namespace foundation
