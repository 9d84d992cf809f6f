// "Calculate" on arbitrary calibration data and arbitrary edit texts, through the one
// validation the page and the command-line tool share.
//
//   byte 0        bit 0: start from a synthetic run (else from empty data)
//   bytes 1..4    Measuring range Z, Measuring range Xemr (u16)
//   bytes 5..     the four edit texts (X Left, X Right, Zero Left, Zero Right) separated by
//                 '\n', up to a 0 byte; then (column, step, value) triples of u16 written
//                 into Calibr_Data

#include "FuzzCheck.h"
#include "calibration/TableComputation.h"
#include "calibration/TableEdits.h"
#include "calibration/TransmitTable.h"
#include "support/CalibrationDataSet.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace zq455;

namespace {

uint16_t Take16(const uint8_t* data) {
    return static_cast<uint16_t>(data[0] | data[1] << 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5)
        return 0;
    static TCalibrationState state;
    static const std::unique_ptr<uint16_t[][CALIBR_STEPS]> synthetic = [] {
        static TCalibrationState run;
        testdata::SynthesiseRun(run);
        auto copy = std::make_unique<uint16_t[][CALIBR_STEPS]>(CALIBR_COLUMNS);
        std::memcpy(copy.get(), run.Calibr_Data.get(), CALIBR_DATA_BYTES);
        return copy;
    }();
    if (data[0] & 1)
        std::memcpy(state.Calibr_Data.get(), synthetic.get(), CALIBR_DATA_BYTES);
    else
        std::memset(state.Calibr_Data.get(), 0, CALIBR_DATA_BYTES);
    const uint16_t rz = Take16(data + 1);
    const uint16_t xe = Take16(data + 3);

    TTableEditTexts texts;
    std::string* fields[] = {&texts.x_left, &texts.x_right, &texts.zero_left, &texts.zero_right};
    size_t at = 5;
    const uint8_t* end_of_texts = static_cast<const uint8_t*>(std::memchr(data + at, 0, size - at));
    const size_t texts_end = end_of_texts ? static_cast<size_t>(end_of_texts - data) : size;
    size_t field = 0;
    std::string current;
    for (; at < texts_end; ++at) {
        if (data[at] == '\n') {
            if (field < 4)
                *fields[field++] = current;
            current.clear();
        } else {
            current += static_cast<char>(data[at]);
        }
    }
    if (field < 4 && texts_end > 5)
        *fields[field] = current;
    for (at = texts_end + 1; at + 6 <= size; at += 6)
        state.Calibr_Data[Take16(data + at) % CALIBR_COLUMNS][Take16(data + at + 2) % CALIBR_STEPS] =
            Take16(data + at + 4);

    TTableParams params;
    params.xl = 0xAAAA; // a value the validation never produces
    const TCalibrResult checked = ValidateTableEdits(texts, rz, xe, params);
    if (!checked.Ok()) {
        // Refused with a reason, and nothing handed on.
        FUZZ_CHECK(checked.status == TCalibrStatus::InvalidInput && !checked.message.empty() &&
                   params.xl == 0xAAAA);
        return 0;
    }
    FUZZ_CHECK(CheckTableParams(params).Ok());
    FUZZ_CHECK(params.xl < CALIBR_COLUMNS - params.xr && params.zl < CALIBR_COLUMNS &&
               params.zr < CALIBR_COLUMNS);
    // Both computations, the fitted one first (the classic one then sees its filtered data).
    for (const TTableMethod method : {TTableMethod::Fitted, TTableMethod::Classic}) {
        FUZZ_CHECK(Calculate(state, params, method).Ok());
        AssembleTransmitTable(state, params.xl, params.xr);
        // Columns outside the search band carry no values in any row.
        for (unsigned row = 0; row < CALIBR_TRANS_ROWS; ++row)
            for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
                if (c <= params.xl || c >= CALIBR_COLUMNS - params.xr)
                    FUZZ_CHECK(state.Calibr_Table_Trans[row][c] == static_cast<uint16_t>(EMPTY_CELL));
    }
    return 0;
}
