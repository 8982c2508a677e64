// The store without conversions: adding files and folders, the bulk target choice,
// the counts and the saved settings.

#include "store_fixture.h"

#include "platform/file_manager.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QVariantMap>

#include <filesystem>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(StoreAdd, ExpandsFoldersOneLevelInFileManagerOrder) {
    ScratchDir dir;
    const fs::path folder = dir / "in";
    fs::create_directories(folder / "sub");
    fs::create_directories(folder / "Notes.rtfd");
    writeFile(folder / "Notes.rtfd" / "TXT.rtf", "{\\rtf1 hi}");
    for (const char* name :
         {"file10.wav", "file2.wav", "File1.json", ".hidden.wav", "readme.xyz", "sub/inner.wav"})
        writeFile(folder / name, "x");

    auto store = freshStore();
    QAbstractItemModelTester tester(store->jobs(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy inserted(store->jobs(), &QAbstractItemModel::rowsInserted);

    // Missing paths vanish uncounted; the subfolder and the unknown file are refused.
    const int refused = store->add(std::vector<fs::path>{folder, dir / "missing.wav"});
    EXPECT_EQ(refused, 2);
    EXPECT_EQ(fileNames(*store),
              (std::vector<std::string>{"File1.json", "file2.wav", "file10.wav", "Notes.rtfd"}));
    EXPECT_EQ(inserted.count(), 1); // one insertion for the whole folder
    EXPECT_EQ(store->jobs()->at(3)->kind(), Kind::document);

    // A package folder named on its own is one document, and a relative or untidy
    // spelling of a listed file is the same file.
    auto other = freshStore();
    EXPECT_EQ(other->addPaths({QString::fromStdString((folder / "Notes.rtfd").string() + "/")}), 0);
    EXPECT_EQ(fileNames(*other), std::vector<std::string>{"Notes.rtfd"});
    EXPECT_EQ(other->add(std::vector<fs::path>{folder / "sub" / ".." / "Notes.rtfd"}), 1);
}

TEST(StoreAdd, RefusesFilesThatAreStillActiveOnly) {
    ScratchDir dir;
    writeFile(dir / "a.json", "{}");
    auto store = freshStore();
    const QUrl url = QUrl::fromLocalFile(QString::fromStdString((dir / "a.json").string()));

    EXPECT_EQ(store->add(QList<QUrl>{url, url}), 1);
    ASSERT_EQ(store->jobs()->count(), 1);
    Job* first = store->jobs()->at(0);
    for (auto state : {+[](Job& j) { j.markQueued(); }, +[](Job& j) { j.markRunning(0.5); }}) {
        state(*first);
        EXPECT_EQ(store->add(QList<QUrl>{url}), 1);
    }
    first->markDone({dir / "a.csv", 3, 0.1});
    EXPECT_EQ(store->add(QList<QUrl>{url}), 0);
    EXPECT_EQ(store->jobs()->count(), 2);
    EXPECT_NE(store->jobs()->at(1)->id(), first->id());
}

TEST(StoreAdd, CarriesTheLastReadyChoiceOfAKindOver) {
    ScratchDir dir;
    for (const char* name : {"a.png", "b.heic", "c.jpg", "d.webp", "e.png", "tone.wav"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "a.png"});
    store->jobs()->at(0)->setTargetName(QStringLiteral("avif")); // the row's menu

    store->add(std::vector<fs::path>{dir / "b.heic", dir / "c.jpg", dir / "tone.wav"});
    EXPECT_EQ(store->jobs()->at(1)->target(), Format::avif);
    EXPECT_EQ(store->jobs()->at(2)->target(), Format::avif);
    EXPECT_EQ(store->jobs()->at(3)->target(), Format::mp3); // other kinds are untouched

    // The last ready job of the kind decides; a choice a file cannot make is not carried.
    store->jobs()->at(2)->choose(Format::png);
    store->add(std::vector<fs::path>{dir / "d.webp"});
    EXPECT_EQ(store->jobs()->at(4)->target(), Format::png);
    ScratchDir docs;
    for (const char* name : {"r.pdf", "n.md", "letter.docx", "s.pdf", "memo.docx"})
        writeFile(docs / name, "x");
    store->add(std::vector<fs::path>{docs / "r.pdf"});
    store->jobs()->at(5)->choose(Format::png);
    store->add(std::vector<fs::path>{docs / "n.md"});
    EXPECT_EQ(store->jobs()->at(6)->target(), Format::pdf);

    // Another type's default is no choice: a letter after a PDF (default TXT) gets PDF,
    // in one drop as in two; a format the user picked on the PDF does travel.
    for (const auto& order :
         {std::vector<const char*>{"s.pdf", "letter.docx"}, std::vector<const char*>{"s.pdf"}}) {
        auto fresh = freshStore();
        std::vector<fs::path> paths;
        for (const char* name : order)
            paths.push_back(docs / name);
        fresh->add(paths);
        fresh->add(std::vector<fs::path>{docs / "memo.docx"});
        EXPECT_EQ(fresh->jobs()->at(0)->target(), Format::txt);
        for (int row = 1; row < fresh->jobs()->count(); ++row)
            EXPECT_EQ(fresh->jobs()->at(row)->target(), Format::pdf) << order.size();
    }
    auto picked = freshStore();
    picked->add(std::vector<fs::path>{docs / "s.pdf"});
    picked->setTarget(Format::rtf, Kind::document); // the bulk bar
    picked->add(std::vector<fs::path>{docs / "letter.docx", docs / "memo.docx"});
    EXPECT_EQ(picked->jobs()->at(1)->target(), Format::rtf);
    EXPECT_EQ(picked->jobs()->at(2)->target(), Format::rtf);

    // Once the images are no longer ready, new ones arrive with their own default.
    for (int row : {0, 1, 2, 4})
        store->jobs()->at(row)->markQueued();
    store->add(std::vector<fs::path>{dir / "e.png"});
    EXPECT_EQ(store->jobs()->at(7)->target(), Format::jpg);
}

TEST(StoreAdd, NeverProposesAFileItsOwnFormat) {
    ScratchDir dir;
    for (const char* name : {"a.jpg", "b.png", "c.jpeg", "d.gif"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "a.jpg"});
    store->jobs()->at(0)->choose(Format::png);
    // After JPG → PNG a PNG arrives with its own default, and the next JPEG (same format
    // as JPG) too; the user may still pick the same format by hand.
    store->add(std::vector<fs::path>{dir / "b.png", dir / "c.jpeg", dir / "d.gif"});
    EXPECT_EQ(store->jobs()->at(1)->target(), *defaultTargetFor(dir / "b.png"));
    EXPECT_NE(store->jobs()->at(1)->target(), Format::png);
    EXPECT_EQ(store->jobs()->at(2)->target(), Format::png);
    EXPECT_EQ(store->jobs()->at(3)->target(), Format::png);
    store->jobs()->at(1)->setTarget(Format::png);
    EXPECT_EQ(store->jobs()->at(1)->target(), Format::png);
}

TEST(StoreAdd, SaysHowManyFilesWereSkippedAndWhy) {
    ScratchDir dir;
    for (const char* name : {"a.wav", "notes.xyz", "setup.exe", "b.json"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    QSignalSpy notices(store.get(), &Store::noticeChanged);
    EXPECT_EQ(
        store->add(std::vector<fs::path>{dir / "a.wav", dir / "notes.xyz", dir / "setup.exe"}), 2);
    EXPECT_EQ(store->jobs()->count(), 1);
    EXPECT_EQ(store->notice(), QStringLiteral("Пропущено: 2 файла — такие файлы Lumatra не "
                                              "конвертирует (notes.xyz, setup.exe)."));
    store->dismissNotice();
    EXPECT_EQ(store->notice(), QString());
    // A file already waiting in the list is named as such.
    store->add(std::vector<fs::path>{dir / "a.wav", dir / "b.json"});
    EXPECT_EQ(store->notice(), QStringLiteral("Пропущено: 1 файл уже в списке."));
    EXPECT_EQ(notices.count(), 3);
    // A file that is not there (a second launch naming it) is said too, not refused.
    EXPECT_EQ(store->addPaths({QString::fromStdString((dir / "gone.wav").string())}), 0);
    EXPECT_EQ(store->notice(), QStringLiteral("Пропущено: 1 файл — не найден (gone.wav)."));

    // The counts read as Russian does.
    const std::vector<std::pair<int, const char*>> words{
        {1, "1 файл"},   {3, "3 файла"},   {5, "5 файлов"},    {11, "11 файлов"},
        {21, "21 файл"}, {22, "22 файла"}, {112, "112 файлов"}};
    for (const auto& [count, text] : words)
        EXPECT_TRUE(skippedText({}, count).contains(QString::fromUtf8(text))) << count;
    EXPECT_EQ(skippedText({"a", "b", "c", "d"}, 1),
              QStringLiteral("Пропущено: 4 файла — такие файлы Lumatra не конвертирует "
                             "(a, b, c, …); 1 файл уже в списке."));
    EXPECT_EQ(skippedText({"x.exe"}, 0, {"a.wav", "b.wav"}),
              QStringLiteral("Пропущено: 2 файла — не найдено (a.wav, b.wav); 1 файл — такие "
                             "файлы Lumatra не конвертирует (x.exe)."));
}

TEST(StoreTexts, CountsAndTimeLeftReadAsRussianDoes) {
    const std::vector<std::pair<int, const char*>> errors{
        {1, "1 ошибка"},   {2, "2 ошибки"},     {4, "4 ошибки"},    {5, "5 ошибок"},
        {11, "11 ошибок"}, {12, "12 ошибок"},   {21, "21 ошибка"},  {22, "22 ошибки"},
        {0, "0 ошибок"},   {111, "111 ошибок"}, {101, "101 ошибка"}};
    for (const auto& [count, text] : errors)
        EXPECT_EQ(countText(count, "ошибка", "ошибки", "ошибок"), QString::fromUtf8(text));
    const std::vector<std::pair<double, const char*>> left{
        {2, "несколько секунд"}, {12, "~15 с"},  {55.5, "~60 с"},
        {61, "~1 мин"},          {95, "~2 мин"}, {3600, "~60 мин"}};
    for (const auto& [seconds, text] : left)
        EXPECT_EQ(timeLeftText(seconds), QString::fromUtf8(text)) << seconds;
}

TEST(StoreActions, RemovesUnstartedFindsFailuresAndSaysWhenAResultIsGone) {
    ScratchDir dir;
    for (const char* name : {"a.json", "b.json", "c.json", "d.json", "e.json"})
        writeFile(dir / name, "{}");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "a.json", dir / "b.json", dir / "c.json", dir / "d.json",
                                     dir / "e.json"});
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

TEST(StoreAdd, AVideoWithoutSoundIsOfferedNoSoundOnlyTarget) {
    ScratchDir dir;
    makeClip(dir / "silent.mp4", 1, false);
    makeClip(dir / "talk.mp4", 1, true);
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "silent.mp4", dir / "talk.mp4"});
    Job* silent = store->jobs()->at(0);
    Job* talk = store->jobs()->at(1);
    silent->choose(Format::mp3);
    ASSERT_TRUE(waitFor([&] { return !silent->canProduce(Format::mp3); }, 10000));
    for (Format format : silent->targets())
        EXPECT_FALSE(isAudioOnly(format)) << rawValue(format);
    EXPECT_FALSE(isAudioOnly(silent->target()));
    EXPECT_FALSE(silent->menuGroups().isEmpty());
    QTest::qWait(300);
    EXPECT_TRUE(talk->canProduce(Format::mp3));
}

TEST(StoreReveal, SaysSoWhenNoFileManagerAnswers) {
    // A desktop that names no program for folders, and no file manager on a bus.
    ScratchDir dir;
    writeFile(dir / "a.mp3", "x");
    std::vector<std::pair<const char*, QByteArray>> saved;
    const auto set = [&](const char* name, const std::string& value) {
        saved.emplace_back(name, qgetenv(name));
        qputenv(name, QByteArray::fromStdString(value));
    };
    set("XDG_DATA_DIRS", (dir / "none").string());
    set("XDG_DATA_HOME", (dir / "none").string());
    set("XDG_CONFIG_HOME", (dir / "none").string());
    set("XDG_CONFIG_DIRS", (dir / "none").string());
    set("XDG_CURRENT_DESKTOP", "");
    set("DE", "");
    EXPECT_FALSE(FileManager::canOpenFolders());

    auto store = freshStore();
    const QUrl file = QUrl::fromLocalFile(QString::fromStdString((dir / "a.mp3").string()));
    store->reveal(file);
    EXPECT_TRUE(waitFor([&] { return !store->notice().isEmpty(); }, 5000));
    EXPECT_TRUE(store->notice().startsWith(QStringLiteral("Не удалось открыть файловый менеджер")));
    store->dismissNotice();
    store->openFolder(QUrl::fromLocalFile(QString::fromStdString(dir.path().string())));
    EXPECT_TRUE(store->notice().startsWith(QStringLiteral("Не удалось открыть файловый менеджер")));
    for (const auto& [name, value] : saved) {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
}

TEST(StoreQueueStart, ARetryShowsTheSizeOfTheSourceAsItIsNow) {
    ScratchDir dir;
    writeFile(dir / "broken.json", "{");
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "broken.json"});
    Job* job = store->jobs()->at(0);
    EXPECT_EQ(job->bytes(), 1);
    job->markFailed(QStringLiteral("Не удалось прочитать JSON"));
    writeFile(dir / "broken.json", "{\"a\": [1, 2, 3");
    QSignalSpy sizes(job, &Job::bytesChanged);
    store->convert(job);
    EXPECT_EQ(job->bytes(), 14);
    EXPECT_EQ(sizes.count(), 1);
    EXPECT_TRUE(job->sourceText().startsWith(QStringLiteral("JSON · 14")));
    ASSERT_TRUE(waitFor([&] { return !store->isBusy(); }));
}

TEST(StoreBulk, CommonTargetsFollowTheFirstReadyJob) {
    ScratchDir dir;
    for (const char* name : {"a.json", "b.csv", "c.wav"})
        writeFile(dir / name, "x");
    // json offers (csv, plist), csv offers (json, plist): plist is common.
    auto store = freshStore();
    store->add(std::vector<fs::path>{dir / "a.json", dir / "b.csv"});
    EXPECT_EQ(store->commonTargets(Kind::data), std::vector<Format>{Format::plist});
    EXPECT_EQ(store->commonTarget(Kind::data), std::nullopt); // csv against json

    store->setTarget(Format::plist, Kind::data);
    EXPECT_EQ(store->commonTarget(Kind::data), Format::plist);
    EXPECT_EQ(store->commonTarget(QStringLiteral("data")), QStringLiteral("plist"));
    EXPECT_TRUE(store->commonTargets(Kind::audio).empty());
    EXPECT_EQ(store->commonTarget(Kind::audio), std::nullopt);

    // A target only some jobs can produce leaves the others alone.
    store->setTarget(Format::csv, Kind::data);
    EXPECT_EQ(store->jobs()->at(0)->target(), Format::csv);
    EXPECT_EQ(store->jobs()->at(1)->target(), Format::plist);

    // Order follows the first ready job: a pdf (txt, docx, rtf, html, png, jpg) against a
    // markdown file (pdf, docx, rtf, txt, html, odt).
    ScratchDir docs;
    writeFile(docs / "r.pdf", "x");
    writeFile(docs / "n.md", "x");
    auto pdfFirst = freshStore();
    pdfFirst->add(std::vector<fs::path>{docs / "r.pdf", docs / "n.md"});
    EXPECT_EQ(pdfFirst->commonTargets(QStringLiteral("document")),
              (QStringList{"txt", "docx", "rtf", "html"}));
    auto mdFirst = freshStore();
    mdFirst->add(std::vector<fs::path>{docs / "n.md", docs / "r.pdf"});
    EXPECT_EQ(mdFirst->commonTargets(QStringLiteral("document")),
              (QStringList{"docx", "rtf", "txt", "html"}));
    mdFirst->jobs()->at(0)->markQueued(); // only ready jobs take part
    EXPECT_EQ(mdFirst->commonTargets(QStringLiteral("document")).size(), 6);
}

TEST(StoreBulk, KindsWhoseFilesShareNoTargetHaveNoRow) {
    ScratchDir dir;
    for (const char* name : {"a.json", "b.csv", "c.plist", "d.wav", "e.wav"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    // json → (csv, plist), csv → (json, plist), plist → (json, csv): nothing in common.
    store->add(std::vector<fs::path>{dir / "a.json", dir / "b.csv", dir / "c.plist", dir / "d.wav",
                                     dir / "e.wav"});
    const auto rows = store->bulkKinds();
    ASSERT_EQ(rows.size(), 1);
    EXPECT_EQ(rows[0].toMap()[QStringLiteral("kind")].toString(), QStringLiteral("audio"));
}

TEST(StoreBulk, BulkRowsAndCountsNotifyOncePerChange) {
    ScratchDir dir;
    for (const char* name : {"a.wav", "b.flac", "c.png"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    QSignalSpy counts(store.get(), &Store::countsChanged);
    QSignalSpy bulk(store.get(), &Store::bulkChanged);
    store->add(std::vector<fs::path>{dir / "a.wav", dir / "b.flac", dir / "c.png"});
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(store->readyCount(), 3);
    EXPECT_EQ(store->convertTitle(), QStringLiteral("Конвертировать · 3"));

    const auto rows = store->bulkKinds();
    ASSERT_EQ(rows.size(), 2);
    const auto audio = rows[0].toMap();
    EXPECT_EQ(audio[QStringLiteral("label")].toString(), QStringLiteral("Все аудио в"));
    EXPECT_EQ(audio[QStringLiteral("targets")].toList().size(), 8);
    EXPECT_EQ(audio[QStringLiteral("common")].toString(), QStringLiteral("mp3"));
    EXPECT_EQ(rows[1].toMap()[QStringLiteral("kind")].toString(), QStringLiteral("image"));

    bulk.clear();
    store->setTarget(Format::ogg, Kind::audio);
    EXPECT_EQ(bulk.count(), 1);

    store->jobs()->at(2)->markCancelled();
    EXPECT_EQ(store->readyCount(), 2);
    EXPECT_TRUE(store->hasFinished());
    store->clearFinished();
    EXPECT_EQ(store->jobs()->count(), 2);
    EXPECT_FALSE(store->hasFinished());

    store->remove(store->jobs()->at(0));
    EXPECT_EQ(store->readyCount(), 1);
    EXPECT_EQ(store->convertTitle(), QStringLiteral("Конвертировать"));
}

TEST(StoreSettings, SurviveARestartOfTheStore) {
    ScratchDir dir;
    {
        auto store = freshStore();
        EXPECT_EQ(store->quality(), Quality::balanced);
        EXPECT_EQ(store->outputDirectory(), std::nullopt);
        store->setQualityName(QStringLiteral("small"));
        store->setQualityName(QStringLiteral("tiny")); // ignored
        store->setOutputDirectoryUrl(
            QUrl::fromLocalFile(QString::fromStdString((dir / "out").string())));
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
