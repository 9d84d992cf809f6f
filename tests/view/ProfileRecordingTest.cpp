// Profile recordings: what is written is read back point for point; a row cut off at the
// end is left out; a file that is not a recording is refused naming the line; a full disk
// stops the recording and keeps the whole profiles written before it; the point cloud.

#include "view/ProfileRecording.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zq455;

namespace {

std::vector<TProfilePoint> Points(unsigned count, float z) {
    std::vector<TProfilePoint> points;
    for (unsigned i = 0; i < count; ++i)
        points.push_back({-4.5f + 9.0f * float(i) / float(count), z + 0.001f * float(i % 7)});
    return points;
}

std::vector<uint16_t> Pairs(unsigned count) {
    std::vector<uint16_t> pairs;
    for (unsigned i = 0; i < count; ++i)
        pairs.push_back(static_cast<uint16_t>(i + 1));
    return pairs;
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

} // namespace

TEST(ProfileRecording, RoundTripsAndLeavesOutACutRow) {
    test::TTempFolder folder("recording");
    const std::string path = folder.Path() + "run.csv";
    TProfileControls controls;
    controls.range_z = 50;
    controls.range_xemr = 10;
    controls.level_um = 60;
    controls.dx_mm = 2;
    controls.x0_mm = -1;
    controls.auto_centre = true;
    TProfileRecorder recorder;
    ASSERT_TRUE(recorder.Open(path, RecordingComment("device type 455, serial number 12345", controls)));
    ASSERT_TRUE(recorder.Append(0, Points(1000, 20.0f), Pairs(1000)));
    ASSERT_TRUE(recorder.Append(45, Points(3, 21.5f), {4, 9, 700}));
    ASSERT_TRUE(recorder.Append(90, {}, {})); // a profile without points leaves no row
    ASSERT_TRUE(recorder.Close());
    EXPECT_EQ(recorder.Profiles(), 3u);

    TRecording r;
    std::string message;
    ASSERT_TRUE(ReadProfileRecording(path, r, message)) << message;
    ASSERT_EQ(r.profiles.size(), 2u);
    EXPECT_EQ(r.profiles[0].points.size(), 1000u);
    EXPECT_EQ(r.profiles[1].index, 1u);
    EXPECT_EQ(r.profiles[1].time_ms, 45u);
    EXPECT_EQ(r.profiles[1].pairs, (std::vector<uint16_t>{4, 9, 700}));
    EXPECT_NEAR(r.profiles[0].points[999].x, Points(1000, 20.0f)[999].x, 0.0005);
    EXPECT_NEAR(r.profiles[1].points[2].z, 21.502f, 0.0005);
    const TProfileControls back = RecordingControls(r);
    EXPECT_EQ(back.range_z, 50);
    EXPECT_EQ(back.range_xemr, 10);
    EXPECT_EQ(back.level_um, 60);
    EXPECT_EQ(back.dx_mm, 2);
    EXPECT_EQ(back.x0_mm, -1);
    EXPECT_TRUE(back.auto_centre);

    // A last row without its line end (the disk filled in the middle of it) is left out.
    std::ifstream in(path, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    WriteText(path, text + "2,135,1,-4.500,2");
    ASSERT_TRUE(ReadProfileRecording(path, r, message)) << message;
    EXPECT_EQ(r.profiles.size(), 2u);

    // Not a recording: the file, the line and the reason.
    struct TBad {
        std::string text;
        const char* expected;
    };
    const TBad bad[] = {
        {"", "line 0: not a profile recording"},
        {"index,time_ms,n,x_mm,z_mm\n", "line 1: not a profile recording"},
        {"# ZQ455 profile recording; x\nN X Z\n", "line 2: the column line"},
        {"# ZQ455 profile recording; x\nindex,time_ms,n,x_mm,z_mm\n0,0,1,1.0\n", "line 3: not \"index"},
        {"# ZQ455 profile recording; x\nindex,time_ms,n,x_mm,z_mm\n0,0,1,1.0,abc\n", "line 3: not \"index"},
        {"# ZQ455 profile recording; x\nindex,time_ms,n,x_mm,z_mm\n0,0,70000,1.0,2.0\n",
         "line 3: not \"index"},
        {"# ZQ455 profile recording; x\nindex,time_ms,n,x_mm,z_mm\n3,0,1,1.0,2.0\n1,0,1,1.0,2.0\n",
         "line 4: profile index 1 after 3"},
    };
    for (const TBad& b : bad) {
        WriteText(path, b.text);
        EXPECT_FALSE(ReadProfileRecording(path, r, message)) << b.expected;
        EXPECT_EQ(message.rfind(path + ": " + b.expected, 0), 0u) << message;
    }
    EXPECT_FALSE(ReadProfileRecording(folder.Path() + "none.csv", r, message));
    EXPECT_NE(message.find("cannot be read"), std::string::npos);
    EXPECT_FALSE(recorder.Open(folder.Path() + "no/such.csv", "x"));
    EXPECT_NE(recorder.Error().find("cannot be created"), std::string::npos);
}

TEST(ProfileRecording, AFullDiskStopsItAndKeepsTheWholeProfiles) {
    test::TTempFolder folder("recording-full");
    const std::string path = folder.Path() + "full.csv";
    // The disk is full once the file reaches 100 000 bytes (a file size limit, in a child).
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{100000, 100000};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        TProfileRecorder recorder;
        if (!recorder.Open(path, "ZQ455 profile recording; test"))
            ::_exit(10);
        uint32_t n = 0;
        while (n < 100 && recorder.Append(n * 45, Points(1024, 20.0f), Pairs(1024)))
            ++n;
        const bool stopped =
            n < 100 && !recorder.Append(0, Points(1, 1), Pairs(1)) &&
            recorder.Error().find("stopped after " + std::to_string(n) + " profiles") != std::string::npos;
        ::_exit(stopped ? 20 + static_cast<int>(n) : 11);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const int code = WEXITSTATUS(status);
    ASSERT_GE(code, 20) << "child reported " << code;
    const unsigned kept = static_cast<unsigned>(code - 20);
    EXPECT_GT(kept, 0u);
    TRecording r;
    std::string message;
    ASSERT_TRUE(ReadProfileRecording(path, r, message)) << message;
    ASSERT_EQ(r.profiles.size(), kept);
    for (const TRecordedProfile& p : r.profiles)
        EXPECT_EQ(p.points.size(), 1024u);
}

TEST(ProfileRecording, PointCloudHasOneVertexAPoint) {
    std::vector<TRecordedProfile> profiles = {{0, 0, {1, 2}, {{-1.0f, 20.0f}, {1.0f, 20.5f}}},
                                              {1, 45, {1}, {{0.25f, 19.75f}}}};
    const std::string ply = FormatPointCloudPly(profiles, 0.5);
    EXPECT_EQ(ply.rfind("ply\nformat ascii 1.0\n", 0), 0u);
    EXPECT_NE(
        ply.find("element vertex 3\nproperty float x\nproperty float y\nproperty float z\nend_header\n"),
        std::string::npos);
    EXPECT_NE(ply.find("end_header\n-1.000 0.000 20.000\n1.000 0.000 20.500\n0.250 0.500 19.750\n"),
              std::string::npos)
        << ply;
}

TEST(ProfileRecording, AReplayRebuildsTheReplySoTheTickGetsTheRecordedPointsBitForBit) {
    test::TTempFolder folder("rebuild");
    // Replies over every value a pair can hold, a few pairs missing, for small and large ranges.
    for (const uint16_t range : {5, 10, 50, 300, 1000, 65535}) {
        std::vector<uint16_t> reply(2 * 1025);
        uint32_t seed = range;
        for (size_t i = 2; i < reply.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            reply[i] = static_cast<uint16_t>((seed >> 8) & 0x3FFF);
            if (reply[i] == 0x2000)
                reply[i] = 0x2001; // "no point" only where meant
        }
        for (size_t pair : {1u, 7u, 500u, 1024u})
            reply[2 * pair] = MISSING_POINT & 0x3FFF;
        TProfileControls controls;
        controls.range_z = range;
        controls.range_xemr = range;
        TProfileTick live;
        AnalyseProfile(reply.data(), static_cast<uint32_t>(reply.size()), 1025, controls, live);

        const std::string path = folder.Path() + "rebuild.csv";
        TProfileRecorder recorder;
        ASSERT_TRUE(recorder.Open(path, RecordingComment("test", controls)));
        ASSERT_TRUE(recorder.Append(0, live.points, live.point_pairs));
        ASSERT_TRUE(recorder.Close());
        TRecording recording;
        std::string message;
        ASSERT_TRUE(ReadProfileRecording(path, recording, message)) << message;
        std::vector<uint16_t> values;
        uint16_t pairs = 0;
        std::string reason;
        ASSERT_TRUE(RebuildReplyValues(recording.profiles[0], RecordingControls(recording), values, pairs, reason))
            << reason;
        TProfileTick replayed;
        AnalyseProfile(values.data(), static_cast<uint32_t>(values.size()), pairs, controls, replayed);
        ASSERT_EQ(replayed.points.size(), live.points.size()) << range;
        for (size_t k = 0; k < live.points.size(); ++k) {
            // Three decimals pin the value for ranges of 5 mm and more.
            ASSERT_EQ(replayed.points[k].x, live.points[k].x) << range << " " << k;
            ASSERT_EQ(replayed.points[k].z, live.points[k].z) << range << " " << k;
        }
        EXPECT_EQ(replayed.point_pairs, live.point_pairs);
    }

    // Points no reply of the ranges could hold, or with no pair number, are refused.
    TRecordedProfile odd;
    odd.pairs = {1};
    odd.points = {{0.0f, 120.0f}};
    TProfileControls ranges;
    ranges.range_z = 50;
    ranges.range_xemr = 10;
    std::vector<uint16_t> values;
    uint16_t pairs = 0;
    std::string reason;
    EXPECT_FALSE(RebuildReplyValues(odd, ranges, values, pairs, reason));
    EXPECT_NE(reason.find("outside"), std::string::npos);
    odd.points = {{0.0f, 10.0f}};
    odd.pairs = {0};
    EXPECT_FALSE(RebuildReplyValues(odd, ranges, values, pairs, reason));
    odd.pairs = {1025};
    EXPECT_FALSE(RebuildReplyValues(odd, ranges, values, pairs, reason));
    ranges.range_z = 0;
    odd.pairs = {1};
    EXPECT_FALSE(RebuildReplyValues(odd, ranges, values, pairs, reason));
}
