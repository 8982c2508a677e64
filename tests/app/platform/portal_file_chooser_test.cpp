// The desktop's file dialog through the portal, against a portal of the test's own on
// the session bus (run under dbus-run-session); skipped where there is no bus.

#include "platform/portal_file_chooser.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

namespace lumatra {
namespace {

// Answers OpenFile the way the portal does: the request's path at once, the user's
// answer later as that request's Response signal. Lives on a connection and a thread of
// its own (the chooser blocks on its first question), under the portal's name.
class FakePortal : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")
    Q_PROPERTY(uint version READ version)

public:
    FakePortal(uint response, QStringList uris) : m_response(response), m_uris(std::move(uris)) {
        m_thread.start();
        moveToThread(&m_thread);
        m_bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), this,
                             QDBusConnection::ExportAllSlots |
                                 QDBusConnection::ExportAllProperties);
        registered = m_bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"));
    }
    ~FakePortal() override {
        m_bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        m_bus.unregisterObject(QStringLiteral("/org/freedesktop/portal/desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("fake"));
        m_thread.quit();
        m_thread.wait();
    }
    uint version() const { return 3; }

    bool registered = false;
    QVariantMap lastOptions;
    QString lastTitle;

public slots:
    QDBusObjectPath OpenFile(const QString&, const QString& title, const QVariantMap& options,
                             const QDBusMessage& message) {
        lastOptions = options;
        lastTitle = title;
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QString path =
            QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2")
                .arg(sender, options.value(QStringLiteral("handle_token")).toString());
        QTimer::singleShot(50, this, [this, path] {
            QDBusMessage signal = QDBusMessage::createSignal(
                path, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
            signal << m_response << QVariantMap{{QStringLiteral("uris"), m_uris}};
            m_bus.send(signal);
        });
        return QDBusObjectPath(path);
    }

private:
    QThread m_thread;
    QDBusConnection m_bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("fake"));
    uint m_response;
    QStringList m_uris;
};

TEST(Portal, ChoosesThroughThePortalWhereOneRuns) {
    // Only on the private bus of dbus-run-session (see tests/CMakeLists.txt), never on the
    // user's own, whose real portal must not be disturbed.
    if (!qEnvironmentVariableIsSet("LUMATRA_TEST_PRIVATE_BUS") ||
        !QDBusConnection::sessionBus().isConnected())
        GTEST_SKIP() << "needs a private session bus";
    {
        PortalFileChooser nothing;
        EXPECT_FALSE(nothing.isAvailable());
        // A name on the bus without a file chooser behind it: asked anyway, the question
        // fails at once (so that the window's own panel shows) rather than waiting for ever.
        QDBusConnection bus =
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("bare"));
        ASSERT_TRUE(bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
        PortalFileChooser chooser;
        EXPECT_FALSE(chooser.isAvailable());
        QSignalSpy failed(&chooser, &PortalFileChooser::failed);
        chooser.choose(QStringLiteral("x"), QStringLiteral("y"), false);
        EXPECT_TRUE(QTest::qWaitFor([&] { return failed.count() == 1; }, 5000));
        EXPECT_FALSE(chooser.isBusy());
        bus.unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        QDBusConnection::disconnectFromBus(QStringLiteral("bare"));
    }
    struct Case {
        uint response; // 0 chosen, 1 cancelled by the user, 2 the portal gave up
        bool folder;
        int chosen, cancelled, failed;
    };
    for (const Case& c :
         {Case{0, false, 1, 0, 0}, {0, true, 1, 0, 0}, {1, false, 0, 1, 0}, {2, false, 0, 0, 1}}) {
        SCOPED_TRACE(std::to_string(c.response) + (c.folder ? " folder" : ""));
        FakePortal portal(c.response, {QStringLiteral("file:///tmp/a.wav"),
                                       QStringLiteral("file:///tmp/b%20c.wav"),
                                       QStringLiteral("https://example.org/x")});
        ASSERT_TRUE(portal.registered);
        PortalFileChooser chooser;
        ASSERT_TRUE(chooser.isAvailable());
        QSignalSpy chosen(&chooser, &PortalFileChooser::chosen);
        QSignalSpy cancelled(&chooser, &PortalFileChooser::cancelled);
        QSignalSpy failed(&chooser, &PortalFileChooser::failed);
        chooser.choose(QStringLiteral("Добавить файлы"), QStringLiteral("Добавить"), c.folder);
        EXPECT_TRUE(chooser.isBusy());
        EXPECT_TRUE(QTest::qWaitFor([&] { return !chooser.isBusy(); }, 5000));
        EXPECT_EQ(chosen.count(), c.chosen);
        EXPECT_EQ(cancelled.count(), c.cancelled);
        EXPECT_EQ(failed.count(), c.failed);
        EXPECT_EQ(portal.lastTitle, QStringLiteral("Добавить файлы"));
        EXPECT_EQ(portal.lastOptions.value(QStringLiteral("multiple")).toBool(), !c.folder);
        EXPECT_EQ(portal.lastOptions.value(QStringLiteral("directory")).toBool(), c.folder);
        EXPECT_EQ(portal.lastOptions.value(QStringLiteral("accept_label")).toString(),
                  QStringLiteral("Добавить"));
        if (c.chosen == 1) {
            // Only local files come through.
            const auto urls = chosen.at(0).at(0).value<QList<QUrl>>();
            EXPECT_EQ(urls, (QList<QUrl>{QUrl::fromLocalFile(QStringLiteral("/tmp/a.wav")),
                                         QUrl::fromLocalFile(QStringLiteral("/tmp/b c.wav"))}));
        }
    }
}

} // namespace
} // namespace lumatra

#include "portal_file_chooser_test.moc"
