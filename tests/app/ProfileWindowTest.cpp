// The RESULT page against the virtual sensor, offscreen: the measurement tick and its chart,
// "Collect", "Axis Reverse", "Auto", and the profile text file with its failure box. Ticks
// are driven by calling the timer's handler, so every assertion sees one known reply.

#include "WindowFixture.h"
#include "app/DensityPlottable.h"
#include "app/PointCloudPlottable.h"
#include "cli/Cli.h"
#include "view/ProfileFile.h"

#include <QCheckBox>
#include <QDir>
#include <QSpinBox>
#include <QTabBar>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zq455;
using namespace zq455::test;
namespace fs = std::filesystem;

namespace {

constexpr QRgb RED = 0xFFFF0000;
constexpr QRgb GREEN = 0xFF008000;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

size_t CountLines(const std::string& text) {
    size_t lines = 0;
    for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2)
        ++lines;
    return lines;
}

class ProfileWindow : public SetupWindow {
protected:
    void SetUp() override {
        SetupWindow::SetUp();
        folder =
            fs::temp_directory_path() / ("zq455-profile-window-" + std::to_string(::getpid()) + "-" +
                                         ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder);
        fs::create_directories(folder);
        // The window's start folder is the working folder; a save must not make DataFiles there.
        window->Start_Dir = QString::fromStdString(folder.string());
    }
    void TearDown() override {
        SetupWindow::TearDown();
        fs::remove_all(folder);
    }

    void Tick() {
        window->Timer_ResultTimer();
        ASSERT_EQ(window->Sensor_Result, 0u);
    }

    void SetUser(unsigned index, uint16_t value) {
        TSensorStore store = demo->sensor->Store();
        store.working.factory[USER_FIRST_FACTORY + index] = value;
        demo->sensor->SetStore(store);
    }

    size_t Points() const { return window->Series_Result_Oscilloscope->PointCount(); }
    size_t MarkerPoints(QCPGraph* series) const { return static_cast<size_t>(series->dataCount()); }

    // Saves through the menu with the dialog answering `name` (empty: cancel).
    void Save(const QString& name) {
        window->SaveDialogData->Run = [this, name](TFileDialog& dialog) {
            dialog_seen = {dialog.Filter, dialog.DefaultExt, dialog.InitialDir, dialog.FilterIndex};
            folder_existed = QDir(dialog.InitialDir).exists();
            if (during_dialog)
                during_dialog();
            dialog.FileName = name;
            return !name.isEmpty();
        };
        window->MenuItem4->trigger();
    }

    // Mean row of the red pixels the chart shows now (its paint buffers as the last replot
    // left them).
    double MeanRedRow() {
        const QImage image = window->Chart_Result_Oscilloscope->grab().toImage();
        double sum = 0;
        long count = 0;
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QColor c = image.pixelColor(x, y);
                if (c.red() > 200 && c.green() < 60 && c.blue() < 60) {
                    sum += y;
                    ++count;
                }
            }
        EXPECT_GT(count, 100);
        return count ? sum / count : 0;
    }

    fs::path folder;
    struct TDialogSeen {
        QString Filter, DefaultExt, InitialDir;
        int FilterIndex = 0;
    } dialog_seen;
    bool folder_existed = false;
    std::function<void()> during_dialog;
};

} // namespace

TEST_F(ProfileWindow, MeasuringDrawsTheProfileWithMarkersRedAtLevelZeroAndGreenWhenRaised) {
    Connect();
    window->Button_Get_Result->click();
    const uint32_t before = demo->sensor->Counters().answered;
    ASSERT_TRUE(
        WaitFor([&] { return demo->sensor->Counters().answered >= before + 3 && Points() > 0; }, 3000));
    window->Button_Get_Result->click();
    EXPECT_FALSE(window->Timer_Result->isActive());
    EXPECT_TRUE(window->PageControl_Interface->isEnabled());

    // 1024 pairs by default; pair 0 is not used and a few points lie in the step's shadow.
    EXPECT_EQ(window->Result_Pair_Count, 1024);
    const TProfileTick& tick = window->Profile_Tick;
    ASSERT_EQ(Points(), tick.points.size());
    EXPECT_GT(Points(), 950u);
    EXPECT_LT(Points(), 1024u);
    const auto& drawn = window->Series_Result_Oscilloscope->Points();
    for (size_t k = 0; k < drawn.size(); ++k) {
        ASSERT_EQ(drawn[k].colour, RED) << k;
        ASSERT_FLOAT_EQ(static_cast<float>(drawn[k].key), tick.points[k].x);
        ASSERT_FLOAT_EQ(static_cast<float>(drawn[k].value), tick.points[k].z);
        // The kept profile holds each point at the place of its pair.
        ASSERT_FLOAT_EQ(window->Result_Profile[tick.point_pairs[k] - 1].z, tick.points[k].z);
    }
    // X0 = 0, dX = 1: the edges half a millimetre either side, on the plane at 20 mm, as
    // yellow segments 0.2 x RZ = 10 mm long.
    for (QCPGraph* marker : {window->Series1, window->Series2}) {
        ASSERT_EQ(MarkerPoints(marker), 2u);
        EXPECT_EQ(marker->pen().color(), QColor(255, 255, 0));
        const double key = marker->data()->at(0)->key;
        EXPECT_NEAR(std::fabs(key), 0.5, 0.1);
        EXPECT_EQ(marker->data()->at(1)->key, key);
        EXPECT_NEAR(std::fabs(marker->data()->at(1)->value - marker->data()->at(0)->value), 10.0, 1e-3);
        EXPECT_NEAR((marker->data()->at(0)->value + marker->data()->at(1)->value) / 2, 20.0, 0.2);
    }
    EXPECT_LT(window->Series1->data()->at(0)->key, 0);

    // The plane's tilt and noise span some tens of micrometres around X0: a level of 1 mm
    // is not reached.
    window->CSpinEditLevel->setValue(1000);
    Tick();
    for (const auto& p : window->Series_Result_Oscilloscope->Points())
        ASSERT_EQ(p.colour, GREEN);

    // "Auto" centres on the first point of smallest Z: the low end of the tilted plane.
    window->CheckBoxAuto->click();
    EXPECT_TRUE(window->Result_Auto);
    Tick();
    const auto& points = window->Profile_Tick.points;
    const auto lowest =
        std::min_element(points.begin(), points.end(),
                         [](const TProfilePoint& a, const TProfilePoint& b) { return a.z < b.z; });
    EXPECT_EQ(window->Profile_Tick.centre, static_cast<unsigned>(lowest - points.begin()));
    // The plane rises 21.5 um per mm and scatters by 25 um: the left two millimetres.
    EXPECT_LT(points[window->Profile_Tick.centre].x, -2.0f);
    window->CheckBoxAuto->click();
    EXPECT_FALSE(window->Result_Auto);
}

TEST_F(ProfileWindow, CollectGathersEveryProfileIntoADensityAndClearEmptiesChartAndProfile) {
    Connect();
    Tick();
    const TDensityRaster& density = window->Density_Result_Oscilloscope->Raster();
    EXPECT_TRUE(density.Empty()); // not collecting yet
    window->Collect1->trigger();
    ASSERT_TRUE(window->Collect1->isChecked());
    window->CSpinEditLevel->setValue(100000);
    Tick();
    const size_t first = window->Profile_Tick.points.size();
    ASSERT_GT(first, 900u);
    EXPECT_EQ(density.TotalHits(), first); // every point lies in the chart's ranges
    Tick();
    EXPECT_EQ(density.TotalHits(), first + window->Profile_Tick.points.size());
    // A cell per pixel of the plot area, over the chart's ranges.
    const QRect area = window->Chart_Result_Oscilloscope->axisRect()->rect();
    EXPECT_EQ(density.Columns(), static_cast<uint32_t>(area.width()));
    EXPECT_EQ(density.Rows(), static_cast<uint32_t>(area.height()));
    EXPECT_EQ(density.ZHigh(), window->Chart_Result_Oscilloscope->yAxis->range().upper);
    // The point series and the markers are the current profile's, in its colour.
    EXPECT_EQ(Points(), window->Profile_Tick.points.size());
    EXPECT_EQ(window->Series_Result_Oscilloscope->Points().front().colour, GREEN);
    EXPECT_EQ(MarkerPoints(window->Series1), 2u);
    EXPECT_EQ(MarkerPoints(window->Series2), 2u);

    // "Clear" empties the density, the chart and the kept profile; the pair count stays.
    window->MenuItem5->trigger();
    EXPECT_TRUE(density.Empty());
    EXPECT_EQ(Points(), 0u);
    for (const TProfilePoint& p : window->Result_Profile)
        ASSERT_TRUE(p.x == 0 && p.z == 0);
    EXPECT_EQ(window->Result_Pair_Count, 1024);
    Tick();
    Tick();
    EXPECT_GT(density.TotalHits(), window->Profile_Tick.points.size());

    // Unticked, the next tick empties the density and shows its own profile alone.
    window->Collect1->trigger();
    EXPECT_FALSE(window->Collect1->isChecked());
    Tick();
    EXPECT_TRUE(density.Empty());
    EXPECT_EQ(Points(), window->Profile_Tick.points.size());
}

TEST_F(ProfileWindow, TheDensityIsDrawnUnderTheProfileAndAxisReverseFlipsIt) {
    Connect();
    QCustomPlot* chart = window->Chart_Result_Oscilloscope;
    EXPECT_EQ(chart->plottable(0), window->Density_Result_Oscilloscope); // drawn first, underneath
    window->Collect1->trigger();
    for (int k = 0; k < 5; ++k)
        Tick();
    // The density alone on the picture: the current profile and its markers hidden.
    for (QCPAbstractPlottable* layer : {static_cast<QCPAbstractPlottable*>(window->Series_Result_Oscilloscope),
                                        static_cast<QCPAbstractPlottable*>(window->Series1),
                                        static_cast<QCPAbstractPlottable*>(window->Series2)})
        layer->setVisible(false);
    // A point of the step's top, well above the middle of the Z range.
    const TProfilePoint* high = nullptr;
    for (const TProfilePoint& p : window->Profile_Tick.points)
        if (!high || p.z > high->z)
            high = &p;
    ASSERT_NE(high, nullptr);
    const QColor background(16, 16, 16);
    auto colour_at = [&](double x, double z) {
        chart->replot();
        const QImage picture = chart->toPixmap(chart->width(), chart->height(), 1.0).toImage();
        return QColor(picture.pixel(int(chart->xAxis->coordToPixel(x)), int(chart->yAxis->coordToPixel(z))));
    };
    const int upright_y = int(chart->yAxis->coordToPixel(high->z));
    EXPECT_NE(colour_at(high->x, high->z), background);
    window->CheckBoxReverse->click();
    ASSERT_TRUE(chart->yAxis->rangeReversed());
    EXPECT_NE(colour_at(high->x, high->z), background); // the density went with the axis
    const QImage flipped = chart->toPixmap(chart->width(), chart->height(), 1.0).toImage();
    EXPECT_EQ(QColor(flipped.pixel(int(chart->xAxis->coordToPixel(high->x)), upright_y)), background);
}

TEST_F(ProfileWindow, WhileMeasuringTheChartMenuWorksAndOnlyThePageTabsAreLocked) {
    Connect();
    window->Start_Dir = QString::fromStdString(folder.string());
    QTest::mouseClick(window->Button_Get_Result, Qt::LeftButton);
    ASSERT_TRUE(window->Timer_Result->isActive());
    ASSERT_TRUE(WaitFor([&] { return Points() > 0; }, 2000));
    EXPECT_TRUE(window->PagesLocked());
    EXPECT_TRUE(window->Chart_Result_Oscilloscope->isEnabled());
    // A click on the VIDEO tab does not change the page.
    QTabBar* tabs = window->PageControl_Interface->tabBar();
    QTest::mouseClick(tabs, Qt::LeftButton, {}, tabs->tabRect(1).center());
    EXPECT_EQ(window->PageControl_Interface->currentWidget(), window->TabSheet_Result);

    // The chart's menu opens on a right click while the timer runs.
    QCustomPlot* chart = window->Chart_Result_Oscilloscope;
    const QPoint at = chart->rect().center();
    QContextMenuEvent right_click(QContextMenuEvent::Mouse, at, chart->mapToGlobal(at));
    QApplication::sendEvent(chart, &right_click);
    EXPECT_TRUE(window->PopupMenu_Save_Data->isVisible());
    window->PopupMenu_Save_Data->hide();

    // "Collect" while measuring gathers, and unticked it is empty after the next tick.
    window->Collect1->trigger();
    const TDensityRaster& density = window->Density_Result_Oscilloscope->Raster();
    ASSERT_TRUE(WaitFor([&] { return density.TotalHits() > 2 * window->Profile_Tick.points.size(); }, 2000));
    window->Collect1->trigger();
    ASSERT_TRUE(WaitFor([&] { return density.Empty(); }, 1000));

    // "Save to file" while ticks go on behind the dialog: the file holds the profile current
    // when the dialog closed.
    const uint32_t at_open = demo->sensor->Counters().answered;
    std::string when_opened;
    during_dialog = [&] {
        when_opened = FormatProfileText(window->Result_Profile, window->Result_Pair_Count);
        WaitFor([&] { return demo->sensor->Counters().answered > at_open + 3; }, 2000);
    };
    Save(QString::fromStdString((folder / "live.txt").string()));
    const std::string expected = FormatProfileText(window->Result_Profile, window->Result_Pair_Count);
    EXPECT_NE(expected, when_opened); // the scene's noise moved the profile meanwhile
    QTest::mouseClick(window->Button_Get_Result, Qt::LeftButton);
    EXPECT_FALSE(window->PagesLocked());
    EXPECT_EQ(ReadAll(folder / "live.txt"), expected);
    EXPECT_GT(demo->sensor->Counters().answered, at_open + 3);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ProfileWindow, AFailedTickLeavesChartAndProfileUntouched) {
    Connect();
    Tick();
    const auto drawn = window->Series_Result_Oscilloscope->Points();
    const auto profile = window->Result_Profile;
    const double marker_key = window->Series1->data()->at(0)->key;
    SetUser(USER_RESULT_LENGTH, 0); // a success would now bring 128 pairs

    demo->sensor->InjectFault(TSensorFault::WRONG_CHECKSUM, TFaultMode::EVERY_REPLY);
    window->Timer_ResultTimer();
    EXPECT_EQ(window->Sensor_Result, 8u);
    EXPECT_EQ(window->Result_Pair_Count, 1024);
    EXPECT_EQ(std::memcmp(profile.data(), window->Result_Profile.data(), sizeof profile), 0);
    ASSERT_EQ(window->Series_Result_Oscilloscope->Points().size(), drawn.size());
    EXPECT_EQ(std::memcmp(drawn.data(), window->Series_Result_Oscilloscope->Points().data(),
                          drawn.size() * sizeof drawn[0]),
              0);
    ASSERT_EQ(MarkerPoints(window->Series1), 2u);
    EXPECT_EQ(window->Series1->data()->at(0)->key, marker_key);

    // The next good reply replaces both, and the code the monitor has not shown yet.
    demo->sensor->ClearFaults();
    Tick();
    EXPECT_EQ(window->Result_Pair_Count, 128);
    EXPECT_LT(Points(), 128u);
}

TEST_F(ProfileWindow, AxisReverseFlipsTheDrawnPointsAtOnceWhileStopped) {
    Connect();
    window->CSpinEditLevel->setValue(0);
    Tick();
    ASSERT_FALSE(window->Timer_Result->isActive());
    const QRect area = window->Chart_Result_Oscilloscope->axisRect()->rect();
    const double upright = MeanRedRow();
    EXPECT_GT(upright, area.center().y()); // Z about 20 of 52.5 mm: the lower half

    window->CheckBoxReverse->click(); // no tick and no event loop in between
    EXPECT_TRUE(window->Chart_Result_Oscilloscope->yAxis->rangeReversed());
    const double reversed = MeanRedRow();
    // Mirrored about the middle of the plot area, within the pixel rounding of a 2-pixel point.
    EXPECT_NEAR(reversed, area.top() + area.bottom() - upright, 3.0);

    window->CheckBoxReverse->click();
    EXPECT_FALSE(window->Chart_Result_Oscilloscope->yAxis->rangeReversed());
    EXPECT_NEAR(MeanRedRow(), upright, 0.5);
}

TEST_F(ProfileWindow, SaveToFileWritesTheProfileCurrentWhenTheDialogClosesIntoDataFiles) {
    window->Start_Dir = QString::fromStdString(folder.string());
    Connect();
    Tick();
    // Measuring goes on while the dialog is open: the file gets the profile of the last tick.
    std::array<TProfilePoint, PROFILE_CAPACITY> at_close{};
    during_dialog = [&] {
        SetUser(USER_RESULT_LENGTH, 1); // 256 pairs
        window->Timer_ResultTimer();
        at_close = window->Result_Profile;
    };
    const fs::path file = folder / "DataFiles" / "profile.txt";
    Save(QString::fromStdString(file.string()));
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(dialog_seen.Filter, "All files(*.*)|*.*|Text files(*.txt)|*.txt");
    EXPECT_EQ(dialog_seen.FilterIndex, 2);
    EXPECT_EQ(dialog_seen.DefaultExt, "txt");
    EXPECT_EQ(dialog_seen.InitialDir, QString::fromStdString((folder / "DataFiles").string()));
    EXPECT_TRUE(folder_existed); // made before the dialog opened

    const std::string text = ReadAll(file);
    EXPECT_EQ(CountLines(text), 257u);
    EXPECT_EQ(text, FormatProfileText(at_close, 256));
    EXPECT_TRUE(text.starts_with("N         X                   Z\r\n"));
    EXPECT_TRUE(text.ends_with("256       0.00                0.00\r\n"));
    // A point's row: its pair number, X from column 11, Z from column 31.
    const TProfileTick& tick = window->Profile_Tick;
    const std::string row = std::to_string(tick.point_pairs[5]);
    const std::string line = row + std::string(10 - row.size(), ' ') + FormatProfileValue(tick.points[5].x);
    EXPECT_NE(text.find("\r\n" + line + std::string(30 - line.size(), ' ') +
                        FormatProfileValue(tick.points[5].z) + "\r\n"),
              std::string::npos);
    during_dialog = nullptr;

    // Cancel writes nothing.
    fs::remove(file);
    Save("");
    EXPECT_FALSE(fs::exists(file));
    // A start folder whose parent is missing: the dialog opens all the same, without DataFiles.
    window->Start_Dir = QString::fromStdString((folder / "gone" / "deeper").string());
    Save("");
    EXPECT_FALSE(folder_existed);
    EXPECT_FALSE(fs::exists(folder / "gone"));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(ProfileWindow, AFailingSaveShowsABoxNamingTheFileAndClaimsNothing) {
    window->Start_Dir = QString::fromStdString(folder.string());
    Connect();
    Tick();
    const fs::path missing = folder / "no-such-folder" / "profile.txt";
    Save(QString::fromStdString(missing.string()));
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, APPLICATION_TITLE);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].text.contains(QString::fromStdString(missing.string())));
    EXPECT_TRUE(boxes[0].text.contains("No such file or directory"));
    EXPECT_FALSE(fs::exists(missing));

    // A name that is taken by a folder: the folder stays, and no partial file is left beside it.
    const fs::path taken = folder / "DataFiles" / "taken.txt";
    fs::create_directories(taken / "inside");
    Save(QString::fromStdString(taken.string()));
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_TRUE(boxes[1].text.contains("taken.txt"));
    EXPECT_TRUE(fs::is_directory(taken / "inside"));
    for (const auto& entry : fs::directory_iterator(folder / "DataFiles"))
        EXPECT_EQ(entry.path().filename(), "taken.txt");
}

TEST_F(ProfileWindow, LongRepliesUseTheFirst1024PairsAndSensorOffDrawsNothing) {
    window->Start_Dir = QString::fromStdString(folder.string());
    Connect();
    SetUser(USER_RESULT_LENGTH, 4); // 2048 pairs: more than the profile holds
    Tick();
    EXPECT_EQ(window->Result_Pair_Count, 2048);
    EXPECT_LE(Points(), 1024u);
    EXPECT_LE(window->Profile_Tick.point_pairs.back(), 1024);
    // The 1024 pairs used cover the left half of the camera: X stays below the middle.
    EXPECT_LT(window->Profile_Tick.points.back().x, 1.0f);
    const fs::path file = folder / "long.txt";
    Save(QString::fromStdString(file.string()));
    const std::string text = ReadAll(file);
    EXPECT_EQ(CountLines(text), 1025u);
    EXPECT_NE(text.find("\r\n1024      "), std::string::npos);
    EXPECT_EQ(text.find("\r\n1025      "), std::string::npos);

    // "Sensor On/Off" off: an empty reply clears the points and the markers.
    SetUser(USER_SENSOR_ON_OFF, 0);
    Tick();
    EXPECT_EQ(window->Result_Pair_Count, 0);
    EXPECT_EQ(Points(), 0u);
    EXPECT_EQ(MarkerPoints(window->Series1), 0u);
    EXPECT_EQ(MarkerPoints(window->Series2), 0u);
}

TEST_F(ProfileWindow, TheCommandLineToolWritesTheSameFileAsTheWindow) {
    TScene still;
    still.noise_mm = 0; // both read the same profile
    demo->sensor->SetScene(still);
    Connect();
    Tick();
    const fs::path from_window = folder / "window.txt";
    Save(QString::fromStdString(from_window.string()));
    ASSERT_TRUE(boxes.empty());
    window->Button_Connect->click(); // the port serves one program at a time

    std::ostringstream out, err;
    cli::TCliEnvironment environment{&out, &err};
    const fs::path from_tool = folder / "tool.txt";
    ASSERT_EQ(cli::RunCli({"--port", demo->sensor->SlavePath(), "profile", "--txt", from_tool.string()},
                          environment),
              0)
        << err.str();
    const std::string window_bytes = ReadAll(from_window);
    EXPECT_EQ(CountLines(window_bytes), 1025u);
    EXPECT_EQ(ReadAll(from_tool), window_bytes);
}
