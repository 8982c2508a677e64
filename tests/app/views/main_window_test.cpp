// The main window in this process: files dropped on it with a real MIME payload, where
// it is placed, and how it chooses its renderer.

#include "store/store.h"
#include "support/fixtures.h"
#include "views/main_window.h"

#include <QDropEvent>
#include <QMimeData>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
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
        if (saved) EXPECT_EQ(*saved, place);
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

} // namespace
} // namespace lumatra
