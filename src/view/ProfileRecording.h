#pragma once
// Profile recordings: every profile of a measuring run written as it comes, to be replayed
// later without a sensor or sent to someone else, and the point cloud of a part carried
// under the sensor.
//
// The CSV file:
//   # ZQ455 profile recording; <identity>; <ranges>; <flatness settings>
//   index,time_ms,n,x_mm,z_mm
//   0,0,1,-4.386,19.906
//   ...
// one row per valid point: the profile's index from 0, its time in ms from the first
// profile, the point's pair number in the reply, X and Z in mm with three decimals (the
// flatness check on replay works in micrometres). The comment line holds what the replay
// needs: the ranges and the flatness settings, as "key=value" pairs after the text.
//
// The PLY file: ASCII, one vertex per valid point, x = X, y = profile index x pitch, z = Z.

#include "view/ProfileAnalysis.h"

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace zq455 {

struct TRecordedProfile {
    uint32_t index = 0;
    uint32_t time_ms = 0;
    std::vector<uint16_t> pairs;
    std::vector<TProfilePoint> points;
};

struct TRecording {
    std::string comment;                       // the first line, without "# "
    std::map<std::string, std::string> fields; // its key=value pairs
    std::vector<TRecordedProfile> profiles;
};

// The comment line's text: the identity and the settings the replay needs.
std::string RecordingComment(const std::string& identity, const TProfileControls& controls);
// The controls a recording was made with (ranges and flatness settings), from its comment.
TProfileControls RecordingControls(const TRecording& recording);

// Writes profiles as they come. A failed write (a full disk) stops the recording: what was
// written stays, Append returns false from then on and Error() says why.
class TProfileRecorder {
public:
    TProfileRecorder() = default;
    ~TProfileRecorder();
    TProfileRecorder(const TProfileRecorder&) = delete;
    TProfileRecorder& operator=(const TProfileRecorder&) = delete;

    bool Open(const std::string& path, const std::string& comment);
    bool Append(uint32_t time_ms, const std::vector<TProfilePoint>& points,
                const std::vector<uint16_t>& pairs);
    // Flushes and closes; false when the last bytes could not be written.
    bool Close();

    bool IsOpen() const { return file != nullptr; }
    uint32_t Profiles() const { return profiles; }
    const std::string& Error() const { return error; }
    const std::string& Path() const { return path; }

private:
    bool Fail(const char* what);

    std::FILE* file = nullptr;
    std::string path;
    std::string error;
    std::string row;
    uint64_t kept_bytes = 0; // the file's size after the last whole profile
    uint32_t profiles = 0;
};

// Reads a recording; a last row cut off by a full disk is left out. False with a message
// naming the file, the line and the reason for anything else that is not a recording.
bool ReadProfileRecording(const std::string& path, TRecording& recording, std::string& message);

// The GetResult values a recorded profile came from, rebuilt from its millimetres and the
// recording's ranges, so a replay runs the measuring tick's own analysis on it: pair k of
// the reply gets the point recorded with pair number k, every other pair is missing. Exact
// for ranges of 5 mm and more (a value step is then more than twice the file's 0.0005 mm
// rounding). False, with the reason, for a point no reply of these ranges could hold.
bool RebuildReplyValues(const TRecordedProfile& profile, const TProfileControls& ranges,
                        std::vector<uint16_t>& values, uint16_t& pair_count, std::string& reason);

// The point cloud of the recorded profiles as an ASCII PLY file's text.
std::string FormatPointCloudPly(const std::vector<TRecordedProfile>& profiles, double pitch_mm);

} // namespace zq455
