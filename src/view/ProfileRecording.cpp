#include "ProfileRecording.h"

#include <cerrno>
#include <charconv>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace zq455 {
namespace {

constexpr const char* HEADER = "index,time_ms,n,x_mm,z_mm";
constexpr const char* COMMENT_START = "ZQ455 profile recording";

// "-4.386": three decimals and a point whatever the locale.
void AppendFixed(std::string& out, double value, int decimals) {
    char text[48];
    const auto r = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    out.append(text, r.ptr);
}

template <typename T> bool ParseNumber(const std::string& text, T& value) {
    const auto r = std::from_chars(text.data(), text.data() + text.size(), value);
    return r.ec == std::errc() && r.ptr == text.data() + text.size();
}

} // namespace

std::string RecordingComment(const std::string& identity, const TProfileControls& c) {
    return std::string(COMMENT_START) + "; " + identity + "; range_z=" + std::to_string(c.range_z) +
           "; range_xemr=" + std::to_string(c.range_xemr) + "; level_um=" + std::to_string(c.level_um) +
           "; dx_mm=" + std::to_string(c.dx_mm) + "; x0_mm=" + std::to_string(c.x0_mm) +
           "; auto=" + (c.auto_centre ? "1" : "0");
}

TProfileControls RecordingControls(const TRecording& recording) {
    TProfileControls c;
    auto number = [&](const char* key, int fallback) {
        const auto it = recording.fields.find(key);
        int value = fallback;
        if (it != recording.fields.end())
            ParseNumber(it->second, value);
        return value;
    };
    c.range_z = static_cast<uint16_t>(number("range_z", 0));
    c.range_xemr = static_cast<uint16_t>(number("range_xemr", 0));
    c.level_um = number("level_um", 0);
    c.dx_mm = number("dx_mm", 1);
    c.x0_mm = number("x0_mm", 0);
    c.auto_centre = number("auto", 0) != 0;
    return c;
}

TProfileRecorder::~TProfileRecorder() {
    Close();
}

bool TProfileRecorder::Fail(const char* what) {
    const int why = errno;
    error = path + ": " + what + " (" + std::strerror(why) + "); the recording stopped after " +
            std::to_string(profiles) + " profiles, which the file keeps";
    // A profile is kept whole or not at all: what this one wrote before the disk filled goes.
    if (::ftruncate(::fileno(file), static_cast<off_t>(kept_bytes)) != 0)
        error += " (its last lines may be cut off)";
    std::fclose(file);
    file = nullptr;
    return false;
}

bool TProfileRecorder::Open(const std::string& file_path, const std::string& comment) {
    Close();
    path = file_path;
    error.clear();
    profiles = 0;
    file = std::fopen(path.c_str(), "wb");
    if (!file) {
        error = path + ": cannot be created (" + std::strerror(errno) + ")";
        return false;
    }
    const std::string head = "# " + comment + "\n" + HEADER + "\n";
    kept_bytes = 0;
    if (std::fwrite(head.data(), 1, head.size(), file) != head.size() || std::fflush(file) != 0)
        return Fail("cannot be written");
    kept_bytes = head.size();
    return true;
}

bool TProfileRecorder::Append(uint32_t time_ms, const std::vector<TProfilePoint>& points,
                              const std::vector<uint16_t>& pairs) {
    if (!file)
        return false;
    row.clear();
    const std::string prefix = std::to_string(profiles) + "," + std::to_string(time_ms) + ",";
    for (size_t k = 0; k < points.size(); ++k) {
        row += prefix;
        row += std::to_string(k < pairs.size() ? pairs[k] : k + 1);
        row += ',';
        AppendFixed(row, points[k].x, 3);
        row += ',';
        AppendFixed(row, points[k].z, 3);
        row += '\n';
    }
    // One write and one flush a profile: a full disk shows at once, not at the close.
    if (std::fwrite(row.data(), 1, row.size(), file) != row.size() || std::fflush(file) != 0)
        return Fail("cannot be written");
    kept_bytes += row.size();
    ++profiles;
    return true;
}

bool TProfileRecorder::Close() {
    if (!file)
        return error.empty();
    const bool ok = std::fflush(file) == 0;
    if (!ok)
        error = path + ": cannot be written (" + std::strerror(errno) + ")";
    std::fclose(file);
    file = nullptr;
    return ok;
}

bool RebuildReplyValues(const TRecordedProfile& profile, const TProfileControls& ranges,
                        std::vector<uint16_t>& values, uint16_t& pair_count, std::string& reason) {
    if (ranges.range_z == 0 || ranges.range_xemr == 0) {
        reason = "the recording names no measuring range";
        return false;
    }
    uint32_t pairs = 1;
    for (uint16_t pair : profile.pairs)
        pairs = std::max<uint32_t>(pairs, pair + 1u);
    if (pairs > PROFILE_CAPACITY + 1 || profile.pairs.size() != profile.points.size()) {
        reason = "pair number beyond a reply";
        return false;
    }
    constexpr uint16_t MISSING_RAW = MISSING_POINT & 0x3FFF;
    values.assign(2 * pairs, MISSING_RAW);
    // The tick's scale: mm = value x range / 4096, the value a 14-bit two's complement.
    auto raw = [&](float mm, uint16_t range, uint16_t& out) {
        const long value = std::lround(static_cast<double>(mm) * 4096.0 / range);
        if (value <= -8192 || value > 8191)
            return false; // -8192 is the reply's "no point"
        out = static_cast<uint16_t>(value) & 0x3FFF;
        return true;
    };
    for (size_t k = 0; k < profile.points.size(); ++k) {
        const uint16_t pair = profile.pairs[k];
        if (pair == 0 || !raw(profile.points[k].z, ranges.range_z, values[2 * pair]) ||
            !raw(profile.points[k].x, ranges.range_xemr, values[2 * pair + 1])) {
            reason = "point " + std::to_string(pair) + " lies outside what a reply of the recording's ranges holds";
            return false;
        }
    }
    pair_count = static_cast<uint16_t>(pairs);
    return true;
}

bool ReadProfileRecording(const std::string& path, TRecording& out, std::string& message) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        message = path + ": cannot be read (" + std::strerror(errno) + ")";
        return false;
    }
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    TRecording r;
    size_t at = 0;
    unsigned line_number = 0;
    auto next_line = [&](std::string& line) {
        if (at >= text.size())
            return false;
        const size_t end = text.find('\n', at);
        if (end == std::string::npos) {
            at = text.size(); // cut off by a full disk: left out
            return false;
        }
        line = text.substr(at, end - at);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        at = end + 1;
        ++line_number;
        return true;
    };
    auto refuse = [&](const std::string& why) {
        message = path + ": line " + std::to_string(line_number) + ": " + why;
        return false;
    };
    std::string line;
    if (!next_line(line) || line.rfind(std::string("# ") + COMMENT_START, 0) != 0)
        return refuse("not a profile recording (no \"# " + std::string(COMMENT_START) + "\" line)");
    r.comment = line.substr(2);
    std::istringstream parts(r.comment);
    for (std::string part; std::getline(parts, part, ';');) {
        const size_t begin = part.find_first_not_of(' ');
        const size_t eq = part.find('=');
        if (begin != std::string::npos && eq != std::string::npos && eq > begin)
            r.fields[part.substr(begin, eq - begin)] = part.substr(eq + 1);
    }
    if (!next_line(line) || line != HEADER)
        return refuse(std::string("the column line is not \"") + HEADER + "\"");
    while (next_line(line)) {
        std::string field[5];
        std::istringstream cells(line);
        unsigned n = 0;
        for (; n < 5 && std::getline(cells, field[n], ','); ++n) {
        }
        uint32_t index = 0, time_ms = 0;
        uint16_t pair = 0;
        float x = 0, z = 0;
        if (n != 5 || !ParseNumber(field[0], index) || !ParseNumber(field[1], time_ms) ||
            !ParseNumber(field[2], pair) || !ParseNumber(field[3], x) || !ParseNumber(field[4], z))
            return refuse("not \"index,time_ms,n,x_mm,z_mm\" numbers: " + line.substr(0, 80));
        if (r.profiles.empty() || r.profiles.back().index != index) {
            if (!r.profiles.empty() && index < r.profiles.back().index)
                return refuse("profile index " + std::to_string(index) + " after " +
                              std::to_string(r.profiles.back().index));
            r.profiles.push_back({index, time_ms, {}, {}});
        }
        r.profiles.back().pairs.push_back(pair);
        r.profiles.back().points.push_back({x, z});
    }
    out = std::move(r);
    return true;
}

std::string FormatPointCloudPly(const std::vector<TRecordedProfile>& profiles, double pitch_mm) {
    size_t vertices = 0;
    for (const TRecordedProfile& p : profiles)
        vertices += p.points.size();
    std::string text = "ply\nformat ascii 1.0\ncomment ZQ455 profiles, y = profile index x ";
    AppendFixed(text, pitch_mm, 3);
    text += " mm\nelement vertex " + std::to_string(vertices) +
            "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
    for (size_t i = 0; i < profiles.size(); ++i)
        for (const TProfilePoint& point : profiles[i].points) {
            AppendFixed(text, point.x, 3);
            text += ' ';
            AppendFixed(text, double(i) * pitch_mm, 3);
            text += ' ';
            AppendFixed(text, point.z, 3);
            text += '\n';
        }
    return text;
}

} // namespace zq455
