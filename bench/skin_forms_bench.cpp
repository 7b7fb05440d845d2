// Frames of the form stack at 480 x 640 (the 240 x 320 design on a 192-dpi screen): a transition
// half way ("right" and "flip") between two forms of about 30 components each, the start of such
// a transition (both forms rendered), and a still frame of one form for comparison.

#include "png_convert.h"
#include "skin/component_factory.h"
#include "skin/form.h"
#include "skin/form_stack.h"
#include "skin/properties.h"
#include "skin_source.h"

#include <benchmark/benchmark.h>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

using namespace skin;

namespace {

constexpr int32_t width = 480, height = 640;

// A form of 31 components: a background, a column of seven rows, each row an icon, a caption
// bar with a coloured mark and a spacer; pictures drawn with the keyed blend.
std::string form_source(const std::string& name, const std::string& animation,
                        const std::string& colour) {
    std::string s = "node " + name + " {\n type \"form\"\n string visibility_animation = \"" +
                    animation + "\"\n node { type \"color\" color color = " + colour +
                    "\n  node { type \"vtable\" point border_min = 4, 4 point border_max = 4, 4\n";
    for (int row = 0; row < 7; ++row)
        s += "   node { type \"htable\" int table_ratio = 1\n"
             "    node { type \"image\" picture src = icon outer 0,0 24,24 int alpha = 255 "
             "int grow = 1 }\n"
             "    node { type \"color\" color color = #405060 int table_ratio = 1\n"
             "     node { type \"color\" color color = #E0C040 point border_min = 4, 8 "
             "point border_max = 60, 8 } }\n"
             "   }\n";
    s += "  }\n }\n}\n";
    return s;
}

class Fixture {
public:
    Fixture() {
        m_dir = std::filesystem::temp_directory_path() /
                ("qv_forms_bench_" + std::to_string(std::random_device{}()));
        std::filesystem::create_directories(m_dir);
        std::vector<uint16_t> icon(24 * 24);
        for (int i = 0; i < 24 * 24; ++i)
            icon[size_t(i)] = (i % 24 + i / 24) % 5 == 0 ? key_color : uint16_t(0x07E0 | 0x1004);
        auto bmp = skinc::encode_bmp_565(24, 24, icon.data(), 24);
        std::ofstream(m_dir / "icon.bmp", std::ios::binary)
            .write(reinterpret_cast<const char*>(bmp.data()), std::streamsize(bmp.size()));
        std::string source = "picture icon\n" + form_source("FormA", "", "#F0F0F0") +
                             form_source("FormRight", "right", "#2050A0") +
                             form_source("FormFlip", "flip", "#A05020");
        auto skin = skinc::parse_skin(source, m_dir / "bench.skn");
        auto bytes = skinc::write_skin(skin, "bench.skn");
        std::ofstream(m_dir / "bench.skin", std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        register_framework_components(ComponentFactory::instance());
        if (!properties.load_skin((m_dir / "bench.skin").u16string(), 192))
            std::abort();
        target.recreate(width, height);
    }
    ~Fixture() {
        unregister_framework_components(ComponentFactory::instance());
        std::filesystem::remove_all(m_dir);
    }
    std::unique_ptr<Form> form(const char16_t* name) {
        auto f = std::make_unique<Form>(properties);
        f->require_form(properties, name);
        return f;
    }

    Properties properties;
    RenderSurface target;

private:
    std::filesystem::path m_dir;
};

void transition_frame(benchmark::State& state, const char16_t* name) {
    Fixture fixture;
    auto a = fixture.form(u"FormA");
    auto b = fixture.form(name);
    FormStack stack;
    stack.set_screen_size(width, height);
    stack.show_form(*a);
    stack.draw(fixture.target);
    stack.show_form(*b);
    stack.tick(stack.transition()->duration() / 2);
    for (auto _ : state) {
        stack.draw(fixture.target);
        benchmark::ClobberMemory();
    }
}

void BM_TransitionFrameRight(benchmark::State& state) {
    transition_frame(state, u"FormRight");
}
void BM_TransitionFrameFlip(benchmark::State& state) {
    transition_frame(state, u"FormFlip");
}

// Showing the form (the old screen and the new form are rendered) and closing it again (both
// rendered once more), each transition run to its end.
void BM_TransitionStartRight(benchmark::State& state) {
    Fixture fixture;
    auto a = fixture.form(u"FormA");
    auto b = fixture.form(u"FormRight");
    FormStack stack;
    stack.set_screen_size(width, height);
    stack.show_form(*a);
    for (auto _ : state) {
        stack.show_form(*b);
        stack.tick(1.0);
        stack.close_form(*b);
        stack.tick(1.0);
        benchmark::ClobberMemory();
    }
}

// A still frame of the 31-component form with everything measured, laid out and drawn anew.
void BM_StillFrame(benchmark::State& state) {
    Fixture fixture;
    auto a = fixture.form(u"FormA");
    FormStack stack;
    stack.set_screen_size(width, height);
    stack.show_form(*a);
    for (auto _ : state) {
        a->invalidate_tree();
        stack.draw(fixture.target);
        benchmark::ClobberMemory();
    }
}

BENCHMARK(BM_TransitionFrameRight)->Unit(benchmark::kMillisecond)->Repetitions(15);
BENCHMARK(BM_TransitionFrameFlip)->Unit(benchmark::kMillisecond)->Repetitions(15);
BENCHMARK(BM_TransitionStartRight)->Unit(benchmark::kMillisecond)->Repetitions(5);
BENCHMARK(BM_StillFrame)->Unit(benchmark::kMillisecond)->Repetitions(5);

} // namespace

BENCHMARK_MAIN();
