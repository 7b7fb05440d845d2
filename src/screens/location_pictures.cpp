#include "screens/location_pictures.h"

#include "foundation/paths.h"
#include "screens/screen_formats.h"
#include "skin/image_component.h"

#include <array>

namespace screens {

LocationPictures::LocationPictures(const std::u16string& documents_folder)
    : m_documents(foundation::expand(documents_folder)) {
    while (m_documents.size() > 1 && m_documents.back() == u'/')
        m_documents.pop_back();
}

void LocationPictures::load(skin::Properties& properties, const skin::Form& form) {
    static constexpr std::array<std::u16string_view, 6> names{
        u"main_memory", u"main_memory_incoming", u"main_memory_outgoing",
        u"card",        u"card_incoming",        u"card_outgoing"};
    m_pictures.clear();
    for (auto name : names) {
        skin::SkinPicture picture;
        if (auto* image = dynamic_cast<skin::ImageComponent*>(form.find_child(name)))
            picture = image->picture();
        else if (skin::NodeDir dir = properties.find_named_node(name); dir.valid())
            picture = properties.get_picture(dir, u"src", skin::SkinPicture{});
        m_pictures[std::u16string(name)] = picture;
    }
}

bool LocationPictures::in_main_memory(const std::u16string& path) const {
    return lies_under(path, m_documents);
}

std::u16string LocationPictures::name_for(const std::u16string& path) const {
    return location_picture_name(path, m_documents);
}

const skin::SkinPicture& LocationPictures::picture_for(const std::u16string& path) const {
    const auto it = m_pictures.find(name_for(path));
    return it == m_pictures.end() ? m_empty : it->second;
}

} // namespace screens
