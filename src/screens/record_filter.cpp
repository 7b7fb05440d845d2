#include "screens/record_filter.h"

#include "foundation/text.h"
#include "localisation/text_table.h"

#include <array>

namespace screens {

KeyMap::KeyMap(const localisation::TextTable& table) {
    for (const auto& [key, text] : table.entries())
        if (key.size() == 1)
            m_sets[key[0]] = foundation::to_lower(text);
}

bool KeyMap::accepts(char16_t key, char16_t c) const {
    const auto it = m_sets.find(key);
    if (it == m_sets.end())
        return c == key;
    return it->second.find(c) != std::u16string::npos;
}

std::u16string KeyMap::characters(char16_t key) const {
    const auto it = m_sets.find(key);
    return it == m_sets.end() ? std::u16string(1, key) : it->second;
}

namespace {

constexpr std::u16string_view separators = u" /:-.,;!?#*_=\\|(){}[]<>~`@$%^&\"'";

// The separators are all ASCII: one table lookup per character of every listed text.
constexpr std::array<bool, 128> separator_table = [] {
    std::array<bool, 128> table{};
    for (char16_t c : separators)
        table[c] = true;
    return table;
}();

} // namespace

bool is_word_separator(char16_t c) {
    return c < separator_table.size() && separator_table[c];
}

const std::u16string* KeyMap::set_of(char16_t key) const {
    const auto it = m_sets.find(key);
    return it == m_sets.end() ? nullptr : &it->second;
}

FilterMatcher::FilterMatcher(std::u16string_view filter, const KeyMap& keys) : m_filter(filter) {
    m_sets.reserve(m_filter.size());
    for (char16_t key : m_filter)
        m_sets.push_back(keys.set_of(key));
}

std::optional<size_t> FilterMatcher::match(std::u16string_view text) const {
    if (m_filter.empty())
        return size_t{0};
    if (m_filter.size() > text.size())
        return std::nullopt;
    return match_lower(foundation::to_lower(text));
}

std::optional<size_t> FilterMatcher::match_lower(std::u16string_view lower) const {
    if (m_filter.empty())
        return size_t{0};
    if (m_filter.size() > lower.size())
        return std::nullopt;
    for (size_t start = 0; start + m_filter.size() <= lower.size(); ++start) {
        if (lower[start] == u' ')
            continue;
        if (start > 0 && !is_word_separator(lower[start - 1]))
            continue;
        bool holds = true;
        for (size_t k = 0; k < m_filter.size() && holds; ++k)
            holds = accepts(k, lower[start + k]);
        if (holds)
            return start;
    }
    return std::nullopt;
}

std::optional<size_t> match_filter(std::u16string_view text, std::u16string_view filter,
                                   const KeyMap& keys) {
    return FilterMatcher(filter, keys).match(text);
}

LoweredRecord lowered(const controller::RecordInfo& record) {
    return LoweredRecord{foundation::to_lower(record.artist), foundation::to_lower(record.title),
                         foundation::to_lower(record.marker_labels)};
}

std::vector<uint32_t> visible_records(const std::vector<controller::RecordInfo>& records,
                                      std::u16string_view filter, const KeyMap& keys) {
    const FilterMatcher matcher(filter, keys);
    std::vector<uint32_t> out;
    out.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (matcher.empty() || matcher.match(records[i].artist) ||
            matcher.match(records[i].title) || matcher.match(records[i].marker_labels))
            out.push_back(uint32_t(i));
    }
    return out;
}

std::vector<uint32_t> visible_records(const LoweredRecords& records, std::u16string_view filter,
                                      const KeyMap& keys) {
    const FilterMatcher matcher(filter, keys);
    std::vector<uint32_t> out;
    out.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (matcher.empty() || matcher.match_lower(records[i]->artist) ||
            matcher.match_lower(records[i]->title) ||
            matcher.match_lower(records[i]->marker_labels))
            out.push_back(uint32_t(i));
    }
    return out;
}

} // namespace screens
