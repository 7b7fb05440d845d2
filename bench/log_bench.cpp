// A log statement with logging off: the switch is checked and the arguments formatted.

#include "foundation/log.h"
#include "platform/registry_store.h"

#include <benchmark/benchmark.h>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

void BM_LogStatementOff(benchmark::State& state) {
    char pattern[] = "/tmp/qv-log-bench-XXXXXX";
    const char* dir = mkdtemp(pattern);
    setenv("QUILLORY_CONFIG_DIR", dir, 1);
    platform::registry_close();
    platform::registry_write_dword(platform::RegistryRoot::CurrentUser, "Software\\Corvane", "Log",
                                   0);
    int i = 0;
    for (auto _ : state) {
        foundation::log() << "Document::check ticks=" << i << " level=" << 0.5 << "\n";
        ++i;
    }
    platform::registry_close();
    std::string command = std::string("rm -rf '") + dir + "'";
    benchmark::DoNotOptimize(std::system(command.c_str()));
}
BENCHMARK(BM_LogStatementOff)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
