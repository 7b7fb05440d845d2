#include "skin/edit.h"

#include "foundation/unicode.h"
#include "skin/form.h"
#include "skin/properties.h"

#include <algorithm>
#include <cmath>

namespace skin {

namespace {

constexpr uint32_t key_enter = 9;
constexpr uint32_t key_left = 4;
constexpr uint32_t key_right = 5;
constexpr uint32_t key_up = 6;
constexpr uint32_t key_down = 7;
constexpr uint32_t key_backspace = 11;
constexpr uint32_t key_del = 12;
constexpr uint32_t key_home = 14;
constexpr uint32_t key_end = 15;

Edit* s_focused = nullptr;
Edit::TextInputSwitch& input_switch() {
    static Edit::TextInputSwitch s;
    return s;
}

} // namespace

void Edit::set_text_input_switch(TextInputSwitch s) {
    input_switch() = std::move(s);
}

Edit* Edit::focused() {
    return s_focused;
}

void Edit::input_area_moved() {
    if (s_focused && input_switch())
        input_switch()(true, s_focused->rect());
}

Edit::Edit(Component* parent) : TextComponent(parent) {
    if (form())
        form()->add_input_handler(*this);
}

Edit::~Edit() {
    if (s_focused == this) {
        s_focused = nullptr;
        if (input_switch())
            input_switch()(false, Rect{});
    }
    if (form())
        form()->remove_input_handler(*this);
}

void Edit::load(Properties& properties, NodeDir dir) {
    load_label(properties, dir, true);
    m_background = properties.get_color(dir, u"background_color", SkinColor{});
    m_caret = m_text.size();
}

void Edit::set_edit(bool on) {
    if (on == editing())
        return;
    if (on) {
        if (s_focused)
            s_focused->set_edit(false);
        s_focused = this;
        m_phase = 0.0;
        if (input_switch())
            input_switch()(true, rect());
    } else {
        s_focused = nullptr;
        m_phase = 1.0;
        m_select_all = false;
        if (input_switch())
            input_switch()(false, rect());
    }
    invalidate();
}

void Edit::set_text(std::u16string_view text) {
    if (text == m_text)
        return;
    TextComponent::set_text(text);
    m_caret = std::min(m_caret, m_text.size());
    if (m_listener)
        m_listener->edit_text_changed(*this);
}

void Edit::set_caret(size_t offset) {
    offset = std::min(offset, m_text.size());
    if (offset < m_text.size() && foundation::is_low_surrogate(m_text[offset]) && offset > 0)
        --offset;
    m_caret = offset;
    invalidate();
}

void Edit::edited() {
    text_changed();
    if (m_listener)
        m_listener->edit_text_changed(*this);
}

void Edit::insert(std::u16string_view text) {
    if (m_select_all) {
        m_text.clear();
        m_caret = 0;
        m_select_all = false;
    }
    m_text.insert(m_caret, text);
    m_caret += text.size();
    edited();
}

void Edit::erase(size_t from, size_t to) {
    if (from >= to || to > m_text.size())
        return;
    m_text.erase(from, to - from);
    m_caret = from;
    edited();
}

size_t Edit::line_start(size_t offset) const {
    if (!m_wrap)
        return 0;
    size_t p = m_text.rfind(u'\n', offset == 0 ? std::u16string::npos : offset - 1);
    if (offset == 0 || p == std::u16string::npos)
        return 0;
    return p + 1;
}

size_t Edit::line_end(size_t offset) const {
    if (!m_wrap)
        return m_text.size();
    size_t p = m_text.find(u'\n', offset);
    return p == std::u16string::npos ? m_text.size() : p;
}

void Edit::move_lines(int delta) {
    const size_t start = line_start(m_caret);
    const size_t end = line_end(m_caret);
    FontRep& f = font_ref();
    const int32_t column = f.text_width(std::u16string_view(m_text).substr(start, m_caret - start));
    size_t target_start;
    if (delta < 0) {
        if (start == 0)
            return;
        target_start = line_start(start - 1);
    } else {
        if (end >= m_text.size())
            return;
        target_start = end + 1;
    }
    const size_t target_end = line_end(target_start);
    std::u16string_view line =
        std::u16string_view(m_text).substr(target_start, target_end - target_start);
    m_caret = target_start + f.offset_at(line, column);
}

bool Edit::key(const KeyEvent& event) {
    if (!editing() || !event.pressed)
        return false;
    m_phase = 0.0;
    switch (event.code) {
    case key_backspace:
        if (m_select_all) {
            m_select_all = false;
            erase(0, m_text.size());
        } else if (m_caret > 0) {
            size_t from = m_caret - 1;
            if (from > 0 && foundation::is_low_surrogate(m_text[from]))
                --from;
            erase(from, m_caret);
        }
        break;
    case key_del:
        if (m_select_all) {
            m_select_all = false;
            erase(0, m_text.size());
        } else if (m_caret < m_text.size()) {
            size_t to = m_caret + 1;
            if (to < m_text.size() && foundation::is_low_surrogate(m_text[to]))
                ++to;
            erase(m_caret, to);
        }
        break;
    case key_enter:
        command(Command{command_text, u"\n"});
        break;
    case key_left:
        m_select_all = false;
        if (m_caret > 0)
            set_caret(m_caret - 1);
        break;
    case key_right:
        m_select_all = false;
        if (m_caret < m_text.size())
            set_caret(m_caret + (m_caret + 2 <= m_text.size() &&
                                         foundation::is_low_surrogate(m_text[m_caret + 1])
                                     ? 2
                                     : 1));
        break;
    case key_up:
    case key_down:
        m_select_all = false;
        if (!m_wrap)
            return false;
        move_lines(event.code == key_up ? -1 : 1);
        break;
    case key_home:
        m_select_all = false;
        m_caret = line_start(m_caret);
        break;
    case key_end:
        m_select_all = false;
        m_caret = line_end(m_caret);
        break;
    default:
        invalidate();
        return false;
    }
    invalidate();
    return true;
}

bool Edit::command(const Command& command) {
    if (!editing())
        return false;
    switch (command.code) {
    case command_text:
    case command_paste: {
        std::u16string text = command.text;
        if (!m_wrap)
            std::erase_if(text, [](char16_t c) { return c == u'\n' || c == u'\r'; });
        else
            std::erase(text, u'\r');
        if (command.text == u"\n" && !m_wrap)
            text = u"\n"; // Enter always inserts its line break
        if (text.empty())
            return true;
        m_phase = 0.0;
        insert(text);
        return true;
    }
    case command_select_all:
        m_select_all = true;
        m_caret = m_text.size();
        invalidate();
        return true;
    default:
        return false;
    }
}

bool Edit::pen_button(const PenEvent& event) {
    if (!event.pressed)
        return true;
    set_edit(true);
    m_select_all = false;
    m_phase = 0.0;
    const int32_t top = text_top();
    const int32_t lh = std::max(1, font_ref().line_height());
    size_t start = 0;
    if (m_wrap) {
        int32_t line = std::max(0, (event.y - top) / lh);
        for (int32_t i = 0; i < line; ++i) {
            size_t e = line_end(start);
            if (e >= m_text.size())
                break;
            start = e + 1;
        }
    }
    const size_t end = line_end(start);
    std::u16string_view line = std::u16string_view(m_text).substr(start, end - start);
    m_caret = start + font_ref().offset_at(line, event.x - line_left(line));
    invalidate();
    return true;
}

void Edit::tick(double seconds) {
    Component::tick(seconds);
    if (!editing()) {
        m_phase = 1.0;
        return;
    }
    const double before = m_phase;
    m_phase += std::max(0.0, seconds);
    if (before < 0.5 && m_phase >= 0.5)
        invalidate();
    if (m_phase >= 1.0) {
        m_phase = 0.0;
        invalidate();
    }
}

int32_t Edit::line_left(std::u16string_view line) {
    const int32_t w = font_ref().text_width(line);
    switch (m_halign) {
    case HAlign::Right:
        return x() + width() - w;
    case HAlign::Center:
        return x() + (width() - w) / 2;
    default:
        return x();
    }
}

int32_t Edit::text_top() {
    const int32_t lh = font_ref().line_height();
    if (m_wrap)
        return y();
    switch (m_valign) {
    case VAlign::Top:
        return y();
    case VAlign::Bottom:
        return y() + height() - lh;
    default:
        return y() + (height() - lh) / 2;
    }
}

Rect Edit::caret_rect() {
    FontRep& f = font_ref();
    const int32_t lh = f.line_height();
    const size_t start = line_start(m_caret);
    const size_t end = line_end(m_caret);
    std::u16string_view line = std::u16string_view(m_text).substr(start, end - start);
    int32_t line_index = 0;
    for (size_t i = 0; i < start; ++i)
        line_index += m_text[i] == u'\n';
    f.caret_stops(line, m_stops);
    int32_t cx = 0;
    for (const auto& stop : m_stops)
        if (stop.offset <= m_caret - start)
            cx = stop.x;
    const int32_t w = int32_t(std::floor(lh * 0.25 + 0.5));
    return Rect::of_size(line_left(line) + cx, text_top() + line_index * lh, std::max(1, w), lh);
}

void Edit::draw(RenderSurface& target, SkinPoint origin) {
    if (m_background.alpha != 0)
        target.fill(Rect::of_size(origin.x + x(), origin.y + y(), width(), height()),
                    Blend::fill(m_background.to_565()));
    TextComponent::draw(target, origin);
    if (caret_shown()) {
        Rect r = caret_rect();
        ClipScope clip(target, origin.x + x(), origin.y + y(), width(), height());
        target.fill(r.offset(origin.x, origin.y), Blend::fill(m_color.to_565()));
    }
}

} // namespace skin
