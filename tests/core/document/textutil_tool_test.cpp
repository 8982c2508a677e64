// The built text converter as the document pipeline runs it: exit status, its one
// error line, the files it leaves, cancellation, isolation, the limits that end every run
// of a page built to keep it busy for ever, and the warm engines runs share.
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
#include <regex>
#include <thread>
#include <vector>

namespace lumatra {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

TEST(Textutil, FailuresEndWithOneRussianLineAndNoOutput) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::writeFile(dir / "broken.docx", "not a zip");
    ::mkfifo((dir / "pipe.txt").c_str(), 0600);
    std::filesystem::create_directory(dir / "folder.txt");
    const auto out = (dir / "out.docx").string();
    struct Case {
        std::vector<std::string> arguments;
        std::string line;
    } cases[] = {
        {{}, "Использование: lumatra-textutil ФАЙЛ"},
        {{(dir / "missing.txt").string(), "-convert", "docx", "-output", out},
         "Не удалось открыть «" + (dir / "missing.txt").string() + "»: нет такого файла или папки"},
        {{(dir / "pipe.txt").string(), "-convert", "docx", "-output", out},
         "Не удалось открыть «" + (dir / "pipe.txt").string() + "»: это не обычный файл"},
        {{(dir / "folder.txt").string(), "-convert", "docx", "-output", out},
         "Не удалось открыть «" + (dir / "folder.txt").string() + "»: это папка, а не файл"},
        {{(dir / "broken.docx").string(), "-convert", "odt", "-output", out},
         "Файл «" + (dir / "broken.docx").string() +
             "» повреждён или не является документом DOCX: это не ZIP-архив"},
        {{(dir / "pipe.txt").string(), "-convert", "txt", "-output", out, "-inputencoding", "x-y"},
         "Не удалось открыть"},
    };
    for (const auto& c : cases) {
        const auto run = test::textutil(c.arguments);
        EXPECT_EQ(run.status, 1);
        EXPECT_THAT(run.err, StartsWith(c.line));
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_TRUE(run.out.empty());
    }
    EXPECT_THAT(dir.entries(), ElementsAre("broken.docx", "folder.txt", "pipe.txt"));
}

// A cold run's first start of the engine skips the checks of a version's first start:
// they spend seconds drawing and leave their log in the profile, which the run keeps as
// the template of later starts.
TEST(Textutil, NoPictureFromOutsideTheDocumentsFolderIsCarriedAndAStartDrawsNothing) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    const test::ScopedVariable cache("XDG_CACHE_HOME", (dir / "cache").c_str());
    test::ScratchDir outside;
    const auto secret = outside / "secret.png";
    ASSERT_EQ(test::runProgram({"convert", "-size", "1x1", "xc:red", secret.string()}).status, 0);
    std::filesystem::create_directories(dir / "page");
    ::symlink(secret.c_str(), (dir / "page" / "link.png").c_str());
    ::symlink(outside.path().c_str(), (dir / "page" / "img").c_str());
    test::writeFile(dir / "page" / "page.html",
                    "<p>Страница</p><img src=\"link.png\"><img src=\"img/secret.png\">");
    test::writeFile(dir / "fields.rtf",
                    "{\\rtf1\\ansi Text {\\field{\\*\\fldinst INCLUDEPICTURE \"" + secret.string() +
                        "\" \\\\d}{\\fldrslt }} end.\\par}");
    for (const auto& source : {dir / "page" / "page.html", dir / "fields.rtf"}) {
        const auto output = dir / (source.stem().string() + ".docx");
        const auto run = test::convertText(source, "docx", output);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_FALSE(test::docxHasPicture(output)) << source;
    }
    const auto profile = dir / "cache" / "lumatra" / "office-profile" / "user";
    EXPECT_TRUE(std::filesystem::exists(profile / "registrymodifications.xcu"));
    EXPECT_FALSE(std::filesystem::exists(profile / "GraphicsRenderTests.log"));
}

TEST(Textutil, TerminationEndsTheRunWithinASecondLeavingNothing) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    // Long enough that LibreOffice is still at work when the signal comes.
    test::writeLongText(dir / "long.txt", 60000);
    for (const auto& [delayMs, signal] :
         {std::pair{100, SIGTERM}, {700, SIGTERM}, {700, SIGKILL}}) {
        const pid_t pid = test::startTextutil(dir / "long.txt", "docx", dir / "long.docx");
        ASSERT_GT(pid, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        const auto signalled = std::chrono::steady_clock::now();
        ::kill(pid, signal);
        EXPECT_EQ(test::finish(pid), 128 + signal);
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - signalled;
        EXPECT_LT(waited.count(), 1.0) << "after " << delayMs << " ms";
        EXPECT_THAT(dir.entries(), ElementsAre("long.txt")) << "after " << delayMs << " ms";
    }
    // A run killed outright leaves its scratch (with the copy of the document); once its
    // engine is gone too, the next run proves it abandoned and removes it.
    EXPECT_TRUE(test::noneRunningWithin((dir / "long.txt").string(), std::chrono::seconds(3)));
    EXPECT_EQ(std::ranges::count_if(
                  test::ScratchDir::entriesOf(temp.path()),
                  [](const std::string& name) { return name.starts_with("lumatra-textutil-"); }),
              1);
    test::writeFile(dir / "short.txt", "Коротко.\n");
    EXPECT_EQ(test::convertText(dir / "short.txt", "odt", dir / "short.odt").status, 0);
}

TEST(Textutil, AnEngineCrashIsReportedAndLeavesNothing) {
    // The engine runs in a child of the tool; here it is made to crash mid-work.
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::ScratchDir errors;
    test::writeLongText(dir / "long.txt", 60000);
    const int errorFd = ::open((errors / "err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    const pid_t pid = test::startTextutil(dir / "long.txt", "odt", dir / "long.odt", errorFd);
    ::close(errorFd);
    ASSERT_GT(pid, 0);
    // Wait for the engine's process to appear, then crash it.
    pid_t engine = 0;
    for (int i = 0; i < 200 && engine == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        engine = std::atoi(test::childrenOf(pid).c_str());
    }
    ASSERT_GT(engine, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // A fault LibreOffice could catch may leave it stuck in its own crash handler; a
    // kill it cannot catch tells the same story every time.
    ::kill(engine, SIGKILL);
    const int status = test::finish(pid);
    const std::string err = test::readFile(errors / "err");
    if (status == 0) GTEST_SKIP() << "the engine finished before it was stopped";
    EXPECT_EQ(status, 1);
    EXPECT_THAT(err, StartsWith("LibreOffice аварийно завершился на этом документе (сигнал "));
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1);
    EXPECT_THAT(dir.entries(), ElementsAre("long.txt"));
}

TEST(Textutil, RunsWithoutNetwork) {
    // The run is traced: it must enter a network namespace of its own, and no attempt
    // to reach an internet address may succeed.
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::writeFile(dir / "page.html",
                    "<html><head><link rel=\"stylesheet\" href=\"http://192.0.2.1/s.css\"></head>"
                    "<body><p>Сеть</p><img src=\"http://192.0.2.1/a.png\">"
                    "<img src=\"https://example.com/b.png\"></body></html>");
    const auto log = dir / "trace.log";
    const auto run =
        test::runProgram({"strace", "-f", "-qq", "-e", "trace=unshare,connect,sendto,sendmsg", "-o",
                          log.string(), LUMATRA_TEXTUTIL, (dir / "page.html").string(), "-convert",
                          "docx", "-output", (dir / "page.docx").string()});
    if (run.status != 0 && run.err.find("ptrace") != std::string::npos)
        GTEST_SKIP() << "tracing is not allowed here: " << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string trace = test::readFile(log);
    EXPECT_THAT(trace, HasSubstr("unshare(CLONE_NEWUSER|CLONE_NEWNET) = 0"));
    EXPECT_FALSE(std::regex_search(trace, std::regex("AF_INET[^\n]* = [0-9]"))) << trace;
    EXPECT_THAT(test::textOf(dir / "page.docx"), HasSubstr("Сеть"));
}

TEST(Textutil, HostilePagesEndWithinTheirTimeLimitLeavingNothingRunning) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    std::string deep;
    for (int i = 0; i < 3000; ++i)
        deep += "<div><ul><li>";
    deep += "дно";
    std::string tables;
    for (int i = 0; i < 100; ++i)
        tables += "<table><tr><td>";
    tables += "ячейка";
    const std::pair<const char*, std::string> pages[] = {
        {"refresh.html",
         R"(<html><head><meta http-equiv="refresh" content="0;url=http://127.0.0.1:8765/r">)"
         "</head><body><p>Перенаправление</p></body></html>"},
        {"script.html", "<script>while(true){location.reload()}</script><p>Скрипт</p>"
                        "<body onload=\"location='http://127.0.0.1:8765/'\">"},
        {"a.html",
         R"(<frameset cols="50%,50%"><frame src="b.html"><frame src="a.html"></frameset>)"},
        {"b.html", R"(<iframe src="a.html"></iframe><iframe src="b.html"></iframe><p>Кадры</p>)"},
        {"huge.html",
         "<p>Картинка</p><img src=\"data:image/png;base64," + std::string(4u << 20, 'A') + "\">"},
        {"deep.html", deep},
        {"tables.html", tables},
    };
    for (const auto& [name, page] : pages)
        test::writeFile(dir / name, page);
    // Larger ones of each kind only take the engine longer, up to the limit. The refresh
    // page also goes the way of a PDF (through a package).
    for (const auto& [name, page] : pages) {
        for (const std::string format : {"docx", "rtfd"}) {
            if (format == "rtfd" && std::string_view(name) != "refresh.html") continue;
            const auto output = dir / (std::string(name) + "." + format);
            const auto started = std::chrono::steady_clock::now();
            const auto run = test::textutil({(dir / name).string(), "-convert", format, "-output",
                                             output.string(), "-timelimit", "20"});
            EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(25)) << name;
            if (run.status == 0) {
                EXPECT_TRUE(std::filesystem::exists(output)) << name;
                std::filesystem::remove_all(output);
            } else {
                // A failure is one Russian line naming the page (or the engine's crash on
                // it), and nothing written.
                EXPECT_EQ(run.status, 1) << name;
                EXPECT_THAT(run.err, AnyOf(HasSubstr("«" + (dir / name).string() + "»"),
                                           StartsWith("LibreOffice аварийно завершился")))
                    << name;
                EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
                EXPECT_FALSE(std::filesystem::exists(output)) << name;
            }
            EXPECT_TRUE(test::noneRunningWithin(dir.path().string(), std::chrono::seconds(2)))
                << name;
        }
    }
    EXPECT_THAT(test::textOf(dir / "refresh.html"), HasSubstr("Перенаправление"));
    EXPECT_THAT(test::textOf(dir / "script.html"), Not(HasSubstr("location")));
}

TEST(Textutil, ARunPastItsTimeLimitEndsWithAClearLineAndLeavesNothing) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::writeLongText(dir / "long.txt", 60000);
    for (const char* limit : {"0.3", "1.5"}) {
        const auto started = std::chrono::steady_clock::now();
        const auto run = test::textutil({(dir / "long.txt").string(), "-convert", "docx", "-output",
                                         (dir / "long.docx").string(), "-timelimit", limit});
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
        if (run.status == 0) GTEST_SKIP() << "converted within " << limit << " s";
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "Документ «" + (dir / "long.txt").string() +
                               "» не удалось конвертировать за " +
                               (std::string(limit) == "0.3" ? "1" : "2") +
                               " с: он слишком сложный или зациклен\n");
        EXPECT_LT(took.count(), std::stod(limit) + 1.5);
        EXPECT_THAT(dir.entries(), ElementsAre("long.txt"));
        EXPECT_TRUE(test::noneRunningWithin(dir.path().string(), std::chrono::seconds(1)));
    }
}

// The warm engines bursts of text conversions share: started by the first run of a slot,
// used by the next ones, one per run side by side, ended when a waiting run is cancelled
// or the window quits.

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
