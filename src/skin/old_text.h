#pragma once

// "oldtext": a simple label drawn in one text call, without named children or per-character
// bookkeeping beyond what the text label keeps.

#include "skin/text_component.h"

namespace skin {

class OldText : public TextComponent {
public:
    explicit OldText(Component* parent) : TextComponent(parent) {}
    std::u16string_view type_name() const override { return u"oldtext"; }
    void load(Properties& properties, NodeDir dir) override;
};

} // namespace skin
