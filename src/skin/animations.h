#pragma once

// How a component or a form appears and disappears. An animation runs its progress p from 0 to 1
// while showing and from 1 to 0 while hiding, at five units per second times its speed (0.2 s
// at speed 1), and draws two renderings: the one behind (drawn as it is) and the one in front
// (drawn moved, scaled or flipped by p). A component's own animation draws only its front, the
// component's rendering over a transparent key background; the form stack's transitions draw
// the old screen behind the new form. User-interface thread only.

#include "skin/blend.h"
#include "skin/skin_image.h"
#include "skin/surface.h"

#include <memory>
#include <string_view>

namespace skin {

class Component;

class VisibilityAnimation {
public:
    enum class Direction { Hiding = -1, Stopped = 0, Showing = 1 };

    // The animation named by a visibility_animation attribute: "scale", "pop", "right",
    // "bottom", "left", "top", "flip"; none for anything else.
    static std::unique_ptr<VisibilityAnimation> create(std::u16string_view name);

    virtual ~VisibilityAnimation() = default;
    VisibilityAnimation(const VisibilityAnimation&) = delete;
    VisibilityAnimation& operator=(const VisibilityAnimation&) = delete;

    // A stopped animation of the same kind and speed, without surfaces.
    virtual std::unique_ptr<VisibilityAnimation> clone() const = 0;
    virtual std::u16string_view name() const = 0;

    // p becomes 0 when showing, 1 when hiding.
    void start(Direction direction);
    // Plays the other way from where it is.
    void reverse();
    // Stops where it is and releases the surfaces.
    void cancel();
    // Adds direction x speed x seconds x 5 to p; reaching the end clamps p, stops and releases
    // the surfaces.
    void tick(double seconds);

    bool running() const { return m_direction != Direction::Stopped; }
    Direction direction() const { return m_direction; }
    double progress() const { return m_progress; }
    double speed() const { return m_speed; }
    // A transition lasts 1 / (5 x speed) seconds.
    double duration() const { return 1.0 / (5.0 * m_speed); }

    // The renderings; the owner fills them before drawing.
    RenderSurface& back() { return m_back; }
    RenderSurface& front() { return m_front; }

    // Draws back (when it holds pixels) at area's corner with a plain copy, then front, moved
    // by the progress, through front_blend. Both renderings have area's size.
    void draw(RenderSurface& target, const Rect& area, const Blend& front_blend);
    // Renders component (without its animation) into front over the key colour and draws it
    // at its place with the transparent key kept.
    void draw_component(Component& component, RenderSurface& target, SkinPoint origin);

protected:
    explicit VisibilityAnimation(double speed = 1.0) : m_speed(speed) {}
    // Draws front, of area's size, into target for progress p (which may leave [0, 1] for the
    // kinds that overshoot).
    virtual void draw_front(RenderSurface& target, const Rect& area, const Blend& blend,
                            double p) = 0;

private:
    void release();

    Direction m_direction{Direction::Stopped};
    double m_progress{1.0};
    double m_speed;
    RenderSurface m_back;
    RenderSurface m_front;
};

// Scales the rendering about its centre: by p squared ("scale"), or by the overshooting
// 1 - cos(3 pi / 2 p) / (3 pi / 2 p + 1) at half speed ("pop").
class ScaleAnimation final : public VisibilityAnimation {
public:
    enum class Curve { Square, Pop };
    explicit ScaleAnimation(Curve curve);
    std::unique_ptr<VisibilityAnimation> clone() const override;
    std::u16string_view name() const override;
    // The scale factor at progress p.
    static double factor(Curve curve, double p);

protected:
    void draw_front(RenderSurface& target, const Rect& area, const Blend& blend, double p) override;

private:
    Curve m_curve;
};

// Slides the rendering in from one edge: offset (1 - p) x width or height, signed by the edge.
class SlideAnimation final : public VisibilityAnimation {
public:
    enum class Edge { Right, Bottom, Left, Top };
    explicit SlideAnimation(Edge edge) : m_edge(edge) {}
    std::unique_ptr<VisibilityAnimation> clone() const override;
    std::u16string_view name() const override;
    // Where the rendering's corner is, relative to its place, at progress p.
    static SkinPoint offset(Edge edge, int32_t width, int32_t height, double p);

protected:
    void draw_front(RenderSurface& target, const Rect& area, const Blend& blend, double p) override;

private:
    Edge m_edge;
};

// Turns the rendering about its horizontal centre line in perspective, edge-on at p = 0 and
// flat at p = 1, each row scaled by its depth.
class FlipAnimation final : public VisibilityAnimation {
public:
    FlipAnimation() = default;
    std::unique_ptr<VisibilityAnimation> clone() const override;
    std::u16string_view name() const override { return u"flip"; }

protected:
    void draw_front(RenderSurface& target, const Rect& area, const Blend& blend, double p) override;
};

} // namespace skin
