#include "SettingsSync.h"

#include <algorithm>
#include <cstring>

namespace zq455 {

uint32_t ReadSensorSettings(TZQ455Interface& sensor, bool factory, TSensorSettings& settings) {
    uint16_t identity[IDENTITY_COUNT] = {};
    if (uint32_t code = sensor.ReadIdentity(identity))
        return code;
    TSensorSettings s;
    SetIdentity(s, identity);
    if (uint32_t code = sensor.ReadUserParameters(s.user.data()))
        return code;
    uint32_t bits = 0;
    if (uint32_t code = sensor.ReadAngle(bits))
        return code;
    std::memcpy(&s.angle_rad, &bits, sizeof bits);
    if (factory) {
        if (uint32_t code = sensor.ReadFactoryParameters(s.factory.data()))
            return code;
        s.has_factory = true;
    }
    settings = s;
    return 0;
}

TApplyOutcome ApplySettings(TZQ455Interface& sensor, const TSensorSettings& sensor_now,
                            const TSensorSettings& file, bool write) {
    TApplyOutcome outcome;
    std::vector<TSettingDifference> differences = CompareSettings(sensor_now, file);
    // The address and the bit rate move the link: they go after everything else.
    auto moves_link = [](const TSettingDifference& d) {
        return d.kind == TSettingKind::USER &&
               (d.index == USER_NETWORK_ADDRESS || d.index == USER_UART_BAUDRATE);
    };
    std::stable_partition(differences.begin(), differences.end(),
                          [&](const TSettingDifference& d) { return !moves_link(d); });

    bool factory_differs = false;
    for (const TSettingDifference& d : differences) {
        if (d.kind == TSettingKind::ANGLE) {
            outcome.not_loaded.push_back(d);
        } else if (d.kind == TSettingKind::FACTORY) {
            factory_differs = true;
        }
    }
    // The factory block goes as a whole: the sensor's own values, the file's where they differ.
    if (factory_differs) {
        std::array<uint16_t, FACTORY_COUNT> block = sensor_now.factory;
        for (const TSettingDifference& d : differences)
            if (d.kind == TSettingKind::FACTORY)
                block[d.index] = d.file;
        if ((outcome.result = sensor.LoadFactoryParameters(block.data())))
            return outcome;
        for (const TSettingDifference& d : differences)
            if (d.kind == TSettingKind::FACTORY)
                outcome.loaded.push_back(d);
    }
    bool user_loaded = false;
    for (const TSettingDifference& d : differences) {
        if (d.kind != TSettingKind::USER)
            continue;
        if ((outcome.result = sensor.LoadUserParameter(static_cast<uint8_t>(d.index), d.file)))
            return outcome;
        outcome.loaded.push_back(d);
        user_loaded = true;
    }

    TSensorSettings after;
    if ((outcome.result = ReadSensorSettings(sensor, file.has_factory && sensor_now.has_factory, after)))
        return outcome;
    for (const TSettingDifference& d : CompareSettings(after, file))
        if (d.kind != TSettingKind::ANGLE)
            outcome.still.push_back(d);
    if (write && outcome.still.empty()) {
        if (user_loaded && (outcome.result = sensor.FlashUserParameters(false)))
            return outcome;
        if (factory_differs && (outcome.result = sensor.FlashFactoryParameters(false)))
            return outcome;
        outcome.stored = user_loaded || factory_differs;
    }
    return outcome;
}

} // namespace zq455
