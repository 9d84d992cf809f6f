#include "ParameterMap.h"

namespace zq455 {

const TParameterInfo PARAMETER_MAP[FACTORY_COUNT] = {
    {"SEQUENCER", 2},
    {"NROF_PIXELS", 2},
    {"NROF_LINES", 2},
    {"INT_TIME", 2},
    {"X_REG", 2},
    {"YL_REG", 2},
    {"YR_REG", 2},
    {"IMAGE_CORE", 2},
    {"AMPFILER", 2},
    {"DACRAW_REG", 2},
    {"DACFINE_REG", 2},
    {"ADC_REG", 2},
    {"Sensor On/Off", 1},
    {"Network address", 1},
    {"UART baudrate", 1},
    {"Result length", 1},
    {"Laser intensity", 1},
    {"External signals", 1},
    {"External divider", 2},
    {"Lock time of result", 2},
    {"ROI left width", 2},
    {"ROI top height", 2},
    {"Point time", 2},
    {"Exposure", 2},
    {"External delay", 2},
    {"Device type", 2},
    {"Device modification", 1},
    {"Device serial lo", 2},
    {"Device serial hi", 2},
    {"Base distance", 2},
    {"Measuring range Z", 2},
    {"Measuring range Xsmr", 2},
    {"Measuring range Xemr", 2},
    {"NOISE_LEVEL", 2},
    {"AtEXP_LEVEL", 2},
    {"EXP_OPT_LEVEL", 2},
    {"POWER_OPT", 2},
    {"AOUT0_MIN", 2},
    {"AOUT0_MAX", 2},
    {"AOUT1_MIN", 2},
    {"AOUT1_MAX", 2},
    {"AOUT_BASE", 2},
    {"LAS_BEG", 2},
    {"LAS_END", 2},
    {"LAS_MIN", 2},
    {"LAS_MAX", 2},
    {"LAS_CLK", 2},
    {"LAS_POL", 1},
};

namespace {
unsigned SumWidths(unsigned first, unsigned count) {
    unsigned sum = 0;
    for (unsigned i = first; i < first + count; ++i)
        sum += PARAMETER_MAP[i].width;
    return sum;
}
} // namespace

unsigned FactoryBlockBytes() { return SumWidths(0, FACTORY_COUNT); }
unsigned IdentityBlockBytes() { return SumWidths(IDENTITY_FIRST_FACTORY, IDENTITY_COUNT); }
unsigned UserBlockBytes() { return SumWidths(USER_FIRST_FACTORY, USER_COUNT); }

uint32_t BaudOfCode(uint16_t code) {
    const unsigned shift = code & 31;
    const uint64_t base = (code & 0x40) ? 4800 : 115200;
    return static_cast<uint32_t>(base << shift);
}

bool CodeOfBaud(uint32_t baud, uint8_t& code) {
    for (const auto& entry : BAUD_CODES)
        if (entry.baud == baud) {
            code = entry.code;
            return true;
        }
    return false;
}

} // namespace zq455
