// Recording keeps pace with measuring: one profile of 1024 points appended to a recording
// (one write and one flush), against the 44.6 ms a profile of that size takes on the wire
// at 921 600 bit/s (22 profiles a second). Reported as the ratio "of_wire_time".
//   build/bench/bench_recording

#include "sim/SensorModel.h"
#include "view/ProfileAnalysis.h"
#include "view/ProfileRecording.h"

#include <benchmark/benchmark.h>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace zq455;

namespace {

constexpr unsigned PAIRS = 1024;
constexpr double WIRE_MS = (7.0 + 4105.0) * 10 / 921600 * 1000;

void BM_RecordProfile(benchmark::State& state) {
    const TSensorModel model;
    const TSensorTable table = TSensorTable::Factory(model);
    std::vector<uint16_t> values;
    model.Profile(PAIRS, values, 1, table);
    TProfileControls controls;
    controls.range_z = 50;
    controls.range_xemr = 10;
    TProfileTick tick;
    AnalyseProfile(values.data(), 2 * PAIRS, PAIRS, controls, tick);

    const char* tmp = std::getenv("TMPDIR");
    const std::string path =
        std::string(tmp ? tmp : "/tmp") + "/bench-recording-" + std::to_string(::getpid()) + ".csv";
    TProfileRecorder recorder;
    if (!recorder.Open(path, RecordingComment("bench", controls))) {
        state.SkipWithError(recorder.Error().c_str());
        return;
    }
    uint32_t ms = 0;
    for (auto _ : state) {
        if (!recorder.Append(ms += 45, tick.points, tick.point_pairs)) {
            state.SkipWithError(recorder.Error().c_str());
            break;
        }
    }
    recorder.Close();
    std::remove(path.c_str());
    state.counters["points"] = double(tick.points.size());
    state.counters["of_wire_time"] =
        benchmark::Counter(double(state.iterations()) * (WIRE_MS / 1000.0),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RecordProfile)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
