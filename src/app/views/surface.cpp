#include "views/surface.h"

#include "views/theme.h"

#include <QCache>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>
#include <QSGImageNode>
#include <QSet>
#include <QThreadPool>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <memory>

namespace lumatra {

namespace {

// Pictures shared by every surface of the same look and size (all job rows, say).
// Costs are in pixels: about 64 MB of premultiplied ARGB.
QMutex cacheLock;
QCache<QString, QImage>& pictureCache() {
    static QCache<QString, QImage> cache(16 * 1024 * 1024);
    return cache;
}

QImage cached(const QString& key, const auto& make) {
    {
        QMutexLocker lock(&cacheLock);
        if (const QImage* image = pictureCache().object(key)) return *image;
    }
    QImage image = make();
    QMutexLocker lock(&cacheLock);
    pictureCache().insert(key, new QImage(image),
                          std::max<qsizetype>(1, image.width() * image.height()));
    return image;
}

QString colorKey(const QColor& color) {
    return color.isValid() ? QString::number(color.rgba64(), 16) : QStringLiteral("-");
}

// The accent gradient runs from the top-left to the bottom-right corner of the shape
// in the shape's own unit square, so its bands lie along the other diagonal.
QLinearGradient accentGradient() {
    QLinearGradient gradient(0, 0, 1, 1);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0, Theme::accentGlowColor());
    gradient.setColorAt(0.5, Theme::accentColor());
    gradient.setColorAt(1, Theme::accentDeepColor());
    return gradient;
}

// The same diagonal through the deeper stops that white text stays readable on.
QLinearGradient accentFillGradient() {
    const auto stops = Theme::accentFillColors();
    QLinearGradient gradient(0, 0, 1, 1);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0, stops[0]);
    gradient.setColorAt(0.5, stops[1]);
    gradient.setColorAt(1, stops[2]);
    return gradient;
}

QLinearGradient verticalGradient(const QColor& top, const QColor& bottom) {
    QLinearGradient gradient(0, 0, 0, 1);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0, top);
    gradient.setColorAt(1, bottom.isValid() ? bottom : top);
    return gradient;
}

QPainterPath roundedRect(const QRectF& rect, qreal radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

// Box widths for `passes` box blurs that together approximate a Gaussian of `sigma`.
std::array<int, 3> boxSizes(qreal sigma) {
    constexpr int passes = 3;
    const double ideal = std::sqrt(12 * sigma * sigma / passes + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const double m =
        (12 * sigma * sigma - passes * lower * lower - 4 * passes * lower - 3 * passes) /
        (-4 * lower - 4);
    const int smaller = static_cast<int>(std::lround(m));
    std::array<int, 3> sizes{};
    for (int i = 0; i < passes; ++i)
        sizes[i] = i < smaller ? lower : upper;
    return sizes;
}

// One running-sum box pass along a line of `length` opacities read from `line`; the
// result goes to `out`, `step` apart. Outside the line everything is transparent.
void boxPass(const quint8* line, int length, int radius, quint8* out, qsizetype step) {
    // Dividing by the box's width is a multiplication by its reciprocal in 32-bit fixed
    // point: exact for every sum of 8-bit values a box narrower than 4096 pixels can reach.
    const int width = 2 * radius + 1;
    const quint64 reciprocal = ((quint64(1) << 32) + width - 1) / width;
    const auto average = [&](int sum) {
        return static_cast<quint8>(((quint64(sum) + width / 2) * reciprocal) >> 32);
    };
    int sum = 0;
    for (int i = 0; i <= std::min(radius, length - 1); ++i)
        sum += line[i];
    int i = 0;
    // The box enters the line, slides along it, and leaves it.
    for (; i < length && i - radius < 0; ++i) {
        out[i * step] = average(sum);
        if (i + radius + 1 < length) sum += line[i + radius + 1];
    }
    for (; i + radius + 1 < length; ++i) {
        out[i * step] = average(sum);
        sum += line[i + radius + 1] - line[i - radius];
    }
    for (; i < length; ++i) {
        out[i * step] = average(sum);
        sum -= line[i - radius];
    }
}

qreal cornerRadius(const SurfaceLook& look, QSizeF size) {
    const qreal half = std::min(size.width(), size.height()) / 2;
    return look.radius < 0 ? half : std::min(look.radius, half);
}

bool hasShadow(const SurfaceLook& look) {
    return look.shadowColor.isValid() && look.shadowColor.alpha() > 0;
}

QString shapeKey(const SurfaceLook& look, QSizeF size, qreal scale) {
    return QStringLiteral("shape %1x%2@%3 r%4 %5 %6 %7 %8 w%9 %10 %11 %12 %13 %14 %15 %16")
        .arg(size.width())
        .arg(size.height())
        .arg(scale)
        .arg(look.radius)
        .arg(colorKey(look.color), colorKey(look.gradientTop), colorKey(look.gradientBottom))
        .arg(look.accentFill)
        .arg(look.borderWidth)
        .arg(colorKey(look.borderColor), colorKey(look.borderTop), colorKey(look.borderBottom))
        .arg(look.accentBorder)
        .arg(look.overlayBorder)
        .arg(look.dash)
        .arg(look.gap);
}

QString shadowKey(const SurfaceLook& look, QSizeF size, qreal scale) {
    return QStringLiteral("shadow %1x%2@%3 r%4 b%5 %6")
        .arg(size.width())
        .arg(size.height())
        .arg(scale)
        .arg(look.radius)
        .arg(look.shadowBlur)
        .arg(colorKey(look.shadowColor));
}

QImage paintShape(const SurfaceLook& look, QSizeF size, qreal scale) {
    const QSize pixels(std::max(1, qCeil(size.width() * scale)),
                       std::max(1, qCeil(size.height() * scale)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    const QRectF rect(QPointF(0, 0), size);
    const qreal radius = cornerRadius(look, size);

    if (look.accentFill) {
        painter.fillPath(roundedRect(rect, radius), accentFillGradient());
    } else if (look.gradientTop.isValid()) {
        painter.fillPath(roundedRect(rect, radius),
                         verticalGradient(look.gradientTop, look.gradientBottom));
    } else if (look.color.alpha() > 0) {
        painter.fillPath(roundedRect(rect, radius), look.color);
    }

    const bool hasBorderColour =
        look.accentBorder || look.borderTop.isValid() || look.borderColor.alpha() > 0;
    if (look.borderWidth > 0 && hasBorderColour) {
        // Stroked inside the edge: the pen runs along a path inset by half its width.
        const qreal half = look.borderWidth / 2;
        const QRectF inner = rect.adjusted(half, half, -half, -half);
        QBrush brush = look.accentBorder ? QBrush(accentGradient())
                       : look.borderTop.isValid()
                           ? QBrush(verticalGradient(look.borderTop, look.borderBottom))
                           : QBrush(look.borderColor);
        QPen pen(brush, look.borderWidth);
        if (look.dash > 0) {
            pen.setCapStyle(Qt::FlatCap);
            pen.setDashPattern(
                {look.dash / look.borderWidth, std::max<qreal>(look.gap, 0.01) / look.borderWidth});
        }
        if (look.overlayBorder) painter.setCompositionMode(QPainter::CompositionMode_Overlay);
        painter.strokePath(roundedRect(inner, std::max<qreal>(0, radius - half)), pen);
    }
    return image;
}

// Where the shadow's picture lies relative to the item, in points. A Gaussian reaches
// about three standard deviations: 1.5 times the blur radius.
qreal shadowMargin(const SurfaceLook& look) {
    return std::ceil(look.shadowBlur * 1.5) + 1;
}

QRectF shadowPlacement(const SurfaceLook& look, QSizeF size) {
    const qreal margin = shadowMargin(look);
    return {look.shadowX - margin, look.shadowY - margin, size.width() + 2 * margin,
            size.height() + 2 * margin};
}

QImage blurredShape(const SurfaceLook& look, QSizeF size, qreal scale) {
    const qreal margin = shadowMargin(look);
    const QSizeF full(size.width() + 2 * margin, size.height() + 2 * margin);
    QImage image(QSize(qCeil(full.width() * scale), qCeil(full.height() * scale)),
                 QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(scale, scale);
        painter.fillPath(
            roundedRect(QRectF(QPointF(margin, margin), size), cornerRadius(look, size)),
            look.shadowColor);
    }
    Surface::blur(image, look.shadowBlur / 2 * scale);
    return image;
}

// `narrow` made `width` pixels wide by repeating its middle column.
QImage widened(const QImage& narrow, int width) {
    QImage wide(width, narrow.height(), narrow.format());
    const int left = narrow.width() / 2;
    const int right = narrow.width() - left - 1;
    for (int y = 0; y < narrow.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(narrow.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(wide.scanLine(y));
        std::copy(from, from + left, to);
        std::fill(to + left, to + width - right, from[left]);
        std::copy(from + left + 1, from + narrow.width(), to + width - right);
    }
    return wide;
}

QImage paintShadow(const SurfaceLook& look, QSizeF size, qreal scale) {
    // Along a straight edge farther than the blur reaches from the corners the shadow
    // does not change, so a wide one is a narrow one with its middle column repeated:
    // a button whose title changes, or a window made wider, blurs nothing new.
    const qreal margin = shadowMargin(look);
    const QSizeF narrow(std::ceil(2 * (cornerRadius(look, size) + margin)) + 2, size.height());
    if (size.width() <= narrow.width() + 1 ||
        cornerRadius(look, narrow) != cornerRadius(look, size))
        return blurredShape(look, size, scale);
    const QImage picture =
        cached(shadowKey(look, narrow, scale), [&] { return blurredShape(look, narrow, scale); });
    return widened(picture, qCeil((size.width() + 2 * margin) * scale));
}

// A picture in the scene graph, drawn in bands of at most `bandHeight` device pixels.
// Qt's raster engine hands a taller blit to its thread pool in pieces and waits for
// them: on a machine whose cores are busy converting, that wait and the wake-ups cost
// the window more than the blit itself.
class PictureNode : public QSGNode {
public:
    static constexpr int bandHeight = 95;

    void show(QQuickWindow& window, const QImage& image, const QRectF& rect) {
        std::unique_ptr<QSGTexture> texture(
            window.createTextureFromImage(image, QQuickWindow::TextureHasAlphaChannel));
        // Bands only where the picture is drawn pixel for pixel; a scaled one is drawn
        // whole, so that its filtering leaves no seams.
        const qreal scale = window.effectiveDevicePixelRatio();
        const bool exact = qFuzzyCompare(rect.width() * scale, qreal(image.width())) &&
                           qFuzzyCompare(rect.height() * scale, qreal(image.height()));
        const int rowsPerBand = std::max(1, exact ? bandHeight : image.height());
        const int bands = (image.height() + rowsPerBand - 1) / rowsPerBand;
        keep(bands);
        const qreal pointsPerPixel = rect.height() / image.height();
        for (int band = 0; band < bands; ++band) {
            const int top = band * rowsPerBand;
            const int height = std::min(rowsPerBand, image.height() - top);
            // A node joins the scene only once it has its texture: the renderer reads it
            // as soon as the node is added.
            const bool added = band >= childCount();
            auto* node =
                added ? window.createImageNode() : static_cast<QSGImageNode*>(childAtIndex(band));
            node->setOwnsTexture(false);
            node->setFiltering(QSGTexture::Linear);
            node->setTexture(texture.get());
            node->setSourceRect(QRectF(0, top, image.width(), height));
            node->setRect(QRectF(rect.left(), rect.top() + top * pointsPerPixel, rect.width(),
                                 height * pointsPerPixel));
            if (added) appendChildNode(node);
        }
        m_texture = std::move(texture);
    }

    void clear() {
        keep(0);
        m_texture.reset();
    }

private:
    void keep(int bands) {
        while (childCount() > bands) {
            QSGNode* last = lastChild();
            removeChildNode(last);
            delete last;
        }
    }

    std::unique_ptr<QSGTexture> m_texture;
};

// Pictures being painted in the background, by key, so that ten rows of one size
// start one painting. Guarded by cacheLock.
QSet<QString>& picturesInProgress() {
    static QSet<QString> keys;
    return keys;
}

// Paints a picture into the cache on a pool thread, unless it is there or on its way.
void paintInBackground(const QString& key, std::function<QImage()> paint) {
    {
        QMutexLocker lock(&cacheLock);
        if (pictureCache().contains(key) || picturesInProgress().contains(key)) return;
        picturesInProgress().insert(key);
    }
    QThreadPool::globalInstance()->start([key, paint = std::move(paint)] {
        // The cache takes the picture; a frame that needed it meanwhile painted its own.
        cached(key, paint);
        QMutexLocker lock(&cacheLock);
        picturesInProgress().remove(key);
    });
}

// Paints a look's shape and shadow at `size` into the cache on a pool thread.
void paintInBackground(const SurfaceLook& look, QSizeF size, qreal scale) {
    paintInBackground(shapeKey(look, size, scale),
                      [look, size, scale] { return paintShape(look, size, scale); });
    if (hasShadow(look)) {
        paintInBackground(shadowKey(look, size, scale),
                          [look, size, scale] { return paintShadow(look, size, scale); });
    }
}

} // namespace

SurfaceLook SurfaceLook::with(const QVariantMap& changes) const {
    SurfaceLook look = *this;
    for (auto change = changes.cbegin(); change != changes.cend(); ++change) {
        const int index = staticMetaObject.indexOfProperty(change.key().toUtf8().constData());
        if (index >= 0) staticMetaObject.property(index).writeOnGadget(&look, change.value());
    }
    return look;
}

Surface::Surface(QQuickItem* parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, true);
}

QImage Surface::shapeImage(QSizeF size, qreal scale) const {
    return paintShape(m_look, size, scale);
}

QImage Surface::shadowImage(QSizeF size, qreal scale, QRectF* placement) const {
    if (placement) *placement = shadowPlacement(m_look, size);
    return cached(shadowKey(m_look, size, scale), [&] { return paintShadow(m_look, size, scale); });
}

// Neither changes the picture shown: they only paint ahead.
void Surface::setPreparedLook(const QVariantMap& value) {
    if (m_preparedLook == value) return;
    m_preparedLook = value;
    if (window() && !size().isEmpty()) prepare(size(), window()->effectiveDevicePixelRatio());
    emit appearanceChanged();
}

void Surface::setPreparedWidth(qreal value) {
    if (m_preparedWidth == value) return;
    m_preparedWidth = value;
    if (window() && !size().isEmpty()) prepare(size(), window()->effectiveDevicePixelRatio());
    emit appearanceChanged();
}

void Surface::setPreparedWhileHidden(bool value) {
    if (m_preparedWhileHidden == value) return;
    m_preparedWhileHidden = value;
    prepareHidden();
    emit appearanceChanged();
}

bool Surface::hasPictures(QSizeF size, qreal scale) const {
    QMutexLocker lock(&cacheLock);
    return pictureCache().contains(shapeKey(m_look, size, scale)) &&
           (!hasShadow(m_look) || pictureCache().contains(shadowKey(m_look, size, scale)));
}

void Surface::prepareHidden() const {
    if (!m_preparedWhileHidden || isVisible() || !window() || size().isEmpty()) return;
    paintInBackground(m_look, size(), window()->effectiveDevicePixelRatio());
}

void Surface::prepare(QSizeF size, qreal scale) const {
    const SurfaceLook look = m_preparedLook.isEmpty() ? m_look : m_look.with(m_preparedLook);
    if (look != m_look) paintInBackground(look, size, scale);
    if (m_preparedWidth > 0 && m_preparedWidth != size.width()) {
        const QSizeF other(m_preparedWidth, size.height());
        paintInBackground(m_look, other, scale);
        if (look != m_look) paintInBackground(look, other, scale);
    }
}

void Surface::blur(QImage& image, qreal sigma) {
    if (sigma < 0.5 || image.isNull()) return;
    if (image.format() != QImage::Format_ARGB32_Premultiplied)
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = image.width();
    const int height = image.height();
    // A shadow is one colour at varying opacity, so only the opacity is blurred (a
    // quarter of the work) and the colour is laid back over it: that of the most opaque
    // pixel.
    std::vector<quint8> alpha(static_cast<size_t>(width) * height);
    QRgb colour = 0;
    for (int y = 0; y < height; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint8 a = static_cast<quint8>(qAlpha(row[x]));
            alpha[static_cast<size_t>(y) * width + x] = a;
            if (a > qAlpha(colour)) colour = row[x];
        }
    }
    if (qAlpha(colour) == 0) return;
    const QRgb straight = qUnpremultiply(colour);

    std::vector<quint8> line(std::max(width, height));
    for (int box : boxSizes(sigma)) {
        const int radius = (box - 1) / 2;
        if (radius <= 0) continue;
        for (int y = 0; y < height; ++y) {
            quint8* row = alpha.data() + static_cast<size_t>(y) * width;
            std::copy(row, row + width, line.begin());
            boxPass(line.data(), width, radius, row, 1);
        }
        for (int x = 0; x < width; ++x) {
            for (int y = 0; y < height; ++y)
                line[y] = alpha[static_cast<size_t>(y) * width + x];
            boxPass(line.data(), height, radius, alpha.data() + x, width);
        }
    }

    std::array<QRgb, 256> shades{};
    for (int a = 0; a < 256; ++a)
        shades[a] = qPremultiply(qRgba(qRed(straight), qGreen(straight), qBlue(straight), a));
    for (int y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        const quint8* coverage = alpha.data() + static_cast<size_t>(y) * width;
        for (int x = 0; x < width; ++x)
            row[x] = shades[coverage[x]];
    }
}

void Surface::geometryChange(const QRectF& newGeometry, const QRectF& oldGeometry) {
    QQuickItem::geometryChange(newGeometry, oldGeometry);
    if (newGeometry.size() != oldGeometry.size()) {
        m_dirty = true;
        // A hidden surface is painted when it shows (from the pictures prepared
        // meanwhile, if it asked for them).
        if (isVisible()) update();
        prepareHidden();
    }
}

void Surface::itemChange(ItemChange change, const ItemChangeData& value) {
    QQuickItem::itemChange(change, value);
    if (change == ItemVisibleHasChanged && isVisible() && m_dirty) update();
    if (change == ItemVisibleHasChanged || change == ItemSceneChange) prepareHidden();
}

QSGNode* Surface::updatePaintNode(QSGNode* old, UpdatePaintNodeData*) {
    const QSizeF size = boundingRect().size();
    if (size.isEmpty() || !window()) {
        delete old;
        return nullptr;
    }
    // Child 0 is the shadow, child 1 the shape; both always exist so indices stay put.
    QSGNode* root = old;
    if (!root) {
        root = new QSGNode;
        root->appendChildNode(new PictureNode);
        root->appendChildNode(new PictureNode);
        m_dirty = true;
    }
    // Nothing of a hidden surface is seen: its pictures wait until it shows.
    if (!m_dirty || !isVisible()) return root;
    m_dirty = false;

    const qreal scale = window()->effectiveDevicePixelRatio();
    auto* shadowNode = static_cast<PictureNode*>(root->childAtIndex(0));
    auto* shapeNode = static_cast<PictureNode*>(root->childAtIndex(1));
    if (hasShadow(m_look)) {
        QRectF placement;
        const QImage image = shadowImage(size, scale, &placement);
        shadowNode->show(*window(), image, placement);
    } else {
        shadowNode->clear();
    }
    shapeNode->show(*window(),
                    cached(shapeKey(m_look, size, scale), [&] { return shapeImage(size, scale); }),
                    QRectF(QPointF(0, 0), size));
    prepare(size, scale);
    return root;
}

} // namespace lumatra
