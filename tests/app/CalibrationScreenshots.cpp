// Pictures of the CALIBRATION page during a whole run against the paced virtual devices:
//   xvfb-run -s '-screen 0 1280x1024x24' build/tests/app/app_calibration_screenshots OUT_DIR
// The table save's 40 s pause runs ten times faster here.

#include "app/CalibrationPage.h"
#include "app/DemoDevices.h"
#include "app/Main.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPixmap>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

using namespace zq455;

namespace {

void Wait(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

void Shot(const QString& dir, const char* name, QWidget* window) {
    Wait(300);
    QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    screen.copy(window->frameGeometry().adjusted(0, 0, 200, 60).intersected(screen.rect()))
        .save(dir + "/" + name + ".png");
    std::printf("%s/%s.png\n", qPrintable(dir), name);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(APPLICATION_TITLE);
    QApplication::setFont(WindowFont());
    const QString dir = argc > 1 ? argv[1] : ".";
    TDemoDevices demo(true);
    TForm_Main window(TMainOptions{true});
    window.CreateDialogs();
    window.move(0, 0);
    window.show();
    window.Button_Connect->click();
    Wait(1000);
    window.PageControl_Interface->setCurrentWidget(window.TabSheet_Calibration);
    window.Page_Calibration->Button_Motor_Connect->click();
    QElapsedTimer clock;
    clock.start();
    window.Page_Calibration->Button_Calibration->click();
    while (window.Page_Calibration->Calibration->Calibr_Step_Index < 120)
        Wait(20);
    Shot(dir, "calibration_run", &window);
    while (window.Page_Calibration->Timer_Motor->isActive())
        Wait(50);
    std::printf("run of 500 steps against the paced devices: %lld ms, step %d, motor result %u, sensor "
                "result %u\n",
                static_cast<long long>(clock.elapsed()),
                window.Page_Calibration->Calibration->Calibr_Step_Index,
                window.Page_Calibration->Calibr_Run->Motor_Result, window.Sensor_Result);
    Shot(dir, "calibration_done", &window);
    // The program's own edits fit the virtual sensor: nothing to change before Calculate.
    window.Page_Calibration->Button_Calibr_Calculate->click();
    Shot(dir, "calibration_centres", &window);
    window.Page_Calibration->CSpinEdit_Calibr_Ind_Step->setValue(250);
    Shot(dir, "calibration_step_view", &window);

    window.ShowProgress = [&](QProgressDialog& dialog) {
        dialog.show();
        auto* bar = dialog.findChild<QProgressBar*>();
        const int shot_at = dialog.maximum() / 2;
        const char* name = dialog.objectName() == "ProgressDialog_Table_Trans" ? "calibration_transfer"
                           : dialog.objectName() == "ProgressDialog_Check"     ? "calibration_checking"
                                                                               : "calibration_save";
        QObject::connect(bar, &QProgressBar::valueChanged, [&window, &dir, shot_at, name](int value) {
            if (value == shot_at)
                Shot(dir, name, &window);
        });
    };
    clock.restart();
    window.Page_Calibration->Button_TABLE_Trans->click();
    std::printf("table transfer at 921600 bit/s: %lld ms, result %u\n",
                static_cast<long long>(clock.elapsed()), window.Sensor_Result);
    // The check judges the table just sent; a pass lets the save store it without asking.
    clock.restart();
    window.Page_Calibration->Panel_Calibr_Check->Button_Calibr_Check->click();
    std::printf("calibration check of %d positions: %lld ms, %s\n",
                window.Page_Calibration->Panel_Calibr_Check->SpinEdit_Check_Positions->value(),
                static_cast<long long>(clock.elapsed()),
                qPrintable(window.Page_Calibration->Panel_Calibr_Check->Label_Check_Verdict->text()));
    Shot(dir, "calibration_check", &window);
    const TSleepFunction pause = window.Sensor->Sleep;
    window.Sensor->Sleep = [pause](uint32_t ms) { pause(ms / 10); };
    window.Page_Calibration->Button_TABLE_Save->click();
    std::printf("table save: result %u, %s\n", window.Sensor_Result,
                qPrintable(window.Page_Calibration->Label_Calibr_Progress->text()));
    Shot(dir, "calibration_saved", &window);

    // The archive's list, and No to its guarded save.
    window.ShowModal = [&](QDialog& dialog) {
        dialog.show();
        if (dialog.objectName() == "Form_Restore_Table") {
            Wait(300);
            dialog.grab().save(dir + "/calibration_restore.png");
            std::printf("%s/calibration_restore.png\n", qPrintable(dir));
        }
        dialog.reject();
        return int(QDialog::Rejected);
    };
    window.Page_Calibration->Button_Calibr_Restore->click();
    window.close();
    return 0;
}
