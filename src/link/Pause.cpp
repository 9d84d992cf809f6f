#include "Pause.h"

#include <chrono>
#include <thread>

namespace zq455 {

void SleepMilliseconds(uint32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace zq455
