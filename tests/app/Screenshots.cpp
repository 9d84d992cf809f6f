// Drives the window against the virtual devices and saves what a user would see, for the
// README and for looking at the layout: run it under a virtual X server,
//   xvfb-run -s '-screen 0 1280x1024x24' build/tests/app/app_screenshots OUT_DIR
// Each picture is the whole screen, so open menus and dialogs are on it.

#include "app/ConnectBar.h"
#include "app/DemoDevices.h"
#include "app/CameraAids.h"
#include "app/Main.h"
#include "app/ParameterEditors.h"
#include "app/ProfileRecordingPanel.h"
#include "app/SettingsFiles.h"
#include "settings/SettingsFile.h"
#include "app/ParameterDialogs.h"

#include <QApplication>
#include <QComboBox>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScrollArea>
#include <QScreen>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTimer>
#include <cstdio>
#include <qcustomplot.h>

using namespace zq455;

namespace {

void Wait(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
}

// The window and some room right and below it for menus and dialogs; `exact` takes the
// window alone.
void Shot(const QString& dir, const char* name, QWidget* window, bool exact = false) {
    Wait(300);
    QPixmap screen = QGuiApplication::primaryScreen()->grabWindow(0);
    const QRect margin = exact ? QRect() : QRect(0, 0, 300, 120);
    // The screen's picture is in device pixels: 1.5 times the window's own under QT_SCALE_FACTOR=1.5.
    const qreal scale = screen.devicePixelRatio();
    const QRectF logical = window->frameGeometry().adjusted(0, 0, margin.width(), margin.height());
    const QRect area = QRectF(logical.topLeft() * scale, logical.size() * scale).toRect().intersected(screen.rect());
    screen.copy(area).save(dir + "/" + name + ".png");
    std::printf("%s/%s.png\n", qPrintable(dir), name);
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(APPLICATION_TITLE);
    QApplication::setFont(WindowFont());
    const QString dir = argc > 1 ? argv[1] : ".";
    TDemoDevices demo(true);
    TMainOptions options;
    options.service = argc > 2 && QString(argv[2]) == "--service";
    TForm_Main window(options);
    window.CreateDialogs();
    window.move(0, 0);
    // A sensor error on the way is printed, not left waiting for a click that never comes.
    window.ShowModal = [&](QDialog& dialog) {
        if (auto* box = dynamic_cast<QMessageBox*>(&dialog)) {
            // What Find says it found, as the engineer sees it over the window.
            if (box->text().startsWith("Found the sensor")) {
                box->show();
                box->move(120, window.frameGeometry().bottom() + 4); // below the bar it set
                Shot(dir, "find", &window);
                box->hide();
            }
            std::printf("box: %s %s\n", qPrintable(box->text()), qPrintable(box->informativeText()));
            return 0;
        }
        return dialog.exec();
    };
    window.show();
    Shot(dir, "collapsed", &window);
    // The device list open, with the virtual sensor beside the default entry.
    window.Connect_Bar->ComboBox_Connect_Device->showPopup();
    Shot(dir, "device_list", &window);
    window.Connect_Bar->ComboBox_Connect_Device->hidePopup();
    // Find on a sensor whose rate and address were changed and forgotten (19200 bit/s, 5),
    // then the sensor back at its defaults for the rest.
    const TSensorStore defaults = demo.sensor->Store();
    TSensorStore forgotten = defaults;
    forgotten.working.factory[USER_FIRST_FACTORY + USER_NETWORK_ADDRESS] = 5;
    forgotten.working.factory[USER_FIRST_FACTORY + USER_UART_BAUDRATE] = 0x42;
    demo.sensor->SetStore(forgotten);
    QElapsedTimer find_clock;
    find_clock.start();
    window.Connect_Bar->Button_Connect_FindClick();
    std::printf("Find at 19200 bit/s, address 5: %lld ms\n", static_cast<long long>(find_clock.elapsed()));
    demo.sensor->SetStore(defaults);
    window.ComboBox_Connect_Baud->setCurrentText("921600");
    window.ComboBox_Connect_NetAddress->setCurrentIndex(0);

    QElapsedTimer connect_clock;
    connect_clock.start();
    window.Button_Connect->click();
    std::printf("Connect against the paced virtual sensor: %lld ms\n",
                static_cast<long long>(connect_clock.elapsed()));
    Wait(1000);
    Shot(dir, "connected", &window, true);
    window.PageControl_Interface->setCurrentWidget(window.TabSheet_Video);
    Shot(dir, "video", &window, true);
    // A frame, and a region being drawn on it.
    window.Button_Get_Video->click();
    window.PaintBox_BitMapMouseDown(Qt::LeftButton, 64, 51);
    window.PaintBox_BitMapMouseMove(384, 307);
    Shot(dir, "video_frame", &window, true);
    window.PaintBox_BitMapMouseUp(Qt::LeftButton, 384, 307);
    // The brightest laser over the whole frame, its saturated middle shown in cyan, and the
    // pixel under the mouse named below the frame.
    window.Sensor->LoadUserParameter(USER_LASER_INTENSITY, 31);
    window.Sensor->LoadUserParameter(USER_ROI_LEFT_WIDTH, 0 + 100 * 128);
    window.Sensor->LoadUserParameter(USER_ROI_TOP_HEIGHT, 0 + 100 * 128);
    Wait(300);
    window.Button_Get_Video->click();
    window.Camera_Aids->CheckBox_Video_Saturation->setChecked(true);
    for (size_t i = 0; i < window.Video_Buffer.size(); ++i)
        if (window.Video_Buffer[i] == 127) {
            window.PaintBox_BitMapMouseMove(int(i % FRAME_WIDTH), int(i / FRAME_WIDTH));
            window.ScrollBox_Video->ensureVisible(int(i % FRAME_WIDTH), int(i / FRAME_WIDTH));
            break;
        }
    Shot(dir, "video_saturation", &window, true);
    window.Camera_Aids->CheckBox_Video_Saturation->setChecked(false);
    window.PageControl_Interface->setCurrentWidget(window.TabSheet_Result);

    window.Parameter_Editors->ValueListEditor_User_Parameters->setCurrentCell(2, 1);
    window.Parameter_Editors->ValueListEditor_User_Parameters->setFocus();
    Wait(200);
    window.Parameter_Editors->PopupMenu_User_Parameters->popup(
        window.Parameter_Editors->ValueListEditor_User_Parameters->viewport()->mapToGlobal(QPoint(60, 60)));
    Shot(dir, "user_menu", &window);
    window.Parameter_Editors->PopupMenu_User_Parameters->hide();

    // The dialogs: shown non-modally so the picture can be taken while they are open.
    window.ShowModal = [&](QDialog& dialog) {
        dialog.show();
        Shot(dir, qPrintable(dialog.objectName().isEmpty() ? QString("box") : dialog.objectName()), &window);
        if (auto* limits = dynamic_cast<TRecordLimitDialog*>(&dialog)) {
            limits->SpinEdit_Record_Profiles->setValue(40);
            return int(QDialog::Accepted);
        }
        if (auto* number = dynamic_cast<TNumberDialog*>(&dialog))
            number->Button2Click();
        else if (auto* ext = dynamic_cast<TForm_Ext_Sig*>(&dialog))
            ext->Button2Click();
        else
            dialog.done(0);
        return 0;
    };
    for (int row : {11, 5, 12}) {
        window.Parameter_Editors->ValueListEditor_User_Parameters->setCurrentCell(row, 1);
        window.Parameter_Editors->ValueListEditor_User_ParametersEditButtonClick();
    }
    // A settings file of the sensor, two values changed in it, compared with the sensor.
    const QString settings_path = dir + "/line3.json";
    window.Settings_Files->SaveDialogSettings->Run = [&](TFileDialog& d) {
        d.FileName = settings_path;
        return true;
    };
    window.Settings_Files->SaveClick();
    TSensorSettings settings;
    if (ReadSettingsFile(settings_path.toStdString(), settings).ok) {
        settings.user[USER_RESULT_LENGTH] = 1;
        settings.user[USER_EXPOSURE] = 402;
        WriteSettingsFile(settings_path.toStdString(), settings);
    }
    window.Settings_Files->OpenDialogSettings->Run = [&](TFileDialog& d) {
        d.FileName = settings_path;
        return true;
    };
    window.Settings_Files->CompareClick();
    if (options.service) {
        window.PageControl_Parameters->setCurrentWidget(window.TabSheet_Factory_Parameters);
        window.PageControl_Interface->setCurrentWidget(window.TabSheet_Calibration);
        Shot(dir, "service", &window);
        window.Parameter_Editors->PopupMenu_Factory_Parameters->popup(
            window.Parameter_Editors->ValueListEditor_Factory_Parameters->viewport()->mapToGlobal(QPoint(60, 60)));
        Shot(dir, "factory_menu", &window);
        window.Parameter_Editors->PopupMenu_Factory_Parameters->hide();
        window.PageControl_Interface->setCurrentWidget(window.TabSheet_Result);
        window.PageControl_Parameters->setCurrentWidget(window.TabSheet_User_Parameters);
    }
    // Measuring: the live profile at level 0 (red), with "Auto", with "Axis Reverse", with a
    // raised level (green), the chart's menu; then "Save to file" into the pictures' folder.
    window.Button_Get_Result->click();
    Shot(dir, "measuring", &window, true);
    window.CheckBoxAuto->setChecked(true);
    Shot(dir, "measuring_auto", &window, true);
    window.CheckBoxAuto->setChecked(false);
    window.CheckBoxReverse->setChecked(true);
    Shot(dir, "measuring_reverse", &window, true);
    window.CheckBoxReverse->setChecked(false);
    window.CSpinEditLevel->setValue(150);
    Shot(dir, "measuring_green", &window, true);
    // "Collect" while parts of different heights and roughness pass: the density of every
    // profile, under the current one.
    window.Collect1->setChecked(true);
    for (int k = 0; k < 14; ++k) {
        TScene part;
        part.plane_z_mm = 17.0 + 0.45 * k;
        part.step_height_mm = 8.0 - 0.25 * k;
        part.noise_mm = 0.15 + 0.02 * k;
        demo.sensor->SetScene(part);
        Wait(350);
    }
    Shot(dir, "measuring_collect", &window, true);
    demo.sensor->SetScene(TScene{});
    window.PopupMenu_Save_Data->popup(window.Chart_Result_Oscilloscope->mapToGlobal(QPoint(300, 200)));
    Shot(dir, "result_menu", &window);
    window.Collect1->setChecked(false);
    window.PopupMenu_Save_Data->hide();
    // The real save dialog, closed again once pictured.
    QTimer::singleShot(800, [&] {
        Shot(dir, "save_dialog", &window);
        if (QWidget* dialog = QApplication::activeModalWidget())
            dialog->close();
    });
    window.MenuItem4->trigger();
    window.SaveDialogData->Run = [&](TFileDialog& dialog) {
        dialog.FileName = dir + "/profile.txt";
        return true;
    };
    window.MenuItem4->trigger();
    std::printf("%s/profile.txt\n", qPrintable(dir));
    // 40 profiles recorded, then replayed stepwise without measuring.
    const QString recording = dir + "/recording.csv";
    window.Recording_Panel->SaveDialogRecording->Run = [&](TFileDialog& d) {
        d.FileName = recording;
        return true;
    };
    window.Recording_Panel->RecordClick();
    Shot(dir, "recording", &window, true);
    QElapsedTimer record_clock;
    record_clock.start();
    while (window.Recording_Panel->Recording() && record_clock.elapsed() < 10000)
        Wait(50);
    window.Button_Get_Result->click();
    window.Recording_Panel->OpenDialogRecording->Run = [&](TFileDialog& d) {
        d.FileName = recording;
        return true;
    };
    window.Recording_Panel->ReplayClick();
    for (int k = 0; k < 11; ++k)
        window.Recording_Panel->StepReplay(1);
    Shot(dir, "replay", &window, true);
    window.Recording_Panel->EndReplay();

    // The sensor stops answering: the error monitor collapses the window and says why.
    window.ShowModal = [&](QDialog& dialog) {
        dialog.setObjectName("error_box");
        dialog.show();
        Shot(dir, "error_box", &window);
        dialog.done(0);
        return 0;
    };
    demo.sensor->InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY);
    window.Parameter_Editors->Read_User_Parameters->trigger();
    Wait(1300);
    window.close();
    return 0;
}
