#include "WidgetMaking.h"

#include "Main.h"
#include "PointCloudPlottable.h"

#include <QFrame>
#include <QLabel>
#include <QProgressDialog>
#include <QPushButton>
#include <QSpinBox>
#include <qcustomplot.h>

namespace zq455 {

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int x, int y, int w, int h) {
    auto* label = Named(new QLabel(caption, parent), name);
    if (w < 0)
        w = label->sizeHint().width();
    label->setGeometry(x, y, w, h);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, const QRect& geometry) {
    auto* button = Named(new QPushButton(caption, parent), name);
    button->setGeometry(geometry);
    return button;
}

QSpinBox* MakeSpin(QWidget* parent, const char* name, int min, int max, int value, const QRect& geometry) {
    auto* spin = Named(new QSpinBox(parent), name);
    spin->setRange(min, max);
    spin->setValue(value);
    spin->setGeometry(geometry);
    return spin;
}

QFrame* MakePanel(QWidget* parent, const char* name) {
    auto* panel = Named(new QFrame(parent), name);
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
    return panel;
}

QCustomPlot* MakeChart(QWidget* parent, const char* name) {
    auto* chart = Named(new QCustomPlot(parent), name);
    chart->plotLayout()->insertRow(0);
    auto* title = new QCPTextElement(chart, "Oscilloscope", QFont(WindowFont().family(), 9, QFont::Bold));
    chart->plotLayout()->addElement(0, 0, title);
    chart->legend->setVisible(false);
    QFont tick = WindowFont();
    chart->xAxis->setTickLabelFont(tick);
    chart->yAxis->setTickLabelFont(tick);
    return chart;
}

// Point series carry a colour per point and may grow large (an accumulating profile, the
// calibration centres), so they stamp their points into an image.
TPointCloudPlottable* AddPointSeries(QCustomPlot* chart, const char* name, int diameter) {
    auto* series = new TPointCloudPlottable(chart->xAxis, chart->yAxis, diameter);
    series->setObjectName(name);
    series->setName(name);
    return series;
}

QCPGraph* AddLineSeries(QCustomPlot* chart, const char* name, const QColor& colour, int width) {
    QCPGraph* graph = chart->addGraph();
    graph->setObjectName(name);
    graph->setName(name);
    graph->setPen(QPen(colour, width));
    return graph;
}

// Modal over the window and kept open at its maximum until the operation closes it (the
// sensor finishes what it started).
void PrepareProgressDialog(QProgressDialog& dialog, const char* name) {
    dialog.setObjectName(name);
    dialog.setWindowTitle(APPLICATION_TITLE);
    dialog.setWindowModality(Qt::WindowModal);
    dialog.setMinimumDuration(0);
    dialog.setAutoClose(false);
    dialog.setAutoReset(false);
    dialog.setValue(0);
}

} // namespace zq455
