#pragma once
// LibreOffice's engine in this process, through LibreOfficeKit: started once with a
// private profile, then converting documents one at a time.

#include "request.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>

struct _LibreOfficeKit;
struct _LibreOfficeKitDocument;

namespace lumatra::textutil {

/// A file URL for a local path, every byte outside the unreserved set percent-encoded.
std::string fileUrl(const std::filesystem::path& path);

/// The start of the message when the engine cannot open a document at all.
inline constexpr const char* openFailure = "LibreOffice не открыл документ";

/// What to do when no LibreOffice is installed: the desktop's Writer, or the nogui one
/// on a machine without a desktop (the two cannot be installed together).
inline constexpr const char* missingOffice =
    "Для документов нужен LibreOffice: sudo apt install libreoffice-writer "
    "(без рабочего стола — libreoffice-writer-nogui)";

class Office {
public:
    /// The folder of LibreOffice's program files (the desktop package and the nogui one
    /// install the same engine there), or none when it is not installed.
    static std::optional<std::filesystem::path> programFolder();

    /// Whether the installed engine opens documents holding comments: the desktop Writer
    /// brings the window they are shown in, the nogui one does not.
    static bool opensComments();

    /// Starts the engine with the profile folder `profile` (made, with settings that
    /// forbid macros, lock files and network proxies, when it does not exist yet).
    /// Throws ToolError: missingOffice when it is not installed, "LibreOffice не
    /// запускается…" when it does not start.
    explicit Office(const std::filesystem::path& profile);
    ~Office();
    Office(const Office&) = delete;
    Office& operator=(const Office&) = delete;

    /// Opens `input` and saves it as `output` in `format` (rtfd is written as rtf; a web
    /// page carries its pictures inside; PDF pages are upright A4 with 56-point margins;
    /// ODF is always a text document). PDF and the ODF of a web page ("*.html") pass
    /// through flat ODF written beside `output`. Throws ToolError with LibreOffice's
    /// reason, starting with `openFailure` when the document did not open.
    void convert(const std::filesystem::path& input, OutputFormat format,
                 const std::filesystem::path& output);

    /// Ends the engine in order, so that its profile is complete (a template for later
    /// runs). Only the destructor may follow.
    void shutdown();

    /// Writes the settings the engine must run with into `profile`'s registry:
    /// macros never run, no lock files, every network request goes to a closed port.
    static void writeSettings(const std::filesystem::path& profile);

private:
    /// The document `input` opened by the engine, owned by the caller. Throws ToolError.
    _LibreOfficeKitDocument* open(const std::filesystem::path& input);

    _LibreOfficeKit* m_kit = nullptr;
};

} // namespace lumatra::textutil
