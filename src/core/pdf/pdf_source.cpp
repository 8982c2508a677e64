#include "pdf/pdf_source.h"

#include "formats/convert_error.h"
#include "pdf/pdf_document.h"
#include "richtext/attributed_text.h"
#include "richtext/rtf_writer.h"
#include "tools/unique_fd.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

namespace lumatra::PdfSource {
namespace {

const char* const noTextMessage =
    "В PDF нет текста — похоже, это скан. Переведите его в PNG или JPG.";

// Writes a new file; an existing item (a link included) at the path is an error.
void writeNewFile(const std::filesystem::path& path, std::string_view bytes) {
    const UniqueFd fd(
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
    if (!fd) throw SystemError("Не удалось записать", path, errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw SystemError("Не удалось записать", path, errno);
        written += static_cast<std::size_t>(n);
    }
}

// Every target writes something of every page; a document without one has lost its page
// tree, since a PDF holds at least one page.
void requirePages(const PdfDocument& document) {
    if (document.pageCount() == 0)
        throw ConvertError::failed("PDF повреждён: в нём не найдено ни одной страницы.");
}

void makeFolder(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) throw SystemError("Не удалось создать папку", path, error.value());
}

} // namespace

int dpi(Quality quality) {
    switch (quality) {
    case Quality::best:
        return 300;
    case Quality::balanced:
        return 200;
    case Quality::small:
        return 120;
    }
    return 200;
}

std::string pageFileName(int number, int pageCount, Format format) {
    const std::size_t digits = std::to_string(std::max(pageCount, 1)).size();
    std::string numberText = std::to_string(number);
    if (numberText.size() < digits) numberText.insert(0, digits - numberText.size(), '0');
    return "Страница " + numberText + "." + std::string(ext(format));
}

bool convert(const std::filesystem::path& source, Format target, Quality quality,
             const std::filesystem::path& output, const std::filesystem::path& scratch,
             const TextConverter& textConverter, std::stop_token stop,
             const std::function<void(double)>& progress) {
    const PdfDocument document = PdfDocument::open(source);
    switch (target) {
    case Format::rtf:
    case Format::docx:
    case Format::html: {
        requirePages(document);
        const AttributedText text = document.attributedText(stop);
        if (isBlankText(text.text())) throw ConvertError::failed(noTextMessage);
        const std::string rtf = RtfWriter::write(text);
        if (target == Format::rtf) {
            writeNewFile(output, rtf);
            return false;
        }
        const std::filesystem::path intermediate = scratch / "document.rtf";
        writeNewFile(intermediate, rtf);
        textConverter(intermediate, std::string(rawValue(target)), output);
        return false;
    }
    case Format::txt: {
        requirePages(document);
        const std::string text = document.plainText(stop);
        if (isBlankText(text)) throw ConvertError::failed(noTextMessage);
        writeNewFile(output, text);
        return false;
    }
    case Format::png:
    case Format::jpg: {
        requirePages(document);
        const int count = document.pageCount();
        if (count > maxPicturePages)
            throw ConvertError::failed("Страниц в PDF: " + std::to_string(count) +
                                       ", а в картинки переводятся документы до " +
                                       std::to_string(maxPicturePages) +
                                       " страниц. Разделите его на части.");
        const int resolution = dpi(quality);
        if (count == 1) {
            document.renderPage(0, resolution, target, output);
            return false;
        }
        makeFolder(output);
        for (int i = 0; i < count; ++i) {
            if (stop.stop_requested()) throw CancelledError();
            document.renderPage(i, resolution, target, output / pageFileName(i + 1, count, target));
            if (progress) progress(static_cast<double>(i + 1) / count);
        }
        return true;
    }
    case Format::mp3:
    case Format::m4a:
    case Format::wav:
    case Format::flac:
    case Format::alac:
    case Format::opus:
    case Format::ogg:
    case Format::aiff:
    case Format::mp4:
    case Format::hevc:
    case Format::mov:
    case Format::webm:
    case Format::mkv:
    case Format::gif:
    case Format::heic:
    case Format::avif:
    case Format::tiff:
    case Format::bmp:
    case Format::ico:
    case Format::icns:
    case Format::pdf:
    case Format::odt:
    case Format::json:
    case Format::csv:
    case Format::plist:
        break;
    }
    throw ConvertError::unsupported("PDF → " + std::string(title(target)));
}

} // namespace lumatra::PdfSource
