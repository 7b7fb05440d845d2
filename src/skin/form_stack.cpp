#include "skin/form_stack.h"

#include "skin/font_rep.h"
#include "skin/form.h"

#include <algorithm>
#include <cstdio>

namespace skin {

namespace {

int32_t step_towards(int32_t value, int32_t goal) {
    if (value < goal)
        return std::min(value + 16, goal);
    return std::max(value - 16, goal);
}

} // namespace

FormStack::FormStack() = default;

FormStack::~FormStack() {
    for (const Entry& e : m_entries)
        e.form->set_stack(nullptr);
}

void FormStack::set_screen_size(int32_t width, int32_t height) {
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == m_width && height == m_height)
        return;
    m_width = width;
    m_height = height;
    request_repaint();
    // The picture behind an overlay no longer fits: it is drawn again at the new size from the
    // form it showed (a turn with a menu or dialog open keeps what lies behind it).
    if (top_is_overlay() && !m_transition) {
        for (auto entry = m_entries.rbegin(); entry != m_entries.rend(); ++entry) {
            if (entry->as == ShowAs::Normal) {
                render_form(*entry->form, m_screen);
                break;
            }
        }
    }
    if (Form* top = top_form())
        place(*top);
}

void FormStack::place(Form& form) {
    form.place(0, 0, m_width, m_height);
}

Form* FormStack::top_form() const {
    return m_entries.empty() ? nullptr : m_entries.back().form;
}

bool FormStack::top_is_overlay() const {
    return !m_entries.empty() && m_entries.back().as == ShowAs::Overlay;
}

bool FormStack::contains(const Form& form) const {
    return std::any_of(m_entries.begin(), m_entries.end(),
                       [&](const Entry& e) { return e.form == &form; });
}

bool FormStack::is_repaint_needed() const {
    if (m_repaint_requested)
        return true;
    const Form* top = top_form();
    return top && (top->needs_redraw() || top->position_dirty());
}

void FormStack::cancel_transition() {
    m_transition.reset();
    m_transition_form = nullptr;
}

void FormStack::fill(RenderSurface& target, SkinColor color) {
    target.fill(Rect{0, 0, target.width(), target.height()}, Blend::fill(color.to_565()));
}

void FormStack::render_form(Form& form, RenderSurface& out) {
    out.recreate(m_width, m_height);
    fill(out, form.outside_color());
    const bool was_visible = form.visible();
    form.set_visible(true);
    place(form);
    form.paint_content(out, SkinPoint{0, 0});
    form.set_visible(was_visible);
}

bool FormStack::prepare_screen() {
    if (m_screen.width() == m_width && m_screen.height() == m_height)
        return false;
    m_screen.recreate(m_width, m_height);
    fill(m_screen, m_background);
    return true;
}

void FormStack::fill_back_from_screen(VisibilityAnimation& transition) {
    RenderSurface& back = transition.back();
    back.recreate(m_width, m_height);
    if (m_screen.width() == m_width && m_screen.height() == m_height)
        m_screen.copy(back, 0, 0, Rect{0, 0, m_width, m_height}, Blend::copy());
    else
        fill(back, m_background);
}

void FormStack::show_form(Form& form, ShowAs as) {
    if (top_form() == &form)
        return;
    // A form stands on the stack once.
    std::erase_if(m_entries, [&](const Entry& e) { return e.form == &form; });

    request_repaint();
    place(form);
    Entry* top = m_entries.empty() ? nullptr : &m_entries.back();

    if (as == ShowAs::Overlay) {
        cancel_transition();
        if (top && top->as == ShowAs::Normal) {
            render_form(*top->form, m_screen);
            top->form->set_visible(false);
        }
        form.set_visible(true);
        form.start_visibility_animation();
    } else if (m_transition && m_transition_form == &form &&
               m_transition->direction() == VisibilityAnimation::Direction::Hiding) {
        m_transition->reverse();
        if (top)
            top->form->set_visible(false);
        form.set_visible(true);
    } else {
        cancel_transition();
        if (VisibilityAnimation* animation = form.visibility_animation()) {
            m_transition = animation->clone();
            m_transition_form = &form;
        }
        if (top) {
            if (m_transition) {
                if (top->as == ShowAs::Overlay) {
                    prepare_screen();
                    m_screen.fill(Rect{0, 0, m_width, m_height}, Blend::fade(m_dim_level));
                    top->form->paint(m_screen, SkinPoint{0, 0});
                    m_dim_level = undimmed;
                } else {
                    render_form(*top->form, m_screen);
                }
            }
            top->form->set_visible(false);
        }
        form.set_visible(true);
        if (m_transition) {
            fill_back_from_screen(*m_transition);
            render_form(form, m_transition->front());
            m_transition->start(VisibilityAnimation::Direction::Showing);
        }
        // A normal form on top needs no snapshot behind it.
        m_screen.recreate(0, 0);
    }

    m_entries.push_back(Entry{&form, as});
    form.set_stack(this);
    place(form);
    if (m_observer)
        m_observer->form_shown(form, as);
}

bool FormStack::close_form(Form& form) {
    auto it = std::find_if(m_entries.begin(), m_entries.end(),
                           [&](const Entry& e) { return e.form == &form; });
    if (it == m_entries.end())
        return false;
    request_repaint();
    if (m_observer)
        m_observer->form_closed(form);

    if (it + 1 != m_entries.end()) {
        form.set_visible(false);
        form.set_stack(nullptr);
        m_entries.erase(it);
        return true;
    }

    const ShowAs closing_as = it->as;
    m_entries.pop_back();
    form.set_stack(nullptr);
    if (m_entries.empty()) {
        // Nothing is left to show it over: it goes at once.
        cancel_transition();
        form.set_visible(false);
        m_screen.recreate(0, 0);
        return true;
    }
    Entry& top = m_entries.back();

    if (m_transition && m_transition_form == &form &&
        m_transition->direction() == VisibilityAnimation::Direction::Showing) {
        m_transition->reverse();
        form.set_visible(false);
        top.form->set_visible(true);
        place(*top.form);
        return true;
    }

    cancel_transition();
    if (closing_as == ShowAs::Overlay) {
        form.set_visible(false);
        if (top.as == ShowAs::Normal) {
            m_screen.recreate(0, 0);
            top.form->set_visible(true);
        } else {
            top.form->start_visibility_animation();
        }
    } else {
        if (VisibilityAnimation* animation = form.visibility_animation()) {
            m_transition = animation->clone();
            m_transition_form = &form;
            render_form(form, m_transition->front());
        }
        if (top.as == ShowAs::Overlay) {
            Form* below = nullptr;
            for (auto e = m_entries.rbegin(); e != m_entries.rend(); ++e)
                if (e->as == ShowAs::Normal) {
                    below = e->form;
                    break;
                }
            if (below)
                render_form(*below, m_screen);
            else {
                m_screen.recreate(m_width, m_height);
                fill(m_screen, m_background);
            }
            top.form->set_visible(true);
            top.form->start_visibility_animation();
            if (m_transition)
                fill_back_from_screen(*m_transition);
        } else {
            top.form->set_visible(true);
            if (m_transition)
                render_form(*top.form, m_transition->back());
            m_screen.recreate(0, 0);
        }
        if (m_transition)
            m_transition->start(VisibilityAnimation::Direction::Hiding);
        form.set_visible(false);
    }
    place(*top.form);
    return true;
}

void FormStack::forget(Form& form) {
    if (m_transition_form == &form)
        cancel_transition();
    const bool was_top = top_form() == &form;
    std::erase_if(m_entries, [&](const Entry& e) { return e.form == &form; });
    if (was_top) {
        request_repaint();
        if (Form* top = top_form())
            top->set_visible(true);
    }
}

void FormStack::tick(double seconds) {
    if (m_transition) {
        m_transition->tick(seconds);
        request_repaint();
        if (m_transition->running())
            return;
        cancel_transition();
    }
    if (Form* top = top_form()) {
        place(*top);
        top->tick(seconds);
    }
}

void FormStack::pen_move(const PenEvent& event) {
    if (Form* top = top_form())
        top->pen_move(event);
}

bool FormStack::pen_button(const PenEvent& event) {
    Form* top = top_form();
    return top ? top->pen_button(event) : true;
}

bool FormStack::key(const KeyEvent& event) {
    Form* top = top_form();
    return top ? top->key(event) : true;
}

bool FormStack::command(const Command& command) {
    Form* top = top_form();
    return top ? top->command(command) : true;
}

void FormStack::draw(RenderSurface& target, bool target_kept) {
    const bool repaint_was_needed = is_repaint_needed();
    const bool requested = m_repaint_requested;
    m_repaint_requested = false;
    if (target.width() != m_width || target.height() != m_height) {
        set_screen_size(target.width(), target.height());
        target_kept = false;
    }
    const Rect all{0, 0, m_width, m_height};
    Form* top = top_form();
    const int32_t settled_dim = top_is_overlay() ? overlay_dim : undimmed;
    std::vector<Rect> damage = top ? top->take_damage() : std::vector<Rect>{};
    const std::vector<Form::Scroll> scrolls =
        top ? top->take_scrolls() : std::vector<Form::Scroll>{};
    const bool partial = target_kept && !requested && !m_transition && top &&
                         m_dim_level == settled_dim && m_drawn_dim == settled_dim &&
                         !m_frame_counter;
    m_drawn_dim = m_dim_level;
    if (!partial)
        damage.assign(1, all);
    m_drawn.clear();
    if (partial)
        for (const Form::Scroll& scroll : scrolls) {
            target.scroll(scroll.area, scroll.dx);
            m_drawn.push_back(scroll.area.intersect(all));
        }
    for (const Rect& area : damage) {
        const Rect r = area.intersect(all);
        if (r.empty())
            continue;
        ClipScope clip(target, r.left, r.top, r.width(), r.height());
        draw_area(target, top);
        m_drawn.push_back(r);
    }
    // The dimming moves a step per frame (the frame above showed the level it had).
    const int32_t dim_before = m_dim_level;
    m_dim_level = step_towards(m_dim_level, settled_dim);
    if (m_dim_level != dim_before && m_dim_level != settled_dim)
        request_repaint();
    if (m_drawn.empty() && top && top->needs_redraw()) {
        // A change where nothing shows (a control without size): the flags go, nothing is drawn.
        ClipScope none(target, 0, 0, 0, 0);
        top->paint(target, SkinPoint{0, 0});
    }

    if (m_frame_counter)
        draw_frame_counter(target, repaint_was_needed);
}

void FormStack::draw_area(RenderSurface& target, Form* top) {
    const Rect all{0, 0, m_width, m_height};
    if (m_transition) {
        fill(target, m_background);
        m_transition->draw(target, all, Blend::copy());
    } else if (top) {
        place(*top);
        if (top_is_overlay()) {
            if (m_screen.width() == m_width && m_screen.height() == m_height)
                m_screen.copy(target, 0, 0, all, Blend::copy());
            else
                fill(target, m_background);
            target.fill(all, Blend::fade(static_cast<uint32_t>(m_dim_level)));
        } else {
            fill(target, top->outside_color());
        }
        top->paint(target, SkinPoint{0, 0});
    } else {
        fill(target, m_background);
    }
    if ((!top || !top_is_overlay()) && m_dim_level != undimmed)
        target.fill(all, Blend::fade(static_cast<uint32_t>(m_dim_level)));
}

void FormStack::draw_frame_counter(RenderSurface& target, bool repaint_was_needed) {
    const auto now = std::chrono::steady_clock::now();
    if (m_last_frame) {
        m_frame_times[m_frame_count % m_frame_times.size()] =
            std::chrono::duration<double, std::milli>(now - *m_last_frame).count();
        ++m_frame_count;
    }
    m_last_frame = now;
    const size_t n = std::min(m_frame_count, m_frame_times.size());
    double average = 0.0;
    for (size_t i = 0; i < n; ++i)
        average += m_frame_times[i];
    if (n > 0)
        average /= static_cast<double>(n);

    const Rect box{0, 0, 150, 20};
    target.fill(box, Blend::fade(128));
    char text[48];
    std::snprintf(text, sizeof text, repaint_was_needed ? "%.1f ms" : "[%.1f ms]", average);
    std::u16string line;
    for (const char* c = text; *c; ++c)
        line += static_cast<char16_t>(*c);
    FontRep::default_font()->draw_text(target, SkinColor{255, 255, 255, 255}, line, box.left,
                                       box.top, box.width(), box.height(), HAlign::Left,
                                       VAlign::VCenter, false);
}

} // namespace skin
