// zq455 motor [--motor-port PATH | --motor-usb DESCRIPTION] COMMAND: the stage's motor
// driver from the command line, over the same TMotorInterface as the window.

#include "Cli.h"

#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sim/SensorSimulator.h"
#include "sim/StageSimulator.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace zq455::cli {
namespace {

using TArgs = std::vector<std::string>;
using TClock = std::chrono::steady_clock;

constexpr const char* MOTOR_SYNOPSIS = "motor [--motor-port PATH | --motor-usb DESCRIPTION] "
                                       "status | status2 | init | forward N | backward N | wait [SECONDS]";
// `wait` gives up on a drive that stays busy longer than this (the window would poll for ever).
constexpr uint32_t WAIT_DEFAULT_SECONDS = 600;
constexpr int EXIT_STILL_BUSY = 75;

std::string StatusText(uint8_t status) {
    char text[16];
    std::snprintf(text, sizeof text, "Status: 0x%02X", status);
    return text;
}

int Motor(TCliSession& session, const TArgs& all) {
    TMotorOpenSettings open;
    size_t i = 0;
    for (; i + 1 < all.size() && all[i].starts_with("--"); i += 2) {
        if (all[i] == "--motor-port") {
            open.port_kind = LINK_MODE_COM;
            open.device_name = all[i + 1];
        } else if (all[i] == "--motor-usb") {
            open.port_kind = LINK_MODE_USB;
            open.device_name = all[i + 1];
        } else {
            return session.Usage(MOTOR_SYNOPSIS);
        }
    }
    const TArgs args(all.begin() + static_cast<std::ptrdiff_t>(i), all.end());
    if (args.empty())
        return session.Usage(MOTOR_SYNOPSIS);
    const std::string& verb = args[0];
    uint32_t number = 0;
    const bool move = verb == "forward" || verb == "backward";
    const bool plain = (verb == "status" || verb == "status2" || verb == "init") && args.size() == 1;
    const bool wait = verb == "wait" && args.size() <= 2;
    if (move && (args.size() != 2 || !ParseDecimal(args[1], UINT32_MAX, number)))
        return session.Usage("motor forward N | motor backward N   (N motor steps of 12.5 um)");
    if (wait) {
        number = WAIT_DEFAULT_SECONDS;
        if (args.size() == 2 && !ParseDecimal(args[1], 86400, number))
            return session.Usage("motor wait [SECONDS]   (at most 86400)");
    }
    if (!move && !plain && !wait)
        return session.Usage(MOTOR_SYNOPSIS);

    TMotorInterface motor;
    if (uint32_t code = motor.Open(open))
        return session.Fail(code, motor.port.Reason());
    uint8_t status = 0;
    uint32_t code = RESULT_OK;
    if (verb == "status") {
        if (!(code = motor.GetStatus(status)))
            session.Out() << StatusText(status) << "\n";
    } else if (verb == "status2") {
        if (!(code = motor.GetStatus2(status)))
            session.Out() << StatusText(status) << "\n";
    } else if (verb == "init") {
        code = motor.Init();
    } else if (verb == "forward") {
        code = motor.MoveForward(number);
    } else if (verb == "backward") {
        code = motor.MoveBackward(number);
    } else {
        const auto limit = TClock::now() + std::chrono::seconds(number);
        while (!(code = motor.GetStatus(status)) && (status & MOTOR_BUSY_MASK)) {
            if (TClock::now() >= limit) {
                session.Err() << "The drive is still busy after " << number << " s (" << StatusText(status)
                              << ").\n";
                return EXIT_STILL_BUSY;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        if (!code && !(code = motor.GetStatus2(status)))
            session.Out() << StatusText(status) << "\n";
    }
    return code ? session.Fail(code, motor.port.Reason()) : 0;
}

} // namespace

TCliCommand MotorCommand() {
    return {"motor",
            {"motor [--motor-port PATH | --motor-usb DESCRIPTION] COMMAND",
             "                              the stage's motor driver (default --motor-usb \"" +
                 std::string(MOTOR_USB_DESCRIPTION) + "\", 230400 bit/s):",
             "  status | status2            prints \"Status: 0x15\"", "  init | forward N | backward N",
             "  wait [SECONDS]              polls status until bits 0 and 1 are clear, then status 2;",
             "                              gives up with exit status 75 after SECONDS (default 600)"},
            Motor};
}

TSimulatedSensorSettings SimulatedSensorSettings(unsigned index) {
    if (index == 0)
        return {};
    // 460800, 230400, ... down the list of rates, then round again.
    return {12345 + index, uint8_t(index % 32), BAUD_CODES[(7 - index % 8) % 8].baud};
}

std::vector<TSimulatedDevice> SimulatedSensorAndStage() {
    // The sensor's calibration frames follow the stage, so the sensor asks the stage for its
    // position; the stage is started second and handed over through this slot.
    auto stage_slot = std::make_shared<std::weak_ptr<TStageSimulator>>();
    TSimulatedDevice sensor{
        "sensor", [stage_slot](const TSimulateOptions& options, std::string& path) -> std::shared_ptr<void> {
            TSensorTiming timing;
            timing.paced = options.paced;
            auto sim = std::make_shared<TSensorSimulator>(timing);
            if (!sim->IsValid())
                return nullptr;
            if (options.index > 0) {
                const TSimulatedSensorSettings own = SimulatedSensorSettings(options.index);
                auto identity = TSensorSimulator::DEFAULT_IDENTITY;
                identity[IDENTITY_SERIAL_LO] = uint16_t(own.serial & 0xFFFF);
                identity[IDENTITY_SERIAL_HI] = uint16_t(own.serial >> 16);
                sim->SetIdentity(identity);
                TSensorStore store = sim->Store();
                uint8_t code = 0;
                CodeOfBaud(own.baud, code);
                store.working.factory[USER_FIRST_FACTORY + USER_NETWORK_ADDRESS] = own.address;
                store.working.factory[USER_FIRST_FACTORY + USER_UART_BAUDRATE] = code;
                store.flash = store.working;
                sim->SetStore(store);
            }
            sim->SetStagePositionSource([stage_slot] {
                auto stage = stage_slot->lock();
                return stage ? stage->PositionUm() : 0.0;
            });
            path = sim->SlavePath();
            return sim;
        }};
    TSimulatedDevice stage{
        "motor", [stage_slot](const TSimulateOptions& options, std::string& path) -> std::shared_ptr<void> {
            TStageSettings settings;
            settings.fast = !options.paced;
            auto sim = std::make_shared<TStageSimulator>(settings);
            if (!sim->IsValid())
                return nullptr;
            // The sensors' frames follow the first stage; further ones are drivers to pick from.
            if (options.index == 0)
                *stage_slot = sim;
            path = sim->SlavePath();
            return sim;
        }};
    return {sensor, stage};
}

} // namespace zq455::cli
