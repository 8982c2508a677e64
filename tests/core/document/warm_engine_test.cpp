// The warm engine a burst of text conversions shares: started by the first run, used
// by the next ones, ended when a waiting run is cancelled.
#include "core/document/document_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

extern char** environ;

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

// Running, not merely waiting to be reaped (an engine outlives the run that started it,
// so its parent is whatever adopts orphans, which need not reap them promptly).
bool alive(pid_t pid) {
    if (pid <= 0 || ::kill(pid, 0) != 0) return false;
    std::error_code error;
    const std::string stat = test::readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    return close == std::string::npos || close + 2 >= stat.size() || stat[close + 2] != 'Z';
}

bool waitUntilGone(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (alive(pid) && std::chrono::steady_clock::now() < end)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return !alive(pid);
}

// A session runtime folder of the test's own; the engine it holds is ended with it.
class Session {
public:
    Session() { std::filesystem::permissions(m_dir.path(), std::filesystem::perms::owner_all); }
    ~Session() {
        const pid_t pid = enginePid();
        if (alive(pid)) {
            ::kill(pid, SIGTERM);
            waitUntilGone(pid, std::chrono::seconds(5));
        }
    }
    std::filesystem::path folder() const { return m_dir / "lumatra"; }
    pid_t enginePid() const {
        std::error_code error;
        if (!std::filesystem::exists(folder() / "textutil.lock", error)) return -1;
        const std::string text = test::readFile(folder() / "textutil.lock");
        return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
    }

private:
    test::ScratchDir m_dir;
    test::PrivateTemp m_temp;
    test::ScopedVariable m_runtime{"XDG_RUNTIME_DIR", m_dir.path().c_str()};
};

TEST(WarmEngine, ABurstSharesOneEngine) {
    Session session;
    test::ScratchDir dir;
    test::writeFile(dir / "page.html", test::samplePage());
    const auto convert = [&](const char* format) {
        const auto output = dir / (std::string("page.") + format);
        const auto run = test::textutil(
            {(dir / "page.html").string(), "-convert", format, "-output", output.string()});
        EXPECT_EQ(run.status, 0) << run.err;
        return output;
    };
    convert("docx");
    const pid_t engine = session.enginePid();
    ASSERT_TRUE(alive(engine));
    struct stat info {};
    ASSERT_EQ(::stat(session.folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    convert("odt");
    convert("rtfd");
    EXPECT_EQ(test::readFile(convert("txt")).substr(0, 33), "Квартальный отчёт");
    EXPECT_EQ(session.enginePid(), engine);
    EXPECT_THAT(test::textOf(dir / "page.docx"), HasSubstr("французских булок"));
    EXPECT_THAT(test::textOf(dir / "page.odt"), HasSubstr("Ячейка"));
    // The engine's failures reach the run that asked; an engine that could not open a
    // document retires, since such a document may leave it unable to open the next.
    test::writeFile(dir / "empty.docx", std::string("PK\x03\x04", 4) + "word/document.xml" +
                                            std::string("PK\x05\x06", 4) + std::string(18, '\0'));
    const auto failed = test::textutil({(dir / "empty.docx").string(), "-convert", "odt", "-output",
                                        (dir / "empty.odt").string()});
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(failed.err, HasSubstr("»: файл повреждён или это не документ DOCX"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.odt"));
    EXPECT_TRUE(waitUntilGone(engine, std::chrono::seconds(5)));
}

TEST(WarmEngine, ACancelledRunEndsTheEngineWork) {
    Session session;
    test::ScratchDir dir;
    test::writeFile(dir / "warmup.txt", "разогрев\n");
    ASSERT_EQ(test::textutil({(dir / "warmup.txt").string(), "-convert", "odt", "-output",
                              (dir / "warmup.odt").string()})
                  .status,
              0);
    const pid_t engine = session.enginePid();
    ASSERT_TRUE(alive(engine));
    test::writeLongText(dir / "long.txt", 100000);

    const pid_t pid = test::startTextutil(dir / "long.txt", "docx", dir / "long.docx");
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    ::kill(pid, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 128 + SIGTERM) << status;
    EXPECT_TRUE(waitUntilGone(engine, std::chrono::seconds(1)));
    EXPECT_THAT(dir.entries(), ElementsAre("long.txt", "warmup.odt", "warmup.txt"));
    // The next run starts a new engine (once the old one has let go of its lock).
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(test::textutil({(dir / "warmup.txt").string(), "-convert", "docx", "-output",
                              (dir / "warmup.docx").string()})
                  .status,
              0);
    EXPECT_NE(session.enginePid(), engine);
}

TEST(WarmEngine, AQuitRequestEndsAnIdleEngineAndStartsNone) {
    Session session;
    test::ScratchDir dir;
    // No engine: the request finds none and starts none.
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 1);
    EXPECT_EQ(session.enginePid(), -1);

    test::writeFile(dir / "note.txt", "заметка\n");
    ASSERT_EQ(test::textutil({(dir / "note.txt").string(), "-convert", "odt", "-output",
                              (dir / "note.odt").string()})
                  .status,
              0);
    const pid_t engine = session.enginePid();
    ASSERT_TRUE(alive(engine));
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 0);
    EXPECT_TRUE(waitUntilGone(engine, std::chrono::seconds(2)));
}

} // namespace
} // namespace lumatra
