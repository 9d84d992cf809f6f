#pragma once
// The CALIBRATION page: the motor panel and the motor timer, the run with Stop, the .dtf file
// buttons, "Calculate" with the step viewer and Reset Point, the table transfer and the
// guarded save, the check below the chart, and the whole calibration ("Calibrate..."), the
// archive ("Restore table...") and the certificate ("Certificate..."). The logic lives in
// src/calibration; the handlers read their controls, call it and show what it gives.
//
// The page keeps what the sensor's working table is since Connect (nothing sent, sent whole,
// sent partly, checked pass or fail), so "Save table" can ask before it stores anything else
// than a whole table that passed its check: the sensor keeps what it stores and cannot give
// the old table back.

#include "app/CalibrationCheck.h"
#include "app/DeviceList.h"
#include "calibration/CalibrationSequencer.h"
#include "calibration/CalibrationState.h"
#include "calibration/CalibrationWorkflow.h"

#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <string>

class QCheckBox;
class QCustomPlot;
class QDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QProgressDialog;
class QPushButton;
class QSpinBox;
class QTabWidget;
class QTimer;
class TPointCloudPlottable;

namespace zq455 {

class TFileDialog;
class TMotorInterface;
class TZQ455Interface;

class TCalibrationPage : public QWidget {
public:
    // What the page needs of the window.
    struct THost {
        TZQ455Interface* sensor = nullptr;
        TMotorInterface* motor = nullptr;
        std::function<bool()> sensor_connected;
        std::function<std::array<uint16_t, 8>()> identity; // Device_Identity
        std::function<std::string()> start_dir;            // the window's Start_Dir
        std::function<void(uint32_t)> sensor_failed;       // hands a code to the error monitor
        std::function<bool()> sensor_busy;                 // a progress dialog drives the sensor
        std::function<void(bool)> set_sensor_busy;
        std::function<void(QProgressDialog&)> show_progress;
        std::function<int(QDialog&)> show_modal; // message boxes and the restore list
        TFileDialog* open_dialog = nullptr;      // the window's shared file dialogs
        TFileDialog* save_dialog = nullptr;
        // Opens a file with the desktop's program (the certificate); tests replace it.
        std::function<void(const std::string&)> open_file;
    };

    TCalibrationPage(THost host, QWidget* parent = nullptr);
    ~TCalibrationPage() override;

    // The window's Connect and error monitor: a new link means nothing is known of the
    // sensor's working table; a sensor error stops the motor timer where it stood.
    void SensorConnected();
    void SensorLost();
    // The controls of the motor panel and the check panel, top to bottom, for the tab order.
    std::vector<QWidget*> TabOrder() const;

    // Motor panel and run.
    void Button_Motor_ConnectClick();
    void Button_Motor_InitClick();
    void Button_Motor_ForwardClick();
    void Button_Motor_BackwardClick();
    void Button_CalibrationClick(); // "Start Calibration", or "Stop" while a run goes
    void Timer_MotorTimer();
    // Data file.
    void Button_Calibr_Save_FileClick();
    void Button_Calibr_Load_FileClick();
    // Calculate, step viewer, Reset Point.
    void Button_Calibr_CalculateClick();
    void CSpinEdit_Calibr_Ind_StepChange();
    void Button_Calibr_Rst_PntClick();
    // Table transfer and save.
    void Button_TABLE_TransClick();
    void Button_TABLE_SaveClick();
    // The whole calibration, the archive and the certificate.
    void Button_Calibr_WorkflowClick();
    void Button_Calibr_RestoreClick();
    void Button_Calibr_CertificateClick();

    // Calibr_Data, the centres, the tables and the run's step index and pitch.
    std::unique_ptr<TCalibrationState> Calibration;
    // The motor timer's state machine; its Motor_Result and Tag are the page's.
    std::unique_ptr<TCalibrationSequencer> Calibr_Run;
    TWorkingTable Working_Table;
    // The archive entry of the last table sent from this page, "" for none.
    TArchiveEntry Last_Entry;

    QFrame* Panel_Motor = nullptr;
    TDeviceList* ComboBox_Motor_Device = nullptr;
    QPushButton* Button_Motor_Connect = nullptr;
    QPushButton* Button_Motor_Init = nullptr;
    QLabel* Label_Motor_Move = nullptr;
    QSpinBox* SpinEdit_Motor_Move_Steps = nullptr;
    QPushButton* Button_Motor_Forward = nullptr;
    QPushButton* Button_Motor_Backward = nullptr;
    QLabel* Label_Motor_Start = nullptr;
    QSpinBox* SpinEdit_Motor_Move_Start = nullptr;
    QPushButton* Button_Calibration = nullptr;
    QPushButton* Button_Calibr_Save_File = nullptr;
    QPushButton* Button_Calibr_Load_File = nullptr;
    QLabel* Label_X_Left = nullptr;
    QLineEdit* Edit_X_Left = nullptr;
    QLabel* Label_X_Right = nullptr;
    QLineEdit* Edit_X_Right = nullptr;
    QLabel* Label_ZERO_Left = nullptr;
    QLineEdit* Edit_ZERO_Left = nullptr;
    QLabel* Label_ZERO_Right = nullptr;
    QLineEdit* Edit_ZERO_Right = nullptr;
    QPushButton* Button_Calibr_Calculate = nullptr;
    QLabel* Label_Calibr_Ind_Step = nullptr;
    QSpinBox* CSpinEdit_Calibr_Ind_Step = nullptr;
    QLabel* Label_Calibr_Ind_Data = nullptr;
    QSpinBox* CSpinEdit_Calibr_Ind_Data = nullptr;
    QPushButton* Button_Calibr_Rst_Pnt = nullptr;
    QPushButton* Button_TABLE_Trans = nullptr;
    QPushButton* Button_TABLE_Save = nullptr;
    // The page's status line under the check: "Step k of 500" while a run goes, then what the
    // run, Calculate, the transfer or the save did and when; it wraps, it is never cut off.
    QLabel* Label_Calibr_Progress = nullptr;
    QLabel* Label_Motor_State = nullptr;              // connected, at home, moving, where; errors
    QPushButton* Button_Calibr_Workflow = nullptr;    // "Calibrate..."
    QPushButton* Button_Calibr_Restore = nullptr;     // "Restore table..."
    QPushButton* Button_Calibr_Certificate = nullptr; // "Certificate..."
    TCalibrationCheck* Panel_Calibr_Check = nullptr;  // "Check calibration" below the chart
    QTabWidget* PageControl_Calibr_View = nullptr;    // the oscilloscope, or the check's results
    QCheckBox* CheckBox_Calibr_Classic = nullptr;     // "Classic computation" for Calculate
    QCustomPlot* Chart_Calibr_Oscilloscope = nullptr;
    TPointCloudPlottable* Series_Calibr_Oscilloscope = nullptr;
    TPointCloudPlottable* Series_Calibr_Oscilloscope1 = nullptr;
    QTimer* Timer_Motor = nullptr;
    QTimer* Timer_Motor_State = nullptr; // refreshes Label_Motor_State while the driver is open

    // The 40 s store and the pauses of the workflow go through here; tests shorten them.
    TSleepFunction Sleep = SleepMilliseconds;
    // "Certificate..." opens the PDF through here (the host's, unless a test puts its own).
    std::function<void(const std::string&)> OpenFile;

private:
    THost host;
    bool Check_Running = false;
    bool Run_Partial = false;          // the data in Calibr_Data are not a whole run
    std::string Motor_Problem;         // the last motor fault, said in Label_Motor_State
    TVerifyReportInfo Last_Check_Info; // of the check that judged the working table
    TCalibrResult WriteDocuments(const TVerifyReportInfo& info, const TVerifyResult& result,
                                 TArchiveEntry& entry);
    void BuildControls();
    void ConnectControls();
    TCalibrationCheck::THost CheckHost();
    std::string DataDirectory() const;
    std::array<uint16_t, 8> Identity() const;
    void ShowMessage(const std::string& text);
    bool Ask(const QString& question);
    void SetStatus(const QString& text);
    void ShowMotorState();
    void MotorFailed(const char* what, uint32_t code);
    void ShowCentres();
    void ShowStepView(const std::vector<TCalibrPoint>& points);
    void AfterMotorButton(bool start_timer);
    void UpdateCalibrationButtons();
    void ShowRunProgress();
    bool RunIsWhole() const;
    TWorkflowDevices Devices(QProgressDialog* dialog);
    TWorkflowHooks Hooks(QProgressDialog& dialog, const QString& title);
    TTableArchive Archive() const;
    uint32_t SendTable(QProgressDialog& dialog);
    uint32_t StoreTable();
    void AfterCheck(const TVerifyReportInfo& info, const TVerifyResult& result);
    void ShowWorkflowOutcome(const TWorkflowOutcome& outcome);
};

} // namespace zq455
