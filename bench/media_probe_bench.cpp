// The media probe per file: in process with libavformat against the ffprobe run it
// replaced, on a 3-second 720p clip with sound and on a 3-second mp3.

#include "converter/converter.h"
#include "tools/shell.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

const std::filesystem::path& fixtures() {
    static const std::filesystem::path folder = [] {
        const auto path = std::filesystem::temp_directory_path() / "lumatra-probe-bench";
        std::filesystem::create_directories(path);
        const std::string make = "ffmpeg -loglevel error -y -f lavfi -i "
                                 "testsrc2=size=1280x720:rate=30:duration=3 -f lavfi -i "
                                 "sine=duration=3 -c:v libx264 -preset ultrafast -c:a aac "
                                 "-shortest '" +
                                 (path / "clip.mkv").string() +
                                 "' && ffmpeg -loglevel error -y -f lavfi -i sine=duration=3 '" +
                                 (path / "voice.mp3").string() + "'";
        if (std::system(make.c_str()) != 0) std::abort();
        return path;
    }();
    return folder;
}

void inProcess(benchmark::State& state, const char* file) {
    const lumatra::Converter converter(lumatra::Tools{});
    const auto source = fixtures() / file;
    for (auto _ : state)
        benchmark::DoNotOptimize(converter.probe(source));
}

void ffprobeRun(benchmark::State& state, const char* file) {
    const auto tools = lumatra::Tools::locate();
    const auto source = fixtures() / file;
    for (auto _ : state)
        benchmark::DoNotOptimize(lumatra::Shell::run(
            *tools.ffprobe, {"-v", "error", "-show_entries", "format=duration:stream=codec_type",
                             "-of", "json", source.string()}));
}

BENCHMARK_CAPTURE(inProcess, clip, "clip.mkv")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ffprobeRun, clip, "clip.mkv")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(inProcess, voice, "voice.mp3")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ffprobeRun, voice, "voice.mp3")->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
