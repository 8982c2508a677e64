#include "platform/launcher_badge.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QGuiApplication>
#include <QVariantMap>

#include <algorithm>

namespace lumatra {
namespace {

// Whether a session bus can be there at all: its address, or the per-user socket that
// the bus library falls back to. Without either, asking Qt for the bus would only start
// a connection thread that finds nothing.
bool sessionBusExpected() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFile::exists(runtime + QLatin1String("/bus"));
}

} // namespace

void showLauncherCount(int count, double progress) {
    static const bool expected = sessionBusExpected();
    if (!expected) return;
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QString desktopFile = QGuiApplication::desktopFileName();
    if (desktopFile.isEmpty()) desktopFile = QStringLiteral("lumatra");
    if (!desktopFile.endsWith(QLatin1String(".desktop"))) desktopFile += QLatin1String(".desktop");

    auto signal = QDBusMessage::createSignal(QStringLiteral("/com/lumatra/Lumatra"),
                                             QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                             QStringLiteral("Update"));
    const QVariantMap properties{{QStringLiteral("count"), static_cast<qint64>(count)},
                                 {QStringLiteral("count-visible"), count > 0},
                                 {QStringLiteral("progress"), std::clamp(progress, 0.0, 1.0)},
                                 {QStringLiteral("progress-visible"), progress >= 0}};
    signal << QStringLiteral("application://") + desktopFile << properties;
    bus.send(signal);
}

} // namespace lumatra
