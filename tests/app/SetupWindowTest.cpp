// The setup window against the virtual sensor and stage, offscreen. Modal dialogs and
// message boxes are answered by the hook the window routes them through.

#include "WindowFixture.h"
#include "app/CalibrationPage.h"
#include "app/ConnectBar.h"
#include "app/ParameterDelegates.h"
#include "app/WaitCursor.h"
#include "motor/Motorinterface.h"
#include "support/FakeSysfs.h"

#include <QPointer>
#include <QWheelEvent>
#include <atomic>
#include <thread>

using namespace zq455;
using namespace zq455::test;

TEST_F(SetupWindow, StartsCollapsedWithTheBarsOnlyAndTheServiceTabsHidden) {
    EXPECT_EQ(window->windowTitle(), "ZQ455 Setup program.");
    EXPECT_EQ(window->width(), WINDOW_WIDTH);
    EXPECT_EQ(window->Collapsed_Height, window->height());
    EXPECT_EQ(window->Collapsed_Height, 57 + 52); // the connect bar and the identity bar
    EXPECT_EQ(window->Panel_Parameters->height(), 0);
    EXPECT_EQ(window->Panel_Ranges->geometry().bottom() + 1, window->height());
    EXPECT_EQ(window->ComboBox_Connect_Baud->count(), 8);
    EXPECT_EQ(window->ComboBox_Connect_Baud->currentText(), "921600");
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->count(), 32);
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->itemText(31), "31");
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->currentText(), "0");
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    EXPECT_FALSE(window->Button_Get_Video->isEnabled());
    EXPECT_TRUE(window->Button_Connect->isEnabled());
    EXPECT_EQ(window->Panel_Angle->text(), QString("Angle = 0.000") + QChar(0xB0));
    EXPECT_FALSE(window->PageControl_Parameters->isTabVisible(
        window->PageControl_Parameters->indexOf(window->TabSheet_Factory_Parameters)));
    EXPECT_FALSE(window->PageControl_Interface->isTabVisible(
        window->PageControl_Interface->indexOf(window->TabSheet_Calibration)));
    EXPECT_EQ(window->Label_Ranges_Base_Value->text(), "none mm");
    const std::pair<QTimer*, int> timers[] = {
        {window->Timer_Resize, 1},    {window->Timer_Result, 10},
        {window->Timer_Repaint, 100}, {window->Page_Calibration->Timer_Motor, 1},
        {window->Timer_Errors, 1000}, {window->Timer_Video, 1000}};
    for (const auto& [timer, interval] : timers) {
        EXPECT_EQ(timer->interval(), interval) << timer->objectName().toStdString();
        EXPECT_EQ(timer->isActive(), timer == window->Timer_Errors) << timer->objectName().toStdString();
    }
    // The named controls of the pages exist for the handlers that come with them.
    for (const char* name :
         {"Chart_Result_Oscilloscope", "PaintBox_BitMap", "Panel_Motor", "Button_TABLE_Trans",
          "CSpinEdit_Calibr_Ind_Step", "Edit_ZERO_Right", "CSpinEditLevel"})
        EXPECT_NE(window->findChild<QWidget*>(name), nullptr) << name;
    // Nobody can drag the height: FormResize puts it back to the constraint.
    window->resize(WINDOW_WIDTH, 400);
    QApplication::processEvents();
    EXPECT_EQ(window->height(), window->Collapsed_Height);
}

TEST_F(SetupWindow, ConnectShowsIdentityParametersAngleRateAndScalesTheChart) {
    TSensorStore store = demo->sensor->Store();
    const float angle = static_cast<float>(12.3456 * M_PI / 180.0);
    std::memcpy(&store.working.angle, &angle, sizeof angle);
    store.working.factory[USER_FIRST_FACTORY + USER_ROI_TOP_HEIGHT] = 50 << 7; // 640 x 256
    store.working.factory[IDENTITY_FIRST_FACTORY + IDENTITY_SERIAL_HI] = 1;
    store.working.factory[IDENTITY_FIRST_FACTORY + IDENTITY_SERIAL_LO] = 2;
    demo->sensor->SetStore(store);

    Connect();
    EXPECT_EQ(window->height(), MAX_HEIGHT); // the last step jumps to the maximum
    EXPECT_EQ(window->Label_Ranges_Model_Value->text(), "455");
    EXPECT_EQ(window->Label_Ranges_Serial_Value->text(), "65538");
    EXPECT_EQ(window->Label_Ranges_Base_Value->text(), "80 mm");
    EXPECT_EQ(window->Label_Ranges_RangeZ_Value->text(), "50 mm");
    EXPECT_EQ(window->Label_Ranges_RangeXs_Value->text(), "8 mm");
    EXPECT_EQ(window->Label_Ranges_RangeXe_Value->text(), "10 mm");
    EXPECT_EQ(window->Panel_Angle->text(), QString("Angle = 12.300") + QChar(0xB0));
    EXPECT_EQ(window->Panel_Freq->text(), "Freq.:193 fps");
    EXPECT_EQ(window->Video_ROI, (TRoi{0, 0, 640, 256}));

    QTableWidget* user = window->Parameter_Editors->ValueListEditor_User_Parameters;
    ASSERT_EQ(user->rowCount(), 13);
    EXPECT_EQ(user->horizontalHeaderItem(0)->text(), "Parameter");
    EXPECT_EQ(user->horizontalHeaderItem(1)->text(), "Value");
    EXPECT_EQ(user->item(2, 0)->text(), "UART baudrate");
    EXPECT_EQ(Cell(user, 2), "921600");
    EXPECT_EQ(Cell(user, 9), QString::number(50 << 7));
    for (int row = 0; row < 13; ++row)
        EXPECT_FALSE(user->item(row, 1)->flags() & Qt::ItemIsEditable &&
                     UserRow(row).style == TEditStyle::NONE);
    QTableWidget* factory = window->Parameter_Editors->ValueListEditor_Factory_Parameters;
    ASSERT_EQ(factory->rowCount(), 48);
    EXPECT_EQ(factory->item(0, 0)->text(), "SEQUENCER");
    EXPECT_EQ(factory->item(47, 0)->text(), "LAS_POL");
    EXPECT_EQ(Cell(factory, IDENTITY_FIRST_FACTORY), "455");

    EXPECT_DOUBLE_EQ(window->Chart_Result_Oscilloscope->yAxis->range().lower, 0.0);
    EXPECT_DOUBLE_EQ(window->Chart_Result_Oscilloscope->yAxis->range().upper, 52.5);
    EXPECT_DOUBLE_EQ(window->Chart_Result_Oscilloscope->xAxis->range().lower, -5.25);
    EXPECT_DOUBLE_EQ(window->Chart_Result_Oscilloscope->xAxis->range().upper, 5.25);
    EXPECT_FALSE(window->ComboBox_Connect_Baud->isEnabled());
    EXPECT_FALSE(window->ComboBox_Connect_NetAddress->isEnabled());
    EXPECT_TRUE(window->Button_Get_Result->isEnabled());
    EXPECT_FALSE(window->Button_Get_Video->isEnabled());
    EXPECT_EQ(window->PageControl_Interface->currentWidget(), window->TabSheet_Result);

    // Disconnect: the labels go back, the window shrinks, the editors keep their values.
    window->Button_Connect->click();
    EXPECT_EQ(window->Button_Connect->text(), "Connect");
    EXPECT_EQ(window->Label_Ranges_Model_Value->text(), "none");
    EXPECT_EQ(window->Label_Ranges_RangeXe_Value->text(), "none mm");
    EXPECT_TRUE(window->ComboBox_Connect_Baud->isEnabled());
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    ASSERT_TRUE(WaitFor([&] { return !window->Timer_Resize->isActive(); }, 2000));
    EXPECT_EQ(window->height(), window->Collapsed_Height);
    EXPECT_EQ(Cell(user, 2), "921600");
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SetupWindow, ADisconnectInTheMiddleOfTheAnimationReversesIt) {
    window->Button_Connect->click();
    ASSERT_EQ(window->Button_Connect->text(), "Disconnect");
    window->Timer_Resize->stop(); // step by hand
    for (int k = 0; k < 3; ++k)
        window->Timer_ResizeTimer();
    EXPECT_EQ(window->height(), window->Collapsed_Height + 3 * RESIZE_STEP);
    window->Button_Connect->click();
    window->Timer_Resize->stop();
    window->Timer_ResizeTimer();
    EXPECT_EQ(window->height(), window->Collapsed_Height + 2 * RESIZE_STEP);
    EXPECT_EQ(window->Panel_Parameters->height(), 2 * RESIZE_STEP);
    window->Timer_ResizeTimer();
    window->Timer_ResizeTimer();
    EXPECT_EQ(window->height(), window->Collapsed_Height);
    window->Timer_ResizeTimer(); // below the collapsed height it stops there
    EXPECT_EQ(window->height(), window->Collapsed_Height);
    EXPECT_FALSE(window->Timer_Resize->isActive());
}

TEST_F(SetupWindow, SilentSensorIsReportedWithinASecondAndTheWindowIsReset) {
    demo->sensor->InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY);
    window->ComboBox_Connect_NetAddress->setCurrentIndex(3);
    QElapsedTimer clock;
    clock.start();
    window->Button_Connect->click();
    EXPECT_EQ(window->Sensor_Result, 3u);
    EXPECT_EQ(window->Button_Connect->text(), "Connect");
    const qint64 connect_ms = clock.elapsed();
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_LE(clock.elapsed() - connect_ms, 1100);
    EXPECT_EQ(boxes[0].caption, "ZQ455-SP.");
    EXPECT_EQ(boxes[0].text, "Read timeout.");
    EXPECT_EQ(boxes[0].icon, QMessageBox::Critical);
    EXPECT_FALSE(boxes[0].errors_timer_active); // one box at a time
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->currentText(), "0");
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_TRUE(window->Timer_Errors->isActive());
    EXPECT_EQ(window->height(), window->Collapsed_Height);
}

TEST_F(SetupWindow, NoDeviceGivesPortNotOpened) {
    window.reset();
    demo.reset();
    Start(false);
    window->Button_Connect->click();
    EXPECT_EQ(window->Sensor_Result, 2u);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_EQ(boxes[0].text, "Port not openned.");
    // Under it, why: here nothing of that description on the bus or in sysfs.
    EXPECT_FALSE(boxes[0].informative.isEmpty());
    EXPECT_EQ(window->Label_Ranges_Model_Value->text(), "none");
}

TEST_F(SetupWindow, DisconnectWhileMeasuringIsReportedOnTheNextRequest) {
    Connect();
    window->Button_Get_Result->click();
    EXPECT_EQ(window->Button_Get_Result->text(), "Stop Measure");
    EXPECT_TRUE(window->PagesLocked());
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Counters().answered > 8; }, 2000));
    EXPECT_TRUE(boxes.empty());
    window->Button_Connect->click(); // stays enabled while measuring
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_EQ(boxes[0].text, "Port not openned.");
    EXPECT_EQ(boxes[0].connect_caption, "Connect"); // reset before the message
    EXPECT_FALSE(window->Timer_Result->isActive());
    EXPECT_EQ(window->Button_Get_Result->text(), "Start Measure");
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    EXPECT_EQ(window->Button_Get_Video->text(), "Get BITMAP");
    // The pages stay locked as the reset found them until the next connect.
    EXPECT_TRUE(window->PagesLocked());
    Connect();
    EXPECT_FALSE(window->PagesLocked());
    EXPECT_TRUE(window->PageControl_Interface->isEnabled());
}

TEST_F(SetupWindow, ExposureDialogRoundsToTheDeviceStep) {
    Connect();
    TForm_Exposure* dialog = window->Form_Exposure;
    int beeps = 0;
    dialog->Beep = [&] { ++beeps; };
    for (const auto& [typed, us] : {std::pair{"54", 50u}, {"55", 60u}, {"12", 50u}, {"999999", 81960u}}) {
        answer = [&, typed = typed](QDialog&) {
            dialog->Edit_Exposure_Value->clear();
            QTest::keyClicks(dialog->Edit_Exposure_Value, QString("x-. ") + typed);
            QTest::mouseClick(dialog->Button1, Qt::LeftButton);
        };
        SelectUserRow(USER_EXPOSURE);
        window->Parameter_Editors->ValueListEditor_User_ParametersEditButtonClick();
        EXPECT_EQ(ExposureUsFromValue(window->User_Params[USER_EXPOSURE]), us) << typed;
        EXPECT_EQ(Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, USER_EXPOSURE),
                  QString::number(window->User_Params[USER_EXPOSURE]));
    }
    EXPECT_EQ(beeps, 16); // four refused keys each time
    EXPECT_EQ(dialog->windowTitle(), "Exposure...");

    // An emptied field shows what it had when opened; the tick sets bit 0.
    window->User_Params[USER_EXPOSURE] = 0xC000 | (3 << 1); // 80 us, top bits set
    answer = [&](QDialog&) {
        EXPECT_EQ(dialog->Edit_Exposure_Value->text(), "80");
        dialog->Edit_Exposure_Value->clear();
        dialog->CheckBox_bit_Auto_Exposure->setChecked(true);
        dialog->Button1Click();
        EXPECT_EQ(dialog->Edit_Exposure_Value->text(), "80");
    };
    window->Parameter_Editors->ValueListEditor_User_ParametersEditButtonClick();
    EXPECT_EQ(window->User_Params[USER_EXPOSURE], 0xC000 | (3 << 1) | 1);
}

TEST_F(SetupWindow, DelayAndExternalSignalsDialogsKeepWhatTheyDoNotShow) {
    Connect();
    TForm_Exposure_Delay* delay = window->Form_Exposure_Delay;
    for (const auto& [typed, v] : {std::pair{"2", 1}, {"1", 0}, {"81916", 16383}, {"0", 0}}) {
        answer = [&, typed = typed](QDialog&) {
            delay->Edit_Exposure_Value->setText(typed);
            delay->Button1Click();
        };
        SelectUserRow(USER_EXTERNAL_DELAY);
        window->Parameter_Editors->ValueListEditor_User_ParametersEditButtonClick();
        EXPECT_EQ(window->User_Params[USER_EXTERNAL_DELAY], v) << typed;
    }

    TForm_Ext_Sig* signals_dialog = window->Form_Ext_Sig;
    window->User_Params[USER_EXTERNAL_SIGNALS] = 0xFFF8 | 0x2;
    answer = [&](QDialog&) {
        EXPECT_EQ(signals_dialog->RadioGroupPriority->ItemIndex(), 0);
        EXPECT_EQ(signals_dialog->RadioGroupStrobeLevel->ItemIndex(), 1);
        EXPECT_EQ(signals_dialog->RadioGroupExternalSync->ItemIndex(), 0);
        signals_dialog->RadioGroupPriority->SetItemIndex(1);
        signals_dialog->RadioGroupStrobeLevel->SetItemIndex(0);
        signals_dialog->RadioGroupExternalSync->SetItemIndex(1);
        QTest::mouseClick(signals_dialog->Button1, Qt::LeftButton);
    };
    SelectUserRow(USER_EXTERNAL_SIGNALS);
    window->Parameter_Editors->ValueListEditor_User_ParametersEditButtonClick();
    EXPECT_EQ(window->User_Params[USER_EXTERNAL_SIGNALS], 0xFFF8 | 0x5);

    // Cancel changes nothing, but the editor is redrawn from the values.
    const size_t sent = demo->sensor->Commands().size();
    window->Parameter_Editors->ValueListEditor_User_Parameters->item(USER_EXTERNAL_SIGNALS, 1)
        ->setText("stale");
    answer = [&](QDialog&) {
        signals_dialog->RadioGroupPriority->SetItemIndex(0);
        signals_dialog->Button2Click();
    };
    window->Parameter_Editors->ValueListEditor_User_ParametersEditButtonClick();
    EXPECT_EQ(window->User_Params[USER_EXTERNAL_SIGNALS], 0xFFF8 | 0x5);
    EXPECT_EQ(Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, USER_EXTERNAL_SIGNALS),
              QString::number(0xFFFD));
    EXPECT_EQ(demo->sensor->Commands().size(), sent); // nothing is sent by an edit
}

TEST_F(SetupWindow, PickListsChangeOnlyTheWindowsCopyAndRoiCellsCannotBeEdited) {
    Connect();
    const size_t sent = demo->sensor->Commands().size();
    Pick(USER_UART_BAUDRATE, "9600");
    EXPECT_EQ(window->User_Params[USER_UART_BAUDRATE], 0x41);
    EXPECT_EQ(Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, USER_UART_BAUDRATE), "9600");
    Pick(USER_EXTERNAL_DIVIDER, "16384");
    EXPECT_EQ(window->User_Params[USER_EXTERNAL_DIVIDER], 16383);
    EXPECT_EQ(demo->sensor->Commands().size(), sent);

    // The menus act on the row selected last; ROI cells are rewritten from the value.
    const uint16_t roi = window->User_Params[USER_ROI_LEFT_WIDTH];
    SelectUserRow(USER_ROI_LEFT_WIDTH);
    QTableWidget* grid = window->Parameter_Editors->ValueListEditor_User_Parameters;
    EXPECT_EQ(grid->indexWidget(grid->model()->index(USER_ROI_LEFT_WIDTH, 1)), nullptr);
    grid->item(USER_ROI_LEFT_WIDTH, 1)->setText("1");
    window->Parameter_Editors->ValueListEditor_User_ParametersContextPopup(QPoint(5, 5));
    window->Parameter_Editors->PopupMenu_User_Parameters->hide();
    EXPECT_EQ(window->User_Params[USER_ROI_LEFT_WIDTH], roi);
    EXPECT_EQ(Cell(grid, USER_ROI_LEFT_WIDTH), QString::number(roi));
    EXPECT_EQ(window->User_Row, USER_ROI_LEFT_WIDTH);
}

TEST_F(SetupWindow, EachMenuCommandSendsItsRequests) {
    options.service = true;
    window.reset();
    Start(false);
    Connect();
    SelectUserRow(USER_LASER_INTENSITY);
    struct TCase {
        QAction* item;
        std::vector<uint8_t> commands;
    };
    const std::vector<uint8_t> read_all = Repeat(0x02, 13);
    const TCase cases[] = {
        {window->Parameter_Editors->Read_User_Parameter, {0x02}},
        {window->Parameter_Editors->Load_User_Parameter, {0x03}},
        {window->Parameter_Editors->Read_User_Parameters, read_all},
        {window->Parameter_Editors->Load_User_Parameters, Repeat(0x03, 13)},
        {window->Parameter_Editors->Write_User_Parameters, Join({0x04}, read_all)},
        {window->Parameter_Editors->Restore_User_Parameters, Join({0x04}, read_all)},
        {window->Parameter_Editors->Rotate_System, {0x0A}},
        {window->Parameter_Editors->Write_Angle, {0x0C, 0x0B}},
        {window->Parameter_Editors->Restore_Angle, {0x0C, 0x0B}},
        {window->Parameter_Editors->Read_Factory_Parameters, {0x20}},
        {window->Parameter_Editors->Load_Factory_Parameters, {0x21}},
        {window->Parameter_Editors->Write_Factory_Parameters, {0x22, 0x20}},
        {window->Parameter_Editors->Reastore_Factory_Parameters, {0x22, 0x20}},
    };
    for (const TCase& c : cases) {
        const size_t before = demo->sensor->Commands().size();
        c.item->trigger();
        EXPECT_EQ(window->Sensor_Result, 0u) << c.item->text().toStdString();
        ASSERT_TRUE(
            WaitFor([&] { return demo->sensor->Commands().size() >= before + c.commands.size(); }, 1000));
        EXPECT_EQ(CommandsSince(before), c.commands) << c.item->text().toStdString();
    }
    // Rotating took the scene's angle; the text follows it.
    EXPECT_EQ(window->Panel_Angle->text(), Utf8(AngleText(window->System_Angle)));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SetupWindow, LoadedAddressAndRateAreFollowedByTheLinkAndTheConnectBar) {
    Connect();
    Pick(USER_NETWORK_ADDRESS, "5");
    window->Parameter_Editors->Load_User_Parameter->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->currentText(), "5");
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Address() == 5; }, 1000));
    window->Parameter_Editors->Read_User_Parameters->trigger(); // goes to address 5 and is answered there
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(window->User_Params[USER_NETWORK_ADDRESS], 5);

    Pick(USER_UART_BAUDRATE, "460800");
    window->Parameter_Editors->Load_User_Parameter->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(window->ComboBox_Connect_Baud->currentText(), "460800");
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Baud() == 460800; }, 1000));
    window->Parameter_Editors->Read_User_Parameters->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);

    window->Parameter_Editors->Restore_User_Parameters->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->currentText(), "0");
    EXPECT_EQ(window->ComboBox_Connect_Baud->currentText(), "921600");
    EXPECT_EQ(demo->sensor->Address(), 0);
    EXPECT_TRUE(boxes.empty());
}

TEST_F(SetupWindow, RightClickOpensTheMenuForTheRowSelectedLast) {
    TSensorStore store = demo->sensor->Store();
    Connect();
    QTableWidget* grid = window->Parameter_Editors->ValueListEditor_User_Parameters;
    SelectUserRow(USER_RESULT_LENGTH);
    const QPoint at = grid->visualItemRect(grid->item(USER_POINT_TIME, 0)).center();
    QTest::mousePress(grid->viewport(), Qt::RightButton, {}, at);
    QTest::mouseRelease(grid->viewport(), Qt::RightButton, {}, at);
    EXPECT_EQ(grid->currentRow(), USER_RESULT_LENGTH);
    QContextMenuEvent menu_event(QContextMenuEvent::Mouse, at, grid->viewport()->mapToGlobal(at));
    QApplication::sendEvent(grid->viewport(), &menu_event);
    EXPECT_TRUE(window->Parameter_Editors->PopupMenu_User_Parameters->isVisible());
    window->Parameter_Editors->PopupMenu_User_Parameters->hide();

    store.working.factory[USER_FIRST_FACTORY + USER_RESULT_LENGTH] = 1;
    demo->sensor->SetStore(store);
    window->Parameter_Editors->Read_User_Parameter->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(Cell(grid, USER_RESULT_LENGTH), "256");
    EXPECT_EQ(window->User_Params[USER_POINT_TIME], store.working.User(USER_POINT_TIME));
}

TEST_F(SetupWindow, LeavingTheFactoryEditorTakesItsValue) {
    options.service = true;
    window.reset();
    Start(false);
    Connect();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->PageControl_Parameters->setCurrentWidget(window->TabSheet_Factory_Parameters);
    QTableWidget* grid = window->Parameter_Editors->ValueListEditor_Factory_Parameters;
    grid->setFocus();
    grid->setCurrentCell(7, 1);
    grid->item(7, 1)->setText("321");
    window->CSpinEditLevel->setFocus();
    EXPECT_EQ(window->Factory_Params[7], 321);
}

TEST_F(SetupWindow, FlashErrorDisconnectsTheWindow) {
    Connect();
    demo->sensor->InjectFault(TSensorFault::WRONG_FLASH_CONFIRMATION);
    const QString shown = Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, 0);
    window->Parameter_Editors->Write_User_Parameters->trigger();
    EXPECT_EQ(window->Sensor_Result, 10u);
    window->Timer_ErrorsTimer();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "FLASH error.");
    EXPECT_EQ(boxes[0].height, window->Collapsed_Height);
    EXPECT_EQ(window->Button_Connect->text(), "Connect");
    EXPECT_EQ(window->Panel_Angle->text(), QString("Angle = 0.000") + QChar(0xB0));
    EXPECT_EQ(Cell(window->Parameter_Editors->ValueListEditor_User_Parameters, 0),
              shown); // editors are left alone
    EXPECT_EQ(window->User_Row, 0);
    // A quiet tick shows nothing.
    window->Timer_ErrorsTimer();
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(SetupWindow, FactoryEditorTakesOnlyDecimalIntegers) {
    options.service = true;
    window.reset();
    Start(false);
    EXPECT_TRUE(window->PageControl_Parameters->isTabVisible(
        window->PageControl_Parameters->indexOf(window->TabSheet_Factory_Parameters)));
    Connect();
    window->PageControl_Parameters->setCurrentWidget(window->TabSheet_Factory_Parameters);
    QTableWidget* grid = window->Parameter_Editors->ValueListEditor_Factory_Parameters;
    grid->setCurrentCell(3, 1);
    const uint16_t old = window->Factory_Params[3];
    grid->item(3, 1)->setText("12a");
    grid->setCurrentCell(4, 1); // moving on accepts the row left
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "'12a' is not a valid integer value");
    EXPECT_EQ(boxes[0].caption, APPLICATION_TITLE);
    EXPECT_EQ(window->Factory_Params[3], old);
    EXPECT_EQ(window->Factory_Row, 4);
    grid->item(4, 1)->setText("77777");
    window->Parameter_Editors->ValueListEditor_Factory_ParametersExit();
    ASSERT_EQ(boxes.size(), 2u);
    grid->item(4, 1)->setText("1234");
    window->Parameter_Editors->ValueListEditor_Factory_ParametersContextPopup(QPoint(5, 5));
    window->Parameter_Editors->PopupMenu_Factory_Parameters->hide();
    EXPECT_EQ(window->Factory_Params[4], 1234);
    EXPECT_EQ(boxes.size(), 2u);
    // Typing goes through the cell's editor; each key first accepts the text so far.
    grid->setCurrentCell(5, 1);
    QTest::keyClick(grid, '4');
    auto* edit = grid->findChild<QLineEdit*>("FactoryEdit");
    ASSERT_NE(edit, nullptr);
    EXPECT_EQ(Cell(grid, 5), "4");
    QTest::keyClick(edit, '2');
    EXPECT_EQ(window->Factory_Params[5], 4);
    grid->setCurrentCell(6, 1);
    EXPECT_EQ(window->Factory_Params[5], 42);
    window->Parameter_Editors->Load_Factory_Parameters->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Store().working.factory[5] == 42; }, 1000));
}

TEST_F(SetupWindow, PagesEnableTheButtonsOnlyWhenConnected) {
    options.service = true;
    window.reset();
    Start(false);
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Video);
    EXPECT_FALSE(window->Button_Get_Video->isEnabled());
    EXPECT_FALSE(window->Timer_Repaint->isActive());
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Result);
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    Connect();
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Video);
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    EXPECT_TRUE(window->Button_Get_Video->isEnabled());
    EXPECT_TRUE(window->Timer_Repaint->isActive());
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Result);
    EXPECT_TRUE(window->Button_Get_Result->isEnabled());
    EXPECT_FALSE(window->Button_Get_Video->isEnabled());
    EXPECT_FALSE(window->Timer_Repaint->isActive());
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Calibration);
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    EXPECT_FALSE(window->Button_Get_Video->isEnabled());
}

TEST_F(SetupWindow, ClosingReleasesBothLinksAndStopsTheTimers) {
    Connect();
    window->Button_Get_Result->click();
    window->close();
    EXPECT_EQ(window->Sensor, nullptr);
    EXPECT_EQ(window->Motor, nullptr);
    EXPECT_EQ(window->Video_Bitmap, nullptr);
    EXPECT_FALSE(window->Timer_Result->isActive());
    EXPECT_FALSE(window->Timer_Errors->isActive());
    // The virtual sensor sees its port free again: a new program connects to it.
    window.reset();
    Start(false);
    Connect();
}

namespace {

// The drop-down of a user row, open on its cell.
TPickListBox* PickListOf(QTableWidget* grid, int row) {
    return dynamic_cast<TPickListBox*>(grid->indexWidget(grid->model()->index(row, 1)));
}

void Wheel(QWidget* widget, int notches) {
    const QPointF at(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent wheel(at, widget->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton,
                      Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(widget, &wheel);
}

} // namespace

TEST_F(SetupWindow, OnlyADeliberatePickChangesAValueNeverTheWheelOrAKeyOfTheClosedBox) {
    Connect();
    QTableWidget* grid = window->Parameter_Editors->ValueListEditor_User_Parameters;
    // A click on the row's name makes it current and opens its drop-down on the value.
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {},
                      grid->visualItemRect(grid->item(USER_RESULT_LENGTH, 0)).center());
    ASSERT_EQ(window->User_Row, USER_RESULT_LENGTH);
    TPickListBox* box = PickListOf(grid, USER_RESULT_LENGTH);
    ASSERT_NE(box, nullptr);
    ASSERT_EQ(box->currentText(), "1024");
    const uint16_t length = window->User_Params[USER_RESULT_LENGTH];

    // Wheel notches either way, the arrow keys, a typed digit: the closed box keeps its value.
    Wheel(box, -1);
    Wheel(box, 1);
    Wheel(box, -3);
    QTest::keyClick(box, Qt::Key_1);
    QTest::keyClick(box, Qt::Key_5);
    EXPECT_EQ(box->currentText(), "1024");
    EXPECT_FALSE(box->view()->isVisible());
    QTest::keyClick(box, Qt::Key_Up); // the grid takes it: the row above becomes current
    EXPECT_EQ(window->User_Row, USER_UART_BAUDRATE);
    EXPECT_EQ(window->User_Params[USER_RESULT_LENGTH], length);
    EXPECT_EQ(Cell(grid, USER_RESULT_LENGTH), "1024");
    EXPECT_EQ(window->User_Params[USER_UART_BAUDRATE],
              demo->sensor->Store().working.User(USER_UART_BAUDRATE));

    // Keyboard: open the list, step down twice, take it with Enter.
    QTest::keyClick(PickListOf(grid, USER_UART_BAUDRATE), Qt::Key_Down);
    box = PickListOf(grid, USER_RESULT_LENGTH);
    ASSERT_NE(box, nullptr);
    QTest::keyClick(box, Qt::Key_Down, Qt::AltModifier);
    ASSERT_TRUE(box->view()->isVisible());
    QTest::keyClick(box->view(), Qt::Key_Up);
    QTest::keyClick(box->view(), Qt::Key_Up);
    QTest::keyClick(box->view(), Qt::Key_Return);
    EXPECT_FALSE(box->view()->isVisible());
    EXPECT_EQ(Cell(grid, USER_RESULT_LENGTH), "256");
    EXPECT_EQ(window->User_Params[USER_RESULT_LENGTH], 1);

    // Mouse: open the list with F4 and click an item in it.
    QTest::keyClick(box, Qt::Key_F4);
    ASSERT_TRUE(box->view()->isVisible());
    const QModelIndex item = box->model()->index(2, 0); // "512"
    QTest::mouseClick(box->view()->viewport(), Qt::LeftButton, {}, box->view()->visualRect(item).center());
    EXPECT_EQ(Cell(grid, USER_RESULT_LENGTH), "512");
    EXPECT_EQ(window->User_Params[USER_RESULT_LENGTH], 2);
    // From the grid itself: Space opens the current row's list, Escape closes it unchanged.
    grid->setFocus();
    QTest::keyClick(grid, Qt::Key_Space);
    ASSERT_TRUE(box->view()->isVisible());
    QTest::keyClick(box->view(), Qt::Key_Down);
    QTest::keyClick(box->view(), Qt::Key_Escape);
    EXPECT_FALSE(box->view()->isVisible());
    EXPECT_EQ(window->User_Params[USER_RESULT_LENGTH], 2);
    // Only a Load sends it.
    EXPECT_EQ(demo->sensor->Store().working.User(USER_RESULT_LENGTH), length);
}

TEST_F(SetupWindow, TheErrorResetClosesTheOpenEditorAndTheMenusActOnTheHighlightedRow) {
    Connect();
    QTableWidget* grid = window->Parameter_Editors->ValueListEditor_User_Parameters;
    SelectUserRow(USER_RESULT_LENGTH);
    TPickListBox* box = PickListOf(grid, USER_RESULT_LENGTH);
    ASSERT_NE(box, nullptr);
    box->showPopup();
    ASSERT_TRUE(box->view()->isVisible());
    QPointer<QWidget> popup = box->view();

    demo->sensor->InjectFault(TSensorFault::NO_REPLY);
    window->Parameter_Editors->Read_User_Parameters->trigger();
    ASSERT_EQ(window->Sensor_Result, 3u);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    QApplication::processEvents(); // the closed editor goes on the next pass
    // No list left open to take a pick, the highlighted row and User_Row are both row 0.
    EXPECT_TRUE(popup.isNull() || !popup->isVisible());
    EXPECT_EQ(PickListOf(grid, USER_RESULT_LENGTH), nullptr);
    EXPECT_EQ(grid->currentRow(), 0);
    EXPECT_EQ(window->User_Row, 0);
    EXPECT_EQ(window->Factory_Row, 0);

    // After the next connect "Read" fetches the highlighted row, row 0.
    Connect();
    TSensorStore store = demo->sensor->Store();
    store.working.factory[USER_FIRST_FACTORY + USER_SENSOR_ON_OFF] = 0;
    store.working.factory[USER_FIRST_FACTORY + USER_RESULT_LENGTH] = 0;
    demo->sensor->SetStore(store);
    window->Parameter_Editors->Read_User_Parameter->trigger();
    EXPECT_EQ(window->Sensor_Result, 0u);
    EXPECT_EQ(Cell(grid, USER_SENSOR_ON_OFF), "off");
    EXPECT_EQ(Cell(grid, USER_RESULT_LENGTH), "1024");
    // The row the reset left current still opens its drop-down for a pick.
    ASSERT_NE(PickListOf(grid, USER_SENSOR_ON_OFF), nullptr);
}

TEST_F(SetupWindow, ConnectToASilentSensorShowsTheWaitCursorForItsWholeLength) {
    demo->sensor->InjectFault(TSensorFault::NO_REPLY, TFaultMode::EVERY_REPLY);
    // The window's thread is blocked in the call; another thread looks at the cursor.
    std::atomic<bool> sampling{true};
    std::atomic<int> samples{0}, waiting{0};
    std::thread sampler([&] {
        while (sampling) {
            ++samples;
            waiting += TWaitCursor::Depth() > 0;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    });
    QElapsedTimer clock;
    clock.start();
    window->Button_Connect->click();
    const qint64 blocked_ms = clock.elapsed();
    sampling = false;
    sampler.join();
    EXPECT_EQ(window->Sensor_Result, 3u);
    EXPECT_GE(blocked_ms, 900); // the identity's read time-out
    // Every sample but the few taken around the click itself saw the wait cursor.
    EXPECT_GT(samples.load(), 100);
    EXPECT_GE(waiting.load(), samples.load() - 20);
    EXPECT_EQ(TWaitCursor::Depth(), 0);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_EQ(boxes[0].text, "Read timeout.");
}

TEST_F(SetupWindow, TabWalksEveryControlOfThePageInReadingOrder) {
    Connect();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    // The connect bar's lists are locked while connected: the walk starts at the button.
    window->Button_Connect->setFocus(Qt::TabFocusReason);
    const QStringList expected = {"Button_Connect",
                                  "Button_Get_Result",
                                  "PageControl_Parameters",
                                  "ValueListEditor_User_Parameters",
                                  "CheckBoxReverse",
                                  "CSpinEditLevel",
                                  "CSpinEdit1",
                                  "CheckBoxAuto",
                                  "CSpinEditX",
                                  "PageControl_Interface",
                                  "Chart_Result_Oscilloscope",
                                  "Button_Connect"};
    QStringList walked;
    for (int k = 0; k < expected.size(); ++k) {
        QWidget* focus = QApplication::focusWidget();
        // A tab bar and a spin box's line edit stand for their control.
        while (focus && (focus->objectName().isEmpty() || focus->objectName().startsWith("qt_")))
            focus = focus->parentWidget();
        walked << (focus ? focus->objectName() : "(none)");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    EXPECT_EQ(walked, expected);

    // Shift+Tab walks back the same way (the last Tab went on to "Start Measure").
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Button_Connect");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    EXPECT_EQ(QApplication::focusWidget()->objectName(), "Chart_Result_Oscilloscope");

    // The chart takes the keyboard's menu key for its menu.
    window->Chart_Result_Oscilloscope->setFocus(Qt::TabFocusReason);
    QContextMenuEvent key_menu(QContextMenuEvent::Keyboard, QPoint(10, 10),
                               window->Chart_Result_Oscilloscope->mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(window->Chart_Result_Oscilloscope, &key_menu);
    EXPECT_TRUE(window->PopupMenu_Save_Data->isVisible());
    window->PopupMenu_Save_Data->hide();
}

TEST_F(SetupWindow, TabWalksTheCalibrationPageTopToBottomAndLeavesIt) {
    options.service = true;
    window.reset();
    Start(false);
    Connect();
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Calibration);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    window->PageControl_Interface->tabBar()->setFocus(Qt::TabFocusReason);
    QStringList walked;
    for (int k = 0; k < 40 && walked.size() < 40; ++k) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* focus = QApplication::focusWidget();
        walked << (focus ? focus->objectName() : "(none)");
        if (focus == window->Button_Connect)
            break;
    }
    // The four beside the chart's tabs, every control of the motor panel once, in its order,
    // then the check panel, then round.
    EXPECT_EQ(walked.indexOf("Button_Calibr_Workflow"), 0);
    const int motor = static_cast<int>(walked.indexOf("ComboBox_Motor_Device"));
    ASSERT_EQ(motor, 4) << walked.join(" ").toStdString();
    EXPECT_EQ(walked.indexOf("Button_Motor_Connect"), 5);
    EXPECT_LT(walked.indexOf("Button_Motor_Init"), walked.indexOf("SpinEdit_Motor_Move_Steps"));
    EXPECT_LT(walked.indexOf("Button_TABLE_Trans"), walked.indexOf("Button_TABLE_Save"));
    EXPECT_LT(walked.indexOf("Button_TABLE_Save"), walked.indexOf("Button_Calibr_Check"));
    EXPECT_EQ(walked.removeDuplicates(), 0);
    EXPECT_EQ(walked.back(), "Button_Connect");
}

// "Find..." finds a sensor whose rate and address were changed and sets the bar to them;
// Connect then reaches it, by its description or by the path typed into the device list.
TEST_F(SetupWindow, FindSetsTheBarToTheSensorThatAnsweredAndATypedPathConnects) {
    TSensorStore store = demo->sensor->Store();
    store.working.factory[USER_FIRST_FACTORY + USER_NETWORK_ADDRESS] = 5;
    store.working.factory[USER_FIRST_FACTORY + USER_UART_BAUDRATE] = 0x42; // 19200
    demo->sensor->SetStore(store);
    TConnectBar* bar = window->Connect_Bar;
    std::vector<TScanResult> seen;
    bar->Scan = [&](const TSensorConnection& base, const TScanProgress& progress) {
        seen.push_back(ScanForSensor(base, {921600, 19200}, {0, 1, 2, 3, 4, 5, 6, 7}, true, progress));
        return seen.back();
    };
    bar->Button_Connect_Find->click();
    ASSERT_EQ(seen.size(), 1u);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_TRUE(
        boxes[0].text.startsWith("Found the sensor 455 (serial number 12345) at 19200 bit/s, address 5"))
        << boxes[0].text.toStdString();
    EXPECT_EQ(window->ComboBox_Connect_Baud->currentText(), "19200");
    EXPECT_EQ(window->ComboBox_Connect_NetAddress->currentText(), "5");
    Connect();
    EXPECT_FALSE(bar->Button_Connect_Find->isEnabled());
    window->Button_Connect->click();

    bar->ComboBox_Connect_Device->setEditText(QString::fromStdString(demo->sensor->SlavePath()));
    EXPECT_EQ(bar->Selection().mode, LINK_MODE_COM);
    Connect();
    EXPECT_EQ(window->Label_Ranges_Serial_Value->text(), "12345");
}

// Two sensors and a motor driver on one PC: the device lists name each adapter by its tty and
// FTDI serial number, and the one picked is the one connected, whichever tty the kernel gave it.
TEST_F(SetupWindow, TheSensorAndTheMotorDriverPickedBySerialAreTheOnesConnected) {
    TFakeSysfsTree sysfs;
    sysfs.AddUsbTty("ttyUSB2", "1-3", SENSOR_USB_DESCRIPTION);
    TSensorTiming timing;
    timing.paced = false;
    TSensorSimulator second(timing);
    auto identity = TSensorSimulator::DEFAULT_IDENTITY;
    identity[IDENTITY_SERIAL_LO] = 777;
    second.SetIdentity(identity);
    sysfs.Plug("ttyUSB0", demo->sensor->SlavePath());
    const std::string motor_tty = sysfs.Plug("ttyUSB1", demo->stage->SlavePath());
    sysfs.Plug("ttyUSB2", second.SlavePath());
    sysfs.Use();

    TDeviceList* list = window->Connect_Bar->ComboBox_Connect_Device;
    list->showPopup(); // the list reads sysfs as it opens
    list->hidePopup();
    for (const auto& [serial, expected] : {std::pair{"FTttyUSB2", "777"}, {"FTttyUSB0", "12345"}}) {
        const int index = list->findText(serial, Qt::MatchEndsWith);
        ASSERT_GE(index, 0) << serial;
        list->setCurrentIndex(index);
        Connect();
        EXPECT_EQ(window->Label_Ranges_Serial_Value->text(), expected);
        EXPECT_FALSE(list->isEnabled());
        window->Button_Connect->click();
    }

    TCalibrationPage* page = window->Page_Calibration;
    page->ComboBox_Motor_Device->showPopup();
    page->ComboBox_Motor_Device->hidePopup();
    const int motor = page->ComboBox_Motor_Device->findText("FTttyUSB1", Qt::MatchEndsWith);
    ASSERT_GE(motor, 0);
    EXPECT_EQ(page->ComboBox_Motor_Device->findText(SENSOR_USB_DESCRIPTION), -1);
    page->ComboBox_Motor_Device->setCurrentIndex(motor);
    EXPECT_EQ(page->ComboBox_Motor_Device->Choice().name, motor_tty);
    page->Button_Motor_Connect->click();
    EXPECT_TRUE(page->Label_Motor_State->text().startsWith("Motor driver: connected"))
        << page->Label_Motor_State->text().toStdString();
    EXPECT_FALSE(page->ComboBox_Motor_Device->isEnabled());
}
