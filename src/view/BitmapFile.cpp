#include "BitmapFile.h"

#include "FrameView.h"

#include <vector>

namespace zq455 {
namespace {

void Put16(std::string& out, uint32_t value) {
    out += static_cast<char>(value & 0xFF);
    out += static_cast<char>((value >> 8) & 0xFF);
}

void Put32(std::string& out, uint32_t value) {
    Put16(out, value & 0xFFFF);
    Put16(out, value >> 16);
}

} // namespace

std::string EncodeRedRampBitmap(uint32_t width, uint32_t height, const uint8_t* indexes, size_t stride) {
    if (stride == 0)
        stride = width;
    const uint32_t padded = (width + 3) & ~3u;
    const uint32_t palette_bytes = 256 * 4;
    const uint32_t offset = 14 + 40 + palette_bytes;
    const uint32_t image_bytes = padded * height;
    std::string out;
    out.reserve(offset + image_bytes);
    out += "BM";
    Put32(out, offset + image_bytes);
    Put32(out, 0);
    Put32(out, offset);
    Put32(out, 40);
    Put32(out, width);
    Put32(out, height); // positive: rows bottom up
    Put16(out, 1);
    Put16(out, 8);
    Put32(out, 0); // no compression
    Put32(out, image_bytes);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 256);
    Put32(out, 0);
    for (uint32_t i = 0; i < 256; ++i) {
        out += '\0';
        out += '\0';
        out += static_cast<char>(i);
        out += '\0';
    }
    for (uint32_t row = height; row-- > 0;) {
        out.append(reinterpret_cast<const char*>(indexes) + row * stride, width);
        out.append(padded - width, '\0');
    }
    return out;
}

std::string EncodeFrameBitmap(uint32_t width, uint32_t rows, const uint8_t* pixels) {
    std::vector<uint8_t> indexes(static_cast<size_t>(width) * rows);
    FrameToPaletteIndexes(pixels, width, rows, indexes.data(), width);
    return EncodeRedRampBitmap(width, rows, indexes.data());
}

} // namespace zq455
