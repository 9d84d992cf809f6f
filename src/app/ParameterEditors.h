#pragma once
// The two parameter editors of the window's left panel: the user grid (display units, pick
// lists and the three dialogs) and the factory grid (typed device numbers), their handlers,
// and the two pop-up menus that move values between the window's copies and the sensor
// (Read, Load, Write to FLASH, Restore default, the angle commands). The values themselves
// (User_Params, Factory_Params, the rows, the angle) stay the window's shared state.

#include <QObject>
#include <QPoint>
#include <vector>

class QAction;
class QMenu;
class QStringListModel;
class QTableWidget;
class QWidget;

namespace zq455 {

class TForm_Main;

class TParameterEditors : public QObject {
public:
    // Builds the grids into the two tab sheets and the menus; `form` holds the values.
    TParameterEditors(TForm_Main& form, QWidget* user_sheet, QWidget* factory_sheet);

    void Show_User_Parameters();
    void Show_Factory_Parameters();
    void Accept_User_Parameter();
    void Accept_Factory_Parameter();
    // The error monitor's reset: no editor left open, both grids back on row 0.
    void ResetEditorRows();

    void ValueListEditor_User_ParametersSelectCell(int row);
    void ValueListEditor_Factory_ParametersSelectCell(int row);
    void ValueListEditor_User_ParametersExit();
    void ValueListEditor_Factory_ParametersExit();
    void ValueListEditor_User_ParametersKeyPress();
    void ValueListEditor_Factory_ParametersKeyPress();
    void ValueListEditor_User_ParametersContextPopup(const QPoint& pos);
    void ValueListEditor_Factory_ParametersContextPopup(const QPoint& pos);
    void ValueListEditor_User_ParametersEditButtonClick();

    // Menu commands. Each call's code goes to the window's Sensor_Result; the first failure
    // ends the command and leaves the editor and the connect bar as they were.
    void Read_User_ParameterClick();
    void Load_User_ParameterClick();
    void Read_User_ParametersClick();
    void Load_User_ParametersClick();
    void Write_User_ParametersClick();
    void Restore_User_ParametersClick();
    void Rotate_SystemClick();
    void Write_AngleClick();
    void Restore_AngleClick();
    void Read_Factory_ParametersClick();
    void Load_Factory_ParametersClick();
    void Write_Factory_ParametersClick();
    void Reastore_Factory_ParametersClick();

    QTableWidget* ValueListEditor_User_Parameters = nullptr;
    QTableWidget* ValueListEditor_Factory_Parameters = nullptr;

    QMenu* PopupMenu_User_Parameters = nullptr;
    QAction* Read_User_Parameter = nullptr;
    QAction* Load_User_Parameter = nullptr;
    QAction* Separator_User_Parameters_0 = nullptr;
    QAction* Read_User_Parameters = nullptr;
    QAction* Load_User_Parameters = nullptr;
    QAction* Separator_User_Parameters_1 = nullptr;
    QAction* Write_User_Parameters = nullptr;
    QAction* Restore_User_Parameters = nullptr;
    QAction* Separator_User_Parameters_2 = nullptr;
    QAction* Rotate_System = nullptr;
    QAction* Write_Angle = nullptr;
    QAction* Restore_Angle = nullptr;
    QMenu* PopupMenu_Factory_Parameters = nullptr;
    QAction* Read_Factory_Parameters = nullptr;
    QAction* Load_Factory_Parameters = nullptr;
    QAction* Separator_Factory_Parameters_0 = nullptr;
    QAction* Write_Factory_Parameters = nullptr;
    QAction* Reastore_Factory_Parameters = nullptr;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void FlashUser(bool restore);
    void FlashAngle(bool restore);
    void FlashFactory(bool restore);
    // Opens the row's drop-down or edit button when a value cell becomes current.
    void OpenValueEditor(QTableWidget* grid, int row, int previous_row);

    TForm_Main& Form;
    std::vector<QStringListModel*> Pick_Lists; // per user row; null for rows without a list
    bool Accepting = false;                    // an accept is showing its conversion message
};

} // namespace zq455
