#include "sensor/Protocol.h"
#include "support/TestNames.h"

#include <gtest/gtest.h>

using namespace zq455;
using namespace zq455::protocol;

using TBytes = std::vector<uint8_t>;

struct TRequestVector {
    const char* what;
    uint8_t address;
    uint8_t command;
    TBytes payload;
    TBytes wire;
};

void PrintTo(const TRequestVector& v, std::ostream* os) {
    *os << v.what;
}

class RequestFraming : public ::testing::TestWithParam<TRequestVector> {};

TEST_P(RequestFraming, MatchesTheDocumentedBytes) {
    TCRC crc(CRC_POLY);
    const auto& v = GetParam();
    EXPECT_EQ(BuildRequest(crc, v.address, v.command, v.payload), v.wire) << v.what;
}

INSTANTIATE_TEST_SUITE_P(
    Golden, RequestFraming,
    ::testing::Values(
        TRequestVector{"identity to address 1", 1, 0x01, {}, {0x01, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}},
        TRequestVector{"identity to address 0", 0, 0x01, {}, {0x00, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}},
        TRequestVector{"read of parameter 3", 1, 0x02, {0x03}, {0x01, 0x81, 0x80, 0x82, 0x83, 0xC1, 0xC2, 0x81}},
        TRequestVector{"address 37 goes out as 5", 37, 0x01, {}, {0x05, 0x80, 0x80, 0x81, 0xC1, 0x81, 0x83}}),
    [](const auto& info) { return zq455::test::CamelName(info.param.what); });

TEST(Protocol, GroupsRoundTripAndDropHighBits) {
    uint8_t out[5];
    EncodeGroups(0xE000, 2, out); // EMPTY_CELL travels as its low 14 bits
    EXPECT_EQ(out[0], 0x00);
    EXPECT_EQ(out[1], 0x40);
    EncodeGroups(0xFFFF, 2, out); // -1
    EXPECT_EQ(out[0], 0x7F);
    EXPECT_EQ(out[1], 0x7F);
    EXPECT_EQ(DecodeGroups(out, 2), 0x3FFFu);
    EncodeGroups(8192, 4, out); // the third table block's offset
    EXPECT_EQ(TBytes(out, out + 4), (TBytes{0x00, 0x40, 0x00, 0x00}));
    EncodeGroups(0xDEADBEEF, 5, out);
    EXPECT_EQ(DecodeGroups(out, 5), 0xDEADBEEFu);
    const uint8_t wire[] = {0x85, 0x81};
    EXPECT_EQ(DecodeGroups(wire, 2), 5u + (1u << 7));
}

TEST(Protocol, EmptyReplyCarriesTheChecksumOfNothing) {
    TCRC crc(CRC_POLY);
    EXPECT_EQ(BuildReply(crc, {}), (TBytes{0x00, 0x80, 0x80, 0x80, 0x80, 0x80}));
}
