#include "ParameterDelegates.h"

#include "ParameterEditors.h"
#include "ParameterText.h"
#include "WidgetMaking.h"
#include "sensor/ParameterMap.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QStringListModel>
#include <QToolButton>
#include <QWheelEvent>

namespace zq455 {

namespace {

// The user editor's Value cell of a row with a dialog: the row's text and an edit button.
class TEditButtonCell : public QWidget {
public:
    explicit TEditButtonCell(QWidget* parent) : QWidget(parent) {
        setAutoFillBackground(true);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(2, 0, 0, 0);
        layout->setSpacing(0);
        Value = new QLabel(this);
        Button = Named(new QToolButton(this), "EditButton");
        Button->setText("...");
        Button->setFixedWidth(ROW_HEIGHT);
        layout->addWidget(Value, 1);
        layout->addWidget(Button);
        Button->setFocusPolicy(Qt::ClickFocus);
    }
    QLabel* Value;
    QToolButton* Button;
};

// The grid the editor sits in, to hand it what the closed box does not take.
QAbstractItemView* GridOf(QWidget* editor) {
    for (QWidget* w = editor->parentWidget(); w; w = w->parentWidget())
        if (auto* view = qobject_cast<QAbstractItemView*>(w))
            return view;
    return nullptr;
}

} // namespace

TPickListBox::TPickListBox(QWidget* parent) : QComboBox(parent) {
    // Focus by a click, never by the wheel passing over it; Tab walks the grid, not its cells.
    setFocusPolicy(Qt::ClickFocus);
}

bool OpenValueCell(QWidget* editor) {
    if (auto* box = qobject_cast<QComboBox*>(editor)) {
        box->showPopup();
        return true;
    }
    if (auto* cell = dynamic_cast<TEditButtonCell*>(editor)) {
        cell->Button->click();
        return true;
    }
    return false;
}

void TPickListBox::wheelEvent(QWheelEvent* event) {
    // Ignored, so the grid under it scrolls as it does over any other cell.
    event->ignore();
}

void TPickListBox::keyPressEvent(QKeyEvent* event) {
    const bool alt = event->modifiers() & Qt::AltModifier;
    switch (event->key()) {
    case Qt::Key_Space:
    case Qt::Key_F4:
        showPopup();
        return;
    case Qt::Key_Up:
    case Qt::Key_Down:
        if (alt) {
            showPopup();
            return;
        }
        [[fallthrough]];
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_Home:
    case Qt::Key_End:
        // The grid moves to another row, as the arrow keys do over the other cells.
        if (QAbstractItemView* grid = GridOf(this)) {
            QKeyEvent copy(event->type(), event->key(), event->modifiers(), event->text());
            QApplication::sendEvent(grid, &copy);
        }
        return;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Escape:
        QComboBox::keyPressEvent(event);
        return;
    default:
        // Typing a letter or digit into the closed box would jump to a matching item unseen.
        event->ignore();
        return;
    }
}

TUserValueDelegate::TUserValueDelegate(TParameterEditors* editors,
                                       const std::vector<QStringListModel*>& lists)
    : QStyledItemDelegate(editors), Editors(editors), Lists(lists) {}

QWidget* TUserValueDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                          const QModelIndex& index) const {
    const unsigned i = static_cast<unsigned>(index.row());
    if (index.column() != 1 || i >= USER_COUNT)
        return nullptr;
    switch (UserRow(i).style) {
    case TEditStyle::PICK_LIST: {
        auto* combo = Named(new TPickListBox(parent), "PickList");
        combo->setModel(Lists[i]);
        combo->setMaxVisibleItems(12);
        // `activated` comes only from the open list (a click, or Enter on the item chosen).
        connect(combo, &QComboBox::activated, this, [this, combo] {
            emit const_cast<TUserValueDelegate*>(this)->commitData(combo);
            Editors->Accept_User_Parameter();
        });
        return combo;
    }
    case TEditStyle::BUTTON: {
        auto* cell = new TEditButtonCell(parent);
        connect(cell->Button, &QToolButton::clicked, Editors,
                [editors = Editors] { editors->ValueListEditor_User_ParametersEditButtonClick(); });
        return cell;
    }
    case TEditStyle::NONE:
        break;
    }
    return nullptr;
}

void TUserValueDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    const QString text = index.data().toString();
    if (auto* combo = qobject_cast<QComboBox*>(editor)) {
        QSignalBlocker block(combo);
        combo->setCurrentIndex(combo->findText(text, Qt::MatchExactly));
    } else if (auto* cell = dynamic_cast<TEditButtonCell*>(editor)) {
        cell->Value->setText(text);
    }
}

void TUserValueDelegate::setModelData(QWidget* editor, QAbstractItemModel* model,
                                      const QModelIndex& index) const {
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        if (combo->currentIndex() >= 0)
            model->setData(index, combo->currentText());
}

void TUserValueDelegate::updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                                              const QModelIndex&) const {
    editor->setGeometry(option.rect);
}

TFactoryValueDelegate::TFactoryValueDelegate(TParameterEditors* editors)
    : QStyledItemDelegate(editors), Editors(editors) {}

QWidget* TFactoryValueDelegate::createEditor(QWidget* parent, const QStyleOptionViewItem&,
                                             const QModelIndex& index) const {
    if (index.column() != 1)
        return nullptr;
    auto* edit = Named(new QLineEdit(parent), "FactoryEdit");
    edit->setMaxLength(5);
    edit->setFrame(false);
    edit->installEventFilter(Editors);
    connect(edit, &QLineEdit::textEdited, this,
            [this, edit] { emit const_cast<TFactoryValueDelegate*>(this)->commitData(edit); });
    return edit;
}

// The cell follows the editor while typing; writing it back would move the cursor.
void TFactoryValueDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const {
    auto* edit = qobject_cast<QLineEdit*>(editor);
    if (edit && edit->text() != index.data().toString())
        edit->setText(index.data().toString());
}

} // namespace zq455
