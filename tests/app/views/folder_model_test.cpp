// The listing behind the file panels: what is shown, in which order, how sizes read,
// and what typed names and new folders give.

#include "views/folder_model.h"

#include "support/fixtures.h"

#include <QAbstractItemModelTester>
#include <QDir>

#include <gtest/gtest.h>

#include <filesystem>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;

QString qt(const fs::path& path) {
    return QString::fromStdString(path.string());
}

std::vector<std::string> names(const FolderModel& model) {
    std::vector<std::string> list;
    for (int row = 0; row < model.count(); ++row)
        list.push_back(
            model.data(model.index(row), FolderModel::NameRole).toString().toStdString());
    return list;
}

TEST(FolderModel, ListsFoldersFirstInFileManagerOrderWithoutHiddenEntries) {
    ScratchDir dir;
    for (const char* name : {"file10.wav", "file2.wav", "Ärger.txt", "apple.md", ".hidden"})
        writeFile(dir / name, "12345");
    fs::create_directory(dir / "Папка");
    fs::create_directory(dir / "album 10");
    fs::create_directory(dir / "album 9");
    fs::create_directory(dir / ".secret");
    fs::create_symlink(dir / "nowhere", dir / "broken link");

    FolderModel model;
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    model.setFolder(qt(dir.path()));
    EXPECT_EQ(names(model), (std::vector<std::string>{"album 9", "album 10", "Папка", "apple.md",
                                                      "Ärger.txt", "file2.wav", "file10.wav"}));
    EXPECT_TRUE(model.isFolderAt(0));
    EXPECT_FALSE(model.isFolderAt(3));
    EXPECT_EQ(model.data(model.index(0), FolderModel::DetailRole).toString(),
              QStringLiteral("Папка"));
    EXPECT_EQ(model.data(model.index(3), FolderModel::DetailRole).toString(),
              QStringLiteral("5 байт"));

    model.setFoldersOnly(true);
    EXPECT_EQ(names(model), (std::vector<std::string>{"album 9", "album 10", "Папка"}));

    // A folder that cannot be read shows nothing.
    for (const char* name : {"missing", "apple.md"}) {
        model.setFolder(qt(dir / name));
        EXPECT_EQ(model.count(), 0) << name;
    }
    // Up to the root, where the path bar ends.
    model.setFolder(qt(dir.path()));
    model.goUp();
    EXPECT_EQ(model.folder(), qt(dir.path().parent_path()));
    model.setFolder(QStringLiteral("/"));
    EXPECT_FALSE(model.canGoUp());
    EXPECT_EQ(model.crumbs().size(), 1);
}

TEST(FolderModel, TypedNamesBecomeTheExistingItemsTheyName) {
    ScratchDir dir;
    writeFile(dir / "a b.wav", "x");
    writeFile(dir / "c.json", "x");
    fs::create_directory(dir / "sub");
    FolderModel model;
    model.setFolder(qt(dir.path()));
    const auto url = [&](const char* name) { return QUrl::fromLocalFile(qt(dir / name)); };

    const std::vector<std::pair<QString, QList<QUrl>>> cases = {
        {"a b.wav", {url("a b.wav")}},
        {"\"a b.wav\" \"c.json\" \"missing.wav\"", {url("a b.wav"), url("c.json")}},
        {"c.json\nsub", {url("c.json"), url("sub")}},
        {"  ", {}},
        {qt(dir / "c.json"), {url("c.json")}}, // an absolute path
    };
    for (const auto& [typed, urls] : cases)
        EXPECT_EQ(model.typedUrls(typed), urls) << typed.toStdString();
    // A folder to go to.
    EXPECT_EQ(model.folderAt(QStringLiteral("sub")), qt(dir / "sub"));
    EXPECT_EQ(model.folderAt(QStringLiteral("c.json")), QString());
    EXPECT_EQ(model.urlsOf({2, 0, 2, 7}), (QList<QUrl>{url("sub"), url("c.json")}));
}

TEST(FolderModel, ANewFolderTakesOnlyAPlainFreeName) {
    ScratchDir dir;
    fs::create_directory(dir / "in");
    FolderModel model;
    model.setFolder(qt(dir / "in"));
    EXPECT_EQ(model.pathAt(model.makeFolderNamed(QStringLiteral(" Итоги "))), qt(dir / "in/Итоги"));
    // A taken name, or one that leads out of the folder, makes nothing.
    for (const char* refused : {"Итоги", " ", ".", "..", "../up"})
        EXPECT_EQ(model.makeFolderNamed(QString::fromUtf8(refused)), -1) << refused;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"in"});
    EXPECT_EQ(ScratchDir::entriesOf(dir / "in"), std::vector<std::string>{"Итоги"});
}

} // namespace
} // namespace lumatra
