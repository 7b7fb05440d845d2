#pragma once

// "label_edit": an edit ("#edit") with a caption ("#text") shown only while the edit is empty.
// Text operations go to the edit.

#include "skin/edit.h"

namespace skin {

class LabelEdit : public Component, private EditListener {
public:
    explicit LabelEdit(Component* parent) : Component(parent) {}
    std::u16string_view type_name() const override { return u"label_edit"; }

    void load(Properties& properties, NodeDir dir) override;

    Edit& edit() const { return *m_edit; }
    Component& caption() const { return *m_caption; }
    const std::u16string& text() const { return m_edit->text(); }
    void set_text(std::u16string_view text) { m_edit->set_text(text); }
    void set_edit(bool on) { m_edit->set_edit(on); }

private:
    void edit_text_changed(Edit& edit) override;

    Edit* m_edit{nullptr};
    Component* m_caption{nullptr};
};

} // namespace skin
