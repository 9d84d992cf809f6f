#include "ResultCodes.h"

namespace zq455 {

const char* ResultMessage(uint32_t code) {
    static const char* const MESSAGES[] = {
        "",
        "Port not found.",
        "Port not openned.",
        "Read timeout.",
        "Read error.",
        "Write timeout.",
        "Write error.",
        "Unknown error.",
        "Packet error.",
        "Connection close.",
        "FLASH error.",
    };
    return code <= RESULT_LAST_CODE ? MESSAGES[code] : "";
}

} // namespace zq455
