#pragma once
// Small helpers the window's classes share when they build their controls.

#include <QAction>
#include <QColor>
#include <QMenu>
#include <QRect>
#include <QString>
#include <string>

class QCPGraph;
class QCustomPlot;
class QFrame;
class QLabel;
class QPushButton;
class QSpinBox;
class TPointCloudPlottable;

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

// The window's controls are placed by pixel, as on the original forms.
QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int x, int y, int w = -1,
                  int h = 16);
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry);
QSpinBox* MakeSpin(QWidget* parent, const char* name, int min, int max, int value, const QRect& geometry);
QFrame* MakePanel(QWidget* parent, const char* name);
// A chart titled "Oscilloscope" without a legend, in the window's font.
QCustomPlot* MakeChart(QWidget* parent, const char* name);
TPointCloudPlottable* AddPointSeries(QCustomPlot* chart, const char* name, int diameter);
QCPGraph* AddLineSeries(QCustomPlot* chart, const char* name, const QColor& colour, int width);

// Height of a parameter grid's row, in pixels.
constexpr int ROW_HEIGHT = 18;

} // namespace zq455
