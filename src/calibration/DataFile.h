#pragma once
// The calibration data file (.dtf): a raw image of Calibr_Data, 640 000 bytes, no header.
//
//   offset 1000 * c + 2 * k: Calibr_Data[c][k], unsigned 16-bit little-endian
//   (column 0 steps 0..499, then column 1, ... column 639)
//
// Also the little-endian writer the command-line tool uses for its tables.

#include "calibration/CalibrationState.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>

namespace zq455 {

// `start_dir` + "/DataFiles", created one level deep when missing; a failure to create it
// is left for the file dialog and the file operation to meet.
std::string CalibrDataDirectory(const std::string& start_dir);

// Creates (or replaces) `path` and writes the 640 000 bytes. Fails with a message naming
// the file and the reason when the file cannot be created or fully written.
TCalibrResult SaveDataFile(const TCalibrationState& state, const std::string& path);

// Reads up to 640 000 bytes of `path` into Calibr_Data from its start. A shorter file
// replaces only the first part (PartialLoad, the message says how many bytes); a file that
// cannot be opened or read leaves Calibr_Data as it was (FileError). `bytes_loaded`
// receives the number of bytes that replaced the array's content.
TCalibrResult LoadDataFile(TCalibrationState& state, const std::string& path, size_t& bytes_loaded);

// Writes the parts one after the other as 16-bit little-endian values into a new file.
TCalibrResult WriteLe16File(const std::string& path, std::initializer_list<std::span<const uint16_t>> parts);

} // namespace zq455
