// Frame times of the main window with 1,000 jobs in the list while two songs convert side
// by side, and then while a video converts (alone: it takes every core).
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

Job* video = nullptr;

/// Each iteration is one frame; `scroll` (the second argument) moves the list by 6 points
/// a frame (a brisk wheel scroll through the 1,000 rows), otherwise only the running rows'
/// progress and the animations change. The first argument is 0 while the two songs
/// convert, 1 once the video converts.
void Frame(benchmark::State& state) {
    if (state.range(0) == 1) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (video->status() == Job::Status::Running) loop.quit();
        });
        poll.start(20);
        loop.exec();
    }
    const bool scroll = state.range(1) != 0;
    const double end = list->property("contentHeight").toDouble() - list->height();
    list->setProperty("contentY", 0.0);
    std::vector<double> times;
    QElapsedTimer clock;
    double y = 0;
    int fewestRunning = Store::shared()->runner().runningCount();
    for (auto _ : state) {
        fewestRunning = std::min(fewestRunning, Store::shared()->runner().runningCount());
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
    // The conversions running throughout: 2 (the songs), then 1 (the video).
    state.counters["running_throughout"] = fewestRunning;
}
BENCHMARK(Frame)->Args({0, 0})->Args({1, 0})->Args({1, 1})->Iterations(600)->Unit(
    benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    lumatra::MainWindow::selectOffscreenRendering();
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QGuiApplication app(argc, argv);
    lumatra::MainWindow::prepareApplication();

    // Two long songs and a long 720p clip to convert, then 1,000 small data files.
    QTemporaryDir dir;
    QStringList files;
    for (const QString name : {QStringLiteral("song 1.wav"), QStringLiteral("song 2.wav")}) {
        files.append(dir.filePath(name));
        QProcess::execute(QStringLiteral("ffmpeg"),
                          {"-v", "error", "-f", "lavfi", "-i", "sine=d=600:r=16000", files.back()});
    }
    const QString clip = dir.filePath(QStringLiteral("clip.mkv"));
    QProcess::execute(QStringLiteral("ffmpeg"),
                      {"-v", "error", "-f", "lavfi", "-i", "testsrc2=s=1280x720:r=30:d=120", "-f",
                       "lavfi", "-i", "sine=d=120", "-c:v", "libx264", "-preset", "ultrafast",
                       "-c:a", "aac", "-shortest", clip});
    files.append(clip);
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

    // Convert the songs and then the video (the first rows) while the frames are measured.
    // AAC, the slowest of the audio encoders, keeps both songs converting through the
    // first measurement.
    store.jobs()->at(0)->setTargetName(QStringLiteral("m4a"));
    store.jobs()->at(1)->setTargetName(QStringLiteral("m4a"));
    video = store.jobs()->at(2);
    video->setTargetName(QStringLiteral("mp4"));
    for (int row = 0; row < 3; ++row)
        store.convert(store.jobs()->at(row));
    QEventLoop settle;
    QTimer::singleShot(1500, &settle, &QEventLoop::quit);
    settle.exec();

    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    store.cancelAll();
    return 0;
}
