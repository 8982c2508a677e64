// Output folders others may write to, and runs that end badly: what another user can do
// with names of the run's own pattern, and what a killed run leaves running.

#include "app/main/cli_support.h"
#include "core/pdf/pdf_samples.h"
#include "support/fixtures.h"
#include "tools/uuid.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <thread>

namespace lumatra {
namespace {

using test::lines;
using test::lumatra;
using ::testing::StartsWith;

using Clock = std::chrono::steady_clock;

// Runs a shell command as the user nobody, as another user of a shared folder would.
test::ProcessOutput asNobody(const std::string& command, const std::filesystem::path& dir) {
    return test::runProgram(
        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "sh", "-c", command}, dir);
}

// Every item below `folder` with its owner, type and content, to tell whether any of it
// changed.
std::map<std::string, std::string> snapshot(const std::filesystem::path& folder) {
    std::map<std::string, std::string> items;
    for (auto it = std::filesystem::recursive_directory_iterator(folder);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        struct stat info {};
        ::lstat(it->path().c_str(), &info);
        std::string what = std::to_string(info.st_uid) + " ";
        if (S_ISLNK(info.st_mode))
            what += "-> " + std::filesystem::read_symlink(it->path()).string();
        else if (S_ISDIR(info.st_mode))
            what += "folder";
        else
            what += test::readFile(it->path());
        items[std::filesystem::relative(it->path(), folder).string()] = what;
    }
    return items;
}

TEST(CommandLine, WhatOthersRenameOrPlantInASharedFolderSurvivesEveryFamily) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as a second user needs root";
    test::ScratchDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const auto shared = dir / "shared";
    std::filesystem::create_directory(shared);
    std::filesystem::permissions(shared, std::filesystem::perms(0777));
    // Folders of ours: photos in subfolders, and a private folder holding a file named as
    // a run's result would be.
    for (int i = 1; i <= 6; ++i) {
        const auto album = shared / "Photos" / ("album" + std::to_string(i % 2));
        std::filesystem::create_directories(album);
        test::writeFile(album / ("photo" + std::to_string(i) + ".jpg"), "photo");
    }
    const std::string uuid = "3F2504E0-4F89-41D3-9A0C-0305E82C3301";
    std::filesystem::create_directory(shared / "Keep");
    std::filesystem::permissions(shared / "Keep", std::filesystem::perms(0700));
    test::writeFile(shared / "Keep" / (".lumatra-" + uuid + ".json"), "mine");
    test::writeFile(shared / "Keep" / "notes.txt", "mine");
    std::filesystem::create_directories(shared / "Photos2");
    test::writeFile(shared / "Photos2" / "photo.jpg", "photo");
    // A folder of ours of the pattern, marker and all, holding more than a run leaves.
    const std::string crowded = ".lumatra-9B2D5E70-1C3A-4F6B-8D9E-0A1B2C3D4E5F";
    std::filesystem::create_directory(shared / crowded);
    std::filesystem::permissions(shared / crowded, std::filesystem::perms(0700));
    test::writeFile(shared / crowded / (crowded + ".lock"), crowded + " 999999\n");
    test::writeFile(shared / crowded / (crowded + ".json"), "mine");
    test::writeFile(shared / crowded / "more.json", "mine");

    // The other user renames our folders into the pattern and plants look-alikes.
    const auto planted =
        asNobody("mv shared/Photos shared/.lumatra-x && mv shared/Keep shared/.lumatra-" + uuid +
                     " && mkdir -m 700 shared/.lumatra-0C1D2E3F-4A5B-4C6D-8E7F-901A2B3C4D5E"
                     " && echo theirs > shared/.lumatra-0C1D2E3F-4A5B-4C6D-8E7F-901A2B3C4D5E/x"
                     " && ln -s Photos2 shared/.lumatra-1A2B3C4D-5E6F-4A7B-8C9D-0E1F2A3B4C5D",
                 dir.path());
    ASSERT_EQ(planted.status, 0) << planted.err;
    // Folders made long ago, as real ones are.
    for (const auto& entry : std::filesystem::directory_iterator(shared))
        if (!entry.is_symlink())
            std::filesystem::last_write_time(entry.path(),
                                             std::filesystem::file_time_type::clock::now() -
                                                 std::chrono::hours(2));
    const auto ours = [](std::map<std::string, std::string> items) {
        std::erase_if(items, [](const auto& item) {
            return !item.first.starts_with(".lumatra-") && !item.first.starts_with("Photos2");
        });
        return items;
    };
    const auto before = ours(snapshot(shared));
    ASSERT_EQ(before.size(), 20u);

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
        const auto result =
            lumatra({"--cli", source, "--to", target, "--out", "shared"}, dir.path());
        EXPECT_EQ(result.status, 0) << source << ": " << result.out;
        EXPECT_THAT(lines(result.out).back(), StartsWith("Готово: ")) << source;
    }
    EXPECT_EQ(ours(snapshot(shared)), before);
}

// The scratch folders of runs in the temporary folder `dir`.
std::vector<std::string> scratchIn(const test::ScratchDir& dir) {
    std::vector<std::string> names = dir.entries();
    std::erase_if(names, [](const std::string& name) {
        return !name.starts_with("lumatra-") || name == "lumatra-" + std::to_string(::geteuid());
    });
    return names;
}

// Without a session runtime folder (cron, ssh), too: the engines then live in a private
// folder the program makes in the temporary folder, and a batch shares them.
TEST(CommandLine, AKilledRunTakesTheTextConverterAndItsEngineWithIt) {
    test::ScratchDir dir;
    std::string text;
    for (int i = 0; i < 60000; ++i)
        text += "Строка номер " + std::to_string(i) + " длинного документа.\n";
    test::writeFile(dir / "long.txt", text);
    std::filesystem::create_directory(dir / "letters");
    for (const char* name : {"a.txt", "b.txt", "c.txt"})
        test::writeFile(dir / "letters" / name, "Коротко.\n");
    const auto runtime = dir / ("lumatra-" + std::to_string(::geteuid()));
    const auto textutil = std::filesystem::path(LUMATRA_BINARY).parent_path() / "lumatra-textutil";
    // Taken by a folder others may enter, the runtime folder is refused: runs are cold.
    std::filesystem::create_directory(runtime);
    std::filesystem::permissions(runtime, std::filesystem::perms(0755));
    const test::ScopedVariable temp("TMPDIR", dir.path().c_str());
    const test::ScopedVariable session("XDG_RUNTIME_DIR", nullptr);
    for (const bool warm : {false, true}) {
        // A warm engine is running before the long document reaches it.
        if (warm) {
            std::filesystem::permissions(runtime, std::filesystem::perms(0700));
            const auto batch = lumatra({"--cli", "letters", "--to", "docx"}, dir.path());
            ASSERT_EQ(batch.status, 0) << batch.out;
            ASSERT_TRUE(test::processRuns(
                std::atoi(test::readFile(runtime / "lumatra" / "textutil-0.lock").c_str())));
        }
        const std::string mark = (dir / "long.txt").string();
        // The program, the text converter and (cold) the converter's engine.
        std::jthread killer([&] {
            test::signalOnceRunning(mark, SIGKILL, mark, warm ? 2 : 3,
                                    std::chrono::milliseconds(500));
        });
        const auto killed = lumatra({"--cli", mark, "--to", "docx"}, dir.path());
        killer.join();
        ASSERT_EQ(killed.status, 128 + SIGKILL) << (warm ? "warm" : "cold");
        const auto until = Clock::now() + std::chrono::seconds(3);
        while (test::countRunning(mark) > 0 && Clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(test::countRunning(mark) > 0) << (warm ? "warm" : "cold");
        // The converter removed its scratch, with the copy of the document, as it went;
        // the program's own is left for the next run to prove abandoned and remove.
        const auto left = scratchIn(dir);
        ASSERT_EQ(left.size(), 1u) << (warm ? "warm" : "cold");
        EXPECT_TRUE(isUuid(std::string_view(left[0]).substr(8))) << left[0];
        if (!warm) continue;
        // The engine was at work for the run that died: it ends too.
        const pid_t engine =
            std::atoi(test::readFile(runtime / "lumatra" / "textutil-0.lock").c_str());
        ASSERT_GT(engine, 0);
        while (test::processRuns(engine) && Clock::now() < until + std::chrono::seconds(2))
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(test::processRuns(engine));
    }
    EXPECT_EQ(lumatra({"--cli", "letters/a.txt", "--to", "odt"}, dir.path()).status, 0);
    EXPECT_THAT(scratchIn(dir), ::testing::IsEmpty());
    test::runProgram({textutil.string(), "--quit-engine"});
}

} // namespace
} // namespace lumatra
