// Full-screen 480 x 640 copies through the skin surfaces against memcpy of the same bytes.

#include "skin/blend.h"
#include "skin/surface.h"

#include <benchmark/benchmark.h>
#include <cstring>

using namespace skin;

namespace {

constexpr int width = 480, height = 640;

// A source with the pixel mix of real skin art: a quarter key, half opaque, a quarter soft.
void fill_source(RenderSurface& source) {
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int kind = (x / 7 + y) % 4;
            uint16_t p = kind == 0   ? key_color
                         : kind == 3 ? uint16_t(0x2104)
                                     : uint16_t(0x8430 | opaque_bit);
            source.surface()->set_pixel(x, y, p);
        }
}

void BM_Memcpy(benchmark::State& state) {
    RenderSurface source, target;
    source.recreate(width, height);
    target.recreate(width, height);
    size_t bytes = size_t(source.surface()->pitch()) * height;
    for (auto _ : state) {
        std::memcpy(target.surface()->row(0), source.surface()->row(0), bytes);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes));
}
BENCHMARK(BM_Memcpy);

void blend_bench(benchmark::State& state, const Blend& blend) {
    RenderSurface source, target;
    source.recreate(width, height);
    target.recreate(width, height);
    fill_source(source);
    target.fill(Rect{0, 0, width, height}, Blend::fill(0x4208));
    for (auto _ : state) {
        source.copy(target, 0, 0, Rect{0, 0, width, height}, blend);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * source.surface()->pitch() * height);
}

void BM_Copy(benchmark::State& state) {
    blend_bench(state, Blend::copy());
}
BENCHMARK(BM_Copy);

void BM_KeyedLevel2(benchmark::State& state) {
    blend_bench(state, Blend::keyed(2));
}
BENCHMARK(BM_KeyedLevel2);

} // namespace

BENCHMARK_MAIN();
