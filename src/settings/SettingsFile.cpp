#include "SettingsFile.h"

#include "view/ProfileFile.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace zq455 {
namespace {

using nlohmann::ordered_json;

// The angle is equal when it is the same float; a file keeps it with enough digits.
bool SameAngle(float a, float b) {
    return a == b || (std::isnan(a) && std::isnan(b));
}

// Reads an unsigned value no larger than `limit` from `object[key]`; the message names the
// field as a path ("user_parameters.Exposure").
bool TakeValue(const ordered_json& object, const std::string& key, const std::string& path, uint32_t limit,
               uint32_t& value, std::string& why) {
    if (!object.contains(key)) {
        why = path + ": missing";
        return false;
    }
    const ordered_json& v = object.at(key);
    if (!v.is_number_integer() && !v.is_number_unsigned()) {
        why = path + ": not a whole number";
        return false;
    }
    if (v.is_number_integer() && v.get<int64_t>() < 0) {
        why = path + ": " + v.dump() + " is below 0";
        return false;
    }
    const uint64_t n = v.get<uint64_t>();
    if (n > limit) {
        why =
            path + ": " + std::to_string(n) + " is above " + std::to_string(limit) + ", the most it can hold";
        return false;
    }
    value = static_cast<uint32_t>(n);
    return true;
}

// Every key of a block of parameters must be one of `names`, and every name must be there.
bool TakeBlock(const ordered_json& root, const std::string& block, const char* (*name_of)(unsigned),
               unsigned first, unsigned count, uint16_t* values, std::string& why) {
    if (!root.contains(block) || !root.at(block).is_object()) {
        why = block + (root.contains(block) ? ": not an object" : ": missing");
        return false;
    }
    const ordered_json& object = root.at(block);
    for (const auto& item : object.items()) {
        bool known = false;
        for (unsigned i = 0; i < count && !known; ++i)
            known = item.key() == name_of(i);
        if (!known) {
            why = block + "." + item.key() + ": no such parameter";
            return false;
        }
    }
    for (unsigned i = 0; i < count; ++i) {
        uint32_t value = 0;
        if (!TakeValue(object, name_of(i), block + "." + name_of(i), ParameterLimit(FactoryWidth(first + i)),
                       value, why))
            return false;
        values[i] = static_cast<uint16_t>(value);
    }
    return true;
}

const char* UserNameOf(unsigned i) {
    return UserName(i);
}
const char* FactoryNameOf(unsigned i) {
    return FactoryName(i);
}

} // namespace

uint16_t ParameterLimit(uint8_t width) {
    return width <= 1 ? 127 : 16383;
}

void SetIdentity(TSensorSettings& settings, const uint16_t (&identity)[IDENTITY_COUNT]) {
    settings.device_type = identity[IDENTITY_DEVICE_TYPE];
    settings.device_modification = identity[IDENTITY_DEVICE_MODIFICATION];
    settings.serial_number =
        identity[IDENTITY_SERIAL_LO] + (static_cast<uint32_t>(identity[IDENTITY_SERIAL_HI]) << 16);
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    settings.date_time = text;
}

std::string IdentityText(const TSensorSettings& s) {
    return "device type " + std::to_string(s.device_type) + ", modification " +
           std::to_string(s.device_modification) + ", serial number " + std::to_string(s.serial_number);
}

std::string FormatSettings(const TSensorSettings& s) {
    ordered_json j;
    j["format"] = SETTINGS_FORMAT;
    j["kind"] = "ZQ455 sensor settings";
    j["identity"] = {{"device_type", s.device_type},
                     {"device_modification", s.device_modification},
                     {"serial_number", s.serial_number}};
    j["date_time"] = s.date_time;
    ordered_json user = ordered_json::object();
    for (unsigned i = 0; i < USER_COUNT; ++i)
        user[UserName(i)] = s.user[i];
    j["user_parameters"] = user;
    j["angle_rad"] = static_cast<double>(s.angle_rad);
    if (s.has_factory) {
        ordered_json factory = ordered_json::object();
        for (unsigned i = 0; i < FACTORY_COUNT; ++i)
            factory[FactoryName(i)] = s.factory[i];
        j["factory_parameters"] = factory;
    }
    return j.dump(2) + "\n";
}

TSettingsResult ParseSettings(const std::string& text, const std::string& source, TSensorSettings& out) {
    auto refuse = [&](const std::string& why) { return TSettingsResult{false, source + ": " + why}; };
    ordered_json j;
    try {
        j = ordered_json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        return refuse(std::string("not a settings file (not JSON: ") + e.what() + ")");
    }
    if (!j.is_object())
        return refuse("not a settings file (not a JSON object)");
    std::string why;
    uint32_t format = 0;
    if (!TakeValue(j, "format", "format", 1000000, format, why))
        return refuse(why);
    if (format != SETTINGS_FORMAT)
        return refuse("format: version " + std::to_string(format) +
                      " is not the version this program reads (" + std::to_string(SETTINGS_FORMAT) + ")");

    TSensorSettings s;
    if (!j.contains("identity") || !j.at("identity").is_object())
        return refuse(j.contains("identity") ? "identity: not an object" : "identity: missing");
    const ordered_json& id = j.at("identity");
    uint32_t v = 0;
    if (!TakeValue(id, "device_type", "identity.device_type", 16383, v, why))
        return refuse(why);
    s.device_type = static_cast<uint16_t>(v);
    if (!TakeValue(id, "device_modification", "identity.device_modification", 127, v, why))
        return refuse(why);
    s.device_modification = static_cast<uint16_t>(v);
    if (!TakeValue(id, "serial_number", "identity.serial_number", 16383u + (16383u << 16), v, why))
        return refuse(why);
    s.serial_number = v;
    if (j.contains("date_time")) {
        if (!j.at("date_time").is_string())
            return refuse("date_time: not a text");
        s.date_time = j.at("date_time").get<std::string>();
    }

    if (!TakeBlock(j, "user_parameters", UserNameOf, USER_FIRST_FACTORY, USER_COUNT, s.user.data(), why))
        return refuse(why);
    if (!j.contains("angle_rad"))
        return refuse("angle_rad: missing");
    if (!j.at("angle_rad").is_number())
        return refuse("angle_rad: not a number");
    const double angle = j.at("angle_rad").get<double>();
    if (!std::isfinite(angle) || std::abs(angle) > 3.2)
        return refuse("angle_rad: " + j.at("angle_rad").dump() + " is not an angle in radians (-pi..pi)");
    s.angle_rad = static_cast<float>(angle);
    if (j.contains("factory_parameters")) {
        if (!TakeBlock(j, "factory_parameters", FactoryNameOf, 0, FACTORY_COUNT, s.factory.data(), why))
            return refuse(why);
        s.has_factory = true;
    }
    out = s;
    return {};
}

TSettingsResult WriteSettingsFile(const std::string& path, const TSensorSettings& settings) {
    const TFileResult written = WriteFileAtomically(path, FormatSettings(settings));
    return {written.ok, written.message};
}

TSettingsResult ReadSettingsFile(const std::string& path, TSensorSettings& settings) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {false, path + ": cannot be read (" + std::strerror(errno) + ")"};
    std::ostringstream text;
    text << file.rdbuf();
    if (file.bad())
        return {false, path + ": cannot be read"};
    return ParseSettings(text.str(), path, settings);
}

bool IsPlainFactoryValue(unsigned i) {
    return i < USER_FIRST_FACTORY || i >= IDENTITY_FIRST_FACTORY + IDENTITY_COUNT;
}

std::vector<TSettingDifference> CompareSettings(const TSensorSettings& sensor, const TSensorSettings& file) {
    std::vector<TSettingDifference> out;
    for (unsigned i = 0; i < USER_COUNT; ++i)
        if (sensor.user[i] != file.user[i])
            out.push_back({TSettingKind::USER, i, UserName(i), sensor.user[i], file.user[i]});
    if (!SameAngle(sensor.angle_rad, file.angle_rad)) {
        TSettingDifference d{TSettingKind::ANGLE, 0, "Angle"};
        d.sensor_angle = sensor.angle_rad;
        d.file_angle = file.angle_rad;
        out.push_back(d);
    }
    if (file.has_factory && sensor.has_factory)
        for (unsigned i = 0; i < FACTORY_COUNT; ++i)
            if (IsPlainFactoryValue(i) && sensor.factory[i] != file.factory[i])
                out.push_back({TSettingKind::FACTORY, i, FactoryName(i), sensor.factory[i], file.factory[i]});
    return out;
}

} // namespace zq455
