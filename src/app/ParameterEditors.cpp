#include "ParameterEditors.h"

#include "Main.h"
#include "ParameterDelegates.h"
#include "ParameterDialogs.h"
#include "ParameterText.h"
#include "WaitCursor.h"
#include "WidgetMaking.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QStringListModel>
#include <QTableWidget>

namespace zq455 {

namespace {

QTableWidget* MakeGrid(QWidget* parent, const char* name, int name_width, int value_width) {
    auto* grid = Named(new QTableWidget(0, 2, parent), name);
    grid->setHorizontalHeaderLabels({"Parameter", "Value"});
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setDefaultSectionSize(ROW_HEIGHT);
    grid->horizontalHeader()->setFixedHeight(ROW_HEIGHT + 2);
    grid->horizontalHeader()->setSectionsClickable(false);
    grid->horizontalHeader()->setHighlightSections(false);
    grid->setColumnWidth(0, name_width);
    grid->setColumnWidth(1, value_width);
    grid->setSelectionMode(QAbstractItemView::SingleSelection);
    grid->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    grid->setContextMenuPolicy(Qt::CustomContextMenu);
    grid->setWordWrap(false);
    // Tab leaves the grid for the next control; the arrow keys move between the rows.
    grid->setTabKeyNavigation(false);
    return grid;
}

bool IsInside(QWidget* widget, QWidget* container) {
    for (QWidget* w = widget; w; w = w->parentWidget())
        if (w == container)
            return true;
    return false;
}

} // namespace

TParameterEditors::TParameterEditors(TForm_Main& form, QWidget* user_sheet, QWidget* factory_sheet)
    : QObject(&form), Form(form) {
    ValueListEditor_User_Parameters = MakeGrid(user_sheet, "ValueListEditor_User_Parameters", 120, 93);
    ValueListEditor_User_Parameters->setEditTriggers(QAbstractItemView::NoEditTriggers);
    Pick_Lists.assign(USER_COUNT, nullptr);
    for (unsigned i = 0; i < USER_COUNT; ++i) {
        if (UserRow(i).style != TEditStyle::PICK_LIST)
            continue;
        QStringList items;
        for (const std::string& item : PickListItems(i))
            items << Text(item);
        Pick_Lists[i] = new QStringListModel(items, this);
    }
    ValueListEditor_User_Parameters->setItemDelegateForColumn(1, new TUserValueDelegate(this, Pick_Lists));

    ValueListEditor_Factory_Parameters =
        MakeGrid(factory_sheet, "ValueListEditor_Factory_Parameters", 135, 78);
    ValueListEditor_Factory_Parameters->setEditTriggers(
        QAbstractItemView::DoubleClicked | QAbstractItemView::SelectedClicked |
        QAbstractItemView::EditKeyPressed | QAbstractItemView::AnyKeyPressed);
    ValueListEditor_Factory_Parameters->setItemDelegateForColumn(1, new TFactoryValueDelegate(this));

    for (QTableWidget* grid : {ValueListEditor_User_Parameters, ValueListEditor_Factory_Parameters}) {
        grid->installEventFilter(this);
        grid->viewport()->installEventFilter(this);
    }
    connect(ValueListEditor_User_Parameters, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous_row, int) {
                if (row >= 0 && row != previous_row)
                    ValueListEditor_User_ParametersSelectCell(row);
                OpenValueEditor(ValueListEditor_User_Parameters, row, previous_row);
            });
    connect(ValueListEditor_Factory_Parameters, &QTableWidget::currentCellChanged, this,
            [this](int row, int, int previous_row, int) {
                if (row >= 0 && row != previous_row)
                    ValueListEditor_Factory_ParametersSelectCell(row);
            });
    connect(ValueListEditor_User_Parameters, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ValueListEditor_User_ParametersContextPopup(pos); });
    connect(ValueListEditor_Factory_Parameters, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ValueListEditor_Factory_ParametersContextPopup(pos); });
    connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
        // Leaving an editor for another control of this window; not another window taking
        // the focus (a message box must not accept the row once more).
        if (!old || !now || now->window() != &Form)
            return;
        if (IsInside(old, ValueListEditor_User_Parameters) && !IsInside(now, ValueListEditor_User_Parameters))
            ValueListEditor_User_ParametersExit();
        if (IsInside(old, ValueListEditor_Factory_Parameters) &&
            !IsInside(now, ValueListEditor_Factory_Parameters))
            ValueListEditor_Factory_ParametersExit();
    });
    BuildMenus();
}

void TParameterEditors::BuildMenus() {
    PopupMenu_User_Parameters = Named(new QMenu(&Form), "PopupMenu_User_Parameters");
    QMenu* m = PopupMenu_User_Parameters;
    Read_User_Parameter = MakeItem(m, "Read_User_Parameter", "Read");
    Load_User_Parameter = MakeItem(m, "Load_User_Parameter", "Load");
    Separator_User_Parameters_0 = MakeItem(m, "Separator_User_Parameters_0", "-");
    Read_User_Parameters = MakeItem(m, "Read_User_Parameters", "Read All");
    Load_User_Parameters = MakeItem(m, "Load_User_Parameters", "Load All");
    Separator_User_Parameters_1 = MakeItem(m, "Separator_User_Parameters_1", "-");
    Write_User_Parameters = MakeItem(m, "Write_User_Parameters", "Write to FLASH");
    Restore_User_Parameters = MakeItem(m, "Restore_User_Parameters", "Restore default");
    Separator_User_Parameters_2 = MakeItem(m, "Separator_User_Parameters_2", "-");
    Rotate_System = MakeItem(m, "Rotate_System", "Rotate system");
    Write_Angle = MakeItem(m, "Write_Angle", "Write angle to FLASH");
    Restore_Angle = MakeItem(m, "Restore_Angle", "Restore angle default");

    PopupMenu_Factory_Parameters = Named(new QMenu(&Form), "PopupMenu_Factory_Parameters");
    m = PopupMenu_Factory_Parameters;
    Read_Factory_Parameters = MakeItem(m, "Read_Factory_Parameters", "Read");
    Load_Factory_Parameters = MakeItem(m, "Load_Factory_Parameters", "Load");
    Separator_Factory_Parameters_0 = MakeItem(m, "Separator_Factory_Parameters_0", "-");
    Write_Factory_Parameters = MakeItem(m, "Write_Factory_Parameters", "Write to FLASH");
    Reastore_Factory_Parameters = MakeItem(m, "Reastore_Factory_Parameters", "Restore default");

    const std::pair<QAction*, void (TParameterEditors::*)()> handlers[] = {
        {Read_User_Parameter, &TParameterEditors::Read_User_ParameterClick},
        {Load_User_Parameter, &TParameterEditors::Load_User_ParameterClick},
        {Read_User_Parameters, &TParameterEditors::Read_User_ParametersClick},
        {Load_User_Parameters, &TParameterEditors::Load_User_ParametersClick},
        {Write_User_Parameters, &TParameterEditors::Write_User_ParametersClick},
        {Restore_User_Parameters, &TParameterEditors::Restore_User_ParametersClick},
        {Rotate_System, &TParameterEditors::Rotate_SystemClick},
        {Write_Angle, &TParameterEditors::Write_AngleClick},
        {Restore_Angle, &TParameterEditors::Restore_AngleClick},
        {Read_Factory_Parameters, &TParameterEditors::Read_Factory_ParametersClick},
        {Load_Factory_Parameters, &TParameterEditors::Load_Factory_ParametersClick},
        {Write_Factory_Parameters, &TParameterEditors::Write_Factory_ParametersClick},
        {Reastore_Factory_Parameters, &TParameterEditors::Reastore_Factory_ParametersClick},
    };
    for (const auto& [action, handler] : handlers)
        connect(action, &QAction::triggered, this, [this, handler = handler] {
            const TWaitCursor wait;
            (this->*handler)();
        });
}

void TParameterEditors::Show_User_Parameters() {
    QTableWidget* grid = ValueListEditor_User_Parameters;
    if (grid->rowCount() == static_cast<int>(USER_COUNT)) {
        for (unsigned i = 0; i < USER_COUNT; ++i)
            grid->item(static_cast<int>(i), 1)->setText(Text(UserValueText(i, Form.User_Params[i])));
        return;
    }
    grid->setRowCount(0);
    for (unsigned i = 0; i < USER_COUNT; ++i) {
        const int row = grid->rowCount();
        grid->insertRow(row);
        auto* name = new QTableWidgetItem(UserName(i));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        auto* value = new QTableWidgetItem(Text(UserValueText(i, Form.User_Params[i])));
        // Never typed into: a value changes by a pick from the list or through a dialog.
        Qt::ItemFlags flags = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (UserRow(i).style != TEditStyle::NONE)
            flags |= Qt::ItemIsEditable;
        value->setFlags(flags);
        grid->setItem(row, 0, name);
        grid->setItem(row, 1, value);
    }
}

void TParameterEditors::Show_Factory_Parameters() {
    QTableWidget* grid = ValueListEditor_Factory_Parameters;
    if (grid->rowCount() == static_cast<int>(FACTORY_COUNT)) {
        for (unsigned i = 0; i < FACTORY_COUNT; ++i)
            grid->item(static_cast<int>(i), 1)->setText(QString::number(Form.Factory_Params[i]));
        return;
    }
    grid->setRowCount(0);
    for (unsigned i = 0; i < FACTORY_COUNT; ++i) {
        const int row = grid->rowCount();
        grid->insertRow(row);
        auto* name = new QTableWidgetItem(FactoryName(i));
        name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
        auto* value = new QTableWidgetItem(QString::number(Form.Factory_Params[i]));
        value->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
        grid->setItem(row, 0, name);
        grid->setItem(row, 1, value);
    }
}

void TParameterEditors::Accept_User_Parameter() {
    QTableWidgetItem* item = ValueListEditor_User_Parameters->item(Form.User_Row, 1);
    if (Form.User_Row >= USER_COUNT || !item)
        return;
    uint16_t& v = Form.User_Params[Form.User_Row];
    if (UserRowRewritesCell(Form.User_Row)) {
        item->setText(QString::number(v));
        return;
    }
    v = UserValueFromText(Form.User_Row, item->text().toStdString(), v);
}

void TParameterEditors::Accept_Factory_Parameter() {
    QTableWidgetItem* item = ValueListEditor_Factory_Parameters->item(Form.Factory_Row, 1);
    if (Form.Factory_Row >= FACTORY_COUNT || !item || Accepting)
        return;
    const std::string text = item->text().toStdString();
    bool out_of_range = false;
    if (const std::optional<uint16_t> value = FactoryValueFromText(text, out_of_range)) {
        Form.Factory_Params[Form.Factory_Row] = *value;
        return;
    }
    // The old value stays; the engineer corrects the text.
    Accepting = true;
    QMessageBox box(QMessageBox::Critical, APPLICATION_TITLE,
                    Text(out_of_range ? RangeMessage(text) : ConversionMessage(text)), QMessageBox::Ok,
                    &Form);
    Form.ShowModal(box);
    Accepting = false;
}

// Back to the first row in both editors, with no editor left open: a pick in a list the
// reset left open would be lost, and the menus act on the row the grid highlights.
void TParameterEditors::ResetEditorRows() {
    QTableWidget* user = ValueListEditor_User_Parameters;
    const bool was_first = user->currentRow() == 0;
    for (int row = 0; row < user->rowCount(); ++row)
        user->closePersistentEditor(user->item(row, 1));
    if (user->rowCount() > 0) {
        // The move selects row 0 as a click would, and opens its drop-down.
        user->setCurrentCell(0, 1);
        if (was_first)
            OpenValueEditor(user, 0, -1);
    }
    // A typed factory value is committed and its editor closed by the move; the row is not
    // taken into the array (a half-typed number would raise a second box).
    QTableWidget* factory = ValueListEditor_Factory_Parameters;
    if (factory->rowCount() > 0) {
        const QSignalBlocker quiet(factory);
        factory->setCurrentCell(0, 1);
    }
    Form.User_Row = 0;
    Form.Factory_Row = 0;
}

void TParameterEditors::OpenValueEditor(QTableWidget* grid, int row, int previous_row) {
    if (previous_row >= 0 && previous_row != row)
        grid->closePersistentEditor(grid->item(previous_row, 1));
    if (row < 0 || row >= grid->rowCount() || row == previous_row)
        return;
    if (UserRow(static_cast<unsigned>(row)).style != TEditStyle::NONE)
        grid->openPersistentEditor(grid->item(row, 1));
}

void TParameterEditors::ValueListEditor_User_ParametersSelectCell(int row) {
    Accept_User_Parameter();
    Form.User_Row = static_cast<uint8_t>(row);
}

void TParameterEditors::ValueListEditor_Factory_ParametersSelectCell(int row) {
    Accept_Factory_Parameter();
    Form.Factory_Row = static_cast<uint8_t>(row);
}

void TParameterEditors::ValueListEditor_User_ParametersExit() {
    Accept_User_Parameter();
}
void TParameterEditors::ValueListEditor_Factory_ParametersExit() {
    Accept_Factory_Parameter();
}
void TParameterEditors::ValueListEditor_User_ParametersKeyPress() {
    Accept_User_Parameter();
}
void TParameterEditors::ValueListEditor_Factory_ParametersKeyPress() {
    Accept_Factory_Parameter();
}

void TParameterEditors::ValueListEditor_User_ParametersContextPopup(const QPoint& pos) {
    Accept_User_Parameter();
    PopupMenu_User_Parameters->popup(ValueListEditor_User_Parameters->viewport()->mapToGlobal(pos));
}

void TParameterEditors::ValueListEditor_Factory_ParametersContextPopup(const QPoint& pos) {
    Accept_Factory_Parameter();
    PopupMenu_Factory_Parameters->popup(ValueListEditor_Factory_Parameters->viewport()->mapToGlobal(pos));
}

bool TParameterEditors::eventFilter(QObject* watched, QEvent* event) {
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return QObject::eventFilter(watched, event);
    const bool user = IsInside(widget, ValueListEditor_User_Parameters);
    const bool factory = IsInside(widget, ValueListEditor_Factory_Parameters);
    // Space, F4 or Alt+Down on the user grid open the current row's list or dialog: the
    // keyboard's way to a deliberate pick.
    if (event->type() == QEvent::KeyPress && widget == ValueListEditor_User_Parameters) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool opens = key->key() == Qt::Key_Space || key->key() == Qt::Key_F4 ||
                           (key->key() == Qt::Key_Down && (key->modifiers() & Qt::AltModifier));
        QTableWidget* grid = ValueListEditor_User_Parameters;
        if (opens && grid->currentRow() >= 0) {
            ValueListEditor_User_ParametersKeyPress();
            if (OpenValueCell(grid->indexWidget(grid->model()->index(grid->currentRow(), 1))))
                return true;
        }
    }
    if (event->type() == QEvent::KeyPress && !static_cast<QKeyEvent*>(event)->text().isEmpty()) {
        // Every typed key first accepts the row as it stands.
        if (user && widget == ValueListEditor_User_Parameters)
            ValueListEditor_User_ParametersKeyPress();
        if (factory &&
            (widget == ValueListEditor_Factory_Parameters || widget->objectName() == "FactoryEdit"))
            ValueListEditor_Factory_ParametersKeyPress();
    }
    // A right click opens the menu without moving the selection: the menu acts on the row
    // selected last.
    if ((user || factory) &&
        (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) &&
        static_cast<QMouseEvent*>(event)->button() == Qt::RightButton &&
        (widget == ValueListEditor_User_Parameters->viewport() ||
         widget == ValueListEditor_Factory_Parameters->viewport()))
        return true;
    return QObject::eventFilter(watched, event);
}

void TParameterEditors::ValueListEditor_User_ParametersEditButtonClick() {
    uint16_t& v = Form.User_Params[Form.User_Row % USER_COUNT];
    switch (Form.User_Row) {
    case USER_EXTERNAL_SIGNALS:
        if (Form.Form_Ext_Sig) {
            const TExtSignals preset = ExtSignalsFromValue(v);
            Form.Form_Ext_Sig->RadioGroupPriority->SetItemIndex(preset.priority);
            Form.Form_Ext_Sig->RadioGroupStrobeLevel->SetItemIndex(preset.strobe_level);
            Form.Form_Ext_Sig->RadioGroupExternalSync->SetItemIndex(preset.external_sync);
            Form.Form_Ext_Sig->Accepted = false;
            Form.ShowModal(*Form.Form_Ext_Sig);
            if (Form.Form_Ext_Sig->Accepted)
                v = ExtSignalsToValue(v, {Form.Form_Ext_Sig->RadioGroupPriority->ItemIndex(),
                                          Form.Form_Ext_Sig->RadioGroupStrobeLevel->ItemIndex(),
                                          Form.Form_Ext_Sig->RadioGroupExternalSync->ItemIndex()});
        }
        break;
    case USER_EXPOSURE:
        if (Form.Form_Exposure) {
            Form.Form_Exposure->Accepted = false;
            Form.Form_Exposure->CheckBox_bit_Auto_Exposure->setChecked(ExposureAutoFromValue(v));
            Form.Form_Exposure->Edit_Exposure_Value->setText(QString::number(ExposureUsFromValue(v)));
            Form.ShowModal(*Form.Form_Exposure);
            if (Form.Form_Exposure->Accepted)
                v = ExposureToValue(v, Form.Form_Exposure->CheckBox_bit_Auto_Exposure->isChecked(),
                                    Form.Form_Exposure->Edit_Exposure_Value->text().toUInt());
        }
        break;
    case USER_EXTERNAL_DELAY:
        if (Form.Form_Exposure_Delay) {
            Form.Form_Exposure_Delay->Accepted = false;
            Form.Form_Exposure_Delay->Edit_Exposure_Value->setText(QString::number(DelayUsFromValue(v)));
            Form.ShowModal(*Form.Form_Exposure_Delay);
            if (Form.Form_Exposure_Delay->Accepted)
                v = DelayToValue(Form.Form_Exposure_Delay->Edit_Exposure_Value->text().toUInt());
        }
        break;
    default:
        break;
    }
    Show_User_Parameters();
}

void TParameterEditors::Read_User_ParameterClick() {
    uint16_t value = 0;
    if ((Form.Sensor_Result = Form.Sensor->ReadUserParameter(Form.User_Row, value)))
        return;
    if (Form.User_Row < USER_COUNT)
        Form.User_Params[Form.User_Row] = value;
    Show_User_Parameters();
}

void TParameterEditors::Load_User_ParameterClick() {
    if ((Form.Sensor_Result =
             Form.Sensor->LoadUserParameter(Form.User_Row, Form.User_Params[Form.User_Row % USER_COUNT])))
        return;
    Show_User_Parameters();
    Form.FollowLinkSettings();
}

void TParameterEditors::Read_User_ParametersClick() {
    if ((Form.Sensor_Result = Form.Sensor->ReadUserParameters(Form.User_Params)))
        return;
    Show_User_Parameters();
}

void TParameterEditors::Load_User_ParametersClick() {
    if ((Form.Sensor_Result = Form.Sensor->LoadUserParameters(Form.User_Params)))
        return;
    Show_User_Parameters();
    Form.FollowLinkSettings();
}

// Write to FLASH and Restore default: the sensor confirms, then the values are read back.
void TParameterEditors::FlashUser(bool restore) {
    if ((Form.Sensor_Result = Form.Sensor->FlashUserParameters(restore)))
        return;
    if ((Form.Sensor_Result = Form.Sensor->ReadUserParameters(Form.User_Params)))
        return;
    Show_User_Parameters();
    Form.FollowLinkSettings();
}

void TParameterEditors::FlashAngle(bool restore) {
    if ((Form.Sensor_Result = Form.Sensor->FlashAngle(restore)))
        return;
    uint32_t bits = 0;
    if ((Form.Sensor_Result = Form.Sensor->ReadAngle(bits)))
        return;
    Form.SetAngle(bits);
}

void TParameterEditors::FlashFactory(bool restore) {
    if ((Form.Sensor_Result = Form.Sensor->FlashFactoryParameters(restore)))
        return;
    if ((Form.Sensor_Result = Form.Sensor->ReadFactoryParameters(Form.Factory_Params)))
        return;
    Show_Factory_Parameters();
}

void TParameterEditors::Write_User_ParametersClick() {
    FlashUser(false);
}
void TParameterEditors::Restore_User_ParametersClick() {
    FlashUser(true);
}

void TParameterEditors::Rotate_SystemClick() {
    uint32_t bits = 0;
    if ((Form.Sensor_Result = Form.Sensor->RotateSystem(bits)))
        return;
    Form.SetAngle(bits);
}

void TParameterEditors::Write_AngleClick() {
    FlashAngle(false);
}
void TParameterEditors::Restore_AngleClick() {
    FlashAngle(true);
}

void TParameterEditors::Read_Factory_ParametersClick() {
    if ((Form.Sensor_Result = Form.Sensor->ReadFactoryParameters(Form.Factory_Params)))
        return;
    Show_Factory_Parameters();
}

void TParameterEditors::Load_Factory_ParametersClick() {
    if ((Form.Sensor_Result = Form.Sensor->LoadFactoryParameters(Form.Factory_Params)))
        return;
    Show_Factory_Parameters();
}

void TParameterEditors::Write_Factory_ParametersClick() {
    FlashFactory(false);
}
void TParameterEditors::Reastore_Factory_ParametersClick() {
    FlashFactory(true);
}

} // namespace zq455
