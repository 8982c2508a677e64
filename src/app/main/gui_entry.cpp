#include "main/gui_entry.h"

#include "main/menu_conversion.h"
#include "platform/settings.h"
#include "platform/single_instance.h"
#include "platform/sounds.h"
#include "store/lifecycle.h"
#include "store/store.h"
#include "views/main_window.h"

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QIcon>
#include <QQmlApplicationEngine>
#include <QQuickWindow>
#include <QSaveFile>
#include <QSettings>
#include <QSocketNotifier>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <cstdio>
#include <thread>
#include <unordered_set>

// The QML module is linked statically; this pulls in its type registrations.
Q_IMPORT_QML_PLUGIN(LumatraPlugin)

namespace lumatra::Main {

namespace {

// SIGINT, SIGTERM and SIGHUP end the application the ordinary way, so that the store
// stops the running conversion (its program is reaped, its unfinished output removed)
// instead of the process dying with a hidden file left in the output folder. Must be
// made before any thread exists: the threads inherit the blocked signals, and the
// process runner unblocks them again for the programs it starts.
class QuitOnSignals {
public:
    QuitOnSignals() {
        sigemptyset(&m_signals);
        for (int number : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&m_signals, number);
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_fd = ::signalfd(-1, &m_signals, SFD_CLOEXEC | SFD_NONBLOCK);
    }
    QuitOnSignals(const QuitOnSignals&) = delete;
    QuitOnSignals& operator=(const QuitOnSignals&) = delete;
    ~QuitOnSignals() {
        if (m_fd >= 0) ::close(m_fd);
    }

    /// Starts listening; call once the application object exists. `quit` runs for every
    /// signal; by default the window stops its conversions and quits.
    void listen(std::function<void()> quit = {}) {
        if (m_fd < 0) return;
        // Owned by the application, so it goes before the event dispatcher does.
        auto* notifier =
            new QSocketNotifier(m_fd, QSocketNotifier::Read, QCoreApplication::instance());
        QObject::connect(notifier, &QSocketNotifier::activated, [this, quit] {
            signalfd_siginfo info{};
            while (::read(m_fd, &info, sizeof info) == sizeof info) {
            }
            // The same way out as "Выйти": the conversion stops before the program ends.
            if (quit)
                quit();
            else
                Lifecycle::shared()->quitAfterStopping();
        });
    }

private:
    sigset_t m_signals{};
    int m_fd = -1;
};

QStringList absolutePaths(const std::vector<std::string>& files) {
    QStringList paths;
    for (const std::string& file : files)
        paths.append(
            QDir::current().absoluteFilePath(QFile::decodeName(QByteArray::fromStdString(file))));
    return paths;
}

// Qt and the desktop's libraries keep their sockets in the user's runtime folder; when
// the session names none, the private folder made for ours stands in.
void provideRuntimeFolder() {
    if (!qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR")) return;
    if (const auto folder = privateRuntimeFolder()) qputenv("XDG_RUNTIME_DIR", folder->c_str());
}

// Brings the window to the front, also when it is minimised or hidden.
void raise(QQuickWindow& window) {
    if (!window.isVisible() || window.visibility() == QWindow::Minimized) window.showNormal();
    window.raise();
    window.requestActivate();
}

// Files the file manager's menu sent to the window: they join the list with `target`
// chosen (where they can take it) and start at once, like ready rows of the list
// that name them.
void convertInWindow(const QStringList& paths, const QString& target) {
    const auto format = formatFromRaw(target.toStdString());
    Store& store = *Store::shared();
    std::unordered_set<const Job*> before;
    for (const auto& job : store.jobs()->jobs())
        before.insert(job.get());
    store.addPaths(paths);
    if (!format) return;
    std::unordered_set<std::string> named;
    for (const QString& path : paths)
        named.insert(QFile::encodeName(path).toStdString());
    std::vector<Job*> chosen;
    for (const auto& job : store.jobs()->jobs()) {
        const bool fresh = !before.contains(job.get());
        if (job->status() != Job::Status::Ready || !job->canProduce(*format)) continue;
        if (fresh || named.contains(job->path().native())) chosen.push_back(job.get());
    }
    for (Job* job : chosen) {
        job->setTarget(*format);
        store.convert(job);
    }
}

void setNames() {
    QGuiApplication::setOrganizationName(QStringLiteral("Lumatra"));
    QGuiApplication::setApplicationName(QStringLiteral("Lumatra"));
    QGuiApplication::setApplicationDisplayName(QStringLiteral("Lumatra"));
    QGuiApplication::setDesktopFileName(QStringLiteral("lumatra"));
}

} // namespace

int runWindow(int argc, char** argv, const std::vector<std::string>& files) {
    QuitOnSignals quitOnSignals;
    provideRuntimeFolder();
    // A window of this user runs already: it takes the files and comes to the front.
    if (forwardToRunningInstance(files)) return 0;

    setNames();
    QGuiApplication app(argc, argv);
    InstanceServer instance;
    if (!instance.listen() && forwardToRunningInstance(files)) return 0;
    quitOnSignals.listen();
    MainWindow::chooseRenderer();
    MainWindow::prepareApplication();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/qt/qml/Lumatra/resources/lumatra.svg")));

    Store::shared()->setPreparesConversions(true);
    Store::shared()->addPaths(absolutePaths(files));
    Lifecycle::shared();
    // Outlives the window, which saves its place here when it closes.
    QSettings windowPlace;
    QQmlApplicationEngine engine;
    QQuickWindow* window = MainWindow::load(engine);
    if (!window) return 1;
    MainWindow::rememberGeometry(*window, windowPlace);
    QObject::connect(&instance, &InstanceServer::filesReceived, window,
                     [window](const QStringList& paths) {
                         Store::shared()->addPaths(paths);
                         raise(*window);
                     });
    QObject::connect(&instance, &InstanceServer::conversionRequested, window,
                     [window](const QStringList& paths, const QString& target) {
                         convertInWindow(paths, target);
                         raise(*window);
                     });
    QTimer::singleShot(0, [] { prepareSystemSounds(); });
    // Files handed over while the window waits to quit would be lost with it.
    QObject::connect(Lifecycle::shared(), &Lifecycle::quittingChanged, &instance,
                     &InstanceServer::close);
    const int status = QGuiApplication::exec();
    Store::shared()->releaseTextEngine();
    return status;
}

int convertFromMenu(int argc, char** argv, Format target, const std::vector<std::string>& files) {
    QuitOnSignals quitOnSignals;
    provideRuntimeFolder();
    std::vector<std::string> paths;
    for (const std::string& file : files)
        paths.push_back(pathFromArgument(file));
    const std::string raw(rawValue(target));
    // The window, when it runs, takes them; else a conversion of the menu running already.
    if (const auto window = instanceSocketPath(); window && forwardConversion(*window, paths, raw))
        return 0;
    const auto socketPath = conversionSocketPath();
    if (socketPath && forwardConversion(*socketPath, paths, raw)) return 0;

    setNames();
    QCoreApplication app(argc, argv);
    InstanceServer queue(socketPath.value_or(std::filesystem::path()));
    // Two menu conversions started at once: the one that listens first takes both.
    if (socketPath && !queue.listen() && forwardConversion(*socketPath, paths, raw)) return 0;

    const AppSettings settings;
    Options options;
    options.quality = settings.quality();
    options.outputDirectory = settings.outputDirectory();
    const int budget = std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
    MenuConversion conversion(options, budget);
    QObject::connect(&queue, &InstanceServer::conversionRequested, &conversion,
                     [&conversion](const QStringList& more, const QString& name) {
                         const auto format = formatFromRaw(name.toStdString());
                         if (!format) return;
                         std::vector<std::string> list;
                         for (const QString& path : more)
                             list.push_back(QFile::encodeName(path).toStdString());
                         conversion.add(list, *format);
                     });
    QObject::connect(&conversion, &MenuConversion::finished, &app, [&queue] {
        // Files handed over from now on start a conversion of their own.
        queue.close();
        QCoreApplication::quit();
    });
    quitOnSignals.listen([&conversion] { conversion.stop(); });
    conversion.add(paths, target);
    QCoreApplication::exec();
    return conversion.status();
}

int snapshot(int argc, char** argv, const std::string& out, const std::vector<std::string>& files) {
    MainWindow::selectOffscreenRendering();
    provideRuntimeFolder();
    setNames();
    QGuiApplication app(argc, argv);
    MainWindow::prepareApplication();

    Store& store = *Store::shared();
    store.addPaths(absolutePaths(files));
    MainWindow::stageDemoStates(store);

    QQmlApplicationEngine engine;
    QQuickWindow* window = MainWindow::load(engine);
    const QImage picture = window ? MainWindow::settleAndGrab(*window, 1500) : QImage();
    if (picture.isNull()) {
        std::fputs("Не удалось нарисовать окно для снимка\n", stderr);
        return 1;
    }
    // Written whole or not at all: a picture that is already there is replaced only by a
    // complete one.
    QSaveFile file(QString::fromStdString(out));
    if (!file.open(QIODevice::WriteOnly) || !picture.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "Не удалось записать снимок в %s\n", out.c_str());
        return 1;
    }
    std::printf("Снимок: %s\n", out.c_str());
    std::fflush(stdout);
    return 0;
}

} // namespace lumatra::Main

extern "C" int lumatra_window_run(int argc, char** argv, const std::vector<std::string>& files) {
    return lumatra::Main::runWindow(argc, argv, files);
}

extern "C" int lumatra_window_convert(int argc, char** argv, lumatra::Format target,
                                      const std::vector<std::string>& files) {
    return lumatra::Main::convertFromMenu(argc, argv, target, files);
}

extern "C" int lumatra_window_snapshot(int argc, char** argv, const std::string& out,
                                       const std::vector<std::string>& files) {
    return lumatra::Main::snapshot(argc, argv, out, files);
}
