#include "views/theme.h"

#include <QFontDatabase>
#include <QHash>

#include <numbers>

namespace lumatra {

namespace {

// SpringAnimation advances in fixed steps of 16 ms: v += spring·Δx − damping·v, then
// x += v·0.016. That is a damped oscillator x'' = k·Δx − c·x' sampled with dt = 0.016,
// whose per-step coefficients are k·dt and c·dt.
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
    : QObject(parent),
      m_font(firstInstalled({"Inter", "Noto Sans", "DejaVu Sans"}, "sans-serif")),
      m_monoFont(firstInstalled({"DejaVu Sans Mono", "Noto Sans Mono"}, "monospace")) {}

QColor Theme::accentColor() { return {241, 38, 23}; }
QColor Theme::accentDeepColor() { return {158, 28, 18}; }
QColor Theme::accentGlowColor() { return {255, 74, 46}; }

QColor Theme::alpha(const QColor& color, double opacity) {
    QColor result = color;
    result.setAlphaF(static_cast<float>(color.alphaF() * opacity));
    return result;
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

double Theme::springStiffness(double response) {
    // Unit mass: the undamped angular frequency is 2π / response, so k = ω².
    const double omega = 2 * std::numbers::pi / response;
    return omega * omega * stepSeconds;
}

double Theme::springDampingFor(double response, double dampingFraction) {
    // c = 2·ζ·ω for unit mass.
    const double omega = 2 * std::numbers::pi / response;
    return 2 * dampingFraction * omega * stepSeconds;
}

} // namespace lumatra
