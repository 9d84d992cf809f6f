#pragma once
// The value cells of the two parameter grids while they are being edited: the user grid's
// drop-down of the row's pick list or its "..." button, and the factory grid's typed number.

#include <QComboBox>
#include <QStyledItemDelegate>
#include <functional>
#include <vector>

class QStringListModel;

namespace zq455 {

class TParameterEditors;

// A pick list that changes only by a deliberate pick: a click in the open list, or a choice
// made with the keys in the open list and taken with Enter. The wheel and the arrow keys over
// the closed box would step through the values unseen, and the next Load would send one; they
// go to the grid instead (which scrolls or moves to the next row). Space, F4 or Alt+Down open
// the list. It takes the focus only from a click: Tab goes from the grid to the next control,
// and the grid opens the current row's list itself (OpenValueCell).
class TPickListBox : public QComboBox {
public:
    explicit TPickListBox(QWidget* parent);

protected:
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
};

// Opens a user value cell from the keyboard: the drop-down's list, or the row's dialog through
// its "..." button. False when the cell has neither.
bool OpenValueCell(QWidget* editor);

class TUserValueDelegate : public QStyledItemDelegate {
public:
    TUserValueDelegate(TParameterEditors* editors, const std::vector<QStringListModel*>& lists);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;
    void updateEditorGeometry(QWidget* editor, const QStyleOptionViewItem& option,
                              const QModelIndex&) const override;

private:
    TParameterEditors* Editors;
    const std::vector<QStringListModel*>& Lists;
};

// The factory editor's typed value: at most 5 characters. Every change reaches the cell at
// once, so the row's text is what the engineer has typed so far.
class TFactoryValueDelegate : public QStyledItemDelegate {
public:
    explicit TFactoryValueDelegate(TParameterEditors* editors);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem&,
                          const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;

private:
    TParameterEditors* Editors;
};

} // namespace zq455
