#include "views/main_window.h"

#include "store/store.h"

#include <QEventLoop>
#include <QFont>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QPalette>
#include <QQmlApplicationEngine>
#include <QQuickStyle>
#include <QQuickWindow>
#include <QScreen>
#include <QSettings>
#include <QTimer>
#include <QTranslator>

namespace lumatra::MainWindow {

namespace {

QPalette darkPalette() {
    const QColor background(5, 5, 5);
    const QColor raised(22, 22, 23);
    const QColor text(244, 241, 235);
    const QColor muted(143, 139, 132);
    const QColor accent(241, 38, 23);
    QPalette palette;
    for (auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        palette.setColor(group, QPalette::Window, QColor(14, 14, 15));
        palette.setColor(group, QPalette::WindowText, group == QPalette::Disabled ? muted : text);
        palette.setColor(group, QPalette::Base, background);
        palette.setColor(group, QPalette::AlternateBase, raised);
        palette.setColor(group, QPalette::Text, group == QPalette::Disabled ? muted : text);
        palette.setColor(group, QPalette::Button, raised);
        palette.setColor(group, QPalette::ButtonText, group == QPalette::Disabled ? muted : text);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Light, QColor(46, 46, 48));
        palette.setColor(group, QPalette::Midlight, QColor(34, 34, 36));
        palette.setColor(group, QPalette::Mid, QColor(28, 28, 30));
        palette.setColor(group, QPalette::Dark, QColor(10, 10, 11));
        palette.setColor(group, QPalette::Shadow, Qt::black);
        palette.setColor(group, QPalette::Highlight, accent);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::ToolTipBase, raised);
        palette.setColor(group, QPalette::ToolTipText, text);
        palette.setColor(group, QPalette::PlaceholderText, muted);
        palette.setColor(group, QPalette::Link, QColor(255, 74, 46));
    }
    return palette;
}

} // namespace

void selectOffscreenRendering() {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

bool isSoftwareRasterizer(const QString& renderer) {
    const QString name = renderer.toLower();
    for (const char* software : {"llvmpipe", "softpipe", "swrast", "software rasterizer", "swr "})
        if (name.contains(QLatin1String(software))) return true;
    return false;
}

void chooseRenderer() {
    for (const char* chosen : {"QT_QUICK_BACKEND", "QSG_RHI_BACKEND", "QMLSCENE_DEVICE"})
        if (!qEnvironmentVariableIsEmpty(chosen)) return;
    if (QQuickWindow::graphicsApi() != QSGRendererInterface::Unknown &&
        QQuickWindow::graphicsApi() != QSGRendererInterface::OpenGL)
        return;
    QOffscreenSurface surface;
    surface.create();
    QOpenGLContext context;
    if (!surface.isValid() || !context.create() || !context.makeCurrent(&surface)) return;
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    const QString renderer = name ? QString::fromLatin1(name) : QString();
    context.doneCurrent();
    if (isSoftwareRasterizer(renderer))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
}

void prepareApplication() {
    QQuickStyle::setStyle(QStringLiteral("Basic"));
    QGuiApplication::setPalette(darkPalette());
    QFontDatabase::addApplicationFont(QString::fromLatin1(iconFontPath));
    const QStringList families = QFontDatabase::families();
    for (const char* family : {"Inter", "Noto Sans", "DejaVu Sans"}) {
        if (!families.contains(QLatin1String(family))) continue;
        QFont font{QString::fromLatin1(family)};
        font.setPixelSize(13);
        QGuiApplication::setFont(font);
        break;
    }
    // The toolkit's own texts (standard buttons, dialogs, shortcuts) speak the window's
    // language whatever the desktop's is.
    auto* translator = new QTranslator(QCoreApplication::instance());
    if (translator->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qt"),
                         QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(translator);
    // Durations are written with the user's decimal separator; with no locale set at
    // all, the Russian interface should not fall back to English "2.4".
    if (QLocale::system().language() == QLocale::C)
        QLocale::setDefault(QLocale(QLocale::Russian, QLocale::Russia));
}

void prepareEngine(QQmlEngine& engine) {
    // Qt 6.4 does not search the resources' module root on its own.
    engine.addImportPath(QStringLiteral("qrc:/qt/qml"));
}

QQuickWindow* load(QQmlApplicationEngine& engine) {
    prepareEngine(engine);
    engine.load(QUrl(QStringLiteral("qrc:/qt/qml/Lumatra/qml/Main.qml")));
    if (engine.rootObjects().isEmpty()) return nullptr;
    return qobject_cast<QQuickWindow*>(engine.rootObjects().constFirst());
}

std::optional<QRect> savedGeometry(const QSettings& settings, const QList<QRect>& screens,
                                   QSize minimum) {
    const QRect saved = settings.value(QStringLiteral("window/geometry")).toRect();
    if (!saved.isValid() || saved.width() < minimum.width() || saved.height() < minimum.height())
        return std::nullopt;
    // A screen that went away (an unplugged monitor) must not keep the window out of
    // sight.
    for (const QRect& screen : screens) {
        const QRect seen = screen.intersected(saved);
        if (2 * static_cast<qint64>(seen.width()) * seen.height() >=
            static_cast<qint64>(saved.width()) * saved.height())
            return saved;
    }
    return std::nullopt;
}

void rememberGeometry(QQuickWindow& window, QSettings& settings) {
    QList<QRect> screens;
    for (const QScreen* screen : QGuiApplication::screens())
        screens.append(screen->availableGeometry());
    if (const auto saved = savedGeometry(settings, screens, window.minimumSize()))
        window.setGeometry(*saved);
    if (settings.value(QStringLiteral("window/maximized")).toBool()) window.showMaximized();

    const auto save = [&window, &settings] {
        const bool maximized = window.visibility() == QWindow::Maximized;
        settings.setValue(QStringLiteral("window/maximized"), maximized);
        // A maximised window keeps the place it had before.
        if (!maximized && window.visibility() != QWindow::FullScreen)
            settings.setValue(QStringLiteral("window/geometry"), window.geometry());
        settings.sync();
    };
    QObject::connect(qApp, &QCoreApplication::aboutToQuit, &window, save);
}

void stageDemoStates(Store& store) {
    JobListModel& jobs = *store.jobs();
    if (jobs.count() <= 3) return;
    jobs.at(0)->markRunning(0.42);

    Job& done = *jobs.at(1);
    std::filesystem::path output = done.path();
    output.replace_extension(std::string(ext(done.target())));
    done.markDone(ConvertResult{output, done.bytes() / 3, 2.4});

    jobs.at(2)->markFailed(QStringLiteral("В файле нет звуковой дорожки"));
}

QImage settleAndGrab(QQuickWindow& window, int milliseconds) {
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
    return window.grabWindow();
}

} // namespace lumatra::MainWindow
