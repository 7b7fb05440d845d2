#include "screens/hardware_keys.h"

#include "foundation/log.h"
#include "foundation/paths.h"
#include "foundation/text.h"

#include <algorithm>

namespace screens {

namespace {

std::u16string_view without_leading_quote(std::u16string_view text) {
    if (!text.empty() && (text.front() == u'"' || text.front() == u'\''))
        text.remove_prefix(1);
    return text;
}

bool begins_with_word(std::u16string_view text, std::u16string_view word) {
    if (word.empty() || !text.starts_with(word))
        return false;
    if (text.size() == word.size())
        return true;
    const char16_t next = text[word.size()];
    return next == u'"' || next == u'\'' || next == u' ' || next == u'\t';
}

std::u16string lowered(const std::u16string& text) {
    std::u16string out = text;
    for (auto& c : out)
        if (c >= u'A' && c <= u'Z')
            c = char16_t(c - u'A' + u'a');
    return out;
}

} // namespace

std::u16string program_command(const std::u16string& program_file) {
    return u"\"" + program_file + u"\" record";
}

bool runs_program(std::u16string_view command, std::u16string_view program_file) {
    command = without_leading_quote(command);
    program_file = without_leading_quote(program_file);
    if (program_file.empty())
        return false;
    if (begins_with_word(command, program_file))
        return true;
    // The bare file name, as a command found through the search path.
    const size_t slash = program_file.find_last_of(u"/\\");
    return slash != std::u16string_view::npos &&
           begins_with_word(command, program_file.substr(slash + 1));
}

HardwareKeys::HardwareKeys(std::unique_ptr<platform::KeyBindings> bindings,
                           const std::u16string& program_file)
    : m_bindings(std::move(bindings)), m_program(foundation::expand(program_file)) {
    if (!m_bindings)
        m_bindings = platform::open_registry_key_bindings();
}

bool HardwareKeys::ours(const std::string& command) const {
    return runs_program(foundation::from_utf8(command), m_program);
}

size_t HardwareKeys::count() {
    return m_bindings->count([this](const std::string& command) { return ours(command); });
}

void HardwareKeys::load(const Namer& namer) {
    m_entries.clear();
    for (auto& binding :
         m_bindings->list([this](const std::string& command) { return ours(command); })) {
        HardwareKey entry;
        entry.name = namer ? namer(binding) : foundation::from_utf8(binding.name);
        entry.assigned = ours(binding.command);
        entry.binding = std::move(binding);
        m_entries.push_back(std::move(entry));
    }
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const HardwareKey& a, const HardwareKey& b) {
                         return lowered(a.name) < lowered(b.name);
                     });
}

bool HardwareKeys::toggle(size_t index) {
    if (index >= m_entries.size())
        return false;
    HardwareKey& entry = m_entries[index];
    bool written = false;
    if (entry.assigned) {
        foundation::log() << "reset:" << foundation::from_utf8(entry.binding.reset_command) << "\n";
        written = m_bindings->reset(entry.binding);
    } else {
        const std::u16string command = program_command(m_program);
        foundation::log() << "assign:" << command << "\n";
        written = m_bindings->assign(entry.binding, foundation::to_utf8(command));
    }
    if (!written)
        foundation::log() << "HardwareKeys::toggle write failed\n";
    entry.assigned = ours(entry.binding.command);
    return true;
}

} // namespace screens
