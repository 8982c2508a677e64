#include "support/fixtures.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace lumatra::test {

ScratchDir::ScratchDir() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    for (;;) {
        m_path = base / ("lumatra-test-" + std::to_string(random()));
        if (std::filesystem::create_directory(m_path)) break;
    }
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    // Tests may make folders read-only; give the owner access back before removing.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ignored);
         it != std::filesystem::recursive_directory_iterator(); it.increment(ignored))
        std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(m_path, ignored);
}

std::vector<std::string> ScratchDir::entriesOf(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

ProcessOutput runProgram(const std::vector<std::string>& argv,
                         const std::filesystem::path& workingDir) {
    int outPipe[2];
    int errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    if (!workingDir.empty()) posix_spawn_file_actions_addchdir_np(&actions, workingDir.c_str());
    std::vector<char*> args;
    for (const auto& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    ProcessOutput result;
    if (rc != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        throw std::runtime_error("cannot start " + argv[0]);
    }
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    while (open > 0) {
        if (poll(fds, 2, -1) < 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            char buffer[65536];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

void makeMedia(const std::filesystem::path& output, const std::vector<std::string>& inputs) {
    std::vector<std::string> argv = {"ffmpeg", "-hide_banner", "-loglevel", "error", "-y"};
    argv.insert(argv.end(), inputs.begin(), inputs.end());
    argv.push_back(output.string());
    const auto result = runProgram(argv);
    if (result.status != 0)
        throw std::runtime_error("ffmpeg could not make " + output.string() + ": " + result.err);
}

void makeTone(const std::filesystem::path& output, double seconds) {
    makeMedia(output,
              {"-f", "lavfi", "-i", "sine=frequency=440:duration=" + std::to_string(seconds)});
}

void makeClip(const std::filesystem::path& output, double seconds, bool withAudio) {
    const std::string d = std::to_string(seconds);
    std::vector<std::string> args = {"-f", "lavfi", "-i",
                                     "testsrc=size=160x120:rate=10:duration=" + d};
    if (withAudio)
        args.insert(args.end(), {"-f", "lavfi", "-i", "sine=frequency=440:duration=" + d});
    args.insert(args.end(), {"-pix_fmt", "yuv420p", "-shortest"});
    makeMedia(output, args);
}

void writeFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool processRuns(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::error_code error;
    const auto stat = "/proc/" + std::to_string(pid) + "/stat";
    if (!std::filesystem::exists(stat, error)) return false;
    const std::string text = readFile(stat);
    const auto close = text.rfind(')');
    return close == std::string::npos || close + 2 >= text.size() || text[close + 2] != 'Z';
}

std::string lastLine(std::string text) {
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text.substr(text.rfind('\n') + 1); // the whole text when it has one line
}

std::string readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string probeField(const std::filesystem::path& file, const std::string& stream,
                       const std::string& field) {
    std::vector<std::string> argv = {"ffprobe", "-v", "error"};
    if (stream != "format") argv.insert(argv.end(), {"-select_streams", stream + ":0"});
    argv.insert(argv.end(),
                {"-show_entries", (stream == "format" ? "format=" : "stream=") + field});
    argv.insert(argv.end(), {"-of", "default=noprint_wrappers=1:nokey=1", file.string()});
    auto out = runProgram(argv).out;
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

} // namespace lumatra::test
