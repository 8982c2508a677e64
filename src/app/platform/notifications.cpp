#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusReply>
#include <QFile>
#include <QVariantMap>

namespace lumatra {
namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
// A service that has not answered by then counts as absent.
constexpr int answerMs = 3000;

} // namespace

bool sessionBusExpected() {
    if (!qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) return true;
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    return !runtime.isEmpty() && QFile::exists(runtime + QLatin1String("/bus"));
}

void showDesktopNotification(const QString& summary, const QString& body) {
    if (!sessionBusExpected()) return;
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    auto call = QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    // app name, id to replace, icon, summary, body, actions, hints, time-out (-1: the
    // server's own).
    call << QStringLiteral("Lumatra") << 0u << QStringLiteral("lumatra") << summary << body
         << QStringList()
         << QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("lumatra")}} << -1;
    // Sent without waiting: a missing server answers with an error nobody reads.
    bus.send(call);
}

DesktopNotification::DesktopNotification(QObject* parent)
    : QObject(parent), m_available(sessionBusExpected()) {
    if (!m_available) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    m_available = bus.isConnected();
    if (!m_available) return;
    bus.connect(service, path, service, QStringLiteral("ActionInvoked"), this,
                SLOT(onActionInvoked(uint, QString)));
    bus.connect(service, path, service, QStringLiteral("NotificationClosed"), this,
                SLOT(onClosed(uint, uint)));
}

DesktopNotification::~DesktopNotification() {
    if (!m_available) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(service, path, service, QStringLiteral("ActionInvoked"), this,
                   SLOT(onActionInvoked(uint, QString)));
    bus.disconnect(service, path, service, QStringLiteral("NotificationClosed"), this,
                   SLOT(onClosed(uint, uint)));
}

void DesktopNotification::show(const QString& summary, const QString& body,
                               const QList<Action>& actions, int percent, bool lasting) {
    if (!m_available) return;
    Content content{summary, body, {}, percent, lasting};
    for (const auto& [key, label] : actions)
        content.actions << key << label;
    m_closeWanted = false;
    if (m_waiting || !m_answered) {
        m_next = std::move(content);
        if (!m_waiting) askCapabilities();
        return;
    }
    send(content);
}

void DesktopNotification::askCapabilities() {
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetCapabilities"));
    ask(call, [this](const QDBusMessage& answer) {
        m_answered = true;
        const QDBusReply<QStringList> reply(answer);
        if (!reply.isValid()) {
            fail();
            return;
        }
        // Without markup the service shows the body's characters as they are.
        m_markup = reply.value().contains(QStringLiteral("body-markup"));
        emit serverAnswered(true);
        sendNext();
    });
}

void DesktopNotification::ask(const QDBusMessage& call,
                              std::function<void(const QDBusMessage&)> answered) {
    m_waiting = true;
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::sessionBus().asyncCall(call, answerMs), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, answered = std::move(answered)](QDBusPendingCallWatcher* answer) {
                answer->deleteLater();
                m_waiting = false;
                answered(answer->reply());
            });
}

void DesktopNotification::fail() {
    m_available = false;
    m_next.reset();
    emit serverAnswered(false);
}

void DesktopNotification::sendNext() {
    if (m_next) {
        const Content next = std::move(*m_next);
        m_next.reset();
        send(next);
    } else if (m_closeWanted) {
        close();
    } else {
        emit shown();
    }
}

void DesktopNotification::send(const Content& content) {
    QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("lumatra")}};
    if (content.percent >= 0) hints.insert(QStringLiteral("value"), content.percent);
    if (content.lasting) hints.insert(QStringLiteral("resident"), true);
    // Progress updates come often: they neither sound nor pile up in the history.
    if (content.percent >= 0) hints.insert(QStringLiteral("transient"), true);
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("Notify"));
    call << QStringLiteral("Lumatra") << m_id << QStringLiteral("lumatra") << content.summary
         << (m_markup ? content.body.toHtmlEscaped() : content.body) << content.actions << hints
         << -1;
    ask(call, [this](const QDBusMessage& answer) {
        const QDBusReply<uint> reply(answer);
        if (!reply.isValid()) {
            fail();
            return;
        }
        m_id = reply.value();
        sendNext();
    });
}

void DesktopNotification::close() {
    m_next.reset();
    if (!m_available) return;
    if (m_waiting) {
        m_closeWanted = true;
        return;
    }
    if (m_id == 0) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall(service, path, service, QStringLiteral("CloseNotification"));
    call << m_id;
    QDBusConnection::sessionBus().asyncCall(call, answerMs);
}

void DesktopNotification::onActionInvoked(uint id, const QString& key) {
    if (id != 0 && id == m_id) emit actionInvoked(key);
}

void DesktopNotification::onClosed(uint id, uint reason) {
    if (id == 0 || id != m_id) return;
    m_id = 0;
    // The desktop notification protocol's reasons: 1 expired, 2 dismissed, 3 closed by a call.
    const bool byUser = reason == 2;
    // Progress still waiting to be sent would bring back what the user just put away.
    if (byUser && m_next && m_next->percent >= 0) m_next.reset();
    emit closed(byUser);
}

} // namespace lumatra
