#pragma once
// A rounded shape with the theme's fills, borders and a soft shadow, drawn by the
// scene graph from cached pictures, so it looks the same on every Qt backend
// (the software one of the off-screen snapshot included).

#include <QColor>
#include <QImage>
#include <QQuickItem>
#include <QtQml/qqmlregistration.h>

namespace lumatra {

/// A rounded rectangle filling the item: a fill (accent gradient, vertical gradient or
/// solid colour, in that precedence), a border stroked inside the edge (accent gradient,
/// vertical gradient or solid colour; solid or dashed) and a blurred shadow of the
/// shape that may reach outside the item. Pictures are cached by everything that
/// shapes them, so identical rows share one blur.
class Surface : public QQuickItem {
    Q_OBJECT
    QML_ELEMENT

    /// Corner radius; negative means a capsule (half the shorter side).
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY appearanceChanged)
    Q_PROPERTY(QColor color READ color WRITE setColor NOTIFY appearanceChanged)
    Q_PROPERTY(QColor gradientTop READ gradientTop WRITE setGradientTop NOTIFY appearanceChanged)
    Q_PROPERTY(
        QColor gradientBottom READ gradientBottom WRITE setGradientBottom NOTIFY appearanceChanged)
    Q_PROPERTY(bool accentFill READ accentFill WRITE setAccentFill NOTIFY appearanceChanged)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth NOTIFY appearanceChanged)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor NOTIFY appearanceChanged)
    Q_PROPERTY(QColor borderTop READ borderTop WRITE setBorderTop NOTIFY appearanceChanged)
    Q_PROPERTY(QColor borderBottom READ borderBottom WRITE setBorderBottom NOTIFY appearanceChanged)
    Q_PROPERTY(bool accentBorder READ accentBorder WRITE setAccentBorder NOTIFY appearanceChanged)
    /// Draws the border in the overlay blend mode over the fill.
    Q_PROPERTY(
        bool overlayBorder READ overlayBorder WRITE setOverlayBorder NOTIFY appearanceChanged)
    /// Dash and gap lengths of a dashed border; a dash of 0 draws a solid line.
    Q_PROPERTY(qreal dash READ dash WRITE setDash NOTIFY appearanceChanged)
    Q_PROPERTY(qreal gap READ gap WRITE setGap NOTIFY appearanceChanged)
    Q_PROPERTY(QColor shadowColor READ shadowColor WRITE setShadowColor NOTIFY appearanceChanged)
    /// Blur radius of the shadow: twice the standard deviation of its Gaussian.
    Q_PROPERTY(qreal shadowBlur READ shadowBlur WRITE setShadowBlur NOTIFY appearanceChanged)
    Q_PROPERTY(qreal shadowX READ shadowX WRITE setShadowX NOTIFY appearanceChanged)
    Q_PROPERTY(qreal shadowY READ shadowY WRITE setShadowY NOTIFY appearanceChanged)

public:
    explicit Surface(QQuickItem* parent = nullptr);

    qreal radius() const { return m_radius; }
    void setRadius(qreal value) { assign(m_radius, value); }
    QColor color() const { return m_color; }
    void setColor(const QColor& value) { assign(m_color, value); }
    QColor gradientTop() const { return m_gradientTop; }
    void setGradientTop(const QColor& value) { assign(m_gradientTop, value); }
    QColor gradientBottom() const { return m_gradientBottom; }
    void setGradientBottom(const QColor& value) { assign(m_gradientBottom, value); }
    bool accentFill() const { return m_accentFill; }
    void setAccentFill(bool value) { assign(m_accentFill, value); }
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal value) { assign(m_borderWidth, value); }
    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor& value) { assign(m_borderColor, value); }
    QColor borderTop() const { return m_borderTop; }
    void setBorderTop(const QColor& value) { assign(m_borderTop, value); }
    QColor borderBottom() const { return m_borderBottom; }
    void setBorderBottom(const QColor& value) { assign(m_borderBottom, value); }
    bool accentBorder() const { return m_accentBorder; }
    void setAccentBorder(bool value) { assign(m_accentBorder, value); }
    bool overlayBorder() const { return m_overlayBorder; }
    void setOverlayBorder(bool value) { assign(m_overlayBorder, value); }
    qreal dash() const { return m_dash; }
    void setDash(qreal value) { assign(m_dash, value); }
    qreal gap() const { return m_gap; }
    void setGap(qreal value) { assign(m_gap, value); }
    QColor shadowColor() const { return m_shadowColor; }
    void setShadowColor(const QColor& value) { assign(m_shadowColor, value); }
    qreal shadowBlur() const { return m_shadowBlur; }
    void setShadowBlur(qreal value) { assign(m_shadowBlur, value); }
    qreal shadowX() const { return m_shadowX; }
    void setShadowX(qreal value) { assign(m_shadowX, value); }
    qreal shadowY() const { return m_shadowY; }
    void setShadowY(qreal value) { assign(m_shadowY, value); }

    /// The shape's picture at `scale` device pixels per point.
    QImage shapeImage(QSizeF size, qreal scale) const;
    /// The shadow's picture and where it lies relative to the item (points).
    QImage shadowImage(QSizeF size, qreal scale, QRectF* placement) const;

    /// Blurs a picture of one colour (a shadow) in place with three box passes that
    /// approximate a Gaussian of standard deviation `sigma` pixels. Only the opacity is
    /// blurred; every pixel takes the colour of the most opaque one.
    static void blur(QImage& image, qreal sigma);

signals:
    void appearanceChanged();

protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData*) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;

private:
    template <typename T> void assign(T& field, const T& value) {
        if (field == value) return;
        field = value;
        m_dirty = true;
        update();
        emit appearanceChanged();
    }
    qreal cornerRadius(QSizeF size) const;
    bool hasShadow() const;
    QString shapeKey(QSizeF size, qreal scale) const;
    QString shadowKey(QSizeF size, qreal scale) const;

    qreal m_radius = 0;
    QColor m_color = Qt::transparent;
    QColor m_gradientTop;
    QColor m_gradientBottom;
    bool m_accentFill = false;
    qreal m_borderWidth = 0;
    QColor m_borderColor = Qt::transparent;
    QColor m_borderTop;
    QColor m_borderBottom;
    bool m_accentBorder = false;
    bool m_overlayBorder = false;
    qreal m_dash = 0;
    qreal m_gap = 0;
    QColor m_shadowColor = Qt::transparent;
    qreal m_shadowBlur = 0;
    qreal m_shadowX = 0;
    qreal m_shadowY = 0;
    bool m_dirty = true;
};

} // namespace lumatra
