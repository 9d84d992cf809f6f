#pragma once
// The calibration state the main window owns for the whole run of the program: the raw
// data of a run, the segment centres, the two lookup tables and the table that goes to the
// sensor. The arrays are on the heap (13 MB of tables) and are indexed like the device's
// own arrays: Calibr_Data[column][step], Calibr_Table_Z[column][z-slot],
// Calibr_Table_Trans[row][column].

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zq455 {

constexpr unsigned CALIBR_COLUMNS = 640;     // camera columns
constexpr unsigned CALIBR_STEPS = 500;       // stage positions of a run
constexpr unsigned CALIBR_ZSLOTS = 5120;     // raw line positions, tenths of a row
constexpr unsigned CALIBR_TRANS_ROWS = 1024; // 512 rows of Z, then 512 rows of X
constexpr uint8_t CALIBR_FRAMES = 3;         // frames averaged per step
constexpr int16_t EMPTY_CELL = -8192;        // 0xE000: a table cell without a value
constexpr size_t CALIBR_DATA_BYTES = size_t{CALIBR_COLUMNS} * CALIBR_STEPS * 2; // 640 000, the .dtf size

class TCalibrationState {
public:
    TCalibrationState();
    TCalibrationState(const TCalibrationState&) = delete;
    TCalibrationState& operator=(const TCalibrationState&) = delete;

    // Averaged raw line position per column and step; 0 = no value. Column-major: the 500
    // steps of column 0 first, as in the .dtf file.
    std::unique_ptr<uint16_t[][CALIBR_STEPS]> Calibr_Data;
    // Frames of the step being captured that gave a value, per column.
    std::unique_ptr<uint8_t[]> Calibr_Hits;
    // Segment centres at their centre column; 0 elsewhere.
    std::unique_ptr<uint16_t[][CALIBR_STEPS]> Calibr_Centres;
    // Z and X of every image point (column, z-slot); EMPTY_CELL = no value.
    std::unique_ptr<int16_t[][CALIBR_ZSLOTS]> Calibr_Table_Z;
    std::unique_ptr<int16_t[][CALIBR_ZSLOTS]> Calibr_Table_X;
    // The 1024 x 640 table sent to the sensor, row-major.
    std::unique_ptr<uint16_t[][CALIBR_COLUMNS]> Calibr_Table_Trans;

    float Calibr_Step_Um = 0.0f;
    uint16_t Calibr_Step_Index = 0;
    uint16_t Calibr_Step_Count = CALIBR_STEPS;
};

// Outcome of a calibration operation that is not a device call: a file, the operator's
// edits, a computation refused. The message names what failed and why; it is empty for
// plain success.
enum class TCalibrStatus : uint8_t {
    Ok,
    PartialLoad,  // a short .dtf file filled only the first part of the data
    InvalidInput, // an edit, RZ or XE that the computation cannot use
    FileError,    // a file could not be created, opened, written or read
};

struct TCalibrResult {
    TCalibrStatus status = TCalibrStatus::Ok;
    std::string message;
    bool Ok() const { return status == TCalibrStatus::Ok; }
};

// One point of the step view or the result chart: x = camera column, y = raw value.
struct TCalibrPoint {
    uint16_t column;
    uint16_t value;
    bool operator==(const TCalibrPoint&) const = default;
};

} // namespace zq455
