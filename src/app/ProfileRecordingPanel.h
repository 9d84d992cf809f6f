#pragma once
// Profile recordings on the RESULT page: "Record..." writes every profile the measuring ticks
// draw to a CSV file (view/ProfileRecording.h) until "Stop recording", a count or a time the
// engineer sets, Stop Measure, Disconnect or an error; "Replay..." plays a recording back on
// the chart, with the flatness check, without a sensor: stepwise or at its recorded pace.
// A one-line bar under the chart says what is going on.

#include "view/ProfileRecording.h"

#include <QDialog>
#include <QElapsedTimer>
#include <QFrame>
#include <memory>

class QAction;
class QLabel;
class QPushButton;
class QSpinBox;
class QTimer;

namespace zq455 {

class TFileDialog;
class TForm_Main;

// How long a recording runs: a number of profiles, a number of seconds, 0 = until stopped.
class TRecordLimitDialog : public QDialog {
public:
    explicit TRecordLimitDialog(QWidget* parent);
    QSpinBox* SpinEdit_Record_Profiles = nullptr;
    QSpinBox* SpinEdit_Record_Seconds = nullptr;
};

class TProfileRecordingPanel : public QFrame {
public:
    explicit TProfileRecordingPanel(TForm_Main& form);
    ~TProfileRecordingPanel() override;

    // The measuring tick drew `tick`: appended while recording.
    void OnProfile(const TProfileTick& tick);
    // Ends a recording (the file is closed and readable); nothing when none runs.
    void StopRecording();
    // Ends a replay and gives the chart back its measuring ranges; nothing when none runs.
    void EndReplay();
    bool Recording() const { return Recorder.IsOpen(); }
    bool Replaying() const { return !Replay.profiles.empty(); }
    size_t ReplayIndex() const { return Replay_Index; }

    void RecordClick();
    void ReplayClick();
    void StepReplay(int step);
    void PlayClick();

    std::unique_ptr<TFileDialog> SaveDialogRecording;
    std::unique_ptr<TFileDialog> OpenDialogRecording;
    QAction* Record_Profiles = nullptr;
    QAction* Stop_Recording = nullptr;
    QAction* Replay_Profiles = nullptr;
    QLabel* Label_Recording = nullptr;
    QPushButton* Button_Replay_Previous = nullptr;
    QPushButton* Button_Replay_Play = nullptr;
    QPushButton* Button_Replay_Next = nullptr;
    QPushButton* Button_Replay_Close = nullptr;
    QTimer* Timer_Replay = nullptr;

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void ShowReplayed();
    void ShowState();
    void Stopped(const QString& why);

    TForm_Main& Form;
    TProfileRecorder Recorder;
    QElapsedTimer Record_Clock;
    uint32_t Record_Limit_Profiles = 0;
    uint32_t Record_Limit_Seconds = 0;
    TRecording Replay;
    QString Replay_Path;
    TProfileControls Replay_Controls;
    size_t Replay_Index = 0;
};

} // namespace zq455
