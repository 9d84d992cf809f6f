#pragma once
// A chart plottable for large point clouds (the accumulating profile chart, the 320 000
// calibration centres). It stamps every point into an image the size of the axis rect
// and draws that image once: a replot costs one pass over the points with a few integer
// writes each, where a scatter graph draws each point through the painter.

#include <qcustomplot.h>

#include <QImage>
#include <vector>

class TPointCloudPlottable : public QCPAbstractPlottable {
public:
    struct TPoint {
        double key;
        double value;
        QRgb colour;
    };

    TPointCloudPlottable(QCPAxis* key_axis, QCPAxis* value_axis, int diameter);

    void AddPoint(double key, double value, QRgb colour);
    void AddPoints(const std::vector<TPoint>& points);
    void Clear();
    size_t PointCount() const { return points.size(); }
    const std::vector<TPoint>& Points() const { return points; }
    int Diameter() const { return diameter; }

    double selectTest(const QPointF& pos, bool only_selectable, QVariant* details = nullptr) const override;
    QCPRange getKeyRange(bool& found_range, QCP::SignDomain in_sign_domain = QCP::sdBoth) const override;
    QCPRange getValueRange(bool& found_range, QCP::SignDomain in_sign_domain = QCP::sdBoth,
                           const QCPRange& in_key_range = QCPRange()) const override;

protected:
    void draw(QCPPainter* painter) override;
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override;

private:
    int diameter;
    std::vector<QPoint> stamp; // offsets of the pixels of one point's disc
    std::vector<TPoint> points;
    QImage canvas;
};
