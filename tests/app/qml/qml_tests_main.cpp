// The entry of the view tests (Qt Quick Test): the real module and shared store on the
// offscreen platform, and `stage`, which makes files and puts jobs into the states a
// conversion would leave them in.

#include "store/store.h"
#include "views/main_window.h"

#include <QDir>
#include <QFile>
#include <QQmlContext>
#include <QQmlEngine>
#include <QQuickWindow>
#include <QTemporaryDir>
#include <QtQml/qqmlextensionplugin.h>
#include <QtQuickTest>

Q_IMPORT_QML_PLUGIN(LumatraPlugin)

namespace lumatra {

class Stage : public QObject {
    Q_OBJECT

public:
    /// A folder in the scratch folder holding the named files; returns its path.
    Q_INVOKABLE QString makeFolder(const QString& name, const QStringList& files) {
        QDir(m_dir.path()).mkpath(name);
        for (const QString& file : files)
            makeFile(name + QLatin1Char('/') + file);
        return m_dir.filePath(name);
    }
    /// Adds a new file of that name to the shared store and returns its job.
    Q_INVOKABLE lumatra::Job* addJob(const QString& name) {
        Store& store = *Store::shared();
        store.addPaths({makeFile(name)});
        return store.jobs()->count() > 0 ? store.jobs()->at(store.jobs()->count() - 1) : nullptr;
    }
    /// Empties the shared store's list, running jobs included.
    Q_INVOKABLE void clear() {
        Store::shared()->cancelAll();
        Store::shared()->jobs()->removeIf([](const Job&) { return true; });
        Store::shared()->setFfmpegMissing(false);
    }
    Q_INVOKABLE void queued(lumatra::Job* job) { job->markQueued(); }
    Q_INVOKABLE void running(lumatra::Job* job, double fraction) { job->markRunning(fraction); }
    Q_INVOKABLE void done(lumatra::Job* job, double seconds) {
        std::filesystem::path output = job->path();
        output.replace_extension(std::string(ext(job->target())));
        job->markDone(ConvertResult{output, job->bytes() / 3, seconds});
    }
    Q_INVOKABLE void failed(lumatra::Job* job, const QString& message) { job->markFailed(message); }
    Q_INVOKABLE void cancelled(lumatra::Job* job) { job->markCancelled(); }

private:
    /// A file of 1000 bytes in the run's scratch folder; returns its path.
    QString makeFile(const QString& name) {
        QFile file(m_dir.filePath(name));
        if (file.open(QIODevice::WriteOnly)) file.write(QByteArray(1000, 'x'));
        return file.fileName();
    }

    QTemporaryDir m_dir;
};

class Setup : public QObject {
    Q_OBJECT

public:
    Setup() {
        // The store reads and writes the user's settings: keep them in the run's folder.
        qputenv("XDG_CONFIG_HOME", m_config.path().toLocal8Bit());
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // No session bus: the window's own file panels, never the desktop's portal.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent");
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    }

public slots:
    void applicationAvailable() { MainWindow::prepareApplication(); }
    void qmlEngineAvailable(QQmlEngine* engine) {
        MainWindow::prepareEngine(*engine);
        engine->rootContext()->setContextProperty(QStringLiteral("stage"), &m_stage);
    }

private:
    QTemporaryDir m_config;
    Stage m_stage;
};

} // namespace lumatra

QUICK_TEST_MAIN_WITH_SETUP(views, lumatra::Setup)

#include "qml_tests_main.moc"
