// The RESULT page: the measurement tick with its flatness check, the profile chart, "Axis
// Reverse" and "Auto", and the chart's menu ("Save to file", "Clear", "Collect": a density of
// every profile collected, drawn under the current one). The tick's
// arithmetic is AnalyseProfile and the file's layout FormatProfileText (src/view/); the
// handlers here read the controls, call them and draw what comes back.

#include "Main.h"

#include "DensityPlottable.h"
#include "PointCloudPlottable.h"
#include "ProfileRecordingPanel.h"
#include "view/ProfileFile.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QSpinBox>
#include <qcustomplot.h>

namespace zq455 {
namespace {

constexpr QRgb PROFILE_RED = 0xFFFF0000;   // over level
constexpr QRgb PROFILE_GREEN = 0xFF008000; // below level
const QColor MARKER_YELLOW(255, 255, 0);
constexpr int MARKER_WIDTH = 3;

} // namespace

void TForm_Main::BuildProfilePage() {
    // A dark plot area, as on a scope: the yellow edge markers would vanish on white, and the
    // red and green profiles read well on black.
    QCustomPlot* chart = Chart_Result_Oscilloscope;
    chart->axisRect()->setBackground(QBrush(QColor(16, 16, 16)));
    for (QCPAxis* axis : {chart->xAxis, chart->yAxis}) {
        axis->grid()->setPen(QPen(QColor(80, 80, 80), 0, Qt::DotLine));
        axis->grid()->setZeroLinePen(QPen(QColor(110, 110, 110), 0, Qt::SolidLine));
    }

    connect(CheckBoxReverse, &QCheckBox::toggled, this, [this] { CheckBoxReverseClick(); });
    connect(CheckBoxAuto, &QCheckBox::toggled, this, [this] { CheckBoxAutoClick(); });
    connect(MenuItem4, &QAction::triggered, this, [this] { MenuItem4Click(); });
    connect(MenuItem5, &QAction::triggered, this, [this] { MenuItem5Click(); });
}

void TForm_Main::Timer_ResultTimer() {
    uint8_t status = 0;
    uint16_t count = 0;
    Sensor_Result = Sensor->GetResult(status, count, Result_Values.data(), Result_Values.size());
    // A failed request changes nothing: the chart and the kept profile stay as they were.
    if (Sensor_Result != 0)
        return;
    ShowProfile(count);
    Recording_Panel->OnProfile(Profile_Tick);
}

void TForm_Main::ShowProfile(uint16_t pair_count) {
    ShowProfile(pair_count, Device_Identity[IDENTITY_RANGE_Z], Device_Identity[IDENTITY_RANGE_XEMR]);
}

void TForm_Main::ShowProfile(uint16_t pair_count, uint16_t range_z, uint16_t range_xemr) {
    // The point series holds the current profile; what "Collect" keeps is the density under it.
    Series_Result_Oscilloscope->Clear();

    TProfileControls controls;
    controls.auto_centre = Result_Auto;
    controls.x0_mm = CSpinEditX->value();
    controls.dx_mm = CSpinEdit1->value();
    controls.level_um = CSpinEditLevel->value();
    controls.range_z = range_z;
    controls.range_xemr = range_xemr;
    const uint32_t available =
        std::min<uint32_t>(2u * pair_count, static_cast<uint32_t>(Result_Values.size()));
    AnalyseProfile(Result_Values.data(), available, pair_count, controls, Profile_Tick);
    Result_Pair_Count = Profile_Tick.pair_count;
    Result_Profile = Profile_Tick.profile;

    // The markers show the current profile only, also while "Collect" keeps the points. A
    // line series draws in the colour of its points, and the marker points are yellow.
    for (QCPGraph* marker : {Series1, Series2})
        marker->data()->clear();
    const std::pair<QCPGraph*, const std::vector<TProfilePoint>*> markers[] = {
        {Series1, &Profile_Tick.left_marker}, {Series2, &Profile_Tick.right_marker}};
    for (const auto& [series, ends] : markers) {
        series->setPen(QPen(MARKER_YELLOW, MARKER_WIDTH));
        for (const TProfilePoint& p : *ends)
            series->addData(p.x, p.z);
    }

    const QRgb colour = Profile_Tick.over_level ? PROFILE_RED : PROFILE_GREEN;
    std::vector<TPointCloudPlottable::TPoint> points;
    points.reserve(Profile_Tick.points.size());
    for (const TProfilePoint& p : Profile_Tick.points)
        points.push_back({p.x, p.z, colour});
    Series_Result_Oscilloscope->AddPoints(points);
    if (Collect1->isChecked())
        Density_Result_Oscilloscope->AddProfile(Profile_Tick.points.data(), Profile_Tick.points.size());
    else if (!Density_Result_Oscilloscope->Raster().Empty())
        Density_Result_Oscilloscope->Clear();
    Chart_Result_Oscilloscope->replot();
}

void TForm_Main::CheckBoxReverseClick() {
    Chart_Result_Oscilloscope->yAxis->setRangeReversed(CheckBoxReverse->isChecked());
    // Redrawn now, so the points already on the chart flip also while measuring is stopped.
    Chart_Result_Oscilloscope->replot();
}

void TForm_Main::CheckBoxAutoClick() {
    Result_Auto = CheckBoxAuto->isChecked();
}

void TForm_Main::MenuItem4Click() {
    TFileDialog& dialog = *SaveDialogData;
    dialog.Filter = "All files(*.*)|*.*|Text files(*.txt)|*.txt";
    dialog.FilterIndex = 2;
    dialog.DefaultExt = "txt";
    dialog.InitialDir = DataFolder();
    if (!dialog.Execute())
        return;

    // The profile current when the dialog closed; ticks that ran while it was open count.
    const std::string bytes = FormatProfileText(Result_Profile, Result_Pair_Count);
    const TFileResult written = WriteFileAtomically(QFile::encodeName(dialog.FileName).toStdString(), bytes);
    if (!written.ok) {
        QMessageBox box(QMessageBox::Critical, APPLICATION_TITLE, QString::fromStdString(written.message),
                        QMessageBox::Ok, this);
        ShowModal(box);
    }
}

void TForm_Main::MenuItem5Click() {
    // The edge markers stay for the next tick to clear; the pair count keeps its value.
    Series_Result_Oscilloscope->Clear();
    Density_Result_Oscilloscope->Clear();
    Result_Profile.fill(TProfilePoint{});
    Chart_Result_Oscilloscope->replot();
}

} // namespace zq455
