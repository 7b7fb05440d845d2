// The record list over 10,000 records: a full refresh(), and the background scan that fills the
// list step by step on the UI thread (how long until it is complete, and the longest single
// step the UI thread spends in it).

#include "controller/document.h"
#include "formats/id3_tag.h"
#include "foundation/active_scheduler.h"
#include "foundation/file.h"
#include "platform/messages.h"
#include "platform/registry_store.h"

#include <benchmark/benchmark.h>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {

constexpr int record_count = 10000;

// A private world with 10,000 tagged records in main memory (a quarter in "Incoming").
class World {
public:
    World() {
        m_root = fs::temp_directory_path() / ("qv-storage-bench-" + std::to_string(std::rand()));
        fs::create_directories(m_root / "Documents/My Quillory/Incoming");
        setenv("QUILLORY_CONFIG_DIR", (m_root / "config").c_str(), 1);
        setenv("XDG_DOCUMENTS_DIR", (m_root / "Documents").c_str(), 1);
        setenv("QUILLORY_CARDS", "", 1);
        setenv("QUILLORY_CONTACTS", (m_root / "contacts").c_str(), 1);
        platform::registry_close();
        for (int i = 0; i < record_count; ++i) {
            fs::path folder = m_root / "Documents/My Quillory";
            if (i % 4 == 0)
                folder /= "Incoming";
            const std::u16string path =
                (folder / ("Record " + std::to_string(i) + ".mp3")).u16string();
            foundation::File file(path, foundation::File::WriteNew);
            formats::Id3Tag tag;
            tag.set_text(formats::kId3Artist, u"Record");
            tag.set_text(formats::kId3Title, u"Title " + fs::path(std::to_string(i)).u16string());
            tag.set_text(formats::kId3Album, u"Record");
            if (!tag.write(file, 0) || !file.write("\xFF\xFB\x90\x00", 4))
                throw std::runtime_error("the records to measure could not be written");
        }
    }
    ~World() {
        std::error_code error;
        fs::remove_all(m_root, error);
    }

private:
    fs::path m_root;
};

World& world() {
    static World instance;
    return instance;
}

void BM_Refresh(benchmark::State& state) {
    world();
    foundation::CActiveScheduler scheduler;
    controller::Document document;
    for (auto _ : state) {
        document.refresh();
        benchmark::DoNotOptimize(document.records().size());
    }
    state.counters["records"] = double(document.records().size());
}
BENCHMARK(BM_Refresh)->Unit(benchmark::kMillisecond)->Iterations(3);

class Counter : public controller::DocumentListener {
public:
    int found{0};
    void on_document_event(controller::DocumentEvent event, int) override {
        if (event == controller::DocumentEvent::RecordFound)
            ++found;
    }
};

void BM_BackgroundScan(benchmark::State& state) {
    world();
    double longest_step_ms = 0;
    double start_ms = 0;
    double longest_cpu_ms = 0;
    double complete_ms = 0;
    int slow_steps = 0;
    int steps = 0;
    std::size_t records = 0;
    for (auto _ : state) {
        foundation::CActiveScheduler scheduler;
        controller::Document document;
        Counter counter;
        document.add_listener(&counter);
        using clock = std::chrono::steady_clock;
        const auto start = clock::now();
        document.load_secondary_things();
        start_ms = std::chrono::duration<double, std::milli>(clock::now() - start).count();
        while (document.scanning()) {
            platform::Message message;
            if (!platform::peek_message(message)) {
                platform::wait_message(1);
                continue;
            }
            const auto before = clock::now();
            const std::clock_t cpu_before = std::clock();
            platform::dispatch_message(message);
            const double step =
                std::chrono::duration<double, std::milli>(clock::now() - before).count();
            longest_cpu_ms = std::max(longest_cpu_ms,
                                      double(std::clock() - cpu_before) * 1000.0 / CLOCKS_PER_SEC);
            longest_step_ms = std::max(longest_step_ms, step);
            ++steps;
            if (step > 20)
                ++slow_steps;
        }
        complete_ms = std::chrono::duration<double, std::milli>(clock::now() - start).count();
        records = document.records().size();
        document.remove_listener(&counter);
        state.SetIterationTime(complete_ms / 1000.0);
    }
    state.counters["records"] = double(records);
    state.counters["complete_ms"] = complete_ms;
    state.counters["longest_step_ms"] = longest_step_ms;
    state.counters["start_ms"] = start_ms;
    state.counters["longest_step_cpu_ms"] = longest_cpu_ms;
    state.counters["steps"] = steps;
    state.counters["steps_over_20ms"] = slow_steps;
}
BENCHMARK(BM_BackgroundScan)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

// Records arriving from elsewhere: 1,000 tagged records moved into the watched folder at once
// (as a file manager drops them) beside the 10,000 listed. How long until every one has its
// row, and the longest single step the UI thread spends on them.
void BM_RecordsMovedIn(benchmark::State& state) {
    world();
    constexpr int arriving = 1000;
    const fs::path documents(std::getenv("XDG_DOCUMENTS_DIR"));
    const fs::path staging = documents / "staging";
    double complete_ms = 0, longest_step_ms = 0;
    int steps_over_20ms = 0;
    for (auto _ : state) {
        fs::create_directories(staging);
        for (int i = 0; i < arriving; ++i) {
            foundation::File file((staging / ("Arrived " + std::to_string(i) + ".mp3")).u16string(),
                                  foundation::File::WriteNew);
            formats::Id3Tag tag;
            tag.set_text(formats::kId3Title, u"Arrived " + fs::path(std::to_string(i)).u16string());
            if (!tag.write(file, 0) || !file.write("\xFF\xFB\x90\x00", 4))
                throw std::runtime_error("the records to measure could not be written");
        }
        foundation::CActiveScheduler scheduler;
        controller::Document document;
        document.refresh();
        Counter counter;
        document.add_listener(&counter);
        using clock = std::chrono::steady_clock;
        const auto start = clock::now();
        for (const auto& entry : fs::directory_iterator(staging))
            fs::rename(entry.path(), documents / "My Quillory" / entry.path().filename());
        while (counter.found < arriving) {
            platform::Message message;
            if (!platform::peek_message(message)) {
                platform::wait_message(1);
                continue;
            }
            const auto before = clock::now();
            platform::dispatch_message(message);
            const double step =
                std::chrono::duration<double, std::milli>(clock::now() - before).count();
            longest_step_ms = std::max(longest_step_ms, step);
            steps_over_20ms += step > 20;
        }
        complete_ms = std::chrono::duration<double, std::milli>(clock::now() - start).count();
        document.remove_listener(&counter);
        state.SetIterationTime(complete_ms / 1000.0);
        for (const auto& entry : fs::directory_iterator(documents / "My Quillory"))
            if (entry.path().filename().string().rfind("Arrived ", 0) == 0)
                fs::remove(entry.path());
    }
    state.counters["complete_ms"] = complete_ms;
    state.counters["longest_step_ms"] = longest_step_ms;
    state.counters["steps_over_20ms"] = steps_over_20ms;
}
BENCHMARK(BM_RecordsMovedIn)->Unit(benchmark::kMillisecond)->Iterations(1)->UseManualTime();

} // namespace

BENCHMARK_MAIN();
