// Profile recordings on the RESULT page against the virtual sensor, offscreen: what the
// ticks draw goes to the file, the limits and Stop Measure / Disconnect / an error end it, a
// full disk stops it with a box, and a replay redraws each profile as it was drawn live.

#include "WindowFixture.h"
#include "app/PointCloudPlottable.h"
#include "app/ProfileRecordingPanel.h"

#include <QCheckBox>
#include <QSpinBox>
#include <QTemporaryDir>
#include <fstream>

using namespace zq455;
using namespace zq455::test;

namespace {

struct TDrawn {
    std::vector<TProfilePoint> points;
    std::vector<TProfilePoint> left_marker;
    bool over_level;
};

class RecordingWindow : public SetupWindow {
protected:
    void SetUp() override {
        SetupWindow::SetUp();
        ASSERT_TRUE(folder.isValid());
        window->Start_Dir = folder.path();
        answer = [this](QDialog& dialog) {
            if (auto* limits = dynamic_cast<TRecordLimitDialog*>(&dialog)) {
                limits->SpinEdit_Record_Profiles->setValue(limit_profiles);
                limits->SpinEdit_Record_Seconds->setValue(limit_seconds);
                limits->accept();
            }
        };
    }
    TProfileRecordingPanel& Panel() { return *window->Recording_Panel; }

    void Record(const QString& path) {
        Panel().SaveDialogRecording->Run = [this, path](TFileDialog& d) {
            dialog_folder = d.InitialDir;
            d.FileName = path;
            return true;
        };
        window->PopupMenu_Save_Data->popup(QPoint(0, 0)); // the menu sets its items' state on opening
        window->PopupMenu_Save_Data->hide();
        Panel().Record_Profiles->trigger();
    }
    void Replay(const QString& path) {
        Panel().OpenDialogRecording->Run = [path](TFileDialog& d) {
            d.FileName = path;
            return true;
        };
        Panel().Replay_Profiles->trigger();
    }
    TDrawn Tick() {
        window->Timer_ResultTimer();
        EXPECT_EQ(window->Sensor_Result, 0u);
        return Drawn();
    }
    TDrawn Drawn() {
        return {window->Profile_Tick.points, window->Profile_Tick.left_marker,
                window->Profile_Tick.over_level};
    }
    TRecording Read(const QString& path) {
        TRecording recording;
        std::string message;
        EXPECT_TRUE(ReadProfileRecording(path.toStdString(), recording, message)) << message;
        return recording;
    }

    QTemporaryDir folder;
    QString dialog_folder;
    int limit_profiles = 0;
    int limit_seconds = 0;
};

void ExpectSame(const TDrawn& a, const TDrawn& b) {
    ASSERT_EQ(a.points.size(), b.points.size());
    for (size_t k = 0; k < a.points.size(); ++k) {
        ASSERT_EQ(a.points[k].x, b.points[k].x) << k; // bit for bit: the replay rebuilt the reply
        ASSERT_EQ(a.points[k].z, b.points[k].z) << k;
    }
    ASSERT_EQ(a.left_marker.size(), b.left_marker.size());
    for (size_t k = 0; k < a.left_marker.size(); ++k)
        EXPECT_EQ(a.left_marker[k].z, b.left_marker[k].z);
    EXPECT_EQ(a.over_level, b.over_level);
}

} // namespace

TEST_F(RecordingWindow, TheFileHoldsWhatTheTicksDrewAndACountLimitStopsIt) {
    Connect();
    limit_profiles = 3;
    const QString path = folder.path() + "/run.csv";
    Record(path);
    EXPECT_EQ(dialog_folder, folder.path() + "/DataFiles");
    ASSERT_TRUE(Panel().Recording());
    std::vector<TDrawn> drawn;
    for (int k = 0; k < 4; ++k)
        drawn.push_back(Tick());
    EXPECT_FALSE(Panel().Recording()); // stopped by itself after three
    const TRecording recording = Read(path);
    ASSERT_EQ(recording.profiles.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        const TRecordedProfile& p = recording.profiles[k];
        ASSERT_EQ(p.points.size(), drawn[k].points.size());
        for (size_t j = 0; j < p.points.size(); ++j)
            ASSERT_NEAR(p.points[j].x, drawn[k].points[j].x, 0.0005);
    }
    EXPECT_EQ(RecordingControls(recording).range_z, window->Device_Identity[IDENTITY_RANGE_Z]);
    EXPECT_TRUE(Panel().Label_Recording->text().startsWith("Recorded 3 profiles"))
        << Panel().Label_Recording->text().toStdString();
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RecordingWindow, StopMeasureDisconnectAndAnErrorResetEachCloseAReadableFile) {
    Connect();
    const QString path = folder.path() + "/stop.csv";
    // Stop Measure.
    Record(path);
    window->Button_Get_Result->click();
    ASSERT_TRUE(WaitFor([&] { return Read(path).profiles.size() >= 2; }, 3000));
    window->Button_Get_Result->click();
    EXPECT_FALSE(Panel().Recording());
    const size_t kept = Read(path).profiles.size();
    EXPECT_GE(kept, 2u);
    // Disconnect.
    Record(path);
    Tick();
    window->Button_Connect->click();
    EXPECT_FALSE(Panel().Recording());
    EXPECT_EQ(Read(path).profiles.size(), 1u);
    // An error: the monitor's reset ends it.
    Connect();
    Record(path);
    Tick();
    demo->sensor->InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY); // the tick asks twice
    window->Timer_ResultTimer();
    EXPECT_EQ(window->Sensor_Result, 3u);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_FALSE(Panel().Recording());
    EXPECT_EQ(Read(path).profiles.size(), 1u);
}

TEST_F(RecordingWindow, AFullDiskStopsTheRecordingWithABoxNamingTheFile) {
    if (!QFile::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full on this machine";
    Connect();
    Record("/dev/full");
    EXPECT_FALSE(Panel().Recording());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_TRUE(boxes[0].text.contains("/dev/full")) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains("No space left on device")) << boxes[0].text.toStdString();
    Tick(); // measuring goes on without it
    EXPECT_EQ(window->Sensor_Result, 0u);
}

TEST_F(RecordingWindow, StepwiseReplayRedrawsEachProfileAsDrawnLiveWithoutASensor) {
    Connect();
    const QString path = folder.path() + "/replay.csv";
    window->CSpinEditLevel->setValue(60);
    Record(path);
    std::vector<TDrawn> drawn;
    for (int k = 0; k < 3; ++k)
        drawn.push_back(Tick());
    Panel().StopRecording();
    window->Button_Connect->click(); // no sensor needed from here
    demo.reset();
    window->CSpinEditLevel->setValue(0);

    Replay(path);
    ASSERT_TRUE(Panel().Replaying());
    EXPECT_EQ(window->CSpinEditLevel->value(), 60); // the settings seen live
    ExpectSame(Drawn(), drawn[0]);
    EXPECT_EQ(window->Series_Result_Oscilloscope->PointCount(), drawn[0].points.size());
    EXPECT_TRUE(Panel().Label_Recording->text().contains("profile 1 of 3"))
        << Panel().Label_Recording->text().toStdString();
    QTest::mouseClick(Panel().Button_Replay_Next, Qt::LeftButton);
    ExpectSame(Drawn(), drawn[1]);
    QTest::keyClick(&Panel(), Qt::Key_Right);
    ExpectSame(Drawn(), drawn[2]);
    QTest::mouseClick(Panel().Button_Replay_Next, Qt::LeftButton); // past the end: stays
    ExpectSame(Drawn(), drawn[2]);
    QTest::keyClick(&Panel(), Qt::Key_Left);
    ExpectSame(Drawn(), drawn[1]);
    QTest::mouseClick(Panel().Button_Replay_Close, Qt::LeftButton);
    EXPECT_FALSE(Panel().Replaying());
    EXPECT_TRUE(boxes.empty());
}

TEST_F(RecordingWindow, ReplayAtPaceAdvancesByItselfAndStartMeasureEndsIt) {
    Connect();
    const QString path = folder.path() + "/pace.csv";
    std::ofstream(path.toStdString())
        << "# ZQ455 profile recording; test; range_z=50; range_xemr=10; level_um=0; "
           "dx_mm=1; x0_mm=0; auto=0\n"
           "index,time_ms,n,x_mm,z_mm\n"
           "0,0,1,-1.000,20.000\n0,0,2,1.000,20.000\n"
           "1,100,1,-1.000,21.000\n1,100,2,1.000,21.000\n"
           "2,200,1,-1.000,22.000\n2,200,2,1.000,22.000\n";
    Replay(path);
    ASSERT_TRUE(Panel().Replaying());
    QTest::mouseClick(Panel().Button_Replay_Play, Qt::LeftButton);
    EXPECT_EQ(Panel().Button_Replay_Play->text(), "Pause");
    ASSERT_TRUE(WaitFor([&] { return Panel().ReplayIndex() == 2; }, 2000));
    EXPECT_NEAR(window->Profile_Tick.points[0].z, 22.0f, 50.0 / 4096); // the nearest value a reply holds
    EXPECT_EQ(Panel().Button_Replay_Play->text(), "Play");
    window->Button_Get_Result->click();
    EXPECT_FALSE(Panel().Replaying());
    EXPECT_TRUE(window->Timer_Result->isActive());
    window->Button_Get_Result->click();
}

TEST_F(RecordingWindow, AFileThatIsNoRecordingIsRefusedByLineAndTheChartStays) {
    Connect();
    const TDrawn before = Tick();
    const QString path = folder.path() + "/bad.csv";
    std::ofstream(path.toStdString()) << "# ZQ455 profile recording; test; range_z=50; range_xemr=10\n"
                                         "index,time_ms,n,x_mm,z_mm\n"
                                         "0,0,1,-1.000,20.000\n"
                                         "0,zero,2,1.000,20.000\n";
    Replay(path);
    EXPECT_FALSE(Panel().Replaying());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains(path)) << boxes[0].text.toStdString();
    EXPECT_TRUE(boxes[0].text.contains("line 4")) << boxes[0].text.toStdString();
    ExpectSame(Drawn(), before);
    // A point no reply of the recording's ranges could hold (Z of 60 mm in a 50 mm range x 2).
    std::ofstream(path.toStdString()) << "# ZQ455 profile recording; test; range_z=50; range_xemr=10\n"
                                         "index,time_ms,n,x_mm,z_mm\n"
                                         "0,0,1,-1.000,120.000\n";
    boxes.clear();
    Replay(path);
    EXPECT_FALSE(Panel().Replaying());
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(boxes[0].text.contains("outside")) << boxes[0].text.toStdString();
}
