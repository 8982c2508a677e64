// The RTF reader on arbitrary bytes. Whatever it reads must be well-formed styled text
// (valid UTF-8, runs and paragraphs inside the text), and what the writer makes of it
// must read back to the same characters.
#include "formats/convert_error.h"
#include "richtext/rtf_reader.h"
#include "richtext/rtf_writer.h"
#include "text/utf8.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    lumatra::AttributedText text;
    try {
        text = lumatra::RtfReader::read(bytes);
    } catch (const lumatra::ConvertError&) {
        return 0;
    }
    if (!lumatra::utf8::isValid(text.text())) std::abort();
    std::size_t covered = 0;
    for (const auto& run : text.runs()) {
        if (run.start != covered || run.length == 0) std::abort();
        if (run.image >= static_cast<int>(text.images().size())) std::abort();
        covered += run.length;
    }
    if (covered != text.text().size()) std::abort();
    std::size_t previous = 0;
    for (const auto& paragraph : text.paragraphs()) {
        if (paragraph.start < previous || paragraph.start > text.text().size()) std::abort();
        previous = paragraph.start;
    }

    const lumatra::AttributedText back = lumatra::RtfReader::read(lumatra::RtfWriter::write(text));
    if (back.text() != text.text() || back.images().size() != text.images().size()) std::abort();
    return 0;
}
