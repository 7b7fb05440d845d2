// quillory-cli reg: inspect and change the registry store.

#include "cli/command.h"
#include "foundation/number.h"
#include "foundation/registry.h"
#include "foundation/text.h"
#include "platform/registry_store.h"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

const char* const usage_text =
    "reg list KEY | reg get KEY VALUE | reg set KEY VALUE (--dword N | --string TEXT) | "
    "reg delete KEY VALUE";

int usage_error(const char* message) {
    std::fprintf(stderr, "quillory-cli reg: %s\nusage: quillory-cli %s\n", message, usage_text);
    return 2;
}

// The root and sub-key of a full key path, or false with a message.
bool parse_key(const std::string& text, platform::RegistryRoot& root, std::string& subkey) {
    std::u16string key;
    root = platform::RegistryRoot::None;
    if (!foundation::split_key_path(foundation::from_utf8(text), root, key)) {
        std::fprintf(stderr,
                     "quillory-cli reg: '%s' does not start with HKEY_CLASSES_ROOT, "
                     "HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CURRENT_USER or HKEY_CURRENT_CONFIG\n",
                     text.c_str());
        return false;
    }
    subkey = foundation::to_utf8(key);
    return true;
}

bool parse_dword(const std::string& text, uint32_t& out) {
    if (text.starts_with('+'))
        return false;
    const auto value = foundation::parse_number<uint32_t>(text, 0);
    if (!value)
        return false;
    out = *value;
    return true;
}

void print_value(const platform::RegistryValueInfo& value) {
    const char* name = value.name.empty() ? "(default)" : value.name.c_str();
    if (value.type == platform::REG_DWORD)
        std::printf("%s\tREG_DWORD\t%u (0x%08x)\n", name, value.dword, value.dword);
    else if (value.type == platform::REG_SZ)
        std::printf("%s\tREG_SZ\t%s\n", name, value.text.c_str());
    else
        std::printf("%s\t(unreadable)\n", name);
}

int store_failure() {
    std::fprintf(stderr, "quillory-cli reg: the registry store at %s cannot be used\n",
                 platform::registry_database_path().c_str());
    return 1;
}

int reg_command(const cli::Arguments& args) {
    if (args.empty())
        return usage_error("missing sub-command");
    const std::string& verb = args[0];
    platform::RegistryRoot root;
    std::string key;
    if (verb == "list") {
        if (args.size() != 2)
            return usage_error("list takes KEY");
        if (!parse_key(args[1], root, key))
            return 2;
        if (!platform::registry_key_exists(root, key)) {
            std::fprintf(stderr, "quillory-cli reg: no key %s\n", args[1].c_str());
            return 1;
        }
        for (const auto& name : platform::registry_subkeys(root, key))
            std::printf("%s\\\n", name.c_str());
        for (const auto& value : platform::registry_values(root, key))
            print_value(value);
        return 0;
    }
    if (verb == "get") {
        if (args.size() != 3)
            return usage_error("get takes KEY VALUE");
        if (!parse_key(args[1], root, key))
            return 2;
        if (!platform::registry_key_exists(root, key)) {
            std::fprintf(stderr, "quillory-cli reg: no key %s\n", args[1].c_str());
            return 1;
        }
        for (const auto& value : platform::registry_values(root, key)) {
            if (foundation::to_lower(foundation::from_utf8(value.name)) ==
                foundation::to_lower(foundation::from_utf8(args[2]))) {
                if (value.type == platform::REG_DWORD)
                    std::printf("%u\n", value.dword);
                else if (value.type == platform::REG_SZ)
                    std::printf("%s\n", value.text.c_str());
                else
                    return std::fprintf(stderr, "quillory-cli reg: value unreadable\n"), 1;
                return 0;
            }
        }
        std::fprintf(stderr, "quillory-cli reg: no value '%s' under %s\n", args[2].c_str(),
                     args[1].c_str());
        return 1;
    }
    if (verb == "set") {
        if (args.size() != 5)
            return usage_error("set takes KEY VALUE --dword N or KEY VALUE --string TEXT");
        if (!parse_key(args[1], root, key))
            return 2;
        bool ok;
        if (args[3] == "--dword") {
            uint32_t number = 0;
            if (!parse_dword(args[4], number))
                return usage_error("--dword takes a number from 0 to 4294967295 (or 0x...)");
            ok = platform::registry_write_dword(root, key, args[2], number);
        } else if (args[3] == "--string") {
            ok = platform::registry_write_string(root, key, args[2], args[4]);
        } else {
            return usage_error("the value type is --dword or --string");
        }
        if (!ok)
            return store_failure();
        platform::registry_flush();
        return 0;
    }
    if (verb == "delete") {
        if (args.size() != 3)
            return usage_error("delete takes KEY VALUE");
        if (!parse_key(args[1], root, key))
            return 2;
        if (!platform::registry_delete_value(root, key, args[2])) {
            std::fprintf(stderr, "quillory-cli reg: no value '%s' under %s\n", args[2].c_str(),
                         args[1].c_str());
            return 1;
        }
        return 0;
    }
    return usage_error(("unknown sub-command '" + verb + "'").c_str());
}

} // namespace

QV_CLI_COMMAND("reg", usage_text, reg_command);
