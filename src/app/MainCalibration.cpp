// The CALIBRATION page of TForm_Main: the motor panel and the motor timer, the .dtf file
// buttons, "Calculate" with the step viewer and Reset Point, and the table transfer and
// save with their progress dialogs. The logic lives in src/calibration; the handlers read
// their controls, call it and show what it gives.

#include "Main.h"

#include "PointCloudPlottable.h"
#include "WaitCursor.h"
#include "calibration/DataFile.h"
#include "calibration/TableComputation.h"
#include "calibration/TableEdits.h"
#include "calibration/TransmitTable.h"
#include "sensor/ParameterMap.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <optional>
#include <qcustomplot.h>

namespace zq455 {

namespace {

const QRgb RESULT_COLOUR = qRgb(255, 0, 0);
const QRgb STEP_VIEW_COLOUR = qRgb(0, 128, 0);
constexpr const char* DATA_FILTER = "All files(*.*)|*.*|Data files(*.dtf)|*.dtf";
// The table save's pause is cut into ticks so its countdown moves.
constexpr uint32_t SAVE_TICK_MS = 250;
constexpr uint32_t TABLE_SAVE_MS = 40000;

std::vector<TPointCloudPlottable::TPoint> Cloud(const std::vector<TCalibrPoint>& points, QRgb colour) {
    std::vector<TPointCloudPlottable::TPoint> cloud;
    cloud.reserve(points.size());
    for (const TCalibrPoint& p : points)
        cloud.push_back({double(p.column), double(p.value), colour});
    return cloud;
}

QString SaveCountdownText(uint32_t remaining_ms) {
    return QString("Storing the table in FLASH: %1 s left").arg((remaining_ms + 999) / 1000);
}

// Both file buttons: the data folder is made first (even when the dialog is then
// cancelled), and the dialog opens there on the .dtf filter. False when cancelled.
bool RunDataDialog(TFileDialog& dialog, const QString& start_dir) {
    dialog.InitialDir = QString::fromStdString(CalibrDataDirectory(start_dir.toStdString()));
    dialog.Filter = DATA_FILTER;
    dialog.FilterIndex = 2;
    dialog.DefaultExt = "dtf";
    return dialog.Execute();
}

} // namespace

// Modal over the window and kept open at its maximum until the operation closes it (the
// sensor finishes what it started).
void PrepareProgressDialog(QProgressDialog& dialog, const char* name) {
    dialog.setObjectName(name);
    dialog.setWindowTitle(APPLICATION_TITLE);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);
}

void TForm_Main::ConnectCalibrationPage() {
    Calibration = std::make_unique<TCalibrationState>();
    Calibr_Run = std::make_unique<TCalibrationSequencer>(
        *Calibration, *Motor,
        [this](uint16_t* values, uint32_t capacity, uint32_t& count) {
            return Sensor->ReadCalibrData(values, capacity, count);
        },
        [this] { return Device_Identity[IDENTITY_RANGE_Z]; });
    ShowProgress = [](QProgressDialog& dialog) { dialog.show(); };

    // Each button's handler; all but the two file buttons (whose dialogs wait for the
    // engineer) hold the window in a device call or a computation, under the wait cursor.
    struct TButtonHandler {
        QPushButton* button;
        void (TForm_Main::*handler)();
        bool waits;
    };
    const TButtonHandler buttons[] = {
        {Button_Motor_Connect, &TForm_Main::Button_Motor_ConnectClick, true},
        {Button_Motor_Init, &TForm_Main::Button_Motor_InitClick, true},
        {Button_Motor_Forward, &TForm_Main::Button_Motor_ForwardClick, true},
        {Button_Motor_Backward, &TForm_Main::Button_Motor_BackwardClick, true},
        {Button_Calibration, &TForm_Main::Button_CalibrationClick, true},
        {Button_Calibr_Save_File, &TForm_Main::Button_Calibr_Save_FileClick, false},
        {Button_Calibr_Load_File, &TForm_Main::Button_Calibr_Load_FileClick, false},
        {Button_Calibr_Calculate, &TForm_Main::Button_Calibr_CalculateClick, true},
        {Button_Calibr_Rst_Pnt, &TForm_Main::Button_Calibr_Rst_PntClick, false},
        {Button_TABLE_Trans, &TForm_Main::Button_TABLE_TransClick, true},
        {Button_TABLE_Save, &TForm_Main::Button_TABLE_SaveClick, true},
    };
    for (const TButtonHandler& entry : buttons)
        connect(entry.button, &QPushButton::clicked, this, [this, entry] {
            std::optional<TWaitCursor> wait;
            if (entry.waits)
                wait.emplace();
            (this->*entry.handler)();
        });
    connect(CSpinEdit_Calibr_Ind_Step, &QSpinBox::valueChanged, this,
            [this] { CSpinEdit_Calibr_Ind_StepChange(); });
    connect(Timer_Motor, &QTimer::timeout, this, [this] { Timer_MotorTimer(); });

    // The check sits under the chart, left of the motor panel; its results take the chart's
    // place on a tab of their own, and the computation's choice sits in the tabs' corner.
    Panel_Calibr_Check = new TCalibrationCheck(CalibrationCheckHost(), TabSheet_Calibration);
    auto* page = static_cast<QBoxLayout*>(TabSheet_Calibration->layout());
    page->removeWidget(Chart_Calibr_Oscilloscope);
    PageControl_Calibr_View = new QTabWidget(TabSheet_Calibration);
    PageControl_Calibr_View->setObjectName("PageControl_Calibr_View");
    PageControl_Calibr_View->setDocumentMode(true);
    PageControl_Calibr_View->addTab(Chart_Calibr_Oscilloscope, "Oscilloscope");
    PageControl_Calibr_View->addTab(Panel_Calibr_Check->Panel_Check_Results, "Check");
    CheckBox_Calibr_Classic = new QCheckBox("Classic computation", PageControl_Calibr_View);
    CheckBox_Calibr_Classic->setObjectName("CheckBox_Calibr_Classic");
    CheckBox_Calibr_Classic->setToolTip(
        "Calculate as the tables were always made: polylines between the segment centres and straight "
        "lines along Z. Unticked, the tables come from fits of every value of the run and hold the "
        "frame's edges.");
    PageControl_Calibr_View->setCornerWidget(CheckBox_Calibr_Classic, Qt::TopRightCorner);
    auto* left = new QVBoxLayout;
    left->setSpacing(0);
    left->addWidget(PageControl_Calibr_View, 1);
    left->addWidget(Panel_Calibr_Check);
    page->insertLayout(0, left, 1);
}

TCalibrationCheck::THost TForm_Main::CalibrationCheckHost() {
    TCalibrationCheck::THost host;
    host.sensor = Sensor.get();
    host.motor = Motor.get();
    host.sensor_connected = [this] { return Button_Connect->text() == "Disconnect"; };
    host.busy = [this] { return Timer_Motor->isActive(); };
    host.identity = [this] {
        std::array<uint16_t, IDENTITY_COUNT> identity{};
        std::copy(std::begin(Device_Identity), std::end(Device_Identity), identity.begin());
        return identity;
    };
    host.begin_um = [this] { return SpinEdit_Motor_Move_Start->value(); };
    host.edits = [this] {
        return std::vector<std::pair<std::string, std::string>>{
            {"x_left", Edit_X_Left->text().toStdString()},
            {"x_right", Edit_X_Right->text().toStdString()},
            {"zero_left", Edit_ZERO_Left->text().toStdString()},
            {"zero_right", Edit_ZERO_Right->text().toStdString()}};
    };
    host.data_directory = [this] { return CalibrDataDirectory(Start_Dir.toStdString()); };
    host.sensor_failed = [this](uint32_t code) { Sensor_Result = code; };
    host.set_sensor_busy = [this](bool busy) { Sensor_Busy = busy; };
    host.show_progress = [this](QProgressDialog& dialog) { ShowProgress(dialog); };
    host.set_check_running = [this](bool running) {
        Check_Running = running;
        UpdateCalibrationButtons();
    };
    host.show_results = [this] { PageControl_Calibr_View->setCurrentIndex(1); };
    return host;
}

void TForm_Main::ShowCalibrationMessage(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, ERROR_BOX_CAPTION, QString::fromStdString(text), QMessageBox::Ok,
                    this);
    ShowModal(box);
}

// ---------------------------------------------------------------------------------------------
// Motor panel and run

void TForm_Main::Button_Motor_ConnectClick() {
    if (Button_Motor_Connect->text() == "Connect") {
        TMotorOpenSettings open;
        open.port_kind = LINK_MODE_USB;
        open.device_name = MOTOR_USB_DESCRIPTION;
        open.baud = MOTOR_BAUD;
        if ((Calibr_Run->Motor_Result = Motor->Open(open)))
            return;
        Button_Motor_Connect->setText("Disconnect");
    } else {
        Calibr_Run->Motor_Result = Motor->Close();
        Button_Motor_Connect->setText("Connect");
    }
}

void TForm_Main::AfterMotorButton(bool start_timer) {
    if (start_timer)
        Timer_Motor->start();
    ShowRunProgress();
}

void TForm_Main::Button_Motor_InitClick() {
    AfterMotorButton(Calibr_Run->MotorInit());
}

void TForm_Main::Button_Motor_ForwardClick() {
    AfterMotorButton(Calibr_Run->MotorForward(SpinEdit_Motor_Move_Steps->value()));
}

void TForm_Main::Button_Motor_BackwardClick() {
    AfterMotorButton(Calibr_Run->MotorBackward(SpinEdit_Motor_Move_Steps->value()));
}

void TForm_Main::Button_CalibrationClick() {
    PageControl_Calibr_View->setCurrentWidget(Chart_Calibr_Oscilloscope);
    AfterMotorButton(Calibr_Run->StartCalibration(SpinEdit_Motor_Move_Start->value()));
}

void TForm_Main::Timer_MotorTimer() {
    Timer_Motor->stop();
    // A table transfer or save lets the timers tick while it paints its progress; the
    // sensor is in the middle of an exchange then, so the tick waits for the next round.
    if (Sensor_Busy) {
        Timer_Motor->start();
        return;
    }
    const TCalibrTick tick = Calibr_Run->Tick();
    if (tick.captured || tick.sensor_result != 0)
        Sensor_Result = tick.sensor_result;
    if (tick.captured) {
        Series_Calibr_Oscilloscope->Clear();
        Series_Calibr_Oscilloscope->AddPoints(Cloud(Calibr_Run->StepView(), RESULT_COLOUR));
        Chart_Calibr_Oscilloscope->replot(QCustomPlot::rpQueuedReplot);
    }
    if (tick.rearm)
        Timer_Motor->start();
    ShowRunProgress();
}

void TForm_Main::UpdateCalibrationButtons() {
    const bool moving = Check_Running || (Timer_Motor->isActive() && Calibr_Run->Capturing());
    for (QWidget* w : std::initializer_list<QWidget*>{
             Button_Motor_Connect, Button_Motor_Init, Button_Motor_Forward, Button_Motor_Backward,
             Button_Calibration, Button_Calibr_Save_File, Button_Calibr_Load_File, Button_Calibr_Calculate,
             Button_Calibr_Rst_Pnt, Button_TABLE_Trans, Button_TABLE_Save,
             Panel_Calibr_Check->Button_Calibr_Check})
        w->setEnabled(!moving);
}

void TForm_Main::ShowRunProgress() {
    UpdateCalibrationButtons();
    const int k = Calibration->Calibr_Step_Index;
    const int count = Calibration->Calibr_Step_Count;
    QString text;
    switch (Calibr_Run->Tag) {
    case CALIBR_TAG_HOME:
        text = Timer_Motor->isActive() ? "Going home first" : "Stopped on the way home";
        break;
    case CALIBR_TAG_APPROACH:
        text = Timer_Motor->isActive() ? "Moving to the start" : "Stopped before the start";
        break;
    case CALIBR_TAG_CAPTURE:
        if (k >= count)
            text = QString("Step %1 of %2, done").arg(count).arg(count);
        else if (Timer_Motor->isActive())
            text = QString("Step %1 of %2").arg(k + 1).arg(count);
        else
            text = QString("Stopped at step %1 of %2").arg(k + 1).arg(count);
        break;
    default:
        text = Timer_Motor->isActive() ? "Moving" : "";
        break;
    }
    Label_Calibr_Progress->setText(text);
}

// ---------------------------------------------------------------------------------------------
// Data file

void TForm_Main::Button_Calibr_Save_FileClick() {
    if (!RunDataDialog(*SaveDialogData, Start_Dir))
        return;
    const TCalibrResult r = SaveDataFile(*Calibration, SaveDialogData->FileName.toStdString());
    if (!r.Ok())
        ShowCalibrationMessage(r.message);
}

void TForm_Main::Button_Calibr_Load_FileClick() {
    if (!RunDataDialog(*OpenDialogData, Start_Dir))
        return;
    size_t loaded = 0;
    const TCalibrResult r = LoadDataFile(*Calibration, OpenDialogData->FileName.toStdString(), loaded);
    if (!r.Ok())
        ShowCalibrationMessage(r.message);
}

// ---------------------------------------------------------------------------------------------
// Calculate, step viewer, Reset Point

void TForm_Main::ShowCentres() {
    Series_Calibr_Oscilloscope->Clear();
    Series_Calibr_Oscilloscope->AddPoints(Cloud(CentrePoints(*Calibration), RESULT_COLOUR));
    Chart_Calibr_Oscilloscope->replot();
}

void TForm_Main::ShowStepView(const std::vector<TCalibrPoint>& points) {
    Series_Calibr_Oscilloscope1->Clear();
    Series_Calibr_Oscilloscope1->AddPoints(Cloud(points, STEP_VIEW_COLOUR));
    Chart_Calibr_Oscilloscope->replot();
}

void TForm_Main::Button_Calibr_CalculateClick() {
    TTableEditTexts texts;
    texts.x_left = Edit_X_Left->text().toStdString();
    texts.x_right = Edit_X_Right->text().toStdString();
    texts.zero_left = Edit_ZERO_Left->text().toStdString();
    texts.zero_right = Edit_ZERO_Right->text().toStdString();
    TTableParams params;
    TCalibrResult r = ValidateTableEdits(texts, Device_Identity[IDENTITY_RANGE_Z],
                                         Device_Identity[IDENTITY_RANGE_XEMR], params);
    if (r.Ok())
        r = Calculate(*Calibration, params,
                      CheckBox_Calibr_Classic->isChecked() ? TTableMethod::Classic : TTableMethod::Fitted);
    if (!r.Ok()) {
        ShowCalibrationMessage(r.message);
        return;
    }
    PageControl_Calibr_View->setCurrentWidget(Chart_Calibr_Oscilloscope);
    ShowCentres();
}

void TForm_Main::CSpinEdit_Calibr_Ind_StepChange() {
    ShowStepView(StepViewPoints(*Calibration, CSpinEdit_Calibr_Ind_Step->value()));
}

void TForm_Main::Button_Calibr_Rst_PntClick() {
    std::vector<TCalibrPoint> view;
    if (ResetPoint(*Calibration, CSpinEdit_Calibr_Ind_Data->value(), CSpinEdit_Calibr_Ind_Step->value(),
                   view))
        ShowStepView(view);
}

// ---------------------------------------------------------------------------------------------
// Table transfer and save

void TForm_Main::Button_TABLE_TransClick() {
    uint16_t xl = 0;
    uint16_t xr = 0;
    const TCalibrResult r =
        ValidateXLimits(Edit_X_Left->text().toStdString(), Edit_X_Right->text().toStdString(), xl, xr);
    if (!r.Ok()) {
        ShowCalibrationMessage(r.message);
        return;
    }
    AssembleTransmitTable(*Calibration, xl, xr);

    constexpr uint32_t blocks = CALIBR_TRANS_VALUES / TABLE_BLOCK_VALUES;
    QProgressDialog dialog(QString("Transmitting the table: block 0 of %1").arg(blocks), QString(), 0,
                           int(blocks), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Table_Trans");
    ShowProgress(dialog);
    QApplication::processEvents();
    Sensor_Busy = true;
    Sensor_Result = Sensor->TransmitTable(
        &Calibration->Calibr_Table_Trans[0][0], CALIBR_TRANS_VALUES,
        [&dialog](uint32_t done, uint32_t total) {
            dialog.setLabelText(QString("Transmitting the table: block %1 of %2").arg(done).arg(total));
            dialog.setValue(int(done));
            QApplication::processEvents();
        });
    Sensor_Busy = false;
    dialog.close();
}

void TForm_Main::Button_TABLE_SaveClick() {
    QProgressDialog dialog(SaveCountdownText(TABLE_SAVE_MS), QString(), 0, int(TABLE_SAVE_MS), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Table_Save");
    ShowProgress(dialog);
    QApplication::processEvents();

    // The sensor stores for 40 s before it answers. Its pause is taken in ticks that move
    // the countdown; together they last the whole pause, and the reply is read after it.
    const TSleepFunction pause = Sensor->Sleep;
    Sensor->Sleep = [&dialog, &pause](uint32_t ms) {
        for (uint32_t slept = 0; slept < ms;) {
            const uint32_t tick = std::min(SAVE_TICK_MS, ms - slept);
            pause(tick);
            slept += tick;
            dialog.setLabelText(SaveCountdownText(ms - slept));
            dialog.setValue(int(std::min<uint32_t>(slept, TABLE_SAVE_MS)));
            QApplication::processEvents();
        }
    };
    Sensor_Busy = true;
    Sensor_Result = Sensor->SaveTable();
    Sensor_Busy = false;
    Sensor->Sleep = pause;
    dialog.close();
}

} // namespace zq455
