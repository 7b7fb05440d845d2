// Frames of the scrolling list and the popup menu at 480 x 640: a list of record rows (a
// background, two labels and a selection mark) flung again and again from the top to the
// bottom, each frame a tick, the layout and the drawing; and the frames of a menu opening with
// its "pop" animation. Per-frame median and 99th percentile are reported as counters, with the
// rows alive and the pixels held, which should not depend on the item count.

#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/menu.h"
#include "skin/properties.h"
#include "skin/vlist.h"
#include "skin_source.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

using namespace skin;

namespace {

constexpr int32_t width = 480, height = 640;

const char* source = R"(
node ListForm {
    type "form"
    node { type "color" color color = #F0F0F0
        node { type "vlist" id "list" point scroll_border_min = 0, 8 point scroll_border_max = 0, 8 }
    }
}
node Record {
    type "form" point design_size = 0, 56
    node { type "color" id "#vlist_normal" color color = #FFFFFF point border_max = 0, 1 }
    node { type "color" id "#vlist_pressed" color color = #FFC040 point border_max = 0, 1 }
    node { type "color" id "#vlist_selected" color color = #C0E0FF point border_max = 0, 1 }
    node { type "text" id "title" string halign = "LEFT" point border_min = 12, 4 point border_max = 90, 28 }
    node { type "text" id "date" string halign = "LEFT" color color = #606060 point border_min = 12, 30 point border_max = 90, 4 }
    node { type "text" id "length" string halign = "RIGHT" point border_min = 390, 4 point border_max = 12, 4 }
}
node Menu {
    type "form"
    node { type "color" id "panel" color color = #303030 string visibility_animation = "pop"
        point border_min = 40, 100 point border_max = 40, 100
        node { type "vtable"
            node { type "text" id "caption" color color = #FFFFFF point design_size = 0, 40 }
            node { type "vlist" id "vlist" int grow = 1 int table_ratio = 1 }
        }
    }
}
node MenuElement {
    type "form" point design_size = 0, 48
    node { type "color" id "checked" color color = #40C040 string anchor_x = "MIN_SIDE" point design_size = 8, 0 }
    node { type "color" id "separator" color color = #808080 string anchor_y = "MAX_SIDE" point design_size = 0, 1 }
    node { type "text" id "#text" color color = #FFFFFF string halign = "LEFT" point border_min = 16, 0 }
}
)";

class Fixture {
public:
    Fixture() {
        m_dir = std::filesystem::temp_directory_path() /
                ("qv_widgets_bench_" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(m_dir);
        auto skin = skinc::parse_skin(source, m_dir / "bench.skn");
        auto bytes = skinc::write_skin(skin, "bench.skn");
        std::ofstream(m_dir / "bench.skin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        register_framework_components(ComponentFactory::instance());
        if (!properties.load_skin((m_dir / "bench.skin").u16string(), 96))
            std::abort();
        target.recreate(width, height);
    }
    ~Fixture() {
        unregister_framework_components(ComponentFactory::instance());
        std::filesystem::remove_all(m_dir);
    }
    Properties properties;
    RenderSurface target;

private:
    std::filesystem::path m_dir;
};

std::u16string u16(const std::string& s) {
    return std::u16string(s.begin(), s.end());
}

class RecordRow : public VListRow {
public:
    explicit RecordRow(Properties& p) : VListRow(p) { require_form(p, u"Record"); }
    void bind(VList&, int32_t index) override {
        // The provider's data: texts made on the spot, as a record list reads them.
        set_text_by_id(u"title", u16("Recording " + std::to_string(index % 97)));
        set_text_by_id(u"date", u16("2026-12-0" + std::to_string(index % 9 + 1)));
        set_text_by_id(u"length", u16(std::to_string(index % 60) + ":00"));
    }
};

struct Records : VListProvider {
    explicit Records(Properties& p) : properties(p) {}
    void item_tapped(VList&, int32_t) override {}
    std::unique_ptr<VListRow> create_row(VList&, int32_t) override {
        return std::make_unique<RecordRow>(properties);
    }
    Properties& properties;
};

// Wall-clock and processor time of each frame; on a shared machine the processor time is what
// the frame itself costs.
struct FrameTimes {
    std::vector<double> wall;
    std::vector<double> cpu;
    std::chrono::steady_clock::time_point wall_start;
    std::clock_t cpu_start{};
    void start() {
        wall_start = std::chrono::steady_clock::now();
        cpu_start = std::clock();
    }
    void stop() {
        cpu.push_back(double(std::clock() - cpu_start) * 1000.0 / CLOCKS_PER_SEC);
        wall.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - wall_start)
                .count());
    }
    void clear() {
        wall.clear();
        cpu.clear();
    }
};

void report(benchmark::State& state, FrameTimes& times) {
    auto stats = [&](std::vector<double>& frames, const std::string& prefix) {
        std::sort(frames.begin(), frames.end());
        if (frames.empty())
            return;
        state.counters[prefix + "median_ms"] = frames[frames.size() / 2];
        state.counters[prefix + "p99_ms"] =
            frames[std::min(frames.size() - 1, frames.size() * 99 / 100)];
        state.counters[prefix + "max_ms"] = frames.back();
    };
    state.counters["frames"] = double(times.wall.size());
    stats(times.wall, "");
    stats(times.cpu, "cpu_");
}

void BM_VListFling(benchmark::State& state) {
    Fixture fx;
    Records records(fx.properties);
    Form f(fx.properties);
    f.require_form(fx.properties, u"ListForm");
    f.place(0, 0, width, height);
    auto* list = dynamic_cast<VList*>(f.find_child(u"list"));
    list->set_provider(&records);
    list->set_item_count(int32_t(state.range(0)));
    FrameTimes frames;
    const int flings = 40;
    for (auto _ : state) {
        frames.clear();
        for (int fling = 0; fling < flings; ++fling) {
            // Fling from evenly spaced places, so that the whole list goes by.
            list->set_position(list->max_position() * fling / flings);
            PenEvent e;
            e.x = 200;
            e.y = 600;
            e.pressed = true;
            f.pen_button(e);
            for (int i = 1; i <= 5; ++i) {
                e.y = 600 - 100 * i;
                e.time = uint32_t(20 * i);
                f.pen_move(e);
            }
            e.pressed = false;
            f.pen_button(e);
            while (list->speed() != 0.0) {
                frames.start();
                f.tick(1.0 / 60);
                f.paint(fx.target, SkinPoint{});
                frames.stop();
            }
        }
    }
    report(state, frames);
    state.counters["rows_alive"] = double(list->rows().size());
    state.counters["surface_pixels"] = double(RenderSurface::total_pixels());
}
BENCHMARK(BM_VListFling)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond)->Iterations(1);

struct MenuItems : MenuProvider {
    void fill_menu(Menu&, std::u16string_view id, std::vector<MenuItem>& items) override {
        if (id != u"main")
            return;
        for (int i = 0; i < 8; ++i)
            items.push_back(MenuItem{u16("item" + std::to_string(i)),
                                     u16("Command " + std::to_string(i)), u"", true, i == 4,
                                     i == 1});
    }
};

void BM_MenuPop(benchmark::State& state) {
    Fixture fx;
    FormStack stack;
    stack.set_screen_size(width, height);
    MenuItems items;
    Menu menu(fx.properties, stack, items, u"Menu");
    FrameTimes frames;
    for (auto _ : state) {
        menu.open(u"main", u"Menu");
        for (int frame = 0; frame < 40; ++frame) {
            frames.start();
            stack.tick(1.0 / 60);
            stack.draw(fx.target);
            frames.stop();
        }
        menu.close();
        stack.tick(1.0);
        stack.draw(fx.target);
    }
    report(state, frames);
}
BENCHMARK(BM_MenuPop)->Unit(benchmark::kMillisecond)->Iterations(20);

} // namespace

BENCHMARK_MAIN();
