#pragma once
// What crosses every conversion: the caller's options, the result, and the errors
// the engine raises.

#include "formats/format.h"

#include <cstdint>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>

namespace lumatra {

/// What the caller asks for besides the target format.
struct Options {
    Quality quality = Quality::balanced;
    /// Folder for the output; none places it beside the source.
    std::optional<std::filesystem::path> outputDirectory;
};

/// What a finished conversion reports.
struct ConvertResult {
    std::filesystem::path output;
    std::int64_t bytes = 0;
    double seconds = 0;
};

/// The engine's own failures, each with its fixed Russian description.
class ConvertError : public std::exception {
public:
    enum class Case { unsupported, failed, missingFFmpeg, noAudio };

    /// The route is not offered; `route` names it ("MP3 → PNG").
    static ConvertError unsupported(std::string route);
    /// Anything else; `message` is the complete text for the user.
    static ConvertError failed(std::string message);
    static ConvertError missingFFmpeg();
    static ConvertError noAudio();

    Case errorCase() const { return m_case; }
    const std::string& payload() const { return m_payload; }
    /// The text the user sees.
    const std::string& errorDescription() const { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

private:
    ConvertError(Case errorCase, std::string payload);

    Case m_case;
    std::string m_payload;
    std::string m_description;
};

/// A conversion stopped because its caller asked it to. Callers tell it apart from a
/// failure; its description is "Отменено".
class CancelledError : public std::exception {
public:
    const char* what() const noexcept override;
};

/// What a failure for want of disk space (or quota) reads, whoever met it.
inline constexpr const char* diskFullText = "На диске не хватило места";

/// A failure of the operating system (file system, process launch): the operation,
/// the path it concerns and the system's reason, in Russian where we know the reason;
/// a full disk reads `diskFullText` alone.
class SystemError : public std::exception {
public:
    SystemError(std::string action, const std::filesystem::path& path, int errorNumber);
    int errorNumber() const { return m_errno; }
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    int m_errno;
    std::string m_message;
};

/// The reason behind an errno value, in Russian for the common ones.
std::string systemReason(int errorNumber);

/// The description a user is shown for any error: the engine's own text for
/// `ConvertError`, "Отменено" for a cancellation, the system's text otherwise.
std::string describe(const std::exception& error);

} // namespace lumatra
