// The step conversion: short texts as people write them, and long texts to
// show that the cost grows with the length and no faster.
#include <benchmark/benchmark.h>
#include <string>

#include "driver/step.h"

namespace {

void convert(benchmark::State& state, const std::string& text) {
    for (auto _ : state)
        benchmark::DoNotOptimize(parseStep(text));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void plain(benchmark::State& state) {
    convert(state, "150:25:1:80");
}
BENCHMARK(plain);

void withJunk(benchmark::State& state) {
    convert(state, "x:150::25ms:25: 1:1:80:");
}
BENCHMARK(withJunk);

void withMultibyte(benchmark::State& state) {
    convert(state, "\u00E9:150:\u4E00\u0301:25:1:\U0001F600:80\u0600:\u0903");
}
BENCHMARK(withMultibyte);

// A text of about `state.range(0)` bytes: `head`, then `fill` over and over.
void longText(benchmark::State& state, const std::string& head, const std::string& fill, const std::string& tail = "") {
    std::string text = head;
    while (text.size() + fill.size() + tail.size() <= size_t(state.range(0)))
        text += fill;
    text += tail;
    convert(state, text);
    state.SetComplexityN(int64_t(text.size()));
}

void manyPieces(benchmark::State& state) {
    longText(state, "", "150:");
}
void manyJoiners(benchmark::State& state) {
    longText(state, "", "\u00E9:\u0301\u0600:");
}
// Just above a rounding midpoint: every digit counts.
void oneLongNumber(benchmark::State& state) {
    longText(state, "150:20:0.5000000298023223876953125", "0", "1:0");
}
void oneLongJunk(benchmark::State& state) {
    longText(state, "", "x");
}
BENCHMARK(manyPieces)->RangeMultiplier(8)->Range(1 << 10, 1 << 20)->Complexity();
BENCHMARK(manyJoiners)->RangeMultiplier(8)->Range(1 << 10, 1 << 20)->Complexity();
BENCHMARK(oneLongNumber)->RangeMultiplier(8)->Range(1 << 10, 1 << 20)->Complexity();
BENCHMARK(oneLongJunk)->RangeMultiplier(8)->Range(1 << 10, 1 << 20)->Complexity();

}  // namespace
