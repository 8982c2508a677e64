// Adding files and folders to the store: folders listed one level deep in a file
// manager's order, files already active refused, the user's last choice of a kind
// carried over to new files (never a file's own format), the notice of what was
// skipped; and the bulk bar's choice: the targets all ready jobs of a kind share, in the
// first one's order, one choice for all of them, the counts notified once per change.

#include "store_fixture.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

#include <tuple>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(FileIntake, ExpandsFoldersOneLevelAndTakesAPackageAsOneFile) {
    // The file manager's order and what is no job are the window's drop test; here the
    // hidden, the package and the spellings of a path.
    ScratchDir dir;
    const fs::path folder = dir / "in";
    fs::create_directories(folder / "Notes.rtfd");
    writeFile(folder / "Notes.rtfd" / "TXT.rtf", "{\\rtf1 hi}");
    for (const char* name : {"B.wav", "a.json", ".hidden.wav"})
        writeFile(folder / name, "x");

    auto store = freshStore();
    QAbstractItemModelTester tester(store->jobs(),
                                    QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy inserted(store->jobs(), &QAbstractItemModel::rowsInserted);
    // Missing paths vanish uncounted.
    EXPECT_EQ(store->add(std::vector<fs::path>{folder, dir / "missing.wav"}), 0);
    EXPECT_EQ(fileNames(*store), (std::vector<std::string>{"a.json", "B.wav", "Notes.rtfd"}));
    EXPECT_EQ(inserted.count(), 1); // one insertion for the whole folder
    EXPECT_EQ(store->jobs()->at(2)->kind(), Kind::document);

    // A package folder named on its own is one document, and a relative or untidy
    // spelling of a listed file is the same file.
    auto other = freshStore();
    EXPECT_EQ(other->addPaths({QString::fromStdString((folder / "Notes.rtfd").string() + "/")}), 0);
    EXPECT_EQ(fileNames(*other), std::vector<std::string>{"Notes.rtfd"});
    EXPECT_EQ(other->add(std::vector<fs::path>{folder / "x" / ".." / "Notes.rtfd"}), 1);
}

// Two drops, "a.png=avif / e.heic c.jpg": a file's "=format" is the user's pick in its
// row's menu, and a "!" ends the first drop with its jobs queued (no longer ready).
std::vector<Format> targetsAfter(const fs::path& dir, const QString& drops) {
    auto store = freshStore();
    for (const QString& drop : drops.split(QLatin1Char('/'))) {
        const int start = store->jobs()->count();
        std::vector<std::pair<int, QString>> picks;
        std::vector<fs::path> paths;
        for (const QString& file : drop.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (file == QStringLiteral("!")) continue;
            const QStringList parts = file.split(QLatin1Char('='));
            if (parts.size() > 1) picks.emplace_back(start + paths.size(), parts[1]);
            paths.push_back(dir / parts[0].toStdString());
        }
        store->add(paths);
        for (const auto& [row, format] : picks)
            store->jobs()->at(row)->setTargetName(format);
        if (drop.contains(QLatin1Char('!')))
            for (const auto& job : store->jobs()->jobs())
                job->markQueued();
    }
    std::vector<Format> targets;
    for (const auto& job : store->jobs()->jobs())
        targets.push_back(job->target());
    return targets;
}

TEST(FileIntake, NewFilesTakeTheUsersLastChoiceForTheirKind) {
    ScratchDir dir;
    for (const char* name : {"a.png", "b.png", "c.jpg", "d.webp", "e.heic", "f.jpeg", "g.gif",
                             "tone.wav", "r.pdf", "s.pdf", "n.md", "letter.docx", "memo.docx"})
        writeFile(dir / name, "x");
    using enum Format;
    const std::vector<std::tuple<const char*, const char*, std::vector<Format>>> cases{
        {"a pick travels within its kind",
         "a.png=avif / e.heic c.jpg tone.wav",
         {avif, avif, avif, mp3}},
        {"the last ready job decides", "a.png=avif c.jpg=png / d.webp", {avif, png, png}},
        {"a pick a file cannot make stays", "r.pdf=png / n.md", {png, pdf}},
        {"another type's default is no pick", "s.pdf letter.docx / memo.docx", {txt, pdf, pdf}},
        {"nor in two drops", "s.pdf / memo.docx", {txt, pdf}},
        {"a pick on a PDF travels", "s.pdf=rtf / letter.docx memo.docx", {rtf, rtf, rtf}},
        {"only a ready job passes its pick on", "a.png=avif ! / b.png", {avif, jpg}},
        {"never a file's own format (JPEG is JPG)",
         "c.jpg=png / b.png f.jpeg g.gif",
         {png, jpg, png, png}},
    };
    for (const auto& [rule, drops, targets] : cases)
        EXPECT_EQ(targetsAfter(dir.path(), QString::fromUtf8(drops)), targets) << rule;
}

TEST(FileIntake, SaysHowManyFilesWereSkippedAndWhy) {
    ScratchDir dir;
    for (const char* name : {"a.wav", "notes.xyz", "setup.exe", "b.json"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    QSignalSpy notices(store.get(), &Store::noticeChanged);
    EXPECT_EQ(store->add(files(dir.path(), {"a.wav", "notes.xyz", "setup.exe"})), 2);
    EXPECT_EQ(store->jobs()->count(), 1);
    EXPECT_EQ(store->notice(), QStringLiteral("Пропущено: 2 файла — такие файлы Lumatra не "
                                              "конвертирует (notes.xyz, setup.exe)."));
    store->dismissNotice();
    EXPECT_EQ(store->notice(), QString());
    // A file already waiting in the list is named as such.
    store->add(files(dir.path(), {"a.wav", "b.json"}));
    EXPECT_EQ(store->notice(), QStringLiteral("Пропущено: 1 файл уже в списке."));
    EXPECT_EQ(notices.count(), 3);
    // A file that is not there (a second launch naming it) is said too, not refused.
    EXPECT_EQ(store->addPaths({QString::fromStdString((dir / "gone.wav").string())}), 0);
    EXPECT_EQ(store->notice(), QStringLiteral("Пропущено: 1 файл — не найден (gone.wav)."));

    // Refused while queued or running too; once it has ended, taken again (once, though
    // dropped twice) as a new job.
    Job* first = store->jobs()->at(0);
    const QUrl url = urlOf(dir / "a.wav");
    for (auto state : {+[](Job& j) { j.markQueued(); }, +[](Job& j) { j.markRunning(0.5); }}) {
        state(*first);
        EXPECT_EQ(store->add(QList<QUrl>{url}), 1);
    }
    first->markDone({dir / "a.mp3", 3, 0.1});
    EXPECT_EQ(store->add(QList<QUrl>{url, url}), 1);
    ASSERT_EQ(store->jobs()->count(), 3);
    EXPECT_NE(store->jobs()->at(2)->id(), first->id());
}

TEST(BulkTarget, CommonTargetsFollowTheFirstReadyJob) {
    ScratchDir dir;
    for (const char* name : {"a.json", "b.csv", "c.plist", "r.pdf", "n.md"})
        writeFile(dir / name, "x");
    // json offers (csv, plist), csv offers (json, plist): plist is common.
    auto store = freshStore();
    store->add(files(dir.path(), {"a.json", "b.csv"}));
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

    // json → (csv, plist), csv → (json, plist), plist → (json, csv): nothing in common,
    // and no row for the kind.
    store->add(files(dir.path(), {"c.plist"}));
    EXPECT_TRUE(store->commonTargets(Kind::data).empty());
    EXPECT_TRUE(store->bulkKinds().isEmpty());

    // Order follows the first ready job: a pdf (txt, docx, rtf, html, png, jpg) against a
    // markdown file (pdf, docx, rtf, txt, html, odt).
    auto pdfFirst = freshStore();
    pdfFirst->add(files(dir.path(), {"r.pdf", "n.md"}));
    EXPECT_EQ(pdfFirst->commonTargets(QStringLiteral("document")),
              (QStringList{"txt", "docx", "rtf", "html"}));
    auto mdFirst = freshStore();
    mdFirst->add(files(dir.path(), {"n.md", "r.pdf"}));
    EXPECT_EQ(mdFirst->commonTargets(QStringLiteral("document")),
              (QStringList{"docx", "rtf", "txt", "html"}));
    mdFirst->jobs()->at(0)->markQueued(); // only ready jobs take part
    EXPECT_EQ(mdFirst->commonTargets(QStringLiteral("document")).size(), 6);
}

TEST(BulkTarget, BulkRowsAndCountsNotifyOncePerChange) {
    ScratchDir dir;
    for (const char* name : {"a.wav", "b.flac", "c.png"})
        writeFile(dir / name, "x");
    auto store = freshStore();
    QSignalSpy counts(store.get(), &Store::countsChanged);
    QSignalSpy bulk(store.get(), &Store::bulkChanged);
    store->add(files(dir.path(), {"a.wav", "b.flac", "c.png"}));
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(store->readyCount(), 3);

    // The rows themselves are the bulk bar's view test.
    bulk.clear();
    store->setTarget(Format::ogg, Kind::audio);
    EXPECT_EQ(bulk.count(), 1);

    // A job that ends changes the counts once.
    counts.clear();
    store->jobs()->at(2)->markCancelled();
    EXPECT_EQ(counts.count(), 1);
    EXPECT_EQ(store->readyCount(), 2);
    EXPECT_TRUE(store->hasFinished());
}

} // namespace
} // namespace lumatra
