#include "pdf/pdf_writer.h"

#include "formats/convert_error.h"
#include "pdf/picture_surface.h"
#include "tools/unique_fd.h"

#include <cairo-pdf.h>
#include <fcntl.h>
#include <pango/pangocairo.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <memory>
#include <vector>

namespace lumatra::PDFWriter {
namespace {

constexpr std::string_view defaultFamily = "Helvetica";
// Tab stops every half inch.
constexpr double tabInterval = 36;
// Longer paragraphs are laid out in pieces, so that no single layout grows without bound
// and cancellation is looked at often.
constexpr std::size_t maxPieceBytes = 64 * 1024;

template <typename T, void (*Free)(T*)> struct Deleter {
    void operator()(T* handle) const { Free(handle); }
};
void unrefObject(void* object) {
    g_object_unref(object);
}
using CairoPtr = std::unique_ptr<cairo_t, Deleter<cairo_t, cairo_destroy>>;
using ContextPtr = std::unique_ptr<PangoContext, Deleter<void, unrefObject>>;
using LayoutPtr = std::unique_ptr<PangoLayout, Deleter<void, unrefObject>>;
using AttrListPtr = std::unique_ptr<PangoAttrList, Deleter<PangoAttrList, pango_attr_list_unref>>;
using FontDescriptionPtr =
    std::unique_ptr<PangoFontDescription,
                    Deleter<PangoFontDescription, pango_font_description_free>>;
using IterPtr = std::unique_ptr<PangoLayoutIter, Deleter<PangoLayoutIter, pango_layout_iter_free>>;
using TabArrayPtr = std::unique_ptr<PangoTabArray, Deleter<PangoTabArray, pango_tab_array_free>>;

int pangoUnits(double points) {
    return static_cast<int>(points * PANGO_SCALE + 0.5);
}

// Where the PDF bytes go: our own descriptor, remembering the first failure.
struct Sink {
    int fd = -1;
    bool failed = false;
};

cairo_status_t writeToSink(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<Sink*>(closure);
    while (length > 0) {
        const ssize_t n = ::write(sink->fd, data, length);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            sink->failed = true;
            return CAIRO_STATUS_WRITE_ERROR;
        }
        data += n;
        length -= static_cast<unsigned int>(n);
    }
    return CAIRO_STATUS_SUCCESS;
}

// Draws an inline picture: the current point is the left end of its baseline.
void drawPicture(cairo_t* cr, PangoAttrShape* attr, gboolean doPath, gpointer) {
    const auto* picture = static_cast<const PictureSurface*>(attr->data);
    if (doPath || !picture || !picture->surface) return;
    double x = 0;
    double y = 0;
    cairo_get_current_point(cr, &x, &y);
    const double width = cairo_image_surface_get_width(picture->surface.get());
    const double height = cairo_image_surface_get_height(picture->surface.get());
    cairo_save(cr);
    cairo_translate(cr, x, y - picture->height);
    cairo_scale(cr, picture->width / width, picture->height / height);
    cairo_set_source_surface(cr, picture->surface.get(), 0, 0);
    cairo_paint(cr);
    cairo_restore(cr);
}

// Removes the file unless the write completed.
class PartialFile {
public:
    explicit PartialFile(std::filesystem::path path) : m_path(std::move(path)) {}
    PartialFile(const PartialFile&) = delete;
    PartialFile& operator=(const PartialFile&) = delete;
    ~PartialFile() {
        if (!m_kept) ::unlink(m_path.c_str());
    }
    void keep() { m_kept = true; }

private:
    std::filesystem::path m_path;
    bool m_kept = false;
};

class Paginator {
public:
    Paginator(const AttributedText& text, cairo_t* cr, std::stop_token stop)
        : m_text(text), m_cr(cr), m_stop(std::move(stop)) {
        m_context.reset(pango_font_map_create_context(pango_cairo_font_map_get_default()));
        // Points stay points: pango assumes 96 per inch otherwise.
        pango_cairo_context_set_resolution(m_context.get(), 72);
        cairo_font_options_t* options = cairo_font_options_create();
        cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
        cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
        pango_cairo_context_set_font_options(m_context.get(), options);
        cairo_font_options_destroy(options);
        pango_context_set_round_glyph_positions(m_context.get(), FALSE);
        pango_cairo_context_set_shape_renderer(m_context.get(), drawPicture, nullptr, nullptr);
        m_tabs.reset(
            pango_tab_array_new_with_positions(1, FALSE, PANGO_TAB_LEFT, pangoUnits(tabInterval)));
    }

    void run() {
        beginPage();
        const std::string& all = m_text.text();
        const auto& paragraphs = m_text.paragraphs();
        for (std::size_t p = 0; p < paragraphs.size() && !m_full; ++p) {
            const std::size_t start = paragraphs[p].start;
            const std::size_t end =
                p + 1 < paragraphs.size() ? paragraphs[p + 1].start : all.size();
            // The line after a final line end holds nothing and makes no page.
            if (start == end && p > 0) continue;
            paragraph(paragraphs[p].style, start, end);
        }
        cairo_show_page(m_cr);
    }

private:
    void beginPage() {
        m_y = 0;
        m_pageHasLines = false;
    }

    // Starts the next page; false when the page limit is reached.
    bool nextPage() {
        if (m_pages >= maxPages) {
            m_full = true;
            return false;
        }
        cairo_show_page(m_cr);
        ++m_pages;
        beginPage();
        return true;
    }

    void paragraph(const ParagraphStyle& style, std::size_t start, std::size_t end) {
        const std::string& all = m_text.text();
        std::size_t contentEnd = end;
        if (contentEnd > start && all[contentEnd - 1] == '\n') --contentEnd;
        m_y += m_pageHasLines ? style.spaceBefore : 0;
        std::size_t pieceStart = start;
        do {
            if (m_stop.stop_requested()) throw CancelledError();
            const std::size_t pieceEnd = pieceBoundary(pieceStart, contentEnd);
            layOut(style, pieceStart, pieceEnd, pieceStart == start);
            pieceStart = pieceEnd;
        } while (pieceStart < contentEnd && !m_full);
        m_y += style.spaceAfter;
    }

    // The end of the piece that starts at `from`: after a space near the size limit, else
    // at a character boundary.
    std::size_t pieceBoundary(std::size_t from, std::size_t end) const {
        if (end - from <= maxPieceBytes) return end;
        const std::string& all = m_text.text();
        std::size_t cut = from + maxPieceBytes;
        const std::size_t space = all.rfind(' ', cut);
        if (space != std::string::npos && space > from + maxPieceBytes / 2) return space + 1;
        while (cut > from && (static_cast<unsigned char>(all[cut]) & 0xC0) == 0x80)
            --cut;
        return cut;
    }

    void layOut(const ParagraphStyle& style, std::size_t start, std::size_t end, bool first) {
        const double width = std::max(frameWidth - style.leftIndent - style.rightIndent, 36.0);
        LayoutPtr layout(pango_layout_new(m_context.get()));
        pango_layout_set_text(layout.get(), m_text.text().data() + start,
                              static_cast<int>(end - start));
        pango_layout_set_width(layout.get(), pangoUnits(width));
        pango_layout_set_wrap(layout.get(), PANGO_WRAP_WORD_CHAR);
        pango_layout_set_indent(layout.get(), first ? pangoUnits(style.firstLineIndent) : 0);
        pango_layout_set_tabs(layout.get(), m_tabs.get());
        switch (style.alignment) {
        case Alignment::left:
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_LEFT);
            break;
        case Alignment::center:
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_CENTER);
            break;
        case Alignment::right:
            pango_layout_set_alignment(layout.get(), PANGO_ALIGN_RIGHT);
            break;
        case Alignment::justified:
            pango_layout_set_justify(layout.get(), TRUE);
            break;
        }
        std::vector<std::unique_ptr<PictureSurface>> pictures;
        applyStyles(layout.get(), start, end, width, pictures);

        const IterPtr owner(pango_layout_get_iter(layout.get()));
        PangoLayoutIter* iter = owner.get();
        do {
            PangoRectangle logical;
            pango_layout_iter_get_line_extents(iter, nullptr, &logical);
            const double top = logical.y / double(PANGO_SCALE);
            const double height = logical.height / double(PANGO_SCALE);
            const double baseline = pango_layout_iter_get_baseline(iter) / double(PANGO_SCALE);
            if (m_pageHasLines && m_y + height > frameHeight && !nextPage()) break;
            const double x = margin + style.leftIndent + logical.x / double(PANGO_SCALE);
            cairo_move_to(m_cr, x, margin + m_y + (baseline - top));
            PangoLayoutLine* line = pango_layout_iter_get_line_readonly(iter);
            pango_cairo_show_layout_line(m_cr, line);
            markLinks(line, x, margin + m_y, height);
            m_y += height;
            m_pageHasLines = true;
        } while (pango_layout_iter_next_line(iter));
    }

    // Makes the parts of `line` that belong to links clickable.
    void markLinks(PangoLayoutLine* line, double x, double y, double height) {
        const auto lineStart = static_cast<std::size_t>(line->start_index);
        const std::size_t lineEnd = lineStart + static_cast<std::size_t>(line->length);
        for (const LinkSpan& span : m_links) {
            const std::size_t from = std::max(span.from, lineStart);
            const std::size_t to = std::min(span.to, lineEnd);
            if (from >= to) continue;
            int left = 0;
            int right = 0;
            pango_layout_line_index_to_x(line, static_cast<int>(from), FALSE, &left);
            pango_layout_line_index_to_x(line, static_cast<int>(to), FALSE, &right);
            if (left > right) std::swap(left, right);
            std::string attributes =
                "rect=[" + number(x + left / double(PANGO_SCALE)) + " " + number(y) + " " +
                number((right - left) / double(PANGO_SCALE)) + " " + number(height) + "] uri='";
            for (const char c : *span.target) {
                if (c == '\\' || c == '\'') attributes += '\\';
                attributes += c;
            }
            attributes += "'";
            cairo_tag_begin(m_cr, CAIRO_TAG_LINK, attributes.c_str());
            cairo_tag_end(m_cr, CAIRO_TAG_LINK);
        }
    }

    static std::string number(double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.2f", value);
        return text;
    }

    void applyStyles(PangoLayout* layout, std::size_t start, std::size_t end, double width,
                     std::vector<std::unique_ptr<PictureSurface>>& pictures) {
        AttrListPtr list(pango_attr_list_new());
        m_links.clear();
        const CharacterStyle* first = nullptr;
        // Runs are in text order: begin with the first one that reaches into the piece.
        const auto& runs = m_text.runs();
        const auto begin = std::partition_point(runs.begin(), runs.end(), [start](const auto& run) {
            return run.start + run.length <= start;
        });
        for (auto it = begin; it != runs.end(); ++it) {
            const auto& run = *it;
            if (!first) first = &run.style;
            if (run.start >= end) break;
            const auto from = static_cast<guint>(std::max(run.start, start) - start);
            const auto to = static_cast<guint>(std::min(run.start + run.length, end) - start);
            const auto add = [&list, from, to](PangoAttribute* attribute) {
                attribute->start_index = from;
                attribute->end_index = to;
                pango_attr_list_insert(list.get(), attribute);
            };
            const CharacterStyle& style = run.style;
            if (!style.fontFamily.empty()) add(pango_attr_family_new(style.fontFamily.c_str()));
            add(pango_attr_size_new(pangoUnits(std::clamp(style.fontSize, 1.0, 1638.0))));
            if (style.bold) add(pango_attr_weight_new(PANGO_WEIGHT_BOLD));
            if (style.italic) add(pango_attr_style_new(PANGO_STYLE_ITALIC));
            if (!style.link.empty()) m_links.push_back({from, to, &style.link});
            if (style.underline || !style.link.empty())
                add(pango_attr_underline_new(PANGO_UNDERLINE_SINGLE));
            if (style.strikethrough) add(pango_attr_strikethrough_new(TRUE));
            const auto channel = [](std::uint8_t value) {
                return static_cast<guint16>(value * 257);
            };
            if (style.foreground)
                add(pango_attr_foreground_new(channel(style.foreground->red),
                                              channel(style.foreground->green),
                                              channel(style.foreground->blue)));
            else if (!style.link.empty())
                add(pango_attr_foreground_new(0, 0, 0xEEEE));
            if (style.background)
                add(pango_attr_background_new(channel(style.background->red),
                                              channel(style.background->green),
                                              channel(style.background->blue)));
            if (run.image >= 0) {
                const auto& image = m_text.images()[static_cast<std::size_t>(run.image)];
                pictures.push_back(std::make_unique<PictureSurface>(
                    makePictureSurface(image, width, frameHeight)));
                const PictureSurface& picture = *pictures.back();
                PangoRectangle rect{0, -pangoUnits(picture.height), pangoUnits(picture.width),
                                    pangoUnits(picture.height)};
                add(pango_attr_shape_new_with_data(&rect, &rect, pictures.back().get(), nullptr,
                                                   nullptr));
            }
        }
        // The paragraph's own font sets the height of an empty line.
        CharacterStyle base = first ? *first : CharacterStyle{};
        FontDescriptionPtr font(pango_font_description_new());
        pango_font_description_set_family(
            font.get(), base.fontFamily.empty() ? defaultFamily.data() : base.fontFamily.c_str());
        pango_font_description_set_size(font.get(),
                                        pangoUnits(std::clamp(base.fontSize, 1.0, 1638.0)));
        pango_layout_set_font_description(layout, font.get());
        pango_layout_set_attributes(layout, list.get());
    }

    const AttributedText& m_text;
    cairo_t* m_cr;
    std::stop_token m_stop;
    ContextPtr m_context;
    TabArrayPtr m_tabs;
    double m_y = 0; // from the top of the frame
    bool m_pageHasLines = false;
    int m_pages = 1;
    bool m_full = false;
    // The links of the piece being laid out, in its own byte offsets.
    struct LinkSpan {
        std::size_t from;
        std::size_t to;
        const std::string* target;
    };
    std::vector<LinkSpan> m_links;
};

} // namespace

void write(const AttributedText& text, const std::filesystem::path& file, std::stop_token stop) {
    const UniqueFd fd(
        ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd) throw ConvertError::failed("Не удалось создать PDF");
    PartialFile partial(file);
    Sink sink{fd.get()};
    SurfacePtr surface(
        cairo_pdf_surface_create_for_stream(writeToSink, &sink, pageWidth, pageHeight));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw ConvertError::failed("Не удалось создать PDF");
    {
        const CairoPtr cr(cairo_create(surface.get()));
        Paginator(text, cr.get(), std::move(stop)).run();
    }
    cairo_surface_finish(surface.get());
    if (sink.failed || cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS)
        throw ConvertError::failed("Не удалось создать PDF");
    partial.keep();
}

} // namespace lumatra::PDFWriter
