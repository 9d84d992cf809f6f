#include "ParameterText.h"

#include "sensor/ParameterMap.h"

#include <charconv>
#include <cstring>

namespace zq455 {

namespace {

// One row per user parameter, in index order.
const TUserRow USER_ROWS[USER_COUNT] = {
    {TEditStyle::PICK_LIST, TValueText::ON_OFF, 3, {"off,on"}},
    {TEditStyle::PICK_LIST, TValueText::DECIMAL, 2, {nullptr, 0, 1, 32}},
    {TEditStyle::PICK_LIST, TValueText::BAUD, 6, {}}, // the rates of the parameter map
    {TEditStyle::PICK_LIST, TValueText::RESULT_LENGTH, 4, {"128,256,512,1024"}},
    {TEditStyle::PICK_LIST, TValueText::DECIMAL, 2, {nullptr, 0, 1, 32}},
    {TEditStyle::BUTTON, TValueText::DECIMAL, 0, {}},
    {TEditStyle::PICK_LIST, TValueText::PLUS_ONE, 5, {nullptr, 1, 1, 16384}},
    {TEditStyle::PICK_LIST, TValueText::TIMES_5, 5, {nullptr, 0, 5, 16384}},
    {TEditStyle::NONE, TValueText::DECIMAL, 3, {}},
    {TEditStyle::NONE, TValueText::DECIMAL, 3, {}},
    {TEditStyle::PICK_LIST, TValueText::POINT_TIME, 5, {nullptr, 10, 2, 1024}},
    {TEditStyle::BUTTON, TValueText::DECIMAL, 5, {}},
    {TEditStyle::BUTTON, TValueText::DECIMAL, 5, {}},
};

// A whole number of digits only; nothing else is a number to the editors.
std::optional<uint64_t> ParseDigits(const std::string& t) {
    if (t.empty() || t.size() > 12)
        return std::nullopt;
    uint64_t value = 0;
    auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), value);
    if (error != std::errc() || end != t.data() + t.size())
        return std::nullopt;
    return value;
}

uint16_t Low16(uint64_t value) {
    return static_cast<uint16_t>(value & 0xFFFF);
}

} // namespace

const TUserRow& UserRow(unsigned user_index) {
    return USER_ROWS[user_index % USER_COUNT];
}

std::vector<std::string> PickListItems(unsigned user_index) {
    const TPickList& pick = UserRow(user_index).pick;
    std::vector<std::string> items;
    if (UserRow(user_index).text == TValueText::BAUD) {
        for (const TBaudCode& entry : BAUD_CODES)
            items.push_back(std::to_string(entry.baud));
        return items;
    }
    if (pick.items) {
        const char* p = pick.items;
        while (*p) {
            const char* comma = std::strchr(p, ',');
            const size_t length = comma ? static_cast<size_t>(comma - p) : std::strlen(p);
            items.emplace_back(p, length);
            p += length;
            if (*p == ',')
                ++p;
        }
        return items;
    }
    items.reserve(pick.count);
    for (uint32_t k = 0; k < pick.count; ++k)
        items.push_back(std::to_string(pick.first + k * pick.step));
    return items;
}

std::string UserValueText(unsigned user_index, uint16_t v) {
    switch (UserRow(user_index).text) {
    case TValueText::ON_OFF:
        return v != 0 ? "on" : "off";
    case TValueText::BAUD:
        return std::to_string(BaudOfCode(v));
    case TValueText::RESULT_LENGTH:
        // Shifted in 64 bits: a device value outside 0..3 still shows the formula's number.
        return std::to_string(static_cast<uint64_t>(128) << (v & 63));
    case TValueText::PLUS_ONE:
        return std::to_string(static_cast<uint32_t>(v) + 1);
    case TValueText::TIMES_5:
        return std::to_string(static_cast<uint32_t>(v) * 5);
    case TValueText::POINT_TIME:
        return std::to_string(static_cast<uint32_t>(v) * 2 + 10);
    case TValueText::DECIMAL:
        break;
    }
    return std::to_string(v);
}

bool UserRowRewritesCell(unsigned user_index) {
    return user_index == USER_ROI_LEFT_WIDTH || user_index == USER_ROI_TOP_HEIGHT;
}

uint16_t UserValueFromText(unsigned user_index, const std::string& t, uint16_t v) {
    if (UserRowRewritesCell(user_index))
        return v;
    const TValueText kind = UserRow(user_index).text;
    if (kind == TValueText::ON_OFF)
        return t == "on" ? 1 : 0;
    const std::optional<uint64_t> number = ParseDigits(t);
    if (!number)
        return v;
    switch (kind) {
    case TValueText::BAUD: {
        uint8_t code = 0;
        if (*number <= UINT32_MAX && CodeOfBaud(static_cast<uint32_t>(*number), code))
            return code;
        return v;
    }
    case TValueText::RESULT_LENGTH:
        for (uint16_t code = 0; code < 4; ++code)
            if (*number == (128u << code))
                return code;
        return v;
    case TValueText::PLUS_ONE:
        return *number == 0 ? v : Low16(*number - 1);
    case TValueText::TIMES_5:
        return Low16(*number / 5);
    case TValueText::POINT_TIME:
        return *number < 10 ? v : Low16((*number - 10) / 2);
    case TValueText::ON_OFF:
    case TValueText::DECIMAL:
        break;
    }
    return Low16(*number);
}

std::optional<uint16_t> FactoryValueFromText(const std::string& t, bool& out_of_range) {
    out_of_range = false;
    std::string digits = t;
    bool negative = false;
    if (!digits.empty() && (digits[0] == '-' || digits[0] == '+')) {
        negative = digits[0] == '-';
        digits.erase(0, 1);
    }
    const std::optional<uint64_t> number = ParseDigits(digits);
    if (!number)
        return std::nullopt;
    if ((negative && *number != 0) || *number > 0xFFFF) {
        out_of_range = true;
        return std::nullopt;
    }
    return static_cast<uint16_t>(*number);
}

std::string ConversionMessage(const std::string& t) {
    return "'" + t + "' is not a valid integer value";
}

std::string RangeMessage(const std::string& t) {
    return "'" + t + "' is not within 0..65535";
}

TExtSignals ExtSignalsFromValue(uint16_t v) {
    return {v & 1, (v >> 1) & 1, (v >> 2) & 1};
}

uint16_t ExtSignalsToValue(uint16_t v, const TExtSignals& choice) {
    uint16_t bits = static_cast<uint16_t>((choice.priority ? 1 : 0) | (choice.strobe_level ? 2 : 0) |
                                          (choice.external_sync ? 4 : 0));
    return static_cast<uint16_t>((v & ~0x0007u) | bits);
}

bool ExposureAutoFromValue(uint16_t v) {
    return (v & 1) != 0;
}

uint32_t ExposureUsFromValue(uint16_t v) {
    return ((v >> 1) & 0x1FFFu) * 10 + EXPOSURE_MIN_US;
}

uint16_t ExposureToValue(uint16_t v, bool auto_exposure, uint32_t us) {
    // (us - 45) / 10 rounds to the nearest 10 us step above 50, halves up.
    const uint32_t step = us >= 45 ? ((us - 45) / 10) & 0x1FFFu : 0;
    return static_cast<uint16_t>((v & 0xC000u) | (step << 1) | (auto_exposure ? 1u : 0u));
}

uint32_t DelayUsFromValue(uint16_t v) {
    return static_cast<uint32_t>(v) * 5;
}

uint16_t DelayToValue(uint32_t us) {
    return Low16((static_cast<uint64_t>(us) + 3) / 5);
}

std::string RepairNumberText(const std::string& text, const std::string& saved, uint32_t min, uint32_t max) {
    std::string result = text.empty() ? saved : text;
    const std::optional<uint64_t> number = ParseDigits(result);
    if (!number)
        return saved;
    if (*number < min)
        return std::to_string(min);
    if (*number >= static_cast<uint64_t>(max) + 1)
        return std::to_string(max);
    return result;
}

bool NumberFieldAcceptsKey(char32_t key) {
    return (key >= U'0' && key <= U'9') || key == 8;
}

} // namespace zq455
