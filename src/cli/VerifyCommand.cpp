// zq455 verify: the calibration check without a window. The stage carries the target through
// the Z range again, the sensor measures it through its table, and the figures say how far
// the measured Z and X are from what the stage and the target say.

#include "Cli.h"

#include "app/Certificate.h"
#include "app/ErrorMapPicture.h"
#include "calibration/VerificationReport.h"
#include "calibration/VerificationRun.h"
#include "link/ResultCodes.h"
#include "motor/Motorinterface.h"
#include "sensor/ParameterMap.h"

#include <charconv>

namespace zq455::cli {
namespace {

constexpr const char* VERIFY_SYNOPSIS =
    "verify [--positions K] [--profiles N] [--report FILE] [--pdf FILE] [--begin UM] [--settle MS]\n"
    "       [--max-linearity PCT] [--max-scale PCT] [--max-repeatability UM] [--max-pitch-error UM]\n"
    "       [--max-offset PCT] [--max-field-error PCT] [--max-x-field-error UM] [--max-flatness PCT]\n"
    "       [--motor-port PATH | --motor-usb DESCRIPTION]";
constexpr uint32_t BEGIN_MIN_UM = 10;
constexpr uint32_t BEGIN_MAX_UM = 360000;
constexpr uint32_t SETTLE_MAX_MS = 60000;
constexpr double TOLERANCE_MAX = 100000.0;

// A non-negative decimal number with an optional fraction, a point whatever the locale.
bool ParseAmount(const std::string& text, double& value) {
    if (text.empty() || text.find_first_not_of("0123456789.") != std::string::npos)
        return false;
    double parsed = 0;
    const auto r = std::from_chars(text.data(), text.data() + text.size(), parsed);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || parsed > TOLERANCE_MAX)
        return false;
    value = parsed;
    return true;
}

int Verify(TCliSession& session, const std::vector<std::string>& args) {
    TVerifySettings settings;
    TMotorOpenSettings open;
    std::string report;
    std::string pdf;
    for (size_t i = 0; i < args.size(); i += 2) {
        if (i + 1 >= args.size())
            return session.Usage(VERIFY_SYNOPSIS);
        const std::string& a = args[i];
        const std::string& value = args[i + 1];
        bool ok = true;
        if (a == "--report")
            report = value;
        else if (a == "--pdf")
            pdf = value;
        else if (!TakeVerifyOption(a, value, settings, ok))
            ok = TakeMotorOption(a, value, open);
        if (!ok)
            return session.Usage(VERIFY_SYNOPSIS);
    }

    uint16_t identity[IDENTITY_COUNT] = {};
    TMotorInterface motor;
    if (int status = OpenSensorAndMotor(session, open, identity, motor))
        return status;
    TZQ455Interface& sensor = session.Sensor();

    const TVerifyOutcome outcome = RunVerification(
        settings, identity[IDENTITY_RANGE_Z], identity[IDENTITY_RANGE_XEMR], motor,
        [&sensor](uint16_t* values, uint32_t capacity, uint16_t& pairs) {
            uint8_t result_status = 0;
            return sensor.GetResult(result_status, pairs, values, capacity);
        },
        session.Environment().sleep);
    const int status = ReportVerifyOutcome(session, settings, outcome);
    if (status != 0 && status != EXIT_CHECK_FAILED)
        return status;
    TVerifyReportInfo info;
    std::copy(std::begin(identity), std::end(identity), info.identity.begin());
    info.date_time = NowText();
    info.settings = settings;
    TCalibrResult written;
    if (!report.empty()) {
        written = WriteVerifyReport(report, info, outcome.result);
        const double field_um = settings.tolerances.z_field_pct / 100.0 * identity[IDENTITY_RANGE_Z] * 1000.0;
        if (written.Ok())
            written =
                WriteErrorMapPng(VerifySiblingPath(report, VERIFY_MAP_PNG_ENDING), outcome.result, field_um);
    }
    if (written.Ok() && !pdf.empty())
        written = WriteCertificatePdf(pdf, {info, "", "", ""}, outcome.result);
    if (!written.Ok()) {
        session.Err() << written.message << "\n";
        return EXIT_CANT_CREATE;
    }
    return status;
}

} // namespace

bool TakeVerifyOption(const std::string& a, const std::string& value, TVerifySettings& settings, bool& ok) {
    uint32_t number = 0;
    if (a == "--positions") {
        ok = ParseDecimal(value, VERIFY_MAX_POSITIONS, number) && number >= 2;
        settings.positions = number;
    } else if (a == "--profiles") {
        ok = ParseDecimal(value, VERIFY_MAX_PROFILES, number) && number >= 1;
        settings.profiles = number;
    } else if (a == "--begin") {
        ok = ParseDecimal(value, BEGIN_MAX_UM, number) && number >= BEGIN_MIN_UM;
        settings.begin_um = static_cast<int32_t>(number);
    } else if (a == "--settle") {
        ok = ParseDecimal(value, SETTLE_MAX_MS, number);
        settings.settle_ms = number;
    } else if (a == "--max-linearity") {
        ok = ParseAmount(value, settings.tolerances.z_linearity_pct);
    } else if (a == "--max-scale") {
        ok = ParseAmount(value, settings.tolerances.z_scale_pct);
    } else if (a == "--max-repeatability") {
        ok = ParseAmount(value, settings.tolerances.z_repeatability_um);
    } else if (a == "--max-pitch-error") {
        ok = ParseAmount(value, settings.tolerances.x_pitch_um);
    } else if (a == "--max-offset") {
        ok = ParseAmount(value, settings.tolerances.z_offset_pct);
    } else if (a == "--max-field-error") {
        ok = ParseAmount(value, settings.tolerances.z_field_pct);
    } else if (a == "--max-x-field-error") {
        ok = ParseAmount(value, settings.tolerances.x_field_um);
    } else if (a == "--max-flatness") {
        ok = ParseAmount(value, settings.tolerances.flatness_pct);
    } else {
        return false;
    }
    return true;
}

int ReportVerifyOutcome(TCliSession& session, const TVerifySettings& settings,
                        const TVerifyOutcome& outcome) {
    if (outcome.sensor_result != 0) {
        session.Err() << "Stopped at position " << outcome.completed + 1 << " of " << settings.positions
                      << ": ";
        return session.Fail(outcome.sensor_result);
    }
    if (outcome.motor_result != 0) {
        session.Err() << "Motor driver: ";
        return session.Fail(outcome.motor_result);
    }
    if (outcome.stage_stuck) {
        session.Err() << "Motor driver: the stage did not come to rest; ";
        return session.Fail(RESULT_READ_TIMEOUT);
    }
    for (const std::string& line : VerifyFigureLines(outcome.result))
        session.Out() << line << "\n";
    return outcome.result.passed ? 0 : EXIT_CHECK_FAILED;
}

TCliCommand VerifyCommand() {
    return {"verify",
            {"verify [--positions K] [--profiles N] [--report FILE] [--pdf FILE] [--begin UM] [--settle MS]",
             "       [--max-linearity PCT] [--max-scale PCT] [--max-repeatability UM]",
             "       [--max-pitch-error UM] [--max-offset PCT] [--max-field-error PCT]",
             "       [--max-x-field-error UM] [--max-flatness PCT]",
             "       [--motor-port PATH | --motor-usb DESCRIPTION]",
             "                              checks a calibration: the stage goes home, then to K",
             "                              positions over the Z range (default 21, from \"Begin, um:\"",
             "                              22000, where the run's first capture is Z = 0), N profiles",
             "                              at each (default 10), and home again; prints the figures",
             "                              and \"Result: pass\" (exit 0) or \"Result: fail (<figure>)\"",
             "                              (exit 1); tolerances default to 0.1 % of the range (offset,",
             "                              field error, flatness) and 50 um (X field error); FILE gets a",
             "                              JSON summary, a CSV per position, the Z error map as",
             "                              -map.csv and as a picture, -map.png; --pdf FILE: the",
             "                              one-page certificate"},
            Verify};
}

} // namespace zq455::cli
