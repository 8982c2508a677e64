#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFile>
#include <QStringList>
#include <QVariantMap>

namespace lumatra {

void showDesktopNotification(const QString& summary, const QString& body) {
    // Asking Qt for a bus that cannot be there would only start a connection thread.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS") &&
        (runtime.isEmpty() || !QFile::exists(runtime + QLatin1String("/bus"))))
        return;
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    auto call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("/org/freedesktop/Notifications"),
                                               QStringLiteral("org.freedesktop.Notifications"),
                                               QStringLiteral("Notify"));
    // app name, id to replace, icon, summary, body, actions, hints, timeout (-1: the
    // server's own).
    call << QStringLiteral("Lumatra") << 0u << QStringLiteral("lumatra") << summary << body
         << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("lumatra")}} << -1;
    // Sent without waiting (a server the bus starts on demand still gets it): a missing
    // server answers with an error nobody reads.
    bus.send(call);
}

} // namespace lumatra
