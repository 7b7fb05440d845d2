#include "skin/animations.h"

#include "skin/component.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace skin {

std::unique_ptr<VisibilityAnimation> VisibilityAnimation::create(std::u16string_view name) {
    if (name == u"scale")
        return std::make_unique<ScaleAnimation>(ScaleAnimation::Curve::Square);
    if (name == u"pop")
        return std::make_unique<ScaleAnimation>(ScaleAnimation::Curve::Pop);
    if (name == u"right")
        return std::make_unique<SlideAnimation>(SlideAnimation::Edge::Right);
    if (name == u"bottom")
        return std::make_unique<SlideAnimation>(SlideAnimation::Edge::Bottom);
    if (name == u"left")
        return std::make_unique<SlideAnimation>(SlideAnimation::Edge::Left);
    if (name == u"top")
        return std::make_unique<SlideAnimation>(SlideAnimation::Edge::Top);
    if (name == u"flip")
        return std::make_unique<FlipAnimation>();
    return nullptr;
}

void VisibilityAnimation::start(Direction direction) {
    m_direction = direction;
    m_progress = direction == Direction::Hiding ? 1.0 : 0.0;
    if (direction == Direction::Stopped)
        release();
}

void VisibilityAnimation::reverse() {
    if (m_direction == Direction::Showing)
        m_direction = Direction::Hiding;
    else if (m_direction == Direction::Hiding)
        m_direction = Direction::Showing;
}

void VisibilityAnimation::cancel() {
    m_direction = Direction::Stopped;
    release();
}

void VisibilityAnimation::tick(double seconds) {
    if (m_direction == Direction::Stopped)
        return;
    m_progress += static_cast<int>(m_direction) * m_speed * seconds * 5.0;
    if (m_direction == Direction::Showing && m_progress >= 1.0) {
        m_progress = 1.0;
        cancel();
    } else if (m_direction == Direction::Hiding && m_progress <= 0.0) {
        m_progress = 0.0;
        cancel();
    }
}

void VisibilityAnimation::release() {
    m_back.recreate(0, 0);
    m_front.recreate(0, 0);
}

void VisibilityAnimation::draw(RenderSurface& target, const Rect& area, const Blend& front_blend) {
    if (m_back.width() > 0 && m_back.height() > 0)
        m_back.copy(target, area.left, area.top,
                    Rect{0, 0, std::min(m_back.width(), area.width()),
                         std::min(m_back.height(), area.height())},
                    Blend::copy());
    if (m_front.width() > 0 && m_front.height() > 0)
        draw_front(target, Rect::of_size(area.left, area.top, m_front.width(), m_front.height()),
                   front_blend, m_progress);
}

void VisibilityAnimation::draw_component(Component& component, RenderSurface& target,
                                         SkinPoint origin) {
    const int32_t w = component.width();
    const int32_t h = component.height();
    if (w < 1 || h < 1)
        return;
    m_front.recreate(w, h);
    m_front.fill(Rect{0, 0, w, h}, Blend::fill(key_color));
    component.paint_content(m_front, SkinPoint{-component.x(), -component.y()});
    draw(target, Rect::of_size(origin.x + component.x(), origin.y + component.y(), w, h),
         Blend::keyed(0));
}

ScaleAnimation::ScaleAnimation(Curve curve)
    : VisibilityAnimation(curve == Curve::Pop ? 0.5 : 1.0), m_curve(curve) {}

std::unique_ptr<VisibilityAnimation> ScaleAnimation::clone() const {
    return std::make_unique<ScaleAnimation>(m_curve);
}

std::u16string_view ScaleAnimation::name() const {
    return m_curve == Curve::Pop ? u"pop" : u"scale";
}

double ScaleAnimation::factor(Curve curve, double p) {
    if (curve == Curve::Square)
        return p * p;
    const double a = 1.5 * std::numbers::pi * p;
    return 1.0 - std::cos(a) / (a + 1.0);
}

void ScaleAnimation::draw_front(RenderSurface& target, const Rect& area, const Blend& blend,
                                double p) {
    const double s = factor(m_curve, p);
    const int32_t w = static_cast<int32_t>(std::lround(area.width() * s));
    const int32_t h = static_cast<int32_t>(std::lround(area.height() * s));
    if (w < 1 || h < 1)
        return;
    const int32_t left = area.left + (area.width() - w) / 2;
    const int32_t top = area.top + (area.height() - h) / 2;
    const Rect source{0, 0, area.width(), area.height()};
    if (w == area.width() && h == area.height())
        front().copy(target, left, top, source, blend);
    else
        front().copy_scaled(target, Rect::of_size(left, top, w, h), source, blend);
}

std::unique_ptr<VisibilityAnimation> SlideAnimation::clone() const {
    return std::make_unique<SlideAnimation>(m_edge);
}

std::u16string_view SlideAnimation::name() const {
    switch (m_edge) {
    case Edge::Right:
        return u"right";
    case Edge::Bottom:
        return u"bottom";
    case Edge::Left:
        return u"left";
    case Edge::Top:
        break;
    }
    return u"top";
}

SkinPoint SlideAnimation::offset(Edge edge, int32_t width, int32_t height, double p) {
    const double rest = 1.0 - p;
    switch (edge) {
    case Edge::Right:
        return SkinPoint{static_cast<int32_t>(std::lround(rest * width)), 0};
    case Edge::Bottom:
        return SkinPoint{0, static_cast<int32_t>(std::lround(rest * height))};
    case Edge::Left:
        return SkinPoint{-static_cast<int32_t>(std::lround(rest * width)), 0};
    case Edge::Top:
        break;
    }
    return SkinPoint{0, -static_cast<int32_t>(std::lround(rest * height))};
}

void SlideAnimation::draw_front(RenderSurface& target, const Rect& area, const Blend& blend,
                                double p) {
    const SkinPoint d = offset(m_edge, area.width(), area.height(), p);
    front().copy(target, area.left + d.x, area.top + d.y, Rect{0, 0, area.width(), area.height()},
                 blend);
}

std::unique_ptr<VisibilityAnimation> FlipAnimation::clone() const {
    return std::make_unique<FlipAnimation>();
}

void FlipAnimation::draw_front(RenderSurface& target, const Rect& area, const Blend& blend,
                               double p) {
    const int32_t w = area.width();
    const int32_t h = area.height();
    const double angle = (1.0 - std::clamp(p, 0.0, 1.0)) * std::numbers::pi / 2.0;
    const double c = std::cos(angle);
    const double s = std::sin(angle);
    if (c < 1e-3)
        return;
    // The viewer stands two heights in front of the surface; a row at height Y from the centre
    // line, turned by the angle, lands at Y c D / (D + Y s) and is D / (D + Y s) times as wide.
    const double half = h / 2.0;
    const double distance = 2.0 * h;
    const double centre = area.top + half;
    const double top = centre - half * c * distance / (distance - half * s);
    const double bottom = centre + half * c * distance / (distance + half * s);
    const Rect& clip = target.clip();
    const int32_t first = std::max(static_cast<int32_t>(std::floor(top)), clip.top);
    const int32_t last = std::min(static_cast<int32_t>(std::ceil(bottom)), clip.bottom);
    for (int32_t row = first; row < last; ++row) {
        const double y = row + 0.5 - centre;
        const double denominator = distance * c - y * s;
        if (denominator <= 0.0)
            continue;
        const double source_y = y * distance / denominator;
        if (source_y < -half || source_y >= half)
            continue;
        const int32_t sy = std::clamp(static_cast<int32_t>(source_y + half), 0, h - 1);
        const double scale = distance / (distance + source_y * s);
        const int32_t rw = static_cast<int32_t>(std::lround(w * scale));
        if (rw < 1)
            continue;
        const int32_t left = area.left + (w - rw) / 2;
        front().copy_scaled(target, Rect{left, row, left + rw, row + 1}, Rect{0, sy, w, sy + 1},
                            blend);
    }
}

} // namespace skin
