// Replot of the CALIBRATION page's result chart with a full set of centres: 640 columns x
// 500 steps = 320 000 points stamped by the point-cloud plottable, at the page's size.
// Runs on the offscreen platform unless QT_QPA_PLATFORM says otherwise.

#include "app/Main.h"
#include "app/PointCloudPlottable.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <qcustomplot.h>

using namespace zq455;

static void BM_ReplotResultChart(benchmark::State& state) {
    TForm_Main window(TMainOptions{true});
    window.show();
    window.PageControl_Interface->setCurrentWidget(window.TabSheet_Calibration);
    window.SetMinHeight(MAX_HEIGHT);
    QApplication::processEvents();
    std::vector<TPointCloudPlottable::TPoint> points;
    points.reserve(CALIBR_COLUMNS * CALIBR_STEPS);
    for (unsigned k = 0; k < CALIBR_STEPS; ++k)
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
            points.push_back({double(c),
                              250.0 + 9.3 * k + 60.0 * ((c - 320.0) / 320.0) * ((c - 320.0) / 320.0),
                              qRgb(255, 0, 0)});
    window.Page_Calibration->Series_Calibr_Oscilloscope->Clear();
    window.Page_Calibration->Series_Calibr_Oscilloscope->AddPoints(points);
    QCustomPlot* chart = window.Page_Calibration->Chart_Calibr_Oscilloscope;
    for (auto _ : state)
        chart->replot(QCustomPlot::rpImmediateRefresh);
    state.counters["points"] = double(window.Page_Calibration->Series_Calibr_Oscilloscope->PointCount());
    state.counters["width"] = chart->width();
    state.counters["height"] = chart->height();
}
BENCHMARK(BM_ReplotResultChart)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
