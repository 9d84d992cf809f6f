#include "ErrorMapView.h"

#include "ErrorMapPicture.h"

#include <QPainter>

namespace zq455 {

TErrorMapView::TErrorMapView(QWidget* parent) : QWidget(parent) {
    setObjectName("Image_Check_Map");
    setMinimumSize(180, 120);
    setToolTip("The Z error of the last check over the whole field: the profiles averaged at each stage "
               "position, in bins across X, against the expected height");
}

void TErrorMapView::ShowMap(const TVerifyResult& value, double tolerance) {
    result = value;
    tolerance_um = tolerance;
    update();
}

void TErrorMapView::Clear() {
    result.reset();
    update();
}

void TErrorMapView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (result)
        PaintErrorMap(painter, QRectF(rect()), *result, tolerance_um);
    else
        painter.fillRect(rect(), palette().window());
}

} // namespace zq455
