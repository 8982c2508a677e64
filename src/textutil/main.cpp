// lumatra-textutil SRC -convert FMT -output OUT [-inputencoding ENC]
//
// Converts one text document with LibreOffice's engine, loaded through LibreOfficeKit
// into a child process (cold_run.h), or into the warm engine a burst of runs shares
// (warm_engine.h). Each run is
// cut off from the network (a network namespace of its own), runs no macros, and works in a private
// scratch folder that also holds the engine's profile, so concurrent runs never share one. Starting
// the engine with a fresh profile costs about a second; a copy of a profile made by an earlier run
// (kept in the user's cache folder) brings that down to about a quarter of a second.
//
// On success the output exists whole and the status is 0; on failure one Russian line
// goes to the error output and the status is 1; SIGTERM ends the run at once with
// nothing left behind.

#include "cold_run.h"
#include "isolation.h"
#include "office.h"
#include "output_writer.h"
#include "request.h"
#include "source_preparer.h"
#include "termination.h"
#include "tool_error.h"
#include "warm_engine.h"

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

int convert(const Request& request) {
    const auto scratch = makeScratch();
    Termination::setScratch(scratch);
    struct Remover {
        std::filesystem::path path;
        ~Remover() {
            Termination::removeTree(path);
            Termination::setScratch({});
        }
    } remover{scratch};

    const auto input = prepareSource(request, scratch);
    const auto result = scratch / (std::string("result.") + formatWord(request.format));
    if (!Office::programFolder())
        throw ToolError("Для документов нужен LibreOffice: sudo apt install "
                        "libreoffice-writer-nogui");
    if (WarmEngine::convert(input, request.format, result)) {
        placeOutput(result, request.format, request.output);
        return 0;
    }
    convertInChild(input, request.format, result, scratch);
    placeOutput(result, request.format, request.output);
    return 0;
}

// The caller may name the output through its own descriptor table (/proc/PID/fd/N/…), so
// that nobody can swap the folder meanwhile. Once this process is in a user namespace of
// its own, another process's descriptors are out of reach: take hold of the folder before
// that, and name the output through our own descriptor from then on.
void pinOutputFolder(Request& request) {
    const auto folder = request.output.parent_path();
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return; // the write itself reports the failure
    request.output =
        std::filesystem::path("/proc/self/fd") / std::to_string(fd) / request.output.filename();
}

} // namespace
} // namespace lumatra::textutil

int main(int argc, char** argv) {
    using namespace lumatra::textutil;
    Termination::blockSignals();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && arguments[0] == "--serve") ::_exit(WarmEngine::serve());
    if (arguments.size() == 1 && arguments[0] == "--quit-engine")
        ::_exit(WarmEngine::requestQuit() ? 0 : 1);
    int status = 1;
    try {
        Request request = parseArguments(arguments);
        pinOutputFolder(request);
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
