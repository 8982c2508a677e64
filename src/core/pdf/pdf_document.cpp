#include "pdf/pdf_document.h"

#include "formats/convert_error.h"
#include "pdf/libraries.h"
#include "pdf/visual_order.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <glib.h>
#include <poppler-document.h>
#include <poppler-image.h>
#include <poppler-page-renderer.h>
#include <poppler-page.h>
#include <vips/vips8>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <map>
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
// Bidirectional embedding and isolate controls (U+202A–U+202E, U+2066–U+2069), which
// poppler's layout wraps right-to-left runs in: invisible, and no reader needs them.
void eraseBidiControls(std::string& text) {
    std::size_t kept = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
        if (at + 2 < text.size() && byte(at) == 0xE2 &&
            ((byte(at + 1) == 0x80 && byte(at + 2) >= 0xAA && byte(at + 2) <= 0xAE) ||
             (byte(at + 1) == 0x81 && byte(at + 2) >= 0xA6 && byte(at + 2) <= 0xA9))) {
            at += 2;
            continue;
        }
        text[kept++] = text[at];
    }
    text.resize(kept);
}

std::string layoutText(const poppler::ustring& page) {
    std::string text = toUtf8(page);
    eraseBidiControls(text);
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

// A box in the frame of the text's own lines: reading to the right, lines going down,
// whichever quarter turn (poppler's rotation, 0 to 3) the words were drawn at.
poppler::rectf upright(const poppler::rectf& r, int rotation) {
    switch (rotation) {
    case 1: // reading down the page
        return {r.top(), -r.right(), r.height(), r.width()};
    case 2: // upside down
        return {-r.right(), -r.bottom(), r.width(), r.height()};
    case 3: // reading up the page
        return {-r.bottom(), r.left(), r.height(), r.width()};
    default:
        return r;
    }
}

// Widths of characters within 2 % of each other.
bool sameWidth(double a, double b) {
    return std::abs(a - b) <= 0.02 * std::max(a, b);
}

// The width of every character set in a font of fixed pitch (Courier, DejaVu Sans
// Mono…) on a page, by the font's name and size: the one width nearly all of its
// characters have. Fonts of varying widths are not listed.
using FixedPitches = std::map<std::pair<std::string, double>, double>;

FixedPitches fixedPitches(const std::vector<poppler::text_box>& boxes,
                          const std::vector<std::u32string>& words) {
    std::map<std::pair<std::string, double>, std::vector<double>> widths;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const poppler::text_box& box = boxes[i];
        if (!box.has_font_info()) continue;
        auto& found = widths[{box.get_font_name(), box.get_font_size()}];
        for (std::size_t c = 0; c < words[i].size(); ++c) {
            const double width = upright(box.char_bbox(c), box.rotation()).width();
            if (width > 0) found.push_back(width);
        }
    }
    FixedPitches pitches;
    for (auto& [font, found] : widths) {
        if (found.size() < 6) continue;
        std::sort(found.begin(), found.end());
        // The largest group of widths within 2 % of the group's smallest.
        std::size_t best = 0;
        std::size_t bestCount = 0;
        for (std::size_t first = 0, last = 0; first < found.size(); ++first) {
            while (last < found.size() && found[last] <= found[first] * 1.02)
                ++last;
            if (last - first > bestCount) {
                best = first;
                bestCount = last - first;
            }
        }
        if (bestCount * 5 >= found.size() * 4) pitches[font] = found[best];
    }
    return pitches;
}

bool isAlef(char32_t c) {
    return c == U'\u0627' || c == U'\u0622' || c == U'\u0623' || c == U'\u0625';
}

// A line holding right-to-left text, in reading order. A word whose characters all got
// the same width is text the producer attached in reading order (poppler spreads such
// text evenly over what it covers), unless that width is the pitch of a fixed-pitch
// font; any other word with right-to-left letters is read glyph by glyph, as drawn. The
// characters one glyph stands for (a lam-alef ligature, a letter with its vowel mark)
// are spread evenly over it the same way, and stay together in their order.
void appendReadingOrder(AttributedText& text, const std::vector<poppler::text_box>& boxes,
                        const std::vector<poppler::rectf>& areas,
                        const std::vector<std::u32string>& words, const FixedPitches& pitches,
                        const std::vector<std::size_t>& line, bool rightToLeftLine) {
    std::vector<VisualOrder::Piece> pieces;
    double height = 0;
    for (const std::size_t i : line) {
        const poppler::text_box& box = boxes[i];
        const int rotation = box.rotation();
        const std::u32string& word = words[i];
        height = std::max(height, areas[i].bottom() - areas[i].top());
        const auto glyph = [&](std::size_t c) { return upright(box.char_bbox(c), rotation); };
        // In a font of fixed pitch, a character as wide as the pitch is a glyph of its own.
        const auto pitch = box.has_font_info()
                               ? pitches.find({box.get_font_name(), box.get_font_size()})
                               : pitches.end();
        const auto wholeGlyph = [&](double width) {
            return pitch != pitches.end() && sameWidth(width, pitch->second);
        };
        bool asGiven = !std::any_of(word.begin(), word.end(), VisualOrder::isRightToLeft);
        if (!asGiven && word.size() >= 2) {
            const double width = glyph(0).width();
            asGiven = width > 0;
            for (std::size_t c = 1; c < word.size() && asGiven; ++c)
                asGiven = std::abs(glyph(c).width() - width) < 0.01;
            if (asGiven && wholeGlyph(width)) asGiven = false;
        }
        // Glyph boxes stand for the characters only when there is one for each: poppler
        // answers an empty box past the last glyph.
        const poppler::rectf past = box.char_bbox(word.size());
        const bool boxed =
            past.left() == 0 && past.right() == 0 && past.top() == 0 && past.bottom() == 0;
        if (asGiven || !boxed || word.empty()) {
            pieces.push_back({word, areas[i].left(), areas[i].right(), i});
            continue;
        }
        for (std::size_t c = 0; c < word.size(); ++c) {
            const poppler::rectf drawn = glyph(c);
            if (c > 0) {
                const poppler::rectf before = glyph(c - 1);
                const bool spread = sameWidth(drawn.width(), before.width()) &&
                                    !wholeGlyph(drawn.width()) &&
                                    std::abs(drawn.left() - before.right()) < 0.02 * drawn.width();
                const bool follows = g_unichar_ismark(static_cast<gunichar>(word[c])) ||
                                     (isAlef(word[c]) && word[c - 1] == U'\u0644');
                if (spread && follows) {
                    pieces.back().text += word[c];
                    pieces.back().right = drawn.right();
                    continue;
                }
            }
            pieces.push_back({std::u32string(1, word[c]), drawn.left(), drawn.right(), i});
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

// How a line follows the one before it.
enum class LineJoin { separate, space, mended };

bool isLowerLetter(char32_t c) {
    return g_unichar_islower(static_cast<gunichar>(c)) != 0;
}

bool isLetter(char32_t c) {
    return g_unichar_isalpha(static_cast<gunichar>(c)) != 0;
}

// Which lines of a page continue the paragraph of the line before them. A PDF knows no
// paragraphs, only lines: a line belongs to the one before when both are left to right
// in one size, nothing but the usual leading lies between them, it is not indented
// against it, and its first word would not have fit at the end of the line before. A
// word split by a hyphen at the line's end is mended when the next line goes on in
// lower case.
std::vector<LineJoin> lineJoins(const std::vector<poppler::rectf>& areas,
                                const std::vector<std::u32string>& words,
                                const std::vector<std::vector<std::size_t>>& lines) {
    struct Extent {
        double left = 0, top = 0, right = 0, bottom = 0;
        bool leftToRight = true;
    };
    std::vector<Extent> extents;
    double textRight = 0;
    for (const auto& line : lines) {
        Extent extent;
        for (std::size_t k = 0; k < line.size(); ++k) {
            const poppler::rectf& area = areas[line[k]];
            if (k == 0 || area.left() < extent.left) extent.left = area.left();
            if (k == 0 || area.top() < extent.top) extent.top = area.top();
            if (k == 0 || area.right() > extent.right) extent.right = area.right();
            if (k == 0 || area.bottom() > extent.bottom) extent.bottom = area.bottom();
            for (const char32_t c : words[line[k]])
                if (VisualOrder::isRightToLeft(c)) extent.leftToRight = false;
        }
        textRight = std::max(textRight, extent.right);
        extents.push_back(extent);
    }
    std::vector<LineJoin> joins(lines.size(), LineJoin::separate);
    for (std::size_t l = 1; l < lines.size(); ++l) {
        const Extent& before = extents[l - 1];
        const Extent& line = extents[l];
        const double height = before.bottom - before.top;
        if (height <= 0 || !before.leftToRight || !line.leftToRight) continue;
        const bool sameSize = std::abs((line.bottom - line.top) - height) <= 0.2 * height;
        const double gap = line.top - before.bottom;
        const bool leading = gap > -0.2 * height && gap < 0.6 * height;
        const bool notIndented = line.left < before.left + 0.5 * height;
        // The line before was full when the next line's first word would not have fit.
        const poppler::rectf& next = areas[lines[l].front()];
        const bool runsOn = before.right + next.width() + 0.3 * height > textRight;
        if (!sameSize || !leading || !notIndented || !runsOn) continue;
        const std::u32string& last = words[lines[l - 1].back()];
        const std::u32string& first = words[lines[l].front()];
        const bool hyphenated = last.size() >= 2 && last.back() == U'-' &&
                                isLetter(last[last.size() - 2]) && !first.empty() &&
                                isLowerLetter(first.front());
        joins[l] = hyphenated ? LineJoin::mended : LineJoin::space;
    }
    return joins;
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
        const AttributedText page = pageAttributedText(i, true);
        if (page.empty()) continue;
        text.append(page);
        text.append("\n");
    }
    return text;
}

AttributedText PdfDocument::pageAttributedText(int index, bool paragraphs) const {
    AttributedText text;
    if (index < 0 || index >= pageCount()) return text;
    const std::unique_ptr<poppler::page> page = this->page(index);
    const std::vector<poppler::text_box> boxes =
        page->text_list(poppler::page::text_list_include_font);
    // Words set at different angles or top to bottom have no lines we could tell apart
    // here; a page turned as a whole reads in the frame of its words.
    const int rotation = boxes.empty() ? 0 : boxes.front().rotation();
    const bool straight = std::all_of(boxes.begin(), boxes.end(), [rotation](const auto& box) {
        return box.rotation() == rotation && box.get_wmode() != poppler::text_box::vertical_wmode;
    });
    if (!straight) {
        text.append(
            layoutText(page->text(poppler::rectf(), poppler::page::non_raw_non_physical_layout)));
        return text;
    }
    std::vector<poppler::rectf> areas;
    areas.reserve(boxes.size());
    for (const poppler::text_box& box : boxes)
        areas.push_back(upright(box.bbox(), rotation));
    // Lines: runs of words whose middles lie within the height of the line so far.
    std::vector<std::vector<std::size_t>> lines;
    double lineTop = 0;
    double lineBottom = 0;
    for (std::size_t i = 0; i < boxes.size(); ++i) {
        const poppler::rectf& area = areas[i];
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

    const bool anyRightToLeft = std::any_of(words.begin(), words.end(), [](const auto& word) {
        return std::any_of(word.begin(), word.end(), VisualOrder::isRightToLeft);
    });
    const FixedPitches pitches = anyRightToLeft ? fixedPitches(boxes, words) : FixedPitches();
    const std::vector<LineJoin> joins =
        paragraphs ? lineJoins(areas, words, lines) : std::vector<LineJoin>(lines.size());
    for (std::size_t l = 0; l < lines.size(); ++l) {
        if (l > 0 && joins[l] == LineJoin::separate) text.append("\n");
        if (l > 0 && joins[l] == LineJoin::space) text.append(" ");
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
            appendReadingOrder(text, boxes, areas, words, pitches, line, rightToLeft > leftToRight);
            continue;
        }
        CharacterStyle previous;
        for (std::size_t k = 0; k < line.size(); ++k) {
            const poppler::text_box& box = boxes[line[k]];
            if (k > 0) {
                // Poppler misses the space between words of different fonts; a gap tells.
                const poppler::text_box& before = boxes[line[k - 1]];
                const poppler::rectf& area = areas[line[k]];
                const poppler::rectf& previousArea = areas[line[k - 1]];
                const double gap = area.left() - previousArea.right();
                if (before.has_space_after() ||
                    gap > 0.15 * (previousArea.bottom() - previousArea.top()))
                    text.append(" ", previous);
            }
            previous = styleOf(box);
            std::string word = toUtf8(box.text());
            // The hyphen of a word mended with the next line's start goes.
            if (k + 1 == line.size() && l + 1 < lines.size() && joins[l + 1] == LineJoin::mended &&
                !word.empty() && word.back() == '-')
                word.pop_back();
            text.append(word, previous);
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
