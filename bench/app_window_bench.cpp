// Frame times of the main window with 1,000 jobs in the list while a video converts.
//
// Build with -DLUMATRA_BENCH=ON; run build/bench/app_window_bench. The window draws with
// Qt's offscreen platform and software scene graph (as the snapshot does), so a frame's
// time is the whole CPU cost of one frame: animations, bindings, polish, sync, render.
// 60 frames per second leave 16.7 ms per frame.

#include "store/store.h"
#include "views/main_window.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QQmlApplicationEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QtQml/qqmlextensionplugin.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

Q_IMPORT_QML_PLUGIN(LumatraPlugin)

namespace {

using lumatra::Job;
using lumatra::Store;

QQuickWindow* window = nullptr;
QQuickItem* list = nullptr;

/// Renders one frame and returns when it has been drawn.
void renderFrame() {
    QEventLoop loop;
    QObject::connect(window, &QQuickWindow::frameSwapped, &loop, &QEventLoop::quit);
    QTimer::singleShot(1000, &loop, &QEventLoop::quit);
    window->update();
    loop.exec();
}

/// Each iteration is one frame; `scroll` moves the list by 6 points a frame (a brisk
/// wheel scroll through the 1,000 rows), otherwise only the running row's progress and
/// the animations change.
void Frame(benchmark::State& state) {
    const bool scroll = state.range(0) != 0;
    const double end = list->property("contentHeight").toDouble() - list->height();
    list->setProperty("contentY", 0.0);
    std::vector<double> times;
    QElapsedTimer clock;
    double y = 0;
    for (auto _ : state) {
        if (scroll) {
            y = y + 6 > end ? 0 : y + 6;
            list->setProperty("contentY", y);
        }
        clock.start();
        renderFrame();
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    const auto at = [&](double q) {
        return times[static_cast<std::size_t>(q * (times.size() - 1))];
    };
    state.counters["median_ms"] = at(0.5);
    state.counters["p99_ms"] = at(0.99);
    state.counters["max_ms"] = times.back();
    state.counters["over_16.7ms"] = static_cast<double>(
        std::count_if(times.begin(), times.end(), [](double t) { return t > 1000.0 / 60; }));
    state.counters["converting"] = Store::shared()->isBusy() ? 1 : 0;
}
BENCHMARK(Frame)->Arg(0)->Arg(1)->Iterations(600)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    lumatra::MainWindow::selectOffscreenRendering();
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    lumatra::MainWindow::prepareApplication();

    // A long 720p clip to convert, then 1,000 small data files.
    QTemporaryDir dir;
    const QString clip = dir.filePath(QStringLiteral("clip.mkv"));
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1280x720:r=30:d=120", "-f",
                       "lavfi", "-i", "sine=d=120", "-c:v", "libx264", "-preset", "ultrafast",
                       "-c:a", "aac", "-shortest", clip});
    QStringList files{clip};
    for (int i = 0; i < 1000; ++i) {
        const QString path = dir.filePath(QStringLiteral("table %1.json").arg(i));
        QFile file(path);
        if (file.open(QIODevice::WriteOnly)) file.write("{\"a\": [1, 2, 3]}");
        files.append(path);
    }
    Store& store = *Store::shared();
    store.addPaths(files);

    QQmlApplicationEngine engine;
    window = lumatra::MainWindow::load(engine);
    if (!window) return 1;
    list = window->findChild<QQuickItem*>(QStringLiteral("jobList"));
    if (!list) return 1;

    // Convert the video (the first row) while the frames are measured.
    Job* video = store.jobs()->at(0);
    video->setTargetName(QStringLiteral("mp4"));
    store.convert(video);
    QEventLoop settle;
    QTimer::singleShot(1500, &settle, &QEventLoop::quit);
    settle.exec();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    store.cancelAll();
    return 0;
}
