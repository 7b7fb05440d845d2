#pragma once

// Registry access by full key path ("HKEY_CURRENT_USER\Software\Corvane"). Every read and
// write creates a missing key. No operation reports an error text: each returns false and
// leaves its output untouched, so the caller's prior value acts as the default.
// Values live in the platform's registry store, shared safely between processes.

#include <cstdint>
#include <string>
#include <vector>

namespace foundation {

bool read_dword(const std::u16string& key_path, const std::u16string& value_name, uint32_t& out);
bool read_bool(const std::u16string& key_path, const std::u16string& value_name, bool& out);
bool write_dword(const std::u16string& key_path, const std::u16string& value_name, uint32_t value);
bool read_string(const std::u16string& key_path, const std::u16string& value_name,
                 std::u16string& out);
bool write_string(const std::u16string& key_path, const std::u16string& value_name,
                  const std::u16string& text);
bool delete_value(const std::u16string& key_path, const std::u16string& value_name);
std::vector<std::u16string> subkey_names(const std::u16string& key_path);
void flush();

} // namespace foundation
