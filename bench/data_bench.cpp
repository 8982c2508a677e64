// Throughput of the data readers and writers on generated inputs of about 16 MB.
#include "data/csv.h"
#include "data/data_converter.h"
#include "data/json.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

namespace {

using namespace lumatra;

constexpr std::size_t targetSize = 16 << 20;

// Records of the kind exported by programs: ids, names, prices, flags, nested tags.
std::string makeJson() {
    std::mt19937 random(42);
    std::string out = "[\n";
    for (std::size_t i = 0; out.size() < targetSize; ++i) {
        if (i > 0) out += ",\n";
        out += "  {\"id\": " + std::to_string(i) + ", \"name\": \"Товар " +
               std::to_string(random() % 100000) +
               "\", \"price\": " + std::to_string(random() % 10000) + "." +
               std::to_string(random() % 100) +
               ", \"active\": " + (random() % 2 ? "true" : "false") +
               ", \"tags\": [\"a\", \"b\\n\"], \"note\": null}";
    }
    return out + "\n]\n";
}

std::string makeCsv() {
    std::mt19937 random(42);
    std::string out = "id,name,price,city,comment\n";
    while (out.size() < targetSize)
        out += std::to_string(random() % 1000000) + ",Имя " + std::to_string(random() % 1000) +
               "," + std::to_string(random() % 10000) + ".5,Moscow,\"quoted, with comma\"\n";
    return out;
}

const std::string& jsonInput() {
    static const std::string text = makeJson();
    return text;
}

const std::string& csvInput() {
    static const std::string text = makeCsv();
    return text;
}

void jsonParse(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(JSON::parse(jsonInput()));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * jsonInput().size()));
}

void jsonWritePretty(benchmark::State& state) {
    const Node tree = JSON::parse(jsonInput());
    for (auto _ : state)
        benchmark::DoNotOptimize(JSON::write(tree));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * jsonInput().size()));
}

void csvRead(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(DataConverter::read(csvInput(), "csv"));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * csvInput().size()));
}

void csvWrite(benchmark::State& state) {
    const Node tree = DataConverter::read(csvInput(), "csv");
    for (auto _ : state)
        benchmark::DoNotOptimize(CSV::write(tree, ';'));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * csvInput().size()));
}

void csvToJson(benchmark::State& state) {
    for (auto _ : state) {
        const Node tree = DataConverter::read(csvInput(), "csv");
        benchmark::DoNotOptimize(DataConverter::write(tree, Format::json));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * csvInput().size()));
}

void csvConvertToJson(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(DataConverter::convert(csvInput(), "csv", Format::json));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * csvInput().size()));
}

void jsonConvertToCsv(benchmark::State& state) {
    for (auto _ : state)
        benchmark::DoNotOptimize(DataConverter::convert(jsonInput(), "json", Format::csv));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * jsonInput().size()));
}

BENCHMARK(jsonParse)->Unit(benchmark::kMillisecond);
BENCHMARK(jsonWritePretty)->Unit(benchmark::kMillisecond);
BENCHMARK(csvRead)->Unit(benchmark::kMillisecond);
BENCHMARK(csvWrite)->Unit(benchmark::kMillisecond);
BENCHMARK(csvToJson)->Unit(benchmark::kMillisecond);
BENCHMARK(csvConvertToJson)->Unit(benchmark::kMillisecond);
BENCHMARK(jsonConvertToCsv)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
