// The conversion queue with the real engine: real small files converted, cancelled,
// failed and retried, on a budget of one core one at a time; and how a batch is shown:
// the count in the title and the strip, the summary, the end's sound, the window woken
// on the progress clock rather than for each job, and the last outcome at once.

#include "store_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(StoreQueue, ConvertsInListOrderOneAtATimeAndEndsWithGlass) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeTone(dir / "b.wav");
    makeTone(dir / "c.wav");
    writeFile(dir / "d.json", R"([{"name": "Ада", "n": 1}])");
    auto store = freshStore();
    store->runner().setBudget(1);
    store->add(files(dir.path(), {"a.wav", "b.wav", "c.wav", "d.json"}));
    StartLog log(*store);
    QSignalSpy finished(store.get(), &Store::batchFinished);
    std::vector<int> badges;
    QObject::connect(store.get(), &Store::badgeChanged, [&] { badges.push_back(store->badge()); });

    Job* a = store->jobs()->at(0);
    Job* c = store->jobs()->at(2);
    Job* d = store->jobs()->at(3);
    store->convert(c);
    EXPECT_TRUE(store->isBusy());
    EXPECT_EQ(c->status(), Job::Status::Queued);
    ASSERT_TRUE(waitFor([&] { return c->status() == Job::Status::Running; }));

    // Queued while c converts: taken in list order after it, in the same batch.
    store->convert(d);
    store->convert(a);
    store->convert(c); // running: left alone
    EXPECT_EQ(store->badge(), 3);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));

    // In that order, one at a time.
    EXPECT_EQ(log.starts, (decltype(log.starts){
                              {"c.wav", {"c.wav"}}, {"a.wav", {"a.wav"}}, {"d.json", {"d.json"}}}));
    EXPECT_EQ(statuses(*store), (std::vector<Job::Status>{Job::Status::Done, Job::Status::Ready,
                                                          Job::Status::Done, Job::Status::Done}));
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toString(), QStringLiteral("Glass"));
    EXPECT_EQ(badges.back(), 0);
    EXPECT_EQ(badges.front(), 1);

    // Results are where the engine put them and what the rows say.
    EXPECT_EQ(d->result()->output, dir / "d.csv");
    EXPECT_TRUE(d->statusText().startsWith(QStringLiteral("d.csv · ")));
    EXPECT_FALSE(hasScratchItems(dir.path()));
}

TEST(StoreQueue, TheQualityWaitsForTheNextBatchTheFolderForTheNextJob) {
    ScratchDir dir;
    makeSlowClip(dir / "first.mkv");
    makeTone(dir / "second.wav", 2);
    auto store = freshStore();
    store->setOutputDirectory(dir / "one");
    store->setQuality(Quality::best);
    store->add(files(dir.path(), {"first.mkv", "second.wav"}));
    store->jobs()->at(0)->setTarget(Format::mp3);

    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return store->jobs()->at(0)->status() == Job::Status::Running; }));
    EXPECT_EQ(store->qualityNote(), QString());
    store->setOutputDirectory(dir / "two");
    store->setQuality(Quality::small);
    // The whole batch converts at the quality shown when it started, and says so.
    EXPECT_EQ(store->qualityNote(), QStringLiteral("«Компактно» — со следующего запуска"));
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(store->qualityNote(), QString());

    ASSERT_EQ(statuses(*store), (std::vector<Job::Status>{Job::Status::Done, Job::Status::Done}));
    EXPECT_EQ(store->jobs()->at(0)->result()->output, dir / "one" / "first.mp3");
    EXPECT_EQ(store->jobs()->at(1)->result()->output, dir / "two" / "second.mp3");
    EXPECT_EQ(probeField(dir / "one" / "first.mp3", "a", "bit_rate"), "320000");
    EXPECT_EQ(probeField(dir / "two" / "second.mp3", "a", "bit_rate"), "320000");

    // The next batch takes the new quality.
    store->convert(store->jobs()->at(1));
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(probeField(dir / "two" / "second 2.mp3", "a", "bit_rate"), "128000");
}

TEST(StoreQueue, ProgressOfAnEndedConversionIsIgnoredAndClosingStopsTheOneRunning) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeSlowClip(dir / "b.mkv");
    auto store = freshStore();
    store->add(files(dir.path(), {"a.wav", "b.mkv"}));
    Job* a = store->jobs()->at(0);
    Job* b = store->jobs()->at(1);
    b->setTarget(Format::hevc);
    std::vector<double> fractions;
    QObject::connect(a, &Job::statusChanged, [&] {
        if (a->status() == Job::Status::Running) fractions.push_back(a->progress());
    });
    // The list hears of b's steps (queued, running, cancelled), not of its progress.
    int rowChanges = 0;
    QObject::connect(store->jobs(), &QAbstractItemModel::dataChanged,
                     [&](const QModelIndex& first) { rowChanges += first.row() == 1; });

    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return a->status() == Job::Status::Running; }));
    const auto first = store->runner().conversionOf(a);
    ASSERT_TRUE(waitFor([&] { return b->status() == Job::Status::Running; }));
    EXPECT_EQ(a->status(), Job::Status::Done);
    EXPECT_TRUE(std::is_sorted(fractions.begin(), fractions.end()));

    // A late report of the first conversion touches neither its done job nor the job
    // running now.
    const double before = b->progress();
    store->runner().applyProgress(first, 0.123);
    EXPECT_EQ(a->status(), Job::Status::Done);
    EXPECT_EQ(b->progress(), before);
    store->runner().applyProgress(store->runner().conversionOf(b), 0.5);
    EXPECT_EQ(b->progress(), 0.5);

    store->cancel(b);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    store->runner().applyProgress(first + 1, 0.7);
    EXPECT_EQ(b->status(), Job::Status::Cancelled);
    EXPECT_EQ(rowChanges, 3);

    // Closing the store stops its conversion and leaves nothing behind.
    store->convert(b);
    ASSERT_TRUE(
        waitFor([&] { return store->pendingCount() == 1 && b->status() == Job::Status::Running; }));
    store.reset();
    EXPECT_FALSE(hasScratchItems(dir.path()));
    EXPECT_FALSE(fs::exists(dir / "b.mp4"));
}

TEST(StoreQueue, AnOutputFolderThatIsGoneIsSaidOnceWithARetry) {
    ScratchDir dir;
    writeFile(dir / "a.json", R"([{"n": 1}])");
    writeFile(dir / "b.json", R"([{"n": 2}])");
    // Where the folder was, something else now lies: nothing can be written there.
    writeFile(dir / "out", "no folder");
    auto store = freshStore();
    store->runner().setBudget(1);
    store->setOutputDirectory(dir / "out");
    store->add(files(dir.path(), {"a.json", "b.json"}));
    QSignalSpy notices(store.get(), &Store::noticeChanged);
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(statuses(*store), std::vector<Job::Status>(2, Job::Status::Failed));
    EXPECT_EQ(notices.count(), 1);
    EXPECT_TRUE(store->notice().startsWith(QStringLiteral("Папки «out» больше нет")));
    EXPECT_EQ(store->noticeAction(), QStringLiteral("Повторить"));

    fs::remove(dir / "out");
    store->runNoticeAction();
    EXPECT_EQ(store->notice(), QString());
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(statuses(*store), std::vector<Job::Status>(2, Job::Status::Done));
}

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
