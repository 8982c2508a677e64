#pragma once
// Starting the window: the application's look, the QML engine and the main view, and
// the off-screen picture of it.

#include <QImage>
#include <QList>
#include <QRect>
#include <QString>

#include <optional>

class QQmlApplicationEngine;
class QSettings;
class QQmlEngine;
class QQuickWindow;

namespace lumatra {

class Store;

namespace MainWindow {

/// Path of the symbol font installed by the system.
inline constexpr const char* iconFontPath =
    "/usr/share/fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf";

/// Makes Qt draw with the offscreen platform and the software scene graph, so that a
/// picture needs no display and looks like the window. Call before the application
/// object exists.
void selectOffscreenRendering();

/// Where OpenGL is only a software rasterizer (no graphics card, a virtual display),
/// draws with Qt Quick's software renderer instead: it repaints only what changed, where
/// the rasterizer repaints the whole window for a progress bar. A renderer named in the
/// environment (QT_QUICK_BACKEND, QSG_RHI_BACKEND) is left alone. Call after the
/// application object exists and before a window is made.
void chooseRenderer();

/// Whether an OpenGL renderer name is a software rasterizer ("llvmpipe (LLVM 15.0.6,
/// 256 bits)", "softpipe", "Software Rasterizer").
bool isSoftwareRasterizer(const QString& renderer);

/// The fixed dark look: palette, fonts (the symbol font from its installed path), the
/// plain Controls style and, when the environment names no locale, Russian number
/// formatting to match the interface. Call once after the application object exists.
void prepareApplication();

/// Lets `engine` find the module Lumatra in the resources and serve file icons.
void prepareEngine(QQmlEngine& engine);

/// Loads the main view into a prepared `engine` and returns its window; null when
/// loading failed.
QQuickWindow* load(QQmlApplicationEngine& engine);

/// Puts `window` where `settings` saw it last (keys "window/geometry", a rectangle,
/// and "window/maximized") when that place is still on one of the screens, and saves its
/// place there when the program quits.
void rememberGeometry(QQuickWindow& window, QSettings& settings);
/// The saved place of the window, when it fits one of `screens` (at least half of it
/// visible) and the window's minimum size; none otherwise.
std::optional<QRect> savedGeometry(const QSettings& settings, const QList<QRect>& screens,
                                   QSize minimum);

/// The demonstration states of a snapshot: with more than three jobs, the first runs
/// at 42 %, the second is done (a third of its size, 2.4 s, named for its target),
/// the third failed for want of a sound track. Fewer jobs stay as they are.
void stageDemoStates(Store& store);

/// Lets the window lay itself out and draw for `milliseconds`, then grabs it.
QImage settleAndGrab(QQuickWindow& window, int milliseconds);

} // namespace MainWindow
} // namespace lumatra
