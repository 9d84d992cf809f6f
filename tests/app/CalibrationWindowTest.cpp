// The CALIBRATION page against the virtual sensor and stage, offscreen: a whole run through
// the window checked against the model's true Z and X, and the page's refusals and boxes.

#include "WindowFixture.h"

#include "app/CalibrationCheck.h"
#include "app/CalibrationPage.h"
#include "app/ErrorMapView.h"
#include "app/PointCloudPlottable.h"
#include "calibration/CalibrationRun.h"
#include "calibration/DataFile.h"
#include "calibration/TableComputation.h"
#include "calibration/TransmitTable.h"
#include "cli/Cli.h"
#include "link/ResultCodes.h"
#include "sim/SensorModel.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QProgressBar>
#include <QProgressDialog>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>
#include <sstream>

using namespace zq455;
using namespace zq455::test;

namespace {

// Columns at each side of the frame that the stripes cover only now and then.
constexpr unsigned EDGE_COLUMNS = 64;

class CalibrationPage : public SetupWindow {
protected:
    void SetUp() override {
        options.service = true;
        Start(true);
        window->Page_Calibration->Calibr_Run->Sleep = [](uint32_t ms) {
            SleepMilliseconds(std::min<uint32_t>(ms, 20));
        };
        window->ShowProgress = [this](QProgressDialog& dialog) {
            dialog.show();
            progress_titles.push_back(dialog.objectName());
            // The bar's value follows every step the operation reports.
            auto* bar = dialog.findChild<QProgressBar*>();
            ASSERT_NE(bar, nullptr);
            QObject::connect(bar, &QProgressBar::valueChanged, [this, &dialog](int value) {
                progress.push_back({value, dialog.labelText(), dialog.isVisible(), dialog.isModal()});
            });
        };
    }

    void ShowPage() {
        window->PageControl_Interface->setCurrentWidget(window->TabSheet_Calibration);
        QApplication::processEvents();
    }

    void ConnectMotor() {
        window->Page_Calibration->Button_Motor_Connect->click();
        ASSERT_EQ(window->Page_Calibration->Button_Motor_Connect->text(), "Disconnect");
    }

    bool RunIdle(int timeout_ms) {
        return WaitFor([&] { return !window->Page_Calibration->Timer_Motor->isActive(); }, timeout_ms);
    }

    struct TProgress {
        int value;
        QString label;
        bool visible;
        bool modal;
    };
    std::vector<QString> progress_titles;
    std::vector<TProgress> progress;
};

} // namespace

// The calibration calibrates: a run of 500 steps through the window, Calculate, the
// transfer and the save; then every cell the tables fill maps its image point to the
// model's true Z and X.
//
// Tolerances (RZ = 50 mm, XE = 10 mm; one Z unit is RZ/4096 = 12.2 um, one X unit XE/4096 =
// 2.4 um), for every column that carries values, the frame's edges included: the cells are
// rounded (half a unit); the line fit of a step carries the noise of its values (+-2 tenths
// a frame, three frames) at a few tenths where it reaches past the last value at the frame's
// edge, about a Z unit; where the line leaves the camera's last rows the frames clip it, up
// to two units more there. X rests on stripe centres known to a quarter column (4 units) and
// reaches past the outermost one by up to one and a half spacings. Together: 4 Z units and
// 8 X units.
TEST_F(CalibrationPage, AWholeRunCalibratesAgainstTheModel) {
    Connect();
    ShowPage();
    ConnectMotor();
    const int32_t begin_um = window->Page_Calibration->SpinEdit_Motor_Move_Start->value();
    const double first_capture_um = demo->stage->PositionUm() + StartSteps(begin_um) * 12.5;

    window->Page_Calibration->Button_Calibration->click();
    EXPECT_EQ(window->Page_Calibration->Calibr_Run->Tag, CALIBR_TAG_APPROACH);
    // The label while the run goes, with the index it stood at (several ticks may pass
    // between two looks).
    QString seen_midway;
    int seen_index = -1;
    ASSERT_TRUE(WaitFor(
        [&] {
            const int k = window->Page_Calibration->Calibration->Calibr_Step_Index;
            if (seen_index < 0 && k >= 100 && k < 499 && window->Page_Calibration->Timer_Motor->isActive() &&
                window->Page_Calibration->Calibr_Run->Tag == CALIBR_TAG_CAPTURE) {
                seen_index = k;
                seen_midway = window->Page_Calibration->Label_Calibr_Progress->text();
                // Calculate cannot be pressed while the stage moves, and even run by hand it
                // leaves the run's pitch alone (the moves below stay 9 steps).
                EXPECT_FALSE(window->Page_Calibration->Button_Calibr_Calculate->isEnabled());
                EXPECT_FALSE(window->Page_Calibration->Button_Motor_Init->isEnabled());
                QTest::mouseClick(window->Page_Calibration->Button_Calibr_Calculate, Qt::LeftButton);
                // Run by hand on a run not yet whole, it asks first.
                question_answer = QMessageBox::Yes;
                window->Page_Calibration->Button_Calibr_CalculateClick();
                EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Step_Um, 500.0f);
                EXPECT_TRUE(!boxes.empty() && boxes.back().text.contains("of 500 steps of a run"));
                boxes.clear();
            }
            return window->Page_Calibration->Calibration->Calibr_Step_Index >= 500 &&
                   !window->Page_Calibration->Timer_Motor->isActive();
        },
        45000));
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Step_Index, 500);
    EXPECT_EQ(window->Page_Calibration->Calibr_Run->RunPitchUm(), 112.5f);
    EXPECT_TRUE(window->Page_Calibration->Button_Calibr_Calculate->isEnabled());
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(window->Page_Calibration->Calibr_Run->Motor_Result, 0u);
    EXPECT_EQ(seen_midway, QString("Step %1 of 500").arg(seen_index + 1));
    EXPECT_EQ(window->Page_Calibration->Label_Calibr_Progress->text(), "Step 500 of 500, done");
    // One approach, 499 moves of 9 steps, the run ends where the last capture was taken.
    const auto moves = demo->stage->Requests();
    ASSERT_EQ(moves.size(), 500u);
    EXPECT_EQ(moves[0].steps, 1760u);
    EXPECT_TRUE(
        std::all_of(moves.begin() + 1, moves.end(), [](const TStageRequest& r) { return r.steps == 9; }));
    EXPECT_DOUBLE_EQ(demo->stage->PositionUm(), first_capture_um + 499 * 112.5);
    // The live view shows the last step: 640 columns in red.
    EXPECT_EQ(window->Page_Calibration->Series_Calibr_Oscilloscope->PointCount(), 640u);

    // The raw data go to a file before Calculate filters them.
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    window->Start_Dir = dir.path();
    const QString dtf = dir.path() + "/DataFiles/run.dtf";
    window->SaveDialogData->Run = [&](TFileDialog& d) {
        d.FileName = dtf;
        return true;
    };
    window->Page_Calibration->Button_Calibr_Save_File->click();
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(QFileInfo(dtf).size(), 640000);

    // The page's own zero edits (310, 340) bracket the stripe at X = 0 and no other.
    window->Page_Calibration->Button_Calibr_Calculate->click();
    EXPECT_TRUE(boxes.empty());
    const size_t centres = CentrePoints(*window->Page_Calibration->Calibration).size();
    EXPECT_GT(centres, 500u * 15); // 17 to 20 whole stripes a step
    EXPECT_EQ(window->Page_Calibration->Series_Calibr_Oscilloscope->PointCount(), centres);
    EXPECT_EQ(window->Page_Calibration->Series_Calibr_Oscilloscope->Points()[0].colour, qRgb(255, 0, 0));

    window->Page_Calibration->Button_TABLE_Trans->click();
    EXPECT_EQ(window->Sensor_Result, 0u);
    ASSERT_EQ(progress.size(), 160u);
    EXPECT_EQ(progress[0].label, "Transmitting the table: block 1 of 160");
    EXPECT_EQ(progress.back().label, "Transmitting the table: block 160 of 160");
    EXPECT_TRUE(progress.back().visible && progress.back().modal);
    // The sensor keeps the 14 bits that travel; they are the table's bit for bit.
    const std::vector<uint16_t> received = demo->sensor->TableMemory();
    const uint16_t* sent = &window->Page_Calibration->Calibration->Calibr_Table_Trans[0][0];
    ASSERT_EQ(received.size(), size_t{CALIBR_TRANS_VALUES});
    size_t mismatches = 0;
    for (size_t i = 0; i < received.size(); ++i)
        mismatches += received[i] != (sent[i] & 0x3FFF);
    EXPECT_EQ(mismatches, 0u);

    // The save's pause in ticks of a quarter second that add up to 40 s before the reply.
    uint32_t paused = 0;
    window->Sensor->Sleep = [&](uint32_t ms) { paused += ms; };
    progress.clear();
    window->Page_Calibration->Button_TABLE_Save->click();
    // A table sent whole but not checked: the save asks first.
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("has not been checked"));
    boxes.clear();
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(paused, 40000u);
    EXPECT_EQ(demo->sensor->Counters().table_saves, 1u);
    EXPECT_EQ(demo->sensor->SavedTable(), received);
    ASSERT_EQ(progress.size(), 160u);
    EXPECT_EQ(progress[0].label, "Storing the table in FLASH: 40 s left");
    EXPECT_EQ(progress[3].label, "Storing the table in FLASH: 39 s left");
    EXPECT_EQ(progress.back().label, "Storing the table in FLASH: 0 s left");
    EXPECT_EQ(progress_titles,
              (std::vector<QString>{"ProgressDialog_Table_Trans", "ProgressDialog_Table_Save"}));

    // zq455 compute on the saved file gives the table the sensor received.
    {
        std::ostringstream out, err;
        cli::TCliEnvironment environment{&out, &err};
        const std::string table = (dir.path() + "/table.bin").toStdString();
        ASSERT_EQ(cli::RunCli({"compute", dtf.toStdString(), "--rz", "50", "--xe", "10", "--out", table},
                              environment),
                  0)
            << err.str();
        std::ifstream file(table, std::ios::binary);
        std::vector<uint16_t> computed(CALIBR_TRANS_VALUES);
        file.read(reinterpret_cast<char*>(computed.data()), std::streamsize(computed.size() * 2));
        ASSERT_EQ(file.gcount(), std::streamsize(CALIBR_TRANS_VALUES * 2));
        EXPECT_TRUE(std::equal(computed.begin(), computed.end(), sent));
    }

    // Against the model.
    TSensorModel model;
    const double rz = 50, xe = 10;
    const double z_first = model.TargetZ(first_capture_um);
    const auto& Z = window->Page_Calibration->Calibration->Calibr_Table_Z;
    const auto& X = window->Page_Calibration->Calibration->Calibr_Table_X;
    double worst_z = 0, worst_x = 0, sum_z = 0, sum_x = 0, edge_z = 0, edge_x = 0;
    size_t cells_z = 0, cells_x = 0, off_z = 0, off_x = 0;
    for (unsigned c = 1; c < CALIBR_COLUMNS; ++c) {
        // The edges are held as the rest; their worst is shown apart.
        const bool interior = c >= EDGE_COLUMNS && c < CALIBR_COLUMNS - EDGE_COLUMNS;
        for (unsigned z = 0; z < CALIBR_ZSLOTS; ++z) {
            const int16_t tz = Z[c][z];
            const int16_t tx = X[c][z];
            if (tz != EMPTY_CELL) {
                const double truth = (model.ZAtPosition(c, z) - z_first) * 4096 / rz;
                const double e = std::abs(tz - truth);
                ++cells_z;
                if (!interior)
                    edge_z = std::max(edge_z, e);
                sum_z += tz - truth;
                worst_z = std::max(worst_z, e);
                off_z += e > 4;
            }
            if (tx != EMPTY_CELL) {
                const double truth = model.XAtPosition(c, z) * 4096 / xe;
                const double e = std::abs(tx - truth);
                ++cells_x;
                if (!interior)
                    edge_x = std::max(edge_x, e);
                sum_x += tx - truth;
                worst_x = std::max(worst_x, e);
                off_x += e > 8;
            }
        }
    }
    std::printf("cells Z %zu, X %zu; error mean / worst: Z %.2f / %.2f units of RZ/4096, X %.2f / %.2f units "
                "of XE/4096; worst at the edges: Z %.2f, X %.2f\n",
                cells_z, cells_x, sum_z / double(cells_z), worst_z, sum_x / double(cells_x), worst_x, edge_z,
                edge_x);
    // The tables cover the whole frame over the whole run.
    EXPECT_GT(cells_z, size_t{639} * 4500);
    EXPECT_GT(cells_x, size_t{639} * 4500);
    EXPECT_EQ(off_z, 0u) << "worst " << worst_z;
    EXPECT_EQ(off_x, 0u) << "worst " << worst_x;
}

TEST_F(CalibrationPage, CalculateAndTransferRefuseBadInputsBeforeTouchingAnything) {
    ShowPage();
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    window->Page_Calibration->Calibration->Calibr_Data[100][5] = 1234;
    window->Page_Calibration->Calibration->Calibr_Centres[7][7] = 77;
    // No identity yet: RZ and XE are 0.
    window->Page_Calibration->Button_Calibr_Calculate->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "ZQ455-SP.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].text.startsWith("Measuring range Z is 0")) << boxes[0].text.toStdString();

    Connect();
    ShowPage();
    const struct {
        QLineEdit* edit;
        const char* text;
        const char* name;
    } cases[] = {{window->Page_Calibration->Edit_ZERO_Left, "abc", "Zero Left"},
                 {window->Page_Calibration->Edit_ZERO_Right, "640", "Zero Right"},
                 {window->Page_Calibration->Edit_X_Right, "-1", "X Right"},
                 {window->Page_Calibration->Edit_X_Left, "600", "X Left"}}; // with X Right 40: not below 600
    window->Page_Calibration->Edit_X_Right->setText("40");
    for (const auto& c : cases) {
        boxes.clear();
        const QString before = c.edit->text();
        c.edit->setText(c.text);
        window->Page_Calibration->Button_Calibr_Calculate->click();
        ASSERT_EQ(boxes.size(), 1u) << c.name;
        EXPECT_TRUE(boxes[0].text.startsWith(c.name)) << boxes[0].text.toStdString();
        c.edit->setText(before);
    }
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Data[100][5], 1234);
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Centres[7][7], 77);

    // The transfer checks the X limits alone, and sends nothing when they fail.
    boxes.clear();
    const size_t commands = demo->sensor->Commands().size();
    window->Page_Calibration->Edit_X_Left->setText("x");
    window->Page_Calibration->Button_TABLE_Trans->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("X Left"));
    EXPECT_EQ(demo->sensor->Commands().size(), commands);
    EXPECT_TRUE(progress_titles.empty());
}

TEST_F(CalibrationPage, StepViewerAndResetPointStayInsideTheArray) {
    ShowPage();
    EXPECT_EQ(window->Page_Calibration->CSpinEdit_Calibr_Ind_Step->maximum(), 499);
    EXPECT_EQ(window->Page_Calibration->CSpinEdit_Calibr_Ind_Data->maximum(), 639);
    window->Page_Calibration->Calibration->Calibr_Data[5][499] = 1234;
    window->Page_Calibration->Calibration->Calibr_Data[639][499] = 4321;
    window->Page_Calibration->CSpinEdit_Calibr_Ind_Step->setValue(1000); // clamped to the last step
    ASSERT_EQ(window->Page_Calibration->CSpinEdit_Calibr_Ind_Step->value(), 499);
    const auto& view = window->Page_Calibration->Series_Calibr_Oscilloscope1->Points();
    ASSERT_EQ(view.size(), 640u);
    EXPECT_EQ(view[5].value, 1234);
    EXPECT_EQ(view[0].value, 0); // zero values are drawn too
    EXPECT_EQ(view[5].colour, qRgb(0, 128, 0));
    window->Page_Calibration->CSpinEdit_Calibr_Ind_Data->setValue(5);
    window->Page_Calibration->Button_Calibr_Rst_Pnt->click();
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Data[5][499], 0);
    EXPECT_EQ(window->Page_Calibration->Series_Calibr_Oscilloscope1->Points()[5].value, 0);
    window->Page_Calibration->CSpinEdit_Calibr_Ind_Data->setValue(5000);
    window->Page_Calibration->Button_Calibr_Rst_Pnt->click();
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Data[639][499], 0);
}

TEST_F(CalibrationPage, DataFileButtonsReportFailuresAndShortFiles) {
    ShowPage();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    window->Start_Dir = dir.path();
    // The folder is made before the dialog opens, even when the dialog is cancelled.
    TFileDialog seen(nullptr, true);
    window->SaveDialogData->Run = [&](TFileDialog& d) {
        seen.InitialDir = d.InitialDir;
        seen.Filter = d.Filter;
        seen.FilterIndex = d.FilterIndex;
        seen.DefaultExt = d.DefaultExt;
        return false;
    };
    window->Page_Calibration->Button_Calibr_Save_File->click();
    EXPECT_TRUE(QFileInfo(dir.path() + "/DataFiles").isDir());
    EXPECT_EQ(seen.InitialDir, dir.path() + "/DataFiles");
    EXPECT_EQ(seen.Filter, "All files(*.*)|*.*|Data files(*.dtf)|*.dtf");
    EXPECT_EQ(seen.FilterIndex, 2);
    EXPECT_EQ(seen.DefaultExt, "dtf");
    EXPECT_TRUE(boxes.empty());

    // A file that cannot be created is reported, not passed off as saved.
    window->SaveDialogData->Run = [&](TFileDialog& d) {
        d.FileName = dir.path() + "/missing/run.dtf";
        return true;
    };
    window->Page_Calibration->Button_Calibr_Save_File->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, "ZQ455-SP.");
    EXPECT_TRUE(boxes[0].text.startsWith("Cannot create")) << boxes[0].text.toStdString();

    // A 1000-byte file replaces column 0 only, and says so.
    const QString shortfile = dir.path() + "/short.dtf";
    {
        std::ofstream f(shortfile.toStdString(), std::ios::binary);
        for (int k = 0; k < 500; ++k) {
            const uint16_t v = uint16_t(1000 + k);
            f.write(reinterpret_cast<const char*>(&v), 2);
        }
    }
    window->Page_Calibration->Calibration->Calibr_Data[1][0] = 77;
    window->OpenDialogData->Run = [&](TFileDialog& d) {
        d.FileName = shortfile;
        return true;
    };
    boxes.clear();
    window->Page_Calibration->Button_Calibr_Load_File->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("1000 of 640000 bytes")) << boxes[0].text.toStdString();
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Data[0][499], 1499);
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Data[1][0], 77);
    // A file that is not there leaves the data alone.
    window->OpenDialogData->Run = [&](TFileDialog& d) {
        d.FileName = dir.path() + "/none.dtf";
        return true;
    };
    boxes.clear();
    window->Page_Calibration->Button_Calibr_Load_File->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.startsWith("Cannot open"));
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Data[0][499], 1499);
}

TEST_F(CalibrationPage, ASensorFailureStopsTheRunAndTheErrorMonitorReportsIt) {
    Connect();
    ShowPage();
    ConnectMotor();
    window->Page_Calibration->Button_Calibration->click();
    ASSERT_TRUE(
        WaitFor([&] { return window->Page_Calibration->Calibration->Calibr_Step_Index >= 10; }, 10000));
    demo->sensor->InjectFault(TSensorFault::WRONG_CHECKSUM);
    ASSERT_TRUE(RunIdle(5000));
    const uint16_t stopped = window->Page_Calibration->Calibration->Calibr_Step_Index;
    EXPECT_LT(stopped, 500);
    EXPECT_TRUE(window->Page_Calibration->Label_Calibr_Progress->text().startsWith("Stopped at step"));
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 2500));
    EXPECT_EQ(boxes[0].text, "Packet error.");
    EXPECT_EQ(boxes[0].connect_caption, "Connect"); // the reset came before the box
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(window->Page_Calibration->Calibr_Run->Motor_Result, 0u);
    EXPECT_NE(window->Page_Calibration->Calibration->Calibr_Data[320][stopped - 1],
              0); // completed steps kept

    // A motor button sets the state back to a single move, and Disconnect closes the link.
    window->Page_Calibration->Button_Motor_Backward->click();
    EXPECT_EQ(window->Page_Calibration->Calibr_Run->Tag, CALIBR_TAG_MOVE);
    ASSERT_TRUE(RunIdle(5000));
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Step_Index, stopped);
    window->Page_Calibration->Button_Motor_Connect->click();
    EXPECT_EQ(window->Page_Calibration->Button_Motor_Connect->text(), "Connect");
    EXPECT_FALSE(window->Motor->IsOpen());
}

TEST_F(CalibrationPage, AMotorFaultStopsTheRunWithoutABox) {
    Connect();
    ShowPage();
    ConnectMotor();
    window->Page_Calibration->Button_Calibration->click();
    ASSERT_TRUE(
        WaitFor([&] { return window->Page_Calibration->Calibration->Calibr_Step_Index >= 5; }, 10000));
    demo->stage->SetFault(TStageFault::NO_REPLY);
    ASSERT_TRUE(RunIdle(5000)); // the status poll times out and the timer stays off
    const uint16_t stopped = window->Page_Calibration->Calibration->Calibr_Step_Index;
    EXPECT_EQ(window->Page_Calibration->Calibr_Run->Motor_Result, RESULT_READ_TIMEOUT);
    EXPECT_EQ(window->Sensor_Result, 0u);
    // Motor codes are never shown: the error monitor stays quiet and the sensor stays connected.
    WaitFor([] { return false; }, 2200);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(window->Button_Connect->text(), "Disconnect");
    EXPECT_EQ(window->Page_Calibration->Calibration->Calibr_Step_Index, stopped);
    EXPECT_NE(window->Page_Calibration->Calibration->Calibr_Data[320][stopped - 1],
              0); // completed steps kept
}

// "Calibrate...": the whole calibration stores a passing table with its certificate in the
// archive; "Restore table..." sends an entry again and asks before storing it; Stop keeps a
// partial run that Transmitt table then asks about.
TEST_F(CalibrationPage, CalibrateStoresAPassRestoreAndStopAskBeforeAnythingUnsure) {
    TCalibrationPage* page = window->Page_Calibration;
    page->Sleep = [](uint32_t) {};
    window->Sensor->Sleep = [](uint32_t) {};
    page->Panel_Calibr_Check->SpinEdit_Check_Profiles->setValue(2);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    window->Start_Dir = dir.path();
    Connect();
    ShowPage();
    ConnectMotor();
    EXPECT_TRUE(page->Label_Motor_State->text().startsWith("Motor driver: connected"))
        << page->Label_Motor_State->text().toStdString();
    page->Button_Calibr_Workflow->click();
    EXPECT_TRUE(boxes.empty()) << boxes[0].text.toStdString();
    EXPECT_EQ(progress_titles.back(), "ProgressDialog_Calibrate");
    EXPECT_TRUE(page->Label_Calibr_Progress->text().contains("stored in FLASH with a certificate"))
        << page->Label_Calibr_Progress->text().toStdString();
    EXPECT_EQ(demo->sensor->Counters().table_saves, 1u);
    EXPECT_EQ(page->Panel_Calibr_Check->Label_Check_Verdict->text(), "Result: pass");
    std::string opened;
    page->OpenFile = [&](const std::string& path) { opened = path; };
    page->Button_Calibr_Certificate->click();
    EXPECT_TRUE(QFileInfo(QString::fromStdString(opened)).size() > 0) << opened;
    EXPECT_TRUE(opened.ends_with("/certificate.pdf"));

    // Restore: the list shows the entry; Send, then the save asks (not checked) and No stores nothing.
    QString listed;
    answer = [&](QDialog& dialog) {
        if (auto* list = dialog.findChild<QTableWidget*>("Table_Restore_Entries")) {
            listed = list->item(0, 1)->text() + " " + list->item(0, 4)->text();
            dialog.findChild<QPushButton*>("Button_Restore_Send")->click();
        }
    };
    page->Button_Calibr_Restore->click();
    EXPECT_TRUE(listed.startsWith("pass 20")) << listed.toStdString();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("has not been checked"));
    EXPECT_EQ(demo->sensor->Counters().table_saves, 1u);
    boxes.clear();

    // Stop during a run keeps the steps so far; Transmitt table asks, and No sends nothing.
    page->Button_Calibration->click();
    ASSERT_TRUE(WaitFor(
        [&] {
            const int k = page->Calibration->Calibr_Step_Index;
            return page->Calibr_Run->Tag == CALIBR_TAG_CAPTURE && k >= 20 && k < 400;
        },
        10000));
    EXPECT_EQ(page->Button_Calibration->text(), "Stop");
    page->Button_Calibration->click();
    EXPECT_FALSE(page->Timer_Motor->isActive());
    EXPECT_TRUE(page->Label_Calibr_Progress->text().contains("marked partial"));
    progress_titles.clear();
    page->Button_TABLE_Trans->click();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("of 500 steps of a run"));
    EXPECT_TRUE(progress_titles.empty());
}

// "Check calibration": the stage carries the target through the range again and the figures
// judge the table the sensor holds; a wrong table fails on its figure; Cancel stops after the
// move under way and judges nothing.
TEST_F(CalibrationPage, CheckCalibrationJudgesTheSensorsTableAndWritesItsReport) {
    TCalibrationCheck* check = window->Page_Calibration->Panel_Calibr_Check;
    ASSERT_NE(check, nullptr);
    check->Sleep = [](uint32_t) {};
    ShowPage();
    check->Button_Calibr_Check->click();
    EXPECT_EQ(check->Label_Check_Verdict->text(), "Connect the sensor and the motor driver first.");
    EXPECT_TRUE(progress_titles.empty());

    Connect();
    ShowPage();
    ConnectMotor();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    window->Start_Dir = dir.path();
    check->SpinEdit_Check_Profiles->setValue(3);
    QTest::mouseClick(check->Button_Calibr_Check, Qt::LeftButton);
    EXPECT_EQ(progress_titles, std::vector<QString>{"ProgressDialog_Check"});
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back().label, "Checking the calibration: position 21 of 21");
    EXPECT_TRUE(progress.back().modal);
    EXPECT_EQ(check->Label_Check_Verdict->text(), "Result: pass");
    EXPECT_TRUE(check->Label_Check_Figures->text().startsWith("Z linearity: "));
    EXPECT_EQ(check->Series_Check_Residual->dataCount(), 21);
    EXPECT_EQ(window->Sensor_Result, 0u);
    const QString report = QString::fromStdString(check->LastReport());
    EXPECT_TRUE(report.startsWith(dir.path() + "/DataFiles/verify-")) << report.toStdString();
    EXPECT_TRUE(QFileInfo::exists(report));
    EXPECT_TRUE(QFileInfo::exists(QString(report).replace(".json", ".csv")));
    // The map beside the residual chart, and as a picture in the report.
    EXPECT_TRUE(check->Image_Check_Map->HasMap());
    EXPECT_EQ(window->Page_Calibration->PageControl_Calibr_View->currentWidget(), check->Panel_Check_Results);
    EXPECT_FALSE(QImage(QString(report).replace(".json", "-map.png")).isNull());

    // Z 2 % too large in the sensor's table: the scale fails, and a second report is kept.
    std::vector<uint16_t> table = demo->sensor->FactoryTable().Cells();
    for (size_t i = 0; i < table.size() / 2; ++i) {
        const int v = table[i] & 0x2000 ? int(table[i]) - 0x4000 : int(table[i]);
        table[i] = static_cast<uint16_t>(std::lround(v * 1.02)) & 0x3FFF;
    }
    ASSERT_EQ(window->Sensor->TransmitTable(table.data(), static_cast<uint32_t>(table.size())), 0u);
    check->Button_Calibr_Check->click();
    EXPECT_TRUE(
        check->Label_Check_Verdict->text().startsWith("Result: fail (Z scale error, Z field error at X "));
    EXPECT_NEAR(check->LastOutcome().result.figures.z_scale_pct, 2.0, 0.2);
    EXPECT_NE(QString::fromStdString(check->LastReport()), report);
    EXPECT_EQ(QDir(dir.path() + "/DataFiles").entryList(QDir::Files).size(), 8);

    // Cancel at the fifth position: the run stops once that move is over.
    window->ShowProgress = [](QProgressDialog& dialog) {
        dialog.show();
        auto* bar = dialog.findChild<QProgressBar*>();
        QObject::connect(bar, &QProgressBar::valueChanged, &dialog, [&dialog](int value) {
            if (value == 4)
                dialog.cancel();
        });
    };
    check->Button_Calibr_Check->click();
    EXPECT_TRUE(check->LastOutcome().cancelled);
    EXPECT_EQ(check->LastOutcome().completed, 4u);
    EXPECT_TRUE(check->Label_Check_Verdict->text().startsWith("Check cancelled after 4 of 21 positions"));
    EXPECT_EQ(QDir(dir.path() + "/DataFiles").entryList(QDir::Files).size(), 8);
    EXPECT_FALSE(demo->stage->IsMoving());
    EXPECT_EQ(window->Sensor_Result, 0u);
}
