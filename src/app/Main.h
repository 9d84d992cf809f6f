#pragma once
// TForm_Main: the setup program's one window. It owns the sensor and motor objects and the
// shared window state, and its handlers carry the application logic: connection and
// identity, the parameter editors and their menus, the window's animated height and page
// rules, and the error monitor that turns a failed sensor call into one message box.

#include "DisplayText.h"
#include "app/CalibrationPage.h"
#include "motor/Motorinterface.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"
#include "view/FrameProbe.h"
#include "view/FrameView.h"
#include "view/ProfileAnalysis.h"

#include <QFont>
#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <vector>

class QAction;
class QCheckBox;
class QComboBox;
class QCPGraph;
class TPointCloudPlottable;
namespace zq455 {
class TDensityPlottable;
}
class QCustomPlot;
class QDialog;
class QFrame;
class QImage;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressDialog;
class QPushButton;
class QScrollArea;
class QSpinBox;
class QStringListModel;
class QTabWidget;
class QTableWidget;
class QTimer;

namespace zq455 {

class TCalibrationPage;
class TConnectBar;
class TCameraAids;
class TParameterEditors;
class TSettingsFiles;
class TProfileRecordingPanel;
class TForm_Exposure;
class TForm_Exposure_Delay;
class TForm_Ext_Sig;

// The frame view's paint box: a plain area whose painting and mouse input the frame view
// hands in as function objects.
class TPaintBox : public QWidget {
public:
    explicit TPaintBox(QWidget* parent);
    std::function<void(QPainter&)> OnPaint;
    // x, y in paint-box pixels; button as Qt reports it.
    std::function<void(Qt::MouseButton button, int x, int y)> OnMouseDown;
    std::function<void(int x, int y)> OnMouseMove;
    std::function<void(Qt::MouseButton button, int x, int y)> OnMouseUp;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A file dialog set up before each use: filter in the form "All files(*.*)|*.*|Data
// files(*.dtf)|*.dtf", 1-based filter index, default extension and initial directory.
class TFileDialog {
public:
    TFileDialog(QWidget* owner, bool save) : Owner(owner), Save(save) {}
    QString Filter;
    int FilterIndex = 1;
    QString DefaultExt;
    QString InitialDir;
    QString FileName;
    // Asks for a file name; false when the engineer cancels.
    bool Execute();
    // Tests put their own answer here; the default opens the toolkit's file dialog.
    std::function<bool(TFileDialog&)> Run;

    QWidget* const Owner;
    const bool Save;
};

// The window's font: an 8-point sans serif at 11 pixels, from the faces a Linux desktop has.
QFont WindowFont();

// Sets up one of the long operations' progress dialogs: named, window-modal, shown at once,
// never closed or reset by reaching its maximum.
void PrepareProgressDialog(QProgressDialog& dialog, const char* name);

struct TMainOptions {
    bool service = false; // show the FACTORY and CALIBRATION tabs
};

// Title of the program's message boxes other than the error monitor's.
constexpr const char* APPLICATION_TITLE = "ZQ455 SP...";
constexpr const char* ERROR_BOX_CAPTION = "ZQ455-SP.";
constexpr int WINDOW_WIDTH = 880;
constexpr int MAX_HEIGHT = 684;
constexpr int RESIZE_STEP = 50;

class TForm_Main : public QWidget {
public:
    explicit TForm_Main(const TMainOptions& options = {}, QWidget* parent = nullptr);
    ~TForm_Main() override;

    // The three parameter dialogs, created after the window and living as long as it.
    void CreateDialogs();

    // Every modal dialog and message box of the window goes through here; the default runs
    // it modally. Tests answer them by installing their own function.
    std::function<int(QDialog&)> ShowModal;
    // The progress dialogs of the long calibration operations (table transfer, table save)
    // are modal while the operation drives them; this shows one. Tests look at it instead.
    std::function<void(QProgressDialog&)> ShowProgress;

    // ---- Handlers ----
    void FormCreate();
    void FormResize();
    void FormClose();
    void Timer_ResizeTimer();
    void TabSheet_ResultShow();
    void TabSheet_VideoShow();
    void TabSheet_CalibrationShow();

    void Button_ConnectClick();
    void Button_Get_ResultClick();
    void Timer_ResultTimer();
    void CheckBoxReverseClick();
    void CheckBoxAutoClick();
    void MenuItem4Click(); // "Save to file"
    void MenuItem5Click(); // "Clear"
    // The part of a measurement tick after a successful GetResult: analyses the `pair_count`
    // pairs in Result_Values, keeps the profile and redraws the chart.
    void ShowProfile(uint16_t pair_count);
    // The same with the ranges given (a replay has its recording's, not the sensor's).
    void ShowProfile(uint16_t pair_count, uint16_t range_z, uint16_t range_xemr);
    // The RESULT chart's axes for a sensor's measuring ranges.
    void ScaleResultChart(uint16_t range_z, uint16_t range_xemr);
    void Timer_ErrorsTimer();

    // The VIDEO page: one frame on request, the region of interest drawn with the left
    // button, the frame saved as a bitmap with the right one.
    void Button_Get_VideoClick();
    void Timer_RepaintTimer();
    void PaintBox_BitMapPaint(QPainter& canvas);
    void PaintBox_BitMapMouseDown(Qt::MouseButton button, int x, int y);
    void PaintBox_BitMapMouseMove(int x, int y);
    void PaintBox_BitMapMouseUp(Qt::MouseButton button, int x, int y);

    // Select the connect bar's address and bit rate from the user parameters just sent.
    void FollowLinkSettings();
    // The angle from the bit pattern of its float, shown in Panel_Angle.
    void SetAngle(uint32_t bits);

    // ---- Shared window state ----
    std::unique_ptr<TZQ455Interface> Sensor;
    std::unique_ptr<TMotorInterface> Motor;
    uint32_t Sensor_Result = 0;
    uint16_t Device_Identity[IDENTITY_COUNT] = {};
    uint16_t User_Params[USER_COUNT] = {};
    uint16_t Factory_Params[FACTORY_COUNT] = {};
    uint8_t User_Row = 0; // both rows are the editors' (TParameterEditors), kept here as shared state
    uint8_t Factory_Row = 0;
    float System_Angle = 0;
    TRoi Video_ROI;
    uint16_t Video_Fps = 0;
    bool ROI_Dragging = false;
    TRoi Video_ROI_Prev;
    // Pixel bytes of the last frame reply, line after line, each line as long as the frame.
    std::vector<uint8_t> Video_Buffer;
    TFrameArea Video_Frame;             // where the last frame shown lies on the camera; empty before one
    TCameraAids* Camera_Aids = nullptr; // the pixel under the mouse, "Show saturation"
    std::unique_ptr<QImage> Video_Bitmap;
    QString Start_Dir;
    uint16_t Collapsed_Height = 0;
    std::array<TProfilePoint, PROFILE_CAPACITY> Result_Profile{};
    uint16_t Result_Pair_Count = 0;
    // Reply store of the measurement tick: up to 2048 pairs.
    std::array<uint16_t, 4096> Result_Values{};
    bool Result_Auto = false; // "Auto" as last clicked
    // The last tick's analysis: the valid points, the edges and markers, the verdict.
    TProfileTick Profile_Tick;

    bool IsConnected() const;
    // Start_Dir + "/DataFiles", made one level deep when missing: where the data dialogs open.
    QString DataFolder() const;
    // True while measuring keeps the other pages' tabs locked.
    bool PagesLocked() const;
    // The window's height constraint; FormResize keeps the height equal to it.
    int MinHeight() const;
    void SetMinHeight(int height);

    // ---- Controls ----
    // The connect bar (ConnectBar.h); the pointers below are its controls.
    TConnectBar* Connect_Bar = nullptr;
    QFrame* Panel_Connect = nullptr;
    QComboBox* ComboBox_Connect_Baud = nullptr;
    QComboBox* ComboBox_Connect_NetAddress = nullptr;
    QPushButton* Button_Connect = nullptr;
    QPushButton* Button_Get_Result = nullptr;
    QPushButton* Button_Get_Video = nullptr;

    QFrame* Panel_Ranges = nullptr;
    QLabel* Label_Ranges_Model = nullptr;
    QLabel* Label_Ranges_Model_Value = nullptr;
    QLabel* Label_Ranges_Serial = nullptr;
    QLabel* Label_Ranges_Serial_Value = nullptr;
    QLabel* Label_Ranges_Base = nullptr;
    QLabel* Label_Ranges_Base_Value = nullptr;
    QLabel* Label_Ranges_RangeZ = nullptr;
    QLabel* Label_Ranges_RangeZ_Value = nullptr;
    QLabel* Label_Ranges_RangeXs = nullptr;
    QLabel* Label_Ranges_RangeXs_Value = nullptr;
    QLabel* Label_Ranges_RangeXe = nullptr;
    QLabel* Label_Ranges_RangeXe_Value = nullptr;

    QWidget* Panel_Middle = nullptr; // the area between the two bars; clips when collapsed
    QFrame* Panel_Parameters = nullptr;
    QTabWidget* PageControl_Parameters = nullptr;
    QWidget* TabSheet_User_Parameters = nullptr;
    TParameterEditors* Parameter_Editors = nullptr;    // the two grids and their menus
    TSettingsFiles* Settings_Files = nullptr;          // save, compare, apply a settings file
    TProfileRecordingPanel* Recording_Panel = nullptr; // Record / Replay under the RESULT chart
    QFrame* Panel_Angle_Freq = nullptr;
    QLabel* Panel_Angle = nullptr;
    QLabel* Panel_Freq = nullptr;
    QWidget* TabSheet_Factory_Parameters = nullptr;

    QFrame* Panel1 = nullptr;
    QCheckBox* CheckBoxReverse = nullptr;
    QLabel* Label_Level = nullptr;
    QSpinBox* CSpinEditLevel = nullptr;
    QLabel* Label_dX = nullptr;
    QSpinBox* CSpinEdit1 = nullptr;
    QCheckBox* CheckBoxAuto = nullptr;
    QLabel* Label_X0 = nullptr;
    QSpinBox* CSpinEditX = nullptr;

    QTabWidget* PageControl_Interface = nullptr;
    QWidget* TabSheet_Result = nullptr;
    QCustomPlot* Chart_Result_Oscilloscope = nullptr;
    TDensityPlottable* Density_Result_Oscilloscope = nullptr; // what "Collect" has gathered
    TPointCloudPlottable* Series_Result_Oscilloscope = nullptr;
    QCPGraph* Series1 = nullptr;
    QCPGraph* Series2 = nullptr;
    QCPGraph* Series_Filtr_Noise_Up = nullptr;
    QCPGraph* Series_Filtr_Noise_Down = nullptr;
    QWidget* TabSheet_Video = nullptr;
    QScrollArea* ScrollBox_Video = nullptr; // the frame is taller than the page
    TPaintBox* PaintBox_BitMap = nullptr;
    // The CALIBRATION page (CalibrationPage.h); TabSheet_Calibration is the same widget.
    TCalibrationPage* Page_Calibration = nullptr;
    QWidget* TabSheet_Calibration = nullptr;

    QMenu* PopupMenu_Save_Data = nullptr;
    QAction* MenuItem4 = nullptr;
    QAction* MenuItem5 = nullptr;
    QAction* N1 = nullptr;
    QAction* Collect1 = nullptr;

    std::unique_ptr<TFileDialog> OpenDialogData;
    std::unique_ptr<TFileDialog> SaveDialogData;

    QTimer* Timer_Resize = nullptr;
    QTimer* Timer_Result = nullptr;
    QTimer* Timer_Repaint = nullptr;
    QTimer* Timer_Errors = nullptr;
    QTimer* Timer_Video = nullptr;

    TForm_Exposure* Form_Exposure = nullptr;
    TForm_Ext_Sig* Form_Ext_Sig = nullptr;
    TForm_Exposure_Delay* Form_Exposure_Delay = nullptr;

protected:
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool focusNextPrevChild(bool next) override;

private:
    void BuildConnectBar();
    void BuildRangesBar();
    void BuildParameterPanel();
    void BuildMeasurePanel();
    void BuildInterfacePages();
    bool Sensor_Busy = false; // a table transfer, table save or frame drives a progress dialog
    TCalibrationPage::THost CalibrationPageHost();
    void BuildVideoPage();
    void SaveVideoBitmap();
    void BuildMenus();
    void BuildTimers();
    void BuildProfilePage(); // the RESULT chart's look and the page's handlers
    void AlignPanels();
    std::vector<QWidget*> TabOrder() const;

    void FillNetAddressList();
    void LockOtherPages(bool lock);
    void ShowAngle();
    void ShowIdentityNone();
    void CollapseNow();
    int DefaultShowModal(QDialog& dialog);

    bool Closed = false;
    int Reconnect_Page = 0;           // the page a reconnect after an unplug goes back to
    bool Reconnect_Measuring = false; // and whether it measured
};

} // namespace zq455
