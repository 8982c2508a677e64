// The main window: in this process, files dropped on it with a real MIME payload, where
// it is placed, and how it chooses its renderer; and the snapshot mode end to end, the
// built program rendering the window with generated files off screen, the accent where
// the state puts it.

#include "store/store.h"
#include "support/fixtures.h"
#include "views/main_window.h"

#include <QDropEvent>
#include <QImage>
#include <QMimeData>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QRect>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

namespace lumatra {
namespace {

using namespace lumatra::test;

TEST(MainWindowRenderer, TellsASoftwareRasterizerFromAGraphicsCard) {
    const std::vector<std::pair<const char*, bool>> renderers{
        {"llvmpipe (LLVM 15.0.6, 256 bits)", true},
        {"softpipe", true},
        {"Software Rasterizer", true},
        {"Mesa Intel(R) UHD Graphics 620 (KBL GT2)", false},
        {"AMD Radeon RX 6600 (navi23, LLVM 15.0.6, DRM 3.49, 6.1.0-13-amd64)", false},
        {"NVIDIA GeForce GTX 1060 6GB/PCIe/SSE2", false},
        {"", false}};
    for (const auto& [renderer, software] : renderers)
        EXPECT_EQ(MainWindow::isSoftwareRasterizer(QString::fromLatin1(renderer)), software)
            << renderer;
}

TEST(MainWindowPlace, ASavedPlaceIsUsedOnlyWhereItCanBeSeen) {
    QTemporaryDir dir;
    QSettings settings(dir.filePath(QStringLiteral("place.ini")), QSettings::IniFormat);
    const QList<QRect> screens{{0, 0, 1920, 1080}, {1920, 0, 1280, 1024}};
    const QSize minimum(820, 560);
    const std::vector<std::pair<QRect, bool>> places{
        {{100, 80, 1200, 800}, true},    // on the first screen
        {{2000, 50, 1000, 700}, true},   // on the second
        {{1500, 100, 1000, 700}, true},  // across both
        {{3300, 100, 1000, 700}, false}, // a screen that is gone
        {{1500, 800, 1000, 700}, false}, // mostly below the screens
        {{100, 80, 600, 400}, false},    // below the window's minimum
        {{}, false}};                    // never saved
    for (const auto& [place, used] : places) {
        settings.setValue(QStringLiteral("window/geometry"), place);
        const auto saved = MainWindow::savedGeometry(settings, screens, minimum);
        EXPECT_EQ(saved.has_value(), used) << place.x() << "," << place.y();
        EXPECT_EQ(saved.value_or(place), place);
    }
}

TEST(MainWindow, DroppedFilesAndFoldersEndInTheStore) {
    ScratchDir dir;
    writeFile(dir / "single.json", "{}");
    std::filesystem::create_directories(dir / "album" / "inner");
    for (const char* name : {"track10.wav", "track2.wav", "notes.xyz"})
        writeFile(dir / "album" / name, "x");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    MainWindow::prepareApplication();
    QQmlApplicationEngine engine;
    QQuickWindow* window = MainWindow::load(engine);
    ASSERT_NE(window, nullptr);
    const QQuickItem* view = window->findChild<QQuickItem*>(QStringLiteral("contentView"));
    ASSERT_TRUE(view && QTest::qWaitForWindowExposed(window));
    const auto targeted = [&] { return view->property("isTargeted").toBool(); };
    // Whether the window takes a drag of `mime` in and over it.
    const auto dragIn = [&](const QMimeData& mime) {
        QDragEnterEvent enter({500, 300}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QDragMoveEvent move({505, 305}, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(window, &enter);
        QCoreApplication::sendEvent(window, &move);
        return enter.isAccepted() && move.isAccepted();
    };
    const auto url = [&](const char* name) {
        return QUrl::fromLocalFile(QString::fromStdString((dir / name).string()));
    };
    QMimeData mime, remote, text;
    mime.setUrls(
        {url("single.json"), url("album"), QUrl(QStringLiteral("https://example.org/remote.mp3"))});
    remote.setUrls({QUrl(QStringLiteral("https://example.org/a.mp3"))});
    text.setText(QStringLiteral("/tmp/a.mp3"));
    // A drag that leaves adds nothing; drags without local files are refused.
    QDragLeaveEvent leave;
    for (const QMimeData* data : {&mime, &remote, &text}) {
        EXPECT_EQ(dragIn(*data), data == &mime);
        QCoreApplication::sendEvent(window, &leave);
        EXPECT_FALSE(targeted());
    }
    Store& store = *Store::shared();
    EXPECT_EQ(store.jobs()->count(), 0);

    ASSERT_TRUE(dragIn(mime));
    EXPECT_TRUE(targeted());
    QDropEvent drop(QPointF(505, 305), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(window, &drop);
    EXPECT_FALSE(targeted());
    // The folder is opened one level, in the file browser's order; what is no job stays out.
    std::vector<std::string> names;
    for (const auto& job : store.jobs()->jobs())
        names.push_back(job->path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"single.json", "track2.wav", "track10.wav"}));
    store.jobs()->removeIf([](const Job&) { return true; });
}

/// Whether any pixel of `area` is of the accent.
bool accentIn(const QImage& image, const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QRgb p = image.pixel(x, y);
            if (qRed(p) > 150 && qGreen(p) < 100 && qBlue(p) < 90) return true;
        }
    return false;
}

// Positions: the window's menu bar takes the top 28 points, the header the next 75.
TEST(Snapshot, TheWindowIsDrawnInTheStateItsFilesGive) {
    ScratchDir dir;
    makeTone(dir / "a.wav");
    makeTone(dir / "b.wav");
    makeClip(dir / "b.mp4", 1, false);
    writeFile(dir / "c.json", "{\"a\": 1}");
    writeFile(dir / "d.csv", "a;b\n1;2\n");
    const QRect badge(460, 230, 20, 20), footerButton(790, 636, 10, 10);
    const QRect firstRow(500, 103, 1, 35), rows(500, 75, 1, 325), chips(180, 108, 70, 45);
    struct Case {
        std::vector<std::string> files;
        std::vector<std::pair<QRect, bool>> accent; // an area and whether it shows accent
    };
    const Case cases[] = {
        // The empty window: the drop area's badge, no footer.
        {{}, {{badge, true}, {footerButton, false}}},
        // The first row converts (outlined in the accent), the main button is filled.
        {{"a.wav", "b.mp4", "c.json", "d.csv"}, {{firstRow, true}, {footerButton, true}}},
        // Files that are no jobs do not count: three ready jobs, the bulk bar's chip.
        {{"a.wav", "b.wav", "c.json", "missing.wav", "notes.xyz"}, {{rows, false}, {chips, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.files.size());
        const std::string out = (dir / "shot.png").string();
        std::vector<std::string> argv{LUMATRA_BINARY, "--snapshot", out};
        argv.insert(argv.end(), c.files.begin(), c.files.end());
        const ProcessOutput run = runProgram(argv, dir.path());
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "Снимок: " + out + "\n");
        const QImage image =
            QImage(QString::fromStdString(out)).convertToFormat(QImage::Format_RGB32);
        ASSERT_EQ(image.size(), QSize(1000, 680));
        EXPECT_LE(qGray(image.pixel(2, 300)), 8) << "the background";
        for (const auto& [area, shown] : c.accent)
            EXPECT_EQ(accentIn(image, area), shown) << area.x() << "," << area.y();
    }
}

TEST(Snapshot, AnUnwritablePathIsAFailureNotAReport) {
    ScratchDir dir;
    const std::string out = (dir / "missing" / "shot.png").string();
    const ProcessOutput run = runProgram({LUMATRA_BINARY, "--snapshot", out}, dir.path());
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find("Не удалось записать снимок в " + out + "\n"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(out));
}

} // namespace
} // namespace lumatra
