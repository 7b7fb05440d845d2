#pragma once

// The keypad filter of the record list: each typed key ("0"-"9", "#") stands for a set of
// characters, and a text matches when one of its word starts begins with characters from the
// typed keys' sets, in order. Plain functions, free of any screen, so that the list logic can be
// checked on its own.

#include "controller/record_storage.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace localisation {
class TextTable;
}

namespace screens {

// Key -> the (lower-case) characters it stands for. A key without an entry stands for itself.
class KeyMap {
public:
    KeyMap() = default;
    // Takes the entries of a table read from "keyboard.txt"; keys other than one character are
    // ignored.
    explicit KeyMap(const localisation::TextTable& table);
    void set(char16_t key, std::u16string characters) { m_sets[key] = std::move(characters); }
    // Whether c belongs to the set of key.
    bool accepts(char16_t key, char16_t c) const;
    // The characters key stands for (the key itself when it has no entry).
    std::u16string characters(char16_t key) const;
    // The set of key, or none when the key stands for itself.
    const std::u16string* set_of(char16_t key) const;

private:
    std::map<char16_t, std::u16string> m_sets;
};

// Whether c separates words (blank and the 31 punctuation characters that end a word).
bool is_word_separator(char16_t c);

// A typed filter with the character sets of its keys looked up once, for matching many texts.
class FilterMatcher {
public:
    FilterMatcher(std::u16string_view filter, const KeyMap& keys);
    // The position of the first word start of text (lower-cased here) where the filter
    // matches, or none. An empty filter matches at 0.
    std::optional<size_t> match(std::u16string_view text) const;
    // The same for a text already lower-cased.
    std::optional<size_t> match_lower(std::u16string_view lower) const;
    bool empty() const { return m_filter.empty(); }

private:
    bool accepts(size_t k, char16_t c) const {
        return m_sets[k] ? m_sets[k]->find(c) != std::u16string::npos : c == m_filter[k];
    }
    std::u16string m_filter;
    std::vector<const std::u16string*> m_sets; // per typed key; none: the key itself
};

// FilterMatcher(filter, keys).match(text).
std::optional<size_t> match_filter(std::u16string_view text, std::u16string_view filter,
                                   const KeyMap& keys);

// A record's artist and title lower-cased, kept so that each typed key does not lower-case
// every record again.
struct LoweredRecord {
    std::u16string artist;
    std::u16string title;
    std::u16string marker_labels;
};
LoweredRecord lowered(const controller::RecordInfo& record);
// One per record, in list order; held by pointer so that an insert moves pointers only.
using LoweredRecords = std::vector<std::unique_ptr<const LoweredRecord>>;

// The indices of the records to list: all of them for an empty filter, else those whose artist,
// title or hand-given marker labels match, in list order.
std::vector<uint32_t> visible_records(const std::vector<controller::RecordInfo>& records,
                                      std::u16string_view filter, const KeyMap& keys);
// The same over the records' lowered texts (one per record, in list order).
std::vector<uint32_t> visible_records(const LoweredRecords& records, std::u16string_view filter,
                                      const KeyMap& keys);

} // namespace screens
