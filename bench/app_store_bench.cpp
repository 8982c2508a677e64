// Adding a large folder to the store, and working with the list it makes.
//
// Build with -DLUMATRA_BENCH=ON; run build/bench/app_store_bench.

#include "store/store.h"

#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

namespace {
namespace fs = std::filesystem;
using lumatra::Store;

constexpr int fileCount = 10'000;

// A folder of empty files with mixed extensions, made once per run.
const fs::path& bigFolder() {
    static QTemporaryDir dir;
    static const fs::path folder = [] {
        const fs::path path = fs::path(dir.path().toStdString()) / "many";
        fs::create_directories(path);
        constexpr std::array extensions{"wav",  "mp3",  "flac", "mkv", "mp4", "png", "jpg",
                                        "heic", "json", "csv",  "pdf", "md",  "txt", "xyz"};
        for (int i = 0; i < fileCount; ++i)
            std::ofstream(path /
                          ("file " + std::to_string(i) + "." + extensions[i % extensions.size()]));
        return path;
    }();
    return folder;
}

long residentBytes() {
    long pages = 0, resident = 0;
    std::ifstream("/proc/self/statm") >> pages >> resident;
    return resident * 4096;
}

std::unique_ptr<Store> emptyStore() {
    QSettings(QStringLiteral("Lumatra"), QStringLiteral("Lumatra")).clear();
    return std::make_unique<Store>();
}

void AddFolder(benchmark::State& state) {
    const fs::path& folder = bigFolder();
    long jobs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto store = emptyStore();
        state.ResumeTiming();
        store->add(std::vector<fs::path>{folder});
        jobs = store->jobs()->count();
        state.PauseTiming();
        store.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
    }
    state.counters["jobs"] = static_cast<double>(jobs);
}
BENCHMARK(AddFolder)->Unit(benchmark::kMillisecond)->Iterations(5);

void MemoryPerJob(benchmark::State& state) {
    const fs::path& folder = bigFolder();
    for (auto _ : state) {
        auto store = emptyStore();
        store->add(std::vector<fs::path>{fs::path("/nonexistent")}); // warm caches
        const long before = residentBytes();
        store->add(std::vector<fs::path>{folder});
        const long after = residentBytes();
        state.counters["bytes_per_job"] =
            static_cast<double>(after - before) / store->jobs()->count();
    }
}
BENCHMARK(MemoryPerJob)->Unit(benchmark::kMillisecond)->Iterations(1);

// What a redraw and the bulk bar ask of a full list: every row's data, the counts and
// the bulk rows, and one bulk target choice.
void UseFullList(benchmark::State& state) {
    auto store = emptyStore();
    store->add(std::vector<fs::path>{bigFolder()});
    auto* model = store->jobs();
    for (auto _ : state) {
        for (int row = 0; row < model->rowCount(); ++row)
            benchmark::DoNotOptimize(
                model->data(model->index(row), lumatra::JobListModel::JobRole));
        benchmark::DoNotOptimize(store->readyCount());
        benchmark::DoNotOptimize(store->bulkKinds());
        store->setTarget(state.iterations() % 2 ? lumatra::Format::flac : lumatra::Format::ogg,
                         lumatra::Kind::audio);
    }
}
BENCHMARK(UseFullList)->Unit(benchmark::kMillisecond);

// Queueing and unqueueing everything, as "Конвертировать" and "Остановить" do.
void QueueAndCancelAll(benchmark::State& state) {
    auto store = emptyStore();
    store->add(std::vector<fs::path>{bigFolder()});
    for (auto _ : state) {
        store->convertAll();
        store->cancelAll();
    }
}
BENCHMARK(QueueAndCancelAll)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
