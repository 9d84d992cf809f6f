// The RESULT page's costs, offscreen:
//  - one measurement tick of a 1024-pair profile: GetResult against a peer that answers at
//    once on a pseudo-terminal (so the wire time is out and the framing, checksum and
//    decoding are in), the analysis, the chart update and the replot with its repaint;
//    compared with the 44.5 ms the reply takes on the wire at 921 600 bit/s;
//  - the same without the link, and the decoding plus analysis alone;
//  - one replot of the "Collect" chart holding 1 000 000 points.
// Each reports the median of its iterations (median_ms) besides Google Benchmark's mean.

#include "app/Main.h"
#include "app/PointCloudPlottable.h"
#include "link/PseudoTerminal.h"
#include "link/UsbDirectory.h"
#include "sensor/Protocol.h"
#include "sim/SensorModel.h"
#include "support/OffscreenNotes.h"
#include "view/ProfileAnalysis.h"

#include <QApplication>
#include <algorithm>
#include <atomic>
#include <benchmark/benchmark.h>
#include <chrono>
#include <qcustomplot.h>
#include <thread>

using namespace zq455;

namespace {

constexpr unsigned PAIRS = 1024;
// Start byte, 2 length bytes, status, 2 count bytes, 2 x 2 x 1024 value bytes, 3 checksum.
constexpr double REPLY_BYTES = 1 + 2 + 1 + 2 + 4.0 * PAIRS + 3;
constexpr double WIRE_MS = REPLY_BYTES * 10 / 921600 * 1000;

using TClock = std::chrono::steady_clock;

// The reply data of GetResult for the virtual sensor's scene: status, count, the values.
std::vector<uint8_t> ResultData(uint32_t shot) {
    static const TSensorModel model;
    static const TSensorTable table = TSensorTable::Factory(model);
    std::vector<uint16_t> values;
    model.Profile(PAIRS, values, shot, table);
    std::vector<uint8_t> data = {0};
    uint8_t groups[2];
    protocol::EncodeGroups(PAIRS, 2, groups);
    data.insert(data.end(), groups, groups + 2);
    for (uint16_t v : values) {
        protocol::EncodeGroups(v, 2, groups);
        data.insert(data.end(), groups, groups + 2);
    }
    return data;
}

// The window at its connected size, scaled for the virtual sensor's ranges (Z 50, Xemr 10).
std::unique_ptr<TForm_Main> MakeWindow() {
    auto window = std::make_unique<TForm_Main>();
    window->show();
    window->SetMinHeight(MAX_HEIGHT);
    window->Device_Identity[IDENTITY_RANGE_Z] = 50;
    window->Device_Identity[IDENTITY_RANGE_XEMR] = 60;
    window->Chart_Result_Oscilloscope->yAxis->setRange(0, 52.5);
    window->Chart_Result_Oscilloscope->xAxis->setRange(-31.5, 31.5);
    QApplication::processEvents();
    return window;
}

struct TMedian {
    std::vector<double> ms;
    void Add(TClock::time_point start) {
        ms.push_back(std::chrono::duration<double, std::milli>(TClock::now() - start).count());
    }
    void Report(benchmark::State& state, bool against_wire) {
        if (ms.empty())
            return;
        std::sort(ms.begin(), ms.end());
        const double median = ms[ms.size() / 2];
        state.counters["median_ms"] = median;
        state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
        if (against_wire)
            state.counters["of_wire_%"] = median / WIRE_MS * 100;
    }
};

void BM_ResultTick(benchmark::State& state) {
    TPseudoTerminal pty;
    TCRC crc(protocol::CRC_POLY);
    const std::vector<uint8_t> reply = protocol::BuildReply(crc, ResultData(1));
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        uint8_t chunk[256];
        size_t have = 0;
        while (!stop) {
            const long n = pty.ReadMaster(chunk, sizeof chunk, 5);
            if (n <= 0)
                continue;
            for (have += static_cast<size_t>(n); have >= protocol::REQUEST_OVERHEAD;
                 have -= protocol::REQUEST_OVERHEAD)
                pty.WriteMaster(reply.data(), reply.size());
        }
    });
    TUsbDeviceDirectory::Register("BENCH PROFILE SENSOR", pty.SlavePath());
    auto window = MakeWindow();
    TSensorConnection record;
    record.name = "BENCH PROFILE SENSOR";
    if (window->Sensor->Open(record) != 0)
        state.SkipWithError("cannot open the pseudo-terminal");
    TMedian median;
    for (auto _ : state) {
        const auto start = TClock::now();
        window->Timer_ResultTimer();
        window->Chart_Result_Oscilloscope->repaint();
        median.Add(start);
        if (window->Sensor_Result != 0 || window->Profile_Tick.points.size() < 900) {
            state.SkipWithError("the tick failed");
            break;
        }
    }
    median.Report(state, true);
    window.reset();
    stop = true;
    peer.join();
    TUsbDeviceDirectory::Unregister("BENCH PROFILE SENSOR");
}
BENCHMARK(BM_ResultTick)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_ResultTickWithoutLink(benchmark::State& state) {
    auto window = MakeWindow();
    std::vector<uint16_t> values;
    const TSensorModel model;
    model.Profile(PAIRS, values, 1, TSensorTable::Factory(model));
    std::copy(values.begin(), values.end(), window->Result_Values.begin());
    TMedian median;
    for (auto _ : state) {
        const auto start = TClock::now();
        window->ShowProfile(PAIRS);
        window->Chart_Result_Oscilloscope->repaint();
        median.Add(start);
    }
    median.Report(state, true);
}
BENCHMARK(BM_ResultTickWithoutLink)->Unit(benchmark::kMillisecond)->MinTime(2.0);

void BM_DecodeAndAnalyse(benchmark::State& state) {
    const std::vector<uint8_t> data = ResultData(1);
    std::vector<uint16_t> values(2 * PAIRS);
    TProfileControls controls;
    controls.range_z = 50;
    controls.range_xemr = 10;
    TProfileTick tick;
    for (auto _ : state) {
        const uint16_t pairs = static_cast<uint16_t>(protocol::DecodeGroups(data.data() + 1, 2));
        for (uint32_t i = 0; i < 2u * pairs; ++i)
            values[i] = static_cast<uint16_t>(protocol::DecodeGroups(data.data() + 3 + 2 * i, 2));
        AnalyseProfile(values.data(), 2u * pairs, pairs, controls, tick);
        benchmark::DoNotOptimize(tick.over_level);
    }
}
BENCHMARK(BM_DecodeAndAnalyse)->Unit(benchmark::kMicrosecond);

void BM_CollectReplotMillionPoints(benchmark::State& state) {
    auto window = MakeWindow();
    TPointCloudPlottable* series = window->Series_Result_Oscilloscope;
    TSensorModel model;
    const TSensorTable table = TSensorTable::Factory(model);
    std::vector<uint16_t> values;
    std::vector<TPointCloudPlottable::TPoint> points;
    for (uint32_t shot = 0; series->PointCount() < 1000000; ++shot) {
        model.Profile(PAIRS, values, shot, table);
        TProfileControls controls;
        controls.range_z = 50;
        controls.range_xemr = 10;
        controls.level_um = 60;
        TProfileTick tick;
        AnalyseProfile(values.data(), static_cast<uint32_t>(values.size()), PAIRS, controls, tick);
        points.clear();
        for (const TProfilePoint& p : tick.points)
            points.push_back({p.x, p.z, tick.over_level ? 0xFFFF0000u : 0xFF008000u});
        if (series->PointCount() + points.size() > 1000000)
            points.resize(1000000 - series->PointCount());
        series->AddPoints(points);
    }
    state.counters["points"] = static_cast<double>(series->PointCount());
    TMedian median;
    for (auto _ : state) {
        const auto start = TClock::now();
        window->Chart_Result_Oscilloscope->replot(QCustomPlot::rpImmediateRefresh);
        median.Add(start);
    }
    median.Report(state, false);
}
BENCHMARK(BM_CollectReplotMillionPoints)->Unit(benchmark::kMillisecond)->MinTime(2.0);

} // namespace

int main(int argc, char** argv) {
    zq455::test::InstallOffscreenNoteFilter();
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setFont(WindowFont());
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
