// The window when the sensor fails in the middle of work: the error monitor shows the code's
// message once and resets the window, measuring and the frame view stop, and Connect works
// again once the device is back, without restarting the program.

#include "app/ConnectBar.h"
#include "WindowFixture.h"

using namespace zq455;
using namespace zq455::test;

namespace {

struct TMeasuringFault {
    const char* name;
    TSensorFault fault;
    const char* message;
};

void PrintTo(const TMeasuringFault& c, std::ostream* os) {
    *os << c.name;
}

class MeasuringFault : public SetupWindow, public ::testing::WithParamInterface<TMeasuringFault> {};

} // namespace

TEST_P(MeasuringFault, StopsMeasuringReportsOnceAndReconnects) {
    const TMeasuringFault& c = GetParam();
    Connect();
    window->Button_Get_Result->click();
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Counters().answered > 5; }, 3000));
    ASSERT_TRUE(boxes.empty());
    demo->sensor->InjectFault(c.fault, TFaultMode::EVERY_REPLY);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 4000)) << c.name;
    EXPECT_EQ(boxes[0].caption, "ZQ455-SP.");
    EXPECT_EQ(boxes[0].text, c.message);
    EXPECT_EQ(boxes[0].connect_caption, "Connect"); // the reset came before the box
    EXPECT_FALSE(boxes[0].errors_timer_active);
    EXPECT_FALSE(window->Timer_Result->isActive());
    EXPECT_EQ(window->Button_Get_Result->text(), "Start Measure");
    EXPECT_FALSE(window->Button_Get_Result->isEnabled());
    EXPECT_EQ(window->height(), window->Collapsed_Height);
    EXPECT_EQ(window->Sensor_Result, 0u);
    // Two more monitor periods: no second box.
    WaitFor([] { return false; }, 2200);
    EXPECT_EQ(boxes.size(), 1u);

    // The device answers again: Connect works without restarting anything.
    demo->sensor->ClearFaults();
    Connect();
    EXPECT_EQ(window->Label_Ranges_Model_Value->text(), "455");
    EXPECT_TRUE(window->Button_Get_Result->isEnabled());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, MeasuringFault,
    ::testing::Values(TMeasuringFault{"no reply", TSensorFault::NO_REPLY, "Read timeout."},
                      TMeasuringFault{"wrong checksum", TSensorFault::WRONG_CHECKSUM, "Packet error."},
                      TMeasuringFault{"short reply", TSensorFault::SHORT_REPLY, "Unknown error."},
                      TMeasuringFault{"stall", TSensorFault::STALL_MID_REPLY, "Read timeout."}),
    [](const auto& info) {
        std::string name = info.param.name;
        for (char& ch : name)
            if (ch == ' ')
                ch = '_';
        return name;
    });

TEST_F(SetupWindow, PulledCableWhileMeasuringThenTheDeviceComesBack) {
    Connect();
    window->Button_Get_Result->click();
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Counters().answered > 5; }, 3000));
    demo->sensor->PullCable();
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 4000));
    // The read meets the hung-up port (4); GetResult's one repeat then cannot write (6).
    EXPECT_EQ(boxes[0].text, "Write error.");
    EXPECT_FALSE(window->Timer_Result->isActive());
    EXPECT_FALSE(window->Sensor->IsOpen()); // the dead port closed at the reset
    // Two more monitor periods: no second box.
    WaitFor([] { return false; }, 2200);
    EXPECT_EQ(boxes.size(), 1u);

    // Plugged in again under a new path: "Reconnect" finds the same serial number, connects,
    // and measuring goes on by itself.
    EXPECT_TRUE(window->Connect_Bar->Waiting());
    demo = std::make_unique<TDemoDevices>(false);
    ASSERT_TRUE(demo->IsValid());
    ASSERT_TRUE(WaitFor([&] { return window->Button_Connect->text() == "Disconnect"; }, 3000));
    EXPECT_EQ(window->Label_Ranges_Serial_Value->text(), "12345");
    EXPECT_EQ(window->Button_Get_Result->text(), "Stop Measure");
    ASSERT_TRUE(WaitFor([&] { return demo->sensor->Counters().answered > 8; }, 3000));
    EXPECT_EQ(boxes.size(), 1u);
    window->Button_Get_Result->click();
}

TEST_F(SetupWindow, FailedFrameStopsTheFrameViewAndIsReportedOnce) {
    Connect();
    window->PageControl_Interface->setCurrentWidget(window->TabSheet_Video);
    ASSERT_TRUE(window->Button_Get_Video->isEnabled());
    ASSERT_TRUE(window->Timer_Repaint->isActive());
    demo->sensor->InjectFault(TSensorFault::WRONG_CHECKSUM);
    window->Button_Get_Video->click();
    EXPECT_EQ(window->Sensor_Result, 8u);
    ASSERT_TRUE(WaitFor([&] { return !boxes.empty(); }, 1500));
    EXPECT_EQ(boxes[0].text, "Packet error.");
    EXPECT_FALSE(window->Timer_Repaint->isActive());
    EXPECT_FALSE(window->Button_Get_Video->isEnabled());
    EXPECT_EQ(window->Button_Get_Video->text(), "Get BITMAP");
    // Two more monitor periods: no second box.
    WaitFor([] { return false; }, 2200);
    EXPECT_EQ(boxes.size(), 1u);
}
