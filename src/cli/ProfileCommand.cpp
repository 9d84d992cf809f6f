// zq455 profile [--txt FILE]: one profile in millimetres, scaled by the identity's ranges as
// the window scales it; with --txt the very bytes the window's "Save to file" writes.
// zq455 profile --count N [--csv FILE] [--ply FILE --pitch MM]: N profiles in a row, recorded
// as the window records them, and as the point cloud of a part carried under the sensor.

#include "Cli.h"

#include "sensor/ParameterMap.h"
#include "view/ProfileAnalysis.h"
#include "view/ProfileFile.h"
#include "view/ProfileRecording.h"

#include <charconv>
#include <chrono>

namespace zq455::cli {
namespace {

constexpr const char* PROFILE_SYNOPSIS =
    "profile [--txt FILE] | profile --count N [--csv FILE] [--ply FILE [--pitch MM]]";
constexpr uint32_t MAX_COUNT = 1000000;
// The reply store of the window: up to 2048 pairs.
constexpr uint32_t RESULT_CAPACITY = 4096;

// Opens the sensor and reads the ranges its values are scaled by; 0 or the exit status.
int OpenAndReadIdentity(TCliSession& session, uint16_t (&identity)[IDENTITY_COUNT]) {
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    if (uint32_t code = session.Sensor().ReadIdentity(identity))
        return session.Fail(code);
    return 0;
}

// N profiles: each analysed as a tick of the window, appended to the recording as it comes.
int Record(TCliSession& session, const std::vector<std::string>& args) {
    uint32_t count = 0;
    std::string csv, ply;
    double pitch_mm = 1.0;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return session.Usage(PROFILE_SYNOPSIS);
        const std::string& a = args[i];
        const std::string& value = args[i + 1];
        bool ok = true;
        if (a == "--count") {
            ok = ParseDecimal(value, MAX_COUNT, count) && count > 0;
        } else if (a == "--csv") {
            csv = value;
        } else if (a == "--ply") {
            ply = value;
        } else if (a == "--pitch") {
            const auto r = std::from_chars(value.data(), value.data() + value.size(), pitch_mm);
            ok =
                r.ec == std::errc() && r.ptr == value.data() + value.size() && pitch_mm > 0 && pitch_mm < 1e6;
        } else {
            ok = false;
        }
        if (!ok)
            return session.Usage(PROFILE_SYNOPSIS);
    }
    if (count == 0 || (csv.empty() && ply.empty()))
        return session.Usage(PROFILE_SYNOPSIS);

    uint16_t identity[IDENTITY_COUNT] = {};
    if (int status = OpenAndReadIdentity(session, identity))
        return status;
    TProfileControls controls;
    controls.range_z = identity[IDENTITY_RANGE_Z];
    controls.range_xemr = identity[IDENTITY_RANGE_XEMR];
    const std::string who =
        "device type " + std::to_string(identity[IDENTITY_DEVICE_TYPE]) + ", serial number " +
        std::to_string(identity[IDENTITY_SERIAL_LO] + (uint32_t(identity[IDENTITY_SERIAL_HI]) << 16));
    TProfileRecorder recorder;
    if (!csv.empty() && !recorder.Open(csv, RecordingComment(who, controls))) {
        session.Err() << recorder.Error() << "\n";
        return EXIT_CANT_CREATE;
    }
    std::vector<TRecordedProfile> cloud;
    std::vector<uint16_t> values(RESULT_CAPACITY);
    TProfileTick tick;
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t n = 0; n < count; ++n) {
        uint8_t status = 0;
        uint16_t pairs = 0;
        if (uint32_t code = session.Sensor().GetResult(status, pairs, values.data(), RESULT_CAPACITY))
            return session.Fail(code);
        AnalyseProfile(values.data(), 2u * pairs, pairs, controls, tick);
        const auto ms = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                .count());
        if (recorder.IsOpen() && !recorder.Append(ms, tick.points, tick.point_pairs)) {
            session.Err() << recorder.Error() << "\n";
            return EXIT_CANT_CREATE;
        }
        if (!ply.empty())
            cloud.push_back({n, ms, tick.point_pairs, tick.points});
    }
    if (recorder.IsOpen() && !recorder.Close()) {
        session.Err() << recorder.Error() << "\n";
        return EXIT_CANT_CREATE;
    }
    if (!ply.empty()) {
        const TFileResult written = WriteFileAtomically(ply, FormatPointCloudPly(cloud, pitch_mm));
        if (!written.ok) {
            session.Err() << written.message << "\n";
            return EXIT_CANT_CREATE;
        }
    }
    session.Out() << count << " profiles" << (csv.empty() ? "" : ", " + csv)
                  << (ply.empty() ? "" : ", " + ply) << "\n";
    return 0;
}

int Profile(TCliSession& session, const std::vector<std::string>& args) {
    if (!args.empty() && args[0] != "--txt")
        return Record(session, args);
    const bool to_file = args.size() == 2 && args[0] == "--txt";
    if (!args.empty() && !to_file)
        return session.Usage(PROFILE_SYNOPSIS);
    uint16_t identity[IDENTITY_COUNT] = {};
    if (int status = OpenAndReadIdentity(session, identity))
        return status;
    std::vector<uint16_t> values(RESULT_CAPACITY);
    uint8_t status = 0;
    uint16_t count = 0;
    if (uint32_t code = session.Sensor().GetResult(status, count, values.data(), RESULT_CAPACITY))
        return session.Fail(code);

    TProfileControls controls;
    controls.range_z = identity[IDENTITY_RANGE_Z];
    controls.range_xemr = identity[IDENTITY_RANGE_XEMR];
    TProfileTick tick;
    AnalyseProfile(values.data(), 2u * count, count, controls, tick);

    if (to_file) {
        const TFileResult written =
            WriteFileAtomically(args[1], FormatProfileText(tick.profile, tick.pair_count));
        if (!written.ok) {
            session.Err() << written.message << "\n";
            return EXIT_CANT_CREATE;
        }
        return 0;
    }
    // The valid points only, each with the number of its pair (the file's row number).
    for (size_t k = 0; k < tick.points.size(); ++k)
        session.Out() << tick.point_pairs[k] << " " << FormatProfileValue(tick.points[k].x) << " "
                      << FormatProfileValue(tick.points[k].z) << "\n";
    return 0;
}

} // namespace

TCliCommand ProfileCommand() {
    return {"profile",
            {"profile                       one profile: \"N X Z\" per valid point, in mm",
             "profile --txt FILE            write it as the setup program's profile text file",
             "profile --count N [--csv FILE] [--ply FILE [--pitch MM]]",
             "                              N profiles in a row: FILE gets a recording (one row a",
             "                              point, \"index,time_ms,n,x_mm,z_mm\"), the PLY file a point",
             "                              cloud with y = profile index x MM (default 1)"},
            Profile};
}

} // namespace zq455::cli
