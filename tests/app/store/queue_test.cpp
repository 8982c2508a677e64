// The conversion queue with the real engine: real small files converted, cancelled,
// failed and retried; on a budget of one core, one at a time.

#include "store_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <signal.h>

#include <algorithm>
#include <filesystem>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

// Records the order in which jobs start converting, and the most jobs ever running
// at once.
struct RunLog {
    std::vector<std::string> started;
    long mostRunning = 0;

    explicit RunLog(Store& store) {
        QObject::connect(store.jobs(), &JobListModel::jobChanged, [this, &store](Job* job) {
            if (job->status() != Job::Status::Running) return;
            started.push_back(job->path().filename().string());
            const auto now = statuses(store);
            mostRunning =
                std::max(mostRunning, std::count(now.begin(), now.end(), Job::Status::Running));
        });
    }
};

bool hasScratchItems(const fs::path& folder) {
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().filename().string().starts_with(".lumatra-")) return true;
    return false;
}

// A clip with sound that takes libx265 a good second to encode, long enough to be
// stopped midway.
void makeSlowClip(const fs::path& path) {
    makeMedia(path, {"-f", "lavfi", "-i", "testsrc=size=320x240:rate=25:duration=12", "-f", "lavfi",
                     "-i", "sine=duration=12", "-c:v", "mpeg4", "-q:v", "5", "-shortest"});
}

TEST(StoreQueue, ConvertsInListOrderOneAtATimeAndEndsWithGlass) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeTone(dir / "b.wav");
    makeTone(dir / "c.wav");
    writeFile(dir / "d.json", R"([{"name": "Ада", "n": 1}])");
    auto store = freshStore();
    store->runner().setBudget(1);
    store->add(std::vector<fs::path>{dir / "a.wav", dir / "b.wav", dir / "c.wav", dir / "d.json"});
    RunLog log(*store);
    QSignalSpy finished(store.get(), &Store::batchFinished);
    std::vector<int> badges;
    QObject::connect(store.get(), &Store::badgeChanged, [&] { badges.push_back(store->badge()); });

    Job* a = store->jobs()->at(0);
    Job* b = store->jobs()->at(1);
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

    EXPECT_EQ(log.started, (std::vector<std::string>{"c.wav", "a.wav", "d.json"}));
    EXPECT_EQ(log.mostRunning, 1);
    EXPECT_EQ(statuses(*store), (std::vector<Job::Status>{Job::Status::Done, Job::Status::Ready,
                                                          Job::Status::Done, Job::Status::Done}));
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toString(), QStringLiteral("Glass"));
    EXPECT_EQ(store->badge(), 0);
    EXPECT_EQ(badges.back(), 0);
    EXPECT_EQ(badges.front(), 1);
    EXPECT_EQ(b->status(), Job::Status::Ready);

    // Results are where the engine put them and what the rows say.
    ASSERT_TRUE(c->result().has_value());
    EXPECT_EQ(c->result()->output, dir / "c.mp3");
    EXPECT_TRUE(fs::exists(dir / "c.mp3"));
    EXPECT_EQ(d->result()->output, dir / "d.csv");
    EXPECT_TRUE(d->statusText().startsWith(QStringLiteral("d.csv · ")));
    EXPECT_FALSE(hasScratchItems(dir.path()));

    // A retry converts a done job again, into a fresh name.
    store->convert(c);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(c->result()->output, dir / "c 2.mp3");
}

TEST(StoreQueue, AFailureIsRecordedAndTheBatchGoesOnToBasso) {
    ScratchDir dir;
    writeFile(dir / "broken.json", "{\"a\": ");
    makeTone(dir / "tone.wav");
    writeFile(dir / "dropped.json", "{}");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "broken.json", dir / "tone.wav", dir / "dropped.json"});
    QSignalSpy finished(store.get(), &Store::batchFinished);

    store->convertAll();
    store->remove(store->jobs()->at(2)); // a queued job leaves the queue with its row
    EXPECT_EQ(store->jobs()->count(), 2);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    Job* broken = store->jobs()->at(0);
    EXPECT_EQ(broken->status(), Job::Status::Failed);
    EXPECT_FALSE(broken->message().isEmpty());
    EXPECT_EQ(broken->statusText(), firstLine(broken->message()));
    EXPECT_EQ(store->jobs()->at(1)->status(), Job::Status::Done);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toString(), QStringLiteral("Basso"));
    EXPECT_FALSE(fs::exists(dir / "broken.csv"));
    EXPECT_FALSE(fs::exists(dir / "dropped.csv"));
    EXPECT_FALSE(hasScratchItems(dir.path()));

    // A retry of the failed job runs it again.
    store->convert(broken);
    EXPECT_EQ(broken->status(), Job::Status::Queued);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(broken->status(), Job::Status::Failed);
    EXPECT_EQ(finished.at(1).at(0).toString(), QStringLiteral("Basso"));

    // Nothing to do: the runner still starts and ends at once, with Glass. (With only
    // failed jobs left the button would try them again.)
    store->remove(broken);
    store->convertAll();
    EXPECT_TRUE(store->isBusy());
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    ASSERT_EQ(finished.count(), 3);
    EXPECT_EQ(finished.at(2).at(0).toString(), QStringLiteral("Glass"));
    EXPECT_EQ(store->badge(), 0);
}

TEST(StoreQueue, CancellingTheRunningJobStopsItAndTheQueueGoesOn) {
    ScratchDir dir;
    makeSlowClip(dir / "slow.mkv");
    makeTone(dir / "a.wav");
    makeTone(dir / "b.wav");
    auto store = freshStore();
    store->runner().setBudget(1);
    store->add(std::vector<fs::path>{dir / "slow.mkv", dir / "a.wav", dir / "b.wav"});
    Job* slow = store->jobs()->at(0);
    Job* a = store->jobs()->at(1);
    Job* b = store->jobs()->at(2);
    slow->setTarget(Format::hevc);
    QSignalSpy finished(store.get(), &Store::batchFinished);

    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return slow->status() == Job::Status::Running; }));
    store->remove(slow); // the running job cannot be removed
    EXPECT_EQ(store->jobs()->rowOf(slow), 0);
    store->cancel(a); // queued: back to ready, not cancelled
    EXPECT_EQ(a->status(), Job::Status::Ready);
    store->cancel(slow);
    EXPECT_EQ(slow->status(), Job::Status::Running); // until the conversion has stopped

    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(slow->status(), Job::Status::Cancelled);
    EXPECT_EQ(slow->statusText(), QStringLiteral("Отменено"));
    EXPECT_EQ(a->status(), Job::Status::Ready);
    EXPECT_EQ(b->status(), Job::Status::Done);
    ASSERT_EQ(finished.count(), 1);
    EXPECT_EQ(finished.at(0).at(0).toString(), QStringLiteral("Glass"));
    EXPECT_FALSE(fs::exists(dir / "slow.mp4"));
    EXPECT_FALSE(hasScratchItems(dir.path()));

    // A cancelled job can be sent again, and taken out of the queue again.
    store->convert(slow);
    EXPECT_EQ(slow->status(), Job::Status::Queued);
    store->cancel(slow);
    EXPECT_EQ(slow->status(), Job::Status::Ready);
    store->remove(slow);
    ASSERT_EQ(store->jobs()->count(), 2);

    // cancelAll: the running job is stopped, the queued ones go back to ready.
    store->convertAll(); // a, the only ready job
    store->convert(b);   // a retry, queued behind it
    ASSERT_TRUE(waitFor([&] { return a->status() == Job::Status::Running; }));
    store->cancelAll();
    EXPECT_EQ(b->status(), Job::Status::Ready);
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_TRUE(a->status() == Job::Status::Cancelled || a->status() == Job::Status::Done);
}

TEST(StoreQueue, TheQualityWaitsForTheNextBatchTheFolderForTheNextJob) {
    ScratchDir dir;
    makeSlowClip(dir / "first.mkv");
    makeTone(dir / "second.wav", 2);
    auto store = freshStore();
    store->setOutputDirectory(dir / "one");
    store->setQuality(Quality::best);
    store->add(std::vector<fs::path>{dir / "first.mkv", dir / "second.wav"});
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

TEST(StoreQueue, ProgressOfAnEndedConversionIsIgnored) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeSlowClip(dir / "b.mkv");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "a.wav", dir / "b.mkv"});
    Job* a = store->jobs()->at(0);
    Job* b = store->jobs()->at(1);
    b->setTarget(Format::hevc);
    std::vector<double> fractions;
    QObject::connect(a, &Job::statusChanged, [&] {
        if (a->status() == Job::Status::Running) fractions.push_back(a->progress());
    });

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
}

TEST(StoreQueue, ProgressReachesTheRowAtMostFourTimesASecondAndNotTheList) {
    ScratchDir dir;
    // Long enough that ffmpeg, which reports twice a second, reports a few times even on
    // a quiet machine that encodes it within seconds.
    makeTone(dir / "long.wav", 480);
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "long.wav"});
    Job* job = store->jobs()->at(0);
    int progressUpdates = 0;
    QObject::connect(job, &Job::statusChanged, [&] {
        if (job->status() == Job::Status::Running && job->progress() > 0) ++progressUpdates;
    });
    QSignalSpy rows(store->jobs(), &QAbstractItemModel::dataChanged);
    QElapsedTimer clock;
    clock.start();
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    const double seconds = clock.elapsed() / 1000.0;
    ASSERT_EQ(job->status(), Job::Status::Done);
    EXPECT_GT(progressUpdates, 0);
    EXPECT_LE(progressUpdates, 4 * seconds + 2) << seconds << " s";
    // The list hears of the job's steps (queued, running, done), not of its progress.
    EXPECT_EQ(rows.count(), 3);
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

TEST(StoreQueue, ABatchOfQuickJobsWakesTheWindowOnTheClockNotForEachJob) {
    ScratchDir dir;
    std::vector<fs::path> files;
    for (int i = 0; i < 40; ++i) {
        files.push_back(dir / ("t" + std::to_string(i) + ".json"));
        writeFile(files.back(), R"([{"name": "Ада", "n": 1}])");
    }
    auto store = freshStore();
    store->add(files);
    Wakeups wakeups(store->runner());
    QSignalSpy totals(store.get(), &Store::countsChanged);
    QElapsedTimer clock;
    clock.start();
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    const double ticks = clock.elapsed() / 250.0;
    EXPECT_EQ(statuses(*store), std::vector<Job::Status>(40, Job::Status::Done));
    // Forty starts and forty outcomes: one wake-up and one change of the totals each
    // would be eighty; on the clock they come a few at a time.
    EXPECT_LE(wakeups.count, ticks + 8) << clock.elapsed() << " ms";
    EXPECT_LE(totals.count(), ticks + 4) << clock.elapsed() << " ms";
}

TEST(StoreQueue, TheLastOutcomeOfABatchIsShownAtOnce) {
    // A short song starts, and the progress clock with it, and ends before the clock's
    // first tick: its row turns done when its file appears, not at that tick.
    ScratchDir dir;
    makeTone(dir / "short.wav", 0.2);
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "short.wav"});
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return fs::exists(dir / "short.mp3"); }));
    QElapsedTimer sinceOutput;
    sinceOutput.start();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(statuses(*store), std::vector<Job::Status>{Job::Status::Done});
    EXPECT_LT(sinceOutput.elapsed(), 40);
}

// A session of the test's own, with the text converter of this build on the path.
class TextEngineSession {
public:
    TextEngineSession() { fs::permissions(m_runtime.path(), fs::perms::owner_all); }
    ~TextEngineSession() {
        for (int slot = 0; slot < 4; ++slot)
            if (test::processRuns(engine(slot))) ::kill(engine(slot), SIGTERM);
    }

    // The process of slot `slot`'s engine as its lock file names it, or -1.
    pid_t engine(int slot) const {
        std::error_code error;
        const auto lock = m_runtime / "lumatra" / ("textutil-" + std::to_string(slot) + ".lock");
        if (!fs::exists(lock, error)) return -1;
        const std::string text = readFile(lock);
        return text.empty() ? -1 : static_cast<pid_t>(std::stol(text));
    }

private:
    ScratchDir m_runtime;
    const std::string m_path =
        fs::path(LUMATRA_BINARY).parent_path().string() + ":" + std::getenv("PATH");
    test::ScopedVariable m_pathVariable{"PATH", m_path.c_str()};
    test::ScopedVariable m_runtimeVariable{"XDG_RUNTIME_DIR", m_runtime.path().c_str()};
};

TEST(StoreQueue, TheTextEngineOfTheWindowEndsWhenTheWindowQuits) {
    const TextEngineSession session;
    ScratchDir dir;
    writeFile(dir / "note.txt", "Заметка.\n");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "note.txt"});
    store->jobs()->at(0)->setTarget(Format::docx);
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(store->jobs()->at(0)->status(), Job::Status::Done)
        << store->jobs()->at(0)->message().toStdString();
    const pid_t pid = session.engine(0);
    ASSERT_TRUE(test::processRuns(pid));

    QElapsedTimer clock;
    clock.start();
    store->releaseTextEngine();
    EXPECT_TRUE(waitFor([&] { return !test::processRuns(pid); }, 2000));
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST(StoreQueue, MediaAddedToTheWindowHasItsLibrariesLoadedBeforeTheBatch) {
    const auto mapped = [] {
        return readFile("/proc/self/maps").find("liblumatra-media.so") != std::string::npos;
    };
    if (mapped()) GTEST_SKIP() << "this build links the media libraries in from the start";
    ScratchDir dir;
    makeTone(dir / "song.wav", 1);
    auto plain = freshStore();
    plain->add(std::vector<fs::path>{dir / "song.wav"});
    QTest::qWait(300);
    ASSERT_FALSE(mapped()) << "an earlier step loaded the media libraries";
    auto store = freshStore();
    store->setPreparesConversions(true);
    store->add(std::vector<fs::path>{dir / "song.wav"});
    EXPECT_TRUE(waitFor(mapped, 5000));
}

TEST(StoreQueue, DocumentsAddedToTheWindowFindTheirEnginesLoaded) {
    const TextEngineSession session;
    ScratchDir dir;
    writeFile(dir / "a.txt", "Первая.\n");
    writeFile(dir / "b.md", "# Вторая\n");
    writeFile(dir / "c.wav", "");
    // Only a store that prepares them starts engines, and only for documents it has.
    auto plain = freshStore();
    plain->add(std::vector<fs::path>{dir / "a.txt"});
    auto store = freshStore();
    store->setPreparesConversions(true);
    store->add(std::vector<fs::path>{dir / "c.wav"});
    QTest::qWait(500);
    EXPECT_EQ(session.engine(0), -1);

    // Two documents: an engine each, as far as the machine has cores, before any
    // conversion starts.
    store->add(std::vector<fs::path>{dir / "a.txt", dir / "b.md"});
    const int wanted = std::min(2, QueueRunner::machineBudget());
    ASSERT_TRUE(waitFor(
        [&] {
            for (int slot = 0; slot < wanted; ++slot)
                if (!test::processRuns(session.engine(slot))) return false;
            return true;
        },
        10000));
    EXPECT_EQ(session.engine(wanted), -1);
    const pid_t first = session.engine(0);

    // The conversions use them, and they end with the window.
    store->convertAll();
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }, 30000));
    for (int row = 0; row < 3; ++row) {
        if (store->jobs()->at(row)->kind() == Kind::document) {
            EXPECT_EQ(store->jobs()->at(row)->status(), Job::Status::Done)
                << store->jobs()->at(row)->message().toStdString();
        }
    }
    EXPECT_EQ(session.engine(0), first);
    store->releaseTextEngine();
    EXPECT_TRUE(waitFor([&] { return !test::processRuns(first); }, 2000));
}

TEST(StoreQueue, ClosingTheStoreStopsItsConversionAndLeavesNothingBehind) {
    ScratchDir dir;
    makeSlowClip(dir / "slow.mkv");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "slow.mkv"});
    store->jobs()->at(0)->setTarget(Format::hevc);
    store->convertAll();
    ASSERT_TRUE(waitFor([&] {
        return store->pendingCount() == 1 && store->jobs()->at(0)->status() == Job::Status::Running;
    }));
    store.reset();
    EXPECT_FALSE(hasScratchItems(dir.path()));
    EXPECT_FALSE(fs::exists(dir / "slow.mp4"));
}

TEST(StoreQueue, ABatchIsCountedTitledSummedUpAndItsFailuresRetried) {
    ScratchDir dir;
    writeFile(dir / "a.json", R"([{"n": 1}])");
    writeFile(dir / "b.json", "{");
    writeFile(dir / "c.json", R"([{"n": 2}])");
    auto store = freshStore();
    store->runner().setBudget(1);
    store->add(std::vector<fs::path>{dir / "a.json", dir / "b.json", dir / "c.json"});
    QStringList titles;
    QObject::connect(store.get(), &Store::windowTitleChanged,
                     [&] { titles.append(store->windowTitle()); });

    store->convertAll();
    EXPECT_EQ(store->windowTitle(), QStringLiteral("0 из 3 — Lumatra"));
    EXPECT_EQ(store->batchText(), QStringLiteral("Конвертирую 0 из 3"));
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    // Counted up while it ran (quick jobs that end together are counted together).
    for (const QString& title : titles.mid(0, titles.size() - 1))
        EXPECT_TRUE(title.endsWith(QStringLiteral(" из 3 — Lumatra"))) << title.toStdString();
    EXPECT_EQ(store->batchText(), QString());
    EXPECT_EQ(store->summary(), QStringLiteral("Готово 2 · 1 ошибка"));
    EXPECT_EQ(store->windowTitle(), QStringLiteral("Готово 2, 1 ошибка — Lumatra"));

    // Only the failed job is left: the main button is there for it, and tries it again.
    EXPECT_EQ(store->readyCount(), 0);
    EXPECT_TRUE(store->canConvert());
    writeFile(dir / "b.json", R"([{"n": 3}])");
    store->convertAll();
    EXPECT_EQ(store->summary(), QString());
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
    EXPECT_EQ(store->summary(), QStringLiteral("Готово 1"));
    EXPECT_EQ(store->windowTitle(), QStringLiteral("Готово 1 — Lumatra"));
    EXPECT_FALSE(store->canConvert());

    // The summary stays until the user's next change of the list.
    store->clearFinished();
    EXPECT_EQ(store->windowTitle(), QStringLiteral("Lumatra"));
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
    store->add(std::vector<fs::path>{dir / "a.json", dir / "b.json"});
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

} // namespace
} // namespace lumatra
