// Quitting: an idle queue quits without a question; a running one asks, and "Выйти"
// ends the program only once the conversion's program is gone and its unfinished
// output removed, while "Остаться" leaves the queue converting.

#include "store/lifecycle.h"
#include "store_fixture.h"

#include <unistd.h>

#include <QSignalSpy>

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

bool hasScratchItems(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".lumatra-")) return true;
    return false;
}

// Names of the programs this process started that are still there (zombies included).
std::vector<std::string> childPrograms() {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string pid, name, state;
        long parent = 0;
        if (!(stat >> pid >> name >> state >> parent)) continue;
        if (parent == ::getpid()) names.push_back(name);
    }
    return names;
}

// A clip that takes libx265 several seconds, long enough to quit midway.
void makeSlowClip(const fs::path& path) {
    makeMedia(path, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=20", "-f", "lavfi",
                     "-i", "sine=duration=20", "-c:v", "mpeg4", "-q:v", "5", "-shortest"});
}

struct QuitProbe {
    int quits = 0;
    std::vector<std::string> childrenAtQuit;
    bool scratchAtQuit = true;
};

TEST(Lifecycle, AnIdleQueueQuitsAtOnceWithoutAsking) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "a.wav"});
    Lifecycle lifecycle(*store);
    int quits = 0;
    lifecycle.setQuitAction([&] { ++quits; });
    QSignalSpy asked(&lifecycle, &Lifecycle::confirmationNeeded);

    EXPECT_TRUE(lifecycle.requestQuit());
    EXPECT_EQ(quits, 1);
    EXPECT_EQ(asked.count(), 0);
    // Quitting closes the window, which asks again: it may close, and nothing is asked.
    EXPECT_TRUE(lifecycle.requestQuit());
    EXPECT_EQ(asked.count(), 0);
    EXPECT_EQ(store->jobs()->at(0)->status(), Job::Status::Ready);
}

TEST(Lifecycle, LeavingDuringAConversionStopsItCompletelyBeforeTheProgramEnds) {
    ScratchDir dir;
    makeSlowClip(dir / "slow.mkv");
    makeTone(dir / "a.wav");
    makeTone(dir / "done.wav");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "done.wav"});
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    store->add(std::vector<fs::path>{dir / "slow.mkv", dir / "a.wav"});
    Job* done = store->jobs()->at(0);
    Job* slow = store->jobs()->at(1);
    Job* waiting = store->jobs()->at(2);
    slow->setTarget(Format::hevc);

    Lifecycle lifecycle(*store);
    QuitProbe probe;
    lifecycle.setQuitAction([&] {
        ++probe.quits;
        probe.childrenAtQuit = childPrograms();
        probe.scratchAtQuit = hasScratchItems(dir.path());
    });
    QSignalSpy asked(&lifecycle, &Lifecycle::confirmationNeeded);
    QSignalSpy sounds(store.get(), &Store::batchFinished);

    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return slow->status() == Job::Status::Running; }));
    ASSERT_TRUE(waitFor([&] { return hasScratchItems(dir.path()); }));
    // The encoder starts once the probe has ended: wait for it, not just for any child.
    ASSERT_TRUE(waitFor([&] {
        const auto children = childPrograms();
        return std::find(children.begin(), children.end(), "(ffmpeg)") != children.end();
    }));

    EXPECT_FALSE(lifecycle.requestQuit());
    EXPECT_EQ(asked.count(), 1);
    EXPECT_EQ(probe.quits, 0);

    // "Выйти"
    lifecycle.quitAfterStopping();
    EXPECT_TRUE(lifecycle.isQuitting());
    EXPECT_EQ(waiting->status(), Job::Status::Ready);
    EXPECT_EQ(done->status(), Job::Status::Done);
    ASSERT_TRUE(waitFor([&] { return probe.quits > 0; }, 10000));
    EXPECT_EQ(probe.quits, 1);
    EXPECT_TRUE(probe.childrenAtQuit.empty()) << probe.childrenAtQuit.front();
    EXPECT_FALSE(probe.scratchAtQuit);
    EXPECT_FALSE(fs::exists(dir / "slow.mp4"));

    // The stopped batch ends quietly; the running job is recorded as cancelled.
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(slow->status(), Job::Status::Cancelled);
    EXPECT_EQ(waiting->status(), Job::Status::Ready);
    EXPECT_EQ(sounds.count(), 0);
}

TEST(Lifecycle, StayingKeepsTheQueueConverting) {
    ScratchDir dir;
    makeClip(dir / "clip.mkv", 3, true);
    makeTone(dir / "a.wav");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "clip.mkv", dir / "a.wav"});
    Job* clip = store->jobs()->at(0);
    Job* tone = store->jobs()->at(1);
    Lifecycle lifecycle(*store);
    int quits = 0;
    lifecycle.setQuitAction([&] { ++quits; });
    QSignalSpy asked(&lifecycle, &Lifecycle::confirmationNeeded);

    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return clip->status() == Job::Status::Running; }));
    EXPECT_FALSE(lifecycle.requestQuit());
    EXPECT_EQ(asked.count(), 1);
    // "Остаться" does nothing: the conversions go on to their end.
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(clip->status(), Job::Status::Done);
    EXPECT_EQ(tone->status(), Job::Status::Done);
    EXPECT_EQ(quits, 0);
    EXPECT_FALSE(lifecycle.isQuitting());
    // Now idle, quitting asks nothing.
    EXPECT_TRUE(lifecycle.requestQuit());
    EXPECT_EQ(asked.count(), 1);
}

} // namespace
} // namespace lumatra
