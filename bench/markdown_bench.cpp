// Markdown to HTML in process on a generated 10 MB document. `markdown_bench --write
// FILE` writes that document, so that bench/document_compare.sh can give cmark the
// very same input.
#include "document/markdown.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <fstream>
#include <string>

namespace {

// About `bytes` of Markdown using every form the renderer knows, Cyrillic included.
std::string sampleDocument(std::size_t bytes) {
    std::string text;
    text.reserve(bytes + 4096);
    for (int section = 1; text.size() < bytes; ++section) {
        const std::string n = std::to_string(section);
        text += "# Раздел " + n + "\n\n";
        text += "Это **жирный** текст и *курсив*, немного `кода` и ~~зачёркнутого~~, "
                "ссылка на [страницу " +
                n + "](https://example.com/page" + n +
                "?a=1&b=2 "
                "\"Заголовок\") и картинка ![схема](img/" +
                n + ".png).\n";
        text += "Вторая строка абзаца продолжает мысль & добавляет <угловые> скобки,  \n"
                "а после жёсткого переноса идёт [ссылка по имени][ref" +
                n +
                "] и "
                "<https://example.com/auto" +
                n + ">.\n\n";
        text += "Подраздел " + n + "\n-----------\n\n";
        text += "- первый пункт\n  продолжается на второй строке\n  - вложенный пункт\n"
                "- [x] сделано\n- [ ] не сделано\n\n";
        text += "3. раз\n4. два\n\n   ```\n   код в пункте\n   ```\n5. три\n\n";
        text += "> Цитата номер " + n + "\n> > вложенная *цитата*\n\n";
        text += "| Столбец | Число |\n|:--|--:|\n| а | " + n + " |\n| б \\| в | 2 |\n\n";
        text += "```cpp\nint main() { return " + n +
                " < 2 ? 0 : 1; }\n```\n\n"
                "    отступ — тоже код\n\n---\n\n";
        text += "[ref" + n + "]: https://example.com/ref" + n + " 'Ссылка'\n\n";
    }
    return text;
}

const std::string& document() {
    static const std::string text = sampleDocument(10 << 20);
    return text;
}

void BM_MarkdownToHtml(benchmark::State& state) {
    const std::string& text = document();
    for (auto _ : state) {
        auto page = lumatra::Markdown::html(text, "bench");
        benchmark::DoNotOptimize(page);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_MarkdownToHtml)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) {
        std::ofstream(argv[2], std::ios::binary) << document();
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
