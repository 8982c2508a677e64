#include "formats/format.h"

#include <gio/gio.h>

#include <algorithm>
#include <cstddef>
#include <memory>

namespace lumatra {
namespace {

struct FormatRow {
    std::string_view raw;
    std::string_view ext;
    std::string_view title;
    std::string_view detail;
};

// Indexed by Format; the order matches the enumeration.
constexpr std::array<FormatRow, allFormats.size()> formatRows{{
    {"mp3", "mp3", "MP3", "Подходит везде"},
    {"m4a", "m4a", "M4A", "AAC, iPhone и Apple Music"},
    {"wav", "wav", "WAV", "Без сжатия"},
    {"flac", "flac", "FLAC", "Без потерь, сжатый"},
    {"alac", "m4a", "ALAC", "Без потерь, для Apple"},
    {"opus", "opus", "OPUS", "Маленький размер"},
    {"ogg", "ogg", "OGG", "Opus в контейнере OGG"},
    {"aiff", "aiff", "AIFF", "Без сжатия, Mac"},
    {"mp4", "mp4", "MP4", "H.264, открывается везде"},
    {"hevc", "mp4", "MP4 HEVC", "H.265, вдвое меньше"},
    {"mov", "mov", "MOV", "QuickTime, H.264"},
    {"webm", "webm", "WEBM", "VP9 для сайтов"},
    {"mkv", "mkv", "MKV", "H.264 в Matroska"},
    {"gif", "gif", "GIF", "Анимация без звука"},
    {"jpg", "jpg", "JPG", "Фото, малый размер"},
    {"png", "png", "PNG", "Без потерь, прозрачность"},
    {"heic", "heic", "HEIC", "Формат iPhone"},
    {"avif", "avif", "AVIF", "Самый лёгкий"},
    {"tiff", "tiff", "TIFF", "Для печати"},
    {"bmp", "bmp", "BMP", "Без сжатия"},
    {"ico", "ico", "ICO", "Значок Windows"},
    {"icns", "icns", "ICNS", "Значок macOS"},
    {"pdf", "pdf", "PDF", "Документ для отправки"},
    {"docx", "docx", "DOCX", "Microsoft Word"},
    {"rtf", "rtf", "RTF", "Текст с оформлением"},
    {"txt", "txt", "TXT", "Только текст"},
    {"html", "html", "HTML", "Веб-страница"},
    {"odt", "odt", "ODT", "LibreOffice"},
    {"json", "json", "JSON", "Для программ"},
    {"csv", "csv", "CSV", "Таблица для Excel"},
    {"plist", "plist", "PLIST", "Настройки Apple"},
}};

const FormatRow& row(Format format) {
    return formatRows[static_cast<std::size_t>(format)];
}

constexpr std::string_view audioExtensions[] = {
    "mp3",  "m4a", "aac",  "wav", "flac", "ogg", "oga", "opus", "aiff", "aif",
    "aifc", "wma", "alac", "amr", "caf",  "m4b", "ac3", "mka",  "ape",  "wv"};
constexpr std::string_view videoExtensions[] = {"mp4",  "m4v", "mov",  "mkv", "avi", "webm", "flv",
                                                "wmv",  "mpg", "mpeg", "3gp", "3g2", "ts",   "mts",
                                                "m2ts", "vob", "ogv",  "mxf", "dv"};
constexpr std::string_view imageExtensions[] = {
    "jpg", "jpeg", "png", "heic", "heif", "webp", "tif", "tiff", "gif",
    "bmp", "avif", "ico", "icns", "psd",  "tga",  "jp2", "exr",  "dng",
    "cr2", "cr3",  "nef", "arw",  "raf",  "orf",  "rw2"};
constexpr std::string_view documentExtensions[] = {"pdf",        "txt",  "text",    "rtf",  "rtfd",
                                                   "doc",        "docx", "odt",     "html", "htm",
                                                   "webarchive", "md",   "markdown"};
constexpr std::string_view dataExtensions[] = {"json", "csv", "tsv", "plist"};

// Picture types outside the tables that the image decoder reads: portable anymaps, PCX,
// GIMP images and SVG drawings. Other picture types the registry knows (camera RAW of
// other makers, XPM, EPS…) are not offered, since no decoder here reads them.
bool isReadableImageType(std::string_view mime) {
    static constexpr std::string_view readable[] = {"image/x-portable-anymap",
                                                    "image/x-portable-bitmap",
                                                    "image/x-portable-graymap",
                                                    "image/x-portable-pixmap",
                                                    "image/vnd.zbrush.pcx",
                                                    "image/x-pcx",
                                                    "image/x-xcf",
                                                    "image/svg+xml",
                                                    "image/svg+xml-compressed",
                                                    "image/jpeg",
                                                    "image/png",
                                                    "image/gif",
                                                    "image/tiff",
                                                    "image/webp",
                                                    "image/avif",
                                                    "image/heif",
                                                    "image/heic",
                                                    "image/bmp",
                                                    "image/x-win-bitmap",
                                                    "image/vnd.microsoft.icon"};
    for (const std::string_view type : readable)
        if (type == mime) return true;
    return false;
}

// Asks the shared MIME database about an extension the tables do not know. Only the
// name is given to it, so it never opens the file; an uncertain guess counts as none.
std::optional<Kind> registryKind(const std::string& extension) {
    const std::string name = "file." + extension;
    gboolean uncertain = TRUE;
    std::unique_ptr<gchar, decltype(&g_free)> type(
        g_content_type_guess(name.c_str(), nullptr, 0, &uncertain), g_free);
    if (!type || uncertain) return std::nullopt;
    const std::string_view mime(type.get());
    if (mime.starts_with("video/")) return Kind::video;
    if (mime.starts_with("audio/")) return Kind::audio;
    if (mime.starts_with("image/"))
        return isReadableImageType(mime) ? std::optional(Kind::image) : std::nullopt;
    if (g_content_type_is_a(type.get(), "text/plain")) return Kind::document;
    return std::nullopt;
}

} // namespace

std::string_view rawValue(Kind kind) {
    switch (kind) {
    case Kind::audio:
        return "audio";
    case Kind::video:
        return "video";
    case Kind::image:
        return "image";
    case Kind::document:
        return "document";
    case Kind::data:
        return "data";
    }
    return {};
}

std::string_view title(Kind kind) {
    switch (kind) {
    case Kind::audio:
        return "Аудио";
    case Kind::video:
        return "Видео";
    case Kind::image:
        return "Фото";
    case Kind::document:
        return "Документы";
    case Kind::data:
        return "Данные";
    }
    return {};
}

std::string_view symbol(Kind kind) {
    switch (kind) {
    case Kind::audio:
        return "waveform";
    case Kind::video:
        return "film";
    case Kind::image:
        return "photo";
    case Kind::document:
        return "doc.text";
    case Kind::data:
        return "curlybraces";
    }
    return {};
}

std::optional<Kind> kindFromRaw(std::string_view raw) {
    for (Kind kind : allKinds)
        if (rawValue(kind) == raw) return kind;
    return std::nullopt;
}

std::string_view rawValue(Format format) {
    return row(format).raw;
}
std::string_view ext(Format format) {
    return row(format).ext;
}
std::string_view title(Format format) {
    return row(format).title;
}
std::string_view detail(Format format) {
    return row(format).detail;
}

bool isAudioOnly(Format format) {
    return std::ranges::find(audioTargets, format) != audioTargets.end();
}

std::optional<Format> formatFromRaw(std::string_view raw) {
    for (Format format : allFormats)
        if (rawValue(format) == raw) return format;
    return std::nullopt;
}

std::string_view rawValue(Quality quality) {
    switch (quality) {
    case Quality::best:
        return "best";
    case Quality::balanced:
        return "balanced";
    case Quality::small:
        return "small";
    }
    return {};
}

std::string_view title(Quality quality) {
    switch (quality) {
    case Quality::best:
        return "Максимум";
    case Quality::balanced:
        return "Баланс";
    case Quality::small:
        return "Компактно";
    }
    return {};
}

std::optional<Quality> qualityFromRaw(std::string_view raw) {
    for (Quality quality : allQualities)
        if (rawValue(quality) == raw) return quality;
    return std::nullopt;
}

std::span<const std::string_view> kindExtensions(Kind kind) {
    switch (kind) {
    case Kind::audio:
        return audioExtensions;
    case Kind::video:
        return videoExtensions;
    case Kind::image:
        return imageExtensions;
    case Kind::document:
        return documentExtensions;
    case Kind::data:
        return dataExtensions;
    }
    return {};
}

std::string pathExtension(const std::filesystem::path& path) {
    const std::string name = path.filename().string();
    const auto dot = name.rfind('.');
    // A leading dot starts a hidden name, not an extension.
    if (dot == std::string::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

std::string lowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

std::optional<Kind> kindOf(const std::filesystem::path& path) {
    const std::string extension = lowercased(pathExtension(path));
    if (extension.empty()) return std::nullopt;
    // The tables are small; a linear scan over ~80 short strings beats hashing them.
    for (Kind kind : allKinds)
        if (std::ranges::find(kindExtensions(kind), extension) != kindExtensions(kind).end())
            return kind;
    return registryKind(extension);
}

bool isSameFormat(Format format, std::string_view extension) {
    if (extension == "jpeg") return format == Format::jpg;
    if (extension == "tif") return format == Format::tiff;
    if (extension == "htm") return format == Format::html;
    if (extension == "text") return format == Format::txt;
    if (extension == "aif") return format == Format::aiff;
    if (extension == "tsv") return format == Format::csv;
    return ext(format) == extension;
}

std::vector<Format> targetsFor(const std::filesystem::path& path) {
    const auto kind = kindOf(path);
    if (!kind) return {};
    const std::string extension = lowercased(pathExtension(path));
    const auto withoutSame = [&](std::initializer_list<Format> list) {
        std::vector<Format> out;
        for (Format format : list)
            if (!isSameFormat(format, extension)) out.push_back(format);
        return out;
    };
    switch (*kind) {
    case Kind::audio:
        return {audioTargets.begin(), audioTargets.end()};
    case Kind::video: {
        std::vector<Format> out(videoTargets.begin(), videoTargets.end());
        out.insert(out.end(), audioTargets.begin(), audioTargets.end());
        return out;
    }
    case Kind::image: {
        std::vector<Format> out(imageTargets.begin(), imageTargets.end());
        if (extension == "gif") out.insert(out.end(), {Format::mp4, Format::webm});
        return out;
    }
    case Kind::document:
        if (extension == "pdf")
            return {Format::txt, Format::docx, Format::rtf, Format::html, Format::png, Format::jpg};
        return withoutSame(
            {Format::pdf, Format::docx, Format::rtf, Format::txt, Format::html, Format::odt});
    case Kind::data:
        return withoutSame({Format::json, Format::csv, Format::plist});
    }
    return {};
}

std::optional<Format> defaultTargetFor(const std::filesystem::path& path) {
    const auto targets = targetsFor(path);
    if (targets.empty()) return std::nullopt;
    const std::string extension = lowercased(pathExtension(path));
    for (Format format : targets)
        if (!isSameFormat(format, extension)) return format;
    return targets.front();
}

} // namespace lumatra
