#include "CalibrationCheck.h"

#include "ErrorMapPicture.h"
#include "ErrorMapView.h"
#include "Main.h"
#include "calibration/VerificationReport.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"

#include <QApplication>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <qcustomplot.h>

namespace zq455 {
namespace {

// The settling pause is cut into ticks so the progress dialog stays alive and Cancel works.
constexpr uint32_t PAUSE_TICK_MS = 50;
const QColor PASS_COLOUR(0, 128, 0);
const QColor FAIL_COLOUR(200, 0, 0);

QDoubleSpinBox* MakeAmount(QWidget* parent, const char* name, double max, double value, int decimals) {
    auto* spin = new QDoubleSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(0.0, max);
    spin->setDecimals(decimals);
    spin->setValue(value);
    // Typed, not stepped: without the arrows the two columns of tolerances leave the figures room.
    spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    spin->setFixedWidth(52);
    return spin;
}

QSpinBox* MakeCount(QWidget* parent, const char* name, int min, int max, int value) {
    auto* spin = new QSpinBox(parent);
    spin->setObjectName(name);
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setButtonSymbols(QAbstractSpinBox::NoButtons);
    spin->setFixedWidth(52);
    return spin;
}

QString ProgressText(unsigned done, unsigned total) {
    return QString("Checking the calibration: position %1 of %2").arg(std::min(done + 1, total)).arg(total);
}

} // namespace

TCalibrationCheck::TCalibrationCheck(THost host_value, QWidget* parent)
    : QWidget(parent), host(std::move(host_value)) {
    setObjectName("Panel_Calibr_Check");
    const TVerifySettings defaults;
    Button_Calibr_Check = new QPushButton("Check calibration", this);
    Button_Calibr_Check->setObjectName("Button_Calibr_Check");
    SpinEdit_Check_Positions =
        MakeCount(this, "SpinEdit_Check_Positions", 2, VERIFY_MAX_POSITIONS, int(defaults.positions));
    SpinEdit_Check_Profiles =
        MakeCount(this, "SpinEdit_Check_Profiles", 1, VERIFY_MAX_PROFILES, int(defaults.profiles));
    Edit_Check_Pitch = MakeAmount(this, "Edit_Check_Pitch", 100000, defaults.pitch_um, 1);
    const TVerifyTolerances& t = defaults.tolerances;
    Edit_Check_Linearity = MakeAmount(this, "Edit_Check_Linearity", 100, t.z_linearity_pct, 3);
    Edit_Check_Scale = MakeAmount(this, "Edit_Check_Scale", 100, t.z_scale_pct, 2);
    Edit_Check_Repeatability = MakeAmount(this, "Edit_Check_Repeatability", 100000, t.z_repeatability_um, 1);
    Edit_Check_Pitch_Error = MakeAmount(this, "Edit_Check_Pitch_Error", 100000, t.x_pitch_um, 1);
    Edit_Check_Offset = MakeAmount(this, "Edit_Check_Offset", 100, t.z_offset_pct, 3);
    Edit_Check_Field = MakeAmount(this, "Edit_Check_Field", 100, t.z_field_pct, 3);
    Edit_Check_X_Field = MakeAmount(this, "Edit_Check_X_Field", 100000, t.x_field_um, 1);
    Edit_Check_Flatness = MakeAmount(this, "Edit_Check_Flatness", 100, t.flatness_pct, 3);

    auto* settings = new QGridLayout;
    settings->setContentsMargins(0, 0, 0, 0);
    settings->setHorizontalSpacing(4);
    settings->setVerticalSpacing(2);
    struct TRow {
        const char* caption;
        QWidget* edit;
        const char* tip;
    };
    const TRow rows[] = {
        {"Positions:", SpinEdit_Check_Positions, "Stage positions spread over the Z range"},
        {"Profiles:", SpinEdit_Check_Profiles, "Profiles taken at each position"},
        {"Pitch, um:", Edit_Check_Pitch, "Distance of the target's stripes in X"},
        {"Lin., %:", Edit_Check_Linearity, "Largest Z linearity accepted, in % of the Z range"},
        {"Scale, %:", Edit_Check_Scale, "Largest Z scale error accepted"},
        {"Repeat., um:", Edit_Check_Repeatability, "Largest Z repeatability accepted"},
        {"Pitch err., um:", Edit_Check_Pitch_Error, "Largest deviation of a stripe spacing from the pitch"},
        {"Offset, %:", Edit_Check_Offset,
         "Largest Z offset accepted at the near end of the range, in % of the Z range"},
        {"Field, %:", Edit_Check_Field,
         "Largest Z error of a cell of the map (16 profile points at one position), in % of the Z range"},
        {"X field, um:", Edit_Check_X_Field, "Largest deviation of a whole stripe from its nominal X"},
        {"Flatness, %:", Edit_Check_Flatness,
         "Largest deviation of the averaged profile from its line, in % of the Z range"},
    };
    // Two pairs of columns: the settings and the Z tolerances left, X and the field right.
    constexpr int PER_COLUMN = 6;
    int row = 0;
    for (const auto& [caption, edit, tip] : rows) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(edit);
        label->setToolTip(tip);
        edit->setToolTip(tip);
        settings->addWidget(label, row % PER_COLUMN, 2 * (row / PER_COLUMN));
        settings->addWidget(edit, row % PER_COLUMN, 2 * (row / PER_COLUMN) + 1);
        ++row;
    }
    settings->addWidget(Button_Calibr_Check, PER_COLUMN, 0, 1, 4);

    Label_Check_Figures = new QLabel(this);
    Label_Check_Figures->setObjectName("Label_Check_Figures");
    Label_Check_Figures->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Label_Check_Figures->setTextInteractionFlags(Qt::TextSelectableByMouse);
    Label_Check_Figures->setMinimumWidth(190);
    Label_Check_Figures->setWordWrap(true);
    Label_Check_Verdict = new QLabel(this);
    Label_Check_Verdict->setObjectName("Label_Check_Verdict");
    QFont bold = Label_Check_Verdict->font();
    bold.setBold(true);
    Label_Check_Verdict->setFont(bold);
    Label_Check_Verdict->setWordWrap(true);
    auto* figures = new QVBoxLayout;
    figures->setContentsMargins(0, 0, 0, 0);
    figures->addWidget(Label_Check_Verdict);
    figures->addWidget(Label_Check_Figures, 1);

    Panel_Check_Results = new QWidget(this);
    Panel_Check_Results->setObjectName("Panel_Check_Results");
    Chart_Check_Residual = new QCustomPlot(Panel_Check_Results);
    Chart_Check_Residual->setObjectName("Chart_Check_Residual");
    Chart_Check_Residual->xAxis->setLabel("Stage, mm");
    Chart_Check_Residual->yAxis->setLabel("Z residual, um");
    Chart_Check_Residual->xAxis->setLabelFont(WindowFont());
    Chart_Check_Residual->yAxis->setLabelFont(WindowFont());
    Chart_Check_Residual->xAxis->setTickLabelFont(WindowFont());
    Chart_Check_Residual->yAxis->setTickLabelFont(WindowFont());
    Series_Check_Residual = Chart_Check_Residual->addGraph();
    Series_Check_Residual->setObjectName("Series_Check_Residual");
    Series_Check_Residual->setPen(QPen(QColor(0, 0, 200), 1));
    Series_Check_Residual->setScatterStyle(QCPScatterStyle(QCPScatterStyle::ssCircle, 5));
    Chart_Check_Residual->setMinimumWidth(120);
    Chart_Check_Residual->xAxis->ticker()->setTickCount(3);
    Image_Check_Map = new TErrorMapView(Panel_Check_Results);
    auto* results = new QHBoxLayout(Panel_Check_Results);
    results->setContentsMargins(2, 2, 2, 2);
    results->addWidget(Chart_Check_Residual, 2);
    results->addWidget(Image_Check_Map, 3);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->addLayout(settings);
    layout->addLayout(figures, 1);
    setFixedHeight(190);

    connect(Button_Calibr_Check, &QPushButton::clicked, this, [this] { Button_Calibr_CheckClick(); });
}

TVerifySettings TCalibrationCheck::ReadSettings() const {
    TVerifySettings s;
    s.positions = static_cast<unsigned>(SpinEdit_Check_Positions->value());
    s.profiles = static_cast<unsigned>(SpinEdit_Check_Profiles->value());
    s.pitch_um = Edit_Check_Pitch->value();
    s.begin_um = host.begin_um();
    s.tolerances.z_linearity_pct = Edit_Check_Linearity->value();
    s.tolerances.z_scale_pct = Edit_Check_Scale->value();
    s.tolerances.z_repeatability_um = Edit_Check_Repeatability->value();
    s.tolerances.x_pitch_um = Edit_Check_Pitch_Error->value();
    s.tolerances.z_offset_pct = Edit_Check_Offset->value();
    s.tolerances.z_field_pct = Edit_Check_Field->value();
    s.tolerances.x_field_um = Edit_Check_X_Field->value();
    s.tolerances.flatness_pct = Edit_Check_Flatness->value();
    return s;
}

void TCalibrationCheck::ShowStopped(const QString& text) {
    Label_Check_Verdict->setStyleSheet(QString("color: %1").arg(FAIL_COLOUR.name()));
    Label_Check_Verdict->setText(text);
}

void TCalibrationCheck::ShowResult(const TVerifyResult& result) {
    QStringList lines;
    for (const std::string& line : VerifyFigureLines(result))
        lines << QString::fromStdString(line);
    const QString verdict = lines.takeLast();
    Label_Check_Figures->setText(lines.join("\n"));
    Label_Check_Verdict->setStyleSheet(
        QString("color: %1").arg((result.passed ? PASS_COLOUR : FAIL_COLOUR).name()));
    Label_Check_Verdict->setText(verdict);

    QVector<double> x, y;
    for (const TVerifyPosition& p : result.positions)
        if (p.profiles > 0) {
            x << p.stage_mm;
            y << p.residual_um;
        }
    Series_Check_Residual->setData(x, y);
    Chart_Check_Residual->rescaleAxes();
    // Keep a little room around the points, and never less than a few micrometres.
    const QCPRange r = Chart_Check_Residual->yAxis->range();
    const double half = std::max(5.0, std::max(std::abs(r.lower), std::abs(r.upper)) * 1.2);
    Chart_Check_Residual->yAxis->setRange(-half, half);
    Chart_Check_Residual->replot();
}

void TCalibrationCheck::Button_Calibr_CheckClick() {
    if (!host.sensor_connected() || !host.motor->IsOpen()) {
        ShowStopped("Connect the sensor and the motor driver first.");
        return;
    }
    if (host.busy()) {
        ShowStopped("The stage is moving: wait for the run or the move to end.");
        return;
    }
    const TVerifySettings settings = ReadSettings();
    const std::array<uint16_t, 8> identity = host.identity();

    QProgressDialog dialog(ProgressText(0, settings.positions), "Cancel", 0, int(settings.positions),
                           window());
    PrepareProgressDialog(dialog, "ProgressDialog_Check");
    host.show_progress(dialog);
    QApplication::processEvents();

    auto progress = [&dialog, &settings](unsigned done, unsigned total) {
        if (dialog.value() != int(done)) {
            dialog.setValue(int(done));
            dialog.setLabelText(ProgressText(done, total));
        }
        QApplication::processEvents();
        (void)settings;
        return !dialog.wasCanceled();
    };
    auto pause = [this](uint32_t ms) {
        for (uint32_t slept = 0; slept < ms;) {
            const uint32_t tick = std::min(PAUSE_TICK_MS, ms - slept);
            Sleep(tick);
            slept += tick;
            QApplication::processEvents();
        }
        if (ms == 0)
            QApplication::processEvents();
    };
    TZQ455Interface* sensor = host.sensor;
    Image_Check_Map->Clear();
    host.set_sensor_busy(true);
    if (host.set_check_running)
        host.set_check_running(true);
    last = RunVerification(
        settings, identity[IDENTITY_RANGE_Z], identity[IDENTITY_RANGE_XEMR], *host.motor,
        [sensor](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
            uint8_t result_status = 0;
            return sensor->GetResult(result_status, pairs, values, capacity);
        },
        pause, progress);
    host.set_sensor_busy(false);
    if (host.set_check_running)
        host.set_check_running(false);
    dialog.close();
    last_report.clear();

    if (last.sensor_result != 0) {
        ShowStopped(
            QString("Check stopped at position %1 of %2.").arg(last.completed + 1).arg(settings.positions));
        host.sensor_failed(last.sensor_result);
        return;
    }
    if (last.motor_result != 0) {
        ShowStopped(QString("Check stopped: motor driver: %1").arg(ResultMessage(last.motor_result)));
        return;
    }
    if (last.stage_stuck) {
        ShowStopped("Check stopped: the stage did not come to rest.");
        return;
    }
    if (last.cancelled) {
        ShowStopped(QString("Check cancelled after %1 of %2 positions; nothing was judged.")
                        .arg(last.completed)
                        .arg(settings.positions));
        return;
    }
    const double field_um = settings.tolerances.z_field_pct / 100.0 * identity[IDENTITY_RANGE_Z] * 1000.0;
    ShowOutcome(last, identity);
    if (host.show_results)
        host.show_results();

    TVerifyReportInfo info;
    info.identity = identity;
    info.date_time = NowText();
    info.settings = settings;
    info.edits = host.edits();
    // Two checks within a second keep both reports.
    const std::string folder = host.data_directory() + "/";
    const std::string base = VerifyReportName(info.date_time);
    std::string name = base;
    for (int n = 2; QFileInfo::exists(QString::fromStdString(folder + name)); ++n)
        name = base.substr(0, base.size() - 5) + "-" + std::to_string(n) + ".json";
    const std::string path = folder + name;
    TCalibrResult written = WriteVerifyReport(path, info, last.result);
    if (written.Ok())
        written = WriteErrorMapPng(VerifySiblingPath(path, VERIFY_MAP_PNG_ENDING), last.result, field_um);
    QString figures = Label_Check_Figures->text();
    if (written.Ok()) {
        last_report = path;
        figures += "\nReport: DataFiles/" + QString::fromStdString(name);
        Label_Check_Figures->setToolTip(QString::fromStdString(path));
    } else {
        figures += "\nReport not written: " + QString::fromStdString(written.message);
    }
    Label_Check_Figures->setText(figures);
    if (host.checked)
        host.checked(info, last.result);
}

void TCalibrationCheck::ShowOutcome(const TVerifyOutcome& outcome, const std::array<uint16_t, 8>& identity) {
    last = outcome;
    const double field_um =
        ReadSettings().tolerances.z_field_pct / 100.0 * identity[IDENTITY_RANGE_Z] * 1000.0;
    ShowResult(outcome.result);
    Image_Check_Map->ShowMap(outcome.result, field_um);
}

} // namespace zq455
