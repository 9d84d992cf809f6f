#include "calibration/OfflineCompute.h"

#include "calibration/DataFile.h"
#include "calibration/TableComputation.h"
#include "calibration/TransmitTable.h"

#include <charconv>

namespace zq455 {

static bool ParseRange(const std::string& text, uint16_t& value) {
    unsigned parsed = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || parsed > 65535)
        return false;
    value = static_cast<uint16_t>(parsed);
    return true;
}

TCalibrResult ComputeOffline(const TOfflineCompute& request, TCalibrationState& state) {
    uint16_t rz = 0;
    uint16_t xe = 0;
    if (!ParseRange(request.rz, rz))
        return {TCalibrStatus::InvalidInput,
                "--rz: \"" + request.rz + "\" is not a whole number of mm (0..65535)."};
    if (!ParseRange(request.xe, xe))
        return {TCalibrStatus::InvalidInput,
                "--xe: \"" + request.xe + "\" is not a whole number of mm (0..65535)."};
    TTableParams params;
    TCalibrResult r = ValidateTableEdits(request.edits, rz, xe, params);
    if (!r.Ok())
        return r;

    size_t loaded = 0;
    r = LoadDataFile(state, request.dtf_path, loaded);
    if (r.status == TCalibrStatus::PartialLoad)
        return {TCalibrStatus::FileError, r.message + " A calibration data file has " +
                                              std::to_string(CALIBR_DATA_BYTES) +
                                              " bytes; nothing was computed."};
    if (!r.Ok())
        return r;

    r = Calculate(state, params, request.method);
    if (!r.Ok())
        return r;
    AssembleTransmitTable(state, params.xl, params.xr);

    r = WriteLe16File(request.out_path, {std::span<const uint16_t>(&state.Calibr_Table_Trans[0][0],
                                                                   CALIBR_TRANS_ROWS * CALIBR_COLUMNS)});
    if (!r.Ok() || request.tables_path.empty())
        return r;
    // int16_t and uint16_t may alias; the files carry the two's complement bits.
    const size_t cells = size_t{CALIBR_COLUMNS} * CALIBR_ZSLOTS;
    return WriteLe16File(
        request.tables_path,
        {std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(&state.Calibr_Table_Z[0][0]), cells),
         std::span<const uint16_t>(reinterpret_cast<const uint16_t*>(&state.Calibr_Table_X[0][0]), cells)});
}

} // namespace zq455
