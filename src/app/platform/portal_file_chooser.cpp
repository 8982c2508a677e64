#include "platform/portal_file_chooser.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QRandomGenerator>
#include <QWindow>

namespace lumatra {

namespace {
const QString service = QStringLiteral("org.freedesktop.portal.Desktop");
const QString objectPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString chooserInterface = QStringLiteral("org.freedesktop.portal.FileChooser");
const QString requestInterface = QStringLiteral("org.freedesktop.portal.Request");
// The longest wait for the portal to accept a request (not for the user).
constexpr int callTimeoutMs = 10000;
} // namespace

PortalFileChooser::PortalFileChooser(QObject* parent) : QObject(parent) {}

bool PortalFileChooser::isAvailable() const {
    if (m_available >= 0) return m_available == 1;
    m_available = 0;
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !bus.interface()) return false;
    // Running, or started on demand by the bus.
    const bool running = bus.interface()->isServiceRegistered(service).value();
    const QStringList startable = bus.interface()->activatableServiceNames().value();
    if (!running && !startable.contains(service)) return false;
    // The file chooser is one of the portal's optional parts.
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, objectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << chooserInterface << QStringLiteral("version");
    // Asked once, while the window starts to ask for files: a portal that hangs costs
    // a few seconds, once.
    const QDBusMessage reply = bus.call(get, QDBus::Block, 3000);
    m_available = reply.type() == QDBusMessage::ReplyMessage ? 1 : 0;
    return m_available == 1;
}

void PortalFileChooser::choose(const QString& title, const QString& acceptLabel, bool folder,
                               QWindow* window) {
    if (isBusy()) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    // The request's object path follows from our bus name and a token of our choice;
    // subscribing to it before the call leaves no gap for a fast answer.
    const QString token = QStringLiteral("lumatra%1").arg(QRandomGenerator::global()->generate());
    QString sender = bus.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    m_request = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    // Any sender: the answer comes from the portal's unique name.
    bus.connect(QString(), m_request, requestInterface, QStringLiteral("Response"), this,
                SLOT(respond(uint, QVariantMap)));
    emit busyChanged();

    QVariantMap options{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("accept_label"), acceptLabel},
                        {QStringLiteral("modal"), true},
                        {QStringLiteral("multiple"), !folder},
                        {QStringLiteral("directory"), folder}};
    QString parent;
    if (window && QGuiApplication::platformName() == QLatin1String("xcb"))
        parent = QStringLiteral("x11:%1").arg(window->winId(), 0, 16);
    QDBusMessage call = QDBusMessage::createMethodCall(service, objectPath, chooserInterface,
                                                       QStringLiteral("OpenFile"));
    call << parent << title << options;
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, callTimeoutMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<QDBusObjectPath> reply = *w;
        if (!reply.isError()) return; // the answer comes as the request's Response
        end();
        emit failed();
    });
}

void PortalFileChooser::respond(uint response, const QVariantMap& results) {
    if (!isBusy()) return;
    end();
    // 0: chosen, 1: cancelled by the user, 2: ended otherwise.
    if (response == 1) {
        emit cancelled();
        return;
    }
    if (response != 0) {
        emit failed();
        return;
    }
    QList<QUrl> urls;
    for (const QString& uri : results.value(QStringLiteral("uris")).toStringList()) {
        const QUrl url(uri);
        if (url.isLocalFile()) urls.append(url);
    }
    emit chosen(urls);
}

void PortalFileChooser::end() {
    QDBusConnection::sessionBus().disconnect(QString(), m_request, requestInterface,
                                             QStringLiteral("Response"), this,
                                             SLOT(respond(uint, QVariantMap)));
    m_request.clear();
    emit busyChanged();
}

} // namespace lumatra
