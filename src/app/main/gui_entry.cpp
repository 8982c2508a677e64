#include "main/gui_entry.h"

#include "store/store.h"
#include "views/main_window.h"

#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>

// The QML module is linked statically; this pulls in its type registrations.
Q_IMPORT_QML_PLUGIN(LumatraPlugin)

namespace lumatra::Main {

namespace {

QStringList absolutePaths(const std::vector<std::string>& files) {
    QStringList paths;
    for (const std::string& file : files)
        paths.append(QDir::current().absoluteFilePath(QString::fromStdString(file)));
    return paths;
}

void setNames() {
    QGuiApplication::setOrganizationName(QStringLiteral("Lumatra"));
    QGuiApplication::setApplicationName(QStringLiteral("Lumatra"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lumatra"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumatra"));
}

} // namespace

int runWindow(int argc, char** argv, const std::vector<std::string>& files) {
    setNames();
    QGuiApplication app(argc, argv);
    MainWindow::prepareApplication();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/qt/qml/Lumatra/resources/lumatra.svg")));

    Store::shared()->addPaths(absolutePaths(files));
    QQmlApplicationEngine engine;
    if (!MainWindow::load(engine)) return 1;
    return QGuiApplication::exec();
}

void snapshot(int argc, char** argv, const std::string& out,
              const std::vector<std::string>& files) {
    MainWindow::selectOffscreenRendering();
    setNames();
    QGuiApplication app(argc, argv);
    MainWindow::prepareApplication();

    Store& store = *Store::shared();
    store.addPaths(absolutePaths(files));
    MainWindow::stageDemoStates(store);

    QQmlApplicationEngine engine;
    QQuickWindow* window = MainWindow::load(engine);
    if (!window) return;
    const QImage picture = MainWindow::settleAndGrab(*window, 1500);
    if (picture.isNull()) return;
    // A failed write still reports the line: the picture was made.
    picture.save(QString::fromStdString(out), "PNG");
    std::printf("Снимок: %s\n", out.c_str());
    std::fflush(stdout);
}

} // namespace lumatra::Main
