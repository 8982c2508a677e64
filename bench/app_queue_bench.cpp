// A batch through the store's queue on one core against the machine's whole budget, in
// one run: songs to MP3, photos to PNG and text documents to PDF. Each iteration converts
// the batch twice, first with a budget of 1, then with the machine's budget, into fresh
// folders, and reports both wall times and the throughput ratio. The text converter's
// warm engines are ended before each pass, so that both pay for starting theirs.
//
// Build with -DLUMATRA_BENCH=ON; run build/bench/app_queue_bench.

#include "store/store.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QSettings>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {
namespace fs = std::filesystem;
using lumatra::Format;
using lumatra::Job;
using lumatra::Kind;
using lumatra::Store;

QTemporaryDir& scratch() {
    static QTemporaryDir dir;
    return dir;
}

fs::path scratchPath() {
    return fs::path(scratch().path().toStdString());
}

void ffmpeg(const std::vector<std::string>& arguments) {
    std::vector<const char*> argv{"ffmpeg", "-nostdin", "-loglevel", "error", "-y"};
    for (const auto& argument : arguments)
        argv.push_back(argument.c_str());
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child == 0) {
        ::execvp("ffmpeg", const_cast<char* const*>(argv.data()));
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) throw std::runtime_error("ffmpeg failed");
}

// A folder of `count` files made by `make(path, index)`, once per run.
template <typename Make>
fs::path folderOf(const std::string& name, int count, const std::string& extension, Make make) {
    const fs::path folder = scratchPath() / name;
    if (fs::exists(folder)) return folder;
    fs::create_directories(folder);
    for (int i = 0; i < count; ++i)
        make(folder / (name + " " + std::to_string(i) + "." + extension), i);
    return folder;
}

fs::path songs() {
    return folderOf("song", 40, "wav", [](const fs::path& path, int i) {
        ffmpeg({"-f", "lavfi", "-i",
                "sine=frequency=" + std::to_string(220 + i * 10) + ":duration=10", "-ac", "2",
                "-ar", "44100", path.string()});
    });
}

fs::path photos() {
    return folderOf("photo", 40, "jpg", [](const fs::path& path, int) {
        ffmpeg({"-f", "lavfi", "-i", "testsrc2=size=1600x1200", "-frames:v", "1", "-q:v", "3",
                path.string()});
    });
}

fs::path documents() {
    return folderOf("letter", 20, "txt", [](const fs::path& path, int i) {
        std::ofstream out(path);
        for (int paragraph = 0; paragraph < 40; ++paragraph)
            out << "Письмо " << i << ", абзац " << paragraph
                << ". Съешь же ещё этих мягких французских булок, да выпей чаю. "
                   "The quick brown fox jumps over the lazy dog.\n\n";
    });
}

// Ends the text converter's warm engines, and gives them a moment to go.
void endTextEngines() {
    const pid_t child = ::fork();
    if (child == 0) {
        ::execlp("lumatra-textutil", "lumatra-textutil", "--quit-engine", nullptr);
        ::_exit(127);
    }
    ::waitpid(child, nullptr, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
}

// Converts every file of `folder` to `target` with the given budget; the wall time in
// seconds from "Конвертировать" to the end of the batch.
double convertBatch(const fs::path& folder, Kind kind, Format target, int budget) {
    endTextEngines();
    QSettings(QStringLiteral("Lumatra"), QStringLiteral("Lumatra")).clear();
    auto store = std::make_unique<Store>();
    const fs::path output = scratchPath() / ("out-" + std::to_string(budget));
    fs::remove_all(output);
    fs::create_directories(output);
    store->setOutputDirectory(output);
    store->runner().setBudget(budget);
    store->add(std::vector<fs::path>{folder});
    store->setTarget(target, kind);

    QEventLoop loop;
    QObject::connect(store.get(), &Store::busyChanged, &loop, [&] {
        if (!store->isBusy()) loop.quit();
    });
    const auto start = std::chrono::steady_clock::now();
    store->convertAll();
    loop.exec();
    const std::chrono::duration<double> wall = std::chrono::steady_clock::now() - start;
    for (const auto& job : store->jobs()->jobs())
        if (job->status() != Job::Status::Done)
            throw std::runtime_error(job->path().filename().string() + ": " +
                                     job->message().toStdString());
    fs::remove_all(output);
    return wall.count();
}

void runBoth(benchmark::State& state, const fs::path& folder, Kind kind, Format target) {
    const int budget = lumatra::QueueRunner::machineBudget();
    for (auto _ : state) {
        const double one = convertBatch(folder, kind, target, 1);
        const double all = convertBatch(folder, kind, target, budget);
        state.counters["budget"] = budget;
        state.counters["one_core_s"] = one;
        state.counters["all_cores_s"] = all;
        state.counters["throughput_ratio"] = one / all;
    }
}

void SongsToMp3(benchmark::State& state) {
    runBoth(state, songs(), Kind::audio, Format::mp3);
}
BENCHMARK(SongsToMp3)->Unit(benchmark::kSecond)->Iterations(1);

void PhotosToPng(benchmark::State& state) {
    runBoth(state, photos(), Kind::image, Format::png);
}
BENCHMARK(PhotosToPng)->Unit(benchmark::kSecond)->Iterations(1);

void DocumentsToPdf(benchmark::State& state) {
    runBoth(state, documents(), Kind::document, Format::pdf);
}
BENCHMARK(DocumentsToPdf)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The text converter is built at the top of the build folder, one level above us.
    const fs::path buildFolder = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
    qputenv("PATH",
            QByteArray::fromStdString(buildFolder.string() + ":" + qgetenv("PATH").toStdString()));
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
