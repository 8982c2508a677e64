// The store's own actions (removing, finding failures, results that went, the file
// manager, a retry's fresh size) and its settings, saved for the next start.

#include "store_fixture.h"

#include "platform/file_manager.h"

#include <QSignalSpy>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(StoreActions, RemovesUnstartedFindsFailuresAndSaysWhenAResultIsGone) {
    ScratchDir dir;
    for (const char* name : {"a.json", "b.json", "c.json", "d.json", "e.json"})
        writeFile(dir / name, "{}");
    auto store = freshStore();
    store->add(files(dir.path(), {"a.json", "b.json", "c.json", "d.json", "e.json"}));
    auto& jobs = *store->jobs();
    writeFile(dir / "a.csv", "x");
    jobs.at(0)->markDone({dir / "a.csv", 1, 0.1});
    jobs.at(1)->markFailed(QStringLiteral("Нет"));
    jobs.at(3)->markFailed(QStringLiteral("Нет"));
    jobs.at(4)->markQueued();

    EXPECT_EQ(store->failedCount(), 2);
    EXPECT_EQ(store->nextFailedRow(-1), 1);
    EXPECT_EQ(store->nextFailedRow(1), 3);
    EXPECT_EQ(store->nextFailedRow(3), 1); // round again

    // A result moved away: the row says so instead of a name that leads nowhere.
    EXPECT_FALSE(jobs.at(0)->checkResult());
    fs::remove(dir / "a.csv");
    store->checkResults();
    EXPECT_TRUE(jobs.at(0)->resultMissing());
    EXPECT_EQ(jobs.at(0)->statusText(), QStringLiteral("a.csv · файла больше нет"));

    store->removeUnstarted(); // c (ready) and e (queued) go
    EXPECT_EQ(fileNames(*store), (std::vector<std::string>{"a.json", "b.json", "d.json"}));
    EXPECT_EQ(store->nextFailedRow(1), 2);
    store->clearFinished();
    EXPECT_EQ(store->nextFailedRow(-1), -1);
}

TEST(StoreActions, SaysSoWhenNoFileManagerAnswers) {
    // A desktop that names no program for folders, and no file manager on a bus.
    ScratchDir dir;
    writeFile(dir / "a.mp3", "x");
    const std::string none = (dir / "none").string();
    ScopedVariable dataDirs("XDG_DATA_DIRS", none.c_str()), dataHome("XDG_DATA_HOME", none.c_str()),
        configHome("XDG_CONFIG_HOME", none.c_str()), configDirs("XDG_CONFIG_DIRS", none.c_str()),
        desktop("XDG_CURRENT_DESKTOP", ""), de("DE", "");
    EXPECT_FALSE(FileManager::canOpenFolders());

    auto store = freshStore();
    store->reveal(urlOf(dir / "a.mp3"));
    EXPECT_TRUE(waitFor([&] { return !store->notice().isEmpty(); }, 5000));
    EXPECT_TRUE(store->notice().startsWith(QStringLiteral("Не удалось открыть файловый менеджер")));
    store->dismissNotice();
    store->openFolder(urlOf(dir.path()));
    EXPECT_TRUE(store->notice().startsWith(QStringLiteral("Не удалось открыть файловый менеджер")));
}

TEST(StoreActions, ARetryShowsTheSizeOfTheSourceAsItIsNow) {
    ScratchDir dir;
    writeFile(dir / "broken.json", "{");
    auto store = freshStore();
    store->add(files(dir.path(), {"broken.json"}));
    Job* job = store->jobs()->at(0);
    EXPECT_EQ(job->bytes(), 1);
    job->markFailed(QStringLiteral("Не удалось прочитать JSON"));
    writeFile(dir / "broken.json", "{\"a\": [1, 2, 3");
    EXPECT_EQ(job->bytes(), 1); // measured once, when it was made
    QSignalSpy sizes(job, &Job::bytesChanged);
    store->convert(job);
    EXPECT_EQ(job->bytes(), 14);
    EXPECT_EQ(sizes.count(), 1);
    EXPECT_TRUE(job->sourceText().startsWith(QStringLiteral("JSON · 14")));
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
}

TEST(ConversionSettings, SurviveARestartOfTheStore) {
    ScratchDir dir;
    {
        auto store = freshStore();
        EXPECT_EQ(store->quality(), Quality::balanced);
        EXPECT_EQ(store->outputDirectory(), std::nullopt);
        store->setQualityName(QStringLiteral("small"));
        store->setQualityName(QStringLiteral("tiny")); // ignored
        store->setOutputDirectoryUrl(urlOf(dir / "out"));
        EXPECT_EQ(store->outputDirectoryName(), QStringLiteral("out"));
        store->setOutputDirectoryUrl(QUrl(QStringLiteral("https://example.org/out")));
        EXPECT_EQ(store->outputDirectory(), dir / "out");
    }
    Store restarted;
    EXPECT_EQ(restarted.quality(), Quality::small);
    EXPECT_EQ(restarted.outputDirectory(), dir / "out"); // not checked for existence

    restarted.setOutputDirectoryUrl(QUrl::fromLocalFile(QStringLiteral("/")));
    EXPECT_EQ(restarted.outputDirectoryName(), QStringLiteral("/")); // the root has no name
    restarted.setOutputDirectoryUrl(QUrl());
    QSettings settings(QStringLiteral("Lumatra"), QStringLiteral("Lumatra"));
    EXPECT_FALSE(settings.contains(QStringLiteral("outputDirectory")));
    EXPECT_EQ(settings.value(QStringLiteral("quality")).toString(), QStringLiteral("small"));

    settings.setValue(QStringLiteral("quality"), QStringLiteral("Best"));
    settings.sync();
    EXPECT_EQ(Store().quality(), Quality::balanced);
}

} // namespace
} // namespace lumatra
