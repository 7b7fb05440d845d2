#pragma once

// The six pictures that show where a record lies (main memory or card, and its "Incoming" or
// "Outgoing" sub-folder), read from the image controls "main_memory", "main_memory_incoming",
// "main_memory_outgoing", "card", "card_incoming" and "card_outgoing" of the main form (or
// named skin nodes of those names with a "src" picture); a missing one is an empty picture.

#include "skin/form.h"
#include "skin/skin_picture.h"

#include <map>
#include <string>

namespace screens {

class LocationPictures {
public:
    // documents_folder: expanded once and kept.
    explicit LocationPictures(const std::u16string& documents_folder);
    void load(skin::Properties& properties, const skin::Form& form);
    // The picture for a record's path.
    const skin::SkinPicture& picture_for(const std::u16string& path) const;
    std::u16string name_for(const std::u16string& path) const;
    bool in_main_memory(const std::u16string& path) const;
    const std::u16string& documents_folder() const { return m_documents; }

private:
    std::u16string m_documents;
    std::map<std::u16string, skin::SkinPicture> m_pictures;
    skin::SkinPicture m_empty;
};

} // namespace screens
