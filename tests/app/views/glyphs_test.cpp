// Glyphs prepared while the window is idle are the very ones its texts then draw.

#include "views/theme.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>

#include <gtest/gtest.h>

#include <atomic>
#include <dlfcn.h>
#include <memory>

namespace {
std::atomic<int> glyphLoads{0};
}

// Every glyph FreeType loads for Qt passes here first, so that a test can count the
// glyphs a frame rasterizes.
extern "C" int FT_Load_Glyph(void* face, unsigned int glyph, int flags) {
    using Load = int (*)(void*, unsigned int, int);
    static const auto load = reinterpret_cast<Load>(dlsym(RTLD_NEXT, "FT_Load_Glyph"));
    ++glyphLoads;
    return load(face, glyph, flags);
}

namespace lumatra {
namespace {

/// A text as the status line sets it: a fractional point size, no optional shaping.
std::unique_ptr<QQuickItem> statusText(QQmlEngine& engine, const QString& family, double pointSize,
                                       QQuickWindow& window) {
    QQmlComponent component(&engine);
    component.setData(QStringLiteral("import QtQuick\nText { font.family: \"%1\"; "
                                     "font.pointSize: %2; font.preferShaping: false }")
                          .arg(family)
                          .arg(pointSize)
                          .toUtf8(),
                      QUrl());
    std::unique_ptr<QQuickItem> text(qobject_cast<QQuickItem*>(component.create()));
    if (text) text->setParentItem(window.contentItem());
    return text;
}

int loadsToShow(QQuickItem& text, QQuickWindow& window, const QString& value) {
    glyphLoads = 0;
    text.setProperty("text", value);
    window.grabWindow();
    return glyphLoads;
}

TEST(Glyphs, PreparedGlyphsAreTheOnesATextDraws) {
    Theme theme;
    const QString family = theme.property("font").toString();
    QQmlEngine engine;
    QQuickWindow window;
    window.resize(400, 100);
    // Sizes no other test shows, the second left unprepared. The view draws the first
    // at 7 points (9 pixels); unrounded it would be 10.
    auto prepared = statusText(engine, family, 7.15, window);
    auto unprepared = statusText(engine, family, 6.15, window);
    ASSERT_TRUE(prepared && unprepared);
    unprepared->setY(40);
    window.grabWindow();

    theme.prepareGlyphs(prepared->property("font").value<QFont>());
    QCoreApplication::processEvents();

    // Without spaces: an empty glyph is loaded again each time it is drawn.
    const QString status = QStringLiteral("Конвертирую…12,5МБ·меньше");
    // A few are loaded again all the same (Qt keeps some glyphs' metrics apart).
    EXPECT_LE(loadsToShow(*prepared, window, status), 4);
    EXPECT_GE(loadsToShow(*unprepared, window, status), 10); // the count does count
}

} // namespace
} // namespace lumatra
