// "Collect" over an hour of measuring, offscreen: 80 000 profiles of 1024 pairs (22 profiles a
// second at 921 600 bit/s), gathered once as the density the window draws now and once as the
// list of every point it kept before. At each checkpoint: the resident memory the gathering
// added, and the median time of one tick's worth of chart work (add the profile, replot).
//   build/bench/bench_collect [PROFILES]      (80 000 by default)

#include "app/DensityPlottable.h"
#include "app/Main.h"
#include "app/PointCloudPlottable.h"
#include "sim/SensorModel.h"
#include "support/OffscreenNotes.h"
#include "view/ProfileAnalysis.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <qcustomplot.h>
#include <unistd.h>

using namespace zq455;

namespace {

constexpr unsigned PAIRS = 1024;
constexpr int REPLOTS = 15;

double ResidentMb() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * static_cast<double>(sysconf(_SC_PAGESIZE)) / (1024.0 * 1024.0);
}

// A few dozen different profiles of the virtual sensor's scene (its noise differs per shot).
std::vector<TProfileTick> Profiles() {
    const TSensorModel model;
    const TSensorTable table = TSensorTable::Factory(model);
    std::vector<TProfileTick> ticks(64);
    std::vector<uint16_t> values;
    for (uint32_t shot = 0; shot < ticks.size(); ++shot) {
        model.Profile(PAIRS, values, shot, table);
        TProfileControls controls;
        controls.range_z = 50;
        controls.range_xemr = 10;
        controls.level_um = 60;
        AnalyseProfile(values.data(), static_cast<uint32_t>(values.size()), PAIRS, controls, ticks[shot]);
    }
    return ticks;
}

struct TCheckpoint {
    unsigned profiles;
    double grown_mb;
    double replot_ms;
};

// Adds `total` profiles through `add`, measuring at the checkpoints.
std::vector<TCheckpoint> Run(QCustomPlot* chart, const std::vector<TProfileTick>& ticks, unsigned total,
                             const std::vector<unsigned>& checkpoints,
                             const std::function<void(const TProfileTick&)>& add) {
    std::vector<TCheckpoint> out;
    const double start_mb = ResidentMb();
    unsigned done = 0;
    for (unsigned stop : checkpoints) {
        for (; done < std::min(stop, total); ++done)
            add(ticks[done % ticks.size()]);
        std::vector<double> ms;
        for (int k = 0; k < REPLOTS; ++k) {
            const auto begin = std::chrono::steady_clock::now();
            add(ticks[(done + k) % ticks.size()]);
            chart->replot(QCustomPlot::rpImmediateRefresh);
            ms.push_back(
                std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - begin).count());
        }
        done += REPLOTS;
        std::sort(ms.begin(), ms.end());
        out.push_back({done, ResidentMb() - start_mb, ms[ms.size() / 2]});
    }
    return out;
}

} // namespace

int main(int argc, char** argv) {
    zq455::test::InstallOffscreenNoteFilter();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(WindowFont());
    const unsigned total = argc > 1 ? static_cast<unsigned>(std::atoi(argv[1])) : 80000;
    std::vector<unsigned> checkpoints;
    for (unsigned at : {1000u, 13200u, 40000u, 80000u})
        if (at < total)
            checkpoints.push_back(at);
    checkpoints.push_back(total);
    const std::vector<TProfileTick> ticks = Profiles();

    // The window at its connected size, scaled for the virtual sensor (Z 50 mm, Xemr 10 mm).
    TForm_Main window;
    window.show();
    window.SetMinHeight(MAX_HEIGHT);
    QCustomPlot* chart = window.Chart_Result_Oscilloscope;
    chart->yAxis->setRange(0, 52.5);
    chart->xAxis->setRange(-5.25, 5.25);
    QApplication::processEvents();

    std::printf("profiles of %u pairs, %zu valid points each on average\n", PAIRS, ticks[0].points.size());
    TPointCloudPlottable* current = window.Series_Result_Oscilloscope;
    std::vector<TPointCloudPlottable::TPoint> points;
    auto draw_current = [&](const TProfileTick& tick) {
        points.clear();
        for (const TProfilePoint& p : tick.points)
            points.push_back({p.x, p.z, 0xFF008000u});
        current->Clear();
        current->AddPoints(points);
    };

    // Now: the current profile as points, every profile into the density.
    TDensityPlottable* density = window.Density_Result_Oscilloscope;
    const std::vector<TCheckpoint> now = Run(chart, ticks, total, checkpoints, [&](const TProfileTick& tick) {
        draw_current(tick);
        density->AddProfile(tick.points.data(), tick.points.size());
    });
    density->Clear();
    current->Clear();
    chart->replot();

    // Before: every point of every profile kept in the point series.
    const std::vector<TCheckpoint> before =
        Run(chart, ticks, total, checkpoints, [&](const TProfileTick& tick) {
            points.clear();
            for (const TProfilePoint& p : tick.points)
                points.push_back({p.x, p.z, 0xFF008000u});
            current->AddPoints(points);
        });

    std::printf("%10s | %14s %14s | %14s %14s\n", "profiles", "density MB", "replot ms", "point list MB",
                "replot ms");
    for (size_t k = 0; k < now.size(); ++k)
        std::printf("%10u | %14.1f %14.2f | %14.1f %14.2f\n", now[k].profiles, now[k].grown_mb,
                    now[k].replot_ms, before[k].grown_mb, before[k].replot_ms);
    return 0;
}
