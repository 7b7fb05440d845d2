#pragma once

// "vlist": a vertically scrolling list of rows made by a provider for the items in view. Rows
// out of view are recycled; the pen drags the content, a fast release flings it with braking,
// content pulled past an end springs back, and rows change height smoothly (a removed row
// shrinks away). Only the rows in view (and a few spare) exist, whatever the item count. A list
// whose rows do not all fit (a menu in a turned phone's window) may shade the edge they lie
// beyond.
// User-interface thread only.

#include "skin/component.h"
#include "skin/form.h"

#include <deque>
#include <memory>
#include <vector>

namespace skin {

class VList;

// A row of a list: a form loaded from a named node, bound to one item at a time.
class VListRow : public Form {
public:
    explicit VListRow(Properties& properties) : Form(properties) {}
    // The list assigns the row to an item (and again when the item is refreshed).
    virtual void bind(VList& list, int32_t index) = 0;
    // Whether a spare row may be bound to this item (rows of another template may not).
    virtual bool fits(VList&, int32_t) const { return true; }
    int32_t item_index() const { return m_index; }

private:
    friend class VList;
    int32_t m_index{-1};
    double m_height{0.0}; // shown height, moving toward the measured one
    int32_t m_target{0};  // measured height
    bool m_removing{false};
};

class VListProvider {
public:
    virtual void item_tapped(VList& list, int32_t index) = 0;
    virtual std::unique_ptr<VListRow> create_row(VList& list, int32_t index) = 0;
    // A row held still for long_press_seconds; its release then taps nothing.
    virtual void item_long_pressed(VList&, int32_t) {}

protected:
    ~VListProvider() = default;
};

// The pen's velocity over its recent samples.
class VelocityTracker {
public:
    static constexpr int32_t min_step = 10;
    static constexpr size_t max_samples = 25;
    static constexpr uint32_t window_ms = 250;
    static constexpr uint32_t min_span_ms = 50;

    void reset() { m_samples.clear(); }
    void add(int32_t x, int32_t y, uint32_t time);
    // Pixels per second on each axis; 0 when the samples span less than 50 ms.
    double velocity_x() const;
    double velocity_y() const;
    size_t size() const { return m_samples.size(); }

private:
    struct Sample {
        int32_t x;
        int32_t y;
        uint32_t time;
    };
    double velocity(bool y) const;
    std::deque<Sample> m_samples;
};

class VList : public Component {
public:
    static constexpr double max_fling = 2000.0;
    static constexpr double height_rate = 200.0;
    static constexpr double spring_rate = 400.0;
    // Rows kept alive out of view for reuse.
    static constexpr size_t spare_rows = 4;

    // The command of a wheel turned over the list: amount pixels towards the end.
    static constexpr uint32_t command_wheel = 3;
    // How long a row is held before it counts as a long press.
    static constexpr double long_press_seconds = 0.5;

    explicit VList(Component* parent);
    ~VList() override;
    std::u16string_view type_name() const override { return u"vlist"; }

    void load(Properties& properties, NodeDir dir) override;
    void tick(double seconds) override;
    bool in_motion() const override;
    void draw(RenderSurface& target, SkinPoint origin) override;
    void lay_out_children_x() override;
    void lay_out_children_y() override;
    Measure measure_height() override;
    bool pen_button(const PenEvent& event) override;
    void pen_move(const PenEvent& event) override;
    bool command(const Command& command) override;

    void set_provider(VListProvider* provider);
    int32_t item_count() const { return m_count; }
    // Drops every row; rows are made again for the new count.
    void set_item_count(int32_t count);
    void refresh_item(int32_t index);
    // A new item at index (0 .. count): later items move down by one. In view, its row grows
    // from nothing; above the view, the position follows so the visible rows stay put; below
    // it, nothing on screen changes.
    void insert_item(int32_t index);
    void remove_item(int32_t index);
    // Scrolls the least distance that shows the whole item (its top when it is taller than
    // the list).
    void scroll_into_view(int32_t index);
    int32_t selected() const { return m_selected; }
    void set_selected(int32_t index);
    // The scroll position: scroll_border_min at rest at the top, growing downwards.
    double position() const { return m_position; }
    void set_position(double position);
    // Moves the content as a pen drag of dy pixels would (a wheel), within the rest range.
    void scroll_by(int32_t dy);
    double speed() const { return m_speed; }
    // Where the position may rest.
    double min_position() const;
    double max_position() const;
    bool locked() const { return m_locked; }
    // Whether rows lie beyond the view above (false) or below (true); with "scroll_cue" (the
    // height of a shade along that edge) the list shows it.
    bool rows_beyond(bool below) const;
    bool shows_scroll_cue(bool below) const { return m_cue > 0 && rows_beyond(below); }

    // The live rows (in view, shrinking, or spare), for inspection.
    const std::vector<std::unique_ptr<VListRow>>& rows() const { return m_rows; }
    // The row bound to an item, or none.
    VListRow* row_of(int32_t index) const;
    // Rows the provider has made since the count was last set.
    int64_t rows_created() const { return m_rows_created; }
    int32_t pressed_index() const { return m_pressed ? m_pressed->m_index : -1; }
    const VelocityTracker& tracker() const { return m_tracker; }

private:
    double total_height() const;
    double top_of(int32_t index) const;
    double estimate() const { return m_estimate; }
    void update_rows();
    void place_rows();
    VListRow* take_row(int32_t index);
    void bind_row(VListRow& row, int32_t index);
    void measure_row(VListRow& row);
    void update_row_state(VListRow& row);
    VListRow* row_at(int32_t y) const;
    void release_press();

    VListProvider* m_provider{nullptr};
    std::vector<std::unique_ptr<VListRow>> m_rows;
    std::vector<std::unique_ptr<VListRow>> m_spare;
    VelocityTracker m_tracker;
    int32_t m_count{0};
    int32_t m_selected{-1};
    int32_t m_border_min{0};
    int32_t m_border_max{0};
    int32_t m_cue{0};
    bool m_locked{false};
    bool m_grow{false};
    double m_position{0.0};
    double m_speed{0.0};
    double m_estimate{0.0};
    int64_t m_rows_created{0};
    // Pen state.
    bool m_pen_down{false};
    bool m_dragging{false};
    bool m_row_took_pen{false};
    VListRow* m_pressed{nullptr};
    double m_held{0.0}; // how long m_pressed has been held still
    int32_t m_press_y{0};
    int32_t m_last_y{0};
};

} // namespace skin
