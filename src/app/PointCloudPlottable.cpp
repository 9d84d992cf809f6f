#include "PointCloudPlottable.h"

#include <cmath>

TPointCloudPlottable::TPointCloudPlottable(QCPAxis* key_axis, QCPAxis* value_axis, int point_diameter)
    : QCPAbstractPlottable(key_axis, value_axis), diameter(std::max(1, point_diameter)) {
    // A disc of the given diameter, centred on the point's pixel.
    const double radius = diameter / 2.0;
    const int first = -(diameter / 2);
    for (int dy = first; dy < first + diameter; ++dy)
        for (int dx = first; dx < first + diameter; ++dx) {
            const double cx = dx - first + 0.5 - radius;
            const double cy = dy - first + 0.5 - radius;
            if (diameter <= 2 || cx * cx + cy * cy <= radius * radius + 0.25)
                stamp.push_back(QPoint(dx, dy));
        }
    setAntialiased(false);
}

void TPointCloudPlottable::AddPoint(double key, double value, QRgb colour) {
    points.push_back({key, value, colour});
}

void TPointCloudPlottable::AddPoints(const std::vector<TPoint>& more) {
    points.insert(points.end(), more.begin(), more.end());
}

void TPointCloudPlottable::Clear() {
    points.clear();
}

double TPointCloudPlottable::selectTest(const QPointF&, bool, QVariant*) const {
    return -1;
}

QCPRange TPointCloudPlottable::getKeyRange(bool& found_range, QCP::SignDomain) const {
    found_range = !points.empty();
    QCPRange range;
    if (found_range) {
        range.lower = range.upper = points.front().key;
        for (const auto& p : points)
            range.expand(p.key);
    }
    return range;
}

QCPRange TPointCloudPlottable::getValueRange(bool& found_range, QCP::SignDomain, const QCPRange&) const {
    found_range = !points.empty();
    QCPRange range;
    if (found_range) {
        range.lower = range.upper = points.front().value;
        for (const auto& p : points)
            range.expand(p.value);
    }
    return range;
}

void TPointCloudPlottable::draw(QCPPainter* painter) {
    QCPAxis* key_axis = mKeyAxis.data();
    QCPAxis* value_axis = mValueAxis.data();
    if (!key_axis || !value_axis || points.empty())
        return;
    const QRect area = clipRect();
    if (area.isEmpty())
        return;
    if (canvas.size() != area.size())
        canvas = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
    canvas.fill(Qt::transparent);

    // Both axes are linear: pixel = a * coordinate + b, taken from two points of each axis.
    // The key axis is horizontal and the value axis vertical on these charts.
    const double kx0 = key_axis->coordToPixel(0.0), kx1 = key_axis->coordToPixel(1.0);
    const double vy0 = value_axis->coordToPixel(0.0), vy1 = value_axis->coordToPixel(1.0);
    const double ka = kx1 - kx0, kb = kx0 - area.left();
    const double va = vy1 - vy0, vb = vy0 - area.top();
    const int width = canvas.width(), height = canvas.height();
    auto* bits = reinterpret_cast<QRgb*>(canvas.bits());
    const qsizetype stride = canvas.bytesPerLine() / 4;
    for (const TPoint& p : points) {
        const double fx = ka * p.key + kb;
        const double fy = va * p.value + vb;
        if (!(fx > -diameter && fx < width + diameter && fy > -diameter && fy < height + diameter))
            continue;
        const int x = static_cast<int>(std::lround(fx));
        const int y = static_cast<int>(std::lround(fy));
        const QRgb colour = p.colour | 0xFF000000u;
        for (const QPoint& o : stamp) {
            const int sx = x + o.x(), sy = y + o.y();
            if (static_cast<unsigned>(sx) < static_cast<unsigned>(width) &&
                static_cast<unsigned>(sy) < static_cast<unsigned>(height))
                bits[sy * stride + sx] = colour;
        }
    }
    painter->drawImage(area.topLeft(), canvas);
}

void TPointCloudPlottable::drawLegendIcon(QCPPainter* painter, const QRectF& rect) const {
    const QRgb colour = points.empty() ? qRgb(0, 128, 0) : points.back().colour;
    painter->setPen(Qt::NoPen);
    painter->setBrush(QColor::fromRgb(colour));
    painter->drawEllipse(rect.center(), diameter / 2.0, diameter / 2.0);
}
