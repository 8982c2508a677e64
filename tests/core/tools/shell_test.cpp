#include "formats/convert_error.h"
#include "support/fixtures.h"
#include "tools/line_splitter.h"
#include "tools/shell.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <thread>

namespace lumatra {
namespace {

using ::testing::ElementsAre;

struct Collected {
    std::string text;
    std::vector<std::string> lines;
};

Collected runScript(const std::string& script, std::stop_token stop = {}) {
    Collected result;
    std::mutex mutex;
    result.text = Shell::run(
        "/bin/sh", {"-c", script},
        [&](std::string_view line) {
            std::lock_guard lock(mutex);
            result.lines.emplace_back(line);
        },
        stop);
    return result;
}

// Runs `script` with a stop requested after `delay`, expecting it to end cancelled.
void expectCancelledAfter(const std::string& script, std::chrono::milliseconds delay) {
    std::stop_source stop;
    std::jthread canceller([&] {
        std::this_thread::sleep_for(delay);
        stop.request_stop();
    });
    EXPECT_THROW(runScript(script, stop.get_token()), CancelledError);
}

std::string failureText(const std::string& script) {
    try {
        runScript(script);
    } catch (const ConvertError& error) {
        return error.errorDescription();
    }
    return "(no failure)";
}

TEST(Shell, OutputArrivesInWholeLinesOfText) {
    const auto result = runScript(R"(printf 'x\ry\n\nz')");
    EXPECT_THAT(result.lines, ElementsAre("x", "y", "z"));
    EXPECT_EQ(result.text, "x\ny\nz");
    EXPECT_EQ(runScript("true").text, "");
    // A line in two writes arrives once; a Cyrillic letter split between writes survives;
    // bytes that are not UTF-8 become U+FFFD instead of losing the line.
    EXPECT_THAT(runScript(R"(printf 'out_ti'; sleep 0.2; printf 'me_us=5\n\320'; sleep 0.2;
                             printf '\260\n'; printf 'a\377b\n')")
                    .lines,
                ElementsAre("out_time_us=5", "а",
                            "a\xEF\xBF\xBD"
                            "b"));
    // Error output alone is no failure.
    EXPECT_EQ(runScript("echo warning >&2; echo ok").text, "ok");
}

TEST(Shell, FailuresNameTheProgramHowItEndedAndItsLastCleanedLines) {
    const std::pair<std::string, std::string> cases[] = {
        {"for i in 1 2 3 4 5 6; do echo e$i >&2; done; exit 1",
         "sh завершился с кодом 1\ne3\ne4\ne5\ne6"},
        {"exit 2", "sh завершился с кодом 2\n"},
        {"i=1; while [ $i -le 60 ]; do echo line$i >&2; i=$((i+1)); done; exit 3",
         "sh завершился с кодом 3\nline57\nline58\nline59\nline60"},
        // A signal is no exit status.
        {"echo before >&2; kill -SEGV $$", "sh аварийно завершился (сигнал 11)\nbefore"},
        {"kill -KILL $$", "sh аварийно завершился (сигнал 9)\n"},
        // What reaches the user carries no addresses and no terminal escapes.
        {R"(printf '[mp3 @ 0x5642a8c0ff10] Failed to read frame size\n' >&2;
            printf '\033[1;31mred\033[0m \033]0;title\007ok\tx\n' >&2;
            printf '[IMGUTILS @ 0x7ffe125d6b40] size 0x0 at 0xdeadbeef00 end\n' >&2; exit 1)",
         "sh завершился с кодом 1\n[mp3] Failed to read frame size\nred ok\tx\n"
         "[IMGUTILS] size 0x0 at end"},
    };
    for (const auto& [script, text] : cases)
        EXPECT_EQ(failureText(script), text) << script;
    // 20 MB on the error output, no line breaks in parts of it: the run neither blocks on
    // a full pipe nor keeps what it does not need.
    const auto chatty = failureText(
        "head -c 20000000 /dev/zero | tr '\\0' 'x' >&2; echo >&2; echo last >&2; exit 4");
    EXPECT_EQ(chatty.substr(0, chatty.find('\n')), "sh завершился с кодом 4");
    EXPECT_TRUE(chatty.ends_with("\nlast"));
    EXPECT_LT(chatty.size(), 100'000u);
    // A program that cannot start is no program's failure.
    EXPECT_THROW(Shell::run("/nonexistent/ffmpeg", {}, {}), SystemError);
}

TEST(Shell, CancellationEndsTheProgramAndWhatItStarted) {
    test::ScratchDir dir;
    const auto pidFile = dir / "pid";
    const auto started = std::chrono::steady_clock::now();
    expectCancelledAfter("echo $$ > '" + pidFile.string() + "'; echo started; exec sleep 30",
                         std::chrono::milliseconds(300));
    const pid_t pid = std::stoi(test::readFile(pidFile));
    EXPECT_EQ(::kill(pid, 0), -1) << "the program outlived its cancellation";
    // The shell ends at once; the sleep it started keeps the pipes open, and a stop
    // reaches it too.
    EXPECT_EQ(runScript("sleep 30 & echo done").text, "done");
    expectCancelledAfter("sleep 30; echo never", std::chrono::milliseconds(200));
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));

    // Already cancelled before the start: the run ends at once as cancelled.
    std::stop_source early;
    early.request_stop();
    EXPECT_THROW(runScript("sleep 30", early.get_token()), CancelledError);
}

TEST(Shell, ProgramsStartCleanWhateverWeIgnoreBlockOrLeaveOpen) {
    // The command line ignores SIGPIPE and blocks the signals it waits for; a program
    // must see neither, or "ffmpeg | head" style pipelines and Ctrl-C break inside it.
    // Nor any descriptor of ours beyond its three, though opened the way a library or
    // another thread might: without close-on-exec.
    const int stray = ::open("/dev/null", O_RDONLY);
    ASSERT_GE(stray, 0);
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    struct sigaction previous {};
    ::sigaction(SIGPIPE, &ignore, &previous);
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGQUIT);
    sigset_t before;
    ::pthread_sigmask(SIG_BLOCK, &blocked, &before);
    const auto text = runScript("grep -E '^Sig(Ign|Blk)' /proc/self/status; [ -e /proc/self/fd/" +
                                std::to_string(stray) + " ] && echo open || echo closed")
                          .text;
    ::close(stray);
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    ::sigaction(SIGPIPE, &previous, nullptr);
    EXPECT_EQ(text, "SigBlk:\t0000000000000000\nSigIgn:\t0000000000000000\nclosed");
}

TEST(LineSplitter, CutsOverlongLinesAndFlushesTheLastOne) {
    std::vector<std::string> lines;
    LineSplitter splitter([&](std::string&& line) { lines.push_back(line); }, 4);
    splitter.feed("abcdefg\nhi");
    splitter.feed("\r\n\njk");
    splitter.finish();
    EXPECT_THAT(lines, ElementsAre("abcd", "hi", "jk"));
}

} // namespace
} // namespace lumatra
