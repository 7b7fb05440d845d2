#include "skin/label_edit.h"

#include "skin/named_child.h"

namespace skin {

void LabelEdit::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_edit = dynamic_cast<Edit*>(&required_child(*this, u"#edit"));
    if (!m_edit)
        throw virire::NodeNotFound(id(), u"#edit");
    m_caption = &required_child(*this, u"#text");
    m_edit->set_listener(this);
    edit_text_changed(*m_edit);
}

void LabelEdit::edit_text_changed(Edit& edit) {
    m_caption->set_visible(edit.text().empty());
}

} // namespace skin
