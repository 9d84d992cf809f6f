// The profile text on arbitrary floats: every value is fixed point with exactly two
// decimals after a ".", within half a hundredth (or six significant digits) of the value,
// and the file has one well-formed row per announced pair, at most 1024.
//
//   bytes 0..1   the announced pair count (u16)
//   bytes 2..    floats, raw bits, X then Z per entry; missing entries are 0

#include "FuzzCheck.h"
#include "view/ProfileFile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace zq455;

namespace {

// -?digits.dd and nothing else; returns the value it reads.
long double ParseFixed(const std::string& text) {
    size_t i = text[0] == '-' ? 1 : 0;
    const size_t digits = i;
    long double value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9')
        value = value * 10 + (text[i++] - '0');
    FUZZ_CHECK(i > digits && i + 3 == text.size() && text[i] == '.');
    FUZZ_CHECK(text[i + 1] >= '0' && text[i + 1] <= '9' && text[i + 2] >= '0' && text[i + 2] <= '9');
    value += (text[i + 1] - '0') / 10.0L + (text[i + 2] - '0') / 100.0L;
    FUZZ_CHECK(text != "-0.00");
    return text[0] == '-' ? -value : value;
}

void CheckValue(float value) {
    const std::string text = FormatProfileValue(value);
    FUZZ_CHECK(!text.empty() && text.size() < 64);
    const long double parsed = ParseFixed(text);
    if (!std::isfinite(value)) {
        FUZZ_CHECK(text == "0.00");
        return;
    }
    const long double v = value;
    const long double error = std::fabs(parsed - v);
    // Two decimals, or six significant digits where those are coarser.
    FUZZ_CHECK(error <= 0.005L + 1e-9L || error <= std::fabs(v) * 5e-6L);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    uint16_t pair_count;
    std::memcpy(&pair_count, data, 2);
    static std::array<TProfilePoint, PROFILE_CAPACITY> profile;
    profile.fill(TProfilePoint{});
    const size_t floats = std::min<size_t>((size - 2) / 4, 2 * PROFILE_CAPACITY);
    for (size_t i = 0; i < floats; ++i) {
        float f;
        std::memcpy(&f, data + 2 + 4 * i, 4);
        (i % 2 ? profile[i / 2].z : profile[i / 2].x) = f;
        CheckValue(f);
    }

    const std::string text = FormatProfileText(profile, pair_count);
    const std::string header = "N         X                   Z\r\n";
    FUZZ_CHECK(text.compare(0, header.size(), header) == 0);
    const unsigned rows = std::min<unsigned>(pair_count, PROFILE_CAPACITY);
    size_t at = header.size();
    for (unsigned n = 0; n < rows; ++n) {
        const size_t end = text.find("\r\n", at);
        FUZZ_CHECK(end != std::string::npos);
        const std::string line = text.substr(at, end - at);
        const std::string number = std::to_string(n + 1);
        const std::string x = FormatProfileValue(profile[n].x);
        const std::string z = FormatProfileValue(profile[n].z);
        // Columns 1, 11 and 31, or straight after a text that already reaches the column.
        std::string expected = number + std::string(10 - number.size(), ' ') + x;
        if (expected.size() < 30)
            expected.append(30 - expected.size(), ' ');
        expected += z;
        FUZZ_CHECK(line == expected);
        at = end + 2;
    }
    FUZZ_CHECK(at == text.size());
    return 0;
}
