// Adding files and folders to the store: folders listed one level deep in a file
// manager's order, files already active refused, the user's last choice of a kind
// carried over to new files, and the notice of what was skipped.

#include "store_fixture.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

TEST(FileIntake, ExpandsFoldersOneLevelInFileManagerOrder) {
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

TEST(FileIntake, RefusesFilesThatAreStillActiveOnly) {
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

TEST(FileIntake, CarriesTheLastReadyChoiceOfAKindOver) {
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

TEST(FileIntake, NeverProposesAFileItsOwnFormat) {
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

TEST(FileIntake, SaysHowManyFilesWereSkippedAndWhy) {
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
}

} // namespace
} // namespace lumatra
