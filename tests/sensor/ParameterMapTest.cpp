#include "sensor/ParameterMap.h"
#include "sensor/AngleText.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>

using namespace zq455;

TEST(ParameterMap, WidthsGiveTheReplySizesAndTheBlocksShareNames) {
    EXPECT_EQ(FactoryBlockBytes(), 88u);
    EXPECT_EQ(IdentityBlockBytes(), 15u);
    EXPECT_EQ(UserBlockBytes(), 20u);
    EXPECT_STREQ(UserName(USER_SENSOR_ON_OFF), "Sensor On/Off");
    EXPECT_STREQ(UserName(USER_EXTERNAL_DELAY), "External delay");
    EXPECT_STREQ(FactoryName(12 + USER_UART_BAUDRATE), "UART baudrate");
    EXPECT_STREQ(IdentityName(IDENTITY_RANGE_XEMR), "Measuring range Xemr");
    EXPECT_STREQ(FactoryName(47), "LAS_POL");
    EXPECT_EQ(UserParameterNumber(2), 3);
    for (const auto& entry : BAUD_CODES) {
        EXPECT_EQ(BaudOfCode(entry.code), entry.baud);
        uint8_t code = 0xFF;
        EXPECT_TRUE(CodeOfBaud(entry.baud, code));
        EXPECT_EQ(code, entry.code);
    }
    uint8_t code = 0;
    EXPECT_FALSE(CodeOfBaud(57600, code));
}

TEST(AngleText, ThreeSignificantDigitsPrintedWithThreeDecimals) {
    const auto text = [](double degrees) {
        return AngleText(static_cast<float>(degrees * std::numbers::pi / 180));
    };
    EXPECT_EQ(text(12.3456), "Angle = 12.300\u00B0");
    EXPECT_EQ(text(0), "Angle = 0.000\u00B0");
    EXPECT_EQ(text(-1.23456), "Angle = -1.230\u00B0");
    EXPECT_EQ(text(0.0123456), "Angle = 0.012\u00B0");
    EXPECT_EQ(text(123.456), "Angle = 123.000\u00B0");
    EXPECT_EQ(text(9.996), "Angle = 10.000\u00B0");
    EXPECT_EQ(AngleTextOfBits(0x3E5CA487), "Angle = 12.300\u00B0");
}
