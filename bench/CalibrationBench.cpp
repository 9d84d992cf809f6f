// "Calculate" (centres, Z table, X table) on a realistic run, the fitted computation and the
// classic one, against the time of merely clearing the two 640 x 5120 tables, measured in
// the same process.

#include "calibration/TableComputation.h"
#include "support/CalibrationDataSet.h"

#include <algorithm>
#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

using namespace zq455;

static void Calculate(benchmark::State& state, TTableMethod method) {
    TCalibrationState s;
    testdata::SynthesiseRun(s);
    std::vector<uint16_t> raw(&s.Calibr_Data[0][0], &s.Calibr_Data[0][0] + CALIBR_COLUMNS * CALIBR_STEPS);
    TTableParams params;
    params.rz = 50;
    params.xe = 60;
    for (auto _ : state) {
        state.PauseTiming();
        // Calculate removes outliers from the data; each round starts from the raw run.
        std::memcpy(&s.Calibr_Data[0][0], raw.data(), raw.size() * 2);
        state.ResumeTiming();
        if (!Calculate(s, params, method).Ok())
            state.SkipWithError("Calculate refused the inputs");
        benchmark::DoNotOptimize(s.Calibr_Table_X[320][2000]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(Calculate, fitted, TTableMethod::Fitted)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Calculate, classic, TTableMethod::Classic)->Unit(benchmark::kMillisecond);

static void BM_ClearTables(benchmark::State& state) {
    TCalibrationState s;
    for (auto _ : state) {
        std::fill_n(&s.Calibr_Table_Z[0][0], CALIBR_COLUMNS * CALIBR_ZSLOTS, EMPTY_CELL);
        std::fill_n(&s.Calibr_Table_X[0][0], CALIBR_COLUMNS * CALIBR_ZSLOTS, EMPTY_CELL);
        benchmark::DoNotOptimize(s.Calibr_Table_Z[320][2000]);
        benchmark::DoNotOptimize(s.Calibr_Table_X[320][2000]);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ClearTables)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
