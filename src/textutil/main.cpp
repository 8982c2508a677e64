// lumatra-textutil SRC -convert FMT -output OUT [-inputencoding ENC]
//
// Converts one text document with LibreOffice's engine, loaded into this process
// through LibreOfficeKit. Each run is cut off from the network (a network namespace of
// its own), runs no macros, and works in a private scratch folder that also holds the
// engine's profile, so concurrent runs never share one. Starting the engine with a
// fresh profile costs about a second; a copy of a profile made by an earlier run (kept
// in the user's cache folder) brings that down to about a quarter of a second.
//
// On success the output exists whole and the status is 0; on failure one Russian line
// goes to the error output and the status is 1; SIGTERM ends the run at once with
// nothing left behind.

#include "isolation.h"
#include "office.h"
#include "output_writer.h"
#include "request.h"
#include "source_preparer.h"
#include "termination.h"
#include "tool_error.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

namespace lumatra::textutil {
namespace {

constexpr const char* profileTemplateName = "office-profile";

// The error output as the run started; the engine's own chatter is sent elsewhere.
int g_errorOutput = 2;

void say(const std::string& line) {
    const std::string text = line + "\n";
    [[maybe_unused]] const auto written = ::write(g_errorOutput, text.data(), text.size());
}

void silenceEngine() {
    g_errorOutput = ::fcntl(2, F_DUPFD_CLOEXEC, 3);
    if (g_errorOutput < 0) g_errorOutput = 2;
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, 1);
        ::dup2(null, 2);
        ::close(null);
    }
}

std::filesystem::path makeScratch() {
    std::error_code error;
    auto base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    std::string name = (base / "lumatra-textutil-XXXXXX").string();
    if (!::mkdtemp(name.data())) throw systemFailure("Не удалось создать папку", name, errno);
    return name;
}

// The engine's profile: a copy of the user's template when there is one.
bool prepareProfile(const std::filesystem::path& profile,
                    const std::optional<std::filesystem::path>& cache) {
    if (!cache) return false;
    const auto source = *cache / profileTemplateName;
    std::error_code error;
    if (!std::filesystem::is_directory(source, error)) return false;
    if (copyTree(source, profile)) return true;
    std::filesystem::remove_all(profile, error);
    return false;
}

void keepProfileTemplate(const std::filesystem::path& profile,
                         const std::optional<std::filesystem::path>& cache) {
    if (!cache) return;
    std::string name = (*cache / (std::string(profileTemplateName) + ".XXXXXX")).string();
    if (!::mkdtemp(name.data())) return;
    std::error_code error;
    std::filesystem::remove(name, error);
    if (copyTree(profile, name) &&
        ::rename(name.c_str(), (*cache / profileTemplateName).c_str()) == 0)
        return;
    std::filesystem::remove_all(name, error);
}

int convert(const Request& request) {
    const auto scratch = makeScratch();
    Termination::setScratch(scratch);
    struct Remover {
        std::filesystem::path path;
        ~Remover() {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
            Termination::setScratch({});
        }
    } remover{scratch};

    const auto input = prepareSource(request, scratch);
    // The engine's own temporary files stay inside the scratch folder.
    const auto temporary = scratch / "tmp";
    std::filesystem::create_directory(temporary);
    ::setenv("TMPDIR", temporary.c_str(), 1);

    const auto cache = privateCacheFolder();
    const auto profile = scratch / "profile";
    const bool fromTemplate = prepareProfile(profile, cache);
    std::optional<Office> office;
    try {
        office.emplace(profile);
    } catch (const ToolError&) {
        if (!fromTemplate) throw;
        // A template from another LibreOffice version: start afresh and forget it.
        std::error_code ignored;
        std::filesystem::remove_all(*cache / profileTemplateName, ignored);
        std::filesystem::remove_all(profile, ignored);
        office.emplace(profile);
    }
    const auto result = scratch / (std::string("result.") + formatWord(request.format));
    office->convert(input, request.format, result);
    placeOutput(result, request.format, request.output);
    if (!fromTemplate && cache) {
        office->shutdown();
        keepProfileTemplate(profile, cache);
    }
    return 0;
}

} // namespace
} // namespace lumatra::textutil

int main(int argc, char** argv) {
    using namespace lumatra::textutil;
    Termination::blockSignals();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    int status = 1;
    try {
        const Request request = parseArguments(arguments);
        enterPrivateNetwork();
        Termination::startWatcher();
        silenceEngine();
        status = convert(request);
    } catch (const ToolError& error) {
        say(error.what());
    } catch (const std::exception& error) {
        say(std::string("Не удалось конвертировать документ: ") + error.what());
    }
    // The engine's threads are not wound down: ending here is quicker and safe, since
    // everything it wrote is in place or removed.
    ::_exit(status);
}
