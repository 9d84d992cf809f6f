#include "CameraAids.h"

#include "WidgetMaking.h"
#include "view/FrameView.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>

namespace zq455 {

namespace {

constexpr QRgb SATURATION_CYAN = 0xFF00FFFF;

} // namespace

TCameraAids::TCameraAids(QWidget* parent) : QFrame(parent) {
    setObjectName("Panel_Video_Aids");
    Label_Video_Probe = Named(new QLabel(this), "Label_Video_Probe");
    Label_Video_Probe->setMinimumWidth(240);
    CheckBox_Video_Saturation = Named(new QCheckBox("Show saturation", this), "CheckBox_Video_Saturation");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(Label_Video_Probe, 1);
    layout->addWidget(CheckBox_Video_Saturation);
}

void TCameraAids::Probe(const TFrameArea& frame, int x, int y) {
    Label_Video_Probe->setText(Text(FrameProbeText(frame, x, y)));
}

void TCameraAids::MarkSaturation(QImage& bitmap, bool on) {
    QList<QRgb> palette = bitmap.colorTable();
    const int first = PaletteIndexOfPixel(PIXEL_SATURATED);
    for (int i = first; i < palette.size(); ++i)
        palette[i] = on ? SATURATION_CYAN : qRgb(i, 0, 0);
    bitmap.setColorTable(palette);
}

} // namespace zq455
