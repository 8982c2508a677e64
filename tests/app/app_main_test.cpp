// The entry of the application tests: a GUI application object on the offscreen
// platform, the QML module, and the user's settings kept in a folder of the test run's own.

#include <QGuiApplication>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>

#include <gtest/gtest.h>

// The module "Lumatra" is linked in statically.
Q_IMPORT_QML_PLUGIN(LumatraPlugin)

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // The user's session bus stays out of the tests (its portal, its launcher); the portal
    // tests bring a private one.
    if (!qEnvironmentVariableIsSet("LUMATRA_TEST_PRIVATE_BUS"))
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
