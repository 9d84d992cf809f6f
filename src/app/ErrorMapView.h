#pragma once
// The Z error map of the last calibration check on the CALIBRATION page, beside the residual
// chart: the picture of ErrorMapPicture.h at the widget's size. Empty until a check finished.

#include "calibration/Verification.h"

#include <QWidget>
#include <optional>

namespace zq455 {

class TErrorMapView : public QWidget {
public:
    explicit TErrorMapView(QWidget* parent);

    void ShowMap(const TVerifyResult& result, double tolerance_um);
    void Clear();
    bool HasMap() const { return result.has_value(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<TVerifyResult> result;
    double tolerance_um = 0;
};

} // namespace zq455
