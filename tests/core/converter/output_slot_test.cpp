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

mode_t modeOf(const std::filesystem::path& path) {
    struct stat info {};
    ::lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

TEST(OutputSlot, AnchoredWritesSurviveTheFolderBeingSwappedForALink) {
    test::ScratchDir dir;
    std::filesystem::create_directories(dir / "out");
    std::filesystem::create_directories(dir / "victim");
    const OutputFolder folder(dir / "out");
    std::filesystem::path moved;
    {
        const OutputSlot slot(folder, "mp3");
        const auto hidden = slot.path().parent_path();
        EXPECT_EQ(hidden.parent_path(), dir / "out");
        EXPECT_TRUE(hidden.filename().string().starts_with(".lumatra-"));
        EXPECT_EQ(modeOf(hidden), 0700u);
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
    EXPECT_EQ(test::readFile(dir / "out" / "song.mp3"), "result");
    EXPECT_TRUE(std::filesystem::is_empty(dir / "victim"));
    EXPECT_TRUE(std::filesystem::is_empty(moved)); // emptied, not ours to remove any more
}

TEST(OutputSlot, MovesNeverReplaceAndEverythingElseGoes) {
    test::ScratchDir dir;
    const OutputFolder folder(dir.path());
    test::writeFile(dir / "taken.png", "old");
    {
        const OutputSlot slot(folder, "png");
        // A folder of pages left by a run that did not get to its end.
        std::filesystem::create_directories(slot.path());
        test::writeFile(slot.path() / "1.png", "page");
        test::writeFile(slot.path() / "2.png", "page");
        EXPECT_TRUE(slot.holdsFolder());
        EXPECT_FALSE(slot.moveTo("taken.png"));
        EXPECT_EQ(test::readFile(dir / "taken.png"), "old");
    }
    EXPECT_THAT(dir.entries(), ElementsAre("taken.png"));
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

// Sets what a new private folder meets at its stages, for the object's lifetime.
class ScopedSeam {
public:
    explicit ScopedSeam(OutputSlot::Seam seam) { OutputSlot::setSeam(std::move(seam)); }
    ~ScopedSeam() { OutputSlot::setSeam({}); }
    ScopedSeam(const ScopedSeam&) = delete;
    ScopedSeam& operator=(const ScopedSeam&) = delete;
};

TEST(OutputSlot, AFolderExchangedForTheNewOneIsLeftAsItWas) {
    if (::geteuid() != 0) GTEST_SKIP() << "acting as a second user needs root";
    test::ScratchDir dir;
    std::filesystem::permissions(dir.path(), std::filesystem::perms(0755));
    const auto out = dir / "out";
    std::filesystem::create_directory(out);
    std::filesystem::permissions(out, std::filesystem::perms(0777));
    // Folders of ours, each unlike a new one in one respect only.
    struct Case {
        const char* name;
        mode_t mode;
        std::vector<std::string> files;
        bool subfolder = false;
    };
    // The last one is made before the output folder last changes.
    const Case cases[] = {
        {"photos", 0755, {"a.jpg", "b.jpg"}}, {"private", 0700, {}}, {"full", 0701, {"notes.txt"}},
        {"nested", 0701, {}, true},           {"old", 0701, {}},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(::mkdir((out / c.name).c_str(), c.mode), 0);
        for (const auto& file : c.files)
            test::writeFile(out / c.name / file, std::string("mine: ") + file);
        if (c.subfolder) std::filesystem::create_directory(out / c.name / "inner");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    test::writeFile(out / "later.txt", "x");
    const OutputFolder folder(out);
    for (const Case& c : cases) {
        const std::string victim = (out / c.name).string();
        struct stat before {};
        ASSERT_EQ(::stat(victim.c_str(), &before), 0);
        std::string exchanged;
        {
            const ScopedSeam seam([&](OutputSlot::Stage stage, const std::string& name) {
                if (stage != OutputSlot::Stage::created || !exchanged.empty()) return;
                exchanged = name;
                const auto fresh = out / name;
                ASSERT_TRUE(asNobody([&] {
                    return ::renameat2(AT_FDCWD, fresh.c_str(), AT_FDCWD, victim.c_str(),
                                       RENAME_EXCHANGE) == 0;
                })) << c.name;
            });
            const OutputSlot slot(folder, "json");
            EXPECT_NE(slot.path().parent_path().filename(), exchanged) << c.name;
            test::writeFile(slot.anchoredPath(), "result");
            EXPECT_TRUE(slot.moveTo(std::string(c.name) + ".json"));
        }
        // Our folder, now under the new name: as it was, and nothing of the run in it.
        const auto now = out / exchanged;
        struct stat after {};
        ASSERT_EQ(::stat(now.c_str(), &after), 0) << c.name;
        EXPECT_EQ(after.st_ino, before.st_ino) << c.name;
        EXPECT_EQ(after.st_mode, before.st_mode) << c.name;
        std::vector<std::string> expected = c.files;
        if (c.subfolder) expected.push_back("inner");
        EXPECT_EQ(test::ScratchDir::entriesOf(now), expected) << c.name;
        for (const auto& file : c.files)
            EXPECT_EQ(test::readFile(now / file), "mine: " + file) << c.name;
        EXPECT_EQ(test::readFile(out / (std::string(c.name) + ".json")), "result") << c.name;
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
