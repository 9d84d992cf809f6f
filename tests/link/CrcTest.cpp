#include "link/Crc.h"

#include <gtest/gtest.h>

#include <cstring>

using zq455::TCRC;

TEST(Crc, TableMatchesTheReflectedArcTable) {
    TCRC crc(0xA001);
    EXPECT_EQ(crc.Entry(0), 0x0000);
    EXPECT_EQ(crc.Entry(1), 0xC0C1);
    EXPECT_EQ(crc.Entry(128), 0xA001);
    EXPECT_EQ(crc.Entry(255), 0x4040);
}

TEST(Crc, CheckValues) {
    TCRC crc(0xA001);
    uint16_t acc = 0;
    const uint8_t one = 0x01;
    crc.Update(acc, &one, 1);
    EXPECT_EQ(acc, 0xC0C1);

    const char* check = "123456789";
    acc = 0;
    crc.Update(acc, reinterpret_cast<const uint8_t*>(check), 9);
    EXPECT_EQ(acc, 0xBB3D);
}

TEST(Crc, SplitFeedingEqualsOneCallAndEmptyFeedChangesNothing) {
    TCRC crc(0xA001);
    const char* check = "123456789";
    const auto* bytes = reinterpret_cast<const uint8_t*>(check);
    for (uint32_t split = 0; split <= 9; ++split) {
        uint16_t acc = 0;
        crc.Update(acc, bytes, split);
        crc.Update(acc, bytes + split, 9 - split);
        EXPECT_EQ(acc, 0xBB3D) << "split at " << split;
    }
    uint16_t acc = 0x1234;
    crc.Update(acc, bytes, 0);
    EXPECT_EQ(acc, 0x1234);
}
