#pragma once
// Desktop notifications through the freedesktop notification service
// (org.freedesktop.Notifications on the session bus).

#include <QDBusMessage>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace lumatra {

/// Whether a session bus can be there at all: its address is set, or the per-user
/// socket the bus library falls back to exists. Without either, asking Qt for the bus
/// would only start a connection thread that finds nothing.
bool sessionBusExpected();

/// Shows `summary` and `body` once, with no actions and no update. Returns at once and
/// never waits for an answer: without a bus or a notification server nothing is shown.
void showDesktopNotification(const QString& summary, const QString& body);

/// One notification on the desktop, shown and then updated in place. Every call returns
/// at once: the service is asked asynchronously with a short time-out, so a missing or
/// hung service never blocks the caller; its absence is reported by serverAnswered.
/// Main thread (it needs the event loop of the thread that made it).
class DesktopNotification : public QObject {
    Q_OBJECT

public:
    /// An action button: the key the service hands back, and the label it shows.
    using Action = QPair<QString, QString>;

    explicit DesktopNotification(QObject* parent = nullptr);
    ~DesktopNotification() override;

    /// Shows the notification, or replaces what it shows (`body` is plain text). `percent` from 0
    /// to 100 adds the progress hint that services which draw a bar understand (the others ignore
    /// it); -1 shows none. `lasting` asks the service to keep it after its bubble has
    /// gone, until the user acts.
    /// Calls made while the service has not yet answered an earlier one are merged:
    /// only the latest is sent then.
    void show(const QString& summary, const QString& body, const QList<Action>& actions = {},
              int percent = -1, bool lasting = false);
    /// Takes the notification off the desktop.
    void close();

    /// False once the service failed to answer (none runs, or it timed out); until the
    /// first answer, true when a session bus is expected.
    bool available() const { return m_available; }
    /// The service's number for the notification shown; 0 before the first answer.
    uint id() const { return m_id; }

signals:
    /// The user chose the action with this key.
    void actionInvoked(const QString& key);
    /// The notification went away: dismissed by the user (`byUser`), expired or closed
    /// by close(). A later show() makes a new one.
    void closed(bool byUser);
    /// The service answered the first show() (true), or failed to answer a call (false:
    /// from then on nothing is shown).
    void serverAnswered(bool present);
    /// The service shows what the latest show() asked for.
    void shown();

private slots:
    void onActionInvoked(uint id, const QString& key);
    void onClosed(uint id, uint reason);

private:
    struct Content {
        QString summary;
        QString body;
        QStringList actions;
        int percent = -1;
        bool lasting = false;
    };
    void askCapabilities();
    /// Sends `call` without waiting; `answered` gets its answer on this thread.
    void ask(const QDBusMessage& call, std::function<void(const QDBusMessage&)> answered);
    void send(const Content& content);
    void sendNext();
    void fail();

    bool m_available;
    bool m_waiting = false;  // a call is on its way
    bool m_answered = false; // the service told its capabilities
    bool m_markup = false;
    bool m_closeWanted = false;
    uint m_id = 0;
    std::optional<Content> m_next; // what to send once the call on its way is answered
};

} // namespace lumatra
