// lumatra-textutil SRC -convert FMT -output OUT [-inputencoding ENC]
//
// Converts one text document with LibreOffice's engine, loaded through LibreOfficeKit
// into a child process (cold_run.h), or into one of the warm engines a burst of runs
// shares, one per core (warm_engine.h). Each run is
// cut off from the network (a network namespace of its own), runs no macros, and works in a private
// scratch folder that also holds the engine's profile, so concurrent runs never share one. Starting
// the engine with a fresh profile costs about a second; a copy of a profile made by an earlier run
// (kept in the user's cache folder) brings that down to about a quarter of a second.
//
// On success the output exists whole and the status is 0; on failure one Russian line
// goes to the error output and the status is 1, naming the source and the output as the
// caller did; SIGTERM ends the run at once with nothing left behind, and so does the
// time limit (with its own line). A run that was asked to die with its parent (as the
// program's process runner asks) keeps that wish through its namespace change, and its
// engine dies with it.

#include "cold_run.h"
#include "isolation.h"
#include "office.h"
#include "output_writer.h"
#include "request.h"
#include "rescue.h"
#include "source_preparer.h"
#include "termination.h"
#include "tool_error.h"
#include "warm_engine.h"

#include "formats/convert_error.h"
#include "tools/private_folders.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <memory>
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

// The run's scratch folder, which the next run removes should this one be killed.
std::unique_ptr<RunScratch> makeScratch() {
    try {
        return std::make_unique<RunScratch>("lumatra-textutil-");
    } catch (const SystemError& error) {
        throw ToolError(error.what());
    }
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    if (from.empty()) return;
    for (std::size_t at = 0; (at = text.find(from, at)) != std::string::npos; at += to.size())
        text.replace(at, from.size(), to);
}

// The folder the document's copy and the result lie in. Relative links are resolved
// against the copy's folder on the way in and written relative to the result's on the
// way out: the same folder, and deep enough below the scratch folder that a link
// climbing out of its document ("../other/x.md") still lands below it, so it comes out
// as it went in and no path of ours reaches the document.
std::filesystem::path workFolder(const std::filesystem::path& scratch) {
    constexpr int depth = 16;
    auto folder = scratch;
    for (int level = 0; level < depth; ++level) {
        folder /= "d";
        if (::mkdir(folder.c_str(), 0700) != 0)
            throw systemFailure("Не удалось создать папку", folder.string(), errno);
    }
    return folder;
}

// The names the caller gave, for the private copies the run works on.
struct ShownNames {
    std::vector<std::pair<std::string, std::string>> names;
    std::string apply(std::string text) const {
        for (const auto& [internal, shown] : names)
            replaceAll(text, internal, shown);
        return text;
    }
};
ShownNames g_shown;
std::string g_shownOutput;

// "3 мин", "20 с".
std::string durationText(std::chrono::milliseconds limit) {
    const auto seconds = (limit.count() + 999) / 1000;
    if (seconds >= 60 && seconds % 60 == 0) return std::to_string(seconds / 60) + " мин";
    return std::to_string(seconds) + " с";
}

// The engine's open-and-save step, in a warm engine when one can be had, else cold.
void runEngine(const std::filesystem::path& input, OutputFormat format,
               const std::filesystem::path& result, const std::filesystem::path& scratch) {
    if (WarmEngine::convert(input, format, result)) return;
    std::error_code error;
    std::filesystem::remove_all(scratch / "profile", error);
    convertInChild(input, format, result, scratch);
}

int convert(const Request& request) {
    const auto scratchFolder = makeScratch();
    const auto& scratch = scratchFolder->path();
    Termination::setScratch(scratch);
    struct Remover {
        std::filesystem::path path;
        ~Remover() {
            Termination::removeTree(path);
            Termination::setScratch({});
        }
    } remover{scratch};

    const auto work = workFolder(scratch);
    const auto input = prepareSource(request, work);
    const auto result = work / (std::string("result.") + formatWord(request.format));
    g_shown.names.emplace_back(input.string(), request.source.string());
    g_shown.names.emplace_back(result.string(), g_shownOutput);
    if (!Office::programFolder()) throw ToolError(missingOffice);
    try {
        if (engineRefusesComments(input)) throw ToolError(openFailure);
        runEngine(input, request.format, result, scratch);
    } catch (const ToolError& error) {
        if (!std::string_view(error.what()).starts_with(openFailure)) throw;
        // A second try through LibreOffice's own program; a document that fails there
        // too is damaged, or not what its name says.
        const auto rescued = rescueAsFlat(input, scratch);
        if (!rescued) throw ToolError(unreadableDocument(request.source));
        runEngine(*rescued, request.format, result, scratch);
    }
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
    const auto shown = request.output.string();
    request.output =
        std::filesystem::path("/proc/self/fd") / std::to_string(fd) / request.output.filename();
    g_shown.names.emplace_back(request.output.string(), shown);
}

// Asks again for the parent's wish that this process die with it, should the namespace
// change have cleared it; a parent already gone means the run is of no use. The signal
// is SIGTERM whatever the parent asked, so that the run removes what it made (its
// scratch holds a copy of the user's document) before it ends.
void keepDyingWithParent(int signal, pid_t parent) {
    if (signal == 0) return;
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(1);
}

} // namespace
} // namespace lumatra::textutil

int main(int argc, char** argv) {
    using namespace lumatra::textutil;
    Termination::blockSignals();
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 2 && arguments[0] == "--serve" && arguments[1].size() == 1 &&
        arguments[1][0] >= '0' && arguments[1][0] <= '9')
        ::_exit(WarmEngine::serve(arguments[1][0] - '0'));
    if (arguments.size() == 1 && arguments[0] == "--quit-engine")
        ::_exit(WarmEngine::requestQuit() ? 0 : 1);
    if (arguments.size() == 2 && arguments[0] == "--warm-engines" && arguments[1].size() == 1 &&
        arguments[1][0] >= '1' && arguments[1][0] <= '9')
        ::_exit(WarmEngine::warmUp(arguments[1][0] - '0') ? 0 : 1);
    const pid_t parent = ::getppid();
    int deathSignal = 0;
    ::prctl(PR_GET_PDEATHSIG, &deathSignal);
    int status = 1;
    try {
        Request request = parseArguments(arguments);
        const std::string shownSource = request.source.string();
        g_shownOutput = request.output.string();
        pinOutputFolder(request);
        enterPrivateNetwork();
        keepDyingWithParent(deathSignal, parent);
        Termination::startWatcher();
        silenceEngine();
        Termination::startDeadline(request.timeLimit, [limit = request.timeLimit, shownSource] {
            say("Документ «" + shownSource + "» не удалось конвертировать за " +
                durationText(limit) + ": он слишком сложный или зациклен");
        });
        status = convert(request);
    } catch (const ToolError& error) {
        say(g_shown.apply(error.what()));
    } catch (const std::exception& error) {
        say(g_shown.apply(std::string("Не удалось конвертировать документ: ") + error.what()));
    }
    // The engine's threads are not wound down: ending here is quicker and safe, since
    // everything it wrote is in place or removed.
    ::_exit(status);
}
