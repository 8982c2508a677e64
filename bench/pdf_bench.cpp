// PDF in and out, in process: pictures of a 10-page PDF, the layout of a 200-page text
// and the RTF reader's throughput.
#include "pdf/pdf_document.h"
#include "pdf/pdf_source.h"
#include "pdf/pdf_writer.h"
#include "richtext/rtf_reader.h"
#include "richtext/rtf_writer.h"

#include <sys/resource.h>

#include <benchmark/benchmark.h>

#include <filesystem>
#include <random>

namespace {

using namespace lumatra;

long peakKilobytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Paragraphs of ordinary prose, Cyrillic and Latin, with some bold and coloured runs.
AttributedText prose(int paragraphs) {
    std::mt19937 random(7);
    const char* words[] = {"документ", "страница", "текст", "converter", "layout", "шрифт", "поле",
                           "page",     "строка",   "абзац", "margin",    "и",      "в",     "на"};
    AttributedText text;
    CharacterStyle bold;
    bold.bold = true;
    CharacterStyle colored;
    colored.foreground = Color{200, 30, 30};
    for (int p = 0; p < paragraphs; ++p) {
        std::string sentence;
        for (int w = 0; w < 60; ++w) {
            sentence += words[random() % std::size(words)];
            sentence += ' ';
        }
        text.append(sentence.substr(0, 200));
        text.append(sentence.substr(200, 40), p % 2 ? bold : colored);
        text.append(sentence.substr(240) + "\n");
    }
    return text;
}

std::filesystem::path scratch(const std::string& name) {
    const auto path = std::filesystem::temp_directory_path() / ("lumatra-bench-" + name);
    std::filesystem::remove_all(path);
    return path;
}

void textToPdf(benchmark::State& state) {
    // About 200 pages.
    const AttributedText text = prose(static_cast<int>(state.range(0)));
    const auto file = scratch("layout.pdf");
    int pages = 0;
    for (auto _ : state) {
        std::filesystem::remove(file);
        PDFWriter::write(text, file);
        state.PauseTiming();
        pages = PdfDocument::open(file).pageCount();
        state.ResumeTiming();
    }
    state.counters["pages"] = pages;
    state.counters["pages_per_s"] = benchmark::Counter(
        pages * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    std::filesystem::remove(file);
}
BENCHMARK(textToPdf)->Arg(1900)->Unit(benchmark::kMillisecond)->UseRealTime();

void pdfPagesToPictures(benchmark::State& state) {
    const auto source = scratch("ten.pdf");
    const AttributedText text = prose(86); // ten pages
    PDFWriter::write(text, source);
    const int pages = PdfDocument::open(source).pageCount();
    const auto output = scratch("pages");
    const auto work = scratch("work");
    std::filesystem::create_directories(work);
    const long before = peakKilobytes();
    const Format format = state.range(0) ? Format::png : Format::jpg;
    for (auto _ : state) {
        std::filesystem::remove_all(output);
        PdfSource::convert(source, format, Quality::balanced, output, work, {});
    }
    state.counters["pages"] = pages;
    state.counters["peak_rss_growth_kB"] = static_cast<double>(peakKilobytes() - before);
    std::filesystem::remove_all(output);
    std::filesystem::remove_all(work);
    std::filesystem::remove(source);
}
BENCHMARK(pdfPagesToPictures)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

void rtfRead(benchmark::State& state) {
    const std::string rtf = RtfWriter::write(prose(5000));
    for (auto _ : state)
        benchmark::DoNotOptimize(RtfReader::read(rtf));
    state.SetBytesProcessed(static_cast<std::int64_t>(rtf.size()) * state.iterations());
}
BENCHMARK(rtfRead)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
