// zq455 profile [--txt FILE]: one profile in millimetres, scaled by the identity's ranges as
// the window scales it; with --txt the very bytes the window's "Save to file" writes.

#include "Cli.h"

#include "sensor/ParameterMap.h"
#include "view/ProfileAnalysis.h"
#include "view/ProfileFile.h"

namespace zq455::cli {
namespace {

constexpr const char* PROFILE_SYNOPSIS = "profile [--txt FILE]";
// The reply store of the window: up to 2048 pairs.
constexpr uint32_t RESULT_CAPACITY = 4096;

int Profile(TCliSession& session, const std::vector<std::string>& args) {
    const bool to_file = args.size() == 2 && args[0] == "--txt";
    if (!args.empty() && !to_file)
        return session.Usage(PROFILE_SYNOPSIS);
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    uint16_t identity[IDENTITY_COUNT] = {};
    if (uint32_t code = session.Sensor().ReadIdentity(identity))
        return session.Fail(code);
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
             "profile --txt FILE            write it as the setup program's profile text file"},
            Profile};
}

} // namespace zq455::cli
