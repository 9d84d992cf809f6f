#pragma once
// A sensor's settings as a file: the user parameters by name with their device values, the
// angle of the measuring system, the identity of the sensor they came from and, when saved
// in service mode, the 48 factory values. JSON, read and written with nlohmann/json; the
// format is described in docs/settings-file.md.
//
// Reading checks everything before anything is used: a file that is not JSON, has another
// format version, misses a field, names an unknown parameter or holds a value the parameter
// cannot hold is refused with a message naming the file, the field and the reason.

#include "sensor/ParameterMap.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace zq455 {

constexpr int SETTINGS_FORMAT = 1;

struct TSensorSettings {
    uint16_t device_type = 0;
    uint16_t device_modification = 0;
    uint32_t serial_number = 0; // "Device serial lo" + 65536 x "Device serial hi"
    std::string date_time;      // when they were read, "YYYY-MM-DD HH:MM:SS"
    std::array<uint16_t, USER_COUNT> user{};
    float angle_rad = 0.0f;
    bool has_factory = false;
    std::array<uint16_t, FACTORY_COUNT> factory{};
};

struct TSettingsResult {
    bool ok = true;
    std::string message; // names the file, the field and the reason when !ok
};

// The largest value a parameter of `width` 7-bit groups can hold: 127 or 16383.
uint16_t ParameterLimit(uint8_t width);

// Fills identity, date and time from an identity block as ReadIdentity gives it.
void SetIdentity(TSensorSettings& settings, const uint16_t (&identity)[IDENTITY_COUNT]);

std::string FormatSettings(const TSensorSettings& settings);
// `source` names the file in messages.
TSettingsResult ParseSettings(const std::string& text, const std::string& source, TSensorSettings& settings);

// Whole or not at all: an existing file is replaced only once the new one is complete.
TSettingsResult WriteSettingsFile(const std::string& path, const TSensorSettings& settings);
TSettingsResult ReadSettingsFile(const std::string& path, TSensorSettings& settings);

// One parameter whose sensor and file values differ.
enum class TSettingKind : uint8_t { USER, FACTORY, ANGLE };
struct TSettingDifference {
    TSettingKind kind = TSettingKind::USER;
    unsigned index = 0; // user index, or factory index
    std::string name;
    uint16_t sensor = 0;
    uint16_t file = 0;
    float sensor_angle = 0.0f;
    float file_angle = 0.0f;
};

// The differences, user parameters first (in the editor's order), then the angle, then the
// factory values the file holds (those that are neither user parameters nor the identity).
std::vector<TSettingDifference> CompareSettings(const TSensorSettings& sensor, const TSensorSettings& file);

// Whether a factory index is compared and applied as a factory value (not a user parameter,
// not the identity, which belongs to the device).
bool IsPlainFactoryValue(unsigned factory_index);

// The identity line of messages: "device type 455, modification 1, serial number 12345".
std::string IdentityText(const TSensorSettings& settings);

} // namespace zq455
