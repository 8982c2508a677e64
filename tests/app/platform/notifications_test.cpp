// Converting from the file manager's menu: the real executable against a notification
// service of the test's own on a private bus (run under dbus-run-session, see
// tests/CMakeLists.txt), and handing its files to a running window. (Without any
// service it is tried by tests/desktop/check_file_manager_menus.py.)

#include "app/store/store_fixture.h"
#include "platform/notifications.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>

#include <gmock/gmock.h>

#include <optional>

namespace lumatra {
namespace {

using namespace lumatra::test;
namespace fs = std::filesystem;
using ::testing::HasSubstr;

// A notification service under its well-known name, on a connection of its own:
// remembers what it was asked to show, and sends the user's actions and closings as a
// desktop's service does.
class FakeService : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        uint id;
        QString summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    std::vector<Shown> shown;
    bool registered = false;

    FakeService() {
        m_bus.registerObject(path(), this, QDBusConnection::ExportAllSlots);
        registered = m_bus.registerService(name());
    }
    ~FakeService() override {
        m_bus.unregisterService(name());
        QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    }

    void invoke(uint id, const QString& key) { emitSignal("ActionInvoked", {id, key}); }
    void dismiss(uint id) { emitSignal("NotificationClosed", {id, 2u}); }
    // The latest notification whose summary starts with `prefix`, if any.
    const Shown* latest(const QString& prefix) const {
        for (auto it = shown.rbegin(); it != shown.rend(); ++it)
            if (it->summary.startsWith(prefix)) return &*it;
        return nullptr;
    }

public slots:
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints, int) {
        const uint id = replaces ? replaces : ++m_last;
        shown.push_back({id, summary, body, actions, hints});
        return id;
    }
    void CloseNotification(uint id) { emitSignal("NotificationClosed", {id, 3u}); }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

private:
    static QString name() { return QStringLiteral("org.freedesktop.Notifications"); }
    static QString path() { return QStringLiteral("/org/freedesktop/Notifications"); }
    void emitSignal(const char* member, const QVariantList& arguments) {
        QDBusMessage signal =
            QDBusMessage::createSignal(path(), name(), QString::fromLatin1(member));
        signal.setArguments(arguments);
        m_bus.send(signal);
    }

    QDBusConnection m_bus =
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("service"));
    uint m_last = 0;
};

// The tests against the service: only on the private bus of dbus-run-session.
class Notifications : public ::testing::Test {
protected:
    void SetUp() override {
        if (!qEnvironmentVariableIsSet("LUMATRA_TEST_PRIVATE_BUS") ||
            !QDBusConnection::sessionBus().isConnected())
            GTEST_SKIP() << "needs the private bus of dbus-run-session";
        service.emplace();
        ASSERT_TRUE(service->registered);
    }
    std::optional<FakeService> service;
};

// The environment of a run with saved settings and a runtime folder of its own in `home`.
QProcessEnvironment environmentIn(const fs::path& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    fs::create_directories(home / "runtime");
    fs::permissions(home / "runtime", fs::perms::owner_all);
    env.insert("XDG_CONFIG_HOME", QString::fromStdString((home / "config").string()));
    env.insert("XDG_RUNTIME_DIR", QString::fromStdString((home / "runtime").string()));
    return env;
}

// `lumatra --convert-to TARGET FILE…` as the menu starts it, with saved settings of its
// own and no window socket of the user's; killed, if still running, at the end.
struct MenuRun {
    MenuRun(const fs::path& home, const char* target, const fs::path& folder,
            const std::vector<std::string>& files)
        : MenuRun(environmentIn(home), target, folder, files) {}
    MenuRun(const QProcessEnvironment& env, const char* target, const fs::path& folder,
            const std::vector<std::string>& files) {
        QStringList arguments{QStringLiteral("--convert-to"), QString::fromUtf8(target)};
        for (const auto& file : files)
            arguments << QString::fromStdString((folder / file).string());
        process.setProcessEnvironment(env);
        process.start(QStringLiteral(LUMATRA_BINARY), arguments);
        process.waitForStarted(5000);
    }
    bool ended(int ms = 60000) {
        return waitFor([&] { return process.state() == QProcess::NotRunning; }, ms);
    }

    QProcess process;
};

TEST_F(Notifications, MenuConversionsTellTheirProgressAndEndAndTheWindowItsEnd) {
    // The window's one-off line at a batch's end: a call the service would refuse (a
    // wrong argument type) is dropped without a word, so it is checked against a service.
    showDesktopNotification(QStringLiteral("Lumatra: конвертирование закончено"),
                            QStringLiteral("Готово 19 · 1 ошибка"));
    ASSERT_TRUE(waitFor([&] { return service->latest("Lumatra") != nullptr; }, 5000));
    EXPECT_EQ(service->latest("Lumatra")->body, QStringLiteral("Готово 19 · 1 ошибка"));

    ScratchDir scratch;
    makeTone(scratch / "a.wav", 0.3);
    makeTone(scratch / "b c.wav", 0.3);
    makeTone(scratch / "r&b.wav", 0.3);
    writeFile(scratch / "broken.wav", "no sound here");

    struct Case {
        std::vector<std::string> files;
        const char* summary;
        QStringList actions;
        const char* body; // a part of the end's body
        int status;
    };
    const QStringList show{"show", "Показать"};
    // clang-format off
    const Case cases[] = {
        {{"a.wav", "b c.wav"}, "Готово 2 → MP3", show, "В папке «", 0},
        // The service has no markup: the name arrives as it is.
        {{"r&b.wav"}, "Готово 1 → MP3", show + QStringList{"open", "Открыть"}, "r&b.mp3", 0},
        // A signal ends its wait for the user's answer.
        {{"a.wav", "broken.wav"}, "Готово 1, ошибок 1", show, "broken.wav: ", 1},
    };
    // clang-format on
    for (const Case& c : cases) {
        SCOPED_TRACE(c.summary);
        service->shown.clear();
        MenuRun run(scratch / "home", "mp3", scratch.path(), c.files);
        ASSERT_TRUE(waitFor([&] { return service->latest(c.summary) != nullptr; }));
        const auto* end = service->latest(c.summary);
        EXPECT_EQ(end->actions, c.actions);
        EXPECT_THAT(end->body.toStdString(), HasSubstr(c.body));
        // While it ran: "Конвертирую N из M → MP3" with a way to stop and a progress hint.
        const auto* progress = service->latest(QStringLiteral("Конвертирую 1 из "));
        ASSERT_NE(progress, nullptr);
        EXPECT_EQ(progress->summary,
                  QStringLiteral("Конвертирую 1 из %1 → MP3").arg(c.files.size()));
        EXPECT_EQ(progress->actions, (QStringList{"stop", "Остановить"}));
        EXPECT_TRUE(progress->hints.contains(QStringLiteral("value")));
        EXPECT_EQ(progress->id, end->id) << "one notification, updated";
        // It waits for the user's answer, and ends with the notification (or a signal).
        EXPECT_FALSE(run.ended(300));
        if (c.status != 0)
            run.process.terminate();
        else
            service->dismiss(end->id);
        ASSERT_TRUE(run.ended(10000));
        EXPECT_EQ(run.process.exitCode(), c.status);
    }
    EXPECT_TRUE(fs::exists(scratch / "a.mp3"));
    EXPECT_TRUE(fs::exists(scratch / "b c.mp3"));
}

TEST_F(Notifications, StopEndsTheBatchAndASecondMenuConversionJoinsIt) {
    ScratchDir scratch;
    // Long enough to be still converting when the test ends it, on a fast machine too.
    makeClip(scratch / "long.mp4", 600, false);
    makeTone(scratch / "late.wav", 0.3);

    MenuRun first(scratch / "home", "hevc", scratch.path(), {"long.mp4"});
    ASSERT_TRUE(waitFor([&] { return service->latest("Конвертирую") != nullptr; }));
    // A second conversion from the menu hands its file over and leaves at once.
    MenuRun second(scratch / "home", "mp3", scratch.path(), {"late.wav"});
    ASSERT_TRUE(second.ended(10000));
    EXPECT_EQ(second.process.exitCode(), 0);
    ASSERT_TRUE(waitFor([&] {
        const auto* now = service->latest("Конвертирую");
        return now && now->summary.contains(QStringLiteral(" из 2 → MP4 HEVC, MP3"));
    }));

    service->invoke(service->shown.back().id, QStringLiteral("stop"));
    ASSERT_TRUE(waitFor([&] { return service->latest("Остановлено") != nullptr; }, 10000));
    EXPECT_TRUE(first.ended(10000)) << "nothing to wait for once stopped without results";
    EXPECT_EQ(first.process.exitCode(), 1);
    // The stopped conversion left nothing behind; the late file never started.
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"home", "late.wav", "long.mp4"}));

    // Progress the user dismissed stays away until the end.
    service->shown.clear();
    MenuRun run(scratch / "home", "hevc", scratch.path(), {"long.mp4"});
    // Once it has been updated: by then the program knows the notification's number.
    ASSERT_TRUE(waitFor([&] { return service->shown.size() >= 2; }));
    service->dismiss(service->shown.back().id);
    // An update already on its way when the user dismissed it may still arrive.
    QTest::qWait(1000);
    const auto count = service->shown.size();
    QTest::qWait(1500);
    EXPECT_EQ(service->shown.size(), count);
    // A signal stops it like «Остановить», and the end is shown again.
    run.process.terminate();
    ASSERT_TRUE(run.ended(10000));
    ASSERT_NE(service->latest("Остановлено"), nullptr);
    EXPECT_EQ(scratch.entries(), (std::vector<std::string>{"home", "late.wav", "long.mp4"}));
}

TEST(MenuConversion, GoesToTheRunningWindowWhichConvertsWithItsTarget) {
    ScratchDir scratch;
    makeTone(scratch / "a.wav", 0.3);
    const fs::path home = scratch / "home";
    QProcessEnvironment env = environmentIn(home);
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
    QProcess window;
    window.setProcessEnvironment(env);
    window.start(QStringLiteral(LUMATRA_BINARY), {});
    ASSERT_TRUE(waitFor([&] { return fs::exists(home / "runtime/lumatra.socket"); }, 30000));

    // FLAC: not what the window proposes for a WAV file.
    MenuRun run(env, "FLAC", scratch.path(), {"a.wav"});
    ASSERT_TRUE(run.ended(10000));
    EXPECT_EQ(run.process.exitCode(), 0);
    EXPECT_EQ(run.process.readAllStandardError(), QByteArray()) << "it converted nothing itself";
    EXPECT_TRUE(waitFor([&] { return fs::exists(scratch / "a.flac"); }, 30000));
    window.terminate();
    EXPECT_TRUE(window.waitForFinished(10000));
}

} // namespace
} // namespace lumatra

#include "notifications_test.moc"
