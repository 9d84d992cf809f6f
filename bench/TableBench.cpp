// TransmitTable of the whole 1024 x 640 table against the virtual sensor.
//
// Paced: the sensor takes each request and sends each reply at the wire time of 921600
// bit/s, so the wall time compares with the wire time of the requests:
// 160 x 8205 bytes x 10 bits / 921600 bit/s = 14.25 s; counter wall_per_wire.
// Unpaced: one block per iteration, the program's CPU time per block.

#include "link/UsbDirectory.h"
#include "sensor/Zq455interface.h"
#include "sim/SensorSimulator.h"

#include <benchmark/benchmark.h>
#include <chrono>

using namespace zq455;

namespace {

constexpr const char* DEVICE = "BENCH TABLE SENSOR";
constexpr double WIRE_SECONDS = 160.0 * (8198 + 7) * 10 / 921600.0;

std::vector<uint16_t> Table() {
    std::vector<uint16_t> values(TABLE_VALUES);
    for (size_t i = 0; i < values.size(); ++i)
        values[i] = static_cast<uint16_t>((i * 131) & 0x3FFF);
    return values;
}

// The virtual sensor and the program's sensor object, connected as the window connects.
struct TBenchLink {
    explicit TBenchLink(bool paced) : sim(Timing(paced)) {
        sim.RegisterAs(DEVICE);
        TSensorConnection record;
        record.name = DEVICE;
        connected = sensor.Open(record) == 0;
    }
    static TSensorTiming Timing(bool paced) {
        TSensorTiming timing;
        timing.paced = paced;
        return timing;
    }
    TSensorSimulator sim;
    TZQ455Interface sensor;
    bool connected = false;
};

void BM_TransmitTablePaced(benchmark::State& state) {
    TBenchLink link(true);
    TZQ455Interface& sensor = link.sensor;
    if (!link.connected) {
        state.SkipWithError("no link to the virtual sensor");
        return;
    }
    const std::vector<uint16_t> table = Table();
    double wall = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        if (sensor.TransmitTable(table.data(), TABLE_VALUES) != 0) {
            state.SkipWithError("transfer failed");
            return;
        }
        wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["wall_s"] = wall / static_cast<double>(state.iterations());
    state.counters["wire_s"] = WIRE_SECONDS;
    state.counters["wall_per_wire"] = wall / static_cast<double>(state.iterations()) / WIRE_SECONDS;
}
BENCHMARK(BM_TransmitTablePaced)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

void BM_TransmitTableBlockUnpaced(benchmark::State& state) {
    TBenchLink link(false);
    TZQ455Interface& sensor = link.sensor;
    if (!link.connected) {
        state.SkipWithError("no link to the virtual sensor");
        return;
    }
    const std::vector<uint16_t> table = Table();
    uint32_t block = 0;
    for (auto _ : state) {
        const uint16_t* values = table.data() + (block++ % 160) * TABLE_BLOCK_VALUES;
        if (sensor.TransmitTable(values, TABLE_BLOCK_VALUES) != 0) {
            state.SkipWithError("block refused");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * (8198 + 7));
}
BENCHMARK(BM_TransmitTableBlockUnpaced)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
