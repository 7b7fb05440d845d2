#pragma once

// A table of texts by key, read from a language file (".lng") or the keypad map. The file is
// UTF-16LE when it starts with the bytes FF FE, UTF-16BE when it starts with FE FF; otherwise
// it is 8-bit text, read as UTF-8 (a leading UTF-8 mark is skipped; a malformed byte reads as
// U+FFFD) unless its malformed bytes are at least as many as its well-formed multi-byte
// sequences, when it is read as Latin-1.
// Each line holds a key and a text: the key runs up to the first blank or "="; after "=" the
// rest of the line is the text, blanks included; after a blank, the blanks are skipped and the
// rest of the line (an "=" included) is the text. Lines end with CR, LF or both; leading blanks
// and empty lines are skipped; a later line replaces an earlier one with the same key.
// User-interface thread only.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace localisation {

class TextTable {
public:
    // Larger files are refused.
    static constexpr uint64_t max_file_size = 1024 * 1024;

    using Entries = std::map<std::u16string, std::u16string, std::less<>>;

    // Reads the file (path macros allowed) into a fresh table. Only when it was read whole does
    // it replace the entries and the path; a missing, unreadable or oversized file, or one
    // without a single key, leaves the table as it was and returns false.
    bool load(const std::u16string& path);

    // The entries of a file's bytes, as load() reads them.
    static Entries parse(const std::vector<uint8_t>& bytes);
    // The characters of a file's bytes, before splitting into lines.
    static std::u16string decode(const std::vector<uint8_t>& bytes);

    // The text stored under key, or the key itself.
    std::u16string text(std::u16string_view key) const;
    // The text stored under key, or fallback.
    std::u16string text(std::u16string_view key, std::u16string_view fallback) const;
    bool has(std::u16string_view key) const { return m_entries.find(key) != m_entries.end(); }

    const std::u16string& path() const { return m_path; }
    const Entries& entries() const { return m_entries; }
    size_t size() const { return m_entries.size(); }

    // Replaces everything (tests and built-in tables).
    void assign(Entries entries, std::u16string path);

private:
    std::u16string m_path;
    Entries m_entries;
};

} // namespace localisation
