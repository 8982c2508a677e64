// How a batch is shown, with the real engine: the count in the title and the strip,
// the summary, the end's sound, a failure and its retry, the window woken on the
// progress clock rather than for each job, and the last outcome at once.

#include "store_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

// Counts the queued calls that wake the main thread for an object.
class Wakeups : public QObject {
public:
    explicit Wakeups(QObject& target) { target.installEventFilter(this); }
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MetaCall) ++count;
        return false;
    }
};

TEST(BatchStatus, ABatchIsCountedTitledSummedUpAndItsFailuresRetried) {
    ScratchDir dir;
    std::vector<fs::path> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(dir / ("t" + std::to_string(i) + ".json"));
        writeFile(files.back(), i == 1 ? "{" : R"([{"n": 1}])");
    }
    files.push_back(dir / "dropped.json");
    writeFile(files.back(), "{}");
    auto store = freshStore();
    store->add(files);
    QStringList titles;
    QObject::connect(store.get(), &Store::windowTitleChanged,
                     [&] { titles.append(store->windowTitle()); });
    QSignalSpy sounds(store.get(), &Store::batchFinished);
    Wakeups wakeups(store->runner());
    QSignalSpy totals(store.get(), &Store::countsChanged);
    QElapsedTimer clock;
    clock.start();

    store->convertAll();
    store->remove(store->jobs()->at(40)); // a queued job leaves the queue with its row
    titles.clear();
    EXPECT_EQ(store->windowTitle(), QStringLiteral("0 из 40 — Lumatra"));
    EXPECT_EQ(store->batchText(), QStringLiteral("Конвертирую 0 из 40"));
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    // Forty starts and forty outcomes: one wake-up and one change of the totals each
    // would be eighty; on the clock they come a few at a time.
    const double ticks = clock.elapsed() / 250.0;
    EXPECT_LE(wakeups.count, ticks + 8) << clock.elapsed() << " ms";
    EXPECT_LE(totals.count(), ticks + 4) << clock.elapsed() << " ms";
    // Counted up while it ran (quick jobs that end together are counted together).
    for (const QString& title : titles.mid(0, titles.size() - 1))
        EXPECT_TRUE(title.endsWith(QStringLiteral(" из 40 — Lumatra"))) << title.toStdString();
    EXPECT_EQ(store->batchText(), QString());
    EXPECT_EQ(store->summary(), QStringLiteral("Готово 39 · 1 ошибка"));
    EXPECT_EQ(store->windowTitle(), QStringLiteral("Готово 39, 1 ошибка — Lumatra"));
    ASSERT_EQ(sounds.count(), 1);
    EXPECT_EQ(sounds.at(0).at(0).toString(), QStringLiteral("Basso"));
    Job* broken = store->jobs()->at(1);
    EXPECT_EQ(broken->status(), Job::Status::Failed);
    EXPECT_FALSE(broken->message().isEmpty());
    EXPECT_FALSE(fs::exists(dir / "t1.csv"));
    EXPECT_FALSE(fs::exists(dir / "dropped.csv"));
    EXPECT_FALSE(hasScratchItems(dir.path()));

    // Only the failed job is left: the main button is there for it, and tries it again.
    EXPECT_EQ(store->readyCount(), 0);
    EXPECT_TRUE(store->canConvert());
    writeFile(dir / "t1.json", R"([{"n": 3}])");
    store->convertAll();
    EXPECT_EQ(store->summary(), QString());
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(store->summary(), QStringLiteral("Готово 1"));
    EXPECT_EQ(store->windowTitle(), QStringLiteral("Готово 1 — Lumatra"));
    EXPECT_EQ(sounds.at(1).at(0).toString(), QStringLiteral("Glass"));
    EXPECT_FALSE(store->canConvert());

    // The summary stays until the user's next change of the list.
    store->clearFinished();
    EXPECT_EQ(store->windowTitle(), QStringLiteral("Lumatra"));

    // Nothing to do: the runner still starts and ends at once, with Glass.
    store->convertAll();
    EXPECT_TRUE(store->isBusy());
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    ASSERT_EQ(sounds.count(), 3);
    EXPECT_EQ(sounds.at(2).at(0).toString(), QStringLiteral("Glass"));
    EXPECT_EQ(store->badge(), 0);
}

TEST(BatchStatus, TheLastOutcomeOfABatchIsShownAtOnce) {
    // A short song starts, and the progress clock with it, and ends before the clock's
    // first tick: its row turns done when its file appears, not at that tick.
    ScratchDir dir;
    makeTone(dir / "short.wav", 0.2);
    auto store = freshStore();
    store->add(files(dir.path(), {"short.wav"}));
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir / "short.mp3"); }));
    QElapsedTimer sinceOutput;
    sinceOutput.start();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(statuses(*store), std::vector<Job::Status>{Job::Status::Done});
    EXPECT_LT(sinceOutput.elapsed(), 40);
}

} // namespace
} // namespace lumatra
