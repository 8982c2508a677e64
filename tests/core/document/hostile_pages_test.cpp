// Pages built to keep the text converter busy for ever, and the limits that end every
// run: what the page loses before the engine sees it, the time limit, and the engine
// dying with the run.

#include "core/document/document_support.h"

#include "active_content.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace lumatra {
namespace {

using ::testing::AnyOf;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

using Clock = std::chrono::steady_clock;

TEST(ActiveContent, PagesLoseWhatMakesThemActAndKeepTheirText) {
    const std::pair<std::string, std::string> cases[] = {
        {R"(<meta http-equiv="refresh" content="0;url=http://127.0.0.1:8765/r"><p>Текст</p>)",
         "<p>Текст</p>"},
        {"<META HTTP-EQUIV=Refresh CONTENT='5'><title>t</title>", "<title>t</title>"},
        {R"(<meta content="0; url=x" http-equiv="REFRESH" />a)", "a"},
        {R"(<meta charset="utf-8"><b>x</b>)", R"(<meta charset="utf-8"><b>x</b>)"},
        {"<script>location='http://x/'; if (a<b) {}</script>после", "после"},
        {"<SCRIPT src=x.js></SCRIPT >a</script>b", "ab"},
        {"<script>for(;;){}", ""},
        {R"(<frameset><frame src="b.html"><noframes>Запасной</noframes></frameset>)",
         "<noframes>Запасной</noframes>"},
        {R"(<iframe src="a.html">вместо</iframe><object data=x><embed src=y></object>)", "вместо"},
        {R"(<base href="http://x/"><a href="p">ссылка</a>)", R"(<a href="p">ссылка</a>)"},
        // Quoted values may hold '>' and the names of the tags dropped.
        {R"(<p title="a > b <script>">x</p>)", R"(<p title="a > b <script>">x</p>)"},
        {"<!DOCTYPE html><!-- <meta http-equiv=refresh> -->текст",
         "<!DOCTYPE html><!-- &lt;meta http-equiv=refresh> -->текст"},
        // Text that only looks like markup stays text, and removals never make a tag.
        {"a < b, it's 1<2", "a &lt; b, it's 1&lt;2"},
        {"<<iframe>meta http-equiv=refresh content=0>", "&lt;meta http-equiv=refresh content=0>"},
        {R"(<p class="x>y)", "&lt;p class=\"x>y"},
        {R"(x<img src="a.png" alt="<meta http-equiv=refresh content=0>)",
         "x&lt;img src=\"a.png\" alt=\"&lt;meta http-equiv=refresh content=0>"},
    };
    for (const auto& [page, expected] : cases)
        EXPECT_EQ(textutil::withoutActiveContent(page), expected) << page;
}

// Whether a process whose command line names `mark` still runs.
bool runningWith(const std::string& mark) {
    return !test::runProgram({"pgrep", "-f", "--", mark}).out.empty();
}

bool noneRunningWithin(const std::string& mark, std::chrono::milliseconds wait) {
    const auto until = Clock::now() + wait;
    while (runningWith(mark) && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !runningWith(mark);
}

TEST(Textutil, HostilePagesEndWithinTheirTimeLimitLeavingNothingRunning) {
    test::PrivateTemp temp;
    test::ScratchDir dir;
    const std::string refresh =
        R"(<html><head><meta http-equiv="refresh" content="0;url=http://127.0.0.1:8765/r">)"
        "</head><body><p>Перенаправление</p></body></html>";
    std::string huge = "<p>Картинка</p><img src=\"data:image/png;base64,";
    huge.append(4u << 20, 'A');
    huge += "\">";
    std::string deep;
    for (int i = 0; i < 3000; ++i)
        deep += "<div><ul><li>";
    deep += "дно";
    std::string tables;
    for (int i = 0; i < 100; ++i)
        tables += "<table><tr><td>";
    tables += "ячейка";
    const std::pair<const char*, std::string> pages[] = {
        {"refresh.html", refresh},
        {"script.html", "<script>while(true){location.reload()}</script><p>Скрипт</p>"
                        "<body onload=\"location='http://127.0.0.1:8765/'\">"},
        {"a.html",
         R"(<frameset cols="50%,50%"><frame src="b.html"><frame src="a.html"></frameset>)"},
        {"b.html", R"(<iframe src="a.html"></iframe><iframe src="b.html"></iframe><p>Кадры</p>)"},
        {"huge.html", huge},
        {"deep.html", deep},
        {"tables.html", tables},
    };
    for (const auto& [name, page] : pages)
        test::writeFile(dir / name, page);
    // Larger ones of each kind only take the engine longer, up to the limit. The refresh
    // page also goes the way of a PDF (through a package).
    const auto limit = std::chrono::seconds(20);
    for (const auto& [name, page] : pages) {
        for (const std::string format : {"docx", "rtfd"}) {
            if (format == "rtfd" && std::string_view(name) != "refresh.html") continue;
            const auto output = dir / (std::string(name) + "." + format);
            const auto started = Clock::now();
            const auto run = test::textutil({(dir / name).string(), "-convert", format, "-output",
                                             output.string(), "-timelimit", "20"});
            EXPECT_LT(Clock::now() - started, limit + std::chrono::seconds(5)) << name;
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
            EXPECT_TRUE(noneRunningWithin(dir.path().string(), std::chrono::seconds(2))) << name;
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
        const auto started = Clock::now();
        const auto run = test::textutil({(dir / "long.txt").string(), "-convert", "docx", "-output",
                                         (dir / "long.docx").string(), "-timelimit", limit});
        const std::chrono::duration<double> took = Clock::now() - started;
        if (run.status == 0) GTEST_SKIP() << "converted within " << limit << " s";
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err, "Документ «" + (dir / "long.txt").string() +
                               "» не удалось конвертировать за " +
                               (std::string(limit) == "0.3" ? "1" : "2") +
                               " с: он слишком сложный или зациклен\n");
        EXPECT_LT(took.count(), std::stod(limit) + 1.5);
        EXPECT_THAT(dir.entries(), ElementsAre("long.txt"));
        EXPECT_TRUE(noneRunningWithin(dir.path().string(), std::chrono::seconds(1)));
    }
}

} // namespace
} // namespace lumatra
