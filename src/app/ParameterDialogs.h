#pragma once
// The three small modal dialogs of the user parameter editor: exposure time, measurement
// delay and the external signal settings. They hold text and choices only; the editor
// presets them and converts their controls back into device values.

#include <QDialog>
#include <QGroupBox>
#include <functional>

class QButtonGroup;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace zq455 {

// OK sets Accepted and Cancel clears it; the caller clears it before each show, so closing
// the dialog any other way counts as Cancel.
class TParameterDialog : public QDialog {
public:
    TParameterDialog(QWidget* parent, Qt::WindowFlags flags);

    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    bool Accepted = false;

    void Button1Click();
    void Button2Click();
};

// The exposure and delay dialogs: a number field of at most six digits that only takes
// digits and backspace, and that is brought back into [min, max] when the dialog closes.
class TNumberDialog : public TParameterDialog {
public:
    TNumberDialog(QWidget* parent, const QString& caption, const QString& hint, uint32_t min, uint32_t max);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit_Exposure_Value = nullptr;

    QString Saved_Value;
    // The system's simple beep for a refused key; tests count the calls.
    std::function<void()> Beep;

    void FormShow();
    // Range repair of the number field; runs however the dialog closes.
    void FormClose();

    const uint32_t Minimum;
    const uint32_t Maximum;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void done(int result) override;
};

class TForm_Exposure : public TNumberDialog {
public:
    explicit TForm_Exposure(QWidget* parent);
    QCheckBox* CheckBox_bit_Auto_Exposure = nullptr;
};

class TForm_Exposure_Delay : public TNumberDialog {
public:
    explicit TForm_Exposure_Delay(QWidget* parent);
};

// A titled group of mutually exclusive choices with an item index, 0 = the first item.
class TRadioGroup : public QGroupBox {
public:
    TRadioGroup(const QString& caption, const QStringList& items, QWidget* parent);
    int ItemIndex() const;
    void SetItemIndex(int index);
    QButtonGroup* Buttons = nullptr;
};

class TForm_Ext_Sig : public TParameterDialog {
public:
    explicit TForm_Ext_Sig(QWidget* parent);

    TRadioGroup* RadioGroupPriority = nullptr;
    TRadioGroup* RadioGroupStrobeLevel = nullptr;
    TRadioGroup* RadioGroupExternalSync = nullptr;
};

} // namespace zq455
