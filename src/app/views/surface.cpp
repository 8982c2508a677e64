#include "views/surface.h"

#include "views/theme.h"

#include <QCache>
#include <QMutex>
#include <QPainter>
#include <QPainterPath>
#include <QQuickWindow>
#include <QSGImageNode>

#include <algorithm>
#include <array>
#include <cmath>

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

} // namespace

Surface::Surface(QQuickItem* parent) : QQuickItem(parent) {
    setFlag(ItemHasContents, true);
}

qreal Surface::cornerRadius(QSizeF size) const {
    const qreal half = std::min(size.width(), size.height()) / 2;
    return m_radius < 0 ? half : std::min(m_radius, half);
}

bool Surface::hasShadow() const {
    return m_shadowColor.isValid() && m_shadowColor.alpha() > 0;
}

QString Surface::shapeKey(QSizeF size, qreal scale) const {
    return QStringLiteral("shape %1x%2@%3 r%4 %5 %6 %7 %8 w%9 %10 %11 %12 %13 %14 %15 %16")
        .arg(size.width())
        .arg(size.height())
        .arg(scale)
        .arg(m_radius)
        .arg(colorKey(m_color), colorKey(m_gradientTop), colorKey(m_gradientBottom))
        .arg(m_accentFill)
        .arg(m_borderWidth)
        .arg(colorKey(m_borderColor), colorKey(m_borderTop), colorKey(m_borderBottom))
        .arg(m_accentBorder)
        .arg(m_overlayBorder)
        .arg(m_dash)
        .arg(m_gap);
}

QString Surface::shadowKey(QSizeF size, qreal scale) const {
    return QStringLiteral("shadow %1x%2@%3 r%4 b%5 %6")
        .arg(size.width())
        .arg(size.height())
        .arg(scale)
        .arg(m_radius)
        .arg(m_shadowBlur)
        .arg(colorKey(m_shadowColor));
}

QImage Surface::shapeImage(QSizeF size, qreal scale) const {
    const QSize pixels(std::max(1, qCeil(size.width() * scale)),
                       std::max(1, qCeil(size.height() * scale)));
    QImage image(pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(scale, scale);
    const QRectF rect(QPointF(0, 0), size);
    const qreal radius = cornerRadius(size);

    if (m_accentFill) {
        painter.fillPath(roundedRect(rect, radius), accentGradient());
    } else if (m_gradientTop.isValid()) {
        painter.fillPath(roundedRect(rect, radius),
                         verticalGradient(m_gradientTop, m_gradientBottom));
    } else if (m_color.alpha() > 0) {
        painter.fillPath(roundedRect(rect, radius), m_color);
    }

    const bool hasBorderColour =
        m_accentBorder || m_borderTop.isValid() || m_borderColor.alpha() > 0;
    if (m_borderWidth > 0 && hasBorderColour) {
        // Stroked inside the edge: the pen runs along a path inset by half its width.
        const qreal half = m_borderWidth / 2;
        const QRectF inner = rect.adjusted(half, half, -half, -half);
        QBrush brush = m_accentBorder ? QBrush(accentGradient())
                       : m_borderTop.isValid()
                           ? QBrush(verticalGradient(m_borderTop, m_borderBottom))
                           : QBrush(m_borderColor);
        QPen pen(brush, m_borderWidth);
        if (m_dash > 0) {
            pen.setCapStyle(Qt::FlatCap);
            pen.setDashPattern(
                {m_dash / m_borderWidth, std::max<qreal>(m_gap, 0.01) / m_borderWidth});
        }
        if (m_overlayBorder) painter.setCompositionMode(QPainter::CompositionMode_Overlay);
        painter.strokePath(roundedRect(inner, std::max<qreal>(0, radius - half)), pen);
    }
    return image;
}

QImage Surface::shadowImage(QSizeF size, qreal scale, QRectF* placement) const {
    // A Gaussian reaches about three standard deviations: 1.5 times the blur radius.
    const qreal margin = std::ceil(m_shadowBlur * 1.5) + 1;
    if (placement) {
        *placement = QRectF(m_shadowX - margin, m_shadowY - margin, size.width() + 2 * margin,
                            size.height() + 2 * margin);
    }
    return cached(shadowKey(size, scale), [&] {
        const QSizeF full(size.width() + 2 * margin, size.height() + 2 * margin);
        QImage image(QSize(qCeil(full.width() * scale), qCeil(full.height() * scale)),
                     QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.scale(scale, scale);
            painter.fillPath(roundedRect(QRectF(QPointF(margin, margin), size), cornerRadius(size)),
                             m_shadowColor);
        }
        blur(image, m_shadowBlur / 2 * scale);
        return image;
    });
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
        update();
    }
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
        for (int i = 0; i < 2; ++i) {
            QSGImageNode* node = window()->createImageNode();
            node->setOwnsTexture(true);
            node->setFiltering(QSGTexture::Linear);
            QImage empty(1, 1, QImage::Format_ARGB32_Premultiplied);
            empty.fill(Qt::transparent);
            node->setTexture(
                window()->createTextureFromImage(empty, QQuickWindow::TextureHasAlphaChannel));
            root->appendChildNode(node);
        }
        m_dirty = true;
    }
    if (!m_dirty) return root;
    m_dirty = false;

    const qreal scale = window()->effectiveDevicePixelRatio();
    auto* shadowNode = static_cast<QSGImageNode*>(root->childAtIndex(0));
    auto* shapeNode = static_cast<QSGImageNode*>(root->childAtIndex(1));
    auto show = [&](QSGImageNode* node, const QImage& image, const QRectF& rect) {
        node->setTexture(
            window()->createTextureFromImage(image, QQuickWindow::TextureHasAlphaChannel));
        node->setRect(rect);
        node->setSourceRect(QRectF(QPointF(0, 0), image.size()));
    };

    if (hasShadow()) {
        QRectF placement;
        const QImage image = shadowImage(size, scale, &placement);
        show(shadowNode, image, placement);
    } else {
        shadowNode->setRect(QRectF());
    }
    show(shapeNode, cached(shapeKey(size, scale), [&] { return shapeImage(size, scale); }),
         QRectF(QPointF(0, 0), size));
    return root;
}

} // namespace lumatra
