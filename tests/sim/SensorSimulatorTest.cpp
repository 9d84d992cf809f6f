// The command set end to end: TZQ455Interface over a real pseudo-terminal against the
// virtual sensor, found by its USB description as the window finds the device.

#include "sim/SensorSimulator.h"
#include "link/ResultCodes.h"
#include "sensor/ParameterMap.h"
#include "sensor/Zq455interface.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

using namespace zq455;
using TClock = std::chrono::steady_clock;

namespace {

constexpr const char* DEVICE = "SIM TEST SENSOR";

TSensorTiming FastTiming() {
    TSensorTiming timing;
    timing.paced = false;
    timing.rate_change_ms = 20;
    timing.stall_ms = 60;
    return timing;
}

class Simulated : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim.IsValid());
        sim.RegisterAs(DEVICE);
        // The sensor's pauses, shortened but still longer than the simulator's own delay.
        sensor.Sleep = [](uint32_t ms) { SleepMilliseconds(std::min<uint32_t>(ms, 50)); };
        ASSERT_EQ(Connect(sensor), RESULT_OK);
    }

    static uint32_t Connect(TZQ455Interface& s, uint32_t baud = 921600, uint8_t address = 0) {
        TSensorConnection record;
        record.name = DEVICE;
        record.baud = baud;
        record.address = address;
        return s.Open(record);
    }

    template <typename TPredicate> static bool WaitFor(TPredicate predicate) {
        for (int i = 0; i < 400; ++i) {
            if (predicate())
                return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }

    TSensorSimulator sim{FastTiming()};
    TZQ455Interface sensor;
};

float AsFloat(uint32_t bits) {
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

} // namespace

TEST(SensorModel, LinePositionGrowsWithZAndXWidensOverTheRange) {
    TSensorModel model;
    for (double column : {0.0, 100.0, 319.5, 639.0}) {
        double previous = -1;
        for (double z = 0; z <= 50.0; z += 0.25) {
            const double p = model.LinePosition(column, z);
            EXPECT_GT(p, previous) << column << " " << z;
            EXPECT_GE(p, 0.0);
            EXPECT_LE(p, TSensorModel::POSITION_MAX);
            previous = p;
        }
    }
    // The line bends across the columns: the edges stand lower than the centre.
    EXPECT_GT(model.LinePosition(0, 25), model.LinePosition(319.5, 25) + 20);
    EXPECT_NEAR(model.ColumnX(639, 0) - model.ColumnX(0, 0), 8.0, 1e-9);
    EXPECT_NEAR(model.ColumnX(639, 50) - model.ColumnX(0, 50), 10.0, 1e-9);
    EXPECT_NEAR(model.ColumnX(319.5, 10), 0.0, 1e-9);
}

TEST_F(Simulated, ConnectSequenceReadsConsistentBlocks) {
    uint16_t identity[8] = {};
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    for (unsigned i = 0; i < 8; ++i)
        EXPECT_EQ(identity[i], TSensorSimulator::DEFAULT_IDENTITY[i]) << i;
    uint16_t factory[48] = {};
    ASSERT_EQ(sensor.ReadFactoryParameters(factory), RESULT_OK);
    uint16_t user[13] = {};
    ASSERT_EQ(sensor.ReadUserParameters(user), RESULT_OK);
    for (unsigned i = 0; i < 13; ++i)
        EXPECT_EQ(factory[12 + i], user[i]) << i;
    for (unsigned i = 0; i < 8; ++i)
        EXPECT_EQ(factory[25 + i], identity[i]) << i;
    EXPECT_EQ(user[USER_UART_BAUDRATE], 3);
    uint32_t angle = 1;
    ASSERT_EQ(sensor.ReadAngle(angle), RESULT_OK);
    EXPECT_EQ(angle, 0u);

    sim.SetIdentity({455, 2, 777, 1, 120, 100, 80, 110});
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    EXPECT_EQ(identity[4], 120);
    EXPECT_EQ(identity[7], 110);
}

TEST_F(Simulated, UserValuesLoadStoreAndRestore) {
    ASSERT_EQ(sensor.LoadUserParameter(USER_EXPOSURE, 0xC123), RESULT_OK);
    uint16_t value = 0;
    ASSERT_EQ(sensor.ReadUserParameter(USER_EXPOSURE, value), RESULT_OK);
    EXPECT_EQ(value, 0x0123); // bits 14 and 15 never reached the sensor
    EXPECT_EQ(sim.Store().flash.User(USER_EXPOSURE), 500);
    uint16_t factory[48];
    ASSERT_EQ(sensor.ReadFactoryParameters(factory), RESULT_OK);
    EXPECT_EQ(factory[12 + USER_EXPOSURE], 0x0123);

    ASSERT_EQ(sensor.FlashUserParameters(false), RESULT_OK);
    EXPECT_EQ(sim.Store().flash.User(USER_EXPOSURE), 0x0123);
    ASSERT_EQ(sensor.FlashUserParameters(true), RESULT_OK);
    ASSERT_EQ(sensor.ReadUserParameter(USER_EXPOSURE, value), RESULT_OK);
    EXPECT_EQ(value, 500);
    EXPECT_EQ(sim.Store().flash.User(USER_EXPOSURE), 0x0123);

    // All thirteen in one go come back as loaded.
    uint16_t user[13];
    ASSERT_EQ(sensor.ReadUserParameters(user), RESULT_OK);
    user[USER_LASER_INTENSITY] = 99;
    user[USER_POINT_TIME] = 16000;
    ASSERT_EQ(sensor.LoadUserParameters(user), RESULT_OK);
    uint16_t back[13];
    ASSERT_EQ(sensor.ReadUserParameters(back), RESULT_OK);
    EXPECT_EQ(std::vector<uint16_t>(back, back + 13), std::vector<uint16_t>(user, user + 13));
}

TEST_F(Simulated, AddressAndRateFollowTheLoads) {
    ASSERT_EQ(sensor.LoadUserParameter(USER_NETWORK_ADDRESS, 5), RESULT_OK);
    EXPECT_EQ(sim.Address(), 5);
    uint16_t identity[8];
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);

    ASSERT_EQ(sensor.LoadUserParameter(USER_UART_BAUDRATE, 2), RESULT_OK);
    EXPECT_EQ(sim.Baud(), 460800u);
    EXPECT_EQ(sim.LinkBaud(), 460800u);
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);

    // Requests to another address or at another rate get no answer.
    sensor.connection.address = 6;
    ASSERT_EQ(sensor.SendPacket(0x01, nullptr, 0), RESULT_OK);
    uint16_t length = 0;
    EXPECT_TRUE(WaitFor([&] { return sim.Counters().wrong_address == 1; }));
    sensor.connection.address = 5;
    ASSERT_EQ(sensor.link.SetBaudRate(115200), RESULT_OK);
    ASSERT_EQ(sensor.SendPacket(0x01, nullptr, 0), RESULT_OK);
    EXPECT_EQ(sensor.ReceivePacket(sensor.buffer, length), RESULT_READ_TIMEOUT);
    EXPECT_TRUE(WaitFor([&] { return sim.Counters().wrong_rate == 1; }));
    ASSERT_EQ(sensor.link.SetBaudRate(460800), RESULT_OK);

    // Restore default brings both ends back to address 0 and 921600, even when the
    // confirmation is wrong.
    sim.InjectFault(TSensorFault::WRONG_FLASH_CONFIRMATION);
    EXPECT_EQ(sensor.FlashUserParameters(true), RESULT_FLASH_ERROR);
    // The virtual sensor takes its defaults just after the confirmation has left, so the
    // program may see the reply a moment before.
    EXPECT_TRUE(WaitFor([&] { return sim.Address() == 0 && sim.Baud() == 921600u; }));
    EXPECT_EQ(sim.LinkBaud(), 921600u);
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
}

TEST_F(Simulated, ARateChangeTakesTheSensorItsTime) {
    TSensorTiming timing = FastTiming();
    timing.rate_change_ms = 300;
    sim.SetTiming(timing);
    // The program waits less than the sensor takes to switch.
    sensor.Sleep = [](uint32_t) { SleepMilliseconds(30); };
    ASSERT_EQ(sensor.LoadUserParameter(USER_UART_BAUDRATE, 1), RESULT_OK);
    ASSERT_EQ(sensor.SendPacket(0x01, nullptr, 0), RESULT_OK);
    EXPECT_TRUE(WaitFor([&] { return sim.Counters().wrong_rate == 1; }));
    EXPECT_TRUE(WaitFor([&] { return sim.Baud() == 230400u; }));
    uint16_t identity[8];
    EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
}

TEST_F(Simulated, FactoryBlockSharesValuesButNotTheLink) {
    uint16_t factory[48];
    ASSERT_EQ(sensor.ReadFactoryParameters(factory), RESULT_OK);
    factory[12 + USER_NETWORK_ADDRESS] = 9;
    factory[12 + USER_UART_BAUDRATE] = 0;
    factory[12 + USER_LASER_INTENSITY] = 77;
    factory[27] = 4242; // serial lo
    ASSERT_EQ(sensor.LoadFactoryParameters(factory), RESULT_OK);
    uint16_t value = 0;
    ASSERT_EQ(sensor.ReadUserParameter(USER_LASER_INTENSITY, value), RESULT_OK);
    EXPECT_EQ(value, 77);
    ASSERT_EQ(sensor.ReadUserParameter(USER_NETWORK_ADDRESS, value), RESULT_OK);
    EXPECT_EQ(value, 9);
    EXPECT_EQ(sim.Address(), 0);
    EXPECT_EQ(sim.Baud(), 921600u);
    uint16_t identity[8];
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    EXPECT_EQ(identity[IDENTITY_SERIAL_LO], 4242);

    ASSERT_EQ(sensor.FlashFactoryParameters(false), RESULT_OK);
    EXPECT_EQ(sim.Store().flash.factory[27], 4242);
    ASSERT_EQ(sensor.FlashFactoryParameters(true), RESULT_OK);
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    EXPECT_EQ(identity[IDENTITY_SERIAL_LO], TSensorSimulator::DEFAULT_IDENTITY[IDENTITY_SERIAL_LO]);
}

TEST_F(Simulated, AngleRotateStoreAndRestore) {
    uint32_t bits = 0;
    ASSERT_EQ(sensor.RotateSystem(bits), RESULT_OK);
    EXPECT_NEAR(AsFloat(bits), TScene{}.tilt_rad, 1e-6);
    uint32_t read = 0;
    ASSERT_EQ(sensor.ReadAngle(read), RESULT_OK);
    EXPECT_EQ(read, bits);
    ASSERT_EQ(sensor.FlashAngle(false), RESULT_OK);
    EXPECT_EQ(sim.Store().flash.angle, bits);
    ASSERT_EQ(sensor.FlashAngle(true), RESULT_OK);
    ASSERT_EQ(sensor.ReadAngle(read), RESULT_OK);
    EXPECT_EQ(read, 0u);
}

TEST_F(Simulated, ProfileShowsThePlaneAndTheStepInTheRanges) {
    std::vector<uint16_t> values(4096);
    uint8_t result_status = 0;
    uint16_t count = 0;
    ASSERT_EQ(sensor.GetResult(result_status, count, values.data(), 4096), RESULT_OK);
    EXPECT_EQ(count, 1024); // "Result length" 3 by default
    const TScene scene;
    int on_step = 0, on_plane = 0, shadowed = 0;
    for (unsigned i = 0; i < count; ++i) {
        // Z first, then X; 14-bit two's complement, 4096 units for the range.
        const int raw_z = values[2 * i] & 0x2000 ? values[2 * i] - 0x4000 : values[2 * i];
        const int raw_x = values[2 * i + 1] & 0x2000 ? values[2 * i + 1] - 0x4000 : values[2 * i + 1];
        if (values[2 * i] == 0x2000) {
            EXPECT_EQ(values[2 * i + 1], 0x2000);
            ++shadowed;
            continue;
        }
        const double z = raw_z * 50.0 / 4096, x = raw_x * 10.0 / 4096;
        const double plane = scene.plane_z_mm + std::tan(scene.tilt_rad) * x;
        if (x > scene.step_from_mm + 0.1 && x < scene.step_to_mm - 0.1) {
            EXPECT_NEAR(z, plane + scene.step_height_mm, 0.05) << x;
            ++on_step;
        } else if (x < scene.step_from_mm - 0.1 || x > scene.step_to_mm + 0.1) {
            EXPECT_NEAR(z, plane, 0.05) << x;
            ++on_plane;
        }
        EXPECT_GE(x, -5.0);
        EXPECT_LE(x, 5.0);
    }
    EXPECT_GT(on_step, 200);
    EXPECT_GT(on_plane, 600);
    EXPECT_GT(shadowed, 0); // beside the step's walls
    EXPECT_LT(shadowed, 40);

    struct TCase {
        uint16_t length_code;
        uint16_t on;
        uint16_t points;
    };
    for (const TCase& c : {TCase{0, 1, 128}, TCase{4, 1, 2048}, TCase{7, 1, 2048}, TCase{3, 0, 0}}) {
        ASSERT_EQ(sensor.LoadUserParameter(USER_RESULT_LENGTH, c.length_code), RESULT_OK);
        ASSERT_EQ(sensor.LoadUserParameter(USER_SENSOR_ON_OFF, c.on), RESULT_OK);
        ASSERT_EQ(sensor.GetResult(result_status, count, values.data(), 4096), RESULT_OK);
        EXPECT_EQ(count, c.points) << c.length_code << " " << c.on;
    }
}

TEST_F(Simulated, ProfileScattersALittleInZFromShotToShot) {
    std::vector<uint16_t> first(4096), second(4096);
    uint8_t result_status = 0;
    uint16_t count = 0;
    ASSERT_EQ(sensor.GetResult(result_status, count, first.data(), 4096), RESULT_OK);
    ASSERT_EQ(sensor.GetResult(result_status, count, second.data(), 4096), RESULT_OK);
    auto signed14 = [](uint16_t v) { return v & 0x2000 ? v - 0x4000 : v; };
    int moved = 0, largest = 0;
    for (unsigned i = 0; i < count; ++i) {
        // X follows the camera column; the table gives it at the measured height, so the
        // scatter in Z moves it by a rounding at most.
        EXPECT_LE(std::abs(signed14(first[2 * i + 1]) - signed14(second[2 * i + 1])), 1) << i;
        if (first[2 * i] == 0x2000)
            continue;
        const int d = std::abs(signed14(first[2 * i]) - signed14(second[2 * i]));
        moved += d != 0;
        largest = std::max(largest, d);
    }
    // 25 um peak noise on a 50 mm range of 4096 units: at most 2 x 2 units (and rounding).
    EXPECT_GT(moved, 500);
    EXPECT_LE(largest, 5);
    // A still scene repeats itself exactly.
    TScene still;
    still.noise_mm = 0;
    sim.SetScene(still);
    ASSERT_EQ(sensor.GetResult(result_status, count, first.data(), 4096), RESULT_OK);
    ASSERT_EQ(sensor.GetResult(result_status, count, second.data(), 4096), RESULT_OK);
    EXPECT_EQ(first, second);
}

TEST_F(Simulated, VideoFrameFollowsTheRoi) {
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 0, width = 0, top = 0, left = 0;
    ASSERT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    EXPECT_EQ(rows, 512);
    EXPECT_EQ(width, 640);
    EXPECT_EQ(top, 0);
    EXPECT_EQ(left, 0);
    // The laser line is the brightest row of a column, where the model puts it.
    TSensorModel model;
    double x = 0, z = 0;
    ASSERT_TRUE(model.SceneHit(100, x, z));
    const int expected_row = static_cast<int>(std::lround(model.LinePosition(100, z) / 10));
    int brightest = 0;
    for (int r = 0; r < 512; ++r) {
        EXPECT_LT(pixels[r * 640 + 100], 128);
        if (pixels[r * 640 + 100] > pixels[brightest * 640 + 100])
            brightest = r;
    }
    EXPECT_EQ(brightest, expected_row);
    EXPECT_GT(pixels[brightest * 640 + 100], 80);

    // Left 25 %, width 50 %; top 10 %, height 20 %.
    ASSERT_EQ(sensor.LoadUserParameter(USER_ROI_LEFT_WIDTH, 25 + 50 * 128), RESULT_OK);
    ASSERT_EQ(sensor.LoadUserParameter(USER_ROI_TOP_HEIGHT, 10 + 20 * 128), RESULT_OK);
    ASSERT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    EXPECT_EQ(left, 160);
    EXPECT_EQ(width, 320);
    EXPECT_EQ(top, 51);
    EXPECT_EQ(rows, 102);
    // Percentages past the frame's edge are cropped to it.
    ASSERT_EQ(sensor.LoadUserParameter(USER_ROI_LEFT_WIDTH, 90 + 127 * 128), RESULT_OK);
    ASSERT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    EXPECT_EQ(left, 576);
    EXPECT_EQ(width, 64);
}

TEST_F(Simulated, VideoProgressCountsEveryLineInOrderAndStopsWhereTheReplyBreaks) {
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 0, width = 0, top = 0, left = 0;
    ASSERT_EQ(sensor.LoadUserParameter(USER_ROI_TOP_HEIGHT, 10 + 20 * 128), RESULT_OK);
    std::vector<std::array<uint32_t, 3>> heard;
    const auto listen = [&](uint32_t done, uint32_t lines, uint32_t pixels_a_line) {
        heard.push_back({done, lines, pixels_a_line});
    };
    ASSERT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left, listen), RESULT_OK);
    ASSERT_EQ(rows, 102);
    ASSERT_EQ(heard.size(), 102u);
    for (uint32_t k = 0; k < heard.size(); ++k)
        ASSERT_EQ(heard[k], (std::array<uint32_t, 3>{k + 1, 102, 640})) << k;

    // A reply that stops half way: the count stops short of the frame and the code says why.
    heard.clear();
    sim.InjectFault(TSensorFault::STALL_MID_REPLY);
    EXPECT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left, listen),
              RESULT_READ_TIMEOUT);
    EXPECT_GT(heard.size(), 0u);
    EXPECT_LT(heard.size(), 102u);
    // The frame's wire time: 9 + 640 x 512 + 3 bytes of 10 bits.
    EXPECT_NEAR(FrameReplySeconds(512, 640, 921600), 3.556, 0.001);
    EXPECT_NEAR(FrameReplySeconds(512, 640, 115200), 28.44, 0.01);
    EXPECT_EQ(FrameReplySeconds(512, 640, 0), 0.0);
}

TEST_F(Simulated, VideoFrameBrightensWithLaserIntensityAndExposure) {
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 0, width = 0, top = 0, left = 0;
    TSensorModel model;
    double x = 0, z = 0;
    ASSERT_TRUE(model.SceneHit(100, x, z));
    const size_t line = static_cast<size_t>(std::lround(model.LinePosition(100, z) / 10)) * 640 + 100;
    const size_t dark = 5 * 640 + 100;
    struct TLevels {
        int line, dark;
    };
    auto frame = [&](uint16_t intensity, uint16_t exposure) {
        EXPECT_EQ(sensor.LoadUserParameter(USER_LASER_INTENSITY, intensity), RESULT_OK);
        EXPECT_EQ(sensor.LoadUserParameter(USER_EXPOSURE, exposure), RESULT_OK);
        EXPECT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
        return TLevels{pixels[line], pixels[dark]};
    };
    // Exposure: bits 1..13 count 10 us above 50 us; 500 is 2550 us.
    const TLevels normal = frame(16, 500);
    const TLevels no_laser = frame(0, 500);
    EXPECT_LT(no_laser.line, 12); // only the background
    const TLevels weak = frame(8, 500);
    EXPECT_LT(weak.line, normal.line);
    EXPECT_GT(weak.line, normal.line / 3);
    const TLevels short_exposure = frame(16, 250);
    EXPECT_LT(short_exposure.line, normal.line);
    EXPECT_LE(short_exposure.dark, normal.dark);
    // Strong light saturates at the 7-bit ceiling; the background grows with the exposure only.
    const TLevels strong = frame(31, 500);
    EXPECT_EQ(strong.line, 127);
    EXPECT_EQ(strong.dark, normal.dark);
    const TLevels long_exposure = frame(16, 2000);
    EXPECT_EQ(long_exposure.line, 127);
    EXPECT_GT(long_exposure.dark, normal.dark);
    // Automatic exposure (bit 0) brings a weak line back to the normal level.
    const TLevels automatic = frame(8, 500 | 1);
    EXPECT_NEAR(automatic.line, normal.line, 8);
    for (size_t i = 0; i < static_cast<size_t>(rows) * width; ++i)
        ASSERT_LT(pixels[i], 128);
}

TEST_F(Simulated, CalibrationFrameIsOneLinePositionPerColumn) {
    std::vector<uint16_t> values(1024);
    uint32_t count = 0;
    ASSERT_EQ(sensor.ReadCalibrData(values.data(), 1024, count), RESULT_OK);
    ASSERT_EQ(count, 641u);
    EXPECT_EQ(values[0], 640);
    TSensorModel model;
    std::vector<uint16_t> expected;
    model.CalibrationFrame(std::nullopt, expected);
    EXPECT_EQ(std::vector<uint16_t>(values.begin() + 1, values.begin() + 641), expected);

    // With a stage, the calibration target at the stage's height: the line of the plate on
    // the stripes, 0 between them but for a rare stray reflection far off the line.
    double stage_um = TCalibrationTarget::STAGE_REFERENCE_UM + 25000;
    sim.SetStagePositionSource([&] { return stage_um; });
    std::vector<uint16_t> first(640);
    for (int frame = 0; frame < 2; ++frame) {
        ASSERT_EQ(sensor.ReadCalibrData(values.data(), 1024, count), RESULT_OK);
        ASSERT_EQ(values[0], 640);
        int on = 0, differ = 0;
        for (unsigned c = 0; c < 640; ++c) {
            const uint16_t v = values[1 + c];
            const double line = model.LinePosition(c, 25.0);
            if (TCalibrationTarget::OnStripe(model.ColumnX(c, 25.0))) {
                ++on;
                EXPECT_LE(std::abs(v - line), TCalibrationTarget::NOISE + 0.5) << c;
            } else if (v != 0) {
                EXPECT_GE(std::abs(v - line), TCalibrationTarget::OUTLIER_MIN - 0.5) << c;
            }
            if (frame == 1)
                differ += v != first[c];
            first[c] = v;
        }
        EXPECT_GT(on, 200);
        EXPECT_LT(on, 440);
        if (frame == 1) {
            EXPECT_GT(differ, 0); // the noise changes from frame to frame
        }
    }
    // The zero stripe sits in the middle of the frame.
    EXPECT_NE(values[1 + 320], 0);
    stage_um = 200000; // the plate far beyond the camera's rows: the scene again
    ASSERT_EQ(sensor.ReadCalibrData(values.data(), 1024, count), RESULT_OK);
    EXPECT_EQ(std::vector<uint16_t>(values.begin() + 1, values.begin() + 641), expected);
}

TEST(SensorModel, TrueZAndXOfAnImagePointInvertTheLine) {
    TSensorModel model;
    for (double column : {0.0, 100.0, 319.5, 500.0, 639.0})
        for (double z : {-2.5, 0.0, 12.3, 25.0, 49.9, 52.5}) {
            const double p = model.LinePosition(column, z);
            EXPECT_NEAR(model.ZAtPosition(column, p), z, 1e-9) << column << " " << z;
            EXPECT_NEAR(model.XAtPosition(column, p), model.ColumnX(column, z), 1e-9);
        }
    EXPECT_DOUBLE_EQ(model.TargetZ(TCalibrationTarget::STAGE_REFERENCE_UM + 1500), 1.5);
}

TEST_F(Simulated, TableReachesTheMemoryAndTheSave) {
    std::vector<uint16_t> table(TABLE_VALUES);
    for (size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<uint16_t>((i * 37) & 0x3FFF);
    table[5] = 0xE000;
    uint32_t last_done = 0, total = 0;
    ASSERT_EQ(sensor.TransmitTable(table.data(), TABLE_VALUES,
                                   [&](uint32_t done, uint32_t all) {
                                       last_done = done;
                                       total = all;
                                   }),
              RESULT_OK);
    EXPECT_EQ(last_done, 160u);
    EXPECT_EQ(total, 160u);
    std::vector<uint16_t> memory = sim.TableMemory();
    EXPECT_EQ(memory[5], 0x2000);
    memory[5] = 0xE000;
    EXPECT_EQ(memory, table);
    EXPECT_EQ(sim.Counters().table_saves, 0u);
    ASSERT_EQ(sensor.SaveTable(), RESULT_OK);
    EXPECT_EQ(sim.Counters().table_saves, 1u);
    EXPECT_EQ(sim.SavedTable()[7], table[7]);
}

TEST_F(Simulated, InjectedFaultsGiveTheirCodes) {
    struct TCase {
        TSensorFault fault;
        uint32_t code;
    };
    const TCase cases[] = {
        {TSensorFault::SHORT_REPLY, RESULT_UNKNOWN_ERROR},
        {TSensorFault::LONG_REPLY, RESULT_UNKNOWN_ERROR},
        {TSensorFault::WRONG_CHECKSUM, RESULT_PACKET_ERROR},
        {TSensorFault::NOISE_BEFORE_START, RESULT_OK},
        {TSensorFault::STALL_MID_REPLY, RESULT_READ_TIMEOUT},
        {TSensorFault::NO_REPLY, RESULT_READ_TIMEOUT},
    };
    uint16_t identity[8];
    for (const TCase& c : cases) {
        sim.InjectFault(c.fault);
        EXPECT_EQ(sensor.ReadIdentity(identity), c.code) << FaultName(c.fault);
        // Next-reply faults are spent; the next exchange is clean (a stalled tail is purged).
        std::this_thread::sleep_for(
            std::chrono::milliseconds(c.fault == TSensorFault::STALL_MID_REPLY ? 80 : 0));
        EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_OK) << FaultName(c.fault);
    }

    // Every-reply mode lasts until cleared; GetResult's one retry meets it too.
    sim.InjectFault(TSensorFault::WRONG_CHECKSUM, TFaultMode::EVERY_REPLY);
    const size_t before = sim.Commands().size();
    uint8_t result_status = 0;
    uint16_t count = 0;
    std::vector<uint16_t> values(4096);
    EXPECT_EQ(sensor.GetResult(result_status, count, values.data(), 4096), RESULT_PACKET_ERROR);
    EXPECT_EQ(sim.Commands().size(), before + 2);
    EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_PACKET_ERROR);
    sim.ClearFaults();
    EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_OK);

    // A one-off checksum fault costs GetResult nothing but the second request.
    sim.InjectFault(TSensorFault::WRONG_CHECKSUM);
    EXPECT_EQ(sensor.GetResult(result_status, count, values.data(), 4096), RESULT_OK);
    EXPECT_EQ(count, 1024);

    // The command-specific faults wait for their command.
    sim.InjectFault(TSensorFault::REFUSE_TABLE_BLOCK);
    sim.InjectFault(TSensorFault::WRONG_FLASH_CONFIRMATION);
    EXPECT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    std::vector<uint16_t> table(3 * 4096, 7);
    EXPECT_EQ(sensor.TransmitTable(table.data(), 3 * 4096), RESULT_UNKNOWN_ERROR);
    EXPECT_EQ(sim.TableMemory()[0], sim.FactoryTable().Cells()[0]); // the refused block changed nothing
    EXPECT_EQ(sensor.SaveTable(), RESULT_FLASH_ERROR);
    EXPECT_EQ(sensor.TransmitTable(table.data(), 3 * 4096), RESULT_OK);
    EXPECT_EQ(sensor.SaveTable(), RESULT_OK);
}

TEST_F(Simulated, APulledCableEndsTheExchange) {
    sim.InjectFault(TSensorFault::CLOSE_MID_REPLY);
    uint16_t identity[8];
    const auto start = TClock::now();
    const uint32_t code = sensor.ReadIdentity(identity);
    EXPECT_TRUE(code == RESULT_READ_ERROR || code == RESULT_READ_TIMEOUT) << code;
    EXPECT_LT(std::chrono::duration<double>(TClock::now() - start).count(), 1.5);
    EXPECT_NE(sensor.ReadIdentity(identity), RESULT_OK);
}

TEST(SimulatorPacing, RepliesTakeTheirWireTime) {
    TSensorTiming timing;
    timing.rate_change_ms = 20;
    TSensorSimulator sim(timing);
    sim.RegisterAs(DEVICE);
    TZQ455Interface sensor;
    sensor.Sleep = [](uint32_t) { SleepMilliseconds(40); };
    TSensorConnection record;
    record.name = DEVICE;
    ASSERT_EQ(sensor.Open(record), RESULT_OK);
    ASSERT_EQ(sensor.LoadUserParameter(USER_UART_BAUDRATE, 0x41), RESULT_OK); // 9600
    uint16_t identity[8];
    const auto start = TClock::now();
    ASSERT_EQ(sensor.ReadIdentity(identity), RESULT_OK);
    // 7 request and 21 reply bytes of ten bits: 29 ms at 9600 bit/s, without breaking the
    // link's 10 ms byte gap.
    const double elapsed_ms = std::chrono::duration<double, std::milli>(TClock::now() - start).count();
    EXPECT_GE(elapsed_ms, 29.0);
}

TEST(SensorTable, LooksUpBetweenRowsAndColumnsAndDropsPointsWithoutValues) {
    // Z = 3 x row + column, X = -(row + 2 x column): the interpolation of a plane is exact.
    std::vector<uint16_t> cells(TSensorTable::VALUES);
    for (unsigned r = 0; r < 512; ++r)
        for (unsigned c = 0; c < 640; ++c) {
            cells[r * 640 + c] = static_cast<uint16_t>(3 * r + c);
            cells[(512 + r) * 640 + c] = static_cast<uint16_t>(-int(r + 2 * c) & 0x3FFF);
        }
    TSensorTable table(cells);
    int32_t z = 0, x = 0;
    ASSERT_TRUE(table.Lookup(100.5, 255.0, z, x)); // row 25.5
    EXPECT_EQ(z, std::lround(3 * 25.5 + 100.5));
    EXPECT_EQ(x, -std::lround(25.5 + 2 * 100.5));
    ASSERT_TRUE(table.Lookup(0, 0, z, x));
    EXPECT_EQ(z, 0);
    // Beyond the last sampled slot and the last column: the edge's values.
    ASSERT_TRUE(table.Lookup(700, 5119, z, x));
    EXPECT_EQ(z, 3 * 511 + 639);
    EXPECT_FALSE(table.Lookup(10, -1, z, x));
    EXPECT_FALSE(table.Lookup(std::nan(""), 10, z, x));

    // One empty cell among the four around a point makes it missing; a point on a whole
    // column and slot needs only its own cell.
    table.Cells()[(512 + 26) * 640 + 101] = TSensorTable::EMPTY;
    EXPECT_FALSE(table.Lookup(100.5, 255.0, z, x));
    EXPECT_TRUE(table.Lookup(100.0, 250.0, z, x));
    EXPECT_FALSE(table.Lookup(101.0, 260.0, z, x));
    table.Cells()[5 * 640 + 7] = 0x3FFF & 0xE000; // EMPTY_CELL as the transfer delivers it
    EXPECT_FALSE(table.Lookup(7.0, 50.0, z, x));
}

TEST_F(Simulated, TheTargetReplacesTheSceneWhileTheCameraSeesIt) {
    std::vector<uint16_t> values(4096);
    uint8_t result_status = 0;
    uint16_t count = 0;
    double stage_um = TCalibrationTarget::STAGE_REFERENCE_UM + 12500; // the plate at 12.5 mm
    sim.SetStagePositionSource([&] { return stage_um; });
    ASSERT_EQ(sensor.GetResult(result_status, count, values.data(), 4096), RESULT_OK);
    auto signed14 = [](uint16_t v) { return v & 0x2000 ? v - 0x4000 : v; };
    // Points on the stripes only, at the plate's height, with gaps between the stripes.
    int on = 0, gaps = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (values[2 * i] == 0x2000) {
            gaps += i > 0 && values[2 * i - 2] != 0x2000;
            continue;
        }
        ++on;
        EXPECT_NEAR(signed14(values[2 * i]) * 50.0 / 4096, 12.5, 0.05) << i;
        EXPECT_TRUE(TCalibrationTarget::OnStripe(signed14(values[2 * i + 1]) * 10.0 / 4096 + 0.01) ||
                    TCalibrationTarget::OnStripe(signed14(values[2 * i + 1]) * 10.0 / 4096 - 0.01))
            << i;
    }
    EXPECT_GT(on, 400);
    EXPECT_LT(on, 650);
    EXPECT_GT(gaps, 15); // one a stripe, about 18 of them

    // The camera frame shows the line on the stripes only.
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 0, width = 0, top = 0, left = 0;
    ASSERT_EQ(sensor.GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left), RESULT_OK);
    TSensorModel model;
    model.SetGeometry({80, 50, 8, 10, {}});
    auto brightest = [&](unsigned c) {
        int level = 0;
        for (unsigned r = 0; r < 512; ++r)
            level = std::max<int>(level, pixels[r * 640 + c]);
        return level;
    };
    EXPECT_GT(brightest(320), 80);  // the zero stripe
    EXPECT_LT(brightest(303), 20);  // the gap beside it
    EXPECT_LT(model.ColumnX(303, 12.5), -0.125);

    // Out of the camera's view again: the scene.
    stage_um = 0;
    ASSERT_EQ(sensor.GetResult(result_status, count, values.data(), 4096), RESULT_OK);
    int scene_points = 0;
    for (unsigned i = 0; i < count; ++i)
        scene_points += values[2 * i] != 0x2000;
    EXPECT_GT(scene_points, 950);
}
