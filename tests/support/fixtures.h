#pragma once
// Helpers the tests share: scratch folders, generated media, running programs.

#include <sys/types.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace lumatra::test {

/// A fresh folder below the system's temporary folder, removed with everything in it
/// when the object goes.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(const std::string& name) const { return m_path / name; }
    /// Names of the entries of the folder (hidden ones included), sorted.
    std::vector<std::string> entries() const { return entriesOf(m_path); }
    /// The same for any folder.
    static std::vector<std::string> entriesOf(const std::filesystem::path& folder);

private:
    std::filesystem::path m_path;
};

struct ProcessOutput {
    int status = -1; // exit status, or 128 + signal
    std::string out;
    std::string err;
};

/// Runs a program (no shell) and collects its output.
ProcessOutput runProgram(const std::vector<std::string>& argv,
                         const std::filesystem::path& workingDir = {});

/// Generates a media file with ffmpeg's lavfi sources; `inputs` are ffmpeg arguments
/// before the output (for example {"-f","lavfi","-i","sine=d=1"}). Throws on failure.
void makeMedia(const std::filesystem::path& output, const std::vector<std::string>& inputs);

/// One second of a 440 Hz tone.
void makeTone(const std::filesystem::path& output, double seconds = 1);
/// A small test picture clip, with or without a sound track.
void makeClip(const std::filesystem::path& output, double seconds, bool withAudio);

void writeFile(const std::filesystem::path& path, const std::string& bytes);
std::string readFile(const std::filesystem::path& path);

/// Whether process `pid` runs: not ended, and not merely waiting to be reaped (a
/// background program outlives whoever started it, and what adopts it need not reap it
/// promptly).
bool processRuns(pid_t pid);

/// Sets an environment variable (or unsets it, for none) for an object's lifetime.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) m_old = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedVariable() {
        if (m_old)
            ::setenv(m_name, m_old->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

/// The last line of a program's output, without its line break.
std::string lastLine(std::string text);

/// One field of ffprobe's description of a file's first stream of a type ("a" or "v"),
/// or of the container ("format").
std::string probeField(const std::filesystem::path& file, const std::string& stream,
                       const std::string& field);

} // namespace lumatra::test
