#include "skin/old_text.h"

namespace skin {

void OldText::load(Properties& properties, NodeDir dir) {
    load_label(properties, dir, false);
    m_grow_min = false;
}

} // namespace skin
