#pragma once
// A sensor's settings as a file, from the parameter editors' menus: "Save settings to
// file...", "Compare with file..." and "Apply settings from file...". Compare and apply show
// only the parameters that differ, each as the editor would show it; apply loads exactly
// those (the sensor's Load commands), reads them back and leaves "Write to FLASH" to the
// engineer. The file format and the loading are plain C++ (src/settings/).

#include "settings/SettingsFile.h"

#include <QDialog>
#include <QObject>
#include <memory>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QTableWidget;

namespace zq455 {

class TFileDialog;
class TForm_Main;
class TParameterEditors;

// The table of differing parameters: Parameter, Sensor, File (device values) and "Shown in
// the editor" ("1024 → 256"). With `can_load` its buttons are Load and Cancel, else Close.
class TSettingsCompareDialog : public QDialog {
public:
    TSettingsCompareDialog(QWidget* parent, const QString& title, const QString& heading,
                           const std::vector<TSettingDifference>& differences, bool can_load);
    QLabel* Label_Heading = nullptr;
    QTableWidget* Table_Differences = nullptr;
};

// The "Shown in the editor" text of one difference: the sensor's and the file's values as
// the user editor (pick-list texts), the factory editor (decimal) or the angle panel shows them.
QString EditorTextOfDifference(const TSettingDifference& difference);

class TSettingsFiles : public QObject {
public:
    TSettingsFiles(TForm_Main& form, TParameterEditors& editors);
    ~TSettingsFiles() override;

    void SaveClick();
    void CompareClick();
    void ApplyClick();

    // Tests answer these instead of the file dialogs.
    std::unique_ptr<TFileDialog> SaveDialogSettings;
    std::unique_ptr<TFileDialog> OpenDialogSettings;
    // One set of items on each editor's menu.
    std::vector<QAction*> Save_Settings, Compare_Settings, Apply_Settings;

private:
    void AddItems(QMenu* menu, const char* suffix);
    // Reads and checks a file the engineer picks, and what the sensor holds now. False when
    // the engineer cancelled, the file was refused (a box said why) or the sensor failed
    // (its code is in the window's Sensor_Result).
    bool Load(QString& path, TSensorSettings& file, TSensorSettings& sensor);
    // Load, then the differences; false (after a box ending in `when_none`) when there are none.
    bool Differences(QString& path, TSensorSettings& file, TSensorSettings& sensor,
                     std::vector<TSettingDifference>& differences, const QString& when_none);
    // With the factory values: in service mode, where the factory editor is shown.
    bool Factory() const;
    void Message(int icon, const QString& text);

    TForm_Main& Form;
    TParameterEditors& Editors;
};

} // namespace zq455
