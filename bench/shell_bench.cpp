// The process runner under a program that floods its error output: throughput, and the
// peak memory the run adds (it keeps only the last lines, so it must stay flat); and
// what starting a short program costs a process as large as the window.

#include "formats/convert_error.h"
#include "tools/shell.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstring>
#include <memory>

namespace {

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void floodErrorOutput(benchmark::State& state) {
    const auto megabytes = state.range(0);
    // Lines of 100 bytes, the way a chatty encoder writes them.
    const std::string script =
        "yes 'xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"
        "xxxxxxxxxxxxxxxxxxxxxxxxxx' | head -c " +
        std::to_string(megabytes * 1'000'000) + " >&2";
    const long before = peakKilobytes();
    for (auto _ : state) {
        auto out = lumatra::Shell::run("/bin/sh", {"-c", script});
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * megabytes * 1'000'000);
    state.counters["peak_rss_growth_kB"] = static_cast<double>(peakKilobytes() - before);
}
BENCHMARK(floodErrorOutput)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(3);

void floodOneLongLine(benchmark::State& state) {
    const long before = peakKilobytes();
    for (auto _ : state) {
        auto out =
            lumatra::Shell::run("/bin/sh", {"-c", "head -c 100000000 /dev/zero | tr '\\0' x >&2"});
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(state.iterations() * 100'000'000);
    state.counters["peak_rss_growth_kB"] = static_cast<double>(peakKilobytes() - before);
}
BENCHMARK(floodOneLongLine)->Unit(benchmark::kMillisecond)->Iterations(3);

void progressLines(benchmark::State& state) {
    // Standard-output lines reach the handler one by one, as ffmpeg's progress does.
    std::size_t seen = 0;
    for (auto _ : state) {
        lumatra::Shell::run("/bin/sh", {"-c", "seq 1 200000"}, [&](std::string_view) { ++seen; });
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(seen));
}
BENCHMARK(progressLines)->Unit(benchmark::kMillisecond);

void startShortProgram(benchmark::State& state) {
    // Resident memory the way the window holds it (its libraries, scene and images):
    // starting a program must not cost in proportion to it.
    const auto megabytes = static_cast<std::size_t>(state.range(0));
    const auto held = std::make_unique<char[]>(megabytes << 20);
    std::memset(held.get(), 1, megabytes << 20);
    benchmark::DoNotOptimize(held.get());
    for (auto _ : state)
        lumatra::Shell::run("/bin/true", {});
}
BENCHMARK(startShortProgram)->Arg(0)->Arg(300)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
