#pragma once
// The user and factory parameter editors' rows and the conversions between a parameter's
// device value and the text its row shows. Plain C++: the window builds its grids from
// these rows, the tests check the conversions without a window.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zq455 {

// How the Value cell of a user row is edited.
enum class TEditStyle : uint8_t {
    NONE,      // no editor; the cell is rewritten with the device value
    PICK_LIST, // a drop-down list of legal texts
    BUTTON,    // an edit button that opens one of the parameter dialogs
};

// How a row turns the device value into its text and back.
enum class TValueText : uint8_t {
    ON_OFF,        // "on" / "off"
    DECIMAL,       // the device value itself
    BAUD,          // the bit rate of the UART code
    RESULT_LENGTH, // 128 << v
    PLUS_ONE,      // v + 1
    TIMES_5,       // v * 5
    POINT_TIME,    // v * 2 + 10
};

// A pick list either names its items or counts them from a first value in steps.
struct TPickList {
    const char* items = nullptr; // comma-separated, or null for an arithmetic list
    uint32_t first = 0;
    uint32_t step = 1;
    uint32_t count = 0;
};

struct TUserRow {
    TEditStyle style;
    TValueText text;
    uint8_t max_length; // 0: none
    TPickList pick;
};

// Row i describes user parameter i (the name comes from the parameter map).
const TUserRow& UserRow(unsigned user_index);
// The items of a row's pick list, in the order the list offers them.
std::vector<std::string> PickListItems(unsigned user_index);

// The text the user editor shows for device value v of parameter i.
std::string UserValueText(unsigned user_index, uint16_t v);
// The device value a row takes from its text. `v` is the value the row holds now; rows
// whose text is not one of theirs (an unknown bit rate, a length outside the list, a text
// that is not a number) return it unchanged. The ROI rows never take a value from the
// text; their caller rewrites the cell.
uint16_t UserValueFromText(unsigned user_index, const std::string& t, uint16_t v);
// True for the two rows the grid cannot edit (they change through the frame view).
bool UserRowRewritesCell(unsigned user_index);

// A whole decimal number of the factory editor: optional sign, then digits, nothing else.
// Empty when the text is not one; `out_of_range` tells a number outside 0..65535 apart.
std::optional<uint16_t> FactoryValueFromText(const std::string& t, bool& out_of_range);
// The toolkit's conversion message for a text that is not a decimal integer.
std::string ConversionMessage(const std::string& t);
std::string RangeMessage(const std::string& t);

// External signals: bits 0, 1, 2 of the low byte are the three radio groups.
struct TExtSignals {
    int priority;      // 0 "Internal", 1 "External"
    int strobe_level;  // 0 "Height", 1 "Low"
    int external_sync; // 0 "Rising", 1 "Falling"
};
TExtSignals ExtSignalsFromValue(uint16_t v);
uint16_t ExtSignalsToValue(uint16_t v, const TExtSignals& choice); // keeps bits 3..15

// Exposure: bit 0 auto exposure, bits 1..13 the step k of 50 + 10 k us, bits 14..15 kept.
constexpr uint32_t EXPOSURE_MIN_US = 50;
constexpr uint32_t EXPOSURE_MAX_US = 81960;
bool ExposureAutoFromValue(uint16_t v);
uint32_t ExposureUsFromValue(uint16_t v);
uint16_t ExposureToValue(uint16_t v, bool auto_exposure, uint32_t us);

// External delay: the device counts 5 us steps.
constexpr uint32_t DELAY_MIN_US = 0;
constexpr uint32_t DELAY_MAX_US = 81915;
uint32_t DelayUsFromValue(uint16_t v);
uint16_t DelayToValue(uint32_t us);

// The dialogs' repair of their number field when they close: an empty field gets the text it
// had when shown, a number below the range its minimum, one above its maximum.
std::string RepairNumberText(const std::string& text, const std::string& saved, uint32_t min, uint32_t max);
// True for a character the dialogs' number field accepts: a digit or backspace.
bool NumberFieldAcceptsKey(char32_t key);

} // namespace zq455
