// The keypad filter over 10,000 records named as the recorder names them: one typed key run
// over every record's artist and title, lower-casing the texts each time (BM_FilterLowering)
// and over texts lower-cased once when the records were listed (BM_FilterKept), as the main
// form does. The argument is the number of keys typed.

#include "screens/record_filter.h"

#include <benchmark/benchmark.h>
#include <string>
#include <vector>

using namespace screens;

namespace {

std::u16string text(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

std::vector<controller::RecordInfo> make_records(size_t count) {
    static const char* artists[] = {"Record",       "Anna Petrova",  "Bob Smith",
                                    "Carla Jones",  "Dmitri Ivanov", "Eva Green",
                                    "Frank Miller", "(Nina) Office", "+44 20 7946 0958"};
    static const char* words[] = {"meeting", "shopping", "idea", "lecture", "interview", "call"};
    std::vector<controller::RecordInfo> records(count);
    for (size_t i = 0; i < count; ++i) {
        records[i].artist = text(artists[i % std::size(artists)]);
        records[i].title =
            text(std::to_string(1 + i % 28) + " December 2026 " + std::to_string(10 + i % 13) +
                 ":" + std::to_string(10 + i % 50) + ":0" + std::to_string(i % 10) + " " +
                 words[i % std::size(words)] + " " + std::to_string(i));
    }
    return records;
}

KeyMap phone_keys() {
    KeyMap keys;
    const char* sets[] = {"0",    "1",    "abc2",  "def3", "ghi4",
                          "jkl5", "mno6", "pqrs7", "tuv8", "wxyz9"};
    for (char16_t k = u'0'; k <= u'9'; ++k)
        keys.set(k, text(sets[k - u'0']));
    return keys;
}

const std::u16string typed = u"2632";

void BM_FilterLowering(benchmark::State& state) {
    const auto records = make_records(10000);
    const KeyMap keys = phone_keys();
    const std::u16string filter = typed.substr(0, size_t(state.range(0)));
    size_t listed = 0;
    for (auto _ : state)
        listed = visible_records(records, filter, keys).size();
    state.counters["listed"] = double(listed);
}

void BM_FilterKept(benchmark::State& state) {
    const auto records = make_records(10000);
    LoweredRecords lower;
    for (const auto& record : records)
        lower.push_back(std::make_unique<const LoweredRecord>(lowered(record)));
    const KeyMap keys = phone_keys();
    const std::u16string filter = typed.substr(0, size_t(state.range(0)));
    size_t listed = 0;
    for (auto _ : state)
        listed = visible_records(lower, filter, keys).size();
    state.counters["listed"] = double(listed);
}

} // namespace

BENCHMARK(BM_FilterLowering)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilterKept)->DenseRange(1, 3)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
