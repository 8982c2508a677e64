#include "pdf/pdf_document.h"

#include "formats/convert_error.h"
#include "pdf/libraries.h"
#include "pdf/visual_order.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <vips/vips8>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <vector>

namespace lumatra {
namespace {

std::string toUtf8(const poppler::ustring& text) {
    const poppler::byte_array bytes = text.to_utf8();
    return std::string(bytes.begin(), bytes.end());
}

bool isQuarterTurned(const poppler::page& page) {
    switch (page.orientation()) {
    case poppler::page::landscape:
    case poppler::page::seascape:
        return true;
    case poppler::page::portrait:
    case poppler::page::upside_down:
        return false;
    }
    return false;
}

// What a word's font name tells: "ABCDEF+DejaVuSans-BoldOblique" is DejaVuSans, bold and
// italic.
CharacterStyle styleOf(const poppler::text_box& box) {
    CharacterStyle style;
    if (!box.has_font_info()) return style;
    style.fontSize = std::clamp(std::round(box.get_font_size() * 2) / 2, 1.0, 1638.0);
    std::string name = box.get_font_name();
    if (name.size() > 7 && name[6] == '+') name.erase(0, 7);
    std::string lower;
    for (const char c : name)
        lower += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    for (const char* word : {"bold", "black", "heavy", "demi"})
        if (lower.find(word) != std::string::npos) style.bold = true;
    for (const char* word : {"italic", "oblique"})
        if (lower.find(word) != std::string::npos) style.italic = true;
    for (const char c : name) {
        if (c == '-' || c == ',') break;
        // Legacy producers write names in local code pages; keep what is surely text.
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == ' ')
            style.fontFamily += c;
    }
    return style;
}

// Poppler's text of a page, which it ends with a form feed and blank lines, ending with
// its last character.
std::string layoutText(const poppler::ustring& page) {
    std::string text = toUtf8(page);
    std::erase(text, '\f');
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::u32string codePoints(const poppler::ustring& text) {
    std::u32string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char32_t unit = text[i];
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else {
            out.push_back(unit);
        }
    }
    return out;
}

// A line holding right-to-left text, in reading order. A word whose characters all got
// the same width is text the producer attached in reading order (poppler spreads such
// text evenly over what it covers); any other word with right-to-left letters is read
// glyph by glyph, as drawn.
void appendReadingOrder(AttributedText& text, const std::vector<poppler::text_box>& boxes,
                        const std::vector<std::u32string>& words,
                        const std::vector<std::size_t>& line, bool rightToLeftLine) {
    std::vector<VisualOrder::Piece> pieces;
    double height = 0;
    for (const std::size_t i : line) {
        const poppler::text_box& box = boxes[i];
        const std::u32string& word = words[i];
        height = std::max(height, box.bbox().bottom() - box.bbox().top());
        bool asGiven = !std::any_of(word.begin(), word.end(), VisualOrder::isRightToLeft);
        if (!asGiven && word.size() >= 2) {
            const double width = box.char_bbox(0).width();
            asGiven = width > 0;
            for (std::size_t c = 1; c < word.size() && asGiven; ++c)
                asGiven = std::abs(box.char_bbox(c).width() - width) < 0.01;
        }
        // Glyph boxes stand for the characters only when there is one for each: poppler
        // answers an empty box past the last glyph.
        const poppler::rectf past = box.char_bbox(word.size());
        const bool boxed =
            past.left() == 0 && past.right() == 0 && past.top() == 0 && past.bottom() == 0;
        if (asGiven || !boxed || word.empty()) {
            pieces.push_back({word, box.bbox().left(), box.bbox().right(), i});
            continue;
        }
        for (std::size_t c = 0; c < word.size(); ++c) {
            const poppler::rectf glyph = box.char_bbox(c);
            pieces.push_back({std::u32string(1, word[c]), glyph.left(), glyph.right(), i});
        }
    }
    for (const VisualOrder::Token& token :
         VisualOrder::logicalLine(std::move(pieces), rightToLeftLine, 0.15 * height))
        text.append(token.text, styleOf(boxes[token.word]));
}

std::string pageNumber(int index) {
    return std::to_string(index + 1);
}

[[noreturn]] void failDrawing(int index) {
    throw ConvertError::failed("Не удалось отрисовать страницу " + pageNumber(index));
}

[[noreturn]] void failDamaged(int index) {
    throw ConvertError::failed("PDF повреждён: страницу " + pageNumber(index) +
                               " не удалось прочитать.");
}

[[noreturn]] void failWriting(int index) {
    throw ConvertError::failed("Не удалось записать страницу " + pageNumber(index));
}

// The rendered page as tightly packed RGB, whatever layout poppler chose.
std::vector<unsigned char> packedRgb(poppler::image& image) {
    const int width = image.width();
    const int height = image.height();
    const int stride = image.bytes_per_row();
    const auto* data = reinterpret_cast<const unsigned char*>(image.const_data());
    std::vector<unsigned char> rgb(static_cast<std::size_t>(width) * height * 3);
    unsigned char* out = rgb.data();
    for (int y = 0; y < height; ++y) {
        const unsigned char* row = data + static_cast<std::ptrdiff_t>(y) * stride;
        // ARGB32 is stored as B, G, R, A in memory on little-endian machines.
        for (int x = 0; x < width; ++x, out += 3) {
            out[0] = row[x * 4 + 2];
            out[1] = row[x * 4 + 1];
            out[2] = row[x * 4 + 0];
        }
    }
    return rgb;
}

} // namespace

PdfDocument::PdfDocument(std::unique_ptr<poppler::document> document)
    : m_document(std::move(document)) {}
PdfDocument::PdfDocument(PdfDocument&&) noexcept = default;
PdfDocument& PdfDocument::operator=(PdfDocument&&) noexcept = default;
PdfDocument::~PdfDocument() = default;

PdfDocument PdfDocument::open(const std::filesystem::path& source) {
    initialisePdfLibraries();
    // Opened once here and read by poppler through the descriptor's own name, so the
    // file checked is the file read. A FIFO or device never reaches poppler.
    const UniqueFd fd(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat info {};
    if (!fd || ::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        throw ConvertError::failed("Не удалось открыть PDF");
    std::string name = "/proc/self/fd/" + std::to_string(fd.get());
    if (::access(name.c_str(), R_OK) != 0) name = source.string(); // no /proc here
    std::unique_ptr<poppler::document> document(poppler::document::load_from_file(name));
    if (!document) throw ConvertError::failed("Не удалось открыть PDF");
    // Asking a locked document for its pages crashes poppler: the lock comes first.
    if (document->is_locked()) throw ConvertError::failed("PDF защищён паролем");
    return PdfDocument(std::move(document));
}

int PdfDocument::pageCount() const {
    return std::max(m_document->pages(), 0);
}

std::unique_ptr<poppler::page> PdfDocument::page(int index) const {
    // The page tree counts a page whose object is missing or no page; poppler then
    // gives none, and the page is damaged rather than empty.
    std::unique_ptr<poppler::page> page(m_document->create_page(index));
    if (!page) failDamaged(index);
    return page;
}

std::string PdfDocument::pageText(int index) const {
    if (index < 0 || index >= pageCount()) return {};
    const std::unique_ptr<poppler::page> page = this->page(index);
    const poppler::ustring text =
        page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout);
    // Poppler turns right-to-left runs as if every producer drew them glyph by glyph;
    // lines holding such text are put in reading order here instead.
    const std::u32string characters = codePoints(text);
    if (std::any_of(characters.begin(), characters.end(), VisualOrder::isRightToLeft))
        return pageAttributedText(index).text();
    return layoutText(text);
}

std::string PdfDocument::plainText(std::stop_token stop) const {
    std::string text;
    const int count = pageCount();
    for (int i = 0; i < count; ++i) {
        if (stop.stop_requested()) throw CancelledError();
        if (i > 0) text += '\n';
        text += pageText(i);
    }
    return text;
}

AttributedText PdfDocument::attributedText(std::stop_token stop) const {
    AttributedText text;
    const int count = pageCount();
    for (int i = 0; i < count; ++i) {
        if (stop.stop_requested()) throw CancelledError();
        const AttributedText page = pageAttributedText(i);
        if (page.empty()) continue;
        text.append(page);
        text.append("\n");
    }
    return text;
}

AttributedText PdfDocument::pageAttributedText(int index) const {
    AttributedText text;
    if (index < 0 || index >= pageCount()) return text;
    const std::unique_ptr<poppler::page> page = this->page(index);
    const std::vector<poppler::text_box> boxes =
        page->text_list(poppler::page::text_list_include_font);
    // Words set at an angle or top to bottom have no lines we could tell apart here.
    const bool straight = std::all_of(boxes.begin(), boxes.end(), [](const auto& box) {
        return box.rotation() == 0 && box.get_wmode() != poppler::text_box::vertical_wmode;
    });
    if (!straight) {
        text.append(
            layoutText(page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout)));
        return text;
    }
    // Lines: runs of words whose middles lie within the height of the line so far.
    std::vector<std::vector<std::size_t>> lines;
    double lineTop = 0;
    double lineBottom = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const poppler::rectf area = boxes[i].bbox();
        const double middle = (area.top() + area.bottom()) / 2;
        if (i == 0 || middle < lineTop || middle > lineBottom) {
            lines.emplace_back();
            lineTop = area.top();
            lineBottom = area.bottom();
        } else {
            lineTop = std::min(lineTop, area.top());
            lineBottom = std::max(lineBottom, area.bottom());
        }
        lines.back().push_back(i);
    }
    std::vector<std::u32string> words;
    words.reserve(boxes.size());
    for (const poppler::text_box& box : boxes)
        words.push_back(codePoints(box.text()));

    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (l > 0) text.append("\n");
        const std::vector<std::size_t>& line = lines[l];
        // A line reads in the direction most of its letters take.
        std::size_t rightToLeft = 0;
        std::size_t leftToRight = 0;
        for (const std::size_t i : line)
            for (const char32_t c : words[i]) {
                if (VisualOrder::isRightToLeft(c))
                    ++rightToLeft;
                else if (VisualOrder::isLeftToRight(c))
                    ++leftToRight;
            }
        if (rightToLeft > 0) {
            appendReadingOrder(text, boxes, words, line, rightToLeft > leftToRight);
            continue;
        }
        CharacterStyle previous;
        for (std::size_t k = 0; k < line.size(); ++k) {
            const poppler::text_box& box = boxes[line[k]];
            if (k > 0) {
                // Poppler misses the space between words of different fonts; a gap tells.
                const poppler::text_box& before = boxes[line[k - 1]];
                const double gap = box.bbox().left() - before.bbox().right();
                if (before.has_space_after() ||
                    gap > 0.15 * (before.bbox().bottom() - before.bbox().top()))
                    text.append(" ", previous);
            }
            previous = styleOf(box);
            text.append(toUtf8(box.text()), previous);
        }
    }
    return text;
}

PdfDocument::PictureSize PdfDocument::pictureSize(int index, int dpi) const {
    if (index < 0 || index >= pageCount()) return {};
    const std::unique_ptr<poppler::page> page = this->page(index);
    const poppler::rectf box = page->page_rect(poppler::crop_box);
    double width = box.width() * dpi / 72.0;
    double height = box.height() * dpi / 72.0;
    if (isQuarterTurned(*page)) std::swap(width, height);
    return {width, height};
}

void PdfDocument::renderPage(int index, int dpi, Format format,
                             const std::filesystem::path& file) const {
    if (index < 0 || index >= pageCount()) return;
    const std::unique_ptr<poppler::page> page = this->page(index);
    const PictureSize size = pictureSize(index, dpi);
    if (!(size.width * size.height <= maxPagePixels)) failDrawing(index);

    // Poppler applies the crop box and the page's turn itself.
    poppler::page_renderer renderer;
    renderer.set_render_hint(poppler::page_renderer::antialiasing);
    renderer.set_render_hint(poppler::page_renderer::text_antialiasing);
    renderer.set_image_format(poppler::image::format_argb32);
    poppler::image image = renderer.render_page(page.get(), dpi, dpi);
    if (!image.is_valid() || image.width() <= 0 || image.height() <= 0 ||
        image.format() != poppler::image::format_argb32)
        failDrawing(index);

    const int width = image.width();
    const int height = image.height();
    std::vector<unsigned char> rgb = packedRgb(image);
    image = poppler::image(); // one copy of the page at a time

    const UniqueFd fd(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd) failDrawing(index);
    try {
        const vips::VImage picture = vips::VImage::new_from_memory(rgb.data(), rgb.size(), width,
                                                                   height, 3, VIPS_FORMAT_UCHAR);
        vips::VTarget target = vips::VTarget::new_to_descriptor(fd.get());
        // Level 1 deflate: PNG encoding dominates the route, and the higher levels
        // buy a few percent of size for several times the time.
        if (format == Format::png)
            picture.pngsave_target(
                target, vips::VImage::option()->set("compression", 1)->set("strip", true));
        else
            picture.jpegsave_target(target,
                                    vips::VImage::option()->set("Q", 90)->set("strip", true));
    } catch (const vips::VError&) {
        vips_error_clear();
        failWriting(index);
    }
}

} // namespace lumatra
