#pragma once

// The element every skin control is made of: a rectangle in form coordinates, placed inside its
// parent by its layout rules, with owned children drawn in order over it. Components are built
// from a node directory of the skin (load) and owned by their parent; the form owns the tree.
// User-interface thread only.

#include "skin/blend.h"
#include "skin/input_events.h"
#include "skin/layout.h"
#include "skin/skin_image.h"
#include "skin/surface.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace skin {

class Component;
class Form;
class Properties;
class VisibilityAnimation;

// Told when a component's width or height is set to a new value.
class SizeListener {
public:
    virtual void size_changed(Component& component, Axis axis, int32_t size) = 0;

protected:
    ~SizeListener() = default;
};

class Component {
public:
    // parent is the container that creates the component (none for a form); the form is
    // inherited from it.
    explicit Component(Component* parent);
    Component(const Component&) = delete;
    Component& operator=(const Component&) = delete;

    // Writes the subtree to the log, one line per component, indented by level.
    virtual void dump(int indent) const;
    // A text-bearing kind whose id equals id takes the text; every component passes the call on
    // to its children.
    virtual void set_text_by_id(std::u16string_view id, std::u16string_view text);
    virtual void add_child(std::unique_ptr<Component> child);
    // Gives the child back to the caller; none when it is not a child of this component.
    virtual std::unique_ptr<Component> remove_child(Component& child);
    // Reads the common attributes, then creates one child per child directory through the
    // component factory. Throws virire::NodeNotRegistered for a type without a creator.
    virtual void load(Properties& properties, NodeDir dir);
    virtual ~Component();
    virtual void set_enabled(bool enabled);
    // Runs when the effective enabled state changed.
    virtual void enabled_changed();
    virtual void set_visible(bool visible);
    // Runs when the shown state changed.
    virtual void visibility_changed();
    virtual void tick(double seconds);
    // True while the component moves by itself (beyond its visibility animation), so that
    // frames keep coming even when nothing was redrawn yet.
    virtual bool in_motion() const { return false; }
    // Draws this component's own pixels and then its shown children, with form coordinate
    // (0, 0) at origin of target. Subclasses draw themselves and call this for the children.
    virtual void draw(RenderSurface& target, SkinPoint origin);
    virtual void lay_out_children_x();
    virtual void lay_out_children_y();
    // Preferred and minimum width: the plain container rule unless a kind measures itself.
    virtual Measure measure_width();
    virtual void measure_width_hook() {}
    virtual Measure measure_height();
    virtual void measure_height_hook() {}
    // Whether the point (form coordinates) is inside the rectangle.
    virtual bool hit_test(SkinPoint point) const;
    virtual void pen_move(const PenEvent& event);
    // True when the event is consumed.
    virtual bool pen_button(const PenEvent& event);
    virtual void input_hook() {}
    virtual bool key(const KeyEvent& event);
    virtual bool command(const Command& command);

    // The factory's name of this kind ("node", "color", ...), for dumps and inspectors.
    virtual std::u16string_view type_name() const { return u"component"; }

    const std::u16string& id() const { return m_id; }
    Component* parent() const { return m_parent; }
    Form* form() const { return m_form; }
    const std::vector<std::unique_ptr<Component>>& children() const { return m_children; }

    int32_t x() const { return m_x; }
    int32_t y() const { return m_y; }
    int32_t width() const { return m_width; }
    int32_t height() const { return m_height; }
    Rect rect() const { return Rect::of_size(m_x, m_y, m_width, m_height); }

    bool visible() const { return m_visible; }
    bool shown() const { return m_shown; }
    bool enabled() const { return m_enabled; }
    bool effectively_enabled() const { return m_effectively_enabled; }
    bool needs_redraw() const { return m_needs_redraw; }
    bool position_dirty() const { return m_position_dirty; }

    Anchor anchor(Axis axis) const { return axis == Axis::X ? m_anchor_x : m_anchor_y; }
    SkinPoint border_min() const { return m_border_min; }
    SkinPoint border_max() const { return m_border_max; }
    SkinPoint design_size() const { return m_design_size; }
    int32_t table_ratio() const { return m_table_ratio; }
    bool cache() const { return m_cache; }
    const RenderSurface& cache_surface() const { return m_cache_surface; }

    void set_size_listener(SizeListener* listener) { m_size_listener = listener; }
    SizeListener* size_listener() const { return m_size_listener; }

    // Placement on one axis. Setting what is already there does nothing unless the children
    // wait to be laid out again; otherwise the component becomes position dirty, needs redraw,
    // tells its size listener of a new length and lays out its children on that axis.
    void set_x_range(int32_t x, int32_t width);
    void set_y_range(int32_t y, int32_t height);
    void set_range(Axis axis, Range range);
    Range range(Axis axis) const;
    // Both axes: (x, y) with the size (width, height).
    void place(int32_t x, int32_t y, int32_t width, int32_t height);

    // Marks this component and every ancestor as needing a redraw; the component's rectangle is
    // damaged on its form's screen.
    void invalidate();
    // The same with only `part` (form coordinates; may be empty) damaged.
    void invalidate(const Rect& part);
    // Forgets the measured sizes of this component and every ancestor; they lay out their
    // children again at their next placement.
    void clear_measure();
    // Marks the whole subtree for measuring and redrawing.
    void invalidate_tree();
    // Cached measure on one axis.
    Measure measure(Axis axis);
    // This component's rule on one axis, as its parent lays it out.
    LayoutItem layout_item(Axis axis);

    // Draws the component, when shown, into target with form coordinate (0, 0) at origin:
    // through its running visibility animation, else from its cache or straight; clears the
    // needs-redraw and position-dirty flags. A component without children that lies wholly
    // outside the target's clip is not drawn.
    void paint(RenderSurface& target, SkinPoint origin);
    // paint() without the visibility animation.
    void paint_content(RenderSurface& target, SkinPoint origin);

    // The component's own visibility animation (the prototype read from the skin), or none.
    VisibilityAnimation* visibility_animation() const { return m_visibility_animation.get(); }
    void set_visibility_animation(std::unique_ptr<VisibilityAnimation> animation);
    // Starts the own animation towards shown; false without one.
    bool start_visibility_animation();

    // First the direct children in order, then a depth-first search in child order.
    Component* find_child(std::u16string_view id) const;

protected:
    // Lays out the children on one axis by the plain container rule.
    void lay_out_plain(Axis axis);
    // Recomputes the shown and effectively enabled states from the parent.
    void update_shown();
    void update_enabled();
    // The subtree's form pointer (forms set themselves).
    void set_form(Form* form);
    // Drops every child (they leave their form's input handlers).
    void clear_children();

private:
    void lay_out_children(Axis axis);
    // Leaves the form: the subtree's handlers unsubscribe and the form pointer is cleared.
    void leave_form();
    static std::u16string dump_line(const Component& c, int indent);

    std::unique_ptr<VisibilityAnimation> m_visibility_animation;
    std::u16string m_id;
    Component* m_parent;
    SizeListener* m_size_listener{nullptr};
    Anchor m_anchor_x{Anchor::BothSide};
    Anchor m_anchor_y{Anchor::BothSide};
    SkinPoint m_border_min;
    SkinPoint m_design_size;
    std::array<std::optional<Measure>, 2> m_measured;
    SkinPoint m_border_max;
    bool m_visible{true};
    bool m_shown{true};
    bool m_enabled{true};
    bool m_effectively_enabled{true};
    bool m_needs_redraw{true};
    bool m_position_dirty{true};
    Form* m_form{nullptr};
    RenderSurface m_cache_surface;
    bool m_cache{false};
    std::optional<Blend> m_cache_blend;
    int32_t m_x{0};
    int32_t m_y{0};
    int32_t m_width{0};
    int32_t m_height{0};
    std::vector<std::unique_ptr<Component>> m_children;
    int32_t m_table_ratio{0};
    // Children wait to be laid out again on that axis (their measures changed).
    std::array<bool, 2> m_layout_pending{true, true};
};

} // namespace skin
