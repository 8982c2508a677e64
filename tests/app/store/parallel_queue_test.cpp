// The queue on more than one core, with the real engine: audio jobs converting side by
// side (seen as two encoders alive at once), a video job asking for the whole budget,
// cancelling one row. (Runs racing for one output name are the
// converter's own test.)

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
    StartLog log(*store);
    long mostEncoders = 0;
    store->convertAll();
    ASSERT_TRUE(waitFor([&] {
        mostEncoders = std::max(mostEncoders, encoders());
        return !store->isBusy();
    }));
    EXPECT_EQ(mostEncoders, 2);
    EXPECT_EQ(log.starts.at(1).second, (Names{"one.wav", "two.wav"}));
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

} // namespace
} // namespace lumatra
