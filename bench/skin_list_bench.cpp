// One frame of a record list: 20 rows of a nine-part background, an icon and two texts drawn
// into a 480 x 640 surface. BM_ListFrame has Latin names; BM_ListFrameMixedScripts names callers
// in Chinese, Arabic, Hebrew, Hindi, Russian and with emoji, which come from stand-in faces,
// are shaped and laid out right to left, and are cut with an ellipsis.

#include "skin/bitmap.h"
#include "skin/font_rep.h"
#include "skin/skin_picture.h"

#include <benchmark/benchmark.h>
#include <iterator>
#include <string>
#include <vector>

using namespace skin;

namespace {

std::shared_ptr<Bitmap> art(int size, bool round) {
    auto surface = Surface::create(size, size);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            int dx = std::min(x, size - 1 - x), dy = std::min(y, size - 1 - y);
            uint16_t p = uint16_t(0x2A4D | opaque_bit);
            if (round && dx + dy < 3)
                p = key_color;
            else if (round && dx + dy == 3)
                p = 0x1082;
            surface->set_pixel(x, y, p);
        }
    return std::make_shared<Bitmap>(u"art", std::move(surface));
}

void draw_list(benchmark::State& state, const std::vector<std::u16string>& names,
               const std::vector<std::u16string>& details) {
    constexpr int width = 480, height = 640, rows = 20, row_height = height / rows;
    RenderSurface target;
    target.recreate(width, height);
    SkinPicture background(art(16, true), {0, 0}, {6, 6}, {10, 10}, {16, 16}, false, Scale{});
    SkinPicture icon(art(12, true), {0, 0}, {0, 0}, {24, 24}, {24, 24}, false, Scale{});
    FontSpec name_spec;
    name_spec.size = 8;
    name_spec.scale = Scale::whole(2);
    name_spec.bold = true;
    FontSpec detail_spec;
    detail_spec.size = 7;
    detail_spec.scale = Scale::whole(2);
    FontRep name_font(name_spec), detail_font(detail_spec);
    for (auto _ : state) {
        for (int i = 0; i < rows; ++i) {
            int y = i * row_height;
            background.draw(target, Rect::of_size(0, y, width, row_height), Blend::copy());
            icon.draw(target, Rect::of_size(4, y + 4, 24, 24), Blend::keyed(2));
            name_font.draw_text(target, SkinColor{255, 255, 255}, names[i % names.size()], 34, y,
                                300, row_height / 2 + 2, HAlign::Left, VAlign::Bottom, false);
            detail_font.draw_text(target, SkinColor{170, 200, 235}, details[i % details.size()], 34,
                                  y + row_height / 2, 440, row_height / 2, HAlign::Left,
                                  VAlign::Top, false);
        }
        benchmark::ClobberMemory();
    }
}

void BM_ListFrame(benchmark::State& state) {
    std::vector<std::u16string> names, details;
    for (int i = 0; i < 20; ++i) {
        std::string n = "Record 2026-12-06 14:" + std::to_string(10 + i);
        std::string d = std::to_string(i) + ":42  64 kbit/s  incoming call from a long name";
        names.emplace_back(n.begin(), n.end());
        details.emplace_back(d.begin(), d.end());
    }
    draw_list(state, names, details);
}
BENCHMARK(BM_ListFrame)->Unit(benchmark::kMillisecond)->Repetitions(9)->ReportAggregatesOnly(true);

void BM_ListFrameMixedScripts(benchmark::State& state) {
    const std::u16string callers[] = {
        u"\u674E\u5C0F\u660E",                                                  // Chinese
        u"\u0645\u062D\u0645\u062F \u0627\u0644\u0639\u0644\u064A",             // Arabic
        u"\u05E9\u05E8\u05D4 \u05DB\u05D4\u05DF",                               // Hebrew
        u"\u0930\u093E\u0939\u0941\u0932 \u0936\u0930\u094D\u092E\u093E",       // Hindi
        u"Anna \U0001F600\U0001F4DE",                                           // emoji
        u"\u0410\u043D\u043D\u0430 \u041F\u0435\u0442\u0440\u043E\u0432\u0430", // Russian
        u"Record",
    };
    std::vector<std::u16string> names, details;
    for (int i = 0; i < 20; ++i) {
        const std::u16string& caller = callers[i % std::size(callers)];
        std::string time = " 2026-12-06 14:" + std::to_string(10 + i);
        std::string d = std::to_string(i) + ":42  64 kbit/s  incoming call from ";
        names.push_back(caller + std::u16string(time.begin(), time.end()));
        // Long enough to be cut with an ellipsis in the row.
        details.push_back(std::u16string(d.begin(), d.end()) + caller + u" " + caller + u" " +
                          caller + u" " + caller);
    }
    draw_list(state, names, details);
}
BENCHMARK(BM_ListFrameMixedScripts)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(9)
    ->ReportAggregatesOnly(true);

// Rows never drawn before (a list scrolled to new records): 20 mixed-script names shaped and
// measured afresh each iteration.
void BM_MeasureNewMixedNames(benchmark::State& state) {
    FontSpec spec;
    spec.size = 8;
    spec.scale = Scale::whole(2);
    FontRep font(spec);
    const std::u16string callers[] = {
        u"\u674E\u5C0F\u660E", u"\u0645\u062D\u0645\u062F \u0627\u0644\u0639\u0644\u064A",
        u"\u05E9\u05E8\u05D4 \u05DB\u05D4\u05DF", u"\u0930\u093E\u0939\u0941\u0932",
        u"Anna \U0001F600\U0001F4DE"};
    int serial = 0;
    for (auto _ : state) {
        int32_t total = 0;
        for (int i = 0; i < 20; ++i) {
            std::string n = " " + std::to_string(++serial);
            total += font.text_width(callers[i % std::size(callers)] +
                                     std::u16string(n.begin(), n.end()));
        }
        benchmark::DoNotOptimize(total);
    }
}
BENCHMARK(BM_MeasureNewMixedNames)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
