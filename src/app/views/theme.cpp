#include "views/theme.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QGlyphRun>
#include <QHash>
#include <QImage>
#include <QPainter>
#include <QTextLayout>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace lumatra {

namespace {

// SpringAnimation advances in fixed steps of 16 ms: v ← v + spring·(to − x) − damping·v,
// then x ← x + v·0.016. For a spring of response T (undamped period) and damping
// fraction ζ, the continuous motion x'' = ω²·(to − x) − 2ζω·x' with ω = 2π/T moves, from
// one step to the next, by the factors e^(p·0.016) of its two poles p = −ζω ± iω√(1−ζ²).
// The stepped system has the same poles when
//   1 − damping = e^(−2ζω·0.016)                        (product of the factors) and
//   2 − damping − spring·0.016 = 2·e^(−ζω·0.016)·cos(ω√(1−ζ²)·0.016)   (their sum),
// so it passes through the true spring's positions at every step; the plain
// substitution spring = ω²·0.016, damping = 2ζω·0.016 damps far too much at 60 Hz.
constexpr double stepSeconds = 0.016;

QString firstInstalled(std::initializer_list<const char*> families, const char* fallback) {
    const QStringList installed = QFontDatabase::families();
    for (const char* family : families) {
        if (installed.contains(QLatin1String(family))) return QLatin1String(family);
    }
    return QLatin1String(fallback);
}

} // namespace

Theme::Theme(QObject* parent)
    : QObject(parent), m_font(firstInstalled({"Inter", "Noto Sans", "DejaVu Sans"}, "sans-serif")),
      m_monoFont(firstInstalled({"DejaVu Sans Mono", "Noto Sans Mono"}, "monospace")) {}

QColor Theme::accentColor() {
    return {241, 38, 23};
}
QColor Theme::accentDeepColor() {
    return {158, 28, 18};
}
QColor Theme::accentGlowColor() {
    return {255, 74, 46};
}

std::array<QColor, 3> Theme::accentFillColors() {
    return {QColor(222, 46, 28), QColor(200, 30, 18), accentDeepColor()};
}

double Theme::contrast(const QColor& a, const QColor& b) {
    const auto luminance = [](const QColor& color) {
        const auto linear = [](double channel) {
            return channel <= 0.04045 ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * linear(color.redF()) + 0.7152 * linear(color.greenF()) +
               0.0722 * linear(color.blueF());
    };
    const double first = luminance(a);
    const double second = luminance(b);
    return (std::max(first, second) + 0.05) / (std::min(first, second) + 0.05);
}

QColor Theme::alpha(const QColor& color, double opacity) {
    QColor result = color;
    result.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return result;
}

void Theme::prepareGlyphs(const QFont& given, const QString& text, int weight) {
    QFont font = given;
    if (weight > 0) font.setWeight(QFont::Weight(weight));
    // A view's text rounds its point size to half points; its glyphs are cached at the
    // size that gives.
    if (font.pointSizeF() > 0) font.setPointSizeF(qRound(font.pointSizeF() * 2) / 2.0);
    // Every row asks for the same few: the answer is known before the font is looked at.
    const QString key = font.key() + QLatin1Char('\n') + text;
    if (m_preparedGlyphs.contains(key)) return;
    m_preparedGlyphs.insert(key);
    // Larger text is drawn from outlines, not from the glyph cache.
    if (QFontInfo(font).pixelSize() > 64) return;
    // Painted on this thread: glyph caches belong to the thread's font engines.
    QTimer::singleShot(0, this, [font, text] {
        static const QString repertoire = [] {
            QString letters;
            for (char16_t c = u'!'; c <= u'~'; ++c)
                letters += QChar(c);
            for (char16_t c = u'А'; c <= u'я'; ++c)
                letters += QChar(c);
            return letters + QString::fromUtf8("Ёё·…→←«»—–%№");
        }();
        // Laid out and drawn as a view's text is, without a paint device of its own in
        // between: a painter's font would take the scratch picture's resolution and so
        // another size, with a cache of its own.
        QTextLayout layout(text.isEmpty() ? repertoire : text, font);
        layout.beginLayout();
        const QTextLine line = layout.createLine();
        layout.endLayout();
        QImage scratch(qCeil(line.naturalTextWidth()) + 2, qCeil(line.height()) + 1,
                       QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&scratch);
        // The glyph cache keeps a picture per quarter-pixel position where the font
        // places glyphs between pixels.
        for (int quarter = 0; quarter < 4; ++quarter) {
            for (const QGlyphRun& run : layout.glyphRuns())
                painter.drawGlyphRun(QPointF(quarter * 0.25, 0), run);
        }
    });
}

QString Theme::symbol(const QString& name) {
    static const QHash<QString, QString> material{
        {QStringLiteral("waveform"), QStringLiteral("graphic_eq")},
        {QStringLiteral("film"), QStringLiteral("movie")},
        {QStringLiteral("photo"), QStringLiteral("photo")},
        {QStringLiteral("doc.text"), QStringLiteral("description")},
        {QStringLiteral("curlybraces"), QStringLiteral("data_object")},
        {QStringLiteral("arrow.right"), QStringLiteral("arrow_forward")},
        {QStringLiteral("chevron.down"), QStringLiteral("expand_more")},
        {QStringLiteral("stop.fill"), QStringLiteral("stop")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("search")},
        {QStringLiteral("xmark"), QStringLiteral("close")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("refresh")},
        {QStringLiteral("checkmark"), QStringLiteral("check")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("check_circle")},
        {QStringLiteral("exclamationmark.circle.fill"), QStringLiteral("error")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("warning")},
        {QStringLiteral("plus"), QStringLiteral("add")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("arrow.turn.down.right"), QStringLiteral("subdirectory_arrow_right")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("autorenew")},
    };
    return material.value(name, name);
}

double Theme::springStiffness(double response, double dampingFraction) {
    const double omega = 2 * std::numbers::pi / response;
    const double decay = std::exp(-dampingFraction * omega * stepSeconds);
    const double turn = omega * std::sqrt(1 - dampingFraction * dampingFraction) * stepSeconds;
    return (2 - springDampingFor(response, dampingFraction) - 2 * decay * std::cos(turn)) /
           stepSeconds;
}

double Theme::springDampingFor(double response, double dampingFraction) {
    const double omega = 2 * std::numbers::pi / response;
    return 1 - std::exp(-2 * dampingFraction * omega * stepSeconds);
}

} // namespace lumatra
