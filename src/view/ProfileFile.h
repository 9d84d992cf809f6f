#pragma once
// The profile text file:
//
//   N         X                   Z          header: N at column 1, X at 11, Z at 31
//   1         -12.50              100.25     one row per announced pair, CR LF after each
//
// Fixed point with two decimals and a "." whatever the locale; at most 1024 data rows.

#include "ProfileAnalysis.h"

#include <cstdint>
#include <string>

namespace zq455 {

// Fixed-point text with two decimals of a value rounded to six significant digits.
std::string FormatProfileValue(float value);

// The whole file's bytes for the kept profile and its announced pair count.
std::string FormatProfileText(const std::array<TProfilePoint, PROFILE_CAPACITY>& profile, uint16_t pair_count);

struct TFileResult {
    bool ok = false;
    std::string message; // names the file and the reason when !ok
};

// Writes `bytes` to `path`, replacing an existing file only once the new one is complete:
// a failed write leaves no half-written file behind under that name.
TFileResult WriteFileAtomically(const std::string& path, const std::string& bytes);

} // namespace zq455
