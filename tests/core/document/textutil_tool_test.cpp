// The built text converter as the document pipeline runs it: exit status, its one
// error line, the files it leaves, cancellation and isolation.
#include "core/document/document_support.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace lumatra {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
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
        {{},
         "Использование: lumatra-textutil ФАЙЛ -convert txt|html|rtf|rtfd|docx|odt|pdf "
         "-output ФАЙЛ [-inputencoding КОДИРОВКА]"},
        {{(dir / "a.txt").string(), "-convert", "doc", "-output", out}, "Неизвестный формат: doc."},
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

TEST(Textutil, WritesTextPagesAndPackagesAsPromised) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::writeFile(dir / "page.html", test::samplePage());
    const auto convert = [&](const char* format, const std::string& output) {
        const auto run = test::convertText(dir / "page.html", format, dir / output);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_TRUE(run.err.empty()) << run.err;
    };
    convert("rtfd", "page.rtfd");
    convert("html", "again.html");
    // An RTFD package is a folder holding the rich text.
    ASSERT_TRUE(std::filesystem::is_directory(dir / "page.rtfd"));
    EXPECT_THAT(test::readFile(dir / "page.rtfd" / "TXT.rtf"), StartsWith("{\\rtf"));
    // Web pages are UTF-8 and say so.
    const std::string html = test::readFile(dir / "again.html");
    EXPECT_THAT(html, HasSubstr("charset=utf-8"));
    EXPECT_THAT(html, HasSubstr("Квартальный отчёт"));
    // An existing output file is replaced whole; nothing else appears beside it.
    test::writeFile(dir / "again.html", "old");
    convert("html", "again.html");
    EXPECT_THAT(test::readFile(dir / "again.html"), HasSubstr("Квартальный отчёт"));
    EXPECT_THAT(dir.entries(), ElementsAre("again.html", "page.html", "page.rtfd"));
}

TEST(Textutil, NoPictureFromOutsideTheDocumentsFolderIsCarried) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    test::ScratchDir outside;
    test::writeFile(outside / "secret.png", test::onePixelPng());
    std::filesystem::create_directories(dir / "page");
    ::symlink((outside / "secret.png").c_str(), (dir / "page" / "link.png").c_str());
    ::symlink(outside.path().c_str(), (dir / "page" / "img").c_str());
    test::writeFile(dir / "page" / "page.html",
                    "<p>Страница</p><img src=\"link.png\"><img src=\"img/secret.png\">");
    test::writeFile(dir / "fields.rtf",
                    "{\\rtf1\\ansi Text {\\field{\\*\\fldinst INCLUDEPICTURE \"" +
                        (outside / "secret.png").string() + "\" \\\\d}{\\fldrslt }} end.\\par}");
    for (const auto& source : {dir / "page" / "page.html", dir / "fields.rtf"}) {
        const auto output = dir / (source.stem().string() + ".docx");
        const auto run = test::convertText(source, "docx", output);
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_FALSE(test::docxHasPicture(output)) << source;
    }
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
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        const std::chrono::duration<double> waited = std::chrono::steady_clock::now() - signalled;
        EXPECT_LT(waited.count(), 1.0) << "after " << delayMs << " ms";
        EXPECT_TRUE(WIFEXITED(status) || WIFSIGNALED(status));
        if (WIFEXITED(status)) {
            EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM);
        }
        EXPECT_THAT(dir.entries(), ElementsAre("long.txt")) << "after " << delayMs << " ms";
    }
    // A run killed outright leaves its scratch (with the copy of the document); once its
    // engine is gone too, the next run proves it abandoned and removes it.
    for (int i = 0;
         i < 100 &&
         !test::runProgram({"pgrep", "-f", "--", (dir / "long.txt").string()}).out.empty();
         ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
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
    test::writeLongText(dir / "long.txt", 60000);
    int pipes[2];
    ASSERT_EQ(::pipe(pipes), 0);
    const pid_t pid = test::startTextutil(dir / "long.txt", "odt", dir / "long.odt", pipes[1]);
    ::close(pipes[1]);
    ASSERT_GT(pid, 0);
    // Wait for the engine's process to appear, then crash it.
    pid_t engine = 0;
    for (int i = 0; i < 200 && engine == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        std::error_code error;
        const auto children =
            "/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children";
        if (std::filesystem::exists(children, error)) {
            const std::string list = test::readFile(children);
            if (!list.empty()) engine = static_cast<pid_t>(std::stol(list));
        }
    }
    ASSERT_GT(engine, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // A fault LibreOffice could catch may leave it stuck in its own crash handler; a
    // kill it cannot catch tells the same story every time.
    ::kill(engine, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    std::string err;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipes[0], buffer, sizeof buffer)) > 0;)
        err.append(buffer, static_cast<std::size_t>(n));
    ::close(pipes[0]);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 0) GTEST_SKIP() << "the engine finished before it was stopped";
    EXPECT_EQ(WEXITSTATUS(status), 1);
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
                          log.string(), test::textutilPath().string(), (dir / "page.html").string(),
                          "-convert", "docx", "-output", (dir / "page.docx").string()});
    if (run.status != 0 && run.err.find("ptrace") != std::string::npos)
        GTEST_SKIP() << "tracing is not allowed here: " << run.err;
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string trace = test::readFile(log);
    EXPECT_THAT(trace, HasSubstr("unshare(CLONE_NEWUSER|CLONE_NEWNET) = 0"));
    std::istringstream lines(trace);
    for (std::string line; std::getline(lines, line);) {
        const bool internet = line.find("AF_INET") != std::string::npos;
        if (internet) {
            EXPECT_THAT(line, HasSubstr("= -1")) << line;
        }
    }
    EXPECT_THAT(test::textOf(dir / "page.docx"), HasSubstr("Сеть"));
}

} // namespace
} // namespace lumatra
