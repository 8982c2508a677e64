// The private folder a run writes into: what others may plant around it, and what a
// dead run leaves behind.

#include "converter/output_slot.h"
#include "support/fixtures.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <thread>

namespace lumatra {
namespace {

using ::testing::ElementsAre;

TEST(OutputSlot, WritesSurviveTheFolderBeingSwappedAndMovesNeverReplace) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_directories(dir / "victim");
    const OutputFolder folder(dir / "out");
    std::filesystem::path moved;
    {
        const OutputSlot slot(folder, "mp3");
        const auto hidden = slot.path().parent_path();
        EXPECT_EQ(hidden.parent_path(), dir / "out");
        ASSERT_NE(slot.anchoredPath(), slot.path()) << "no /proc here";

        // Someone who may rename in the output folder moves the private folder away and
        // puts a link to another folder in its place.
        moved = dir / "out" / "moved";
        std::filesystem::rename(hidden, moved);
        std::filesystem::create_directory_symlink(dir / "victim", hidden);
        test::writeFile(slot.anchoredPath(), "result");
        EXPECT_TRUE(std::filesystem::is_empty(dir / "victim"));
        EXPECT_FALSE(slot.holdsFolder());
        EXPECT_TRUE(slot.moveTo("song.mp3"));
        std::filesystem::remove(hidden);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir / "victim"));
    EXPECT_TRUE(std::filesystem::is_empty(moved)); // emptied, not ours to remove any more
    {
        const OutputSlot slot(folder, "png");
        // A folder of pages left by a run that did not get to its end.
        std::filesystem::create_directories(slot.path());
        test::writeFile(slot.path() / "1.png", "page");
        test::writeFile(slot.path() / "2.png", "page");
        EXPECT_TRUE(slot.holdsFolder());
        EXPECT_FALSE(slot.moveTo("song.mp3"));
    }
    EXPECT_EQ(test::readFile(dir / "out" / "song.mp3"), "result");
    EXPECT_THAT(test::ScratchDir::entriesOf(dir / "out"), ElementsAre("moved", "song.mp3"));
}

// Runs `action` as the user nobody in a child process, as another user of a shared
// folder would; returns whether it succeeded.
template <typename Action> bool asNobody(Action action) {
    const pid_t child = ::fork();
    if (child == 0) {
        const bool dropped = ::setgroups(0, nullptr) == 0 &&
                             ::setresgid(65534, 65534, 65534) == 0 &&
                             ::setresuid(65534, 65534, 65534) == 0;
        ::_exit(dropped && action() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(OutputSlot, AFolderExchangedForTheNewOneIsLeftAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as a second user needs root";
    test::ScratchDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    std::filesystem::permissions(out, std::filesystem::perms(0777));
    // Folders of ours, each unlike a new one in one respect only (a name ending in "/"
    // is a subfolder); the last one is made before the output folder last changes.
    const std::tuple<const char*, mode_t, std::vector<std::string>> cases[] = {
        {"photos", 0755, {"a.jpg", "b.jpg"}}, {"private", 0700, {}}, {"full", 0701, {"notes.txt"}},
        {"nested", 0701, {"inner/"}},         {"old", 0701, {}},
    };
    for (const auto& [name, mode, items] : cases) {
        ASSERT_EQ(::mkdir((out / name).c_str(), mode), 0);
        for (const auto& item : items) {
            if (item.ends_with('/'))
                std::filesystem::create_directory(out / name / item);
            else
                test::writeFile(out / name / item, "mine: " + item);
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    test::writeFile(out / "later.txt", "x");
    const OutputFolder folder(out);
    for (const auto& [name, mode, _] : cases) {
        const std::string victim = (out / name).string();
        struct stat before {};
        ASSERT_EQ(::stat(victim.c_str(), &before), 0);
        const auto entries = test::ScratchDir::entriesOf(victim);
        std::string exchanged;
        {
            OutputSlot::setSeam([&](OutputSlot::Stage stage, const std::string& fresh) {
                if (stage != OutputSlot::Stage::created || !exchanged.empty()) return;
                exchanged = fresh;
                ASSERT_TRUE(asNobody([&] {
                    return ::renameat2(AT_FDCWD, (out / fresh).c_str(), AT_FDCWD, victim.c_str(),
                                       RENAME_EXCHANGE) == 0;
                })) << name;
            });
            const OutputSlot slot(folder, "json");
            OutputSlot::setSeam({});
            EXPECT_NE(slot.path().parent_path().filename(), exchanged) << name;
            test::writeFile(slot.anchoredPath(), "result");
            EXPECT_TRUE(slot.moveTo(std::string(name) + ".json"));
        }
        // Our folder, now under the new name: as it was, and nothing of the run in it.
        const auto now = out / exchanged;
        struct stat after {};
        ASSERT_EQ(::stat(now.c_str(), &after), 0) << name;
        EXPECT_EQ(after.st_ino, before.st_ino) << name;
        EXPECT_EQ(after.st_mode, before.st_mode) << name;
        EXPECT_EQ(test::ScratchDir::entriesOf(now), entries) << name;
        EXPECT_EQ(test::readFile(out / (std::string(name) + ".json")), "result") << name;
    }
}

// Leaves what a run killed in `folder` leaves: its private folder with the marker and
// whatever `fill` put there. Returns the private folder's name.
template <typename Fill>
std::string leaveDeadRun(const std::filesystem::path& folder, const std::string& extension,
                         Fill fill) {
    int report[2];
    if (::pipe(report) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        const OutputFolder output(folder);
        const OutputSlot slot(output, extension);
        fill(slot.path());
        const std::string name = slot.path().parent_path().filename().string();
        [[maybe_unused]] const auto written = ::write(report[1], name.data(), name.size());
        ::_exit(0); // no destructor runs, as after a kill
    }
    ::close(report[1]);
    char buffer[128];
    const ssize_t n = ::read(report[0], buffer, sizeof buffer);
    ::close(report[0]);
    ::waitpid(child, nullptr, 0);
    return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(OutputSlot, OnlyWhatADeadRunProvablyLeftIsRemoved) {
    test::ScratchDir dir;
    const auto out = dir / "out";
    std::filesystem::create_directories(out);
    const auto nothing = [](const std::filesystem::path&) {};
    const auto file = [](const std::filesystem::path& item) { test::writeFile(item, "whole"); };
    // Runs that were killed: these go.
    leaveDeadRun(out, "webm", file);
    leaveDeadRun(out, "json", nothing);
    leaveDeadRun(out, "docx", [](const std::filesystem::path& item) {
        test::writeFile(item.parent_path() / ("." + item.filename().string() + ".a1B2c3"), "half");
    });
    leaveDeadRun(out, "png", [](const std::filesystem::path& item) {
        std::filesystem::create_directory(item);
        test::writeFile(item / "Страница 01.png", "1");
        test::writeFile(item / "Страница 02.png", "2");
    });
    // Killed runs whose folders hold more than such a run leaves: these stay.
    const std::string extra = leaveDeadRun(out, "mp3", [](const std::filesystem::path& item) {
        test::writeFile(item, "whole");
        test::writeFile(item.parent_path() / "notes.txt", "mine");
    });
    const std::string nested = leaveDeadRun(out, "png", [](const std::filesystem::path& item) {
        std::filesystem::create_directories(item / "inner");
        test::writeFile(item / "inner" / "photo.jpg", "mine");
    });
    const std::string linked = leaveDeadRun(out, "txt", [&](const std::filesystem::path& item) {
        std::filesystem::create_symlink(dir / "victim.txt", item);
    });
    // A dead run's folder under another run-like name: its marker names the old one.
    const std::string renamed = leaveDeadRun(out, "csv", file);
    const std::string otherName = ".lumatra-0D4C9B1E-57A2-4C3B-9D8E-2F6A1B7C3D40";
    std::filesystem::rename(out / renamed, out / otherName);
    // A living run of this process.
    const OutputFolder folder(out);
    const OutputSlot live(folder, "mp4");
    test::writeFile(live.path(), "growing");
    // Names of the pattern's look-alikes, and a link to a dead run's folder elsewhere.
    std::filesystem::create_directories(dir / "elsewhere");
    const std::string away = leaveDeadRun(dir / "elsewhere", "gif", file);
    const std::string link = ".lumatra-7E1F0A2B-3C4D-4E5F-8A9B-0C1D2E3F4A5B";
    std::filesystem::create_directory_symlink(dir / "elsewhere" / away, out / link);
    ASSERT_EQ(::mkdir((out / ".lumatra-x").c_str(), 0700), 0);
    test::writeFile(out / ".lumatra-x" / ".lumatra-x.json", "mine");
    test::writeFile(out / ".lumatra-file.mp3", "mine");
    // A folder of this user's made readable by others is not a run's folder.
    const std::string open = leaveDeadRun(out, "csv", file);
    ::chmod((out / open).c_str(), 0755);

    folder.removeAbandonedItems();
    std::vector<std::string> expected = {".lumatra-file.mp3",
                                         ".lumatra-x",
                                         extra,
                                         nested,
                                         linked,
                                         otherName,
                                         live.path().parent_path().filename().string(),
                                         link,
                                         open};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::ScratchDir::entriesOf(out), expected);
    EXPECT_EQ(test::readFile(out / extra / "notes.txt"), "mine");
    EXPECT_EQ(test::readFile(out / nested / (nested + ".png") / "inner" / "photo.jpg"), "mine");
    EXPECT_EQ(test::readFile(live.path()), "growing");
    EXPECT_EQ(test::ScratchDir::entriesOf(dir / "elsewhere" / away).size(), 2u);
    EXPECT_EQ(test::readFile(out / ".lumatra-x" / ".lumatra-x.json"), "mine");
}

} // namespace
} // namespace lumatra
