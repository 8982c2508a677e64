// The media route's cost per file inside a long-lived process (the window's queue):
// the probe in process with libavformat against the ffprobe run it replaced, and a
// whole conversion of a 3-second voice memo or clip to mp3 against the bare ffmpeg
// command it runs.

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
                                 (path / "voice.mp3").string() +
                                 "' && ffmpeg -loglevel error -y -f lavfi -i sine=duration=3 "
                                 "-c:a aac '" +
                                 (path / "memo.m4a").string() + "'";
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

// The whole conversion through the engine: probe, ffmpeg, placement.
void converterRun(benchmark::State& state, const char* file) {
    const lumatra::Converter converter(lumatra::Tools::locate());
    lumatra::Options options;
    options.outputDirectory = fixtures() / "out";
    for (auto _ : state) {
        const auto result = converter.run(fixtures() / file, lumatra::Format::mp3, options, {});
        state.PauseTiming();
        std::filesystem::remove(result.output);
        state.ResumeTiming();
    }
}

// The very ffmpeg command line the engine builds, on its own.
void bareFFmpeg(benchmark::State& state, const char* file) {
    const auto tools = lumatra::Tools::locate();
    const auto output = fixtures() / "bare.mp3";
    for (auto _ : state)
        lumatra::Shell::run(
            *tools.ffmpeg,
            {"-hide_banner",  "-nostdin",  "-y",     "-i",         (fixtures() / file).string(),
             "-map",          "0:a:0",     "-vn",    "-sn",        "-dn",
             "-map_metadata", "0",         "-c:a",   "libmp3lame", "-b:a",
             "192k",          "-progress", "pipe:1", "-nostats",   output.string()});
}

BENCHMARK_CAPTURE(converterRun, memo, "memo.m4a")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(bareFFmpeg, memo, "memo.m4a")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(converterRun, clip, "clip.mkv")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(bareFFmpeg, clip, "clip.mkv")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(inProcess, clip, "clip.mkv")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ffprobeRun, clip, "clip.mkv")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(inProcess, voice, "voice.mp3")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(ffprobeRun, voice, "voice.mp3")->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
