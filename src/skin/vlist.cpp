#include "skin/vlist.h"

#include "foundation/log.h"
#include "skin/properties.h"

#include <algorithm>
#include <cmath>

namespace skin {

namespace {

// More rows than this are never made for one view, whatever the heights.
constexpr int32_t max_rows_in_view = 512;
constexpr int32_t max_border = 100000;

double toward_zero(double speed, double step) {
    if (speed > 0)
        return std::max(0.0, speed - step);
    if (speed < 0)
        return std::min(0.0, speed + step);
    return 0.0;
}

} // namespace

void VelocityTracker::add(int32_t x, int32_t y, uint32_t time) {
    if (!m_samples.empty()) {
        const Sample& last = m_samples.back();
        if (std::abs(int64_t(x) - last.x) < min_step && std::abs(int64_t(y) - last.y) < min_step)
            return;
    }
    m_samples.push_back(Sample{x, y, time});
    while (m_samples.size() > max_samples)
        m_samples.pop_front();
    while (!m_samples.empty() && time - m_samples.front().time > window_ms)
        m_samples.pop_front();
}

double VelocityTracker::velocity(bool y) const {
    if (m_samples.size() < 2)
        return 0.0;
    const Sample& first = m_samples.front();
    const Sample& last = m_samples.back();
    const uint32_t span = last.time - first.time;
    if (span < min_span_ms)
        return 0.0;
    const double distance = y ? double(last.y) - first.y : double(last.x) - first.x;
    return distance * 1000.0 / span;
}

double VelocityTracker::velocity_x() const {
    return velocity(false);
}

double VelocityTracker::velocity_y() const {
    return velocity(true);
}

VList::VList(Component* parent) : Component(parent) {
    if (form())
        form()->add_input_handler(*this);
}

VList::~VList() {
    if (form())
        form()->remove_input_handler(*this);
}

void VList::load(Properties& properties, NodeDir dir) {
    Component::load(properties, dir);
    m_border_min =
        std::clamp(properties.get_point(dir, u"scroll_border_min", SkinPoint{}).y, 0, max_border);
    m_border_max =
        std::clamp(properties.get_point(dir, u"scroll_border_max", SkinPoint{}).y, 0, max_border);
    m_cue = std::clamp(properties.get_point(dir, u"scroll_cue", SkinPoint{}).y, 0, max_border);
    m_locked = properties.get_integer(dir, u"locked", 0) != 0;
    m_grow = properties.get_integer(dir, u"grow", 0) != 0;
    m_position = m_border_min;
}

void VList::set_provider(VListProvider* provider) {
    m_provider = provider;
    set_item_count(m_count);
}

void VList::set_item_count(int32_t count) {
    m_count = std::max(0, count);
    m_pressed = nullptr;
    m_rows.clear();
    m_spare.clear();
    m_estimate = 0.0;
    m_rows_created = 0;
    if (m_selected >= m_count)
        m_selected = -1;
    m_speed = 0.0;
    update_rows();
    m_position = std::clamp(m_position, min_position(), max_position());
    update_rows();
    place_rows();
    clear_measure();
    invalidate();
}

VListRow* VList::row_of(int32_t index) const {
    for (const auto& row : m_rows)
        if (!row->m_removing && row->m_index == index)
            return row.get();
    return nullptr;
}

void VList::refresh_item(int32_t index) {
    VListRow* row = row_of(index);
    if (!row)
        return;
    row->bind(*this, index);
    row->invalidate_tree();
    row->set_x_range(x(), width());
    row->m_target = std::max(0, row->measure(Axis::Y).preferred);
    update_row_state(*row);
    invalidate();
}

void VList::insert_item(int32_t index) {
    if (index < 0 || index > m_count)
        return;
    const double view_top = m_position - 2.0 * m_border_min;
    const double view_bottom = view_top + std::max(0, height());
    const double at = top_of(index);
    const bool above = m_count > 0 && m_estimate > 0.0 && at < view_top;
    const bool below = m_count > 0 && at >= view_bottom;
    for (auto& row : m_rows)
        if (row->m_index >= index)
            ++row->m_index;
    if (m_selected >= index)
        ++m_selected;
    ++m_count;
    if (above) {
        // The new item has no row yet: it takes the estimated height above the view.
        m_position += m_estimate;
    }
    if (above || below) {
        if (m_grow)
            clear_measure();
        return;
    }
    update_rows();
    if (VListRow* row = row_of(index))
        row->m_height = 0.0;
    place_rows();
    if (m_grow)
        clear_measure();
    invalidate();
}

void VList::scroll_into_view(int32_t index) {
    if (index < 0 || index >= m_count)
        return;
    m_speed = 0.0;
    // Rows lie between scroll_border_min and scroll_border_max inside the list; a row's top
    // is at y() + 2 * border_min - position + top_of(index).
    const double top = top_of(index);
    const VListRow* row = row_of(index);
    const double item = row ? std::max<double>(row->m_target, row->m_height) : m_estimate;
    const double room = double(height()) - m_border_min - m_border_max;
    const double highest = top + m_border_min; // the item's top at the rows' top
    const double lowest = top + item + 2.0 * m_border_min + m_border_max - height();
    double position = m_position;
    if (position > highest || item > room)
        position = highest;
    else if (position < lowest)
        position = lowest;
    set_position(std::clamp(position, min_position(), max_position()));
}

void VList::remove_item(int32_t index) {
    if (index < 0 || index >= m_count)
        return;
    for (auto& row : m_rows) {
        if (row->m_removing) {
            if (row->m_index > index)
                --row->m_index;
        } else if (row->m_index == index) {
            row->m_removing = true;
            if (m_pressed == row.get())
                m_pressed = nullptr;
        } else if (row->m_index > index) {
            --row->m_index;
        }
    }
    if (m_selected == index)
        m_selected = -1;
    else if (m_selected > index)
        --m_selected;
    --m_count;
    for (auto& row : m_rows)
        update_row_state(*row);
    clear_measure();
    invalidate();
}

void VList::set_selected(int32_t index) {
    if (index < -1 || index >= m_count)
        index = -1;
    m_selected = index;
    for (auto& row : m_rows)
        update_row_state(*row);
    invalidate();
}

double VList::min_position() const {
    return m_border_min;
}

double VList::max_position() const {
    const double extent = total_height() + m_border_min + m_border_max - height();
    return m_border_min + std::max(0.0, extent);
}

void VList::set_position(double position) {
    m_position = std::isfinite(position) ? position : m_border_min;
    update_rows();
    place_rows();
    invalidate();
}

void VList::scroll_by(int32_t dy) {
    if (m_locked)
        return;
    m_speed = 0.0;
    set_position(std::clamp(m_position - dy, min_position(), max_position()));
}

double VList::total_height() const {
    double total = double(m_count) * m_estimate;
    for (const auto& row : m_rows)
        total += row->m_removing ? row->m_height : row->m_height - m_estimate;
    return total;
}

double VList::top_of(int32_t index) const {
    double top = double(index) * m_estimate;
    for (const auto& row : m_rows) {
        if (row->m_removing) {
            if (row->m_index <= index)
                top += row->m_height;
        } else if (row->m_index < index) {
            top += row->m_height - m_estimate;
        }
    }
    return top;
}

void VList::measure_row(VListRow& row) {
    row.set_x_range(x(), width());
    row.m_target = std::max(0, row.measure(Axis::Y).preferred);
    row.m_height = row.m_target;
}

void VList::bind_row(VListRow& row, int32_t index) {
    row.m_index = index;
    row.m_removing = false;
    row.bind(*this, index);
    row.invalidate_tree();
    measure_row(row);
    update_row_state(row);
}

VListRow* VList::take_row(int32_t index) {
    std::unique_ptr<VListRow> row;
    auto spare = std::find_if(m_spare.rbegin(), m_spare.rend(),
                              [&](const auto& r) { return r->fits(*this, index); });
    if (spare != m_spare.rend()) {
        row = std::move(*spare);
        m_spare.erase(std::next(spare).base());
    } else {
        row = m_provider->create_row(*this, index);
        if (!row)
            return nullptr;
        ++m_rows_created;
    }
    VListRow* r = row.get();
    // Rows are kept in item order.
    auto at = std::find_if(m_rows.begin(), m_rows.end(),
                           [&](const auto& other) { return other->m_index > index; });
    m_rows.insert(at, std::move(row));
    bind_row(*r, index);
    return r;
}

void VList::update_rows() {
    if (!m_provider || m_count == 0) {
        for (auto& row : m_rows)
            if (!row->m_removing && m_spare.size() < spare_rows)
                m_spare.push_back(std::move(row));
        std::erase_if(m_rows, [](const auto& row) { return !row || !row->m_removing; });
        m_pressed = nullptr;
        return;
    }
    if (m_estimate <= 0.0) {
        VListRow* first = take_row(0);
        if (!first)
            return;
        m_estimate = std::max(1, first->m_target);
    }
    const double view_top = m_position - 2.0 * m_border_min;
    const double view_bottom = view_top + std::max(0, height());
    int32_t first =
        int32_t(std::clamp(std::floor(view_top / m_estimate), 0.0, double(m_count - 1)));
    while (first > 0 && top_of(first) > view_top)
        --first;
    // An item lies above the view when it ends at its top or higher, except a row that has
    // not grown yet, standing right at the top.
    while (first + 1 < m_count) {
        const double next = top_of(first + 1);
        if (next > view_top || (next == view_top && top_of(first) >= view_top))
            break;
        ++first;
    }
    int32_t last = first;
    while (last + 1 < m_count && last - first < max_rows_in_view && top_of(last + 1) < view_bottom)
        ++last;
    // Recycle the rows out of view (a pressed row stays until the pen is lifted).
    for (auto& row : m_rows) {
        if (row->m_removing || row.get() == m_pressed)
            continue;
        if (row->m_index < first || row->m_index > last) {
            if (m_spare.size() < spare_rows)
                m_spare.push_back(std::move(row));
            else
                row.reset();
        }
    }
    std::erase_if(m_rows, [](const auto& row) { return !row; });
    for (int32_t i = first; i <= last; ++i)
        if (!row_of(i) && !take_row(i))
            break;
}

void VList::place_rows() {
    const double base = y() + 2.0 * m_border_min - m_position;
    for (const auto& row : m_rows) {
        const double top =
            row->m_removing ? top_of(row->m_index) - row->m_height : top_of(row->m_index);
        row->set_x_range(x(), width());
        row->set_y_range(int32_t(std::lround(base + top)), int32_t(std::lround(row->m_height)));
    }
}

void VList::update_row_state(VListRow& row) {
    Component* normal = row.find_child(u"#vlist_normal");
    Component* pressed = row.find_child(u"#vlist_pressed");
    Component* selected = row.find_child(u"#vlist_selected");
    const bool is_pressed = &row == m_pressed && !m_row_took_pen;
    const bool is_selected = !is_pressed && !row.m_removing && row.m_index == m_selected;
    if (pressed)
        pressed->set_visible(is_pressed);
    if (selected)
        selected->set_visible(is_selected);
    if (normal)
        normal->set_visible(!is_pressed && !is_selected);
}

void VList::lay_out_children_x() {
    Component::lay_out_children_x();
    place_rows();
}

void VList::lay_out_children_y() {
    Component::lay_out_children_y();
    update_rows();
    place_rows();
}

Measure VList::measure_height() {
    Measure m = Component::measure_height();
    if (!m_grow)
        return m;
    const int32_t borders = m_border_min + m_border_max;
    const double want = std::min(total_height() + borders, double(INT32_MAX / 2));
    m.preferred = std::max(m.preferred, int32_t(want));
    m.minimum = std::max(m.minimum, borders);
    foundation::log() << "Desired size=" << m.preferred << "\n";
    return m;
}

bool VList::in_motion() const {
    // A held row is timed for a long press.
    if (m_pressed && m_pen_down && !m_row_took_pen)
        return true;
    return std::any_of(m_rows.begin(), m_rows.end(), [](const auto& row) {
        return row->m_height != (row->m_removing ? 0.0 : row->m_target);
    });
}

void VList::tick(double dt) {
    Component::tick(dt);
    if (!(dt > 0.0))
        dt = 0.0;
    // Row heights, compensated above the view so the visible content stays put.
    bool heights_changed = false;
    for (auto& row : m_rows) {
        const double target = row->m_removing ? 0.0 : row->m_target;
        if (row->m_height == target)
            continue;
        const double step = height_rate * dt;
        const double before = row->m_height;
        row->m_height =
            before < target ? std::min(target, before + step) : std::max(target, before - step);
        const double top = row->m_removing ? top_of(row->m_index) - before : top_of(row->m_index);
        const double view_top = m_position - 2.0 * m_border_min;
        // A row that has not grown yet, standing right at the top of the view, grows in place
        // (as update_rows keeps it in view).
        const bool at_view_top = before == 0.0 && top >= view_top;
        if (top + before <= view_top && !at_view_top)
            m_position += row->m_height - before;
        heights_changed = true;
    }
    if (heights_changed) {
        std::erase_if(m_rows,
                      [](const auto& row) { return row->m_removing && row->m_height <= 0.0; });
        clear_measure();
        invalidate();
    }
    // Content motion.
    const double before_position = m_position;
    if (m_count == 0) {
        m_speed = 0.0;
        m_position = m_border_min;
    } else {
        m_position += m_speed * dt;
        double brake = 2.0 * std::abs(m_speed) + 9.0;
        if (m_pen_down && !m_row_took_pen)
            brake *= 5.0;
        m_speed = toward_zero(m_speed, brake * dt);
        const double lo = min_position();
        const double hi = max_position();
        if (m_position < lo && m_speed < 0)
            m_speed = toward_zero(m_speed, (lo - m_position + 1.0) * 50.0 * dt);
        else if (m_position > hi && m_speed > 0)
            m_speed = toward_zero(m_speed, (m_position - hi + 1.0) * 50.0 * dt);
        if (!m_pen_down && m_speed == 0.0) {
            if (m_position < lo)
                m_position = std::min(lo, m_position + spring_rate * dt);
            else if (m_position > hi)
                m_position = std::max(hi, m_position - spring_rate * dt);
        }
    }
    if (heights_changed || m_position != before_position) {
        update_rows();
        place_rows();
        invalidate();
    }
    for (auto& row : m_rows)
        row->tick(dt);
    if (m_pressed && m_pen_down && !m_row_took_pen) {
        m_held += dt;
        if (m_held >= long_press_seconds) {
            VListRow* row = m_pressed;
            m_pressed = nullptr;
            update_row_state(*row);
            invalidate();
            if (m_provider)
                m_provider->item_long_pressed(*this, row->m_index);
        }
    }
}

void VList::draw(RenderSurface& target, SkinPoint origin) {
    Component::draw(target, origin);
    ClipScope clip(target, origin.x + x(), origin.y + y(), width(), height());
    const Rect own = rect();
    for (const auto& row : m_rows) {
        if (row->height() <= 0 || row->y() >= own.bottom || row->y() + row->height() <= own.top)
            continue;
        row->paint(target, origin);
    }
    // A shade along an edge with rows beyond it, darkest at the edge.
    for (const bool below : {false, true}) {
        if (!shows_scroll_cue(below))
            continue;
        const int32_t size = std::min(m_cue, height() / 2);
        for (int32_t i = 0; i < size; ++i) {
            const int32_t line = below ? own.bottom - 1 - i : own.top + i;
            const uint32_t alpha = uint32_t(256 - 96 * (size - i) / size);
            target.fill(Rect::of_size(origin.x + own.left, origin.y + line, own.width(), 1),
                        Blend::fade(alpha));
        }
    }
}

bool VList::rows_beyond(bool below) const {
    // Half a pixel either way is rest.
    return below ? m_position < max_position() - 0.5 : m_position > min_position() + 0.5;
}

VListRow* VList::row_at(int32_t y) const {
    for (const auto& row : m_rows)
        if (!row->m_removing && y >= row->y() && y < row->y() + row->height())
            return row.get();
    return nullptr;
}

bool VList::pen_button(const PenEvent& event) {
    if (event.pressed) {
        m_pen_down = true;
        m_dragging = false;
        m_row_took_pen = false;
        m_tracker.reset();
        m_tracker.add(event.x, event.y, event.time);
        m_press_y = m_last_y = event.y;
        if (m_speed != 0.0) {
            m_speed = 0.0; // a press stops a fling and starts a drag
            m_dragging = true;
            return true;
        }
        m_pressed = row_at(event.y);
        m_held = 0.0;
        if (m_pressed) {
            m_row_took_pen = m_pressed->pen_button(event);
            update_row_state(*m_pressed);
        }
        invalidate();
        return true;
    }
    m_pen_down = false;
    if (m_pressed) {
        VListRow* row = m_pressed;
        const bool took = m_row_took_pen;
        m_pressed = nullptr;
        m_row_took_pen = false;
        update_row_state(*row);
        if (took)
            row->pen_button(event);
        else if (!event.cancelled && row_at(event.y) == row && m_provider)
            m_provider->item_tapped(*this, row->m_index);
        invalidate();
        return true;
    }
    m_row_took_pen = false;
    m_tracker.add(event.x, event.y, event.time);
    if (!event.cancelled && m_dragging && !m_locked && m_position >= min_position() &&
        m_position <= max_position())
        m_speed = std::clamp(-m_tracker.velocity_y(), -max_fling, max_fling);
    m_dragging = false;
    return true;
}

void VList::pen_move(const PenEvent& event) {
    if (!m_pen_down)
        return;
    m_tracker.add(event.x, event.y, event.time);
    if (m_pressed && m_row_took_pen) {
        m_pressed->pen_move(event);
        return;
    }
    if (m_pressed) {
        if (std::abs(event.y - m_press_y) < VelocityTracker::min_step)
            return;
        VListRow* row = m_pressed;
        m_pressed = nullptr;
        update_row_state(*row);
    }
    m_dragging = true;
    if (!m_locked)
        set_position(m_position - (event.y - m_last_y));
    m_last_y = event.y;
}

} // namespace skin

namespace skin {

bool VList::command(const Command& command) {
    if (command.code != command_wheel || !hit_test(SkinPoint{command.x, command.y}))
        return false;
    scroll_by(-command.amount);
    return true;
}

} // namespace skin
