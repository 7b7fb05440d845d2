// Loading the shipped skins: the file image, pictures (and their drawings at the skin's scale),
// fonts and strings, at 96, 144 (a phone's 1.5x) and 192 dpi.

#include "skin/properties.h"

#include <benchmark/benchmark.h>
#include <filesystem>

namespace {

std::u16string skin_path(const char* name) {
    return (std::filesystem::path(QV_BENCH_SKINS) / name).u16string();
}

void load(benchmark::State& state, const char* name) {
    const int32_t dpi = static_cast<int32_t>(state.range(0));
    for (auto _ : state) {
        skin::Properties properties;
        if (!properties.load_skin(skin_path(name), dpi)) {
            state.SkipWithError("the skin does not load");
            return;
        }
        benchmark::DoNotOptimize(properties.picture_count());
    }
}

void BM_LoadDefaultSkin(benchmark::State& state) {
    load(state, "default.skin");
}
void BM_LoadSplashSkin(benchmark::State& state) {
    load(state, "splash.skin");
}

BENCHMARK(BM_LoadDefaultSkin)->Arg(96)->Arg(144)->Arg(192)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoadSplashSkin)->Arg(96)->Arg(144)->Arg(192)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
