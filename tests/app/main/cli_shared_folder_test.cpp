// Output folders others may write to, and runs that end badly: what another user can do
// with names of the run's own pattern, and what a killed run leaves running.

#include "app/main/cli_support.h"
#include "core/pdf/pdf_samples.h"
#include "support/fixtures.h"
#include "tools/uuid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <thread>

namespace lumatra {
namespace {

using test::lines;
using test::lumatra;
using ::testing::StartsWith;

using Clock = std::chrono::steady_clock;

// The items below `folder` of the run's name pattern or below Photos2, each with its
// owner, type, link target and content, to tell whether any of it changed.
std::string snapshot(const std::filesystem::path& folder) {
    return test::runProgram({"sh", "-c",
                             "cd \"$0\" && find .lumatra-* Photos2 -printf '%p %U %y %l\\n' "
                             "-type f -exec cat {} \\;",
                             folder.string()})
        .out;
}

TEST(CommandLine, WhatOthersRenameOrPlantInASharedFolderSurvivesEveryFamily) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as a second user needs root";
    test::ScratchDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const auto shell = [&](const std::vector<std::string>& prefix, const std::string& command) {
        std::vector<std::string> argv = prefix;
        argv.insert(argv.end(), {"sh", "-c", "cd shared && " + command});
        const auto result = test::runProgram(argv, dir.path());
        ASSERT_EQ(result.status, 0) << result.err;
    };
    std::filesystem::create_directory(dir / "shared");
    std::filesystem::permissions(dir / "shared", std::filesystem::perms(0777));
    // Folders of ours: photos in subfolders; a private folder holding a file named as a
    // run's result would be; one of the pattern, marker and all, holding more than a run
    // leaves.
    const std::string result = ".lumatra-3F2504E0-4F89-41D3-9A0C-0305E82C3301.json";
    const std::string crowded = ".lumatra-9B2D5E70-1C3A-4F6B-8D9E-0A1B2C3D4E5F";
    shell({}, "mkdir -p Photos/album0 Photos/album1 Photos2 && mkdir -m 700 Keep " + crowded +
                  " && for i in 1 2 3 4 5 6; do echo photo > Photos/album$((i % 2))/$i.jpg; done"
                  " && echo photo > Photos2/photo.jpg && echo mine | tee Keep/" +
                  result + " Keep/notes.txt " + crowded + "/" + crowded + ".json " + crowded +
                  "/more.json && echo '" + crowded + " 999999' > " + crowded + "/" + crowded +
                  ".lock");
    // The other user renames our folders into the pattern and plants look-alikes.
    const std::string theirs = ".lumatra-0C1D2E3F-4A5B-4C6D-8E7F-901A2B3C4D5E";
    shell({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"},
          "mv Photos .lumatra-x && mv Keep " + result.substr(0, result.size() - 5) +
              " && mkdir -m 700 " + theirs + " && echo theirs > " + theirs +
              "/x && ln -s Photos2 .lumatra-1A2B3C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D");
    // Folders made long ago, as real ones are.
    shell({}, "find . -mindepth 1 -maxdepth 1 ! -type l -exec touch -d '2 hours ago' {} +");
    const auto before = snapshot(dir / "shared");
    ASSERT_EQ(std::ranges::count(before, '\n'), 34) << before; // 20 items, 14 files' lines

    test::makeTone(dir / "tone.wav", 0.3);
    test::makeMedia(dir / "picture.png",
                    {"-f", "lavfi", "-i", "color=red:size=8x8", "-frames:v", "1"});
    test::writeFile(dir / "table.csv", "a;b\n1;2\n");
    test::writeFile(dir / "notes.md", "# Заметки\n\nТекст.\n");
    test::writeFile(dir / "pages.pdf", test::samplePdf(test::textPages(2)));
    const std::pair<const char*, const char*> runs[] = {
        {"table.csv", "json"}, {"tone.wav", "mp3"},  {"picture.png", "jpg"},
        {"notes.md", "html"},  {"pages.pdf", "txt"}, {"pages.pdf", "png"},
    };
    for (const auto& [source, target] : runs) {
        const auto run = lumatra({"--cli", source, "--to", target, "--out", "shared"}, dir.path());
        EXPECT_EQ(run.status, 0) << source << ": " << run.out;
        EXPECT_THAT(lines(run.out).back(), StartsWith("Готово: ")) << source;
    }
    EXPECT_EQ(snapshot(dir / "shared"), before);
}

// Without a session runtime folder (cron, ssh), too: the engines then live in a private
// folder the program makes in the temporary folder, and runs share them.
TEST(CommandLine, AKilledRunTakesTheTextConverterAndItsEngineWithIt) {
    test::ScratchDir dir;
    std::string text;
    for (int i = 0; i < 60000; ++i)
        text += "Строка номер " + std::to_string(i) + " длинного документа.\n";
    test::writeFile(dir / "long.txt", text);
    test::writeFile(dir / "letter.txt", "Коротко.\n");
    const auto runtime = dir / ("lumatra-" + std::to_string(::geteuid()));
    const test::ScopedVariable temp("TMPDIR", dir.path().c_str());
    const test::ScopedVariable session("XDG_RUNTIME_DIR", nullptr);
    // A warm engine is running before the long document reaches it.
    const auto warm = lumatra({"--cli", "letter.txt", "--to", "docx"}, dir.path());
    ASSERT_EQ(warm.status, 0) << warm.out;
    const pid_t engine = std::atoi(test::readFile(runtime / "lumatra/textutil-0.lock").c_str());
    ASSERT_TRUE(test::processRuns(engine));
    // Killed once the program and the text converter run.
    const std::string mark = (dir / "long.txt").string();
    std::jthread killer(
        [&] { test::signalOnceRunning(mark, SIGKILL, mark, 2, std::chrono::milliseconds(500)); });
    const auto killed = lumatra({"--cli", mark, "--to", "docx"}, dir.path());
    killer.join();
    ASSERT_EQ(killed.status, 128 + SIGKILL);
    // The text converter and the engine at work for it end too.
    const auto until = Clock::now() + std::chrono::seconds(5);
    while ((test::countRunning(mark) > 0 || test::processRuns(engine)) && Clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(test::countRunning(mark), 0);
    EXPECT_FALSE(test::processRuns(engine));
    // The converter removed its scratch, with the copy of the document, as it went; the
    // program's own is left for the next run to prove abandoned and remove.
    const auto scratch = [&] {
        auto names = dir.entries();
        std::erase_if(names, [&](const std::string& name) {
            return !name.starts_with("lumatra-") || name == runtime.filename();
        });
        return names;
    };
    const auto left = scratch();
    ASSERT_EQ(left.size(), 1u);
    EXPECT_TRUE(isUuid(std::string_view(left[0]).substr(8))) << left[0];
    EXPECT_EQ(lumatra({"--cli", "letter.txt", "--to", "odt"}, dir.path()).status, 0);
    EXPECT_THAT(scratch(), ::testing::IsEmpty());
    test::runProgram(
        {(std::filesystem::path(LUMATRA_BINARY).parent_path() / "lumatra-textutil").string(),
         "--quit-engine"});
}

} // namespace
} // namespace lumatra
