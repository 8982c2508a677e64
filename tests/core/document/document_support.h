#pragma once
// What the document tests share: the built text converter, a private temporary folder
// that must be left empty of scratch folders, and reading a document's text back
// through LibreOffice.

#include "support/fixtures.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace lumatra::test {

/// Points TMPDIR at a folder of its own for the test's lifetime; at the end no
/// "lumatra-" scratch folder may be left in it. Runs convert cold: there is no session
/// runtime folder, and the one the program would make in the temporary folder is taken
/// by a folder others may enter, which it refuses.
class PrivateTemp {
public:
    PrivateTemp() {
        std::filesystem::create_directory(m_dir / m_fallback);
        std::filesystem::permissions(m_dir / m_fallback, std::filesystem::perms(0755));
    }
    ~PrivateTemp() {
        for (const auto& name : m_dir.entries())
            if (name != m_fallback)
                ADD_FAILURE() << "left behind in the temporary folder: " << name;
    }
    const std::filesystem::path& path() const { return m_dir.path(); }

private:
    // The runtime folder the program makes in the temporary folder when the session has none.
    const std::string m_fallback = "lumatra-" + std::to_string(::geteuid());
    ScratchDir m_dir;
    ScopedVariable m_temp{"TMPDIR", m_dir.path().c_str()};
    ScopedVariable m_runtime{"XDG_RUNTIME_DIR", nullptr};
};

/// Runs the built text converter with `arguments`.
inline ProcessOutput textutil(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), LUMATRA_TEXTUTIL);
    return runProgram(arguments);
}

/// Runs the built text converter on `source`, writing `format` to `output`.
inline ProcessOutput convertText(const std::filesystem::path& source, const std::string& format,
                                 const std::filesystem::path& output) {
    return textutil({source.string(), "-convert", format, "-output", output.string()});
}

/// Starts the built text converter on `source` without waiting for it, with `more`
/// arguments and its error output on `errorFd` when one is given; the process id, or -1
/// when it could not start.
inline pid_t startTextutil(const std::filesystem::path& source, const std::string& format,
                           const std::filesystem::path& output, int errorFd = -1,
                           std::vector<std::string> more = {}) {
    std::vector<std::string> words = {LUMATRA_TEXTUTIL, source.string(), "-convert",
                                      format,           "-output",       output.string()};
    words.insert(words.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errorFd >= 0) posix_spawn_file_actions_adddup2(&actions, errorFd, 2);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

/// How a started process ended: its exit status, or 128 + the signal; -1 when it was
/// not ours to wait for.
inline int finish(pid_t pid) {
    int status = 0;
    if (::waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

/// The processes `pid` started, as the kernel lists them: empty for none.
inline std::string childrenOf(pid_t pid) {
    return readFile("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children");
}

/// A plain text of `lines` numbered Cyrillic lines: long enough that LibreOffice is still
/// at work a moment after it started.
inline void writeLongText(const std::filesystem::path& file, int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "Строка номер " + std::to_string(i) + " длинного документа.\n";
    writeFile(file, text);
}

/// Whether process `pid` is gone within `limit`.
inline bool waitUntilGone(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (processRuns(pid) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !processRuns(pid);
}

/// Whether no process whose command line names `mark` runs within `wait`.
inline bool noneRunningWithin(const std::string& mark, std::chrono::milliseconds wait) {
    const auto until = std::chrono::steady_clock::now() + wait;
    const auto running = [&] { return !runProgram({"pgrep", "-f", "--", mark}).out.empty(); };
    while (running() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !running();
}

/// A session runtime folder of the test's own, so that its runs share warm engines, and
/// a private temporary folder; the engines are ended with it.
class Session {
public:
    /// The engines the converter keeps side by side: one per core, at most four.
    static constexpr int maxEngines = 4;

    Session() { std::filesystem::permissions(m_dir.path(), std::filesystem::perms::owner_all); }
    ~Session() {
        for (int slot = 0; slot < maxEngines; ++slot)
            if (const pid_t pid = enginePid(slot); processRuns(pid)) {
                ::kill(pid, SIGTERM);
                waitUntilGone(pid, std::chrono::seconds(5));
            }
    }
    std::filesystem::path folder() const { return m_dir / "lumatra"; }
    std::filesystem::path slotFile(int slot, const char* ending) const {
        return folder() / ("textutil-" + std::to_string(slot) + ending);
    }
    pid_t enginePid(int slot = 0) const {
        std::error_code error;
        if (!std::filesystem::exists(slotFile(slot, ".lock"), error)) return -1;
        const std::string text = readFile(slotFile(slot, ".lock"));
        return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
    }

private:
    ScratchDir m_dir;
    PrivateTemp m_temp;
    ScopedVariable m_runtime{"XDG_RUNTIME_DIR", m_dir.path().c_str()};
};

/// The text of a document as LibreOffice reads it (converted to txt by the tool).
inline std::string textOf(const std::filesystem::path& document) {
    ScratchDir dir;
    const auto text = dir / "text.txt";
    const auto run = textutil({document.string(), "-convert", "txt", "-output", text.string()});
    EXPECT_EQ(run.status, 0) << document << ": " << run.err;
    return run.status == 0 ? readFile(text) : std::string();
}

/// A small web page with Cyrillic text, a table and a link to a remote picture.
inline std::string samplePage() {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>Отчёт</title></head>"
           "<body><h1>Квартальный отчёт</h1><p>Съешь же ещё этих мягких французских булок, "
           "да выпей чаю.</p><img src=\"http://192.0.2.1/logo.png\">"
           "<table><tr><td>Ячейка</td><td>42</td></tr></table></body></html>";
}

/// Whether a Word document carries a picture of its own (the ZIP container names its
/// members in plain text).
inline bool docxHasPicture(const std::filesystem::path& docx) {
    return readFile(docx).find("word/media/") != std::string::npos;
}

} // namespace lumatra::test
