#include "source_preparer.h"

#include "active_content.h"
#include "file_fields.h"
#include "page_pictures.h"
#include "tool_error.h"

#include "formats/format.h"
#include "text/utf8.h"
#include "tools/read_to_end.h"

#include <fcntl.h>
#include <iconv.h>
#include <plist/plist.h>
#include <sys/stat.h>
#include <uchardet/uchardet.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>

namespace lumatra::textutil {
namespace {

constexpr std::string_view utf8Mark = "\xEF\xBB\xBF";

std::string readSource(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) throw systemFailure("Не удалось открыть", path.string(), errno);
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        ::close(fd);
        if (folder) throw systemFailure("Не удалось открыть", path.string(), EISDIR);
        throw ToolError("Не удалось открыть «" + path.string() + "»: это не обычный файл");
    }
    if (static_cast<std::uint64_t>(info.st_size) > maxSourceBytes) {
        ::close(fd);
        throw ToolError("Файл «" + path.string() + "» слишком большой");
    }
    std::string bytes;
    const int failure =
        readToEnd(fd, static_cast<std::size_t>(info.st_size), maxSourceBytes, bytes);
    ::close(fd);
    if (failure == EFBIG) throw ToolError("Файл «" + path.string() + "» слишком большой");
    if (failure != 0) throw systemFailure("Не удалось прочитать", path.string(), failure);
    return bytes;
}

void writeScratch(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw systemFailure("Не удалось записать", path.string(), errno);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int reason = n < 0 ? errno : EIO;
            ::close(fd);
            throw systemFailure("Не удалось записать", path.string(), reason);
        }
        written += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0) throw systemFailure("Не удалось записать", path.string(), errno);
}

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::size_t findNoCase(std::string_view text, std::string_view word, std::size_t from) {
    for (std::size_t i = from; i + word.size() <= text.size(); ++i) {
        std::size_t j = 0;
        while (j < word.size() && asciiLower(text[i + j]) == word[j])
            ++j;
        if (j == word.size()) return i;
    }
    return std::string_view::npos;
}

bool isCharsetChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '_' || c == ':' || c == '.';
}

// Where the value of each charset declaration in the page's <meta> tags is; `visit`
// gets the start and length of each value. Only the first 64 KiB are looked at, where
// the head of any real page ends.
template <typename Visit> void forEachCharset(std::string_view html, Visit visit) {
    const std::string_view head = html.substr(0, 64 * 1024);
    std::size_t at = 0;
    while ((at = findNoCase(head, "<meta", at)) != std::string_view::npos) {
        const std::size_t end = head.find('>', at);
        const std::string_view tag =
            head.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
        std::size_t found = 0;
        while ((found = findNoCase(tag, "charset", found)) != std::string_view::npos) {
            std::size_t value = found + 7;
            while (value < tag.size() && (tag[value] == ' ' || tag[value] == '\t'))
                ++value;
            if (value < tag.size() && tag[value] == '=') {
                ++value;
                while (value < tag.size() &&
                       (tag[value] == ' ' || tag[value] == '"' || tag[value] == '\''))
                    ++value;
                std::size_t stop = value;
                while (stop < tag.size() && isCharsetChar(tag[stop]))
                    ++stop;
                if (stop > value) visit(at + value, stop - value);
            }
            found += 7;
        }
        if (end == std::string_view::npos) break;
        at = end;
    }
}

struct IconvCloser {
    void operator()(iconv_t handle) const { ::iconv_close(handle); }
};

std::string convertWithIconv(std::string_view bytes, const std::string& encoding) {
    iconv_t raw = ::iconv_open("UTF-8", encoding.c_str());
    if (raw == reinterpret_cast<iconv_t>(-1)) throw ToolError("Неизвестная кодировка: " + encoding);
    const std::unique_ptr<void, IconvCloser> handle(raw);
    std::string out(bytes.size() * 2 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    std::size_t used = 0;
    while (inLeft > 0) {
        char* outAt = out.data() + used;
        std::size_t outLeft = out.size() - used;
        const std::size_t result = ::iconv(raw, &in, &inLeft, &outAt, &outLeft);
        used = static_cast<std::size_t>(outAt - out.data());
        if (result != static_cast<std::size_t>(-1)) break;
        if (errno == E2BIG) {
            out.resize(out.size() * 2);
            continue;
        }
        throw ToolError("Текст не в кодировке " + encoding);
    }
    out.resize(used);
    return out;
}

std::string guessEncoding(std::string_view bytes) {
    uchardet_t detector = uchardet_new();
    if (!detector) return {};
    uchardet_handle_data(detector, bytes.data(), std::min<std::size_t>(bytes.size(), 1 << 20));
    uchardet_data_end(detector);
    std::string name = uchardet_get_charset(detector);
    uchardet_delete(detector);
    return name;
}

struct PlistFree {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};

std::optional<std::string> stringItem(plist_t dict, const char* key) {
    const plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_STRING) return std::nullopt;
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(node, &length);
    return text ? std::optional<std::string>(std::string(text, length)) : std::nullopt;
}

std::optional<std::string> dataItem(plist_t dict, const char* key) {
    const plist_t node = plist_dict_get_item(dict, key);
    if (!node || plist_get_node_type(node) != PLIST_DATA) return std::nullopt;
    char* bytes = nullptr;
    std::uint64_t length = 0;
    plist_get_data_val(node, &bytes, &length);
    const std::unique_ptr<char, decltype(&std::free)> owner(bytes, &std::free);
    return std::string(bytes ? bytes : "", bytes ? length : 0);
}

} // namespace

std::optional<std::string> declaredCharset(std::string_view html) {
    std::optional<std::string> charset;
    forEachCharset(html, [&](std::size_t at, std::size_t length) {
        if (!charset) charset = std::string(html.substr(at, length));
    });
    return charset;
}

std::string declareUtf8(std::string_view html) {
    std::string out;
    std::size_t copied = 0;
    forEachCharset(html, [&](std::size_t at, std::size_t length) {
        out.append(html.substr(copied, at - copied)).append("utf-8");
        copied = at + length;
    });
    out.append(html.substr(copied));
    return out;
}

std::string decodeText(std::string_view bytes, const std::optional<std::string>& encoding,
                       const std::optional<std::string>& declared) {
    if (encoding) {
        const std::string lower = [&] {
            std::string text = *encoding;
            for (char& c : text)
                c = asciiLower(c);
            return text;
        }();
        if (lower == "utf-8" || lower == "utf8") {
            if (bytes.substr(0, 3) == utf8Mark) bytes.remove_prefix(3);
            if (!utf8::isValid(bytes)) throw ToolError("Текст не в кодировке UTF-8");
            return std::string(bytes);
        }
        return convertWithIconv(bytes, *encoding);
    }
    if (bytes.substr(0, 3) == utf8Mark)
        bytes.remove_prefix(3);
    else if (bytes.substr(0, 2) == "\xFF\xFE" || bytes.substr(0, 2) == "\xFE\xFF")
        return convertWithIconv(bytes, "UTF-16");
    if (utf8::isValid(bytes)) return std::string(bytes);
    if (declared) {
        try {
            return convertWithIconv(bytes, *declared);
        } catch (const ToolError&) {
            // A page that lies about its charset: guess instead.
        }
    }
    if (const std::string guess = guessEncoding(bytes); !guess.empty() && guess != "ASCII") {
        try {
            return convertWithIconv(bytes, guess);
        } catch (const ToolError&) {
        }
    }
    std::string out;
    if (utf8::fromWindows1251(bytes, out)) return out;
    return convertWithIconv(bytes, "ISO-8859-1");
}

std::string withoutEmptyDates(std::string_view html) {
    std::string out(html);
    for (const std::string_view tag : {"<meta name=\"created\" content=\"00:00:00\"/>",
                                       "<meta name=\"changed\" content=\"00:00:00\"/>"}) {
        const auto at = out.find(tag);
        if (at == std::string::npos) continue;
        std::size_t start = at;
        // With the line it stands on, when it has one of its own.
        while (start > 0 && (out[start - 1] == '\t' || out[start - 1] == ' '))
            --start;
        std::size_t end = at + tag.size();
        if (start > 0 && out[start - 1] == '\n' && end < out.size() && out[end] == '\n') --start;
        out.erase(start, end - start);
    }
    return out;
}

namespace {

std::string kindTitle(const std::string& extension) {
    std::string title = extension;
    for (char& c : title)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return title;
}

// Whether a ZIP archive ends in its end-of-central-directory record (within the last
// 64 KiB of comment it may carry): a cut-off download lacks it.
bool zipComplete(std::string_view bytes) {
    constexpr std::string_view record("PK\x05\x06", 4);
    const std::size_t tail = std::min<std::size_t>(bytes.size(), 65536 + 22);
    return bytes.substr(bytes.size() - tail).rfind(record) != std::string_view::npos;
}

// Rich text, whatever the extension says (a .doc often is).
bool isRichText(std::string_view bytes) {
    std::string_view start = bytes.substr(0, 4096);
    if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
    while (!start.empty() &&
           (start[0] == ' ' || start[0] == '\r' || start[0] == '\n' || start[0] == '\t'))
        start.remove_prefix(1);
    return start.substr(0, 5) == "{\\rtf";
}

} // namespace

std::string unreadableDocument(const std::filesystem::path& source) {
    const std::string extension = lowercased(pathExtension(source));
    return "Не удалось открыть «" + source.string() + "»: файл повреждён или это не документ " +
           kindTitle(extension.empty() ? std::string("текста") : extension);
}

void checkOfficeSignature(std::string_view bytes, const std::string& extension,
                          const std::filesystem::path& source) {
    const std::string name = "Файл «" + source.string() + "»";
    const std::string title = kindTitle(extension);
    if (bytes.empty()) throw ToolError(name + " пуст: в нём нет документа " + title);
    const bool zip = bytes.substr(0, 4) == std::string_view("PK\x03\x04", 4);
    const bool compound = bytes.substr(0, 8) == "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    std::string_view start = bytes;
    if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
    while (!start.empty() &&
           (start[0] == ' ' || start[0] == '\r' || start[0] == '\n' || start[0] == '\t'))
        start.remove_prefix(1);
    const bool rich = start.substr(0, 5) == "{\\rtf";
    const bool xml = start.substr(0, 5) == "<?xml" || start.substr(0, 16) == "<office:document";
    if (extension == "docx" || extension == "odt") {
        if (!zip)
            throw ToolError(name + " повреждён или не является документом " + title +
                            ": это не ZIP-архив");
        if (!zipComplete(bytes))
            throw ToolError(name + " повреждён: документ " + title + " обрезан");
        const std::string_view part = extension == "docx" ? "word/" : "content.xml";
        if (bytes.find(part) == std::string_view::npos)
            throw ToolError(name + " не является документом " + title +
                            ": в архиве нет текста документа");
    }
    bool fits = true;
    if (extension == "rtf") fits = rich;
    if (extension == "doc") fits = compound || rich;
    if (extension == "fodt") fits = xml;
    if (!fits) throw ToolError(name + " повреждён или не является документом " + title);
}

WebArchive readWebArchive(std::string_view archive) {
    if (archive.size() > UINT32_MAX) throw ToolError("веб-архив слишком большой");
    plist_t raw = nullptr;
    plist_from_memory(archive.data(), static_cast<std::uint32_t>(archive.size()), &raw);
    const std::unique_ptr<void, PlistFree> root(raw);
    const plist_t main = raw && plist_get_node_type(raw) == PLIST_DICT
                             ? plist_dict_get_item(raw, "WebMainResource")
                             : nullptr;
    const auto data = main && plist_get_node_type(main) == PLIST_DICT
                          ? dataItem(main, "WebResourceData")
                          : std::nullopt;
    if (!data) throw ToolError("в веб-архиве нет главной страницы");
    WebArchive result;
    const auto encoding = stringItem(main, "WebResourceTextEncodingName");
    result.page = decodeText(*data, std::nullopt, encoding ? encoding : declaredCharset(*data));
    result.address = stringItem(main, "WebResourceURL").value_or("");
    const plist_t resources = plist_dict_get_item(raw, "WebSubresources");
    if (!resources || plist_get_node_type(resources) != PLIST_ARRAY) return result;
    const std::uint32_t count = std::min<std::uint32_t>(plist_array_get_size(resources), 1000);
    for (std::uint32_t i = 0; i < count; ++i) {
        const plist_t resource = plist_array_get_item(resources, i);
        if (!resource || plist_get_node_type(resource) != PLIST_DICT) continue;
        auto address = stringItem(resource, "WebResourceURL");
        auto bytes = dataItem(resource, "WebResourceData");
        if (address && bytes) result.pictures.emplace_back(std::move(*address), std::move(*bytes));
    }
    return result;
}

std::string resolveAddress(std::string_view base, std::string_view relative) {
    const auto scheme = relative.find(':');
    if (scheme != std::string_view::npos && relative.find('/') > scheme)
        return std::string(relative);
    const auto authority = base.find("://");
    if (authority == std::string_view::npos) return std::string(relative);
    if (relative.substr(0, 2) == "//")
        return std::string(base.substr(0, authority + 1)) + std::string(relative);
    const auto pathStart = base.find('/', authority + 3);
    const std::string_view origin = base.substr(0, pathStart);
    if (!relative.empty() && relative.front() == '/')
        return std::string(origin) + std::string(relative);
    const std::string_view path = base.substr(0, base.find_first_of("?#"));
    const auto lastSlash = path.rfind('/');
    if (pathStart == std::string_view::npos || lastSlash < authority + 3)
        return std::string(origin) + "/" + std::string(relative);
    return std::string(path.substr(0, lastSlash + 1)) + std::string(relative);
}

std::filesystem::path prepareSource(const Request& request, const std::filesystem::path& scratch) {
    const auto& source = request.source;
    switch (sourceKind(source)) {
    case SourceKind::office: {
        const std::string extension = lowercased(pathExtension(source));
        const std::string bytes = readSource(source);
        checkOfficeSignature(bytes, extension, source);
        const auto copy = scratch / ("source." + extension);
        writeScratch(copy, isRichText(bytes) ? withoutFileFields(bytes) : bytes);
        return copy;
    }
    case SourceKind::html: {
        const std::string bytes = readSource(source);
        // Dates go first: their removal may bring a charset declaration together.
        const auto page =
            inlinePictures(withoutActiveContent(declareUtf8(withoutEmptyDates(
                               decodeText(bytes, request.inputEncoding, declaredCharset(bytes))))),
                           folderPictures(source.parent_path()));
        const auto copy = scratch / "source.html";
        writeScratch(copy, page);
        return copy;
    }
    case SourceKind::webarchive: {
        const auto copy = scratch / "source.html";
        const std::string bytes = readSource(source);
        if (bytes.empty())
            throw ToolError("Файл «" + source.string() + "» пуст: в нём нет веб-архива");
        const WebArchive archive = [&] {
            try {
                return readWebArchive(bytes);
            } catch (const ToolError& error) {
                throw ToolError("Файл «" + source.string() + "» повреждён: " + error.what());
            }
        }();
        const auto picture = [&](std::string_view address) -> std::optional<std::string> {
            std::string wanted(address);
            for (std::size_t at = 0; (at = wanted.find("&amp;", at)) != std::string::npos; ++at)
                wanted.erase(at + 1, 4);
            wanted = resolveAddress(archive.address, wanted);
            for (const auto& [known, bytes] : archive.pictures)
                if (known == wanted) return bytes;
            return std::nullopt;
        };
        writeScratch(
            copy, inlinePictures(withoutActiveContent(declareUtf8(withoutEmptyDates(archive.page))),
                                 picture));
        return copy;
    }
    case SourceKind::rtfd: {
        struct stat info {};
        if (::stat(source.c_str(), &info) != 0)
            throw systemFailure("Не удалось открыть", source.string(), errno);
        // A package is a folder holding TXT.rtf; a lone file is taken as rich text.
        const auto rich = S_ISDIR(info.st_mode) ? source / "TXT.rtf" : source;
        const auto copy = scratch / "source.rtf";
        const std::string bytes = readSource(rich);
        checkOfficeSignature(bytes, "rtf", rich);
        writeScratch(copy, withoutFileFields(bytes));
        return copy;
    }
    case SourceKind::text: {
        const auto copy = scratch / "source.txt";
        std::string text(utf8Mark);
        text += decodeText(readSource(source), request.inputEncoding);
        writeScratch(copy, text);
        return copy;
    }
    }
    throw ToolError("Неизвестный вид файла");
}

} // namespace lumatra::textutil
