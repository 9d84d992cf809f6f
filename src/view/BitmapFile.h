#pragma once
// The frame bitmap file: an uncompressed 8-bit Windows bitmap with the black-to-red palette
// (entry i = red i, green 0, blue 0).
//
//   BITMAPFILEHEADER (14 bytes) | BITMAPINFOHEADER (40) | 256 x {B, G, R, 0} | rows, bottom up,
//   each padded to a multiple of 4 bytes

#include <cstddef>
#include <cstdint>
#include <string>

namespace zq455 {

// `indexes` holds height rows of width palette indexes, top row first, `stride` bytes apart
// (0: rows follow each other without padding).
std::string EncodeRedRampBitmap(uint32_t width, uint32_t height, const uint8_t* indexes, size_t stride = 0);

// The bitmap file of a camera frame: `rows` lines of `width` 7-bit pixels, each doubled into
// the palette as the frame view shows it.
std::string EncodeFrameBitmap(uint32_t width, uint32_t rows, const uint8_t* pixels);

} // namespace zq455
