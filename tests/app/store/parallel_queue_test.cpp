// The queue on more than one core, with the real engine: audio jobs converting side by
// side (seen as two encoders alive at once), a video job asking for the whole budget,
// cancelling one row, and quitting: an idle queue quits without a question; a running
// one asks, and "Выйти" ends the program only once every conversion's program is gone
// and its unfinished output removed. (Runs racing for one output name are the
// converter's own test.)

#include "store/lifecycle.h"
#include "store_fixture.h"

#include <QSignalSpy>

#include <algorithm>
#include <tuple>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(ParallelQueue, AudioJobsShareTheCoresAndAVideoJobTakesTheWholeBudget) {
    ScratchDir dir;
    for (const char* name : {"one.wav", "two.wav"})
        makeTone(dir / name, 30);
    auto store = freshStore();
    store->runner().setBudget(2);

    // Two songs: two encoders alive at the same moment.
    store->add(files(dir.path(), {"one.wav", "two.wav"}));
    long mostEncoders = 0;
    store->convertAll();
    ASSERT_TRUE(waitFor([&] {
        mostEncoders = std::max(mostEncoders, encoders());
        return !store->isBusy();
    }));
    EXPECT_EQ(mostEncoders, 2);
    EXPECT_EQ(statuses(*store), (std::vector<Job::Status>{Job::Status::Done, Job::Status::Done}));

    // A video source or target asks for the whole budget, which the pool gives it alone;
    // every other conversion takes one core.
    const std::vector<std::tuple<const char*, Format, int>> weights{
        {"/a/clip.mkv", Format::mp4, 2},
        {"/a/clip.mkv", Format::mp3, 2},
        {"/a/photo.png", Format::gif, 1},
        {"/a/song.wav", Format::flac, 1}};
    for (const auto& [name, target, weight] : weights) {
        auto job = Job::make(name);
        job->setTarget(target);
        EXPECT_EQ(store->runner().weightOf(*job), weight) << name << " " << rawValue(target);
    }
    EXPECT_FALSE(hasScratchItems(dir.path()));
}

TEST(ParallelQueue, CancellingOneRowStopsOnlyItsJob) {
    ScratchDir dir;
    makeTone(dir / "long.wav", 60);
    // Long enough that the job queued behind it is still waiting when it is cancelled.
    makeTone(dir / "short.wav", 30);
    makeTone(dir / "w1.wav");
    auto store = freshStore();
    store->runner().setBudget(2);
    QSignalSpy sounds(store.get(), &Store::batchFinished);

    // The row's cancel stops its own job; the one beside it converts to its end.
    store->add(files(dir.path(), {"long.wav", "short.wav"}));
    Job* longJob = store->jobs()->at(0);
    Job* shortJob = store->jobs()->at(1);
    store->add(files(dir.path(), {"w1.wav"}));
    Job* queued = store->jobs()->at(2);
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return store->runner().runningCount() == 2; }));
    store->remove(longJob); // a running job cannot be removed
    EXPECT_EQ(store->jobs()->rowOf(longJob), 0);
    store->cancel(queued); // queued: back to ready, not cancelled
    EXPECT_EQ(queued->status(), Job::Status::Ready);
    store->cancel(longJob);
    EXPECT_EQ(longJob->status(), Job::Status::Running); // until its conversion has stopped
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(longJob->status(), Job::Status::Cancelled);
    EXPECT_EQ(longJob->statusText(), QStringLiteral("Отменено"));
    EXPECT_EQ(shortJob->status(), Job::Status::Done);
    EXPECT_FALSE(fs::exists(dir / "long.mp3"));
    EXPECT_TRUE(fs::exists(dir / "short.mp3"));
    ASSERT_EQ(sounds.count(), 1);
    EXPECT_EQ(sounds.at(0).at(0).toString(), QStringLiteral("Glass"));

    // A cancelled job can be sent again, and taken out of the queue again; the batch that
    // lost its one job ends too. ("Остановить" for all is the quit test's.)
    store->convert(longJob);
    EXPECT_EQ(longJob->status(), Job::Status::Queued);
    store->cancel(longJob);
    EXPECT_EQ(longJob->status(), Job::Status::Ready);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(sounds.count(), 2);
    EXPECT_EQ(store->badge(), 0);
}

TEST(Lifecycle, IdleItQuitsAtOnceDuringABatchOnlyOnceEverythingStopped) {
    ScratchDir dir;
    for (const char* name : {"a.wav", "b.wav"})
        makeTone(dir / name, 60);
    makeTone(dir / "c.wav");
    makeTone(dir / "done.wav");
    auto store = freshStore();
    store->runner().setBudget(2);
    store->add(files(dir.path(), {"done.wav"}));
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    store->add(files(dir.path(), {"a.wav", "b.wav", "c.wav"}));
    {
        // Idle, it quits at once; quitting closes the window, which asks again: it may
        // close, and nothing is asked.
        Lifecycle idle(*store);
        int quits = 0;
        idle.setQuitAction([&] { ++quits; });
        QSignalSpy asked(&idle, &Lifecycle::confirmationNeeded);
        EXPECT_TRUE(idle.requestQuit());
        EXPECT_TRUE(idle.requestQuit());
        EXPECT_EQ(quits, 1);
        EXPECT_EQ(asked.count(), 0);
    }

    Lifecycle lifecycle(*store);
    std::multiset<std::string> childrenAtQuit{"none yet"};
    bool scratchAtQuit = true;
    int quits = 0;
    lifecycle.setQuitAction([&] {
        ++quits;
        childrenAtQuit = childPrograms();
        scratchAtQuit = hasScratchItems(dir.path());
    });
    QSignalSpy sounds(store.get(), &Store::batchFinished);
    QSignalSpy asked(&lifecycle, &Lifecycle::confirmationNeeded);

    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return encoders() == 2; }));
    EXPECT_FALSE(lifecycle.requestQuit()); // asks; "Остаться" would change nothing
    EXPECT_EQ(asked.count(), 1);
    EXPECT_EQ(quits, 0);
    lifecycle.quitAfterStopping(); // "Выйти", which stops as "Остановить" does
    EXPECT_TRUE(lifecycle.isQuitting());
    // The running jobs stay so until their conversions have stopped.
    EXPECT_EQ(statuses(*store),
              (std::vector<Job::Status>{Job::Status::Done, Job::Status::Running,
                                        Job::Status::Running, Job::Status::Ready}));
    ASSERT_TRUE(waitFor([&] { return quits > 0; }, 10000));
    EXPECT_EQ(quits, 1);
    EXPECT_TRUE(childrenAtQuit.empty()) << *childrenAtQuit.begin();
    EXPECT_FALSE(scratchAtQuit);

    // The stopped batch ends quietly; the running jobs are recorded as cancelled, the
    // waiting one is ready again.
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(statuses(*store),
              (std::vector<Job::Status>{Job::Status::Done, Job::Status::Cancelled,
                                        Job::Status::Cancelled, Job::Status::Ready}));
    EXPECT_EQ(sounds.count(), 0);
    EXPECT_EQ(store->badge(), 0);
    for (const char* name : {"a.mp3", "b.mp3", "c.mp3"})
        EXPECT_FALSE(fs::exists(dir / name)) << name;
}

} // namespace
} // namespace lumatra
