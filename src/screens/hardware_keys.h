#pragma once

// The keys the recorder can be put on (quick record): the entries of the desktop's key
// bindings, each with its caption and whether it runs this program, sorted by caption.
// Assigning puts the program's own command on a key; resetting gives the key back its earlier
// command. The list is read again at every load, so changes made elsewhere show up.
// User-interface thread only.

#include "platform/key_bindings.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace screens {

// The command a key runs to start a recording: a double quote, the program's full path, a
// double quote, a blank and "record".
std::u16string program_command(const std::u16string& program_file);

// Whether command runs the program at program_file: after one leading double or single quote
// is taken from each, the command begins with the program's full path or its bare file name,
// followed by the end, a quote or a blank.
bool runs_program(std::u16string_view command, std::u16string_view program_file);

struct HardwareKey {
    platform::KeyBinding binding;
    std::u16string name;
    bool assigned{false};
};

class HardwareKeys {
public:
    // The caption of an entry (the fixed desktop keys are named in the user's language).
    using Namer = std::function<std::u16string(const platform::KeyBinding&)>;

    // program_file: the program's full path, path macros allowed ("%app_full_name%"). Without
    // bindings the registry store's entries are used.
    HardwareKeys(std::unique_ptr<platform::KeyBindings> bindings,
                 const std::u16string& program_file = u"%app_full_name%");

    size_t count();
    // Reads every entry again and sorts them by caption.
    void load(const Namer& namer);
    const std::vector<HardwareKey>& entries() const { return m_entries; }
    // Unassigned: assigns the program's command; assigned: resets. False for an index out of
    // range; a failed write still changes the entry in memory (and is only logged).
    bool toggle(size_t index);
    const std::u16string& program_file() const { return m_program; }
    platform::KeyBindings& bindings() { return *m_bindings; }

private:
    bool ours(const std::string& command) const;

    std::unique_ptr<platform::KeyBindings> m_bindings;
    std::u16string m_program;
    std::vector<HardwareKey> m_entries;
};

} // namespace screens
