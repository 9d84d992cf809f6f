#include "DensityPlottable.h"

#include <algorithm>

namespace zq455 {

TDensityPlottable::TDensityPlottable(QCPAxis* key_axis, QCPAxis* value_axis)
    : QCPAbstractPlottable(key_axis, value_axis) {
    setAntialiased(false);
}

void TDensityPlottable::AddProfile(const TProfilePoint* points, size_t count) {
    QCPAxis* key_axis = mKeyAxis.data();
    QCPAxis* value_axis = mValueAxis.data();
    if (!key_axis || !value_axis)
        return;
    const QRect area = key_axis->axisRect()->rect();
    const QCPRange x = key_axis->range();
    const QCPRange z = value_axis->range();
    raster.Shape(static_cast<uint32_t>(std::max(1, area.width())),
                 static_cast<uint32_t>(std::max(1, area.height())), x.lower, x.upper, z.lower, z.upper);
    raster.Add(points, count);
}

void TDensityPlottable::Clear() {
    raster.Clear();
}

double TDensityPlottable::selectTest(const QPointF&, bool, QVariant*) const {
    return -1;
}

// The counts do not widen the chart: its ranges come from the sensor's measuring range.
QCPRange TDensityPlottable::getKeyRange(bool& found_range, QCP::SignDomain) const {
    found_range = false;
    return {};
}

QCPRange TDensityPlottable::getValueRange(bool& found_range, QCP::SignDomain, const QCPRange&) const {
    found_range = false;
    return {};
}

void TDensityPlottable::draw(QCPPainter* painter) {
    QCPAxis* key_axis = mKeyAxis.data();
    QCPAxis* value_axis = mValueAxis.data();
    if (!key_axis || !value_axis || raster.Empty())
        return;
    if (picture_generation != raster.Generation() || picture.width() != static_cast<int>(raster.Columns()) ||
        picture.height() != static_cast<int>(raster.Rows())) {
        picture = QImage(static_cast<int>(raster.Columns()), static_cast<int>(raster.Rows()),
                         QImage::Format_ARGB32);
        raster.Render(reinterpret_cast<uint32_t*>(picture.bits()));
        picture_generation = raster.Generation();
    }
    // The raster's top line is its highest Z; on a reversed Z axis that lies at the bottom.
    const double left = key_axis->coordToPixel(raster.XLow()), right = key_axis->coordToPixel(raster.XHigh());
    const double high = value_axis->coordToPixel(raster.ZHigh()),
                 low = value_axis->coordToPixel(raster.ZLow());
    const bool flip_x = left > right, flip_z = high > low;
    const QRectF target(std::min(left, right), std::min(high, low), std::abs(right - left),
                        std::abs(low - high));
    painter->save();
    painter->setClipRect(clipRect());
    if (flip_x || flip_z)
        painter->drawImage(target, picture.mirrored(flip_x, flip_z));
    else
        painter->drawImage(target, picture);
    painter->restore();
}

void TDensityPlottable::drawLegendIcon(QCPPainter*, const QRectF&) const {}

} // namespace zq455
