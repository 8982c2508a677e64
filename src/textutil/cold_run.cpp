#include "cold_run.h"

#include "office_profile.h"
#include "termination.h"
#include "tool_error.h"

#include "formats/convert_error.h"

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace lumatra::textutil {
namespace {

// The child's whole life: convert, tell the parent why not, end.
[[noreturn]] void runChild(int report, const std::filesystem::path& input, OutputFormat format,
                           const std::filesystem::path& result,
                           const std::filesystem::path& scratch, pid_t parent) {
    // The engine dies with this run, however the run ends: its work is of no use to
    // anyone else. The forking thread is the main one, which waits for the child.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(1);
    // Signals end the child the ordinary way; the parent watches for them.
    sigset_t all;
    sigfillset(&all);
    pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
    std::string failure;
    try {
        const auto temporary = scratch / "tmp";
        std::filesystem::create_directory(temporary);
        ::setenv("TMPDIR", temporary.c_str(), 1);
        const auto profile = scratch / "profile";
        auto started = startOffice(profile);
        started.office->convert(input, format, result);
        if (!started.fromTemplate) keepProfileTemplate(*started.office, profile);
    } catch (const ToolError& error) {
        failure = error.what();
    } catch (const std::exception& error) {
        failure = std::string("Не удалось конвертировать документ: ") + error.what();
    }
    if (failure.empty()) ::_exit(0);
    [[maybe_unused]] const auto written = ::write(report, failure.data(), failure.size());
    ::_exit(1);
}

} // namespace

void convertInChild(const std::filesystem::path& input, OutputFormat format,
                    const std::filesystem::path& result, const std::filesystem::path& scratch) {
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC) != 0)
        throw ToolError("Не удалось запустить LibreOffice: " + systemReason(errno));
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(pipe[0]);
        ::close(pipe[1]);
        throw ToolError("Не удалось запустить LibreOffice: " + systemReason(errno));
    }
    if (child == 0) {
        ::close(pipe[0]);
        runChild(pipe[1], input, format, result, scratch, parent);
    }
    Termination::setChild(child);
    ::close(pipe[1]);
    std::string failure;
    char buffer[1024];
    for (;;) {
        const ssize_t n = ::read(pipe[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        if (failure.size() < 4096) failure.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipe[0]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    Termination::setChild(-1);
    // The engine was ended by our own termination, which ends this process in a moment.
    while (Termination::ending())
        ::pause();
    if (WIFSIGNALED(status))
        throw ToolError("LibreOffice аварийно завершился на этом документе (сигнал " +
                        std::to_string(WTERMSIG(status)) + ")");
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw ToolError(failure.empty() ? "LibreOffice не смог конвертировать документ" : failure);
}

} // namespace lumatra::textutil
