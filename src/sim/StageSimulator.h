#pragma once
// The virtual stage: a motor driver on the master side of a pseudo-terminal, answering the
// driver's byte protocol from its own thread, with a carriage that moves in motor steps of
// 12.5 um between its home end (step 0) and its far end.
//
// Status byte it reports:
//   bits 0, 1  set while a move or Init is running
//   bit 4      set while the carriage stands at the home end
//   bit 5      set while it stands at the far end
// Status replies carry the position in bytes 2..5 (16 bits as four nibble bytes, low first):
// the current one for status, the target of the running move for status 2, the position at
// the start for a move. The Init reply is the two status bytes.
//
// Moves take steps / rate seconds. A backward move beyond home stops at home; a forward one
// beyond the far end stops there, as a limit switch would stop the real carriage. A move or
// Init that arrives while the carriage runs takes over from where it stands.

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/PseudoTerminal.h"

namespace zq455 {

constexpr double STAGE_UM_PER_STEP = 12.5;
constexpr int32_t STAGE_TRAVEL_STEPS = 32000; // 400 mm
constexpr double STAGE_STEPS_PER_SECOND = 4000.0;
constexpr double STAGE_FAST_STEPS_PER_SECOND = 1000000.0;
constexpr uint8_t STAGE_FAR_END_BIT = 0x20;

// Faults touch the replies only (NEVER_IDLE aside); the carriage still does what it is told.
enum class TStageFault : uint8_t {
    NONE,
    NO_REPLY,    // requests are carried out and never answered
    SHORT_REPLY, // status replies lose their last two bytes (4 of 6), the Init reply its last
    NEVER_IDLE,  // from the next move or Init on, the busy bits stay set until the fault is cleared
    CABLE_PULLED_MID_REPLY, // the next reply stops after half its bytes and the master side closes
};

struct TStageSettings {
    double steps_per_second = STAGE_STEPS_PER_SECOND;
    int32_t travel_steps = STAGE_TRAVEL_STEPS;
    int32_t start_steps = 0;
    bool fast = false; // for tests: moves at STAGE_FAST_STEPS_PER_SECOND and unpaced replies
};

// A move or Init the stage has received, in order; Init carries 0 steps.
struct TStageRequest {
    uint8_t command = 0;
    uint32_t steps = 0;
};

class TStageSimulator {
public:
    explicit TStageSimulator(const TStageSettings& settings = {});
    ~TStageSimulator();
    TStageSimulator(const TStageSimulator&) = delete;
    TStageSimulator& operator=(const TStageSimulator&) = delete;

    bool IsValid() const { return pty.IsValid(); }
    // The port path the program opens in COM mode.
    const std::string& SlavePath() const { return pty.SlavePath(); }
    // Makes the stage findable by USB description (mode 1 of the link) until it is destroyed.
    void RegisterUsb(const std::string& description);
    // False once the cable has been pulled.
    bool IsConnected() const { return connected; }

    // Where the carriage stands now; safe from any thread.
    int32_t PositionSteps() const;
    double PositionUm() const;
    bool IsMoving() const;
    uint8_t Status() const;

    // Puts the carriage at a position by hand (clamped to the travel), ending any move.
    void SetPositionSteps(int32_t steps);
    void SetStepsPerSecond(double steps_per_second);
    void SetFastMode(bool fast);
    void SetFault(TStageFault fault);
    TStageFault Fault() const;

    // The most recent moves and Inits (up to REQUEST_LOG_SIZE), oldest first.
    std::vector<TStageRequest> Requests() const;
    // Complete requests of one command code received so far, answered or not.
    uint64_t RequestCount(uint8_t command) const;

    static constexpr size_t REQUEST_LOG_SIZE = 65536;

private:
    using TClock = std::chrono::steady_clock;

    struct TMotion {
        int32_t from = 0;
        int32_t to = 0;
        double steps_per_second = STAGE_STEPS_PER_SECOND;
        TClock::time_point start{};
        TClock::time_point end{};
    };

    void Run();
    void Feed(uint8_t byte);
    void Execute(uint8_t command, uint32_t steps);
    void Reply(const uint8_t* data, size_t length, bool paced, bool pull_cable);
    void StartMotion(int64_t target, TClock::time_point now);
    int32_t PositionAt(TClock::time_point now) const;
    uint8_t StatusAt(TClock::time_point now) const;
    double Rate() const;

    TPseudoTerminal pty;
    std::string registered_description;

    mutable std::mutex lock;
    TMotion motion;
    int32_t travel_steps;
    double steps_per_second;
    bool fast;
    TStageFault fault = TStageFault::NONE;
    bool stuck_busy = false;
    std::deque<TStageRequest> request_log;
    std::array<uint64_t, 256> request_counts{};

    // Request assembly, touched by the stage thread only.
    uint8_t pending_command = 0;
    bool collecting = false;
    uint8_t nibbles[8] = {};
    uint32_t nibble_count = 0;

    std::atomic<bool> connected{true};
    std::atomic<bool> stop{false};
    std::thread thread;
};

} // namespace zq455
