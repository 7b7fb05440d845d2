#include "skin/component.h"

#include "foundation/log.h"
#include "skin/animations.h"
#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/properties.h"

#include <algorithm>

namespace skin {

namespace {

constexpr uint32_t unset_alpha = 0xFFFFFFFF;

size_t axis_index(Axis axis) {
    return axis == Axis::X ? 0 : 1;
}

} // namespace

Component::Component(Component* parent)
    : m_parent(parent), m_form(parent ? parent->m_form : nullptr) {
    if (parent) {
        m_shown = m_visible && parent->m_shown;
        m_effectively_enabled = m_enabled && parent->m_effectively_enabled;
    }
}

Component::~Component() {
    if (m_form && static_cast<Component*>(m_form) != this)
        m_form->remove_input_handler(*this);
}

void Component::clear_children() {
    std::vector<std::unique_ptr<Component>> old = std::move(m_children);
    m_children.clear();
    old.clear();
    clear_measure();
    invalidate();
}

void Component::leave_form() {
    if (m_form && static_cast<Component*>(m_form) != this)
        m_form->remove_input_handler(*this);
    m_form = nullptr;
    for (const auto& child : m_children)
        child->leave_form();
}

std::u16string Component::dump_line(const Component& c, int indent) {
    std::u16string line(static_cast<size_t>(std::max(indent, 0)) * 2, u' ');
    line += c.type_name();
    if (!c.m_id.empty())
        line += u" id=" + c.m_id;
    return line;
}

void Component::dump(int indent) const {
    foundation::log() << dump_line(*this, indent) << " x=" << m_x << " y=" << m_y
                      << " w=" << m_width << " h=" << m_height << " shown=" << m_shown
                      << " enabled=" << m_effectively_enabled << "\n";
    for (const auto& child : m_children)
        child->dump(indent + 1);
}

void Component::set_text_by_id(std::u16string_view id, std::u16string_view text) {
    for (const auto& child : m_children)
        child->set_text_by_id(id, text);
}

void Component::add_child(std::unique_ptr<Component> child) {
    if (!child)
        return;
    Component& c = *child;
    m_children.push_back(std::move(child));
    c.m_parent = this;
    c.set_form(m_form);
    c.update_shown();
    c.update_enabled();
    clear_measure();
    invalidate();
}

std::unique_ptr<Component> Component::remove_child(Component& child) {
    auto it = std::find_if(m_children.begin(), m_children.end(),
                           [&](const auto& c) { return c.get() == &child; });
    if (it == m_children.end())
        return nullptr;
    std::unique_ptr<Component> taken = std::move(*it);
    m_children.erase(it);
    taken->leave_form();
    taken->m_parent = nullptr;
    clear_measure();
    invalidate();
    return taken;
}

void Component::load(Properties& properties, NodeDir dir) {
    m_visibility_animation =
        VisibilityAnimation::create(properties.get_string(dir, u"visibility_animation", u""));
    m_id = properties.get_string(dir, u"id", u"");
    m_anchor_x = anchor_from_name(properties.get_string(dir, u"anchor_x", u""));
    m_anchor_y = anchor_from_name(properties.get_string(dir, u"anchor_y", u""));
    if (properties.has_points(dir)) {
        m_border_min = properties.get_point(dir, u"border_min", SkinPoint{});
        m_design_size = properties.get_point(dir, u"design_size", SkinPoint{});
        m_border_max = properties.get_point(dir, u"border_max", SkinPoint{});
    }
    if (properties.has_integers(dir)) {
        m_cache = properties.get_integer(dir, u"cache", 0) != 0;
        uint32_t alpha = properties.get_integer(dir, u"cache_alpha", unset_alpha);
        if (alpha == unset_alpha)
            m_cache_blend.reset();
        else
            m_cache_blend = Blend::keyed_for_alpha(alpha);
        m_table_ratio = static_cast<int32_t>(properties.get_integer(dir, u"table_ratio", 0));
    }
    m_measured = {};
    m_layout_pending = {true, true};

    const uint32_t count = properties.child_count(dir);
    for (uint32_t i = 0; i < count; ++i) {
        NodeDir child_dir = properties.child(dir, i);
        std::u16string type = properties.get_string(child_dir, u"type", u"");
        std::unique_ptr<Component> child = ComponentFactory::instance().create(type, this);
        child->load(properties, child_dir);
        add_child(std::move(child));
    }
}

void Component::set_enabled(bool enabled) {
    if (m_enabled == enabled)
        return;
    m_enabled = enabled;
    update_enabled();
}

void Component::enabled_changed() {
    for (const auto& child : m_children)
        child->update_enabled();
    invalidate();
}

void Component::set_visible(bool visible) {
    if (m_visible == visible)
        return;
    m_visible = visible;
    // Tables give hidden children no room, whether the parent is shown or not.
    clear_measure();
    invalidate();
    update_shown();
}

void Component::visibility_changed() {
    for (const auto& child : m_children)
        child->update_shown();
    clear_measure();
    invalidate();
    if (!m_shown)
        m_cache_surface.recreate(0, 0);
}

void Component::update_shown() {
    bool shown = m_visible && (m_parent ? m_parent->m_shown : true);
    if (shown == m_shown)
        return;
    m_shown = shown;
    visibility_changed();
}

void Component::update_enabled() {
    bool enabled = m_enabled && (m_parent ? m_parent->m_effectively_enabled : true);
    if (enabled == m_effectively_enabled)
        return;
    m_effectively_enabled = enabled;
    enabled_changed();
}

void Component::set_form(Form* form) {
    m_form = form;
    for (const auto& child : m_children)
        child->set_form(form);
}

void Component::tick(double seconds) {
    if (m_visibility_animation && m_visibility_animation->running()) {
        m_visibility_animation->tick(seconds);
        invalidate();
        // An animation may draw beyond the rectangle (a pop grows past it).
        if (m_form)
            m_form->damage_all();
        return;
    }
    for (const auto& child : m_children)
        child->tick(seconds);
}

void Component::draw(RenderSurface& target, SkinPoint origin) {
    for (const auto& child : m_children)
        child->paint(target, origin);
}

void Component::lay_out_children_x() {
    lay_out_plain(Axis::X);
}

void Component::lay_out_children_y() {
    lay_out_plain(Axis::Y);
}

void Component::lay_out_plain(Axis axis) {
    const Range own = range(axis);
    for (const auto& child : m_children)
        child->set_range(axis,
                         layout::place_plain(child->layout_item(axis), own.position, own.size));
}

Measure Component::measure_width() {
    std::vector<LayoutItem> items;
    items.reserve(m_children.size());
    for (const auto& child : m_children)
        items.push_back(child->layout_item(Axis::X));
    return layout::measure_plain(m_design_size.x, items);
}

Measure Component::measure_height() {
    std::vector<LayoutItem> items;
    items.reserve(m_children.size());
    for (const auto& child : m_children)
        items.push_back(child->layout_item(Axis::Y));
    return layout::measure_plain(m_design_size.y, items);
}

bool Component::hit_test(SkinPoint point) const {
    return m_x <= point.x && int64_t(point.x) < int64_t(m_x) + m_width && m_y <= point.y &&
           int64_t(point.y) < int64_t(m_y) + m_height;
}

void Component::pen_move(const PenEvent&) {}

bool Component::pen_button(const PenEvent&) {
    return false;
}

bool Component::key(const KeyEvent&) {
    return false;
}

bool Component::command(const Command&) {
    return false;
}

void Component::set_x_range(int32_t x, int32_t width) {
    set_range(Axis::X, Range{x, width});
}

void Component::set_y_range(int32_t y, int32_t height) {
    set_range(Axis::Y, Range{y, height});
}

Range Component::range(Axis axis) const {
    return axis == Axis::X ? Range{m_x, m_width} : Range{m_y, m_height};
}

void Component::set_range(Axis axis, Range r) {
    const size_t a = axis_index(axis);
    int32_t& position = axis == Axis::X ? m_x : m_y;
    int32_t& size = axis == Axis::X ? m_width : m_height;
    if (position == r.position && size == r.size && !m_layout_pending[a])
        return;
    const bool resized = size != r.size;
    const bool moved = resized || position != r.position;
    // Where it was is damaged too.
    if (moved && m_form)
        m_form->add_damage(rect());
    position = r.position;
    size = r.size;
    if (moved) {
        m_position_dirty = true;
        invalidate();
        if (resized && m_size_listener)
            m_size_listener->size_changed(*this, axis, size);
    }
    lay_out_children(axis);
}

void Component::lay_out_children(Axis axis) {
    m_layout_pending[axis_index(axis)] = false;
    if (axis == Axis::X)
        lay_out_children_x();
    else
        lay_out_children_y();
}

void Component::place(int32_t x, int32_t y, int32_t width, int32_t height) {
    set_x_range(x, width);
    set_y_range(y, height);
}

void Component::invalidate() {
    invalidate(rect());
}

void Component::invalidate(const Rect& part) {
    if (m_form)
        m_form->add_damage(part);
    for (Component* c = this; c; c = c->m_parent)
        c->m_needs_redraw = true;
}

void Component::clear_measure() {
    for (Component* c = this; c; c = c->m_parent) {
        c->m_measured = {};
        c->m_layout_pending = {true, true};
    }
}

void Component::invalidate_tree() {
    if (m_form)
        m_form->add_damage(rect());
    m_measured = {};
    m_layout_pending = {true, true};
    m_needs_redraw = true;
    m_position_dirty = true;
    for (const auto& child : m_children)
        child->invalidate_tree();
}

Measure Component::measure(Axis axis) {
    auto& cached = m_measured[axis_index(axis)];
    if (!cached)
        cached = axis == Axis::X ? measure_width() : measure_height();
    return *cached;
}

LayoutItem Component::layout_item(Axis axis) {
    LayoutItem item;
    item.mode = anchor(axis);
    item.b0 = axis == Axis::X ? m_border_min.x : m_border_min.y;
    item.b1 = axis == Axis::X ? m_border_max.x : m_border_max.y;
    item.measure = measure(axis);
    item.ratio = m_table_ratio;
    return item;
}

void Component::paint(RenderSurface& target, SkinPoint origin) {
    if (m_shown && m_visibility_animation && m_visibility_animation->running()) {
        m_visibility_animation->draw_component(*this, target, origin);
        return;
    }
    paint_content(target, origin);
}

void Component::paint_content(RenderSurface& target, SkinPoint origin) {
    if (m_shown) {
        if (m_cache && m_width > 0 && m_height > 0) {
            if (m_cache_surface.width() != m_width || m_cache_surface.height() != m_height ||
                m_needs_redraw) {
                m_cache_surface.recreate(m_width, m_height);
                m_cache_surface.fill(Rect{0, 0, m_width, m_height}, Blend::fill(key_color));
                draw(m_cache_surface, SkinPoint{-m_x, -m_y});
            }
            m_cache_surface.copy(target, origin.x + m_x, origin.y + m_y,
                                 Rect{0, 0, m_width, m_height},
                                 m_cache_blend ? *m_cache_blend : Blend::copy());
        } else if (!m_cache && (!m_children.empty() ||
                                !Rect::of_size(origin.x + m_x, origin.y + m_y, m_width, m_height)
                                     .intersect(target.clip())
                                     .empty())) {
            draw(target, origin);
        }
    }
    m_needs_redraw = false;
    m_position_dirty = false;
}

void Component::set_visibility_animation(std::unique_ptr<VisibilityAnimation> animation) {
    m_visibility_animation = std::move(animation);
}

bool Component::start_visibility_animation() {
    if (!m_visibility_animation)
        return false;
    m_visibility_animation->start(VisibilityAnimation::Direction::Showing);
    invalidate();
    if (m_form)
        m_form->damage_all();
    return true;
}

Component* Component::find_child(std::u16string_view id) const {
    for (const auto& child : m_children)
        if (child->m_id == id)
            return child.get();
    for (const auto& child : m_children)
        if (Component* found = child->find_child(id))
            return found;
    return nullptr;
}

} // namespace skin
