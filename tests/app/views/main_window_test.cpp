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

#include <memory>

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

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override {
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        MainWindow::prepareApplication();
        clearStore();
        m_engine = std::make_unique<QQmlApplicationEngine>();
        m_window = MainWindow::load(*m_engine);
        ASSERT_NE(m_window, nullptr);
        m_view = m_window->findChild<QQuickItem*>(QStringLiteral("contentView"));
        ASSERT_NE(m_view, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_window));
    }
    void TearDown() override {
        m_engine.reset();
        clearStore();
    }

    static void clearStore() {
        Store& store = *Store::shared();
        store.cancelAll();
        store.jobs()->removeIf([](const Job&) { return true; });
        store.setFfmpegMissing(false);
    }

    bool targeted() const { return m_view->property("isTargeted").toBool(); }

    /// Drags `mime` into the window and reports whether the window took the drag.
    bool dragIn(const QMimeData& mime) {
        const QPoint at(500, 300);
        QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &enter);
        QDragMoveEvent move(at + QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton,
                            Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &move);
        return enter.isAccepted() && move.isAccepted();
    }

    void drop(const QMimeData& mime) {
        QDropEvent event(QPointF(505, 305), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::sendEvent(m_window, &event);
    }

    std::unique_ptr<QQmlApplicationEngine> m_engine;
    QQuickWindow* m_window = nullptr;
    QQuickItem* m_view = nullptr;
};

QUrl fileUrl(const std::filesystem::path& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path.string()));
}

TEST_F(MainWindowTest, DroppedFilesAndFoldersEndInTheStore) {
    ScratchDir dir;
    writeFile(dir / "single.json", "{}");
    std::filesystem::create_directories(dir / "album" / "inner");
    for (const char* name : {"track10.wav", "track2.wav", "notes.xyz"})
        writeFile(dir / "album" / name, "x");
    QMimeData mime, remote, text;
    mime.setUrls({fileUrl(dir / "single.json"), fileUrl(dir / "album"),
                  QUrl(QStringLiteral("https://example.org/remote.mp3"))});
    remote.setUrls({QUrl(QStringLiteral("https://example.org/a.mp3"))});
    text.setText(QStringLiteral("/tmp/a.mp3"));
    // A drag that leaves adds nothing; drags without local files are refused.
    QDragLeaveEvent leave;
    for (const QMimeData* data : {&mime, &remote, &text}) {
        EXPECT_EQ(dragIn(*data), data == &mime);
        QCoreApplication::sendEvent(m_window, &leave);
        EXPECT_FALSE(targeted());
    }
    EXPECT_EQ(Store::shared()->jobs()->count(), 0);

    ASSERT_TRUE(dragIn(mime));
    EXPECT_TRUE(targeted());
    drop(mime);
    EXPECT_FALSE(targeted());
    // The folder is opened one level, in the file browser's order; what is no job stays out.
    std::vector<std::string> names;
    for (const auto& job : Store::shared()->jobs()->jobs())
        names.push_back(job->path().filename().string());
    EXPECT_EQ(names, (std::vector<std::string>{"single.json", "track2.wav", "track10.wav"}));
}

} // namespace
} // namespace lumatra
