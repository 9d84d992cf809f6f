#include "CalibrationPage.h"

#include "Certificate.h"
#include "ErrorMapPicture.h"
#include "Main.h"
#include "PointCloudPlottable.h"
#include "WaitCursor.h"
#include "WidgetMaking.h"
#include "calibration/DataFile.h"
#include "calibration/TableComputation.h"
#include "calibration/TableEdits.h"
#include "calibration/TransmitTable.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QDateTime>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
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
constexpr uint32_t PAUSE_TICK_MS = 20;
constexpr uint8_t MOTOR_HOME = 0x10;
constexpr uint8_t MOTOR_BUSY = 0x03;
constexpr double UM_PER_STEP = 12.5;
constexpr uint32_t TABLE_BLOCKS = CALIBR_TRANS_ROWS * CALIBR_COLUMNS / TABLE_BLOCK_VALUES;

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

// Sleeps `ms` through `pause` in ticks of at most `tick_ms`, the window's events handled and
// `after(remaining_ms)` called after each, so a long device pause moves its dialog.
void SleepInTicks(const TSleepFunction& pause, uint32_t ms, uint32_t tick_ms,
                  const std::function<void(uint32_t)>& after = {}) {
    for (uint32_t slept = 0; slept < ms;) {
        const uint32_t tick = std::min(tick_ms, ms - slept);
        pause(tick);
        slept += tick;
        if (after)
            after(ms - slept);
        QApplication::processEvents();
    }
}

QString Clock() {
    return QTime::currentTime().toString("HH:mm:ss");
}

// Both file buttons: the data folder is made first (even when the dialog is then
// cancelled), and the dialog opens there on the .dtf filter. False when cancelled.
bool RunDataDialog(TFileDialog& dialog, const std::string& start_dir) {
    dialog.InitialDir = QString::fromStdString(CalibrDataDirectory(start_dir));
    dialog.Filter = DATA_FILTER;
    dialog.FilterIndex = 2;
    dialog.DefaultExt = "dtf";
    return dialog.Execute();
}

// What each phase of "Calibrate..." takes on the paced devices, for the dialog to say.
QString PhaseText(TWorkflowPhase phase, unsigned done, unsigned total) {
    switch (phase) {
    case TWorkflowPhase::Run:
        return QString("Run: step %1 of %2 (about 30 s)").arg(done).arg(total);
    case TWorkflowPhase::Compute:
        return "Computing the tables (under a second)";
    case TWorkflowPhase::Archive:
        return "Keeping the table in the archive";
    case TWorkflowPhase::Send:
        return QString("Sending the table: block %1 of %2 (about 15 s)").arg(done).arg(total);
    case TWorkflowPhase::Check:
        return QString("Checking: position %1 of %2 (about 60 s)").arg(done).arg(total);
    case TWorkflowPhase::Save:
        return "Storing the table in FLASH (40 s)";
    case TWorkflowPhase::Certificate:
        return "Writing the certificate";
    default:
        return "Done";
    }
}

} // namespace

TCalibrationPage::TCalibrationPage(THost host_value, QWidget* parent)
    : QWidget(parent), host(std::move(host_value)) {
    setObjectName("TabSheet_Calibration");
    Calibration = std::make_unique<TCalibrationState>();
    Calibr_Run = std::make_unique<TCalibrationSequencer>(
        *Calibration, *host.motor,
        [this](uint16_t* values, uint32_t capacity, uint32_t& count) {
            return host.sensor->ReadCalibrData(values, capacity, count);
        },
        [this] { return Identity()[IDENTITY_RANGE_Z]; });
    Timer_Motor = Named(new QTimer(this), "Timer_Motor");
    Timer_Motor->setInterval(1);
    Timer_Motor_State = Named(new QTimer(this), "Timer_Motor_State");
    Timer_Motor_State->setInterval(500);
    OpenFile = host.open_file;
    BuildControls();
    ConnectControls();
    ShowMotorState();
}

TCalibrationPage::~TCalibrationPage() = default;

void TCalibrationPage::BuildControls() {
    Chart_Calibr_Oscilloscope = MakeChart(this, "Chart_Calibr_Oscilloscope");
    Chart_Calibr_Oscilloscope->xAxis->setRange(0, 640);
    Chart_Calibr_Oscilloscope->yAxis->setRange(0, 5200);
    Series_Calibr_Oscilloscope = AddPointSeries(Chart_Calibr_Oscilloscope, "Series_Calibr_Oscilloscope", 3);
    Series_Calibr_Oscilloscope1 = AddPointSeries(Chart_Calibr_Oscilloscope, "Series_Calibr_Oscilloscope1", 3);

    Panel_Motor = MakePanel(this, "Panel_Motor");
    Panel_Motor->setFixedWidth(151);

    // One column of controls, 23 pixels apart; a label sits left of its edit.
    QWidget* p = Panel_Motor;
    int y = 4;
    const int w = 139;
    auto full = [&](const char* name, const char* caption) {
        QPushButton* button = MakeButton(p, name, caption, QRect(6, y, w, 22));
        y += 24;
        return button;
    };
    auto labelled_spin = [&](QLabel*& label, const char* label_name, const char* caption, const char* name,
                             int min, int max, int value) {
        label = MakeLabel(p, label_name, caption, 6, y + 3, 66);
        QSpinBox* spin = MakeSpin(p, name, min, max, value, QRect(72, y, w - 66, 22));
        y += 24;
        return spin;
    };
    auto labelled_edit = [&](QLabel*& label, const char* label_name, const char* caption, const char* name,
                             const char* text) {
        label = MakeLabel(p, label_name, caption, 6, y + 3, 66);
        auto* edit = Named(new QLineEdit(text, p), name);
        edit->setGeometry(72, y, w - 66, 22);
        y += 24;
        return edit;
    };
    // Which motor driver: the first by its USB description, one by its tty and serial number,
    // or a path typed in.
    ComboBox_Motor_Device =
        Named(new TDeviceList(p, MOTOR_USB_DESCRIPTION, "First driver on USB"), "ComboBox_Motor_Device");
    ComboBox_Motor_Device->setGeometry(6, y, w, 22);
    ComboBox_Motor_Device->setToolTip("The motor driver to connect");
    y += 24;
    Button_Motor_Connect = full("Button_Motor_Connect", "Connect");
    Button_Motor_Init = full("Button_Motor_Init", "Motor Init");
    SpinEdit_Motor_Move_Steps = labelled_spin(Label_Motor_Move, "Label_Motor_Move",
                                              "Move, step:", "SpinEdit_Motor_Move_Steps", 1, 60000, 3200);
    Button_Motor_Forward = full("Button_Motor_Forward", "Motor Forward");
    Button_Motor_Backward = full("Button_Motor_Backward", "Motor Backward");
    SpinEdit_Motor_Move_Start = labelled_spin(Label_Motor_Start, "Label_Motor_Start",
                                              "Begin, um:", "SpinEdit_Motor_Move_Start", 10, 360000, 22000);
    Button_Calibration = full("Button_Calibration", "Start Calibration");
    y += 2;
    Button_Calibr_Save_File = full("Button_Calibr_Save_File", "Save to file");
    Button_Calibr_Load_File = full("Button_Calibr_Load_File", "Load from file");
    y += 2;
    Edit_X_Left = labelled_edit(Label_X_Left, "Label_X_Left", "X left:", "Edit_X_Left", "0");
    Edit_X_Right = labelled_edit(Label_X_Right, "Label_X_Right", "X right:", "Edit_X_Right", "0");
    Edit_ZERO_Left = labelled_edit(Label_ZERO_Left, "Label_ZERO_Left", "Zero left:", "Edit_ZERO_Left", "310");
    Edit_ZERO_Right =
        labelled_edit(Label_ZERO_Right, "Label_ZERO_Right", "Zero right:", "Edit_ZERO_Right", "340");
    Button_Calibr_Calculate = full("Button_Calibr_Calculate", "Calculate");
    CSpinEdit_Calibr_Ind_Step = labelled_spin(Label_Calibr_Ind_Step, "Label_Calibr_Ind_Step",
                                              "Step index:", "CSpinEdit_Calibr_Ind_Step", 0, 1000, 0);
    CSpinEdit_Calibr_Ind_Data = labelled_spin(Label_Calibr_Ind_Data, "Label_Calibr_Ind_Data",
                                              "Data index:", "CSpinEdit_Calibr_Ind_Data", 0, 1000, 0);
    Button_Calibr_Rst_Pnt = full("Button_Calibr_Rst_Pnt", "Reset Point");
    y += 2;
    Button_TABLE_Trans = full("Button_TABLE_Trans", "Transmitt table");
    Button_TABLE_Save = full("Button_TABLE_Save", "Save table");
    CSpinEdit_Calibr_Ind_Step->setMaximum(CALIBR_MAX_STEP_INDEX);
    CSpinEdit_Calibr_Ind_Data->setMaximum(CALIBR_MAX_DATA_INDEX);

    // Left of the motor panel: the oscilloscope or the check's results on tabs, the check's
    // controls, then the status line and the stage's state, both wrapping.
    Panel_Calibr_Check = new TCalibrationCheck(CheckHost(), this);
    PageControl_Calibr_View = Named(new QTabWidget(this), "PageControl_Calibr_View");
    PageControl_Calibr_View->setDocumentMode(true);
    PageControl_Calibr_View->addTab(Chart_Calibr_Oscilloscope, "Oscilloscope");
    PageControl_Calibr_View->addTab(Panel_Calibr_Check->Panel_Check_Results, "Check");
    // The whole calibration, the archive and the certificate in a row above the tabs; the
    // computation's choice in the tabs' corner.
    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(4, 2, 4, 2);
    actions->setSpacing(4);
    Button_Calibr_Workflow = Named(new QPushButton("Calibrate...", this), "Button_Calibr_Workflow");
    Button_Calibr_Workflow->setToolTip(
        "Home, run, tables, archive, transfer, check and, on a pass, the store "
        "in FLASH with a certificate");
    Button_Calibr_Restore = Named(new QPushButton("Restore table...", this), "Button_Calibr_Restore");
    Button_Calibr_Restore->setToolTip("Send a table kept in the archive for this sensor again");
    Button_Calibr_Certificate = Named(new QPushButton("Certificate...", this), "Button_Calibr_Certificate");
    Button_Calibr_Certificate->setToolTip("Open the newest certificate of this sensor");
    for (QPushButton* b : {Button_Calibr_Workflow, Button_Calibr_Restore, Button_Calibr_Certificate}) {
        b->setFixedHeight(22);
        actions->addWidget(b);
    }
    actions->addStretch(1);
    CheckBox_Calibr_Classic =
        Named(new QCheckBox("Classic computation", PageControl_Calibr_View), "CheckBox_Calibr_Classic");
    CheckBox_Calibr_Classic->setToolTip(
        "Calculate as the tables were always made: polylines between the segment centres and straight "
        "lines along Z. Unticked, the tables come from fits of every value of the run and hold the "
        "frame's edges.");
    PageControl_Calibr_View->setCornerWidget(CheckBox_Calibr_Classic, Qt::TopRightCorner);

    Label_Calibr_Progress = Named(new QLabel(this), "Label_Calibr_Progress");
    Label_Motor_State = Named(new QLabel(this), "Label_Motor_State");
    for (QLabel* label : {Label_Calibr_Progress, Label_Motor_State}) {
        label->setWordWrap(true);
        label->setContentsMargins(6, 1, 6, 1);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* status = new QHBoxLayout;
    status->addWidget(Label_Calibr_Progress, 3);
    status->addWidget(Label_Motor_State, 2);
    auto* left = new QVBoxLayout;
    left->setSpacing(0);
    left->addLayout(actions);
    left->addWidget(PageControl_Calibr_View, 1);
    left->addWidget(Panel_Calibr_Check);
    left->addLayout(status);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(left, 1);
    layout->addWidget(Panel_Motor);
}

void TCalibrationPage::ConnectControls() {
    // Each button's handler; all but the two file buttons (whose dialogs wait for the
    // engineer) hold the window in a device call or a computation, under the wait cursor.
    struct TButtonHandler {
        QPushButton* button;
        void (TCalibrationPage::*handler)();
        bool waits;
    };
    const TButtonHandler buttons[] = {
        {Button_Motor_Connect, &TCalibrationPage::Button_Motor_ConnectClick, true},
        {Button_Motor_Init, &TCalibrationPage::Button_Motor_InitClick, true},
        {Button_Motor_Forward, &TCalibrationPage::Button_Motor_ForwardClick, true},
        {Button_Motor_Backward, &TCalibrationPage::Button_Motor_BackwardClick, true},
        {Button_Calibration, &TCalibrationPage::Button_CalibrationClick, true},
        {Button_Calibr_Save_File, &TCalibrationPage::Button_Calibr_Save_FileClick, false},
        {Button_Calibr_Load_File, &TCalibrationPage::Button_Calibr_Load_FileClick, false},
        {Button_Calibr_Calculate, &TCalibrationPage::Button_Calibr_CalculateClick, true},
        {Button_Calibr_Rst_Pnt, &TCalibrationPage::Button_Calibr_Rst_PntClick, false},
        {Button_TABLE_Trans, &TCalibrationPage::Button_TABLE_TransClick, true},
        {Button_TABLE_Save, &TCalibrationPage::Button_TABLE_SaveClick, true},
        {Button_Calibr_Workflow, &TCalibrationPage::Button_Calibr_WorkflowClick, false},
        {Button_Calibr_Restore, &TCalibrationPage::Button_Calibr_RestoreClick, false},
        {Button_Calibr_Certificate, &TCalibrationPage::Button_Calibr_CertificateClick, false},
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
    connect(Timer_Motor_State, &QTimer::timeout, this, [this] {
        if (!Timer_Motor->isActive() && !Check_Running && !host.sensor_busy())
            ShowMotorState();
    });
}

TCalibrationCheck::THost TCalibrationPage::CheckHost() {
    TCalibrationCheck::THost check;
    check.sensor = host.sensor;
    check.motor = host.motor;
    check.sensor_connected = [this] { return host.sensor_connected(); };
    check.busy = [this] { return Timer_Motor->isActive(); };
    check.identity = [this] { return Identity(); };
    check.begin_um = [this] { return SpinEdit_Motor_Move_Start->value(); };
    check.edits = [this] {
        return std::vector<std::pair<std::string, std::string>>{
            {"x_left", Edit_X_Left->text().toStdString()},
            {"x_right", Edit_X_Right->text().toStdString()},
            {"zero_left", Edit_ZERO_Left->text().toStdString()},
            {"zero_right", Edit_ZERO_Right->text().toStdString()}};
    };
    check.data_directory = [this] { return DataDirectory(); };
    check.sensor_failed = [this](uint32_t code) { host.sensor_failed(code); };
    check.set_sensor_busy = [this](bool busy) { host.set_sensor_busy(busy); };
    check.show_progress = [this](QProgressDialog& dialog) { host.show_progress(dialog); };
    check.set_check_running = [this](bool running) {
        Check_Running = running;
        UpdateCalibrationButtons();
        if (!running)
            ShowMotorState();
    };
    check.show_results = [this] { PageControl_Calibr_View->setCurrentIndex(1); };
    check.checked = [this](const TVerifyReportInfo& info, const TVerifyResult& result) {
        AfterCheck(info, result);
    };
    return check;
}

std::string TCalibrationPage::DataDirectory() const {
    return CalibrDataDirectory(host.start_dir());
}

std::array<uint16_t, 8> TCalibrationPage::Identity() const {
    return host.identity();
}

TTableArchive TCalibrationPage::Archive() const {
    return TTableArchive(DataDirectory(), Identity());
}

void TCalibrationPage::ShowMessage(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, ERROR_BOX_CAPTION, QString::fromStdString(text), QMessageBox::Ok,
                    this);
    host.show_modal(box);
}

bool TCalibrationPage::Ask(const QString& question) {
    QMessageBox box(QMessageBox::Question, APPLICATION_TITLE, question, QMessageBox::Yes | QMessageBox::No,
                    this);
    box.setDefaultButton(QMessageBox::No);
    return host.show_modal(box) == QMessageBox::Yes;
}

void TCalibrationPage::SetStatus(const QString& text) {
    Label_Calibr_Progress->setText(text);
}

void TCalibrationPage::SensorConnected() {
    Working_Table = {};
}

void TCalibrationPage::SensorLost() {
    const bool was_running = Timer_Motor->isActive() && Calibr_Run->Capturing();
    Timer_Motor->stop();
    if (was_running)
        Run_Partial = true;
    ShowRunProgress();
    // What the sensor holds after a fault is not known any more.
    if (Working_Table.delivery != TTableDelivery::NotSent)
        Working_Table.verdict.clear();
}

std::vector<QWidget*> TCalibrationPage::TabOrder() const {
    std::vector<QWidget*> order = {Button_Calibr_Workflow, Button_Calibr_Restore, Button_Calibr_Certificate,
                                   CheckBox_Calibr_Classic};
    for (QWidget* panel : {static_cast<QWidget*>(Panel_Motor), static_cast<QWidget*>(Panel_Calibr_Check)})
        for (QWidget* control : panel->findChildren<QWidget*>()) {
            // A spin box's own line edit is part of the spin box, not a control of its own.
            bool inner = false;
            for (QWidget* w = control->parentWidget(); w && w != panel; w = w->parentWidget())
                inner = inner || (w->focusPolicy() & Qt::TabFocus);
            if ((control->focusPolicy() & Qt::TabFocus) && !inner)
                order.push_back(control);
        }
    return order;
}

// ---------------------------------------------------------------------------------------------
// Motor panel and run

void TCalibrationPage::MotorFailed(const char* what, uint32_t code) {
    const char* message = ResultMessage(code);
    const std::string& reason = host.motor->port.Reason();
    Motor_Problem = std::string(what) + ": " + (*message ? message : "result " + std::to_string(code)) +
                    (reason.empty() ? "" : " " + reason);
}

void TCalibrationPage::ShowMotorState() {
    TMotorInterface& motor = *host.motor;
    QString text;
    if (!motor.IsOpen()) {
        text = "Motor driver: not connected";
    } else {
        uint8_t status = motor.status;
        if (!Timer_Motor->isActive() && !Check_Running) {
            if (const uint32_t code = motor.GetStatus(status))
                MotorFailed("status", code);
        }
        const int64_t steps = motor.CommandedSteps();
        const QString where = steps < 0
                                  ? QString("position not known (no Init yet)")
                                  : QString("%1 um from home").arg(double(steps) * UM_PER_STEP, 0, 'f', 1);
        text = QString("Motor driver: connected, %1, %2")
                   .arg((status & MOTOR_BUSY)   ? "moving"
                        : (status & MOTOR_HOME) ? "at home"
                                                : "at rest")
                   .arg(where);
    }
    if (!Motor_Problem.empty())
        text += "\nMotor error: " + QString::fromStdString(Motor_Problem);
    Label_Motor_State->setText(text);
}

void TCalibrationPage::Button_Motor_ConnectClick() {
    Motor_Problem.clear();
    if (Button_Motor_Connect->text() == "Connect") {
        TMotorOpenSettings open;
        const TDeviceList::TChoice choice = ComboBox_Motor_Device->Choice();
        open.port_kind = choice.mode;
        open.device_name = choice.name;
        open.baud = MOTOR_BAUD;
        if ((Calibr_Run->Motor_Result = host.motor->Open(open))) {
            MotorFailed("Connect", Calibr_Run->Motor_Result);
            ShowMotorState();
            ShowMessage("The motor driver could not be opened: " + Motor_Problem.substr(9));
            return;
        }
        Button_Motor_Connect->setText("Disconnect");
        Timer_Motor_State->start();
    } else {
        Timer_Motor->stop();
        Calibr_Run->Motor_Result = host.motor->Close();
        Button_Motor_Connect->setText("Connect");
        Timer_Motor_State->stop();
    }
    ShowMotorState();
    UpdateCalibrationButtons();
}

void TCalibrationPage::AfterMotorButton(bool start_timer) {
    if (start_timer)
        Timer_Motor->start();
    else if (Calibr_Run->Motor_Result)
        MotorFailed("command", Calibr_Run->Motor_Result);
    ShowMotorState();
    ShowRunProgress();
}

void TCalibrationPage::Button_Motor_InitClick() {
    AfterMotorButton(Calibr_Run->MotorInit());
}

void TCalibrationPage::Button_Motor_ForwardClick() {
    AfterMotorButton(Calibr_Run->MotorForward(SpinEdit_Motor_Move_Steps->value()));
}

void TCalibrationPage::Button_Motor_BackwardClick() {
    AfterMotorButton(Calibr_Run->MotorBackward(SpinEdit_Motor_Move_Steps->value()));
}

void TCalibrationPage::Button_CalibrationClick() {
    if (Timer_Motor->isActive() && Calibr_Run->Capturing()) {
        // Stop: no further move is sent; the one under way ends on the drive by itself.
        Timer_Motor->stop();
        Run_Partial = true;
        ShowRunProgress();
        return;
    }
    Motor_Problem.clear();
    Run_Partial = true;
    PageControl_Calibr_View->setCurrentWidget(Chart_Calibr_Oscilloscope);
    AfterMotorButton(Calibr_Run->StartCalibration(SpinEdit_Motor_Move_Start->value()));
}

void TCalibrationPage::Timer_MotorTimer() {
    Timer_Motor->stop();
    // A table transfer or save lets the timers tick while it paints its progress; the
    // sensor is in the middle of an exchange then, so the tick waits for the next round.
    if (host.sensor_busy()) {
        Timer_Motor->start();
        return;
    }
    const TCalibrTick tick = Calibr_Run->Tick();
    if (tick.captured || tick.sensor_result != 0)
        host.sensor_failed(tick.sensor_result);
    if (tick.captured) {
        Series_Calibr_Oscilloscope->Clear();
        Series_Calibr_Oscilloscope->AddPoints(Cloud(Calibr_Run->StepView(), RESULT_COLOUR));
        Chart_Calibr_Oscilloscope->replot(QCustomPlot::rpQueuedReplot);
    }
    if (tick.rearm) {
        Timer_Motor->start();
    } else {
        if (Calibr_Run->Motor_Result)
            MotorFailed("the run", Calibr_Run->Motor_Result);
        if (Calibr_Run->Tag == CALIBR_TAG_CAPTURE && Calibration->Calibr_Step_Index >= CALIBR_STEPS)
            Run_Partial = false;
        ShowMotorState();
    }
    ShowRunProgress();
}

void TCalibrationPage::UpdateCalibrationButtons() {
    const bool running = Timer_Motor->isActive() && Calibr_Run->Capturing();
    const bool moving = Check_Running || running;
    for (QWidget* w : std::initializer_list<QWidget*>{
             Button_Motor_Connect, Button_Motor_Init, Button_Motor_Forward, Button_Motor_Backward,
             Button_Calibr_Save_File, Button_Calibr_Load_File, Button_Calibr_Calculate, Button_Calibr_Rst_Pnt,
             Button_TABLE_Trans, Button_TABLE_Save, Button_Calibr_Workflow, Button_Calibr_Restore,
             Panel_Calibr_Check->Button_Calibr_Check})
        w->setEnabled(!moving);
    ComboBox_Motor_Device->setEnabled(!moving && !host.motor->IsOpen());
    // During a run the start button is its Stop.
    Button_Calibration->setEnabled(!Check_Running);
    Button_Calibration->setText(running ? "Stop" : "Start Calibration");
}

void TCalibrationPage::ShowRunProgress() {
    UpdateCalibrationButtons();
    const int k = Calibration->Calibr_Step_Index;
    const int count = Calibration->Calibr_Step_Count;
    const bool active = Timer_Motor->isActive();
    QString text;
    switch (Calibr_Run->Tag) {
    case CALIBR_TAG_HOME:
        text = active ? "Going home first" : "Stopped on the way home";
        break;
    case CALIBR_TAG_APPROACH:
        text = active ? "Moving to the start" : "Stopped before the start";
        break;
    case CALIBR_TAG_CAPTURE:
        if (k >= count)
            text = QString("Step %1 of %2, done").arg(count).arg(count);
        else if (active)
            text = QString("Step %1 of %2").arg(k + 1).arg(count);
        else
            text = QString("Stopped at step %1 of %2 at %3; the %4 steps before are kept, marked partial")
                       .arg(k + 1)
                       .arg(count)
                       .arg(Clock())
                       .arg(k);
        break;
    default:
        text = active ? "Moving" : Label_Calibr_Progress->text();
        break;
    }
    SetStatus(text);
}

bool TCalibrationPage::RunIsWhole() const {
    return !Run_Partial;
}

// ---------------------------------------------------------------------------------------------
// Data file

void TCalibrationPage::Button_Calibr_Save_FileClick() {
    if (!RunDataDialog(*host.save_dialog, host.start_dir()))
        return;
    const TCalibrResult r = SaveDataFile(*Calibration, host.save_dialog->FileName.toStdString());
    if (!r.Ok())
        ShowMessage(r.message);
    else
        SetStatus(QString("Data saved to %1 at %2").arg(host.save_dialog->FileName, Clock()));
}

void TCalibrationPage::Button_Calibr_Load_FileClick() {
    if (!RunDataDialog(*host.open_dialog, host.start_dir()))
        return;
    size_t loaded = 0;
    const TCalibrResult r = LoadDataFile(*Calibration, host.open_dialog->FileName.toStdString(), loaded);
    // Data from a file are a whole run only when the file held all 500 steps of every column.
    Run_Partial = loaded != CALIBR_DATA_BYTES;
    if (r.status == TCalibrStatus::FileError)
        ShowMessage(r.message);
    else
        SetStatus(QString("Data loaded from %1 at %2%3")
                      .arg(host.open_dialog->FileName, Clock(), Run_Partial ? ": not a whole run" : ""));
    if (r.status == TCalibrStatus::PartialLoad)
        ShowMessage(r.message);
}

// ---------------------------------------------------------------------------------------------
// Calculate, step viewer, Reset Point

void TCalibrationPage::ShowCentres() {
    Series_Calibr_Oscilloscope->Clear();
    Series_Calibr_Oscilloscope->AddPoints(Cloud(CentrePoints(*Calibration), RESULT_COLOUR));
    Chart_Calibr_Oscilloscope->replot();
}

void TCalibrationPage::ShowStepView(const std::vector<TCalibrPoint>& points) {
    Series_Calibr_Oscilloscope1->Clear();
    Series_Calibr_Oscilloscope1->AddPoints(Cloud(points, STEP_VIEW_COLOUR));
    Chart_Calibr_Oscilloscope->replot();
}

void TCalibrationPage::Button_Calibr_CalculateClick() {
    if (!RunIsWhole() &&
        !Ask(QString("The data hold only %1 of 500 steps of a run (a run that was stopped or "
                     "failed, or a short file). Calculate the tables from them?")
                 .arg(Calibration->Calibr_Step_Index)))
        return;
    TTableEditTexts texts;
    texts.x_left = Edit_X_Left->text().toStdString();
    texts.x_right = Edit_X_Right->text().toStdString();
    texts.zero_left = Edit_ZERO_Left->text().toStdString();
    texts.zero_right = Edit_ZERO_Right->text().toStdString();
    TTableParams params;
    const std::array<uint16_t, 8> id = Identity();
    TCalibrResult r = ValidateTableEdits(texts, id[IDENTITY_RANGE_Z], id[IDENTITY_RANGE_XEMR], params);
    const TTableMethod method =
        CheckBox_Calibr_Classic->isChecked() ? TTableMethod::Classic : TTableMethod::Fitted;
    if (r.Ok())
        r = Calculate(*Calibration, params, method);
    if (!r.Ok()) {
        ShowMessage(r.message);
        return;
    }
    PageControl_Calibr_View->setCurrentWidget(Chart_Calibr_Oscilloscope);
    ShowCentres();
    SetStatus(QString("Tables calculated (%1 computation) at %2").arg(TableMethodName(method), Clock()));
}

void TCalibrationPage::CSpinEdit_Calibr_Ind_StepChange() {
    ShowStepView(StepViewPoints(*Calibration, CSpinEdit_Calibr_Ind_Step->value()));
}

void TCalibrationPage::Button_Calibr_Rst_PntClick() {
    std::vector<TCalibrPoint> view;
    if (ResetPoint(*Calibration, CSpinEdit_Calibr_Ind_Data->value(), CSpinEdit_Calibr_Ind_Step->value(),
                   view))
        ShowStepView(view);
}

// ---------------------------------------------------------------------------------------------
// Table transfer and save

uint32_t TCalibrationPage::SendTable(QProgressDialog& dialog) {
    host.set_sensor_busy(true);
    const uint32_t code = host.sensor->TransmitTable(
        &Calibration->Calibr_Table_Trans[0][0], CALIBR_TRANS_VALUES,
        [&dialog](uint32_t done, uint32_t total) {
            dialog.setLabelText(QString("Transmitting the table: block %1 of %2").arg(done).arg(total));
            dialog.setValue(int(done));
            QApplication::processEvents();
        });
    host.set_sensor_busy(false);
    return code;
}

void TCalibrationPage::Button_TABLE_TransClick() {
    uint16_t xl = 0;
    uint16_t xr = 0;
    const TCalibrResult r =
        ValidateXLimits(Edit_X_Left->text().toStdString(), Edit_X_Right->text().toStdString(), xl, xr);
    if (!r.Ok()) {
        ShowMessage(r.message);
        return;
    }
    if (!RunIsWhole() &&
        !Ask(QString("The tables come from %1 of 500 steps of a run. Send them to the sensor?")
                 .arg(Calibration->Calibr_Step_Index)))
        return;
    AssembleTransmitTable(*Calibration, xl, xr);

    // The table is kept before anything reaches the sensor; a failed write sends nothing.
    TTableArchive archive = Archive();
    TWorkflowOutcome outcome;
    outcome.entry.method =
        TableMethodName(CheckBox_Calibr_Classic->isChecked() ? TTableMethod::Classic : TTableMethod::Fitted);
    outcome.entry.edits = {{"x_left", Edit_X_Left->text().toStdString()},
                           {"x_right", Edit_X_Right->text().toStdString()},
                           {"zero_left", Edit_ZERO_Left->text().toStdString()},
                           {"zero_right", Edit_ZERO_Right->text().toStdString()}};
    outcome.entry.steps = RunIsWhole() ? CALIBR_STEPS : Calibration->Calibr_Step_Index;
    if (const TCalibrResult kept = archive.Add(*Calibration, NowText(), outcome.entry); !kept.Ok()) {
        ShowMessage(kept.message + " Nothing was sent to the sensor.");
        SetStatus("Table not sent: the archive could not keep it");
        return;
    }

    QProgressDialog dialog(QString("Transmitting the table: block 0 of %1").arg(TABLE_BLOCKS), QString(), 0,
                           int(TABLE_BLOCKS), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Table_Trans");
    host.show_progress(dialog);
    QApplication::processEvents();
    QElapsedTimer clock;
    clock.start();
    uint32_t blocks = 0;
    const uint32_t code = SendTable(dialog);
    blocks = code == 0 ? TABLE_BLOCKS : uint32_t(dialog.value());
    dialog.close();
    outcome.entry.delivery = code == 0 ? TTableDelivery::Whole : TTableDelivery::Partly;
    outcome.entry.blocks_sent = blocks;
    archive.Update(outcome.entry);
    Last_Entry = outcome.entry;
    Working_Table = {outcome.entry.delivery, blocks, "", RunIsWhole(), outcome.entry.id};
    host.sensor_failed(code);
    SetStatus(code == 0 ? QString("Table sent: %1 blocks in %2 s at %3; kept as %4")
                              .arg(TABLE_BLOCKS)
                              .arg(clock.elapsed() / 1000.0, 0, 'f', 1)
                              .arg(Clock(), QString::fromStdString(outcome.entry.id))
                        : QString("Table sent partly: %1 of %2 blocks before the fault at %3")
                              .arg(blocks)
                              .arg(TABLE_BLOCKS)
                              .arg(Clock()));
}

uint32_t TCalibrationPage::StoreTable() {
    QProgressDialog dialog(SaveCountdownText(TABLE_SAVE_MS), QString(), 0, int(TABLE_SAVE_MS), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Table_Save");
    host.show_progress(dialog);
    QApplication::processEvents();

    // The sensor stores for 40 s before it answers. Its pause is taken in ticks that move
    // the countdown; together they last the whole pause, and the reply is read after it.
    const TSleepFunction pause = host.sensor->Sleep;
    host.sensor->Sleep = [&dialog, &pause](uint32_t ms) {
        SleepInTicks(pause, ms, SAVE_TICK_MS, [&dialog](uint32_t remaining) {
            dialog.setLabelText(SaveCountdownText(remaining));
            dialog.setValue(int(TABLE_SAVE_MS - std::min(remaining, TABLE_SAVE_MS)));
        });
    };
    host.set_sensor_busy(true);
    const uint32_t code = host.sensor->SaveTable();
    host.set_sensor_busy(false);
    host.sensor->Sleep = pause;
    dialog.close();
    return code;
}

void TCalibrationPage::Button_TABLE_SaveClick() {
    const std::string concern = SaveTableConcern(Working_Table);
    if (!concern.empty() &&
        !Ask(QString::fromStdString(concern) + "\n\nThe sensor keeps what it stores and cannot give the "
                                               "table it replaces back. Store it in FLASH?"))
        return;
    const uint32_t code = StoreTable();
    host.sensor_failed(code);
    if (code != 0) {
        SetStatus(QString("Not stored: the sensor did not confirm the store (%1)").arg(Clock()));
        return;
    }
    SetStatus(QString("Stored in FLASH at %1").arg(Clock()));
    if (!Working_Table.archive_id.empty()) {
        TTableArchive archive = Archive();
        if (std::optional<TArchiveEntry> entry = archive.Find(Working_Table.archive_id)) {
            entry->stored_at = NowText();
            const TVerifyOutcome& check = Panel_Calibr_Check->LastOutcome();
            if (!entry->certificate.empty() && check.Finished())
                WriteDocuments(Last_Check_Info, check.result, *entry);
            archive.Update(*entry);
            Last_Entry = *entry;
        }
    }
}

// The map picture beside the entry's report and the certificate, which says whether the
// sensor stored the table; written again when a later Save table stores it.
TCalibrResult TCalibrationPage::WriteDocuments(const TVerifyReportInfo& info, const TVerifyResult& result,
                                               TArchiveEntry& entry) {
    TTableArchive archive = Archive();
    const std::string report = archive.EntryFile(entry.id, ARCHIVE_REPORT_FILE);
    const double field_um =
        info.settings.tolerances.z_field_pct / 100.0 * info.identity[IDENTITY_RANGE_Z] * 1000.0;
    TCalibrResult r = WriteErrorMapPng(VerifySiblingPath(report, VERIFY_MAP_PNG_ENDING), result, field_um);
    if (r.Ok())
        r = WriteCertificatePdf(archive.EntryFile(entry.id, ARCHIVE_CERTIFICATE_FILE),
                                {info, entry.method, entry.id, entry.stored_at}, result);
    if (r.Ok())
        entry.certificate = ARCHIVE_CERTIFICATE_FILE;
    return r;
}

// A check after a transfer judges the working table; its report and certificate go into the
// table's archive entry.
void TCalibrationPage::AfterCheck(const TVerifyReportInfo& info, const TVerifyResult& result) {
    if (Working_Table.delivery == TTableDelivery::NotSent)
        return;
    Working_Table.verdict = result.passed ? "pass" : "fail";
    TTableArchive archive = Archive();
    std::optional<TArchiveEntry> entry = archive.Find(Working_Table.archive_id);
    if (!entry)
        return;
    entry->verdict = Working_Table.verdict;
    entry->z_field_error_um = result.figures.z_field_error_um;
    Last_Check_Info = info;
    TCalibrResult r = WriteVerifyReport(archive.EntryFile(entry->id, ARCHIVE_REPORT_FILE), info, result);
    if (r.Ok()) {
        entry->report = ARCHIVE_REPORT_FILE;
        r = WriteDocuments(info, result, *entry);
    }
    if (!r.Ok())
        ShowMessage(r.message);
    archive.Update(*entry);
    Last_Entry = *entry;
}

// ---------------------------------------------------------------------------------------------
// The whole calibration, the archive, the certificate

TWorkflowDevices TCalibrationPage::Devices(QProgressDialog* dialog) {
    TWorkflowDevices devices;
    TZQ455Interface* sensor = host.sensor;
    devices.motor = host.motor;
    devices.read_frame = [sensor](uint16_t* values, uint32_t capacity, uint32_t& count) {
        return sensor->ReadCalibrData(values, capacity, count);
    };
    devices.read_profile = [sensor](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
        uint8_t result_status = 0;
        return sensor->GetResult(result_status, pairs, values, capacity);
    };
    devices.transmit = [sensor](const uint16_t* values, uint32_t count, const TTransferProgress& progress) {
        return sensor->TransmitTable(values, count, progress);
    };
    devices.save_table = [sensor, dialog, this] {
        // The 40 s store counts down in the workflow's dialog.
        const TSleepFunction pause = sensor->Sleep;
        sensor->Sleep = [&](uint32_t ms) {
            SleepInTicks(Sleep, ms, SAVE_TICK_MS, [dialog](uint32_t remaining) {
                if (dialog)
                    dialog->setLabelText(SaveCountdownText(remaining));
            });
        };
        const uint32_t code = sensor->SaveTable();
        sensor->Sleep = pause;
        return code;
    };
    devices.sleep = [this](uint32_t ms) { SleepInTicks(Sleep, ms, PAUSE_TICK_MS); };
    return devices;
}

TWorkflowHooks TCalibrationPage::Hooks(QProgressDialog& dialog, const QString& title) {
    TWorkflowHooks hooks;
    hooks.progress = [&dialog, title, this](TWorkflowPhase phase, unsigned done, unsigned total) {
        dialog.setLabelText(title + "\n" + PhaseText(phase, done, total));
        dialog.setMaximum(int(std::max(total, 1u)));
        dialog.setValue(int(std::min(done, total)));
        if (phase == TWorkflowPhase::Run)
            SetStatus(QString("Calibrate: step %1 of %2").arg(done).arg(total));
        QApplication::processEvents();
        return !dialog.wasCanceled();
    };
    hooks.write_documents = [this](const std::string&, const TVerifyReportInfo& info,
                                   const TVerifyResult& result,
                                   TArchiveEntry& entry) { return WriteDocuments(info, result, entry); };
    return hooks;
}

void TCalibrationPage::ShowWorkflowOutcome(const TWorkflowOutcome& outcome) {
    Last_Entry = outcome.entry;
    const QString entry = outcome.archived
                              ? QString::fromStdString(" The archive entry " + outcome.entry.id + ": " +
                                                       DeliveryText(outcome.entry) + ", " +
                                                       (outcome.stored ? "stored in FLASH." : "not stored."))
                              : QString(" Nothing was sent to the sensor.");
    const QString phase = WorkflowPhaseName(outcome.phase);
    if (outcome.checked) {
        Panel_Calibr_Check->ShowOutcome(outcome.check, Identity());
        PageControl_Calibr_View->setCurrentIndex(1);
    }
    if (outcome.Failed()) {
        QString why = outcome.sensor_result  ? ResultMessage(outcome.sensor_result)
                      : outcome.motor_result ? QString("motor driver: ") + ResultMessage(outcome.motor_result)
                      : outcome.stage_stuck  ? QString("the stage did not come to rest.")
                      : outcome.cancelled    ? QString("cancelled.")
                                             : QString::fromStdString(outcome.message);
        SetStatus(QString("Calibrate stopped in the %1 phase at %2: %3").arg(phase, Clock(), why) + entry);
        if (outcome.motor_result)
            MotorFailed(WorkflowPhaseName(outcome.phase), outcome.motor_result);
        if (!outcome.cancelled && !outcome.sensor_result)
            ShowMessage(Label_Calibr_Progress->text().toStdString());
        host.sensor_failed(outcome.sensor_result);
        return;
    }
    if (outcome.checked && !outcome.check.result.passed)
        SetStatus(QString("Calibrate done at %1: the check failed, the table was not stored.").arg(Clock()) +
                  entry);
    else
        SetStatus(QString("Calibrate done at %1: %2")
                      .arg(Clock(), outcome.stored ? "stored in FLASH with a certificate."
                                                   : "the table was not stored.") +
                  entry);
}

void TCalibrationPage::Button_Calibr_WorkflowClick() {
    if (!host.sensor_connected() || !host.motor->IsOpen()) {
        ShowMessage("Connect the sensor and the motor driver first.");
        return;
    }
    TWorkflowSettings settings;
    settings.begin_um = SpinEdit_Motor_Move_Start->value();
    settings.edits = {Edit_X_Left->text().toStdString(), Edit_X_Right->text().toStdString(),
                      Edit_ZERO_Left->text().toStdString(), Edit_ZERO_Right->text().toStdString()};
    settings.method = CheckBox_Calibr_Classic->isChecked() ? TTableMethod::Classic : TTableMethod::Fitted;
    settings.verify = Panel_Calibr_Check->ReadSettings();
    settings.now = NowText();

    QProgressDialog dialog("Calibrate", "Cancel", 0, int(CALIBR_STEPS), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Calibrate");
    dialog.setMinimumWidth(420);
    host.show_progress(dialog);
    QApplication::processEvents();
    TTableArchive archive = Archive();
    Check_Running = true;
    UpdateCalibrationButtons();
    host.set_sensor_busy(true);
    const TWorkflowOutcome outcome =
        RunCalibrationWorkflow(settings, Identity(), *Calibration, archive, Devices(&dialog),
                               Hooks(dialog, "Calibrate"), Working_Table);
    host.set_sensor_busy(false);
    Check_Running = false;
    Run_Partial = Calibration->Calibr_Step_Index < CALIBR_STEPS;
    dialog.close();
    ShowCentres();
    ShowMotorState();
    UpdateCalibrationButtons();
    ShowWorkflowOutcome(outcome);
}

void TCalibrationPage::Button_Calibr_RestoreClick() {
    if (!host.sensor_connected()) {
        ShowMessage("Connect the sensor first: the archive lists the tables of the connected sensor.");
        return;
    }
    TTableArchive archive = Archive();
    std::vector<TArchiveEntry> entries;
    if (const TCalibrResult r = archive.List(entries); !r.Ok()) {
        ShowMessage(r.message);
        return;
    }
    if (entries.empty()) {
        ShowMessage("The archive holds no table of this sensor yet (" + archive.Folder() + ").");
        return;
    }
    QDialog chooser(this);
    chooser.setObjectName("Form_Restore_Table");
    chooser.setWindowTitle("Restore table");
    auto* list = Named(new QTableWidget(int(entries.size()), 5, &chooser), "Table_Restore_Entries");
    list->setHorizontalHeaderLabels({"Date", "Check", "Z field error", "Sent", "Stored in FLASH"});
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->verticalHeader()->hide();
    // Newest first.
    for (size_t i = 0; i < entries.size(); ++i) {
        const TArchiveEntry& e = entries[entries.size() - 1 - i];
        const QStringList cells = {
            QString::fromStdString(e.created),
            e.verdict.empty() ? "not checked" : QString::fromStdString(e.verdict),
            e.z_field_error_um < 0 ? "-" : QString::fromStdString(FixedText(e.z_field_error_um) + " um"),
            QString::fromStdString(DeliveryText(e)),
            e.stored_at.empty() ? "no" : QString::fromStdString(e.stored_at)};
        for (int c = 0; c < cells.size(); ++c)
            list->setItem(int(i), c, new QTableWidgetItem(cells[c]));
    }
    list->resizeColumnsToContents();
    list->selectRow(0);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, &chooser);
    buttons->addButton("Send", QDialogButtonBox::AcceptRole)->setObjectName("Button_Restore_Send");
    connect(buttons, &QDialogButtonBox::accepted, &chooser, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, &chooser, &QDialog::reject);
    auto* column = new QVBoxLayout(&chooser);
    column->addWidget(list);
    column->addWidget(buttons);
    chooser.resize(list->horizontalHeader()->length() + 40, 320);
    if (host.show_modal(chooser) != QDialog::Accepted || list->currentRow() < 0)
        return;
    const TArchiveEntry chosen = entries[entries.size() - 1 - size_t(list->currentRow())];

    QProgressDialog dialog("Restore", QString(), 0, int(TABLE_BLOCKS), this);
    PrepareProgressDialog(dialog, "ProgressDialog_Table_Trans");
    host.show_progress(dialog);
    QApplication::processEvents();
    host.set_sensor_busy(true);
    const TWorkflowOutcome outcome =
        RestoreArchivedTable(chosen.id, NowText(), *Calibration, archive, Devices(&dialog),
                             Hooks(dialog, "Restore " + QString::fromStdString(chosen.id)), Working_Table);
    host.set_sensor_busy(false);
    dialog.close();
    Run_Partial = chosen.steps < CALIBR_STEPS;
    Last_Entry = outcome.entry;
    if (outcome.Failed()) {
        ShowWorkflowOutcome(outcome);
        return;
    }
    SetStatus(
        QString("Table of %1 sent again at %2 (kept as %3)")
            .arg(QString::fromStdString(chosen.created), Clock(), QString::fromStdString(outcome.entry.id)));
    // The same guarded save as the button's: a restored table has not been checked on the sensor.
    Button_TABLE_SaveClick();
}

void TCalibrationPage::Button_Calibr_CertificateClick() {
    std::vector<TArchiveEntry> entries;
    Archive().List(entries);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it)
        if (!it->certificate.empty()) {
            OpenFile(Archive().EntryFile(it->id, it->certificate));
            return;
        }
    ShowMessage("No certificate of this sensor yet: a check after a transfer writes one.");
}

} // namespace zq455
