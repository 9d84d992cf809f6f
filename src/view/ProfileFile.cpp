#include "ProfileFile.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zq455 {
namespace {

void PadTo(std::string& line, size_t column) {
    if (line.size() < column)
        line.append(column - line.size(), ' ');
}

} // namespace

std::string FormatProfileValue(float value) {
    // Rounded once, half away from zero, at two decimals or at the sixth significant digit,
    // whichever is coarser; then printed with two decimals. Built from integers, so the
    // locale's decimal separator never enters: the file always has ".".
    const long double v = value;
    if (!std::isfinite(v))
        return "0.00";
    const long double magnitude = std::fabs(v);
    int exponent = magnitude > 0 ? static_cast<int>(std::floor(std::log10(magnitude))) : 0;
    // log10 can land one off right at a power of ten.
    if (magnitude > 0 && std::pow(10.0L, exponent) > magnitude)
        --exponent;
    const int kept = std::min(2, 5 - exponent);
    const long double scaled = magnitude * std::pow(10.0L, kept);
    long double units = std::floor(scaled + 0.5L);
    if (kept < -8) {
        // Far beyond any measured value, where hundredths no longer fit 64 bits: the six
        // digits, then zeros, still fixed point, so every line of the file reads the same way.
        std::string text = v < 0 ? "-" : "";
        text += std::to_string(static_cast<unsigned long long>(units));
        text.append(static_cast<size_t>(-kept), '0');
        return text + ".00";
    }
    // Back to hundredths.
    long double cents = units * std::pow(10.0L, 2 - kept);
    const unsigned long long c = static_cast<unsigned long long>(cents);
    std::string text;
    if (v < 0 && c != 0)
        text += '-';
    text += std::to_string(c / 100);
    text += '.';
    text += static_cast<char>('0' + (c % 100) / 10);
    text += static_cast<char>('0' + c % 10);
    return text;
}

std::string FormatProfileText(const std::array<TProfilePoint, PROFILE_CAPACITY>& profile,
                              uint16_t pair_count) {
    std::string text = "N";
    PadTo(text, 10);
    text += "X";
    PadTo(text, 30);
    text += "Z";
    const unsigned rows = std::min<unsigned>(pair_count, PROFILE_CAPACITY);
    for (unsigned n = 0; n < rows; ++n) {
        std::string line = std::to_string(n + 1);
        PadTo(line, 10);
        line += FormatProfileValue(profile[n].x);
        PadTo(line, 30);
        line += FormatProfileValue(profile[n].z);
        text += "\r\n";
        text += line;
    }
    text += "\r\n";
    return text;
}

TFileResult WriteFileAtomically(const std::string& path, const std::string& bytes) {
    TFileResult result;
    // A name that is not a plain file (a device, a pipe) is written in place: it must never
    // be replaced by a renamed file. Otherwise a fresh name beside the target, so no file of
    // the user's is taken for the temporary.
    struct stat st {};
    const bool in_place = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    std::string temporary = in_place ? path : path + ".XXXXXX";
    int fd = in_place ? ::open(temporary.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC)
                      : ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        result.message = "Cannot create \"" + path + "\": " + std::strerror(errno) + ".";
        return result;
    }
    // The permissions a plainly created file would get (mkostemp gives 0600).
    if (!in_place) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    size_t written = 0;
    int error = 0;
    while (written < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        if (n == 0) {
            error = ENOSPC;
            break;
        }
        written += static_cast<size_t>(n);
    }
    if (error == 0 && !in_place && ::fsync(fd) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && !in_place && std::rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0) {
        if (!in_place)
            ::unlink(temporary.c_str());
        result.message = "Cannot write \"" + path + "\": " + std::strerror(error) + ".";
        return result;
    }
    result.ok = true;
    return result;
}

} // namespace zq455
