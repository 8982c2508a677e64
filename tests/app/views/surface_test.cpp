// The painted shapes, the shadow blur, the conversion of the theme's springs, and the
// glyphs prepared while the window is idle, which are the very ones its texts then draw.

#include "views/surface.h"
#include "views/theme.h"

#include <QCoreApplication>
#include <QImage>
#include <QPainter>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QThreadPool>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <dlfcn.h>
#include <memory>
#include <numbers>
#include <tuple>

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

// Sets the named properties of a surface, as a view does.
void look(Surface& surface, const QVariantMap& properties) {
    for (auto it = properties.begin(); it != properties.end(); ++it)
        surface.setProperty(it.key().toUtf8().constData(), it.value());
}

QVariantMap with(QVariantMap properties, const QVariantMap& changes) {
    properties.insert(changes);
    return properties;
}

long long alphaSum(const QImage& image) {
    long long sum = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qAlpha(image.pixel(x, y));
    return sum;
}

TEST(Surface, BlurSpreadsWithoutLosingCoverage) {
    QImage image(80, 80, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    for (int y = 30; y < 50; ++y)
        for (int x = 30; x < 50; ++x)
            image.setPixel(x, y, qRgba(255, 0, 0, 255));
    const long long before = alphaSum(image);

    Surface::blur(image, 4);
    EXPECT_NEAR(static_cast<double>(alphaSum(image)) / before, 1.0, 0.02);
    EXPECT_GT(qAlpha(image.pixel(40, 40)), 200); // the middle stays nearly solid
    EXPECT_LT(qAlpha(image.pixel(40, 40)), 255);
    EXPECT_GT(qAlpha(image.pixel(25, 40)), 5); // spread past the edge
    EXPECT_EQ(qAlpha(image.pixel(5, 40)), 0);  // but not three sigmas further
    EXPECT_EQ(qAlpha(image.pixel(40, 25)), qAlpha(image.pixel(25, 40))); // both directions alike
    EXPECT_EQ(qGreen(image.pixel(40, 40)), 0);                           // colour kept
}

TEST(Surface, AccentFillRunsFromGlowToDeep) {
    Surface surface;
    surface.setRadius(-1);
    surface.setAccentFill(true);
    const QImage image = surface.shapeImage(QSizeF(200, 40), 1);
    // A capsule (the corners empty) lighter at the top left.
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);
    EXPECT_GT(qRed(image.pixel(22, 8)), qRed(image.pixel(178, 32)));
    // White text on it reads at 4.5:1 or better everywhere (WCAG AA).
    double lowest = 21;
    for (int y = 4; y < 36; y += 4)
        for (int x = 20; x < 180; x += 8)
            if (qAlpha(image.pixel(x, y)) == 255)
                lowest = std::min(lowest, Theme::contrast(Qt::white, QColor(image.pixel(x, y))));
    EXPECT_GE(lowest, 4.5);
    EXPECT_NEAR(Theme::contrast(Qt::white, Qt::black), 21, 0.01);
}

TEST(Surface, BordersAreStrokedInsideTheEdge) {
    Surface surface;
    surface.setBorderWidth(2);
    surface.setBorderColor(Qt::white);
    const QImage solid = surface.shapeImage(QSizeF(40, 40), 1);
    EXPECT_EQ(qAlpha(solid.pixel(0, 20)), 255);
    EXPECT_EQ(qAlpha(solid.pixel(1, 20)), 255);
    EXPECT_EQ(qAlpha(solid.pixel(2, 20)), 0);
    EXPECT_EQ(qAlpha(solid.pixel(20, 20)), 0);

    surface.setDash(8);
    surface.setGap(6);
    const QImage dashed = surface.shapeImage(QSizeF(200, 40), 1);
    int on = 0, off = 0;
    for (int x = 0; x < 200; ++x)
        (qAlpha(dashed.pixel(x, 0)) > 128 ? on : off) += 1;
    EXPECT_NEAR(static_cast<double>(on) / (on + off), 8.0 / 14, 0.08);
}

TEST(Surface, ShadowLiesAroundTheShapeAtItsOffset) {
    const QVariantMap shape{
        {"radius", 10}, {"shadowColor", QColor(0, 0, 0, 140)}, {"shadowBlur", 18}};
    Surface surface;
    look(surface, with(shape, {{"shadowY", 10}}));
    QRectF placement;
    const QImage shadow = surface.shadowImage(QSizeF(100, 60), 1, &placement);
    // Room for the blur on every side, shifted down by the offset.
    EXPECT_DOUBLE_EQ(placement.left(), -placement.width() / 2 + 50);
    EXPECT_DOUBLE_EQ(placement.top() - 10, placement.left());
    EXPECT_EQ(shadow.size(), placement.size().toSize());
    // Darkest under the middle of the shape, fading to nothing at the picture's edge.
    const QPoint middle = shadow.rect().center();
    EXPECT_NEAR(qAlpha(shadow.pixel(middle)), 140, 6);
    EXPECT_EQ(qAlpha(shadow.pixel(0, middle.y())), 0);

    // The same look and size is blurred once and shared.
    Surface twin;
    look(twin, shape);
    EXPECT_EQ(twin.shadowImage(QSizeF(100, 60), 1, nullptr).cacheKey(), shadow.cacheKey());
}

TEST(Surface, AWideShadowMatchesOneBlurredWhole) {
    // A capsule button and a row card, each wide enough to be made from a narrow one.
    for (const auto& [size, radius, blur] :
         {std::tuple{QSizeF(233, 46), -1.0, 14.0}, std::tuple{QSizeF(871, 64), 14.0, 18.0}}) {
        Surface surface;
        surface.setRadius(radius);
        surface.setShadowColor(QColor(241, 38, 23, 115));
        surface.setShadowBlur(blur);
        QRectF placement;
        const QImage shadow = surface.shadowImage(size, 1, &placement);

        // The same shape blurred in one piece.
        const qreal margin = -placement.left();
        QImage whole(shadow.size(), QImage::Format_ARGB32_Premultiplied);
        whole.fill(Qt::transparent);
        {
            QPainter painter(&whole);
            painter.setRenderHint(QPainter::Antialiasing);
            const qreal corner = radius < 0 ? size.height() / 2 : radius;
            painter.setPen(Qt::NoPen);
            painter.setBrush(surface.shadowColor());
            painter.drawRoundedRect(QRectF(QPointF(margin, margin), size), corner, corner);
        }
        Surface::blur(whole, blur / 2);

        int worst = 0;
        for (int y = 0; y < shadow.height(); ++y)
            for (int x = 0; x < shadow.width(); ++x)
                worst = std::max(worst,
                                 std::abs(qAlpha(shadow.pixel(x, y)) - qAlpha(whole.pixel(x, y))));
        EXPECT_LE(worst, 2) << size.width() << " wide";
    }
}

TEST(Surface, APreparedLookOrWidthIsPaintedBeforeItIsShown) {
    // The outline a row takes while it converts, named the way a view names it (a name
    // that is no property is passed over).
    const QVariantMap outline{{"accentBorder", true},
                              {"borderWidth", 1.4},
                              {"borderTop", QColor(Qt::transparent)},
                              {"notAProperty", 3}};
    const QVariantMap row{{"radius", 14}, {"borderWidth", 1}, {"borderTop", QColor(Qt::white)}};
    const QVariantMap pill{{"radius", -1},
                           {"accentFill", true},
                           {"shadowColor", QColor(241, 38, 23, 115)},
                           {"shadowBlur", 14}};
    const QVariantMap pressed{{"shadowColor", QColor(241, 38, 23, 50)}};
    struct Case {
        QVariantMap shown;
        QSizeF size; // sizes no other test paints
        std::vector<std::pair<QVariantMap, QSizeF>> ahead;
    };
    const Case cases[] = {
        {with(row, {{"preparedLook", outline}}), {317, 61}, {{with(row, outline), {317, 61}}}},
        // A pill button whose title is about to lose its count.
        {with(pill, {{"preparedLook", pressed}, {"preparedWidth", 197}}),
         {229, 47},
         {{pill, {197, 47}}, {with(pill, pressed), {197, 47}}}},
    };
    for (const Case& c : cases) {
        QQuickWindow window;
        window.resize(400, 100);
        Surface shown(window.contentItem());
        look(shown, c.shown);
        shown.setSize(c.size);
        std::vector<std::unique_ptr<Surface>> soon;
        for (const auto& [properties, size] : c.ahead) {
            soon.push_back(std::make_unique<Surface>());
            look(*soon.back(), properties);
            EXPECT_FALSE(soon.back()->hasPictures(size, 1)) << size.width();
        }
        window.grabWindow(); // one frame of the shown look
        QThreadPool::globalInstance()->waitForDone();
        EXPECT_TRUE(shown.hasPictures(c.size, 1));
        for (std::size_t i = 0; i < soon.size(); ++i)
            EXPECT_TRUE(soon[i]->hasPictures(c.ahead[i].second, 1)) << c.ahead[i].second.width();
    }
}

TEST(Surface, AHiddenSurfaceIsPaintedOnlyOnceItShows) {
    // The start screen's dashed frame, hidden behind the list and resized with it.
    QQuickWindow window;
    window.resize(400, 100);
    Surface frame(window.contentItem());
    look(frame, {{"radius", 28}, {"dash", 10}, {"borderWidth", 1.2}});
    frame.setSize(QSizeF(331, 73)); // sizes no other test paints
    window.grabWindow();
    EXPECT_TRUE(frame.hasPictures(QSizeF(331, 73), 1));

    frame.setVisible(false);
    frame.setSize(QSizeF(331, 79));
    window.grabWindow();
    QThreadPool::globalInstance()->waitForDone();
    EXPECT_FALSE(frame.hasPictures(QSizeF(331, 79), 1));

    frame.setVisible(true);
    window.grabWindow();
    EXPECT_TRUE(frame.hasPictures(QSizeF(331, 79), 1));
}

/// The largest overshoot of a value stepped from 0 to 1 the way Qt's SpringAnimation does
/// (16 ms steps), and the time from which it stays within 1 % of the target.
std::pair<double, double> springResponse(double spring, double damping) {
    double x = 0, v = 0, overshoot = 0, settled = -1;
    for (int step = 1; step <= 300; ++step) {
        v = v + spring * (1 - x) - damping * v;
        x += v * 0.016;
        overshoot = std::max(overshoot, x - 1);
        settled = std::abs(1 - x) > 0.01 ? -1 : settled < 0 ? step * 0.016 : settled;
    }
    return {overshoot, settled};
}

TEST(Theme, SpringsKeepTheirResponseAndDamping) {
    // Response 0.38 s and damping 0.86 (about 0.5 % overshoot, at rest within a response);
    // the pressed button's 0.25 s and 0.7 bounce visibly (about 4.6 %, at rest by 0.3 s).
    // An underdamped spring overshoots by e^(−πζ/√(1−ζ²)).
    Theme theme;
    const std::tuple<double, double, double, double> springs[] = {
        {theme.spring(), theme.springDamping(), 0.86, 0.38},
        {theme.pressSpring(), theme.pressSpringDamping(), 0.7, 0.3}};
    for (const auto& [spring, damping, zeta, restsBy] : springs) {
        const auto [overshoot, settled] = springResponse(spring, damping);
        EXPECT_NEAR(overshoot, std::exp(-std::numbers::pi * zeta / std::sqrt(1 - zeta * zeta)),
                    0.001)
            << zeta;
        EXPECT_GT(settled, restsBy / 2) << zeta;
        EXPECT_LT(settled, restsBy) << zeta;
    }
}

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
