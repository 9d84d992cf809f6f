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
    // The raster's top line is its highest Z; on a reversed Z axis that lies at the bottom.
    const double left = key_axis->coordToPixel(raster.XLow()), right = key_axis->coordToPixel(raster.XHigh());
    const double high = value_axis->coordToPixel(raster.ZHigh()),
                 low = value_axis->coordToPixel(raster.ZLow());
    const bool flip_x = left > right, flip_z = high > low;
    // Coloured (and turned as the axes are) only when the counts or the axes changed, into the
    // same image: a replot while collecting costs one pass over the cells, no allocation.
    const QSize size(static_cast<int>(raster.Columns()), static_cast<int>(raster.Rows()));
    if (picture_generation != raster.Generation() || picture.size() != size || picture_flip_x != flip_x ||
        picture_flip_z != flip_z) {
        if (picture.size() != size)
            picture = QImage(size, QImage::Format_ARGB32);
        raster.Render(reinterpret_cast<uint32_t*>(picture.bits()));
        if (flip_x || flip_z)
            picture.mirror(flip_x, flip_z);
        picture_generation = raster.Generation();
        picture_flip_x = flip_x;
        picture_flip_z = flip_z;
    }
    const QRectF target(std::min(left, right), std::min(high, low), std::abs(right - left),
                        std::abs(low - high));
    painter->save();
    painter->setClipRect(clipRect());
    painter->drawImage(target, picture);
    painter->restore();
}

void TDensityPlottable::drawLegendIcon(QCPPainter*, const QRectF&) const {}

} // namespace zq455
