#pragma once
// A rounded shape with the theme's fills, borders and a soft shadow, drawn by the
// scene graph from cached pictures, so it looks the same on every Qt backend
// (the software one of the off-screen snapshot included).

#include <QColor>
#include <QImage>
#include <QQuickItem>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

namespace lumatra {

/// Everything that shapes a surface's pictures, as plain data that any thread may read.
struct SurfaceLook {
    Q_GADGET
    Q_PROPERTY(qreal radius MEMBER radius)
    Q_PROPERTY(QColor color MEMBER color)
    Q_PROPERTY(QColor gradientTop MEMBER gradientTop)
    Q_PROPERTY(QColor gradientBottom MEMBER gradientBottom)
    Q_PROPERTY(bool accentFill MEMBER accentFill)
    Q_PROPERTY(qreal borderWidth MEMBER borderWidth)
    Q_PROPERTY(QColor borderColor MEMBER borderColor)
    Q_PROPERTY(QColor borderTop MEMBER borderTop)
    Q_PROPERTY(QColor borderBottom MEMBER borderBottom)
    Q_PROPERTY(bool accentBorder MEMBER accentBorder)
    Q_PROPERTY(bool overlayBorder MEMBER overlayBorder)
    Q_PROPERTY(qreal dash MEMBER dash)
    Q_PROPERTY(qreal gap MEMBER gap)
    Q_PROPERTY(QColor shadowColor MEMBER shadowColor)
    Q_PROPERTY(qreal shadowBlur MEMBER shadowBlur)
    Q_PROPERTY(qreal shadowX MEMBER shadowX)
    Q_PROPERTY(qreal shadowY MEMBER shadowY)

public:
    qreal radius = 0;
    QColor color = Qt::transparent;
    QColor gradientTop;
    QColor gradientBottom;
    bool accentFill = false;
    qreal borderWidth = 0;
    QColor borderColor = Qt::transparent;
    QColor borderTop;
    QColor borderBottom;
    bool accentBorder = false;
    bool overlayBorder = false;
    qreal dash = 0;
    qreal gap = 0;
    QColor shadowColor = Qt::transparent;
    qreal shadowBlur = 0;
    qreal shadowX = 0;
    qreal shadowY = 0;

    bool operator==(const SurfaceLook&) const = default;
    /// This look with the properties named in `changes` set to their values.
    SurfaceLook with(const QVariantMap& changes) const;
};

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
    /// Another look the surface may soon take, as the properties that differ (a row's
    /// outline while it converts, say). Its pictures are painted in the background at
    /// each new size, so that the change costs the frame that shows it nothing.
    Q_PROPERTY(
        QVariantMap preparedLook READ preparedLook WRITE setPreparedLook NOTIFY appearanceChanged)
    /// Another width it may soon take at its present height (a button whose title is
    /// about to change); 0 for none. Its pictures, in both looks, are painted in the
    /// background for that width too.
    Q_PROPERTY(
        qreal preparedWidth READ preparedWidth WRITE setPreparedWidth NOTIFY appearanceChanged)
    /// While hidden, its pictures are painted in the background at each new size or
    /// look, so that it shows at once (a button that appears when a batch starts).
    Q_PROPERTY(bool preparedWhileHidden READ preparedWhileHidden WRITE setPreparedWhileHidden NOTIFY
                   appearanceChanged)

public:
    explicit Surface(QQuickItem* parent = nullptr);

    qreal radius() const { return m_look.radius; }
    void setRadius(qreal value) { assign(m_look.radius, value); }
    QColor color() const { return m_look.color; }
    void setColor(const QColor& value) { assign(m_look.color, value); }
    QColor gradientTop() const { return m_look.gradientTop; }
    void setGradientTop(const QColor& value) { assign(m_look.gradientTop, value); }
    QColor gradientBottom() const { return m_look.gradientBottom; }
    void setGradientBottom(const QColor& value) { assign(m_look.gradientBottom, value); }
    bool accentFill() const { return m_look.accentFill; }
    void setAccentFill(bool value) { assign(m_look.accentFill, value); }
    qreal borderWidth() const { return m_look.borderWidth; }
    void setBorderWidth(qreal value) { assign(m_look.borderWidth, value); }
    QColor borderColor() const { return m_look.borderColor; }
    void setBorderColor(const QColor& value) { assign(m_look.borderColor, value); }
    QColor borderTop() const { return m_look.borderTop; }
    void setBorderTop(const QColor& value) { assign(m_look.borderTop, value); }
    QColor borderBottom() const { return m_look.borderBottom; }
    void setBorderBottom(const QColor& value) { assign(m_look.borderBottom, value); }
    bool accentBorder() const { return m_look.accentBorder; }
    void setAccentBorder(bool value) { assign(m_look.accentBorder, value); }
    bool overlayBorder() const { return m_look.overlayBorder; }
    void setOverlayBorder(bool value) { assign(m_look.overlayBorder, value); }
    qreal dash() const { return m_look.dash; }
    void setDash(qreal value) { assign(m_look.dash, value); }
    qreal gap() const { return m_look.gap; }
    void setGap(qreal value) { assign(m_look.gap, value); }
    QColor shadowColor() const { return m_look.shadowColor; }
    void setShadowColor(const QColor& value) { assign(m_look.shadowColor, value); }
    qreal shadowBlur() const { return m_look.shadowBlur; }
    void setShadowBlur(qreal value) { assign(m_look.shadowBlur, value); }
    qreal shadowX() const { return m_look.shadowX; }
    void setShadowX(qreal value) { assign(m_look.shadowX, value); }
    qreal shadowY() const { return m_look.shadowY; }
    void setShadowY(qreal value) { assign(m_look.shadowY, value); }
    QVariantMap preparedLook() const { return m_preparedLook; }
    void setPreparedLook(const QVariantMap& value);
    qreal preparedWidth() const { return m_preparedWidth; }
    void setPreparedWidth(qreal value);
    bool preparedWhileHidden() const { return m_preparedWhileHidden; }
    void setPreparedWhileHidden(bool value);

    /// The shape's picture at `scale` device pixels per point.
    QImage shapeImage(QSizeF size, qreal scale) const;
    /// The shadow's picture and where it lies relative to the item (points).
    QImage shadowImage(QSizeF size, qreal scale, QRectF* placement) const;

    /// Whether the pictures of the current look at `size` are painted and shared.
    bool hasPictures(QSizeF size, qreal scale) const;

    /// Blurs a picture of one colour (a shadow) in place with three box passes that
    /// approximate a Gaussian of standard deviation `sigma` pixels. Only the opacity is
    /// blurred; every pixel takes the colour of the most opaque one.
    static void blur(QImage& image, qreal sigma);

signals:
    void appearanceChanged();

protected:
    QSGNode* updatePaintNode(QSGNode* old, UpdatePaintNodeData*) override;
    void geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) override;
    void itemChange(ItemChange change, const ItemChangeData& value) override;

private:
    template <typename T> void assign(T& field, const T& value) {
        if (field == value) return;
        field = value;
        m_dirty = true;
        update();
        prepareHidden();
        emit appearanceChanged();
    }
    void prepare(QSizeF size, qreal scale) const;
    void prepareHidden() const;

    SurfaceLook m_look;
    QVariantMap m_preparedLook;
    qreal m_preparedWidth = 0;
    bool m_preparedWhileHidden = false;
    bool m_dirty = true;
};

} // namespace lumatra
