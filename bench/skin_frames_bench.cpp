// Frames of the shipped skin's forms as the program draws them into a back buffer that keeps
// the last frame, at 480 x 640 (the skin at 2x, a desktop) and at 1080 x 2160 (a phone at output
// scale 3, the skin at 4x):
//   tick        the recording form a tenth of a second on: the clock, the file size and the
//               level changed; only they are drawn again
//   tick+wave   the same with the live waveform's new columns (the older ones move left)
//   fling       a frame of the main form's record list flung at speed (the list moves by the
//               frame's distance and is drawn again)
//   transition  a frame of the recording form's transition over the main form, half way
//   full        the recording form drawn whole (what every frame cost before damage was kept)
// The figure is the CPU time of the draw; showing the frame is the display's part.

#include "platform/timing_trace.h"
#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/progress.h"
#include "skin/properties.h"
#include "skin/vlist.h"
#include "skin/waveform.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

using namespace skin;

namespace {

struct Size {
    int32_t width;
    int32_t height;
    int32_t dpi;
};

constexpr Size sizes[] = {{480, 640, 192}, {1080, 2160, 384}};

const Size& size_of(const benchmark::State& state) {
    return sizes[size_t(state.range(0))];
}

std::u16string skin_path() {
    return (std::filesystem::path(QV_BENCH_SKINS) / "default.skin").u16string();
}

// The shipped skin at the size's density, a stack at the size and its back buffer.
class Screen {
public:
    explicit Screen(const Size& size) {
        register_framework_components(ComponentFactory::instance());
        m_loaded = properties.load_skin(skin_path(), size.dpi);
        stack.set_screen_size(size.width, size.height);
        target.recreate(size.width, size.height);
    }
    ~Screen() { unregister_framework_components(ComponentFactory::instance()); }
    bool loaded() const { return m_loaded; }

    std::unique_ptr<Form> form(const char16_t* name) {
        auto form = std::make_unique<Form>(properties);
        if (!form->load_form(properties, name))
            return nullptr;
        return form;
    }

    Properties properties;
    FormStack stack;
    RenderSurface target;

private:
    bool m_loaded{false};
};

// A row of the record list, from the skin's "Record" node, with a name and a date.
class Row final : public VListRow {
public:
    explicit Row(Properties& properties) : VListRow(properties) {
        require_form(properties, u"Record");
    }
    void bind(VList&, int32_t index) override {
        set_text_by_id(u"name", u"Meeting notes " + std::u16string(1, u'A' + index % 26));
        set_text_by_id(u"artist",
                       u"Monday 7 December, 14:" + std::u16string(1, u'0' + index % 6) + u"0");
        invalidate();
    }
};

class Rows final : public VListProvider {
public:
    explicit Rows(Properties& properties) : m_properties(properties) {}
    void item_tapped(VList&, int32_t) override {}
    std::unique_ptr<VListRow> create_row(VList&, int32_t) override {
        return std::make_unique<Row>(m_properties);
    }

private:
    Properties& m_properties;
};

// The recording form's changes of one tick: a new second, a larger file, another level and,
// when asked, a new column of the live waveform.
void recording_tick(Form& form, int64_t step, bool wave) {
    const std::u16string second =
        std::u16string(1, u'0' + step % 6) + u"" + std::u16string(1, u'0' + (step / 6) % 10);
    form.set_text_by_id(u"frmElapsed", u"00:" + second);
    form.set_text_by_id(u"frmSize", std::u16string(1, u'1' + step % 9) + u"48 KB");
    if (auto* level = dynamic_cast<Progress*>(form.find_child(u"pbLevel")))
        level->set_value(0.3 + 0.3 * std::sin(double(step)));
    auto* live = wave ? dynamic_cast<Waveform*>(form.find_child(u"liveWave")) : nullptr;
    if (live) {
        // Six seconds across the width: a tenth of a second is a sixtieth of it, scrolled in.
        const size_t width = size_t(std::max(0, live->width()));
        std::vector<Waveform::Column> columns(step == 1 ? width : std::max<size_t>(1, width / 60));
        for (size_t i = 0; i < columns.size(); ++i) {
            const float peak = float(std::fabs(std::sin(double(i + size_t(step)) * 0.05)));
            columns[i] = {peak, peak / 2};
        }
        if (step == 1)
            live->set_columns(std::move(columns));
        else
            live->scroll_columns(columns);
    }
}

void recording_ticks(benchmark::State& state, bool wave) {
    Screen screen(size_of(state));
    auto form = screen.form(u"FormRecording");
    if (!screen.loaded() || !form) {
        state.SkipWithError("the shipped skin or its recording form does not load");
        return;
    }
    screen.stack.show_form(*form);
    screen.stack.tick(1.0);
    recording_tick(*form, 1, wave);
    screen.stack.tick(0.1);
    screen.stack.draw(screen.target, true);
    screen.stack.draw(screen.target, true);
    int64_t step = 1;
    int64_t pixels = 0;
    for (auto _ : state) {
        recording_tick(*form, ++step, wave);
        screen.stack.tick(0.1);
        screen.stack.draw(screen.target, true);
        for (const Rect& r : screen.stack.drawn())
            pixels += int64_t(r.width()) * r.height();
        benchmark::ClobberMemory();
    }
    state.counters["drawn_pixels"] = double(pixels) / double(std::max<int64_t>(1, step));
}

void BM_RecordingTick(benchmark::State& state) {
    recording_ticks(state, false);
}
void BM_RecordingTickWithWave(benchmark::State& state) {
    recording_ticks(state, true);
}

void BM_RecordingFullFrame(benchmark::State& state) {
    Screen screen(size_of(state));
    auto form = screen.form(u"FormRecording");
    if (!screen.loaded() || !form) {
        state.SkipWithError("the shipped skin or its recording form does not load");
        return;
    }
    screen.stack.show_form(*form);
    screen.stack.tick(1.0);
    int64_t step = 0;
    for (auto _ : state) {
        recording_tick(*form, ++step, true);
        screen.stack.tick(0.1);
        screen.stack.draw(screen.target, false);
        benchmark::ClobberMemory();
    }
}

void BM_ListFlingFrame(benchmark::State& state) {
    Screen screen(size_of(state));
    auto form = screen.form(u"FormMain");
    auto* list = form ? dynamic_cast<VList*>(form->find_child(u"list")) : nullptr;
    if (!screen.loaded() || !list) {
        state.SkipWithError("the shipped skin or its main form does not load");
        return;
    }
    Rows rows(screen.properties);
    list->set_provider(&rows);
    list->set_item_count(2000);
    screen.stack.show_form(*form);
    screen.stack.tick(1.0);
    screen.stack.draw(screen.target, true);
    // 1500 pixels a second at 60 frames a second, to and fro over the list.
    const double step = 1500.0 / 60.0;
    double direction = 1.0;
    std::vector<double> frames;
    for (auto _ : state) {
        const int64_t cpu = platform::thread_cpu_us();
        double next = list->position() + direction * step;
        if (next > list->max_position() || next < list->min_position()) {
            direction = -direction;
            next = list->position() + direction * step;
        }
        list->set_position(next);
        screen.stack.tick(1.0 / 60.0);
        screen.stack.draw(screen.target, true);
        benchmark::ClobberMemory();
        frames.push_back(double(platform::thread_cpu_us() - cpu) / 1000.0);
    }
    // Each frame's own CPU time: the median and the 99th percentile.
    std::sort(frames.begin(), frames.end());
    if (!frames.empty()) {
        state.counters["median_ms"] = frames[frames.size() / 2];
        state.counters["p99_ms"] = frames[std::min(frames.size() - 1, frames.size() * 99 / 100)];
    }
}

void BM_TransitionFrame(benchmark::State& state) {
    Screen screen(size_of(state));
    auto main = screen.form(u"FormMain");
    auto recording = screen.form(u"FormRecording");
    if (!screen.loaded() || !main || !recording) {
        state.SkipWithError("the shipped skin or its forms do not load");
        return;
    }
    screen.stack.show_form(*main);
    screen.stack.draw(screen.target, true);
    screen.stack.show_form(*recording);
    if (!screen.stack.transition()) {
        state.SkipWithError("the recording form has no transition");
        return;
    }
    screen.stack.tick(screen.stack.transition()->duration() / 2);
    for (auto _ : state) {
        screen.stack.request_repaint();
        screen.stack.draw(screen.target, true);
        benchmark::ClobberMemory();
    }
}

// size/0 is 480 x 640, size/1 is 1080 x 2160; the CPU time of the drawing thread counts.
void sizes_of(benchmark::internal::Benchmark* b) {
    b->ArgName("size")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();
    b->Repetitions(5)->ReportAggregatesOnly(true);
}

BENCHMARK(BM_RecordingTick)->Apply(sizes_of);
BENCHMARK(BM_RecordingTickWithWave)->Apply(sizes_of);
BENCHMARK(BM_RecordingFullFrame)->Apply(sizes_of);
BENCHMARK(BM_ListFlingFrame)->Apply(sizes_of);
BENCHMARK(BM_TransitionFrame)->Apply(sizes_of);

} // namespace

BENCHMARK_MAIN();
