#pragma once

// The root of a screen's component tree, built from one named node of the skin. It keeps the
// controls that want input (input handlers, in the order they subscribed) and routes pen, key
// and command input to them, with the handlers that took a pen press captured until the pen
// is lifted. It rebuilds itself from its node whenever the skin is reloaded.
// User-interface thread only.

#include "skin/component.h"
#include "skin/exceptions.h"
#include "skin/properties.h"
#include "skin/skin_color.h"

#include <string>
#include <vector>

namespace skin {

class FormStack;

class Form : public Component, public ReloadListener {
public:
    // Subscribes to properties' reloads; the tree is empty until load_form.
    explicit Form(Properties& properties);
    ~Form() override;

    std::u16string_view type_name() const override { return u"form"; }

    // Builds the tree from the named node: false (and nothing changed) when the skin has no
    // such node. The old children are dropped first; every component of the new tree is
    // marked for measuring and redrawing.
    bool load_form(Properties& properties, std::u16string_view node_name);
    // load_form that throws virire::NodeNotFoundInSkin when the node is missing.
    void require_form(Properties& properties, std::u16string_view node_name);
    // The node the form was last loaded from.
    const std::u16string& node_name() const { return m_node_name; }

    void load(Properties& properties, NodeDir dir) override;
    // Reloads from the same node (throws virire::NodeNotFoundInSkin when the new skin lacks
    // it), then runs reloaded(). Asked while input is passing through this form (a choice in a
    // menu reloads the skin), the rebuild waits until that input has left the tree.
    void reload_skin(Properties& properties) override;

    SkinColor outside_color() const { return m_outside_color; }

    // The control with this id (find_child) as kind T, told of size changes through
    // size_listener when one is given. Throws virire::NodeNotFound (form id, control id) when
    // there is none, or it is of another kind.
    template <typename T>
    T& find_control(std::u16string_view id, SizeListener* size_listener = nullptr) {
        T* control = dynamic_cast<T*>(find_child(id));
        if (!control)
            throw virire::NodeNotFound(this->id(), std::u16string(id));
        if (size_listener)
            control->set_size_listener(size_listener);
        return *control;
    }

    // Pen input in form coordinates, keys and commands, dispatched to the input handlers.
    void pen_move(const PenEvent& event) override;
    bool pen_button(const PenEvent& event) override;
    bool key(const KeyEvent& event) override;
    bool command(const Command& command) override;

    // Controls subscribe once; a handler leaves (and loses its capture) when removed.
    void add_input_handler(Component& handler);
    void remove_input_handler(Component& handler);
    const std::vector<Component*>& input_handlers() const { return m_input_handlers; }
    const std::vector<Component*>& captured_handlers() const { return m_captured; }

    // The stack that shows the form, kept so that a form destroyed while shown leaves it.
    void set_stack(FormStack* stack) { m_stack = stack; }

    // What changed on the form since the damage was last taken, in form coordinates: a few
    // rectangles (nearby ones merged), or the whole form once they would cover most of it.
    void add_damage(const Rect& rect);
    void damage_all();
    bool damaged() const { return m_damage_all || !m_damage.empty(); }
    // The rectangles to draw again (the form's rectangle when all of it is), and forgets them.
    std::vector<Rect> take_damage();

    // The pixels inside `area` (form coordinates) move by dx along the rows on a screen that
    // keeps the last picture, and the strip they leave is damaged: for a control whose picture
    // only moves (a live waveform), over a backdrop that looks the same along each row.
    // Without such a screen the damage alone does the work.
    struct Scroll {
        Rect area;
        int32_t dx{0};
    };
    void add_scroll(const Rect& area, int32_t dx);
    // The moves to make before the damage is drawn, in order, and forgets them.
    std::vector<Scroll> take_scrolls();

protected:
    // Runs after every rebuild from a reloaded skin: screens look their controls up again here.
    virtual void reloaded() {}

private:
    bool subscribed(const Component* handler) const;
    static bool takes_input(const Component& handler);
    bool dispatch_pen_button(const PenEvent& event);
    void dispatch_pen_move(const PenEvent& event);

    class DispatchScope;

    std::vector<Component*> m_input_handlers;
    std::vector<Component*> m_captured;
    int m_dispatching{0};                  // input calls under way in this form's controls
    Properties* m_reload_pending{nullptr}; // a reload asked for during them
    SkinColor m_outside_color;
    std::u16string m_node_name;
    FormStack* m_stack{nullptr};
    std::vector<Rect> m_damage;
    bool m_damage_all{false};
    std::vector<Scroll> m_scrolls;
};

} // namespace skin
