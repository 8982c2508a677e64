// Adding files and folders to the store: folders listed one level deep in a file
// manager's order, files already active refused, the user's last choice of a kind
// carried over to new files (never a file's own format), and the notice of what was
// skipped.

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

} // namespace
} // namespace lumatra
