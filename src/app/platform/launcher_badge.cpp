#include "platform/launcher_badge.h"

#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QGuiApplication>
#include <QVariantMap>

#include <algorithm>

namespace lumatra {

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
