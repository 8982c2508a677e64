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
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <vector>

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

using test::Session;
using test::waitUntilGone;

// The engines the converter keeps side by side: one per core, at most four.
int engineCount() {
    return std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1,
                      Session::maxEngines);
}

// Holds the first `count` slots as runs at work would, so that the converter's runs go
// elsewhere.
class HeldSlots {
public:
    HeldSlots(const Session& session, int count) {
        for (int slot = 0; slot < count; ++slot) {
            const auto file = session.slotFile(slot, ".busy");
            m_fds.push_back(::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
            EXPECT_EQ(::flock(m_fds.back(), LOCK_EX | LOCK_NB), 0) << "slot " << slot;
        }
    }
    ~HeldSlots() {
        for (const int fd : m_fds)
            ::close(fd);
    }

private:
    std::vector<int> m_fds;
};

// Whether a run holds the slot (looked up in the kernel's list of locks: trying the lock
// would hold it for a moment, and send a run elsewhere).
bool slotTaken(const Session& session, int slot) {
    struct stat info {};
    return ::stat(session.slotFile(slot, ".busy").c_str(), &info) == 0 &&
           test::readFile("/proc/locks").find(":" + std::to_string(info.st_ino) + " ") !=
               std::string::npos;
}

TEST(WarmEngine, ABurstSharesOneEngineThatAFailureOrACancelledRunEnds) {
    Session session;
    test::ScratchDir dir;
    // No engine yet: a quit request finds none and starts none.
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 1);
    EXPECT_EQ(session.enginePid(), -1);
    test::writeFile(dir / "report.html", test::samplePage());
    const auto convert = [&](const char* format) {
        const auto output = dir / (std::string("page.") + format);
        const auto run = test::convertText(dir / "report.html", format, output);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.err.empty()) << run.err;
        return output;
    };
    convert("docx");
    const pid_t engine = session.enginePid();
    ASSERT_TRUE(test::processRuns(engine));
    struct stat info {};
    ASSERT_EQ(::stat(session.folder().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    convert("odt");
    // An RTFD package is a folder holding the rich text; web pages are UTF-8 and say so.
    EXPECT_THAT(test::readFile(convert("rtfd") / "TXT.rtf"), StartsWith("{\\rtf"));
    EXPECT_THAT(test::readFile(convert("html")), HasSubstr("charset=utf-8"));
    // An existing output file is replaced whole; nothing else appears beside it.
    test::writeFile(dir / "page.txt", "old");
    EXPECT_EQ(test::readFile(convert("txt")).substr(0, 33), "Квартальный отчёт");
    EXPECT_THAT(dir.entries(), ElementsAre("page.docx", "page.html", "page.odt", "page.rtfd",
                                           "page.txt", "report.html"));
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

    // The next run starts a new engine (once the old one has let go of its lock); a run
    // stopped while that engine works for it ends the engine's work too.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    convert("odt");
    const pid_t next = session.enginePid();
    EXPECT_NE(next, engine);
    ASSERT_TRUE(test::processRuns(next));
    test::writeLongText(dir / "long.txt", 100000);
    const pid_t pid = test::startTextutil(dir / "long.txt", "docx", dir / "long.docx");
    ASSERT_GT(pid, 0);
    for (int i = 0; i < 500 && !slotTaken(session, 0); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, SIGTERM);
    EXPECT_EQ(test::finish(pid), 128 + SIGTERM);
    EXPECT_TRUE(waitUntilGone(next, std::chrono::seconds(2)));
    EXPECT_FALSE(std::filesystem::exists(dir / "long.docx"));
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
    EXPECT_EQ(test::finish(a), 0);
    EXPECT_EQ(test::finish(b), 0);
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
    {
        const HeldSlots held(session, 1);
        EXPECT_EQ(test::convertText(dir / "c.txt", "docx", dir / "c.docx").status, 0);
    }
    const pid_t restarted = session.enginePid(1);
    EXPECT_TRUE(test::processRuns(restarted));
    EXPECT_NE(restarted, second);
    EXPECT_FALSE(std::filesystem::exists(session.folder() / "engine-1" / "stale"));
    EXPECT_TRUE(std::filesystem::exists(session.folder() / "engine-0" / "profile"));

    // With every slot busy a run waits a moment for one, neither converting cold nor
    // starting another engine meanwhile, and the wait is not counted against its time
    // limit: past it, the run converts once a slot comes free.
    pid_t waiting = -1;
    {
        const HeldSlots held(session, engineCount());
        waiting =
            test::startTextutil(dir / "c.txt", "odt", dir / "c.odt", -1, {"-timelimit", "1.2"});
        ASSERT_GT(waiting, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(1400));
        EXPECT_TRUE(test::processRuns(waiting));
        EXPECT_EQ(test::childrenOf(waiting), "");
    }
    EXPECT_EQ(test::finish(waiting), 0);
    // A longer wait ends in a cold conversion, never in a time-out.
    {
        const HeldSlots held(session, engineCount());
        const auto run =
            test::runProgram({"timeout", "60", LUMATRA_TEXTUTIL, (dir / "c.txt").string(),
                              "-convert", "rtf", "-output", (dir / "c.rtf").string()});
        EXPECT_EQ(run.status, 0) << run.err;
    }
    EXPECT_EQ(session.enginePid(0), first);
    EXPECT_EQ(session.enginePid(1), restarted);

    // A quitting window's request ends them all.
    EXPECT_EQ(test::textutil({"--quit-engine"}).status, 0);
    EXPECT_TRUE(waitUntilGone(first, std::chrono::seconds(2)));
    EXPECT_TRUE(waitUntilGone(restarted, std::chrono::seconds(2)));
}

} // namespace
} // namespace lumatra
