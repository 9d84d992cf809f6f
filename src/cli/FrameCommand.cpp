// zq455 frame --bmp FILE: one camera frame, saved as the same 8-bit red-ramp bitmap the
// window's frame view saves, and its place on the camera printed.

#include "Cli.h"

#include "link/ResultCodes.h"
#include "view/BitmapFile.h"
#include "view/FrameView.h"
#include "view/ProfileFile.h"

#include <vector>

namespace zq455::cli {
namespace {

constexpr const char* FRAME_SYNOPSIS = "frame --bmp FILE";

int Frame(TCliSession& session, const std::vector<std::string>& args) {
    if (args.size() != 2 || args[0] != "--bmp" || args[1].empty())
        return session.Usage(FRAME_SYNOPSIS);
    if (uint32_t code = session.OpenSensor())
        return session.Fail(code);
    std::vector<uint8_t> pixels(VIDEO_FRAME_CAPACITY);
    uint16_t rows = 0, width = 0, top = 0, left = 0;
    if (uint32_t code =
            session.Sensor().GetVideo(pixels.data(), VIDEO_FRAME_CAPACITY, rows, width, top, left))
        return session.Fail(code);
    // As in the window: a frame that does not lie on the camera is a reply of the wrong shape.
    if (!FrameFitsCamera(rows, width, top, left))
        return session.Fail(RESULT_UNKNOWN_ERROR);
    const TFileResult saved = WriteFileAtomically(args[1], EncodeFrameBitmap(width, rows, pixels.data()));
    if (!saved.ok) {
        session.Err() << saved.message << "\n";
        return EXIT_CANT_CREATE;
    }
    session.Out() << "Frame " << width << " x " << rows << " at left " << left << ", top " << top << "\n";
    return 0;
}

} // namespace

TCliCommand FrameCommand() {
    return {"frame",
            {"frame --bmp FILE              one camera frame as an 8-bit bitmap, pixels doubled into a",
             "                              black-to-red palette, as the window saves it (73: not written)"},
            Frame};
}

} // namespace zq455::cli
