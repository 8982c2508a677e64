#include "office.h"

#include "flat_document.h"
#include "request.h"
#include "tool_error.h"

#include "formats/format.h"

#define LOK_USE_UNSTABLE_API
#include <LibreOfficeKit/LibreOfficeKit.h>
#include <LibreOfficeKit/LibreOfficeKitInit.h>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace lumatra::textutil {
std::string fileUrl(const std::filesystem::path& path) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string url = "file://";
    for (const unsigned char c : std::filesystem::absolute(path).string()) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '/' || c == '-' || c == '_' || c == '.' ||
                           c == '~';
        if (plain) {
            url += static_cast<char>(c);
        } else {
            url += '%';
            url += hex[c >> 4];
            url += hex[c & 0x0F];
        }
    }
    return url;
}

namespace {

std::string takeError(LibreOfficeKit* kit) {
    char* text = kit->pClass->getError(kit);
    std::string message = text ? text : "";
    if (text) kit->pClass->freeError(text);
    // Keep the sentence on one line.
    for (char& c : message)
        if (c == '\n' || c == '\r') c = ' ';
    return message.empty() ? "неизвестная ошибка" : message;
}

struct DocumentCloser {
    void operator()(LibreOfficeKitDocument* document) const { document->pClass->destroy(document); }
};

// The package's text is written as RTF; every other format under its own word.
const char* lokFormat(OutputFormat format) {
    return format == OutputFormat::rtfd ? "rtf" : formatWord(format);
}

constexpr const char* settingsXml = R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="DisableMacrosExecution" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="MacroSecurityLevel" oor:op="fuse"><value>3</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Security/Scripting"><prop oor:name="BlockUntrustedRefererLinks" oor:op="fuse"><value>true</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseOpenCL" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Office.Common/Save/Document"><prop oor:name="GenerateThumbnail" oor:op="fuse"><value>false</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetProxyType" oor:op="fuse"><value>2</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPProxyName" oor:op="fuse"><value>127.0.0.1</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPProxyPort" oor:op="fuse"><value>9</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPSProxyName" oor:op="fuse"><value>127.0.0.1</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetHTTPSProxyPort" oor:op="fuse"><value>9</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetFTPProxyName" oor:op="fuse"><value>127.0.0.1</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetFTPProxyPort" oor:op="fuse"><value>9</value></prop></item>
<item oor:path="/org.openoffice.Inet/Settings"><prop oor:name="ooInetNoProxy" oor:op="fuse"><value></value></prop></item>
</oor:items>
)";

// The installed engine's version ("7.4"), as its own settings name it; none when they
// cannot be read.
std::optional<std::string> installedVersion(const std::filesystem::path& program) {
    const auto file = program.parent_path() / "share" / "registry" / "main.xcd";
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    std::ifstream in(file, std::ios::binary);
    if (error || size > 64 * 1024 * 1024 || !in) return std::nullopt;
    std::string text(size, '\0');
    in.read(text.data(), static_cast<std::streamsize>(size));
    text.resize(static_cast<std::size_t>(in.gcount()));
    const std::string_view name = "<prop oor:name=\"ooSetupVersion\">";
    const auto at = text.find(name);
    if (at == std::string::npos) return std::nullopt;
    const auto start = text.find("<value>", at + name.size());
    const auto end = text.find("</value>", start);
    if (start == std::string::npos || end == std::string::npos || end - start > 7 + 16)
        return std::nullopt;
    std::string version = text.substr(start + 7, end - start - 7);
    const bool plain =
        !version.empty() && version.find_first_not_of("0123456789.") == std::string::npos;
    return plain ? std::optional(version) : std::nullopt;
}

} // namespace

std::optional<std::filesystem::path> Office::programFolder() {
    for (const char* folder : {"/usr/lib/libreoffice/program", "/usr/lib64/libreoffice/program",
                               "/opt/libreoffice/program"}) {
        std::error_code error;
        if (std::filesystem::exists(std::filesystem::path(folder) / "libmergedlo.so", error) ||
            std::filesystem::exists(std::filesystem::path(folder) / "libsofficeapp.so", error))
            return folder;
    }
    return std::nullopt;
}

bool Office::opensComments() {
    const auto program = programFolder();
    std::error_code error;
    return program && std::filesystem::exists(program->parent_path() / "share/config/soffice.cfg/"
                                                                       "modules/swriter/ui/"
                                                                       "annotation.ui",
                                              error);
}

void Office::writeSettings(const std::filesystem::path& profile) {
    const auto user = profile / "user";
    std::error_code error;
    std::filesystem::create_directories(user, error);
    if (error) throw systemFailure("Не удалось создать папку", user.string(), error.value());
    const auto file = user / "registrymodifications.xcu";
    // A copied profile keeps what the engine recorded at its first start (which spares
    // that second of work); our items go last, so they win over anything it holds.
    std::string text;
    if (std::ifstream in{file, std::ios::binary}) {
        text.assign(std::istreambuf_iterator<char>(in), {});
        const auto end = text.rfind("</oor:items>");
        text = end == std::string::npos ? std::string() : text.substr(0, end);
    }
    std::string items = settingsXml;
    // On the first start of each version the engine runs its graphics checks (seconds
    // of drawing into large pictures), and a headless start never records that it did:
    // the profile says the installed version has started before.
    if (const auto program = programFolder())
        if (const auto version = installedVersion(*program))
            items.insert(items.rfind("</oor:items>"),
                         "<item oor:path=\"/org.openoffice.Setup/Product\"><prop "
                         "oor:name=\"ooSetupLastVersion\" oor:op=\"fuse\"><value>" +
                             *version + "</value></prop></item>\n");
    if (text.empty()) {
        text = items;
    } else {
        text += items.substr(items.find("<item "));
    }
    std::filesystem::remove(file, error);
    const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw systemFailure("Не удалось записать", file.string(), errno);
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    if (!written) throw systemFailure("Не удалось записать", file.string(), EIO);
}

Office::Office(const std::filesystem::path& profile) {
    const auto program = programFolder();
    if (!program) throw ToolError(missingOffice);
    writeSettings(profile);
    m_kit = lok_init_2(program->c_str(), fileUrl(profile).c_str());
    if (!m_kit) throw ToolError("LibreOffice не запускается: переустановите его");
}

void Office::shutdown() {
    if (m_kit) m_kit->pClass->destroy(m_kit);
    m_kit = nullptr;
}

Office::~Office() {
    // Ending the engine takes long and gains nothing: the process ends right after,
    // and its profile is a scratch folder.
}

namespace {

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw systemFailure("Не удалось прочитать", path.filename().string(), EIO);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void replaceFile(const std::filesystem::path& path, std::string_view bytes) {
    std::error_code error;
    std::filesystem::remove(path, error);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) throw systemFailure("Не удалось записать", path.filename().string(), errno);
    const bool written =
        ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    if (::close(fd) != 0 || !written)
        throw systemFailure("Не удалось записать", path.filename().string(), EIO);
}

// LibreOffice writes links to files into RTF as absolute addresses, resolved against
// the folder the document was read from. Those that lead below the run's scratch folder
// (every relative link does, see workFolder) are made relative to `folder` again, as
// they came.
std::string relativeFileLinks(std::string rtf, const std::filesystem::path& folder) {
    auto root = folder;
    while (root.filename() == "d")
        root = root.parent_path();
    const std::string prefix = "HYPERLINK \"file://" + root.string() + "/";
    for (std::size_t at = rtf.find(prefix); at != std::string::npos; at = rtf.find(prefix, at)) {
        const std::size_t start = at + 11; // the address, after HYPERLINK and its quote
        const std::size_t end = rtf.find('"', start);
        if (end == std::string::npos) break;
        const std::string target = rtf.substr(start + 7, end - start - 7);
        std::string relative =
            std::filesystem::path(target).lexically_relative(folder).generic_string();
        if (relative == ".") relative.clear();
        if (target.ends_with('/') && !relative.empty() && !relative.ends_with('/')) relative += '/';
        rtf.replace(start, end - start, relative);
        at = start + relative.size();
    }
    return rtf;
}

} // namespace

LibreOfficeKitDocument* Office::open(const std::filesystem::path& input) {
    // Macros never run: the engine's loader defaults to never executing them, and the
    // profile forbids them as well.
    LibreOfficeKitDocument* document =
        m_kit->pClass->documentLoadWithOptions(m_kit, fileUrl(input).c_str(), "");
    if (!document) throw ToolError(std::string(openFailure) + ": " + takeError(m_kit));
    return document;
}

void Office::convert(const std::filesystem::path& input, OutputFormat format,
                     const std::filesystem::path& output) {
    std::unique_ptr<LibreOfficeKitDocument, DocumentCloser> document(open(input));
    // A web page opens as a web document, whose ODF would be Writer/Web's; PDF pages take
    // our geometry. Both go through flat ODF, which makes any document a text document.
    const bool webPage = lowercased(input.extension().string()) == ".html";
    const bool flatStep = format == OutputFormat::pdf || (format == OutputFormat::odt && webPage);
    if (flatStep) {
        const auto flat = output.parent_path() / ".flat.fodt";
        if (!document->pClass->saveAs(document.get(), fileUrl(flat).c_str(), "fodt", ""))
            throw ToolError("LibreOffice не сохранил документ: " + takeError(m_kit));
        document.reset();
        std::string xml = withoutAnnotations(readWhole(flat));
        if (format == OutputFormat::pdf)
            xml = withoutMetadata(withUnicodeBullets(withA4Pages(xml)));
        replaceFile(flat, xml);
        xml.clear();
        xml.shrink_to_fit();
        document.reset(open(flat));
        std::error_code error;
        std::filesystem::remove(flat, error);
    }
    // Links to files stay relative in PDF, as in every other format.
    const char* options = format == OutputFormat::html  ? "EmbedImages"
                          : format == OutputFormat::pdf ? R"({"ExportLinksRelativeFsys":)"
                                                          R"({"type":"boolean","value":"true"}})"
                                                        : "";
    if (!document->pClass->saveAs(document.get(), fileUrl(output).c_str(), lokFormat(format),
                                  options))
        throw ToolError("Не удалось записать «" + output.string() +
                        "»: LibreOffice не смог сохранить документ");
    if (format == OutputFormat::rtf)
        replaceFile(output, relativeFileLinks(readWhole(output), output.parent_path()));
}

} // namespace lumatra::textutil
