// Arbitrary bytes as the motor driver's replies to a status poll, a move, Init and status 2.

#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"

#include <cstdlib>

using namespace zq455;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static TMotorInterface motor;
    motor.port.OpenMemory(data, size);
    motor.status = 0x5A;
    uint8_t status = 0xA5;
    uint32_t code = motor.GetStatus(status);
    if (code == RESULT_OK) {
        if (status != (((data[1] & 0x0F) << 4) | (data[0] & 0x0F)) || motor.status != status)
            abort();
    } else if (status != 0xA5 || motor.status != 0x5A || code != RESULT_READ_TIMEOUT) {
        abort();
    }
    const uint8_t before = motor.status;
    code = motor.MoveForward(static_cast<uint32_t>(size) * 2654435761u);
    if (code != RESULT_OK && motor.status != before)
        abort();
    motor.Init();
    motor.GetStatus2(status);
    return 0;
}
