#pragma once
// Aids under the VIDEO page's frame: the camera position and value of the pixel under the
// mouse, and "Show saturation", which paints the pixels at the camera's largest value in a
// colour the black-to-red ramp never uses.

#include "view/FrameProbe.h"

#include <QFrame>

class QCheckBox;
class QImage;
class QLabel;

namespace zq455 {

class TCameraAids : public QFrame {
public:
    explicit TCameraAids(QWidget* parent);

    // The line for camera pixel (x, y) of `frame`.
    void Probe(const TFrameArea& frame, int x, int y);
    // Colours the saturated entries of the frame bitmap's palette, or gives them back their
    // red. Only the picture changes: a saved bitmap writes its own palette.
    static void MarkSaturation(QImage& bitmap, bool on);

    QLabel* Label_Video_Probe = nullptr;
    QCheckBox* CheckBox_Video_Saturation = nullptr;
};

} // namespace zq455
