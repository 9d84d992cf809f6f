#pragma once
// The frame bitmap file: an uncompressed 8-bit Windows bitmap with the black-to-red palette
// (entry i = red i, green 0, blue 0).
//
//   BITMAPFILEHEADER (14 bytes) | BITMAPINFOHEADER (40) | 256 x {B, G, R, 0} | rows, bottom up,
//   each padded to a multiple of 4 bytes

#include <cstdint>
#include <string>

namespace zq455 {

// `indexes` holds height rows of width palette indexes, top row first.
std::string EncodeRedRampBitmap(uint32_t width, uint32_t height, const uint8_t* indexes);

} // namespace zq455
