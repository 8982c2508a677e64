// The warm engines bursts of text conversions share: started by the first run of a slot,
// used by the next ones, one per run side by side, ended when a waiting run is cancelled
// or the window quits.
#include "core/document/document_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

extern char** environ;

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

using test::Session;
using test::waitUntilGone;

// The engines the converter keeps side by side: one per core, at most four.
int engineCount() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                      Session::maxEngines);
}

TEST(WarmEngine, ABurstSharesOneEngine) {
    Session session;
    test::ScratchDir dir;
    // No engine yet: a quit request finds none and starts none.
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 1);
    EXPECT_EQ(session.enginePid(), -1);
    test::writeFile(dir / "page.html", test::samplePage());
    const auto convert = [&](const char* format) {
        const auto output = dir / (std::string("page.") + format);
        const auto run = test::convertText(dir / "page.html", format, output);
        EXPECT_EQ(run.status, 0) << run.err;
        return output;
    };
    convert("docx");
    const pid_t engine = session.enginePid();
    ASSERT_TRUE(test::processRuns(engine));
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
    const auto failed = test::convertText(dir / "empty.docx", "odt", dir / "empty.odt");
    EXPECT_EQ(failed.status, 1);
    EXPECT_THAT(failed.err, HasSubstr("»: файл повреждён или это не документ DOCX"));
    EXPECT_FALSE(std::filesystem::exists(dir / "empty.odt"));
    EXPECT_TRUE(waitUntilGone(engine, std::chrono::seconds(5)));
}

TEST(WarmEngine, ACancelledRunEndsTheEngineWork) {
    Session session;
    test::ScratchDir dir;
    test::writeFile(dir / "warmup.txt", "разогрев\n");
    ASSERT_EQ(test::convertText(dir / "warmup.txt", "odt", dir / "warmup.odt").status, 0);
    const pid_t engine = session.enginePid();
    ASSERT_TRUE(test::processRuns(engine));
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
    EXPECT_EQ(test::convertText(dir / "warmup.txt", "docx", dir / "warmup.docx").status, 0);
    const pid_t next = session.enginePid();
    EXPECT_NE(next, engine);
    // A quit request ends the idle engine.
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 0);
    EXPECT_TRUE(waitUntilGone(next, std::chrono::seconds(2)));
}

// Holds a slot as a run at work would, so that the converter's runs go elsewhere.
class BusySlot {
public:
    BusySlot(const Session& session, int slot)
        : m_fd(
              ::open(session.slotFile(slot, ".busy").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        EXPECT_EQ(::flock(m_fd, LOCK_EX | LOCK_NB), 0) << "slot " << slot;
    }
    ~BusySlot() { ::close(m_fd); }
    BusySlot(const BusySlot&) = delete;
    BusySlot& operator=(const BusySlot&) = delete;

private:
    int m_fd;
};

int finish(pid_t run) {
    int status = 0;
    if (::waitpid(run, &status, 0) != run) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(WarmEngine, RunsSideBySideGetAnEngineEachAndLeaveEachOthersFolders) {
    if (engineCount() < 2) GTEST_SKIP() << "one core: one engine";
    Session session;
    test::ScratchDir dir;
    test::writeLongText(dir / "a.txt", 3000);
    test::writeLongText(dir / "b.txt", 3000);
    // Started together: while one run holds the first slot, the other takes the second.
    const pid_t a = test::startTextutil(dir / "a.txt", "odt", dir / "a.odt");
    const pid_t b = test::startTextutil(dir / "b.txt", "odt", dir / "b.odt");
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);
    EXPECT_EQ(finish(a), 0);
    EXPECT_EQ(finish(b), 0);
    const pid_t first = session.enginePid(0);
    const pid_t second = session.enginePid(1);
    EXPECT_TRUE(test::processRuns(first));
    EXPECT_TRUE(test::processRuns(second));
    EXPECT_NE(first, second);
    EXPECT_THAT(test::textOf(dir / "b.odt"), HasSubstr("Строка номер 2999 длинного"));

    // An engine that died without clearing up leaves its folder; the next engine of its
    // slot clears it, and leaves the folder of the engine at work in the other slot alone.
    ::kill(second, SIGKILL);
    ASSERT_TRUE(waitUntilGone(second, std::chrono::seconds(2)));
    test::writeFile(session.folder() / "engine-1" / "stale", "");
    test::writeFile(dir / "c.txt", "третий\n");
    const auto convertC = [&] {
        return test::convertText(dir / "c.txt", "docx", dir / "c.docx").status;
    };
    {
        const BusySlot held(session, 0);
        EXPECT_EQ(convertC(), 0);
    }
    const pid_t restarted = session.enginePid(1);
    EXPECT_TRUE(test::processRuns(restarted));
    EXPECT_NE(restarted, second);
    EXPECT_FALSE(std::filesystem::exists(session.folder() / "engine-1" / "stale"));
    EXPECT_TRUE(std::filesystem::exists(session.folder() / "engine-0" / "profile"));
    EXPECT_EQ(convertC(), 0); // the first slot's engine, still whole
    EXPECT_EQ(session.enginePid(0), first);
    EXPECT_TRUE(test::processRuns(first));

    // With every slot busy a run waits for one, neither converting cold nor starting
    // another engine meanwhile.
    pid_t waiting = -1;
    {
        std::vector<std::unique_ptr<BusySlot>> held;
        for (int slot = 0; slot < engineCount(); ++slot)
            held.push_back(std::make_unique<BusySlot>(session, slot));
        waiting = test::startTextutil(dir / "c.txt", "odt", dir / "c.odt");
        ASSERT_GT(waiting, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        EXPECT_TRUE(test::processRuns(waiting));
        const auto children =
            "/proc/" + std::to_string(waiting) + "/task/" + std::to_string(waiting) + "/children";
        EXPECT_EQ(test::readFile(children), "");
    }
    EXPECT_EQ(finish(waiting), 0);
    EXPECT_EQ(session.enginePid(0), first);
    EXPECT_EQ(session.enginePid(1), restarted);

    // A quitting window's request ends them all.
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 0);
    EXPECT_TRUE(waitUntilGone(first, std::chrono::seconds(2)));
    EXPECT_TRUE(waitUntilGone(restarted, std::chrono::seconds(2)));
}

// Waiting for a busy engine is not the document's time: a short wait does not count
// against its limit, and a long one ends in a cold conversion, never in a time-out.
TEST(WarmEngine, AWaitForABusyEngineIsNotCountedAgainstTheDocument) {
    Session session;
    test::ScratchDir dir;
    test::writeFile(dir / "s.txt", "Одна строка.\n");
    const auto convert = [&](const char* format, const char* limit) {
        return test::textutil({(dir / "s.txt").string(), "-convert", format, "-output",
                               (dir / (std::string("s.") + format)).string(), "-timelimit", limit});
    };
    ASSERT_EQ(convert("odt", "60").status, 0); // the first slot's engine is loaded
    const pid_t engine = session.enginePid();
    struct Case {
        std::chrono::milliseconds held;
        const char* format;
        const char* limit;
        bool warm;
    };
    for (const Case& c : {Case{std::chrono::milliseconds(1800), "docx", "1.2", true},
                          Case{std::chrono::seconds(8), "rtf", "60", false}}) {
        std::vector<std::unique_ptr<BusySlot>> held;
        for (int slot = 0; slot < engineCount(); ++slot)
            held.push_back(std::make_unique<BusySlot>(session, slot));
        const auto start = std::chrono::steady_clock::now();
        std::jthread release([held = std::move(held), wait = c.held]() mutable {
            std::this_thread::sleep_for(wait);
            held.clear();
        });
        const auto run = convert(c.format, c.limit);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_EQ(run.status, 0) << c.format << ": " << run.err;
        EXPECT_THAT(run.err, ::testing::Not(HasSubstr("слишком сложный")));
        // A long wait ends in a cold conversion, long before the engines come free.
        if (!c.warm) {
            EXPECT_LT(took, c.held - std::chrono::seconds(1)) << c.format;
        }
    }
    EXPECT_EQ(session.enginePid(), engine);
    EXPECT_TRUE(test::processRuns(engine));
}

} // namespace
} // namespace lumatra
