#include "rescue.h"

#include "flat_document.h"
#include "office.h"
#include "termination.h"
#include "tool_error.h"

#include "formats/format.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace lumatra::textutil {
namespace {

constexpr auto timeLimit = std::chrono::minutes(2);

// The program's status asking to be started again (after setting up a new profile).
constexpr int restartStatus = 81;

// Runs `arguments` (the program first) with no input or output; its exit status, or -1
// when it could not start, was killed or overran the time limit.
int runQuietly(const std::vector<std::string>& arguments) {
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t child = ::fork();
    if (child < 0) return -1;
    if (child == 0) {
        // The program dies with this process.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_UNBLOCK, &all, nullptr);
        const int null = ::open("/dev/null", O_RDWR);
        if (null >= 0) {
            ::dup2(null, 0);
            ::dup2(null, 1);
            ::dup2(null, 2);
        }
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Termination::setChild(child);
    const auto deadline = std::chrono::steady_clock::now() + timeLimit;
    int status = 0;
    for (;;) {
        const pid_t done = ::waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0 && errno != EINTR) {
            Termination::setChild(-1);
            return -1;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
            Termination::setChild(-1);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    Termination::setChild(-1);
    while (Termination::ending())
        ::pause();
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The central directory of the ZIP archive `path` (its list of member names), read
// through the end record in its last 64 KiB; empty when there is none or it is huge.
std::string centralDirectory(const std::filesystem::path& path) {
    constexpr std::size_t tailBytes = 65536 + 22;
    constexpr std::uint32_t largest = 16 << 20;
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    if (!in) return {};
    const auto size = static_cast<std::uint64_t>(in.tellg());
    const auto tailStart = size > tailBytes ? size - tailBytes : 0;
    std::string tail(size - tailStart, '\0');
    in.seekg(static_cast<std::streamoff>(tailStart));
    if (!in.read(tail.data(), static_cast<std::streamsize>(tail.size()))) return {};
    const auto end = tail.rfind(std::string_view("PK\x05\x06", 4));
    if (end == std::string::npos || tail.size() - end < 22) return {};
    const auto number = [&](std::size_t at) {
        std::uint32_t value = 0;
        for (int i = 3; i >= 0; --i)
            value = (value << 8) | static_cast<unsigned char>(tail[end + at + i]);
        return value;
    };
    const std::uint32_t length = number(12);
    const std::uint32_t offset = number(16);
    if (length > largest || std::uint64_t{offset} + length > size) return {};
    std::string directory(length, '\0');
    in.seekg(offset);
    if (!in.read(directory.data(), length)) return {};
    return directory;
}

} // namespace

bool engineRefusesComments(const std::filesystem::path& input) {
    if (lowercased(input.extension().string()) != ".docx") return false;
    return centralDirectory(input).find("word/comments.xml") != std::string::npos &&
           !Office::opensComments();
}

std::optional<std::filesystem::path> rescueAsFlat(const std::filesystem::path& input,
                                                  const std::filesystem::path& scratch) {
    const auto program = Office::programFolder();
    if (!program) return std::nullopt;
    const auto profile = scratch / "rescue-profile";
    const auto folder = scratch / "rescue";
    std::error_code error;
    std::filesystem::create_directory(folder, error);
    if (error) return std::nullopt;
    try {
        Office::writeSettings(profile);
    } catch (const ToolError&) {
        return std::nullopt;
    }
    // The program itself, not its launcher script, which would run it as a grandchild.
    std::vector<std::string> arguments = {(*program / "soffice.bin").string(),
                                          "--headless",
                                          "--invisible",
                                          "--norestore",
                                          "--nologo",
                                          "--nolockcheck",
                                          "-env:UserInstallation=" + fileUrl(profile)};
    if (lowercased(input.extension().string()) == ".html")
        arguments.push_back("--infilter=HTML (StarWriter)");
    for (const char* argument : {"--convert-to", "fodt", "--outdir"})
        arguments.push_back(argument);
    arguments.push_back(folder.string());
    arguments.push_back(input.string());
    int status = runQuietly(arguments);
    if (status == restartStatus) status = runQuietly(arguments);
    if (status != 0) return std::nullopt;

    const auto made = folder / (input.stem().string() + ".fodt");
    std::ifstream in(made, std::ios::binary);
    if (!in) return std::nullopt;
    const std::string xml = withoutAnnotations(std::string(std::istreambuf_iterator<char>(in), {}));
    if (xml.find("<office:document") == std::string::npos) return std::nullopt;
    const auto rescued = scratch / "rescued.fodt";
    std::ofstream out(rescued, std::ios::binary | std::ios::trunc);
    out << xml;
    out.close();
    if (!out) return std::nullopt;
    std::filesystem::remove_all(folder, error);
    return rescued;
}

} // namespace lumatra::textutil
