#pragma once
// The RESULT chart's "Collect" layer: the hits of every collected profile counted per chart
// pixel (view/DensityRaster.h) and drawn as one colour-ramped image under the current profile.

#include "view/DensityRaster.h"

#include <qcustomplot.h>

#include <QImage>

namespace zq455 {

class TDensityPlottable : public QCPAbstractPlottable {
public:
    TDensityPlottable(QCPAxis* key_axis, QCPAxis* value_axis);

    // Counts the points of one profile, on a raster as fine as the plot area over the axes'
    // present ranges (a change of either empties it).
    void AddProfile(const TProfilePoint* points, size_t count);
    void Clear();
    const TDensityRaster& Raster() const { return raster; }

    double selectTest(const QPointF& pos, bool only_selectable, QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& found_range, QCP::SignDomain in_sign_domain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& found_range, QCP::SignDomain in_sign_domain = QCP::sdBoth,
                           const QCPRange& in_key_range = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

private:
    TDensityRaster raster;
    QImage picture; // the raster coloured, redone when it changed
    uint64_t picture_generation = ~0ull;
    bool picture_flip_x = false, picture_flip_z = false; // as the picture was turned
};

} // namespace zq455
