// The virtual sensor's side of the wire:
//   request: [address & 0x1F] [length: 2 groups] [command] [payload] [CRC: 3 groups]
//   reply:   [start = address] [length: 2 groups] [data] [CRC: 3 groups]
// It takes a request only when the start byte carries its address, the checksum matches and
// the link runs at the rate it listens at; anything else gets no answer, as on the device.

#include "SensorSimulator.h"

#include "link/UsbDirectory.h"
#include "sensor/Protocol.h"

#include <algorithm>
#include <cstring>

namespace zq455 {

using namespace protocol;

namespace {

constexpr uint8_t BLOCK_ACCEPTED = 0;
constexpr uint8_t BLOCK_REFUSED = 1;
// The reply store of the program holds 2048 points; "Result length" codes beyond that give
// no more points than fit one reply.
constexpr unsigned MAX_PROFILE_POINTS = 2048;
constexpr unsigned PROFILE_POINTS_BASE = 128;
constexpr uint16_t FULL_ROI = 100 * 128; // start 0 %, extent 100 %
constexpr int POLL_MS = 5;

const uint8_t NOISE[] = {0xFF, 0x85, 0x80};

TSensorValues DefaultValues() {
    TSensorValues values;
    // Camera registers, levels and laser timing as a fresh device carries them.
    const uint16_t factory_only[12] = {1, 640, 512, 100, 0, 0, 511, 3, 8, 512, 256, 2048};
    std::copy(std::begin(factory_only), std::end(factory_only), values.factory.begin());
    // Laser intensity 16 of the 0..31 the editor offers.
    const uint16_t user[USER_COUNT] = {1, DEFAULT_ADDRESS, 0x03,     3,   16,  0, 1,
                                       0, FULL_ROI,        FULL_ROI, 100, 500, 0};
    std::copy(std::begin(user), std::end(user), values.factory.begin() + USER_FIRST_FACTORY);
    std::copy(TSensorSimulator::DEFAULT_IDENTITY.begin(), TSensorSimulator::DEFAULT_IDENTITY.end(),
              values.factory.begin() + IDENTITY_FIRST_FACTORY);
    const uint16_t tail[15] = {12, 100, 60, 1, 0, 16383, 0, 16383, 8192, 40, 600, 10, 120, 50, 0};
    std::copy(std::begin(tail), std::end(tail), values.factory.begin() + 33);
    values.angle = 0; // 0.0f
    return values;
}

void AppendGroups(std::vector<uint8_t>& out, uint32_t value, unsigned groups) {
    uint8_t bytes[5];
    EncodeGroups(value, groups, bytes);
    out.insert(out.end(), bytes, bytes + groups);
}

// Pixel window of an ROI parameter pair: start and extent in whole percent of the frame,
// cropped to the frame.
void RoiWindow(uint16_t packed, unsigned frame, unsigned& start, unsigned& extent) {
    start = std::min((packed & 0x7Fu) * frame / 100u, frame);
    extent = std::min(((packed >> 7) & 0x7Fu) * frame / 100u, frame - start);
}

} // namespace

const char* FaultName(TSensorFault fault) {
    switch (fault) {
    case TSensorFault::NO_REPLY:
        return "no reply";
    case TSensorFault::SHORT_REPLY:
        return "short reply";
    case TSensorFault::LONG_REPLY:
        return "long reply";
    case TSensorFault::WRONG_CHECKSUM:
        return "wrong checksum";
    case TSensorFault::NOISE_BEFORE_START:
        return "noise before the start byte";
    case TSensorFault::STALL_MID_REPLY:
        return "stall in the middle of a reply";
    case TSensorFault::REFUSE_TABLE_BLOCK:
        return "refused table block";
    case TSensorFault::WRONG_FLASH_CONFIRMATION:
        return "wrong FLASH confirmation";
    case TSensorFault::CLOSE_MID_REPLY:
        return "cable pulled in the middle of a reply";
    }
    return "";
}

TSensorSimulator::TSensorSimulator(const TSensorTiming& timing_value,
                                   std::shared_ptr<TSensorTableFlash> flash_value)
    : crc(CRC_POLY), timing(timing_value),
      flash(flash_value ? std::move(flash_value) : std::make_shared<TSensorTableFlash>()) {
    store.working = store.flash = store.defaults = DefaultValues();
    // A new device leaves the factory with a table that measures right; a restarted one comes
    // back with what it had stored.
    if (flash->cells.size() != TABLE_MEMORY_VALUES)
        flash->cells = TSensorTable::Factory(ModelLocked()).Cells();
    table = TSensorTable(flash->cells);
    if (pty.IsValid())
        thread = std::thread([this] { Run(); });
}

TSensorSimulator::~TSensorSimulator() {
    stop = true;
    if (thread.joinable())
        thread.join();
    if (!registered.empty())
        TUsbDeviceDirectory::Unregister(registered, pty.SlavePath());
}

void TSensorSimulator::RegisterAs(const std::string& description) {
    registered = description;
    TUsbDeviceDirectory::Register(description, pty.SlavePath());
}

void TSensorSimulator::SetTiming(const TSensorTiming& value) {
    std::lock_guard<std::mutex> guard(lock);
    timing = value;
}

TSensorTiming TSensorSimulator::Timing() const {
    std::lock_guard<std::mutex> guard(lock);
    return timing;
}

void TSensorSimulator::SetPaced(bool paced) {
    std::lock_guard<std::mutex> guard(lock);
    timing.paced = paced;
}

void TSensorSimulator::SetIdentity(const std::array<uint16_t, IDENTITY_COUNT>& identity) {
    std::lock_guard<std::mutex> guard(lock);
    for (TSensorValues* set : {&store.working, &store.flash, &store.defaults})
        std::copy(identity.begin(), identity.end(), set->factory.begin() + IDENTITY_FIRST_FACTORY);
    table = TSensorTable::Factory(ModelLocked());
    flash->cells = table.Cells();
}

void TSensorSimulator::SetDesign(const TSensorDesign& design) {
    {
        std::lock_guard<std::mutex> guard(lock);
        optics = design.optics;
    }
    SetIdentity(design.identity);
}

TSensorOptics TSensorSimulator::Optics() const {
    std::lock_guard<std::mutex> guard(lock);
    return optics;
}

TSensorTable TSensorSimulator::FactoryTable() const {
    std::lock_guard<std::mutex> guard(lock);
    return TSensorTable::Factory(ModelLocked());
}

std::optional<double> TSensorSimulator::VisibleTarget() const {
    std::function<double()> source;
    TSensorModel model;
    {
        std::lock_guard<std::mutex> guard(lock);
        source = stage_position;
        model = ModelLocked();
    }
    if (!source)
        return std::nullopt;
    const double z = model.TargetZ(source());
    if (!model.TargetVisible(z))
        return std::nullopt;
    return z;
}

void TSensorSimulator::SetScene(const TScene& value) {
    std::lock_guard<std::mutex> guard(lock);
    scene = value;
}

void TSensorSimulator::SetStagePositionSource(std::function<double()> source) {
    std::lock_guard<std::mutex> guard(lock);
    stage_position = std::move(source);
}

void TSensorSimulator::InjectFault(TSensorFault fault, TFaultMode mode) {
    std::lock_guard<std::mutex> guard(lock);
    faults.push_back({fault, mode});
}

void TSensorSimulator::ClearFaults() {
    std::lock_guard<std::mutex> guard(lock);
    faults.clear();
}

void TSensorSimulator::PullCable() {
    std::lock_guard<std::mutex> guard(lock);
    pull_cable = true;
}

TSensorStore TSensorSimulator::Store() const {
    std::lock_guard<std::mutex> guard(lock);
    return store;
}

void TSensorSimulator::SetStore(const TSensorStore& value) {
    std::lock_guard<std::mutex> guard(lock);
    store = value;
    // As at power-up: the sensor answers at the address and rate its values hold.
    address = static_cast<uint8_t>(store.working.User(USER_NETWORK_ADDRESS));
    baud = BaudOfCode(store.working.User(USER_UART_BAUDRATE));
    pending_baud = 0;
}

std::vector<uint16_t> TSensorSimulator::TableMemory() const {
    std::lock_guard<std::mutex> guard(lock);
    return table.Cells();
}

std::vector<uint16_t> TSensorSimulator::SavedTable() const {
    std::lock_guard<std::mutex> guard(lock);
    return flash->cells;
}

uint8_t TSensorSimulator::Address() const {
    std::lock_guard<std::mutex> guard(lock);
    return address;
}

uint32_t TSensorSimulator::Baud() const {
    std::lock_guard<std::mutex> guard(lock);
    return baud;
}

uint32_t TSensorSimulator::LinkBaud() const {
    std::lock_guard<std::mutex> guard(lock);
    return pty.SlaveBaud();
}

TSensorCounters TSensorSimulator::Counters() const {
    std::lock_guard<std::mutex> guard(lock);
    return counters;
}

std::vector<uint8_t> TSensorSimulator::Commands() const {
    std::lock_guard<std::mutex> guard(lock);
    return commands;
}

bool TSensorSimulator::WaitAnswered(uint32_t count, int timeout_ms) const {
    std::unique_lock<std::mutex> guard(lock);
    return changed.wait_for(guard, std::chrono::milliseconds(timeout_ms),
                            [&] { return counters.answered >= count; });
}

TSensorModel TSensorSimulator::ModelLocked() const {
    TSensorModel model;
    TSensorGeometry geometry;
    geometry.base_mm = store.working.Identity(IDENTITY_BASE_DISTANCE);
    // A device with a zero range would divide by zero; it measures nothing anyway.
    geometry.range_z_mm = std::max<uint16_t>(1, store.working.Identity(IDENTITY_RANGE_Z));
    geometry.xsmr_mm = store.working.Identity(IDENTITY_RANGE_XSMR);
    geometry.xemr_mm = std::max<uint16_t>(1, store.working.Identity(IDENTITY_RANGE_XEMR));
    geometry.optics = optics;
    model.SetGeometry(geometry);
    model.SetScene(scene);
    return model;
}

void TSensorSimulator::ApplyDueRateChange() {
    std::lock_guard<std::mutex> guard(lock);
    if (pending_baud != 0 && TClock::now() >= pending_at) {
        baud = pending_baud;
        pending_baud = 0;
    }
}

void TSensorSimulator::Run() {
    std::vector<uint8_t> chunk(8192);
    while (!stop) {
        ApplyDueRateChange();
        {
            std::lock_guard<std::mutex> guard(lock);
            if (pull_cable && !closed) {
                pty.CloseMaster();
                closed = true;
            }
        }
        if (closed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
            continue;
        }
        const long n = pty.ReadMaster(chunk.data(), chunk.size(), POLL_MS);
        if (n < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
            continue;
        }
        if (n == 0)
            continue;
        // The rate the program has set when the bytes are read is the rate they travelled
        // at: the program changes it only after its pause, once the device has them.
        const uint32_t rate_after = pty.SlaveBaud();
        const uint32_t listening = Baud();
        const bool rate_ok = rate_after == listening;
        // The pseudo-terminal hands the bytes over at once; on the wire they take ten bit
        // times each, one after the other.
        const uint32_t line_baud = rate_ok ? listening : std::max<uint32_t>(rate_after, 1);
        const auto now = TClock::now();
        wire_free = std::max(wire_free, now) +
                    std::chrono::nanoseconds(static_cast<int64_t>(n) * 10 * 1000000000LL / line_baud);
        Feed(chunk.data(), static_cast<size_t>(n), wire_free, rate_ok);
    }
}

void TSensorSimulator::Feed(const uint8_t* bytes, size_t count, TClock::time_point arrival, bool rate_ok) {
    incoming.insert(incoming.end(), bytes, bytes + count);
    for (;;) {
        // Hunt the start byte; bytes with bit 7 set outside a packet are line noise.
        auto start =
            std::find_if(incoming.begin(), incoming.end(), [](uint8_t b) { return (b & WIRE_BIT) == 0; });
        incoming.erase(incoming.begin(), start);
        if (incoming.size() < 3)
            return;
        const uint32_t length = DecodeGroups(&incoming[1], 2);
        const size_t total = length + REQUEST_OVERHEAD;
        // A start byte inside the packet means the packet was cut off; begin again there.
        auto restart = std::find_if(incoming.begin() + 1, incoming.begin() + std::min(total, incoming.size()),
                                    [](uint8_t b) { return (b & WIRE_BIT) == 0; });
        if (restart != incoming.begin() + std::min(total, incoming.size())) {
            incoming.erase(incoming.begin(), restart);
            continue;
        }
        if (incoming.size() < total)
            return;
        const uint8_t request_address = incoming[0];
        const uint8_t command = incoming[3] & 0x7F;
        std::vector<uint8_t> payload(length);
        for (uint32_t i = 0; i < length; ++i)
            payload[i] = incoming[4 + i] & 0x7F;
        const uint16_t received = static_cast<uint16_t>(DecodeGroups(&incoming[4 + length], 3));
        incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(total));

        uint16_t sum = 0;
        crc.Update(sum, &command, 1);
        crc.Update(sum, payload.data(), length);
        if (sum != received) {
            std::lock_guard<std::mutex> guard(lock);
            ++counters.bad_checksum;
            continue;
        }
        request_arrival = arrival;
        request_rate_ok = rate_ok;
        Handle(request_address, command, payload);
    }
}

bool TSensorSimulator::TakeFault(TSensorFault fault) {
    std::lock_guard<std::mutex> guard(lock);
    auto armed =
        std::find_if(faults.begin(), faults.end(), [&](const TArmedFault& f) { return f.fault == fault; });
    if (armed == faults.end())
        return false;
    if (armed->mode == TFaultMode::NEXT_REPLY)
        faults.erase(armed);
    return true;
}

bool TSensorSimulator::TakeGenericFault(TSensorFault& fault) {
    std::lock_guard<std::mutex> guard(lock);
    auto armed = std::find_if(faults.begin(), faults.end(), [](const TArmedFault& f) {
        return f.fault != TSensorFault::REFUSE_TABLE_BLOCK &&
               f.fault != TSensorFault::WRONG_FLASH_CONFIRMATION;
    });
    if (armed == faults.end())
        return false;
    fault = armed->fault;
    if (armed->mode == TFaultMode::NEXT_REPLY)
        faults.erase(armed);
    return true;
}

void TSensorSimulator::Handle(uint8_t request_address, uint8_t command, const std::vector<uint8_t>& payload) {
    bool paced = false;
    {
        std::unique_lock<std::mutex> guard(lock);
        paced = timing.paced;
    }
    // The last byte of the request reaches the device only after its wire time.
    if (paced)
        std::this_thread::sleep_until(request_arrival);
    ApplyDueRateChange();
    // What the camera sees depends on the stage, which answers from its own state.
    std::optional<double> target;
    if (command == CMD_GET_RESULT || command == CMD_GET_VIDEO || command == CMD_READ_CALIBR_DATA)
        target = VisibleTarget();

    std::unique_lock<std::mutex> guard(lock);
    if ((request_address & 0x1F) != (address & 0x1F)) {
        ++counters.wrong_address;
        return;
    }
    // At another bit rate the device sees only garbage and answers nothing.
    if (!request_rate_ok) {
        ++counters.wrong_rate;
        return;
    }
    ++counters.answered;
    commands.push_back(command);
    changed.notify_all();

    TSensorValues& working = store.working;
    std::vector<uint8_t> data;
    switch (command) {
    case CMD_READ_IDENTITY:
        for (unsigned i = 0; i < IDENTITY_COUNT; ++i)
            AppendGroups(data, working.Identity(i), IdentityWidth(i));
        break;
    case CMD_READ_USER_PARAMETER: {
        if (payload.size() != 1 || payload[0] < 1 || payload[0] > USER_COUNT)
            return; // no such parameter: the device stays silent
        const unsigned index = payload[0] - 1u;
        AppendGroups(data, working.User(index), UserWidth(index));
        break;
    }
    case CMD_LOAD_USER_PARAMETER: {
        if (payload.size() < 1 || payload[0] < 1 || payload[0] > USER_COUNT)
            return;
        const unsigned index = payload[0] - 1u;
        if (payload.size() != 1u + UserWidth(index))
            return;
        const uint16_t value = static_cast<uint16_t>(DecodeGroups(&payload[1], UserWidth(index)));
        working.factory[USER_FIRST_FACTORY + index] = value;
        if (index == USER_NETWORK_ADDRESS) {
            address = static_cast<uint8_t>(value);
        } else if (index == USER_UART_BAUDRATE) {
            pending_baud = BaudOfCode(value);
            pending_at = TClock::now() + std::chrono::milliseconds(timing.rate_change_ms);
        }
        return; // loads are not answered
    }
    case CMD_FLASH_USER_PARAMETERS:
    case CMD_FLASH_FACTORY:
    case CMD_FLASH_ANGLE: {
        if (payload.size() != 1)
            return;
        const uint8_t code = payload[0];
        const bool user_block = command == CMD_FLASH_USER_PARAMETERS;
        const unsigned first = user_block ? USER_FIRST_FACTORY : 0;
        const unsigned count = user_block ? USER_COUNT : command == CMD_FLASH_FACTORY ? FACTORY_COUNT : 0;
        if (code == FLASH_STORE) {
            std::copy_n(working.factory.begin() + first, count, store.flash.factory.begin() + first);
            if (command == CMD_FLASH_ANGLE)
                store.flash.angle = working.angle;
        } else if (code == FLASH_RESTORE) {
            std::copy_n(store.defaults.factory.begin() + first, count, working.factory.begin() + first);
            if (command == CMD_FLASH_ANGLE)
                working.angle = store.defaults.angle;
        }
        uint8_t answer = (code == FLASH_STORE || code == FLASH_RESTORE) ? code : 0;
        guard.unlock();
        if (TakeFault(TSensorFault::WRONG_FLASH_CONFIRMATION))
            answer = code == FLASH_STORE ? FLASH_RESTORE : FLASH_STORE;
        SendReply({answer});
        if (user_block && code == FLASH_RESTORE) {
            // The defaults take effect once the confirmation is out: address 0, 921600 bit/s.
            guard.lock();
            address = static_cast<uint8_t>(store.working.User(USER_NETWORK_ADDRESS));
            baud = BaudOfCode(store.working.User(USER_UART_BAUDRATE));
            pending_baud = 0;
        }
        return;
    }
    case CMD_GET_RESULT: {
        std::vector<uint16_t> values;
        if (working.User(USER_SENSOR_ON_OFF) != 0) {
            const unsigned shift = std::min<unsigned>(working.User(USER_RESULT_LENGTH), 4);
            ModelLocked().Profile(std::min(PROFILE_POINTS_BASE << shift, MAX_PROFILE_POINTS), values,
                                  counters.answered, table, target);
        }
        data.push_back(0);
        AppendGroups(data, static_cast<uint32_t>(values.size() / 2), 2);
        for (uint16_t v : values)
            AppendGroups(data, v, 2);
        break;
    }
    case CMD_GET_VIDEO: {
        unsigned left = 0, width = 0, top = 0, rows = 0;
        RoiWindow(working.User(USER_ROI_LEFT_WIDTH), TSensorModel::COLUMNS, left, width);
        RoiWindow(working.User(USER_ROI_TOP_HEIGHT), TSensorModel::ROWS, top, rows);
        // Exposure: bit 0 the automatic exposure, bits 1..13 the time in steps of 10 us above
        // 50 us. The automatic exposure brings a lit line to the level of the reference light.
        TCameraLight light;
        const uint16_t exposure = working.User(USER_EXPOSURE);
        light.laser_intensity = working.User(USER_LASER_INTENSITY) & 0x7F;
        light.exposure_us = ((exposure >> 1) & 0x1FFF) * 10.0 + 50.0;
        if ((exposure & 1) && light.laser_intensity > 0)
            light.exposure_us = TCameraLight::REFERENCE_EXPOSURE_US * TCameraLight::REFERENCE_INTENSITY /
                                light.laser_intensity;
        std::vector<uint8_t> pixels;
        ModelLocked().Image(left, top, width, rows, pixels, light, target);
        guard.unlock();
        SendVideo(static_cast<uint16_t>(rows), static_cast<uint16_t>(width), static_cast<uint16_t>(top),
                  static_cast<uint16_t>(left), pixels);
        return;
    }
    case CMD_ROTATE_SYSTEM: {
        // The device turns its measuring system onto the surface it sees: the plane's slope.
        const float angle = ModelLocked().SceneAngle();
        std::memcpy(&working.angle, &angle, sizeof angle);
        AppendGroups(data, working.angle, 5);
        break;
    }
    case CMD_READ_ANGLE:
        AppendGroups(data, working.angle, 5);
        break;
    case CMD_READ_FACTORY:
        for (unsigned i = 0; i < FACTORY_COUNT; ++i)
            AppendGroups(data, working.factory[i], FactoryWidth(i));
        break;
    case CMD_LOAD_FACTORY: {
        if (payload.size() != FactoryBlockBytes())
            return;
        // The block holds the user and identity values too. The address and rate inside it
        // are stored like any value; the link moves only on the user parameter commands.
        size_t at = 0;
        for (unsigned i = 0; i < FACTORY_COUNT; ++i) {
            working.factory[i] = static_cast<uint16_t>(DecodeGroups(&payload[at], FactoryWidth(i)));
            at += FactoryWidth(i);
        }
        return;
    }
    case CMD_TRANSMIT_TABLE: {
        bool accepted = false;
        if (payload.size() >= 6) {
            const uint32_t offset = DecodeGroups(&payload[0], 4);
            const uint32_t count = DecodeGroups(&payload[4], 2);
            accepted = payload.size() == 6 + 2 * static_cast<size_t>(count) &&
                       static_cast<uint64_t>(offset) + count <= TABLE_MEMORY_VALUES;
            guard.unlock();
            if (TakeFault(TSensorFault::REFUSE_TABLE_BLOCK))
                accepted = false;
            guard.lock();
            if (accepted)
                for (uint32_t j = 0; j < count; ++j)
                    table.Cells()[offset + j] = static_cast<uint16_t>(DecodeGroups(&payload[6 + 2 * j], 2));
        }
        guard.unlock();
        SendReply({accepted ? BLOCK_ACCEPTED : BLOCK_REFUSED});
        return;
    }
    case CMD_SAVE_TABLE: {
        if (payload.size() != 1)
            return;
        const bool save = payload[0] == FLASH_STORE;
        const uint32_t save_ms = timing.table_save_ms;
        if (save) {
            flash->cells = table.Cells();
            ++counters.table_saves;
        }
        guard.unlock();
        if (save && save_ms > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(save_ms));
        uint8_t answer = save ? TABLE_SAVED : 0;
        if (TakeFault(TSensorFault::WRONG_FLASH_CONFIRMATION))
            answer = FLASH_STORE; // an echo of the request instead of the confirmation
        SendReply({answer});
        return;
    }
    case CMD_READ_CALIBR_DATA: {
        const TSensorModel model = ModelLocked();
        guard.unlock();
        std::vector<uint16_t> positions;
        model.CalibrationFrame(target, positions, calibr_frames++);
        AppendGroups(data, static_cast<uint32_t>(positions.size()), 2);
        for (uint16_t p : positions)
            AppendGroups(data, p, 2);
        break;
    }
    default:
        return; // unknown command: no answer
    }
    if (guard.owns_lock())
        guard.unlock();
    SendReply(std::move(data));
}

void TSensorSimulator::SendReply(std::vector<uint8_t> data) {
    TSensorFault fault{};
    const bool has_fault = TakeGenericFault(fault);
    if (has_fault && fault == TSensorFault::SHORT_REPLY && !data.empty())
        data.pop_back();
    if (has_fault && fault == TSensorFault::LONG_REPLY)
        data.push_back(0);
    Transmit(BuildReply(crc, data, static_cast<uint8_t>(Address() & 0x1F)), fault, has_fault);
}

void TSensorSimulator::SendVideo(uint16_t rows, uint16_t width, uint16_t top, uint16_t left,
                                 const std::vector<uint8_t>& pixels) {
    TSensorFault fault{};
    const bool has_fault = TakeGenericFault(fault);
    std::vector<uint8_t> bytes =
        BuildVideoReply(crc, rows, width, top, left, pixels.data(), Address() & 0x1F);
    // A video reply has no length field: a short one simply ends early, a long one trails a byte.
    if (has_fault && fault == TSensorFault::SHORT_REPLY)
        bytes.pop_back();
    if (has_fault && fault == TSensorFault::LONG_REPLY)
        bytes.push_back(WIRE_BIT);
    Transmit(std::move(bytes), fault, has_fault);
}

void TSensorSimulator::Transmit(std::vector<uint8_t> bytes, TSensorFault fault, bool has_fault) {
    if (!has_fault) {
        WritePaced(bytes.data(), bytes.size());
        return;
    }
    const size_t half = bytes.size() / 2;
    switch (fault) {
    case TSensorFault::NO_REPLY:
        return;
    case TSensorFault::WRONG_CHECKSUM:
        bytes[bytes.size() - 3] ^= 0x01;
        break;
    case TSensorFault::NOISE_BEFORE_START:
        bytes.insert(bytes.begin(), std::begin(NOISE), std::end(NOISE));
        break;
    case TSensorFault::STALL_MID_REPLY:
        if (!WritePaced(bytes.data(), half))
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(Timing().stall_ms));
        WritePaced(bytes.data() + half, bytes.size() - half);
        return;
    case TSensorFault::CLOSE_MID_REPLY: {
        WritePaced(bytes.data(), half);
        std::lock_guard<std::mutex> guard(lock);
        pty.CloseMaster();
        closed = true;
        return;
    }
    default:
        break;
    }
    WritePaced(bytes.data(), bytes.size());
}

bool TSensorSimulator::WritePaced(const uint8_t* bytes, size_t count) {
    const TSensorTiming now_timing = Timing();
    const uint32_t rate = Baud();
    if (!now_timing.paced || rate == 0)
        return pty.WriteMaster(bytes, count);
    // About a millisecond of bytes at a time on an absolute schedule, so sleeps do not add up.
    const size_t slice = std::max<size_t>(1, rate / 10 / 1000);
    const auto start = TClock::now();
    for (size_t sent = 0; sent < count && !stop;) {
        const size_t n = std::min(slice, count - sent);
        // A slice reaches the other end when its last byte is complete.
        std::this_thread::sleep_until(
            start + std::chrono::nanoseconds(static_cast<int64_t>(sent + n) * 10 * 1000000000LL / rate));
        if (!pty.WriteMaster(bytes + sent, n))
            return false;
        sent += n;
    }
    return !stop;
}

} // namespace zq455
