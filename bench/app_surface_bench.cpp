// The cost of painting a surface's picture at a size it has not had before: the case a
// batch meets when a button's title changes its width or a row takes a new outline.
// Each iteration asks for a width no earlier one used, so nothing comes from the cache.
//
// Build with -DLUMATRA_BENCH=ON; run build-bench/bench/app_surface_bench.

#include "views/surface.h"
#include "views/theme.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

namespace {

using lumatra::Surface;

// The main button: a filled capsule with a glow beneath.
void BM_ButtonGlow(benchmark::State& state) {
    Surface surface;
    surface.setRadius(-1);
    surface.setAccentFill(true);
    surface.setShadowColor(lumatra::Theme::accentColor());
    surface.setShadowBlur(14);
    qreal width = 150;
    for (auto _ : state) {
        QRectF placement;
        benchmark::DoNotOptimize(surface.shadowImage(QSizeF(width, 46), 1, &placement));
        width += 0.25;
    }
}
BENCHMARK(BM_ButtonGlow)->Unit(benchmark::kMicrosecond);

// A converting row's outline: the accent gradient stroked around a wide card.
void BM_RowOutline(benchmark::State& state) {
    Surface surface;
    surface.setRadius(14);
    surface.setBorderWidth(1.4);
    surface.setAccentBorder(true);
    qreal width = 900;
    for (auto _ : state) {
        benchmark::DoNotOptimize(surface.shapeImage(QSizeF(width, 64), 1));
        width += 0.25;
    }
}
BENCHMARK(BM_RowOutline)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
