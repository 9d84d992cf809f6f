#include "ParameterDialogs.h"

#include "ParameterText.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

namespace zq455 {

TParameterDialog::TParameterDialog(QWidget* parent, Qt::WindowFlags flags) : QDialog(parent, flags) {
    Button1 = new QPushButton("OK", this);
    Button1->setObjectName("Button1");
    Button1->setDefault(true);
    Button2 = new QPushButton("Cancel", this);
    Button2->setObjectName("Button2");
    connect(Button1, &QPushButton::clicked, this, [this] { Button1Click(); });
    connect(Button2, &QPushButton::clicked, this, [this] { Button2Click(); });
}

void TParameterDialog::Button1Click() {
    Accepted = true;
    done(QDialog::Accepted);
}

void TParameterDialog::Button2Click() {
    Accepted = false;
    done(QDialog::Rejected);
}

TNumberDialog::TNumberDialog(QWidget* parent, const QString& caption, const QString& hint, uint32_t min,
                             uint32_t max)
    : TParameterDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                                   Qt::WindowTitleHint),
      Beep([] { QApplication::beep(); }), Minimum(min), Maximum(max) {
    setWindowTitle(caption);
    setFixedSize(224, 85);

    Label1 = new QLabel(hint, this);
    Label1->setObjectName("Label1");
    Label1->setGeometry(8, 32, 128, 16);

    Edit_Exposure_Value = new QLineEdit(this);
    Edit_Exposure_Value->setObjectName("Edit_Exposure_Value");
    Edit_Exposure_Value->setMaxLength(6);
    // Pasted text gets the same rule as typed keys: digits only.
    Edit_Exposure_Value->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,6}"), Edit_Exposure_Value));
    Edit_Exposure_Value->setGeometry(8, 52, 124, 24);
    Edit_Exposure_Value->installEventFilter(this);

    Button1->setGeometry(142, 26, 74, 24);
    Button2->setGeometry(142, 54, 74, 24);
}

void TNumberDialog::FormShow() {
    Saved_Value = Edit_Exposure_Value->text();
}

void TNumberDialog::FormClose() {
    const std::string repaired = RepairNumberText(Edit_Exposure_Value->text().toStdString(),
                                                  Saved_Value.toStdString(), Minimum, Maximum);
    Edit_Exposure_Value->setText(QString::fromStdString(repaired));
}

void TNumberDialog::showEvent(QShowEvent* event) {
    FormShow();
    QDialog::showEvent(event);
}

void TNumberDialog::done(int result) {
    FormClose();
    QDialog::done(result);
}

bool TNumberDialog::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Edit_Exposure_Value && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        const QString text = key->text();
        // Keys without a character (arrows, Home, Delete, Tab, Enter) are not typed characters.
        const bool typed = !text.isEmpty() && (text[0].unicode() >= 0x20 || text[0].unicode() == 8) &&
                           text[0].unicode() != 0x7F;
        if (typed && !(key->modifiers() & Qt::ControlModifier)) {
            if (!NumberFieldAcceptsKey(text[0].unicode())) {
                if (Beep)
                    Beep();
                return true;
            }
        }
    }
    return QDialog::eventFilter(watched, event);
}

TForm_Exposure::TForm_Exposure(QWidget* parent)
    : TNumberDialog(parent, "Exposure...", "Value [50:81960] us", EXPOSURE_MIN_US, EXPOSURE_MAX_US) {
    setObjectName("Form_Exposure");
    CheckBox_bit_Auto_Exposure = new QCheckBox("Autoexposure enabled", this);
    CheckBox_bit_Auto_Exposure->setObjectName("CheckBox_bit_Auto_Exposure");
    CheckBox_bit_Auto_Exposure->setGeometry(8, 4, 208, 20);
}

TForm_Exposure_Delay::TForm_Exposure_Delay(QWidget* parent)
    : TNumberDialog(parent, "Measurement Delay...", "Value [0:81915] us", DELAY_MIN_US, DELAY_MAX_US) {
    setObjectName("Form_Exposure_Delay");
    // No check box above the field here: the field and the buttons move up.
    Label1->move(8, 16);
    Edit_Exposure_Value->move(8, 36);
    Button1->move(142, 14);
    Button2->move(142, 46);
}

TRadioGroup::TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent)
    : QGroupBox(caption, parent) {
    Buttons = new QButtonGroup(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(6, 2, 4, 2);
    layout->setSpacing(0);
    for (int i = 0; i < items.size(); ++i) {
        auto* radio = new QRadioButton(items[i], this);
        radio->setObjectName(QString("%1_%2").arg(caption).arg(i));
        Buttons->addButton(radio, i);
        layout->addWidget(radio);
    }
    SetItemIndex(0);
}

int TRadioGroup::ItemIndex() const {
    return Buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index) {
    if (QAbstractButton* button = Buttons->button(index))
        button->setChecked(true);
}

TForm_Ext_Sig::TForm_Ext_Sig(QWidget* parent) : TParameterDialog(parent, Qt::Dialog) {
    setObjectName("Form_Ext_Sig");
    setWindowTitle("External Signals...");
    // 259 x 139 outside with the frame of a sizeable window.
    resize(251, 112);

    RadioGroupPriority = new TRadioGroup("Sync Priority", {"Internal", "External"}, this);
    RadioGroupPriority->setObjectName("RadioGroupPriority");
    RadioGroupPriority->setGeometry(4, 4, 80, 68);
    RadioGroupStrobeLevel = new TRadioGroup("Strobe level", {"Height", "Low"}, this);
    RadioGroupStrobeLevel->setObjectName("RadioGroupStrobeLevel");
    RadioGroupStrobeLevel->setGeometry(86, 4, 80, 68);
    RadioGroupExternalSync = new TRadioGroup("External Sync", {"Rising", "Falling"}, this);
    RadioGroupExternalSync->setObjectName("RadioGroupExternalSync");
    RadioGroupExternalSync->setGeometry(168, 4, 80, 68);

    Button1->setGeometry(44, 80, 75, 25);
    Button2->setGeometry(132, 80, 75, 25);
}

} // namespace zq455
