#include "ProfileRecordingPanel.h"

#include "Main.h"
#include "WidgetMaking.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <qcustomplot.h>

namespace zq455 {

namespace {

constexpr const char* RECORDING_FILTER = "Profile recordings(*.csv)|*.csv|All files(*.*)|*.*";

QString FileName(const std::string& path) {
    return QFileInfo(QString::fromStdString(path)).fileName();
}

} // namespace

TRecordLimitDialog::TRecordLimitDialog(QWidget* parent) : QDialog(parent) {
    setObjectName("Form_Record_Limit");
    setWindowTitle("Record profiles");
    SpinEdit_Record_Profiles = Named(new QSpinBox(this), "SpinEdit_Record_Profiles");
    SpinEdit_Record_Profiles->setRange(0, 10000000);
    SpinEdit_Record_Seconds = Named(new QSpinBox(this), "SpinEdit_Record_Seconds");
    SpinEdit_Record_Seconds->setRange(0, 86400);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QFormLayout(this);
    layout->addRow(new QLabel("Record until stopped, or stop by itself after (0 = no limit):", this));
    layout->addRow("Profiles:", SpinEdit_Record_Profiles);
    layout->addRow("Seconds:", SpinEdit_Record_Seconds);
    layout->addRow(buttons);
}

TProfileRecordingPanel::TProfileRecordingPanel(TForm_Main& form) : QFrame(form.TabSheet_Result), Form(form) {
    setObjectName("Panel_Recording");
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed); // one line under the chart
    SaveDialogRecording = std::make_unique<TFileDialog>(&form, true);
    OpenDialogRecording = std::make_unique<TFileDialog>(&form, false);
    for (TFileDialog* dialog : {SaveDialogRecording.get(), OpenDialogRecording.get()}) {
        dialog->Filter = RECORDING_FILTER;
        dialog->DefaultExt = "csv";
    }
    Label_Recording = Named(new QLabel(this), "Label_Recording");
    auto button = [this](const char* name, const char* caption) {
        auto* b = Named(new QPushButton(caption, this), name);
        b->setFixedHeight(22);
        return b;
    };
    Button_Replay_Previous = button("Button_Replay_Previous", "Previous");
    Button_Replay_Play = button("Button_Replay_Play", "Play");
    Button_Replay_Next = button("Button_Replay_Next", "Next");
    Button_Replay_Close = button("Button_Replay_Close", "Close");
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(6, 2, 6, 2);
    layout->addWidget(Label_Recording, 1);
    for (QPushButton* b :
         {Button_Replay_Previous, Button_Replay_Play, Button_Replay_Next, Button_Replay_Close})
        layout->addWidget(b);
    connect(Button_Replay_Previous, &QPushButton::clicked, this, [this] { StepReplay(-1); });
    connect(Button_Replay_Next, &QPushButton::clicked, this, [this] { StepReplay(1); });
    connect(Button_Replay_Play, &QPushButton::clicked, this, [this] { PlayClick(); });
    connect(Button_Replay_Close, &QPushButton::clicked, this, [this] { EndReplay(); });

    Timer_Replay = Named(new QTimer(this), "Timer_Replay");
    Timer_Replay->setSingleShot(true);
    connect(Timer_Replay, &QTimer::timeout, this, [this] {
        StepReplay(1);
        if (Replay_Index + 1 >= Replay.profiles.size())
            Button_Replay_Play->setText("Play"); // the end of the recording
    });

    QMenu* menu = Form.PopupMenu_Save_Data;
    MakeItem(menu, "Separator_Recording", "-");
    Record_Profiles = MakeItem(menu, "Record_Profiles", "Record...");
    Stop_Recording = MakeItem(menu, "Stop_Recording", "Stop recording");
    Replay_Profiles = MakeItem(menu, "Replay_Profiles", "Replay...");
    connect(Record_Profiles, &QAction::triggered, this, [this] { RecordClick(); });
    connect(Stop_Recording, &QAction::triggered, this, [this] { StopRecording(); });
    connect(Replay_Profiles, &QAction::triggered, this, [this] { ReplayClick(); });
    // What the menu offers follows the state when it opens.
    connect(menu, &QMenu::aboutToShow, this, [this] {
        Record_Profiles->setEnabled(Form.IsConnected() && !Recording());
        Stop_Recording->setEnabled(Recording());
        Stop_Recording->setText(Recording() ? QString("Stop recording (%1 profiles)").arg(Recorder.Profiles())
                                            : QString("Stop recording"));
        Replay_Profiles->setEnabled(!Form.Timer_Result->isActive() && !Recording());
    });
    ShowState();
}

TProfileRecordingPanel::~TProfileRecordingPanel() = default;

void TProfileRecordingPanel::ShowState() {
    const bool replaying = Replaying();
    for (QPushButton* b :
         {Button_Replay_Previous, Button_Replay_Play, Button_Replay_Next, Button_Replay_Close})
        b->setVisible(replaying);
    if (Recording())
        Label_Recording->setText(
            QString("Recording to %1: %2 profiles").arg(FileName(Recorder.Path())).arg(Recorder.Profiles()));
    else if (replaying) {
        const TRecordedProfile& p = Replay.profiles[Replay_Index];
        Label_Recording->setText(QString("Replay of %1: profile %2 of %3, %4 s")
                                     .arg(QFileInfo(Replay_Path).fileName())
                                     .arg(Replay_Index + 1)
                                     .arg(Replay.profiles.size())
                                     .arg(p.time_ms / 1000.0, 0, 'f', 1));
    }
    setVisible(Recording() || replaying || !Label_Recording->text().isEmpty());
}

void TProfileRecordingPanel::RecordClick() {
    if (!Form.IsConnected() || Recording())
        return;
    EndReplay();
    TFileDialog& dialog = *SaveDialogRecording;
    dialog.InitialDir = Form.DataFolder();
    if (!dialog.Execute())
        return;
    TRecordLimitDialog limits(&Form);
    if (Form.ShowModal(limits) != QDialog::Accepted)
        return;
    Record_Limit_Profiles = static_cast<uint32_t>(limits.SpinEdit_Record_Profiles->value());
    Record_Limit_Seconds = static_cast<uint32_t>(limits.SpinEdit_Record_Seconds->value());

    const uint16_t* id = Form.Device_Identity;
    const std::string who =
        "device type " + std::to_string(id[IDENTITY_DEVICE_TYPE]) + ", serial number " +
        std::to_string(id[IDENTITY_SERIAL_LO] + (static_cast<uint32_t>(id[IDENTITY_SERIAL_HI]) << 16));
    TProfileControls controls;
    controls.auto_centre = Form.Result_Auto;
    controls.x0_mm = Form.CSpinEditX->value();
    controls.dx_mm = Form.CSpinEdit1->value();
    controls.level_um = Form.CSpinEditLevel->value();
    controls.range_z = id[IDENTITY_RANGE_Z];
    controls.range_xemr = id[IDENTITY_RANGE_XEMR];
    if (!Recorder.Open(QFile::encodeName(dialog.FileName).toStdString(), RecordingComment(who, controls))) {
        Stopped(QString::fromStdString(Recorder.Error()));
        return;
    }
    Record_Clock.start();
    ShowState();
}

void TProfileRecordingPanel::OnProfile(const TProfileTick& tick) {
    if (!Recording())
        return;
    const auto ms = static_cast<uint32_t>(Record_Clock.elapsed());
    if (!Recorder.Append(ms, tick.points, tick.point_pairs)) {
        // A full disk: the file keeps the whole profiles written before it.
        Stopped(QString::fromStdString(Recorder.Error()));
        return;
    }
    if ((Record_Limit_Profiles && Recorder.Profiles() >= Record_Limit_Profiles) ||
        (Record_Limit_Seconds && ms >= Record_Limit_Seconds * 1000u)) {
        StopRecording();
        return;
    }
    ShowState();
}

void TProfileRecordingPanel::StopRecording() {
    if (!Recording())
        return;
    const uint32_t kept = Recorder.Profiles();
    const std::string path = Recorder.Path();
    if (!Recorder.Close()) {
        Stopped(QString::fromStdString(Recorder.Error()));
        return;
    }
    Label_Recording->setText(QString("Recorded %1 profiles to %2").arg(kept).arg(FileName(path)));
    ShowState();
}

void TProfileRecordingPanel::Stopped(const QString& why) {
    Label_Recording->setText("Recording stopped");
    ShowState();
    QMessageBox box(QMessageBox::Critical, APPLICATION_TITLE, why, QMessageBox::Ok, &Form);
    Form.ShowModal(box);
}

void TProfileRecordingPanel::ReplayClick() {
    if (Form.Timer_Result->isActive() || Recording())
        return;
    TFileDialog& dialog = *OpenDialogRecording;
    dialog.InitialDir = Form.DataFolder();
    if (!dialog.Execute())
        return;
    // The whole file is checked before the chart changes: a bad one leaves it as it was.
    TRecording recording;
    std::string message;
    const std::string path = QFile::encodeName(dialog.FileName).toStdString();
    bool ok = ReadProfileRecording(path, recording, message);
    const TProfileControls controls = RecordingControls(recording);
    std::vector<uint16_t> values;
    for (size_t k = 0; ok && k < recording.profiles.size(); ++k) {
        uint16_t pairs = 0;
        std::string reason;
        if (!RebuildReplyValues(recording.profiles[k], controls, values, pairs, reason)) {
            message = path + ": profile " + std::to_string(recording.profiles[k].index) + ": " + reason;
            ok = false;
        }
    }
    if (ok && recording.profiles.empty()) {
        message = path + ": holds no profile";
        ok = false;
    }
    if (!ok) {
        QMessageBox box(QMessageBox::Critical, APPLICATION_TITLE, QString::fromStdString(message),
                        QMessageBox::Ok, &Form);
        Form.ShowModal(box);
        return;
    }
    EndReplay();
    Replay = std::move(recording);
    Replay_Path = dialog.FileName;
    Replay_Controls = controls;
    Replay_Index = 0;
    // The verdict colours as they were seen live: the recording's flatness settings.
    Form.CSpinEditLevel->setValue(controls.level_um);
    Form.CSpinEdit1->setValue(controls.dx_mm);
    Form.CSpinEditX->setValue(controls.x0_mm);
    Form.CheckBoxAuto->setChecked(controls.auto_centre);
    Form.ScaleResultChart(controls.range_z, controls.range_xemr);
    ShowReplayed();
    setFocus();
}

void TProfileRecordingPanel::ShowReplayed() {
    std::vector<uint16_t> values;
    uint16_t pairs = 0;
    std::string reason;
    RebuildReplyValues(Replay.profiles[Replay_Index], Replay_Controls, values, pairs, reason);
    std::copy(values.begin(), values.end(), Form.Result_Values.begin());
    Form.ShowProfile(pairs, Replay_Controls.range_z, Replay_Controls.range_xemr);
    ShowState();
}

void TProfileRecordingPanel::StepReplay(int step) {
    if (!Replaying())
        return;
    const long next = static_cast<long>(Replay_Index) + step;
    if (next < 0 || next >= static_cast<long>(Replay.profiles.size()))
        return;
    Replay_Index = static_cast<size_t>(next);
    ShowReplayed();
    // Playing: the next profile after the time that lay between the two when recorded.
    if (Button_Replay_Play->text() == "Pause" && Replay_Index + 1 < Replay.profiles.size())
        Timer_Replay->start(static_cast<int>(Replay.profiles[Replay_Index + 1].time_ms -
                                             Replay.profiles[Replay_Index].time_ms));
}

void TProfileRecordingPanel::PlayClick() {
    if (Replay.profiles.size() < 2)
        return;
    if (Button_Replay_Play->text() == "Pause") {
        Timer_Replay->stop();
        Button_Replay_Play->setText("Play");
        return;
    }
    if (Replay_Index + 1 >= Replay.profiles.size()) {
        Replay_Index = 0; // from the start again
        ShowReplayed();
    }
    Button_Replay_Play->setText("Pause");
    Timer_Replay->start(
        static_cast<int>(Replay.profiles[Replay_Index + 1].time_ms - Replay.profiles[Replay_Index].time_ms));
}

void TProfileRecordingPanel::EndReplay() {
    if (!Replaying())
        return;
    Timer_Replay->stop();
    Button_Replay_Play->setText("Play");
    Replay = TRecording{};
    Label_Recording->clear();
    if (Form.IsConnected())
        Form.ScaleResultChart(Form.Device_Identity[IDENTITY_RANGE_Z],
                              Form.Device_Identity[IDENTITY_RANGE_XEMR]);
    ShowState();
}

void TProfileRecordingPanel::keyPressEvent(QKeyEvent* event) {
    if (Replaying() && event->key() == Qt::Key_Left)
        StepReplay(-1);
    else if (Replaying() && event->key() == Qt::Key_Right)
        StepReplay(1);
    else
        QFrame::keyPressEvent(event);
}

} // namespace zq455
