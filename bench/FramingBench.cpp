// SendPacket + ReceivePacket of the largest block (8198 payload bytes) through a
// pseudo-terminal pair; a peer thread answers each request with a reply of the same size.

#include "link/PseudoTerminal.h"
#include "link/UsbDirectory.h"
#include "sensor/Zq455interface.h"

#include <atomic>
#include <benchmark/benchmark.h>
#include <thread>

using namespace zq455;

static void BM_SendReceiveBlock(benchmark::State& state) {
    TPseudoTerminal pty;
    TCRC crc(protocol::CRC_POLY);
    std::vector<uint8_t> data(8198);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i & 0x7F);
    const std::vector<uint8_t> reply = protocol::BuildReply(crc, data);
    const size_t request_size = 8198 + protocol::REQUEST_OVERHEAD;

    std::atomic<bool> stop{false};
    std::thread peer([&] {
        std::vector<uint8_t> chunk(16384);
        size_t have = 0;
        while (!stop) {
            long n = pty.ReadMaster(chunk.data(), chunk.size(), 5);
            if (n <= 0)
                continue;
            have += static_cast<size_t>(n);
            while (have >= request_size) {
                have -= request_size;
                pty.WriteMaster(reply.data(), reply.size());
            }
        }
    });

    TUsbDeviceDirectory::Register("BENCH SENSOR", pty.SlavePath());
    TZQ455Interface sensor;
    TSensorConnection record;
    record.name = "BENCH SENSOR";
    sensor.Open(record);
    std::vector<uint8_t> payload(8198, 0x55);
    for (auto _ : state) {
        uint16_t length = 0;
        if (sensor.SendPacket(0x23, payload.data(), static_cast<uint16_t>(payload.size())) ||
            sensor.ReceivePacket(sensor.buffer, length) || length != 8198) {
            state.SkipWithError("exchange failed");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * int64_t(request_size + reply.size()));
    stop = true;
    peer.join();
    TUsbDeviceDirectory::Unregister("BENCH SENSOR");
}
BENCHMARK(BM_SendReceiveBlock)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
