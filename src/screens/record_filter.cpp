#include "screens/record_filter.h"

#include "foundation/text.h"
#include "localisation/text_table.h"

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

bool is_word_separator(char16_t c) {
    static constexpr std::u16string_view separators = u" /:-.,;!?#*_=\\|(){}[]<>~`@$%^&\"'";
    return separators.find(c) != std::u16string_view::npos;
}

std::optional<size_t> match_filter(std::u16string_view text, std::u16string_view filter,
                                   const KeyMap& keys) {
    if (filter.empty())
        return size_t{0};
    if (filter.size() > text.size())
        return std::nullopt;
    const std::u16string lower = foundation::to_lower(text);
    for (size_t start = 0; start + filter.size() <= lower.size(); ++start) {
        if (lower[start] == u' ')
            continue;
        if (start > 0 && !is_word_separator(lower[start - 1]))
            continue;
        bool holds = true;
        for (size_t k = 0; k < filter.size() && holds; ++k)
            holds = keys.accepts(filter[k], lower[start + k]);
        if (holds)
            return start;
    }
    return std::nullopt;
}

std::vector<uint32_t> visible_records(const std::vector<controller::RecordInfo>& records,
                                      std::u16string_view filter, const KeyMap& keys) {
    std::vector<uint32_t> out;
    out.reserve(records.size());
    for (size_t i = 0; i < records.size(); ++i) {
        if (filter.empty() || match_filter(records[i].artist, filter, keys) ||
            match_filter(records[i].title, filter, keys))
            out.push_back(uint32_t(i));
    }
    return out;
}

} // namespace screens
