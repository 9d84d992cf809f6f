// The .dtf reader on arbitrary file contents: the bytes that arrive replace the start of
// Calibr_Data and nothing else, a full file loads whole, a shorter one says so.

#include "FuzzCheck.h"
#include "calibration/DataFile.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

using namespace zq455;

namespace {

constexpr uint8_t BEFORE = 0xA7; // every byte of Calibr_Data before the load
static_assert(std::endian::native == std::endian::little);

} // namespace

// byte 0 bit 0 clear: the file is the rest of the input. Set: bytes 1..3 give the file's
// length (up to a little beyond a whole file) and the rest of the input is its content,
// repeated, so that short inputs reach whole and overlong files too.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t input_size) {
    if (input_size < 1)
        return 0;
    static std::vector<uint8_t> file;
    if (input[0] & 1) {
        if (input_size < 4)
            return 0;
        const size_t length = (input[1] | input[2] << 8 | input[3] << 16) % (CALIBR_DATA_BYTES + 1001);
        file.assign(length, 0);
        if (input_size > 4)
            for (size_t i = 0; i < length; ++i)
                file[i] = input[4 + i % (input_size - 4)];
    } else {
        file.assign(input + 1, input + input_size);
    }
    const uint8_t* data = file.data();
    const size_t size = file.size();
    static TCalibrationState state;
    // The file lives in memory; the reader opens it by path like any other.
    static const int fd = memfd_create("dtf", MFD_CLOEXEC);
    static const std::string path = "/proc/self/fd/" + std::to_string(fd);
    FUZZ_CHECK(fd >= 0);
    FUZZ_CHECK(ftruncate(fd, 0) == 0);
    FUZZ_CHECK(size == 0 || pwrite(fd, data, size, 0) == static_cast<ssize_t>(size));

    uint8_t* bytes = reinterpret_cast<uint8_t*>(&state.Calibr_Data[0][0]);
    std::memset(bytes, BEFORE, CALIBR_DATA_BYTES);
    size_t loaded = 12345;
    const TCalibrResult r = LoadDataFile(state, path, loaded);

    const size_t expected = std::min(size, CALIBR_DATA_BYTES);
    FUZZ_CHECK(loaded == expected);
    FUZZ_CHECK(size >= CALIBR_DATA_BYTES ? r.Ok()
                                         : r.status == TCalibrStatus::PartialLoad && !r.message.empty());
    // The array is the file's image (this host is little-endian, as the file is); past the
    // loaded bytes it keeps its content, the high byte of an odd last value included.
    FUZZ_CHECK(expected == 0 || std::memcmp(bytes, data, expected) == 0);
    FUZZ_CHECK(
        std::all_of(bytes + expected, bytes + CALIBR_DATA_BYTES, [](uint8_t b) { return b == BEFORE; }));
    return 0;
}
