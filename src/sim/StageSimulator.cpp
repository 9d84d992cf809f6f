// Requests reach the stage one byte at a time: the program writes each byte by itself and
// empties its receive queue before each one, so the stage must gather a move's nine bytes
// and answer only after the last of them, never after a part of a request.
//
// Parsing: a command byte starts a request. A move then takes eight nibble bytes (high
// nibble 0xF); a byte that is not a nibble byte abandons the move and is taken as the next
// command, the way the driver recovers when the program gave up on a request half way.
// Bytes that are neither a known command nor part of a move are ignored.

#include "StageSimulator.h"

#include "link/UsbDirectory.h"
#include "motor/Motorinterface.h"
#include "motor/Protocol.h"

#include <algorithm>
#include <cmath>

namespace zq455 {

using namespace motor;

namespace {

// Four nibble bytes of the low 16 bits of a position, low nibble first.
void EncodePosition(int32_t steps, uint8_t* out) {
    const auto value = static_cast<uint32_t>(steps) & 0xFFFF;
    for (uint32_t i = 0; i < 4; ++i)
        out[i] = static_cast<uint8_t>(NIBBLE_MARK | ((value >> (4 * i)) & 0x0F));
}

} // namespace

TStageSimulator::TStageSimulator(const TStageSettings& settings)
    : travel_steps(std::max<int32_t>(settings.travel_steps, 0)),
      steps_per_second(settings.steps_per_second > 0 ? settings.steps_per_second : STAGE_STEPS_PER_SECOND),
      fast(settings.fast) {
    motion.from = motion.to = std::clamp<int32_t>(settings.start_steps, 0, travel_steps);
    motion.start = motion.end = TClock::now();
    thread = std::thread([this] { Run(); });
}

TStageSimulator::~TStageSimulator() {
    stop = true;
    thread.join();
    if (!registered_description.empty())
        TUsbDeviceDirectory::Unregister(registered_description, pty.SlavePath());
}

void TStageSimulator::RegisterUsb(const std::string& description) {
    if (!registered_description.empty() && registered_description != description)
        TUsbDeviceDirectory::Unregister(registered_description, pty.SlavePath());
    TUsbDeviceDirectory::Register(description, pty.SlavePath());
    registered_description = description;
}

int32_t TStageSimulator::PositionAt(TClock::time_point now) const {
    if (now >= motion.end)
        return motion.to;
    const double seconds = std::chrono::duration<double>(now - motion.start).count();
    const auto distance = static_cast<int64_t>(std::abs(motion.to - motion.from));
    const auto travelled =
        std::min<int64_t>(static_cast<int64_t>(seconds * motion.steps_per_second), distance);
    return static_cast<int32_t>(motion.to > motion.from ? motion.from + travelled : motion.from - travelled);
}

uint8_t TStageSimulator::StatusAt(TClock::time_point now) const {
    uint8_t status = 0;
    if (now < motion.end || stuck_busy)
        status |= MOTOR_BUSY_MASK;
    const int32_t position = PositionAt(now);
    if (position == 0)
        status |= MOTOR_HOME_BIT;
    if (position == travel_steps)
        status |= STAGE_FAR_END_BIT;
    return status;
}

double TStageSimulator::Rate() const {
    return fast ? STAGE_FAST_STEPS_PER_SECOND : steps_per_second;
}

void TStageSimulator::StartMotion(int64_t target, TClock::time_point now) {
    const int32_t from = PositionAt(now);
    const auto to = static_cast<int32_t>(std::clamp<int64_t>(target, 0, travel_steps));
    motion.from = from;
    motion.to = to;
    motion.steps_per_second = Rate();
    motion.start = now;
    const double seconds = std::abs(to - from) / motion.steps_per_second;
    motion.end = now + std::chrono::duration_cast<TClock::duration>(std::chrono::duration<double>(seconds));
    if (fault == TStageFault::NEVER_IDLE)
        stuck_busy = true;
}

int32_t TStageSimulator::PositionSteps() const {
    std::lock_guard<std::mutex> guard(lock);
    return PositionAt(TClock::now());
}

double TStageSimulator::PositionUm() const {
    return PositionSteps() * STAGE_UM_PER_STEP;
}

bool TStageSimulator::IsMoving() const {
    std::lock_guard<std::mutex> guard(lock);
    return TClock::now() < motion.end;
}

uint8_t TStageSimulator::Status() const {
    std::lock_guard<std::mutex> guard(lock);
    return StatusAt(TClock::now());
}

void TStageSimulator::SetPositionSteps(int32_t steps) {
    std::lock_guard<std::mutex> guard(lock);
    motion.from = motion.to = std::clamp<int32_t>(steps, 0, travel_steps);
    motion.start = motion.end = TClock::now();
}

void TStageSimulator::SetStepsPerSecond(double rate) {
    std::lock_guard<std::mutex> guard(lock);
    if (rate > 0)
        steps_per_second = rate;
}

void TStageSimulator::SetFastMode(bool on) {
    std::lock_guard<std::mutex> guard(lock);
    fast = on;
}

void TStageSimulator::SetFault(TStageFault new_fault) {
    std::lock_guard<std::mutex> guard(lock);
    fault = new_fault;
    if (fault != TStageFault::NEVER_IDLE)
        stuck_busy = false;
}

TStageFault TStageSimulator::Fault() const {
    std::lock_guard<std::mutex> guard(lock);
    return fault;
}

std::vector<TStageRequest> TStageSimulator::Requests() const {
    std::lock_guard<std::mutex> guard(lock);
    return {request_log.begin(), request_log.end()};
}

uint64_t TStageSimulator::RequestCount(uint8_t command) const {
    std::lock_guard<std::mutex> guard(lock);
    return request_counts[command];
}

void TStageSimulator::Run() {
    uint8_t chunk[64];
    while (!stop && connected) {
        long n = pty.ReadMaster(chunk, sizeof chunk, 10);
        if (n < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        for (long i = 0; i < n && connected; ++i)
            Feed(chunk[i]);
    }
}

void TStageSimulator::Feed(uint8_t byte) {
    if (collecting) {
        if (IsNibbleByte(byte)) {
            nibbles[nibble_count++] = byte;
            if (nibble_count == STEP_NIBBLES) {
                collecting = false;
                Execute(pending_command, DecodeSteps(nibbles));
            }
            return;
        }
        collecting = false;
    }
    switch (byte) {
    case MOTOR_GET_STATUS:
    case MOTOR_GET_STATUS2:
    case MOTOR_INIT:
        Execute(byte, 0);
        break;
    case MOTOR_MOVE_FORWARD:
    case MOTOR_MOVE_BACKWARD:
        pending_command = byte;
        collecting = true;
        nibble_count = 0;
        break;
    default:
        break;
    }
}

void TStageSimulator::Execute(uint8_t command, uint32_t steps) {
    uint8_t reply[STATUS_REPLY_LENGTH] = {};
    size_t length = STATUS_REPLY_LENGTH;
    bool paced = false;
    bool pull_cable = false;
    {
        std::lock_guard<std::mutex> guard(lock);
        const auto now = TClock::now();
        ++request_counts[command];
        const int32_t position = PositionAt(now);
        switch (command) {
        case MOTOR_GET_STATUS:
            EncodePosition(position, reply + 2);
            break;
        case MOTOR_GET_STATUS2:
            EncodePosition(now < motion.end ? motion.to : position, reply + 2);
            break;
        case MOTOR_INIT:
            StartMotion(0, now);
            length = INIT_REPLY_LENGTH;
            break;
        case MOTOR_MOVE_FORWARD:
            StartMotion(int64_t{position} + steps, now);
            EncodePosition(position, reply + 2);
            break;
        case MOTOR_MOVE_BACKWARD:
            StartMotion(int64_t{position} - steps, now);
            EncodePosition(position, reply + 2);
            break;
        default:
            return;
        }
        if (command == MOTOR_INIT || command == MOTOR_MOVE_FORWARD || command == MOTOR_MOVE_BACKWARD) {
            if (request_log.size() == REQUEST_LOG_SIZE)
                request_log.pop_front();
            request_log.push_back({command, steps});
        }
        EncodeStatus(StatusAt(now), reply);
        if (fault == TStageFault::NO_REPLY)
            length = 0;
        else if (fault == TStageFault::SHORT_REPLY)
            length -= length > 2 ? 2 : 1;
        pull_cable = fault == TStageFault::CABLE_PULLED_MID_REPLY;
        paced = !fast;
    }
    Reply(reply, length, paced, pull_cable);
}

void TStageSimulator::Reply(const uint8_t* data, size_t length, bool paced, bool pull_cable) {
    if (pull_cable) {
        connected = false;
        pty.WriteMaster(data, length / 2);
        pty.CloseMaster();
        return;
    }
    const uint32_t baud = paced ? pty.SlaveBaud() : 0;
    if (baud == 0) {
        pty.WriteMaster(data, length);
        return;
    }
    // Ten bits a byte on the wire at the rate the program set on its side.
    const auto byte_time = std::chrono::nanoseconds(10'000'000'000LL / baud);
    auto next = TClock::now();
    for (size_t i = 0; i < length; ++i) {
        std::this_thread::sleep_until(next);
        pty.WriteMaster(data + i, 1);
        next += byte_time;
    }
}

} // namespace zq455
