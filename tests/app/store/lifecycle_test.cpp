// Quitting: an idle queue quits without a question; a running one asks, and "Выйти"
// ends the program only once every conversion's program is gone and its unfinished
// output removed.

#include "store/lifecycle.h"
#include "store_fixture.h"

#include <QSignalSpy>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

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
