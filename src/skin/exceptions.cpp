#include "skin/exceptions.h"

#include "foundation/text.h"

namespace virire {

using foundation::to_utf8;

NodeNotFoundInSkin::NodeNotFoundInSkin(std::u16string name)
    : SkinError("NodeNotFoundInSkin: " + to_utf8(name)), m_name(std::move(name)) {}

NodeNotFound::NodeNotFound(std::u16string form_id, std::u16string child_id)
    : SkinError("NodeNotFound: " + to_utf8(form_id) + " / " + to_utf8(child_id)),
      m_form_id(std::move(form_id)), m_child_id(std::move(child_id)) {}

NodeNotRegistered::NodeNotRegistered(std::u16string type_name)
    : SkinError("NodeNotRegistered: " + to_utf8(type_name)), m_type_name(std::move(type_name)) {}

NodeAlreadyRegistered::NodeAlreadyRegistered(std::u16string type_name)
    : SkinError("NodeAlreadyRegistered: " + to_utf8(type_name)), m_type_name(std::move(type_name)) {
}

} // namespace virire
