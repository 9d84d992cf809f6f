#include "SettingsFiles.h"

#include "Main.h"
#include "ParameterEditors.h"
#include "ParameterText.h"
#include "WaitCursor.h"
#include "WidgetMaking.h"
#include "sensor/AngleText.h"
#include "settings/SettingsSync.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QVBoxLayout>

namespace zq455 {

namespace {

constexpr const char* SETTINGS_FILTER = "Settings files(*.json)|*.json|All files(*.*)|*.*";

QString AngleDegrees(float radians) {
    return Text(AngleText(radians)).remove("Angle = ");
}

QString Joined(const std::vector<TSettingDifference>& differences) {
    QStringList names;
    for (const TSettingDifference& d : differences)
        names << Text(d.name);
    return names.join(", ");
}

} // namespace

QString EditorTextOfDifference(const TSettingDifference& d) {
    switch (d.kind) {
    case TSettingKind::USER:
        return Text(UserValueText(d.index, d.sensor)) + " → " + Text(UserValueText(d.index, d.file));
    case TSettingKind::FACTORY:
        return QString("%1 → %2").arg(d.sensor).arg(d.file);
    case TSettingKind::ANGLE:
        return AngleDegrees(d.sensor_angle) + " → " + AngleDegrees(d.file_angle);
    }
    return {};
}

TSettingsCompareDialog::TSettingsCompareDialog(QWidget* parent, const QString& title, const QString& heading,
                                               const std::vector<TSettingDifference>& differences,
                                               bool can_load)
    : QDialog(parent) {
    setObjectName(can_load ? "Form_Settings_Apply" : "Form_Settings_Compare");
    setWindowTitle(title);
    Label_Heading = Named(new QLabel(heading, this), "Label_Heading");
    Label_Heading->setWordWrap(true);
    Table_Differences =
        Named(new QTableWidget(static_cast<int>(differences.size()), 4, this), "Table_Differences");
    Table_Differences->setHorizontalHeaderLabels({"Parameter", "Sensor", "File", "Shown in the editor"});
    Table_Differences->verticalHeader()->hide();
    Table_Differences->verticalHeader()->setDefaultSectionSize(ROW_HEIGHT + 2);
    Table_Differences->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Table_Differences->setSelectionMode(QAbstractItemView::NoSelection);
    for (int row = 0; row < static_cast<int>(differences.size()); ++row) {
        const TSettingDifference& d = differences[static_cast<size_t>(row)];
        const bool angle = d.kind == TSettingKind::ANGLE;
        const QStringList cells = {
            Text(d.name), angle ? QString::number(d.sensor_angle, 'g', 7) : QString::number(d.sensor),
            angle ? QString::number(d.file_angle, 'g', 7) : QString::number(d.file),
            EditorTextOfDifference(d)};
        for (int column = 0; column < 4; ++column)
            Table_Differences->setItem(row, column, new QTableWidgetItem(cells[column]));
    }
    Table_Differences->resizeColumnsToContents();
    Table_Differences->horizontalHeader()->setStretchLastSection(true);
    auto* buttons = new QDialogButtonBox(this);
    if (can_load) {
        Named(buttons->addButton("Load", QDialogButtonBox::AcceptRole), "Button_Load");
        Named(buttons->addButton(QDialogButtonBox::Cancel), "Button_Cancel");
    } else {
        Named(buttons->addButton(QDialogButtonBox::Close), "Button_Close");
    }
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label_Heading);
    layout->addWidget(Table_Differences, 1);
    layout->addWidget(buttons);
    resize(560, std::min(520, 120 + (ROW_HEIGHT + 2) * static_cast<int>(differences.size())));
}

TSettingsFiles::TSettingsFiles(TForm_Main& form, TParameterEditors& editors)
    : QObject(&form), Form(form), Editors(editors) {
    SaveDialogSettings = std::make_unique<TFileDialog>(&form, true);
    OpenDialogSettings = std::make_unique<TFileDialog>(&form, false);
    for (TFileDialog* dialog : {SaveDialogSettings.get(), OpenDialogSettings.get()}) {
        dialog->Filter = SETTINGS_FILTER;
        dialog->DefaultExt = "json";
    }
    AddItems(Editors.PopupMenu_User_Parameters, "User");
    AddItems(Editors.PopupMenu_Factory_Parameters, "Factory");
}

TSettingsFiles::~TSettingsFiles() = default;

void TSettingsFiles::AddItems(QMenu* menu, const char* suffix) {
    const std::string separator = std::string("Separator_Settings_") + suffix;
    MakeItem(menu, separator.c_str(), "-");
    const struct {
        std::vector<QAction*>& list;
        const char* name;
        const char* caption;
        void (TSettingsFiles::*handler)();
    } items[] = {
        {Save_Settings, "Save_Settings_", "Save settings to file...", &TSettingsFiles::SaveClick},
        {Compare_Settings, "Compare_Settings_", "Compare with file...", &TSettingsFiles::CompareClick},
        {Apply_Settings, "Apply_Settings_", "Apply settings from file...", &TSettingsFiles::ApplyClick},
    };
    for (const auto& item : items) {
        const std::string name = item.name + std::string(suffix);
        QAction* action = MakeItem(menu, name.c_str(), item.caption);
        connect(action, &QAction::triggered, this, [this, handler = item.handler] { (this->*handler)(); });
        item.list.push_back(action);
    }
}

bool TSettingsFiles::Factory() const {
    return Form.PageControl_Parameters->isTabVisible(
        Form.PageControl_Parameters->indexOf(Form.TabSheet_Factory_Parameters));
}

void TSettingsFiles::Message(int icon, const QString& text) {
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), APPLICATION_TITLE, text, QMessageBox::Ok, &Form);
    Form.ShowModal(box);
}

void TSettingsFiles::SaveClick() {
    // What the sensor holds, not an edit the engineer has not loaded: the file is the sensor's.
    TSensorSettings settings;
    {
        const TWaitCursor wait;
        if ((Form.Sensor_Result = ReadSensorSettings(*Form.Sensor, Factory(), settings)))
            return;
    }
    TFileDialog& dialog = *SaveDialogSettings;
    dialog.InitialDir = Form.DataFolder();
    if (!dialog.Execute())
        return;
    const TSettingsResult written =
        WriteSettingsFile(QFile::encodeName(dialog.FileName).toStdString(), settings);
    if (!written.ok)
        Message(QMessageBox::Critical, Text(written.message));
}

bool TSettingsFiles::Load(QString& path, TSensorSettings& file, TSensorSettings& sensor) {
    TFileDialog& dialog = *OpenDialogSettings;
    dialog.InitialDir = Form.DataFolder();
    if (!dialog.Execute())
        return false;
    path = dialog.FileName;
    const TSettingsResult read = ReadSettingsFile(QFile::encodeName(path).toStdString(), file);
    if (!read.ok) {
        Message(QMessageBox::Critical, Text(read.message));
        return false;
    }
    {
        const TWaitCursor wait;
        if ((Form.Sensor_Result = ReadSensorSettings(*Form.Sensor, file.has_factory && Factory(), sensor)))
            return false;
    }
    if (file.device_type != sensor.device_type) {
        QMessageBox ask(
            QMessageBox::Question, APPLICATION_TITLE,
            QString(
                "%1 holds the settings of another device type:\nfile: %2\nsensor: %3\nUse it all the same?")
                .arg(path, Text(IdentityText(file)), Text(IdentityText(sensor))),
            QMessageBox::Yes | QMessageBox::No, &Form);
        ask.setDefaultButton(QMessageBox::No);
        if (Form.ShowModal(ask) != QMessageBox::Yes)
            return false;
    }
    if (!file.has_factory || !Factory())
        file.has_factory = false; // the factory values are compared and loaded in service mode only
    return true;
}

bool TSettingsFiles::Differences(QString& path, TSensorSettings& file, TSensorSettings& sensor,
                                 std::vector<TSettingDifference>& differences, const QString& when_none) {
    if (!Load(path, file, sensor))
        return false;
    differences = CompareSettings(sensor, file);
    if (differences.empty()) {
        Message(QMessageBox::Information,
                QString("The sensor holds the settings of %1%2").arg(path, when_none));
        return false;
    }
    return true;
}

void TSettingsFiles::CompareClick() {
    QString path;
    TSensorSettings file, sensor;
    std::vector<TSettingDifference> differences;
    if (!Differences(path, file, sensor, differences, "."))
        return;
    TSettingsCompareDialog dialog(
        &Form, "Compare with file",
        QString("%1 value(s) differ between the sensor and %2:").arg(differences.size()).arg(path),
        differences, false);
    Form.ShowModal(dialog);
}

void TSettingsFiles::ApplyClick() {
    QString path;
    TSensorSettings file, sensor;
    std::vector<TSettingDifference> differences;
    if (!Differences(path, file, sensor, differences, ": nothing to load."))
        return;
    TSettingsCompareDialog dialog(&Form, "Apply settings from file",
                                  QString("Load these values of %1 into the sensor?").arg(path), differences,
                                  true);
    if (Form.ShowModal(dialog) != QDialog::Accepted)
        return;

    TApplyOutcome outcome;
    {
        const TWaitCursor wait;
        outcome = ApplySettings(*Form.Sensor, sensor, file, false);
        if ((Form.Sensor_Result = outcome.result))
            return;
        // What the sensor holds now goes into the editors, as a Read All would.
        if ((Form.Sensor_Result = Form.Sensor->ReadUserParameters(Form.User_Params)))
            return;
        if (file.has_factory &&
            (Form.Sensor_Result = Form.Sensor->ReadFactoryParameters(Form.Factory_Params)))
            return;
    }
    Editors.Show_User_Parameters();
    Editors.Show_Factory_Parameters();
    Form.FollowLinkSettings();
    QString text =
        QString("Loaded %1 value(s): %2. They are kept after a restart once written with \"Write to FLASH\".")
            .arg(outcome.loaded.size())
            .arg(Joined(outcome.loaded));
    if (!outcome.not_loaded.empty())
        text += QString("\nNot loaded: %1 (set by \"Rotate system\").").arg(Joined(outcome.not_loaded));
    if (!outcome.still.empty())
        text += QString("\nStill different after the read-back: %1.").arg(Joined(outcome.still));
    Message(outcome.still.empty() ? QMessageBox::Information : QMessageBox::Warning, text);
}

} // namespace zq455
