#pragma once
// Small helpers the window's classes share when they build their controls.

#include <QAction>
#include <QMenu>
#include <QString>
#include <string>

namespace zq455 {

// Widgets carry their given name as objectName, so tests and screenshots find them.
template <typename T> T* Named(T* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

inline QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

// A menu item, or a separator for the caption "-".
inline QAction* MakeItem(QMenu* menu, const char* name, const QString& caption) {
    QAction* action = caption == "-" ? menu->addSeparator() : menu->addAction(caption);
    action->setObjectName(name);
    return action;
}

// Height of a parameter grid's row, in pixels.
constexpr int ROW_HEIGHT = 18;

} // namespace zq455
