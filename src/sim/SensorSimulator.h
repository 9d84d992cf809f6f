#pragma once
// TSensorSimulator: the virtual ZQ455 sensor. A protocol peer on the master side of a
// pseudo-terminal, on its own thread: it answers the sensor's commands at its network
// address and bit rate, keeps working, FLASH and default values of its parameters, holds a
// calibration table memory it measures through, and can inject the faults a real link shows. The program
// opens SlavePath() like any serial port, or finds it by USB description after RegisterAs().

#include "link/Crc.h"
#include "link/PseudoTerminal.h"
#include "sensor/ParameterMap.h"
#include "sim/SensorModel.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zq455 {

// Faults the simulator can put on a reply.
enum class TSensorFault : uint8_t {
    NO_REPLY,                 // the request is swallowed
    SHORT_REPLY,              // a well-framed reply one data byte short
    LONG_REPLY,               // a well-framed reply with one data byte too many
    WRONG_CHECKSUM,           // the checksum's low bit flipped
    NOISE_BEFORE_START,       // bytes with bit 7 set ahead of the start byte
    STALL_MID_REPLY,          // half the reply, a pause longer than the link's byte gap, the rest
    REFUSE_TABLE_BLOCK,       // table blocks only: the block is not stored and answered with 1
    WRONG_FLASH_CONFIRMATION, // FLASH stores, restores and the table save only: a wrong byte
    CLOSE_MID_REPLY,          // half the reply, then the master closes as a pulled cable would
};

enum class TFaultMode : uint8_t { NEXT_REPLY, EVERY_REPLY };

struct TSensorTiming {
    bool paced = true;              // requests take and replies are sent at the wire time of the bit rate
    uint32_t rate_change_ms = 1000; // the sensor moves to a loaded bit rate this long after the request
    uint32_t table_save_ms = 0;     // time the table save takes before the confirmation goes out
    uint32_t stall_ms = 100;        // length of the stall fault
};

// One set of the sensor's values: the 48 factory values (12..24 are the user parameters,
// 25..32 the identity) and the angle of the measuring system as a float's bit pattern.
struct TSensorValues {
    std::array<uint16_t, FACTORY_COUNT> factory{};
    uint32_t angle = 0;

    uint16_t User(unsigned index) const { return factory[USER_FIRST_FACTORY + index]; }
    uint16_t Identity(unsigned index) const { return factory[IDENTITY_FIRST_FACTORY + index]; }
};

struct TSensorStore {
    TSensorValues working;  // what the sensor uses; Load changes these
    TSensorValues flash;    // Write to FLASH copies the working values here
    TSensorValues defaults; // Restore default copies these into the working values
};

// What the simulator has seen, for tests and the demo's diagnostics.
struct TSensorCounters {
    uint32_t answered = 0;      // requests taken (a reply may still be suppressed by a fault)
    uint32_t wrong_address = 0; // well-formed requests for another address
    uint32_t wrong_rate = 0;    // requests that arrived while the link ran at another bit rate
    uint32_t bad_checksum = 0;  // requests whose checksum did not match
    uint32_t table_saves = 0;   // table saves carried out
};

// The sensor's FLASH copy of its table. A simulator started anew with the same store (a
// reconnect of the same device) measures through the table the last one saved.
struct TSensorTableFlash {
    std::vector<uint16_t> cells; // empty until the first simulator puts its factory table here
};

class TSensorSimulator {
public:
    static constexpr uint32_t TABLE_MEMORY_VALUES = 1024 * 640;
    // Device type 455, modification 1, serial 12345, base 80 mm, Z 50 mm, X 8..10 mm: narrow
    // enough that the calibration target's 500 um stripes lie over 30 columns apart, so the
    // default zero columns 310..340 hold exactly one stripe over the whole Z range.
    static constexpr std::array<uint16_t, IDENTITY_COUNT> DEFAULT_IDENTITY = {455, 1,  12345, 0,
                                                                              80,  50, 8,     10};

    explicit TSensorSimulator(const TSensorTiming& timing = {},
                              std::shared_ptr<TSensorTableFlash> flash = nullptr);
    ~TSensorSimulator();
    TSensorSimulator(const TSensorSimulator&) = delete;
    TSensorSimulator& operator=(const TSensorSimulator&) = delete;

    bool IsValid() const { return pty.IsValid(); }
    const std::string& SlavePath() const { return pty.SlavePath(); }
    // Registers the slave path under a USB description (the sensor's for the demo mode);
    // the destructor takes it out again.
    void RegisterAs(const std::string& description);

    void SetTiming(const TSensorTiming& timing);
    TSensorTiming Timing() const;
    void SetPaced(bool paced);

    // Identity values in working, FLASH and default sets; the model's ranges follow them, and
    // the working and stored tables become the factory table of that geometry.
    void SetIdentity(const std::array<uint16_t, IDENTITY_COUNT>& identity);
    // Another sensor: its identity and its optics, with the factory table of that design.
    void SetDesign(const TSensorDesign& design);
    TSensorOptics Optics() const;
    void SetScene(const TScene& scene);
    // Stage position in micrometres; while set and while the calibration target
    // (sim/CalibrationTarget.h) stands where the camera sees it, profiles, camera frames and
    // calibration frames show the target instead of the scene.
    void SetStagePositionSource(std::function<double()> source);

    void InjectFault(TSensorFault fault, TFaultMode mode = TFaultMode::NEXT_REPLY);
    void ClearFaults();
    // Closes the master at once, as a pulled cable would; the simulator answers no more.
    void PullCable();

    TSensorStore Store() const;
    void SetStore(const TSensorStore& store);
    // The working table profiles go through (what the table transfer replaced), and the
    // stored one (what the table save made permanent); 14-bit values as received.
    std::vector<uint16_t> TableMemory() const;
    std::vector<uint16_t> SavedTable() const;
    std::shared_ptr<TSensorTableFlash> TableFlash() const { return flash; }
    // The factory table of the current identity.
    TSensorTable FactoryTable() const;
    uint8_t Address() const;   // the network address it answers
    uint32_t Baud() const;     // the bit rate it listens at
    uint32_t LinkBaud() const; // the bit rate the program set on the slave side
    TSensorCounters Counters() const;
    // Command codes of the requests taken, in order.
    std::vector<uint8_t> Commands() const;
    // Waits until `count` requests have been taken in all.
    bool WaitAnswered(uint32_t count, int timeout_ms = 2000) const;

private:
    using TClock = std::chrono::steady_clock;
    struct TArmedFault {
        TSensorFault fault;
        TFaultMode mode;
    };

    void Run();
    void Feed(const uint8_t* bytes, size_t count, TClock::time_point arrival, bool rate_ok);
    void Handle(uint8_t address, uint8_t command, const std::vector<uint8_t>& payload);
    // Takes an armed fault of the given kind (or, for `generic`, the first reply fault).
    bool TakeFault(TSensorFault fault);
    bool TakeGenericFault(TSensorFault& fault);
    void SendReply(std::vector<uint8_t> data);
    void SendVideo(uint16_t rows, uint16_t width, uint16_t top, uint16_t left,
                   const std::vector<uint8_t>& pixels);
    void Transmit(std::vector<uint8_t> bytes, TSensorFault fault, bool has_fault);
    bool WritePaced(const uint8_t* bytes, size_t count);
    void ApplyDueRateChange();
    TSensorModel ModelLocked() const;
    // The target's height while the camera sees it; asks the stage without holding the lock.
    std::optional<double> VisibleTarget() const;

    TCRC crc;
    TPseudoTerminal pty;
    std::string registered;

    mutable std::mutex lock;
    mutable std::condition_variable changed;
    TSensorTiming timing;
    TSensorStore store;
    TScene scene;
    TSensorOptics optics;
    std::function<double()> stage_position;
    std::vector<TArmedFault> faults;
    TSensorTable table;
    std::shared_ptr<TSensorTableFlash> flash;
    uint8_t address = DEFAULT_ADDRESS;
    uint32_t baud = DEFAULT_BAUD;
    uint32_t pending_baud = 0;
    TClock::time_point pending_at{};
    TSensorCounters counters;
    std::vector<uint8_t> commands;
    bool pull_cable = false;
    bool closed = false;

    // Request parser and the receive side's wire clock (sim thread only).
    std::vector<uint8_t> incoming;
    uint32_t calibr_frames = 0; // numbers the target's frames for their noise
    TClock::time_point wire_free{};
    TClock::time_point request_arrival{};
    bool request_rate_ok = false;

    std::atomic<bool> stop{false};
    std::thread thread;
};

const char* FaultName(TSensorFault fault);

} // namespace zq455
