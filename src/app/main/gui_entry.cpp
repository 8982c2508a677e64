#include "main/gui_entry.h"

#include <QGuiApplication>
#include <QQmlApplicationEngine>
#include <QUrl>

#include <cstdio>

namespace lumatra::Main {

int runWindow(int argc, char** argv, const std::vector<std::string>&) {
    QGuiApplication app(argc, argv);
    QQmlApplicationEngine engine;
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Lumatra/qml/Main.qml")));
    if (engine.rootObjects().isEmpty()) return 1;
    return QGuiApplication::exec();
}

void snapshot(int, char**, const std::string& out, const std::vector<std::string>&) {
    std::printf("Снимок: %s\n", out.c_str());
}

} // namespace lumatra::Main
