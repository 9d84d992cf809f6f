#include "Main.h"

#include "CalibrationPage.h"
#include "CameraAids.h"
#include "ConnectBar.h"
#include "DensityPlottable.h"
#include "ParameterDialogs.h"
#include "ParameterEditors.h"
#include "ParameterText.h"
#include "PointCloudPlottable.h"
#include "ProfileRecordingPanel.h"
#include "SettingsFiles.h"
#include "WaitCursor.h"
#include "WidgetMaking.h"
#include "calibration/TableComputation.h"
#include "link/ResultCodes.h"
#include "sensor/AngleText.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <QStringListModel>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cstring>
#include <qcustomplot.h>

namespace zq455 {

namespace {

constexpr int CONNECT_BAR_HEIGHT = 57;
constexpr int RANGES_BAR_HEIGHT = 52;
constexpr int PARAMETERS_WIDTH = 225;

constexpr int DEFAULT_BAUD_INDEX = 7; // "921600"

} // namespace

QFont WindowFont() {
    QFont font;
    font.setFamilies({"DejaVu Sans", "Liberation Sans", "Arial", "Noto Sans"});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

// ---------------------------------------------------------------------------------------------
// Paint box and file dialog

TPaintBox::TPaintBox(QWidget* parent) : QWidget(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    if (OnPaint)
        OnPaint(painter);
    else
        painter.fillRect(rect(), Qt::black);
}

void TPaintBox::mousePressEvent(QMouseEvent* event) {
    if (OnMouseDown)
        OnMouseDown(event->button(), event->position().toPoint().x(), event->position().toPoint().y());
}

void TPaintBox::mouseMoveEvent(QMouseEvent* event) {
    if (OnMouseMove)
        OnMouseMove(event->position().toPoint().x(), event->position().toPoint().y());
}

void TPaintBox::mouseReleaseEvent(QMouseEvent* event) {
    if (OnMouseUp)
        OnMouseUp(event->button(), event->position().toPoint().x(), event->position().toPoint().y());
}

bool TFileDialog::Execute() {
    if (Run)
        return Run(*this);
    // "All files(*.*)|*.*|Data files(*.dtf)|*.dtf" -> "All files(*.*)", "Data files(*.dtf)";
    // a caption that already ends in its patterns is not given them twice.
    const QStringList parts = Filter.split('|');
    QStringList filters;
    for (int k = 0; k + 1 < parts.size(); k += 2) {
        const QString patterns = QString(parts[k + 1]).replace(';', ' ');
        filters << (parts[k].endsWith("(" + patterns + ")") ? parts[k]
                                                            : QString("%1 (%2)").arg(parts[k], patterns));
    }
    QFileDialog dialog(Owner, QString(), InitialDir);
    dialog.setAcceptMode(Save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(Save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilters(filters);
    if (FilterIndex >= 1 && FilterIndex <= filters.size())
        dialog.selectNameFilter(filters[FilterIndex - 1]);
    dialog.setDefaultSuffix(DefaultExt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    FileName = dialog.selectedFiles().first();
    return true;
}

// ---------------------------------------------------------------------------------------------
// Construction

TForm_Main::TForm_Main(const TMainOptions& options, QWidget* parent) : QWidget(parent) {
    setObjectName("Form_Main");
    setWindowTitle("ZQ455 Setup program.");
    setFont(WindowFont());
    setFixedWidth(WINDOW_WIDTH);
    setMaximumHeight(MAX_HEIGHT);
    resize(WINDOW_WIDTH, MAX_HEIGHT);
    ShowModal = [this](QDialog& dialog) { return DefaultShowModal(dialog); };
    ShowProgress = [](QProgressDialog& dialog) { dialog.show(); };

    // The pages hold the devices' objects from the start.
    Sensor = std::make_unique<TZQ455Interface>();
    Motor = std::make_unique<TMotorInterface>();
    OpenDialogData = std::make_unique<TFileDialog>(this, false);
    SaveDialogData = std::make_unique<TFileDialog>(this, true);
    SaveDialogData->Filter = "All files(*.*)|*.*|Data files(*.dtf)|*.dtf";
    BuildConnectBar();
    BuildRangesBar();
    Panel_Middle = Named(new QWidget(this), "Panel_Middle");
    BuildParameterPanel();
    BuildMeasurePanel();
    BuildInterfacePages();
    BuildMenus();
    BuildTimers();
    BuildProfilePage();
    Recording_Panel = new TProfileRecordingPanel(*this);
    TabSheet_Result->layout()->addWidget(Recording_Panel);
    AlignPanels();
    Chart_Result_Oscilloscope->setFocusPolicy(Qt::StrongFocus); // for the menu key

    FormCreate();
    if (options.service) {
        PageControl_Parameters->setTabVisible(PageControl_Parameters->indexOf(TabSheet_Factory_Parameters),
                                              true);
        PageControl_Interface->setTabVisible(PageControl_Interface->indexOf(TabSheet_Calibration), true);
    }
}

TForm_Main::~TForm_Main() {
    FormClose();
}

void TForm_Main::CreateDialogs() {
    Form_Exposure = new TForm_Exposure(this);
    Form_Ext_Sig = new TForm_Ext_Sig(this);
    Form_Exposure_Delay = new TForm_Exposure_Delay(this);
    for (QDialog* dialog : std::initializer_list<QDialog*>{Form_Exposure, Form_Ext_Sig, Form_Exposure_Delay})
        dialog->setFont(WindowFont());
}

int TForm_Main::DefaultShowModal(QDialog& dialog) {
    // A box raised under a wait cursor (a refused edit, a failed file) waits for the engineer.
    const bool busy = QApplication::overrideCursor() != nullptr;
    if (busy)
        QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int result = dialog.exec();
    if (busy)
        QApplication::restoreOverrideCursor();
    return result;
}

void TForm_Main::BuildConnectBar() {
    TConnectBar::THost host;
    host.sensor_connected = [this] { return IsConnected(); };
    host.show_progress = [this](QProgressDialog& dialog) { ShowProgress(dialog); };
    host.show_modal = [this](QDialog& dialog) { return ShowModal(dialog); };
    // The sensor is back after an unplug: connect, the page it was on, measuring if it was.
    host.reconnect = [this](const std::string&) {
        Button_ConnectClick();
        if (!IsConnected())
            return;
        PageControl_Interface->setCurrentIndex(Reconnect_Page);
        if (Reconnect_Measuring)
            Button_Get_ResultClick();
    };
    Connect_Bar = new TConnectBar(host, this);
    Panel_Connect = Connect_Bar;
    ComboBox_Connect_Baud = Connect_Bar->ComboBox_Connect_Baud;
    ComboBox_Connect_NetAddress = Connect_Bar->ComboBox_Connect_NetAddress;
    Button_Connect = Connect_Bar->Button_Connect;
    Button_Get_Result =
        MakeButton(Panel_Connect, "Button_Get_Result", "Start Measure", QRect(382, 16, 105, 28));
    Button_Get_Video = MakeButton(Panel_Connect, "Button_Get_Video", "Get BITMAP", QRect(502, 16, 105, 28));
    connect(Button_Connect, &QPushButton::clicked, this, [this] { Button_ConnectClick(); });
    connect(Button_Get_Result, &QPushButton::clicked, this, [this] { Button_Get_ResultClick(); });
}

void TForm_Main::BuildRangesBar() {
    Panel_Ranges = MakePanel(this, "Panel_Ranges");
    struct TCaption {
        QLabel** caption;
        const char* caption_name;
        const char* text;
        QLabel** value;
        const char* value_name;
        const char* none;
    };
    const TCaption captions[] = {
        {&Label_Ranges_Model, "Label_Ranges_Model", "Model:", &Label_Ranges_Model_Value,
         "Label_Ranges_Model_Value", "none"},
        {&Label_Ranges_Serial, "Label_Ranges_Serial", "Serial number:", &Label_Ranges_Serial_Value,
         "Label_Ranges_Serial_Value", "none"},
        {&Label_Ranges_Base, "Label_Ranges_Base", "Base distance:", &Label_Ranges_Base_Value,
         "Label_Ranges_Base_Value", "none mm"},
        {&Label_Ranges_RangeZ, "Label_Ranges_RangeZ", "Measuring range Z:", &Label_Ranges_RangeZ_Value,
         "Label_Ranges_RangeZ_Value", "none mm"},
        {&Label_Ranges_RangeXs, "Label_Ranges_RangeXs", "Measuring range Xsmr:", &Label_Ranges_RangeXs_Value,
         "Label_Ranges_RangeXs_Value", "none mm"},
        {&Label_Ranges_RangeXe, "Label_Ranges_RangeXe", "Measuring range Xemr:", &Label_Ranges_RangeXe_Value,
         "Label_Ranges_RangeXe_Value", "none mm"},
    };
    // Three columns of two: model and serial, base and Z range, the two X ranges.
    for (int k = 0; k < 6; ++k) {
        const int x = 10 + (k / 2) * 290;
        const int y = 8 + (k % 2) * 19;
        *captions[k].caption = MakeLabel(Panel_Ranges, captions[k].caption_name, captions[k].text, x, y, 140);
        *captions[k].value =
            MakeLabel(Panel_Ranges, captions[k].value_name, captions[k].none, x + 142, y, 130);
    }
}

void TForm_Main::BuildParameterPanel() {
    Panel_Parameters = Named(new QFrame(Panel_Middle), "Panel_Parameters");
    PageControl_Parameters = Named(new QTabWidget(Panel_Parameters), "PageControl_Parameters");

    TabSheet_User_Parameters = Named(new QWidget, "TabSheet_User_Parameters");
    TabSheet_Factory_Parameters = Named(new QWidget, "TabSheet_Factory_Parameters");
    Parameter_Editors = new TParameterEditors(*this, TabSheet_User_Parameters, TabSheet_Factory_Parameters);
    Settings_Files = new TSettingsFiles(*this, *Parameter_Editors);
    Panel_Angle_Freq = MakePanel(TabSheet_User_Parameters, "Panel_Angle_Freq");
    Panel_Angle = Named(new QLabel(Panel_Angle_Freq), "Panel_Angle");
    Panel_Angle->setAlignment(Qt::AlignCenter);
    Panel_Freq = Named(new QLabel("Freq.:", Panel_Angle_Freq), "Panel_Freq");
    Panel_Freq->setAlignment(Qt::AlignCenter);
    Panel_Angle_Freq->setFixedHeight(55);
    auto* angle_layout = new QVBoxLayout(Panel_Angle_Freq);
    angle_layout->setContentsMargins(2, 4, 2, 4);
    angle_layout->addWidget(Panel_Angle);
    angle_layout->addWidget(Panel_Freq);
    auto* user_layout = new QVBoxLayout(TabSheet_User_Parameters);
    user_layout->setContentsMargins(0, 0, 0, 0);
    user_layout->setSpacing(0);
    user_layout->addWidget(Parameter_Editors->ValueListEditor_User_Parameters, 1);
    user_layout->addWidget(Panel_Angle_Freq);
    PageControl_Parameters->addTab(TabSheet_User_Parameters, "USER");

    auto* factory_layout = new QVBoxLayout(TabSheet_Factory_Parameters);
    factory_layout->setContentsMargins(0, 0, 0, 0);
    factory_layout->addWidget(Parameter_Editors->ValueListEditor_Factory_Parameters);
    PageControl_Parameters->addTab(TabSheet_Factory_Parameters, "FACTORY");
}

void TForm_Main::BuildMeasurePanel() {
    Panel1 = MakePanel(Panel_Middle, "Panel1");
    CheckBoxReverse = Named(new QCheckBox("Axis Reverse", Panel1), "CheckBoxReverse");
    CheckBoxReverse->setGeometry(12, 22, 110, 20);
    Label_Level = MakeLabel(Panel1, "Label_Level", "Level, um.", 140, 5);
    CSpinEditLevel = MakeSpin(Panel1, "CSpinEditLevel", 0, 100000, 0, QRect(140, 22, 90, 22));
    Label_dX = MakeLabel(Panel1, "Label_dX", "dX, mm.", 250, 5);
    CSpinEdit1 = MakeSpin(Panel1, "CSpinEdit1", 1, 30, 1, QRect(250, 22, 70, 22));
    CheckBoxAuto = Named(new QCheckBox("Auto", Panel1), "CheckBoxAuto");
    CheckBoxAuto->setGeometry(342, 22, 60, 20);
    Label_X0 = MakeLabel(Panel1, "Label_X0", "X0, mm.", 414, 5);
    CSpinEditX = MakeSpin(Panel1, "CSpinEditX", -100, 100, 0, QRect(414, 22, 70, 22));
}

void TForm_Main::BuildInterfacePages() {
    PageControl_Interface = Named(new QTabWidget(Panel_Middle), "PageControl_Interface");

    TabSheet_Result = Named(new QWidget, "TabSheet_Result");
    Chart_Result_Oscilloscope = MakeChart(TabSheet_Result, "Chart_Result_Oscilloscope");
    Chart_Result_Oscilloscope->xAxis->setRange(-40, 40);
    Chart_Result_Oscilloscope->yAxis->setRange(0, 110);
    // Made first, so the collected density lies under the current profile and its markers.
    Density_Result_Oscilloscope =
        new TDensityPlottable(Chart_Result_Oscilloscope->xAxis, Chart_Result_Oscilloscope->yAxis);
    Density_Result_Oscilloscope->setObjectName("Density_Result_Oscilloscope");
    Series_Result_Oscilloscope = AddPointSeries(Chart_Result_Oscilloscope, "Series_Result_Oscilloscope", 2);
    Series1 = AddLineSeries(Chart_Result_Oscilloscope, "Series1", QColor(255, 0, 0), 3);
    Series2 = AddLineSeries(Chart_Result_Oscilloscope, "Series2", QColor(255, 255, 255), 3);
    Series_Filtr_Noise_Up =
        AddLineSeries(Chart_Result_Oscilloscope, "Series_Filtr_Noise_Up", QColor(255, 255, 0), 1);
    Series_Filtr_Noise_Down =
        AddLineSeries(Chart_Result_Oscilloscope, "Series_Filtr_Noise_Down", QColor(0, 0, 255), 1);
    Chart_Result_Oscilloscope->setContextMenuPolicy(Qt::CustomContextMenu);
    auto* result_layout = new QVBoxLayout(TabSheet_Result);
    result_layout->setContentsMargins(0, 0, 0, 0);
    result_layout->addWidget(Chart_Result_Oscilloscope, 1);
    PageControl_Interface->addTab(TabSheet_Result, "RESULT");

    TabSheet_Video = Named(new QWidget, "TabSheet_Video");
    BuildVideoPage();
    PageControl_Interface->addTab(TabSheet_Video, "VIDEO");

    Page_Calibration = new TCalibrationPage(CalibrationPageHost());
    TabSheet_Calibration = Page_Calibration;
    PageControl_Interface->addTab(TabSheet_Calibration, "CALIBRATION");

    connect(PageControl_Interface, &QTabWidget::currentChanged, this, [this](int index) {
        QWidget* page = PageControl_Interface->widget(index);
        if (page == TabSheet_Result)
            TabSheet_ResultShow();
        else if (page == TabSheet_Video)
            TabSheet_VideoShow();
        else if (page == TabSheet_Calibration)
            TabSheet_CalibrationShow();
    });
}

TCalibrationPage::THost TForm_Main::CalibrationPageHost() {
    TCalibrationPage::THost host;
    host.sensor = Sensor.get();
    host.motor = Motor.get();
    host.sensor_connected = [this] { return Button_Connect->text() == "Disconnect"; };
    host.identity = [this] {
        std::array<uint16_t, IDENTITY_COUNT> identity{};
        std::copy(std::begin(Device_Identity), std::end(Device_Identity), identity.begin());
        return identity;
    };
    host.start_dir = [this] { return Start_Dir.toStdString(); };
    host.sensor_failed = [this](uint32_t code) { Sensor_Result = code; };
    host.sensor_busy = [this] { return Sensor_Busy; };
    host.set_sensor_busy = [this](bool busy) { Sensor_Busy = busy; };
    host.show_progress = [this](QProgressDialog& dialog) { ShowProgress(dialog); };
    host.show_modal = [this](QDialog& dialog) { return ShowModal(dialog); };
    host.open_dialog = OpenDialogData.get();
    host.save_dialog = SaveDialogData.get();
    host.open_file = [](const std::string& path) {
        QDesktopServices::openUrl(QUrl::fromLocalFile(QString::fromStdString(path)));
    };
    return host;
}

void TForm_Main::BuildMenus() {
    PopupMenu_Save_Data = Named(new QMenu(this), "PopupMenu_Save_Data");
    QMenu* m = PopupMenu_Save_Data;
    MenuItem4 = MakeItem(m, "MenuItem4", "Save to file");
    MenuItem5 = MakeItem(m, "MenuItem5", "Clear");
    N1 = MakeItem(m, "N1", "-");
    Collect1 = MakeItem(m, "Collect1", "Collect");
    Collect1->setCheckable(true);
    connect(Chart_Result_Oscilloscope, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        PopupMenu_Save_Data->popup(Chart_Result_Oscilloscope->mapToGlobal(pos));
    });
}

void TForm_Main::BuildTimers() {
    struct TTimerSetting {
        QTimer** timer;
        const char* name;
        int interval;
    };
    const TTimerSetting timers[] = {
        {&Timer_Resize, "Timer_Resize", 1},     {&Timer_Result, "Timer_Result", 10},
        {&Timer_Repaint, "Timer_Repaint", 100}, {&Timer_Errors, "Timer_Errors", 1000},
        {&Timer_Video, "Timer_Video", 1000},
    };
    for (const TTimerSetting& entry : timers) {
        *entry.timer = Named(new QTimer(this), entry.name);
        (*entry.timer)->setInterval(entry.interval);
    }
    connect(Timer_Resize, &QTimer::timeout, this, [this] { Timer_ResizeTimer(); });
    connect(Timer_Result, &QTimer::timeout, this, [this] { Timer_ResultTimer(); });
    connect(Timer_Errors, &QTimer::timeout, this, [this] { Timer_ErrorsTimer(); });
    connect(Timer_Repaint, &QTimer::timeout, this, [this] { Timer_RepaintTimer(); });
}

// Tab walks the window as it reads: the connect bar, the parameter tabs and grids, the
// measuring panel, the page tabs and what the shown page holds (the chart takes the keyboard's
// menu key for its menu). The controls were made panel by panel, not in this order, so the
// window keeps its own list instead of the toolkit's chain of creation.
std::vector<QWidget*> TForm_Main::TabOrder() const {
    std::vector<QWidget*> order = {ComboBox_Connect_Baud,
                                   ComboBox_Connect_NetAddress,
                                   Button_Connect,
                                   Button_Get_Result,
                                   Button_Get_Video,
                                   Connect_Bar->ComboBox_Connect_Device,
                                   Connect_Bar->Button_Connect_Find,
                                   PageControl_Parameters->tabBar(),
                                   Parameter_Editors->ValueListEditor_User_Parameters,
                                   Parameter_Editors->ValueListEditor_Factory_Parameters,
                                   CheckBoxReverse,
                                   CSpinEditLevel,
                                   CSpinEdit1,
                                   CheckBoxAuto,
                                   CSpinEditX,
                                   PageControl_Interface->tabBar(),
                                   Chart_Result_Oscilloscope,
                                   Camera_Aids->CheckBox_Video_Saturation};
    // The calibration page's panels: their controls top to bottom, as they were made.
    const std::vector<QWidget*> calibration = Page_Calibration->TabOrder();
    order.insert(order.end(), calibration.begin(), calibration.end());
    return order;
}

bool TForm_Main::focusNextPrevChild(bool next) {
    const std::vector<QWidget*> order = TabOrder();
    const int n = static_cast<int>(order.size());
    int at = -1;
    for (QWidget* w = QApplication::focusWidget(); w && at < 0; w = w->parentWidget())
        if (auto it = std::find(order.begin(), order.end(), w); it != order.end())
            at = static_cast<int>(it - order.begin());
    for (int step = 1; step <= n; ++step) {
        const int k = at < 0 ? (next ? step - 1 : n - step) : ((at + (next ? step : -step)) % n + n) % n;
        QWidget* control = order[static_cast<size_t>(k)];
        // Shown, usable, and not clipped away by the collapsed window.
        if (control->isVisible() && control->isEnabled() && !control->visibleRegion().isEmpty()) {
            control->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return QWidget::focusNextPrevChild(next);
}

// The panels follow the window's height as aligned panels do: the connect bar at the top,
// the identity bar at the bottom, the parameter panel between them as high as the room left.
void TForm_Main::AlignPanels() {
    const int h = height();
    Panel_Connect->setGeometry(0, 0, WINDOW_WIDTH, CONNECT_BAR_HEIGHT);
    const int middle = std::max(0, h - CONNECT_BAR_HEIGHT - RANGES_BAR_HEIGHT);
    Panel_Ranges->setGeometry(0, CONNECT_BAR_HEIGHT + middle, WINDOW_WIDTH, RANGES_BAR_HEIGHT);
    Panel_Middle->setGeometry(0, CONNECT_BAR_HEIGHT, WINDOW_WIDTH, middle);
    Panel_Parameters->setGeometry(0, 0, PARAMETERS_WIDTH, middle);
    // The pages keep their full-height size; while the window is short the middle area clips them.
    const int full = MAX_HEIGHT - CONNECT_BAR_HEIGHT - RANGES_BAR_HEIGHT;
    const int right = WINDOW_WIDTH - PARAMETERS_WIDTH;
    PageControl_Parameters->setGeometry(0, 0, PARAMETERS_WIDTH, full);
    Panel1->setGeometry(PARAMETERS_WIDTH, 0, right, CONNECT_BAR_HEIGHT);
    PageControl_Interface->setGeometry(PARAMETERS_WIDTH, CONNECT_BAR_HEIGHT, right,
                                       full - CONNECT_BAR_HEIGHT);
}

void TForm_Main::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    AlignPanels();
    FormResize();
}

void TForm_Main::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

// ---------------------------------------------------------------------------------------------
// Frame: creation, height, pages, close

int TForm_Main::MinHeight() const {
    return minimumHeight();
}

void TForm_Main::SetMinHeight(int height) {
    setMinimumHeight(height);
    FormResize();
}

void TForm_Main::FormResize() {
    if (height() != minimumHeight())
        resize(WINDOW_WIDTH, minimumHeight());
    AlignPanels();
}

QString TForm_Main::DataFolder() const {
    // One level only; a folder that cannot be made is not reported, the dialog opens anyway.
    const QString folder = Start_Dir + "/DataFiles";
    if (!QDir(folder).exists())
        QDir().mkdir(folder);
    return folder;
}

void TForm_Main::FillNetAddressList() {
    Connect_Bar->FillNetAddressList();
}

void TForm_Main::ShowAngle() {
    Panel_Angle->setText(Text(AngleText(System_Angle)));
}

void TForm_Main::CollapseNow() {
    Collapsed_Height = static_cast<uint16_t>(height() - Panel_Parameters->height());
    SetMinHeight(Collapsed_Height);
}

void TForm_Main::FormCreate() {
    FillNetAddressList();
    ComboBox_Connect_Baud->setCurrentIndex(DEFAULT_BAUD_INDEX);
    CollapseNow();
    PaintBox_BitMap->setGeometry(0, 0, FRAME_WIDTH, FRAME_HEIGHT);
    Timer_Resize->stop();
    Timer_Result->stop();
    Page_Calibration->Timer_Motor->stop();
    User_Row = 0;
    Factory_Row = 0;
    Video_Bitmap = std::make_unique<QImage>(FRAME_WIDTH, FRAME_HEIGHT, QImage::Format_Indexed8);
    QList<QRgb> palette;
    for (int i = 0; i < 256; ++i)
        palette << qRgb(i, 0, 0);
    Video_Bitmap->setColorTable(palette);
    Video_Bitmap->fill(0);
    Start_Dir = QDir::currentPath();
    System_Angle = 0;
    ShowAngle();
    Sensor_Result = 0;
    Button_Get_Result->setEnabled(false);
    Button_Get_Video->setEnabled(false);
    Timer_Repaint->stop();
    Timer_Errors->start();
    PageControl_Interface->setTabVisible(PageControl_Interface->indexOf(TabSheet_Calibration), false);
    PageControl_Parameters->setTabVisible(PageControl_Parameters->indexOf(TabSheet_Factory_Parameters),
                                          false);
}

void TForm_Main::Timer_ResizeTimer() {
    const int min = MinHeight();
    if (IsConnected()) {
        if (min + RESIZE_STEP <= MAX_HEIGHT) {
            SetMinHeight(min + RESIZE_STEP);
        } else {
            SetMinHeight(MAX_HEIGHT);
            Timer_Resize->stop();
        }
    } else {
        if (min - RESIZE_STEP >= Collapsed_Height) {
            SetMinHeight(min - RESIZE_STEP);
        } else {
            SetMinHeight(Collapsed_Height);
            Timer_Resize->stop();
        }
    }
}

bool TForm_Main::IsConnected() const {
    return Button_Connect->text() != "Connect";
}

void TForm_Main::TabSheet_ResultShow() {
    if (!IsConnected())
        return;
    Button_Get_Result->setEnabled(true);
    Button_Get_Video->setEnabled(false);
    Timer_Repaint->stop();
}

void TForm_Main::TabSheet_VideoShow() {
    if (!IsConnected())
        return;
    Button_Get_Result->setEnabled(false);
    Button_Get_Video->setEnabled(true);
    Timer_Repaint->start();
}

void TForm_Main::TabSheet_CalibrationShow() {
    Button_Get_Result->setEnabled(false);
    Button_Get_Video->setEnabled(false);
}

void TForm_Main::FormClose() {
    if (Closed)
        return;
    Closed = true;
    // Nothing may reach the devices once they are gone.
    for (QTimer* timer : {Timer_Resize, Timer_Result, Timer_Repaint, Page_Calibration->Timer_Motor,
                          Page_Calibration->Timer_Motor_State, Timer_Errors, Timer_Video})
        timer->stop();
    Sensor->Close();
    Motor->Close();
    Video_Bitmap.reset();
    Motor.reset();
    Sensor.reset();
}

// ---------------------------------------------------------------------------------------------
// Connection and identity

void TForm_Main::ShowIdentityNone() {
    Label_Ranges_Model_Value->setText("none");
    Label_Ranges_Serial_Value->setText("none");
    for (QLabel* label : {Label_Ranges_Base_Value, Label_Ranges_RangeZ_Value, Label_Ranges_RangeXs_Value,
                          Label_Ranges_RangeXe_Value})
        label->setText("none mm");
}

void TForm_Main::ScaleResultChart(uint16_t range_z, uint16_t range_xemr) {
    const double z = range_z;
    const double x = range_xemr;
    Chart_Result_Oscilloscope->yAxis->setRange(0, z + z * 0.05);
    Chart_Result_Oscilloscope->xAxis->setRange(-(x + x * 0.05) * 0.5, (x + x * 0.05) * 0.5);
    Chart_Result_Oscilloscope->replot();
}

void TForm_Main::Button_ConnectClick() {
    Connect_Bar->StopWaiting();
    Recording_Panel->EndReplay();
    if (Button_Connect->text() != "Connect") {
        Recording_Panel->StopRecording();
        Sensor_Result = Sensor->Close();
        ShowIdentityNone();
        Button_Connect->setText("Connect");
        ComboBox_Connect_Baud->setEnabled(true);
        ComboBox_Connect_NetAddress->setEnabled(true);
        Connect_Bar->SetDeviceChoiceEnabled(true);
        Timer_Resize->start();
        Button_Get_Result->setEnabled(false);
        Button_Get_Video->setEnabled(false);
        return;
    }

    // An address list left without a selection (a loaded address above 31) has no number.
    if (ComboBox_Connect_NetAddress->currentIndex() < 0) {
        QMessageBox box(QMessageBox::Critical, APPLICATION_TITLE, Text(ConversionMessage("")),
                        QMessageBox::Ok, this);
        ShowModal(box);
        return;
    }
    const TSensorConnection record = Connect_Bar->Selection();

    const QRect bounds = PaintBox_BitMap->geometry();
    Video_ROI = {bounds.left(), bounds.top(), bounds.left() + bounds.width(), bounds.top() + bounds.height()};
    ROI_Dragging = false;

    const TWaitCursor wait; // a silent sensor holds the window for a second
    if ((Sensor_Result = Sensor->Open(record)))
        return;
    if ((Sensor_Result = Sensor->ReadIdentity(Device_Identity)))
        return;
    if ((Sensor_Result = Sensor->ReadFactoryParameters(Factory_Params)))
        return;
    if ((Sensor_Result = Sensor->ReadUserParameters(User_Params)))
        return;
    uint32_t angle_bits = 0;
    if ((Sensor_Result = Sensor->ReadAngle(angle_bits)))
        return;
    SetAngle(angle_bits);

    Parameter_Editors->Show_Factory_Parameters();
    Parameter_Editors->Show_User_Parameters();

    const uint16_t* id = Device_Identity;
    Label_Ranges_Model_Value->setText(QString::number(id[IDENTITY_DEVICE_TYPE]));
    Label_Ranges_Serial_Value->setText(
        QString::number(static_cast<uint32_t>(id[IDENTITY_SERIAL_HI]) * 65536u + id[IDENTITY_SERIAL_LO]));
    Label_Ranges_Base_Value->setText(QString::number(id[IDENTITY_BASE_DISTANCE]) + " mm");
    Label_Ranges_RangeZ_Value->setText(QString::number(id[IDENTITY_RANGE_Z]) + " mm");
    Label_Ranges_RangeXs_Value->setText(QString::number(id[IDENTITY_RANGE_XSMR]) + " mm");
    Label_Ranges_RangeXe_Value->setText(QString::number(id[IDENTITY_RANGE_XEMR]) + " mm");

    ScaleResultChart(id[IDENTITY_RANGE_Z], id[IDENTITY_RANGE_XEMR]);

    Button_Connect->setText("Disconnect");
    Page_Calibration->SensorConnected();
    ComboBox_Connect_Baud->setEnabled(false);
    ComboBox_Connect_NetAddress->setEnabled(false);
    Connect_Bar->SetDeviceChoiceEnabled(false);
    Button_Get_Result->setEnabled(true);
    Timer_Resize->start();
    PageControl_Interface->setEnabled(true);
    LockOtherPages(false);
    PageControl_Interface->setCurrentWidget(TabSheet_Result);

    Video_ROI = RoiFromParameters(User_Params[USER_ROI_LEFT_WIDTH], User_Params[USER_ROI_TOP_HEIGHT]);
    Video_Fps =
        ComputeFrameRate(Video_ROI.right - Video_ROI.left, Video_ROI.bottom - Video_ROI.top, Video_Fps);
    Panel_Freq->setText(Text(FrameRateText(Video_Fps)));
}

// ---------------------------------------------------------------------------------------------
// Measuring: the button. The tick, the chart and the profile file are in MainProfile.cpp.

void TForm_Main::Button_Get_ResultClick() {
    if (Button_Get_Result->text() == "Start Measure") {
        Recording_Panel->EndReplay();
        Button_Get_Result->setText("Stop Measure");
        Timer_Result->start();
        LockOtherPages(true);
    } else {
        Button_Get_Result->setText("Start Measure");
        Timer_Result->stop();
        Recording_Panel->StopRecording();
        LockOtherPages(false);
    }
}

// While measuring the page must not change, but the chart inside it keeps its menu ("Save to
// file", "Collect"): only the other pages' tabs are locked, not the whole page control.
void TForm_Main::LockOtherPages(bool lock) {
    for (int k = 0; k < PageControl_Interface->count(); ++k)
        PageControl_Interface->setTabEnabled(k, !lock || k == PageControl_Interface->currentIndex());
}

bool TForm_Main::PagesLocked() const {
    for (int k = 0; k < PageControl_Interface->count(); ++k)
        if (!PageControl_Interface->isTabEnabled(k))
            return true;
    return false;
}

// ---------------------------------------------------------------------------------------------
// Error monitor

void TForm_Main::Timer_ErrorsTimer() {
    Timer_Errors->stop();
    const uint32_t code = Sensor_Result;
    const bool reset = code >= 1 && code <= RESULT_LAST_CODE;
    // What a reconnect after an unplug goes back to, taken before the reset clears it.
    const bool unplugged = reset && IsConnected() && Sensor->link.Unplugged();
    const uint32_t serial =
        Device_Identity[IDENTITY_SERIAL_LO] + (uint32_t(Device_Identity[IDENTITY_SERIAL_HI]) << 16);
    const uint32_t baud = ComboBox_Connect_Baud->currentText().toUInt();
    const uint8_t address = uint8_t(std::max(0, ComboBox_Connect_NetAddress->currentIndex()));
    if (unplugged) {
        Reconnect_Page = PageControl_Interface->currentIndex();
        Reconnect_Measuring = Button_Get_Result->text() == "Stop Measure";
    }
    if (reset) {
        FillNetAddressList();
        CollapseNow();
        Timer_Resize->stop();
        Timer_Result->stop();
        Page_Calibration->SensorLost();
        Parameter_Editors->ResetEditorRows();
        Recording_Panel->StopRecording();
        System_Angle = 0;
        ShowAngle();
        ShowIdentityNone();
        ComboBox_Connect_Baud->setEnabled(true);
        ComboBox_Connect_NetAddress->setEnabled(true);
        Connect_Bar->SetDeviceChoiceEnabled(true);
        Button_Get_Result->setText("Start Measure");
        Button_Get_Result->setEnabled(false);
        Button_Get_Video->setEnabled(false);
        Button_Connect->setText("Connect");
        Timer_Repaint->stop();
        Button_Get_Video->setText("Get BITMAP");
    }
    if (code != 0) {
        QMessageBox box(QMessageBox::Critical, ERROR_BOX_CAPTION, ResultMessage(code), QMessageBox::Ok,
                        QApplication::activeWindow() ? QApplication::activeWindow() : this);
        // Why the link failed, when it knows, under the code's message.
        if (!Sensor->link.Reason().empty())
            box.setInformativeText(QString::fromStdString(Sensor->link.Reason()));
        ShowModal(box);
        Sensor_Result = 0;
    }
    // The bar says Connect again: the port goes too, so an unplugged adapter's dead tty is
    // not held until the next Connect (which opens anew in any case).
    if (reset && Sensor)
        Sensor->Close();
    if (unplugged && Connect_Bar->CheckBox_Connect_Reconnect->isChecked())
        Connect_Bar->WaitForSensor(serial, baud, address);
    if (Timer_Errors && !Closed)
        Timer_Errors->start();
}

// ---------------------------------------------------------------------------------------------
// Parameter editors

// ---------------------------------------------------------------------------------------------
// The connect bar follows a loaded address or bit rate.

void TForm_Main::FollowLinkSettings() {
    const uint16_t address = User_Params[USER_NETWORK_ADDRESS];
    ComboBox_Connect_NetAddress->setCurrentIndex(address < ComboBox_Connect_NetAddress->count() ? address
                                                                                                : -1);
    for (int k = 0; k < 8; ++k)
        if (BAUD_CODES[k].code == User_Params[USER_UART_BAUDRATE])
            ComboBox_Connect_Baud->setCurrentIndex(k);
}

// The angle travels as the bit pattern of a float, in radians.
void TForm_Main::SetAngle(uint32_t bits) {
    std::memcpy(&System_Angle, &bits, sizeof System_Angle);
    ShowAngle();
}

} // namespace zq455
