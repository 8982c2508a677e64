#pragma once
// The window's one fixed dark look: colours, the accent gradient's stops and the
// spring timings every animated change uses.

#include <QColor>
#include <QFont>
#include <QObject>
#include <QSet>
#include <QtQml/qqmlregistration.h>

#include <array>

namespace lumatra {

/// Constants of the theme, read by every view. The colours never follow a system
/// setting. Springs are given the way designers state them (response in seconds and
/// damping fraction) and converted for Qt's SpringAnimation (see `springStiffness`).
class Theme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(QColor background MEMBER m_background CONSTANT)
    Q_PROPERTY(QColor surface MEMBER m_surface CONSTANT)
    Q_PROPERTY(QColor surfaceRaised MEMBER m_surfaceRaised CONSTANT)
    Q_PROPERTY(QColor text MEMBER m_text CONSTANT)
    Q_PROPERTY(QColor muted MEMBER m_muted CONSTANT)
    Q_PROPERTY(QColor line MEMBER m_line CONSTANT)
    Q_PROPERTY(QColor lineStrong MEMBER m_lineStrong CONSTANT)
    Q_PROPERTY(QColor accent MEMBER m_accent CONSTANT)
    Q_PROPERTY(QColor accentDeep MEMBER m_accentDeep CONSTANT)
    Q_PROPERTY(QColor accentGlow MEMBER m_accentGlow CONSTANT)
    Q_PROPERTY(QColor success MEMBER m_success CONSTANT)

    Q_PROPERTY(QString font MEMBER m_font CONSTANT)
    Q_PROPERTY(QString monoFont MEMBER m_monoFont CONSTANT)
    Q_PROPERTY(QString iconFont MEMBER m_iconFont CONSTANT)

    /// The theme spring (response 0.38 s, damping fraction 0.86) as SpringAnimation's
    /// `spring` and `damping`.
    Q_PROPERTY(double spring READ spring CONSTANT)
    Q_PROPERTY(double springDamping READ springDamping CONSTANT)
    /// The pressed-button spring (response 0.25 s, damping fraction 0.7).
    Q_PROPERTY(double pressSpring READ pressSpring CONSTANT)
    Q_PROPERTY(double pressSpringDamping READ pressSpringDamping CONSTANT)

public:
    explicit Theme(QObject* parent = nullptr);

    static QColor accentColor();
    static QColor accentDeepColor();
    static QColor accentGlowColor();
    /// The stops of the accent gradient where white text lies on it (filled buttons,
    /// chips, the selected segment): the accent a little deeper, so that the text keeps
    /// a contrast of at least 4.5:1 (WCAG AA) on every part of the fill.
    static std::array<QColor, 3> accentFillColors();
    /// The WCAG contrast ratio of two opaque colours (1 to 21).
    static double contrast(const QColor& a, const QColor& b);

    /// SpringAnimation's `spring` for a spring of the given response (the period of the
    /// undamped oscillation, seconds) and damping fraction (1 = critical), unit mass.
    static double springStiffness(double response, double dampingFraction);
    /// SpringAnimation's `damping` for the same spring.
    static double springDampingFor(double response, double dampingFraction);

    /// `color` with its alpha channel set to `opacity` times its own.
    Q_INVOKABLE static QColor alpha(const QColor& color, double opacity);
    /// The Material Icons ligature for a symbol name of the design ("arrow.right" →
    /// "arrow_forward"); names without an equivalent are returned unchanged.
    Q_INVOKABLE static QString symbol(const QString& name);

    /// Has the glyphs of `text` in `font` (at `weight`, when given) rasterized into the
    /// font's cache once the window is idle, so that a text shown later (as a batch
    /// starts or ends) does not rasterize them in the frame that shows it. An empty
    /// text stands for what a status is likely to need: Latin and Cyrillic letters,
    /// digits, punctuation. Each font and text is prepared once.
    Q_INVOKABLE void prepareGlyphs(const QFont& font, const QString& text = {}, int weight = 0);

    double spring() const { return springStiffness(0.38, 0.86); }
    double springDamping() const { return springDampingFor(0.38, 0.86); }
    double pressSpring() const { return springStiffness(0.25, 0.7); }
    double pressSpringDamping() const { return springDampingFor(0.25, 0.7); }

private:
    QColor m_background{5, 5, 5};
    QColor m_surface{14, 14, 15};
    QColor m_surfaceRaised{22, 22, 23};
    QColor m_text{244, 241, 235};
    QColor m_muted{143, 139, 132};
    QColor m_line{QColor::fromRgbF(1, 1, 1, 0.09f)};
    QColor m_lineStrong{QColor::fromRgbF(1, 1, 1, 0.16f)};
    QColor m_accent{accentColor()};
    QColor m_accentDeep{accentDeepColor()};
    QColor m_accentGlow{accentGlowColor()};
    QColor m_success{61, 220, 132};
    QString m_font;
    QSet<QString> m_preparedGlyphs;
    QString m_monoFont;
    QString m_iconFont{QStringLiteral("Material Icons")};
};

} // namespace lumatra
