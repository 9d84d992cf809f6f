// The user and factory editors' texts and conversions and the dialogs' number repair,
// without a window.

#include "app/ParameterText.h"
#include "sensor/ParameterMap.h"

#include <gtest/gtest.h>

using namespace zq455;

TEST(UserRows, PickListsHoldTheLegalTextsInOrder) {
    struct TCase {
        unsigned index;
        size_t count;
        const char* first;
        const char* last;
    };
    const TCase cases[] = {
        {USER_SENSOR_ON_OFF, 2, "off", "on"},      {USER_NETWORK_ADDRESS, 32, "0", "31"},
        {USER_UART_BAUDRATE, 8, "4800", "921600"}, {USER_RESULT_LENGTH, 4, "128", "1024"},
        {USER_LASER_INTENSITY, 32, "0", "31"},     {USER_EXTERNAL_DIVIDER, 16384, "1", "16384"},
        {USER_LOCK_TIME, 16384, "0", "81915"},     {USER_POINT_TIME, 1024, "10", "2056"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(UserName(c.index));
        EXPECT_EQ(UserRow(c.index).style, TEditStyle::PICK_LIST);
        const std::vector<std::string> items = PickListItems(c.index);
        ASSERT_EQ(items.size(), c.count);
        EXPECT_EQ(items.front(), c.first);
        EXPECT_EQ(items.back(), c.last);
    }
    EXPECT_EQ(PickListItems(USER_LOCK_TIME)[1], "5");
    EXPECT_EQ(PickListItems(USER_POINT_TIME)[1], "12");
    for (unsigned i : {USER_EXTERNAL_SIGNALS, USER_EXPOSURE, USER_EXTERNAL_DELAY})
        EXPECT_EQ(UserRow(i).style, TEditStyle::BUTTON);
    for (unsigned i : {USER_ROI_LEFT_WIDTH, USER_ROI_TOP_HEIGHT}) {
        EXPECT_EQ(UserRow(i).style, TEditStyle::NONE);
        EXPECT_TRUE(UserRowRewritesCell(i));
    }
}

// Every item of every pick list comes back as the device value that shows it again.
TEST(UserRows, EveryPickListItemRoundTrips) {
    for (unsigned i = 0; i < USER_COUNT; ++i) {
        if (UserRow(i).style != TEditStyle::PICK_LIST)
            continue;
        for (const std::string& item : PickListItems(i)) {
            const uint16_t v = UserValueFromText(i, item, 0x7777);
            ASSERT_EQ(UserValueText(i, v), item) << UserName(i);
        }
    }
}

TEST(UserRows, TextsAndValuesOfTheDeviceEncoding) {
    EXPECT_EQ(UserValueText(USER_SENSOR_ON_OFF, 7), "on");
    EXPECT_EQ(UserValueText(USER_SENSOR_ON_OFF, 0), "off");
    EXPECT_EQ(UserValueFromText(USER_SENSOR_ON_OFF, "anything", 1), 0);
    EXPECT_EQ(UserValueFromText(USER_UART_BAUDRATE, "9600", 3), 0x41);
    // A code outside the eight still shows the formula's rate, and an unknown rate keeps v.
    EXPECT_EQ(UserValueText(USER_UART_BAUDRATE, 4), std::to_string(115200u << 4));
    EXPECT_EQ(UserValueFromText(USER_UART_BAUDRATE, "1843200", 4), 4);
    EXPECT_EQ(UserValueFromText(USER_RESULT_LENGTH, "300", 2), 2);
    EXPECT_EQ(UserValueText(USER_EXTERNAL_DIVIDER, 0), "1");
    EXPECT_EQ(UserValueFromText(USER_LOCK_TIME, "81915", 0), 16383);
    EXPECT_EQ(UserValueText(USER_POINT_TIME, 1023), "2056");
    EXPECT_EQ(UserValueText(USER_EXPOSURE, 0xC003), "49155");
    EXPECT_EQ(UserValueFromText(USER_EXTERNAL_SIGNALS, "12", 0), 12);
    EXPECT_EQ(UserValueFromText(USER_NETWORK_ADDRESS, "", 9), 9);
    // The ROI rows never take a value from their text.
    EXPECT_EQ(UserValueFromText(USER_ROI_LEFT_WIDTH, "99", 12800), 12800);
}

TEST(ParameterDialogs, ExposureRoundsToTheNearestStepAndKeepsTheTopBits) {
    EXPECT_EQ(ExposureUsFromValue(0), 50u);
    EXPECT_EQ(ExposureUsFromValue(0x3FFE), 81960u);
    EXPECT_EQ(ExposureUsFromValue(ExposureToValue(0, false, 54)), 50u);
    EXPECT_EQ(ExposureUsFromValue(ExposureToValue(0, false, 55)), 60u);
    EXPECT_EQ(ExposureUsFromValue(ExposureToValue(0, false, 81960)), 81960u);
    const uint16_t v = ExposureToValue(0xC000, true, 100);
    EXPECT_EQ(v & 0xC000, 0xC000);
    EXPECT_TRUE(ExposureAutoFromValue(v));
    EXPECT_FALSE(ExposureAutoFromValue(ExposureToValue(v, false, 100)));
}

TEST(ParameterDialogs, ExternalSignalsKeepBitsThreeToFifteen) {
    const TExtSignals preset = ExtSignalsFromValue(0xFFFA); // bits 0..2 = 010
    EXPECT_EQ(preset.priority, 0);
    EXPECT_EQ(preset.strobe_level, 1);
    EXPECT_EQ(preset.external_sync, 0);
    EXPECT_EQ(ExtSignalsToValue(0xFFFA, {1, 0, 1}), 0xFFFD);
    EXPECT_EQ(ExtSignalsToValue(0x0008, {0, 0, 0}), 0x0008);
}

TEST(ParameterDialogs, DelayTakesTheNearestFiveMicrosecondStep) {
    EXPECT_EQ(DelayToValue(2), 1);
    EXPECT_EQ(DelayToValue(1), 0);
    EXPECT_EQ(DelayToValue(81915), 16383);
    EXPECT_EQ(DelayUsFromValue(16383), 81915u);
}

TEST(ParameterDialogs, NumberFieldIsRepairedIntoItsRange) {
    EXPECT_EQ(RepairNumberText("12", "300", 50, 81960), "50");
    EXPECT_EQ(RepairNumberText("999999", "300", 50, 81960), "81960");
    EXPECT_EQ(RepairNumberText("81960", "300", 50, 81960), "81960");
    EXPECT_EQ(RepairNumberText("", "300", 50, 81960), "300");
    EXPECT_EQ(RepairNumberText("81916", "0", 0, 81915), "81915");
    EXPECT_EQ(RepairNumberText("0", "5", 0, 81915), "0");
    // An emptied field whose shown text was out of range is repaired as well.
    EXPECT_EQ(RepairNumberText("", "7", 50, 81960), "50");
    EXPECT_TRUE(NumberFieldAcceptsKey(U'0'));
    EXPECT_TRUE(NumberFieldAcceptsKey(8));
    for (char32_t key : {U'a', U'-', U'.', U' ', U'+', U'e'})
        EXPECT_FALSE(NumberFieldAcceptsKey(key));
}

TEST(FactoryRows, OnlyDecimalIntegersOfSixteenBitsAreTaken) {
    bool out_of_range = false;
    EXPECT_EQ(FactoryValueFromText("65535", out_of_range), 65535);
    EXPECT_EQ(FactoryValueFromText("0", out_of_range), 0);
    for (const char* text : {"", "12a", "1.5", " 1", "0x10", "-"}) {
        EXPECT_FALSE(FactoryValueFromText(text, out_of_range)) << text;
        EXPECT_FALSE(out_of_range) << text;
    }
    for (const char* text : {"65536", "99999", "-1"}) {
        EXPECT_FALSE(FactoryValueFromText(text, out_of_range)) << text;
        EXPECT_TRUE(out_of_range) << text;
    }
    EXPECT_EQ(ConversionMessage("12a"), "'12a' is not a valid integer value");
}
