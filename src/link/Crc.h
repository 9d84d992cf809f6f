#pragma once
// CRC-16/ARC: reflected polynomial 0xA001 (0x8005 normal), initial value 0, no final XOR,
// check value 0xBB3D over "123456789". It closes every sensor packet in both directions.

#include <cstdint>
#include <memory>

namespace zq455 {

class TCRC {
public:
    explicit TCRC(uint16_t polynomial);
    TCRC(const TCRC&) = delete;
    TCRC& operator=(const TCRC&) = delete;

    // Folds count bytes into the caller's accumulator, in order; the caller starts it at 0
    // for each packet. A count of 0 leaves it unchanged.
    void Update(uint16_t& accumulator, const uint8_t* data, uint32_t count) const;

    uint16_t Entry(uint8_t index) const { return table[index]; }

    uint16_t poly;
    std::unique_ptr<uint16_t[]> table;
};

} // namespace zq455
