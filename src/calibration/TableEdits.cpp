#include "calibration/TableEdits.h"

#include <charconv>

namespace zq455 {

static const char* const NAME_X_LEFT = "X Left";
static const char* const NAME_X_RIGHT = "X Right";
static const char* const NAME_ZERO_LEFT = "Zero Left";
static const char* const NAME_ZERO_RIGHT = "Zero Right";

static TCalibrResult Refuse(std::string message) {
    return {TCalibrStatus::InvalidInput, std::move(message)};
}

static TCalibrResult RangeFailure(const char* name, long long value, int low, int high) {
    return Refuse(std::string(name) + ": " + std::to_string(value) + " is outside " + std::to_string(low) +
                  ".." + std::to_string(high) + ".");
}

// A decimal integer with an optional sign, blanks around it allowed; within low..high.
static TCalibrResult ParseEdit(const char* name, const std::string& text, int low, int high,
                               uint16_t& value) {
    size_t first = text.find_first_not_of(" \t");
    size_t last = text.find_last_not_of(" \t");
    const std::string trimmed =
        first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
    const char* begin = trimmed.data();
    const char* end = begin + trimmed.size();
    if (begin != end && *begin == '+' && end - begin > 1 && begin[1] != '-')
        ++begin;
    long long parsed = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, parsed);
    if (begin == end || ptr != end || (ec != std::errc() && ec != std::errc::result_out_of_range))
        return Refuse(std::string(name) + ": \"" + text + "\" is not a whole number.");
    if (ec == std::errc::result_out_of_range)
        return Refuse(std::string(name) + ": \"" + trimmed + "\" is outside " + std::to_string(low) + ".." +
                      std::to_string(high) + ".");
    if (parsed < low || parsed > high)
        return RangeFailure(name, parsed, low, high);
    value = static_cast<uint16_t>(parsed);
    return {};
}

static TCalibrResult CheckXLimits(uint16_t xl, uint16_t xr) {
    if (xl > CALIBR_COLUMNS)
        return RangeFailure(NAME_X_LEFT, xl, 0, CALIBR_COLUMNS);
    if (xr > CALIBR_COLUMNS)
        return RangeFailure(NAME_X_RIGHT, xr, 0, CALIBR_COLUMNS);
    // Segments are searched in xl <= c < 640 - xr; an empty band is a typing slip.
    if (xl >= CALIBR_COLUMNS - xr)
        return Refuse(std::string(NAME_X_LEFT) + ": " + std::to_string(xl) + " must be below 640 - " +
                      NAME_X_RIGHT + " (" + std::to_string(CALIBR_COLUMNS - xr) + ").");
    return {};
}

TCalibrResult ValidateXLimits(const std::string& x_left, const std::string& x_right, uint16_t& xl,
                              uint16_t& xr) {
    uint16_t left = 0;
    uint16_t right = 0;
    TCalibrResult r = ParseEdit(NAME_X_LEFT, x_left, 0, CALIBR_COLUMNS, left);
    if (r.Ok())
        r = ParseEdit(NAME_X_RIGHT, x_right, 0, CALIBR_COLUMNS, right);
    if (r.Ok())
        r = CheckXLimits(left, right);
    if (r.Ok()) {
        xl = left;
        xr = right;
    }
    return r;
}

static TCalibrResult CheckRanges(uint16_t rz, uint16_t xe) {
    // Both are read from the sensor at connection; 0 means no identity has been read, and
    // the Z and X scales divide by them.
    if (rz == 0)
        return Refuse("Measuring range Z is 0: read the sensor identity (connect) before calculating.");
    if (xe == 0)
        return Refuse("Measuring range Xemr is 0: read the sensor identity (connect) before calculating.");
    return {};
}

TCalibrResult ValidateTableEdits(const TTableEditTexts& texts, uint16_t rz, uint16_t xe,
                                 TTableParams& params) {
    TTableParams parsed;
    parsed.rz = rz;
    parsed.xe = xe;
    TCalibrResult r = CheckRanges(rz, xe);
    if (r.Ok())
        r = ValidateXLimits(texts.x_left, texts.x_right, parsed.xl, parsed.xr);
    if (r.Ok())
        r = ParseEdit(NAME_ZERO_LEFT, texts.zero_left, 0, CALIBR_COLUMNS - 1, parsed.zl);
    if (r.Ok())
        r = ParseEdit(NAME_ZERO_RIGHT, texts.zero_right, 0, CALIBR_COLUMNS - 1, parsed.zr);
    if (r.Ok())
        params = parsed;
    return r;
}

TCalibrResult CheckTableParams(const TTableParams& params) {
    TCalibrResult r = CheckRanges(params.rz, params.xe);
    if (r.Ok())
        r = CheckXLimits(params.xl, params.xr);
    if (r.Ok() && params.zl >= CALIBR_COLUMNS)
        r = RangeFailure(NAME_ZERO_LEFT, params.zl, 0, CALIBR_COLUMNS - 1);
    if (r.Ok() && params.zr >= CALIBR_COLUMNS)
        r = RangeFailure(NAME_ZERO_RIGHT, params.zr, 0, CALIBR_COLUMNS - 1);
    return r;
}

} // namespace zq455
