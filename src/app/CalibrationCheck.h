#pragma once
// "Check calibration" on the CALIBRATION page: the verification run with its settings and
// tolerances, a progress dialog with Cancel, the figures and the verdict, and the report
// written into DataFiles. Its results, a chart of the Z residual against the stage position
// beside the picture of the Z error map, are a widget of their own (Panel_Check_Results) that
// the page shows beside the oscilloscope. The run itself is src/calibration/VerificationRun;
// this panel reads its controls, drives it and shows what it gives.

#include "calibration/VerificationReport.h"
#include "calibration/VerificationRun.h"

#include <QWidget>
#include <array>
#include <functional>
#include <string>
#include <vector>

class QCustomPlot;
class QDialog;
class QDoubleSpinBox;
class QLabel;
class QProgressDialog;
class QPushButton;
class QSpinBox;
class QCPGraph;

namespace zq455 {

class TErrorMapView;
class TZQ455Interface;
class TMotorInterface;

class TCalibrationCheck : public QWidget {
public:
    // What the panel needs of the window: the devices, their state and its shared values.
    struct THost {
        TZQ455Interface* sensor = nullptr;
        TMotorInterface* motor = nullptr;
        std::function<bool()> sensor_connected;
        std::function<bool()> busy;                        // a calibration run or move under way
        std::function<std::array<uint16_t, 8>()> identity; // Device_Identity
        std::function<int32_t()> begin_um;                 // "Begin, um:"
        std::function<std::vector<std::pair<std::string, std::string>>()> edits; // XL, XR, ZL, ZR
        std::function<std::string()> data_directory; // DataFiles under Start_Dir, made on demand
        std::function<void(uint32_t)> sensor_failed; // hands a code to the error monitor
        std::function<void(bool)> set_sensor_busy;   // the motor timer waits while set
        std::function<void(QProgressDialog&)> show_progress;
        std::function<void(bool)> set_check_running; // the page locks its stage buttons meanwhile
        std::function<void()> show_results;          // brings Panel_Check_Results into view
        // A finished check with its report's details, for the page to keep with the table.
        std::function<void(const TVerifyReportInfo&, const TVerifyResult&)> checked;
        TSleepFunction sleep = SleepMilliseconds; // the settling pause; tests shorten it
    };

    TCalibrationCheck(THost host, QWidget* parent);

    void Button_Calibr_CheckClick();

    // The settling pause and the polls go through here; tests shorten them.
    TSleepFunction Sleep = SleepMilliseconds;

    QPushButton* Button_Calibr_Check = nullptr;
    QSpinBox* SpinEdit_Check_Positions = nullptr;
    QSpinBox* SpinEdit_Check_Profiles = nullptr;
    QDoubleSpinBox* Edit_Check_Pitch = nullptr;
    QDoubleSpinBox* Edit_Check_Linearity = nullptr;
    QDoubleSpinBox* Edit_Check_Scale = nullptr;
    QDoubleSpinBox* Edit_Check_Repeatability = nullptr;
    QDoubleSpinBox* Edit_Check_Pitch_Error = nullptr;
    QDoubleSpinBox* Edit_Check_Offset = nullptr;
    QDoubleSpinBox* Edit_Check_Field = nullptr;
    QDoubleSpinBox* Edit_Check_X_Field = nullptr;
    QDoubleSpinBox* Edit_Check_Flatness = nullptr;
    QLabel* Label_Check_Figures = nullptr;
    QLabel* Label_Check_Verdict = nullptr;
    QWidget* Panel_Check_Results = nullptr; // the residual chart and the map; the page places it
    QCustomPlot* Chart_Check_Residual = nullptr;
    QCPGraph* Series_Check_Residual = nullptr;
    TErrorMapView* Image_Check_Map = nullptr;

    // The last finished check and where its report went (empty when it could not be written).
    const TVerifyOutcome& LastOutcome() const { return last; }
    const std::string& LastReport() const { return last_report; }

    // The settings and tolerances as the panel's controls hold them.
    TVerifySettings ReadSettings() const;
    // Shows the figures, the chart and the map of a check run elsewhere (the page's
    // "Calibrate...") as if it had run here.
    void ShowOutcome(const TVerifyOutcome& outcome, const std::array<uint16_t, 8>& identity);

private:
    void ShowResult(const TVerifyResult& result);
    void ShowStopped(const QString& text);

    THost host;
    TVerifyOutcome last;
    std::string last_report;
};

} // namespace zq455
