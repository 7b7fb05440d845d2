#pragma once

// Registry access by full key path ("HKEY_CURRENT_USER\Software\Corvane"). Every read and
// write creates a missing key. No operation reports an error text: each returns false and
// leaves its output untouched, so the caller's prior value acts as the default.
// Values live in the platform's registry store, shared safely between processes.

#include "platform/registry_store.h"

#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

// Splits a full key path into its root and sub-key: the path must begin with "HKEY_CLASSES_ROOT",
// "HKEY_LOCAL_MACHINE", "HKEY_USERS", "HKEY_CURRENT_USER" or "HKEY_CURRENT_CONFIG" (exact case),
// followed by "\" or the end. Without such a root the sub-key is empty, `root` keeps the
// caller's value and the result is false. The operations below start from no root, so a path
// without a known root fails in every one of them and creates nothing.
bool split_key_path(const std::u16string& path, platform::RegistryRoot& root,
                    std::u16string& subkey);

bool read_dword(const std::u16string& key_path, const std::u16string& value_name, uint32_t& out);
bool read_bool(const std::u16string& key_path, const std::u16string& value_name, bool& out);
bool write_dword(const std::u16string& key_path, const std::u16string& value_name, uint32_t value);
bool read_string(const std::u16string& key_path, const std::u16string& value_name,
                 std::u16string& out);
bool write_string(const std::u16string& key_path, const std::u16string& value_name,
                  const std::u16string& text);
// False when the value did not exist.
bool delete_value(const std::u16string& key_path, const std::u16string& value_name);
// Direct sub-keys in name order; empty when the key does not exist. Does not create the key.
std::vector<std::u16string> subkey_names(const std::u16string& key_path);
// Every write is durable when it returns; flush() also folds the write-ahead log back.
void flush();
// True once after the settings store was found damaged and started afresh (the damaged file
// kept beside it).
bool take_store_reset();

} // namespace foundation
