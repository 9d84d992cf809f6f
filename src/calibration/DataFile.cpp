#include "calibration/DataFile.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zq455 {

static TCalibrResult FileFailure(const char* what, const std::string& path, int error) {
    return {TCalibrStatus::FileError, std::string(what) + " \"" + path + "\": " + std::strerror(error) + "."};
}

std::string CalibrDataDirectory(const std::string& start_dir) {
    const std::string dir = start_dir + "/DataFiles";
    struct stat st {};
    if (stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        mkdir(dir.c_str(), 0777);
    return dir;
}

// Writes all of `bytes`, resuming after a short write; false with errno set otherwise.
static bool WriteAll(int fd, const uint8_t* bytes, size_t size, size_t& written) {
    while (written < size) {
        const ssize_t n = write(fd, bytes + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

TCalibrResult WriteLe16File(const std::string& path, std::initializer_list<std::span<const uint16_t>> parts) {
    // The values go to a file beside the target that takes its name only once complete, so
    // a full disk leaves neither a half file nor a lost old one. A name that is not a plain
    // file (a device, a pipe) is written in place: it must never be replaced.
    struct stat st {};
    const bool in_place = stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    const std::string target = in_place ? path : path + ".part";
    const int fd = open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return FileFailure("Cannot create", path, errno);
    size_t total = 0;
    size_t done = 0;
    bool ok = true;
    std::vector<uint8_t> chunk;
    for (const auto& part : parts) {
        total += part.size() * 2;
        if (!ok)
            continue;
        if constexpr (std::endian::native == std::endian::little) {
            size_t written = 0;
            ok = WriteAll(fd, reinterpret_cast<const uint8_t*>(part.data()), part.size() * 2, written);
            done += written;
        } else {
            chunk.resize(part.size() * 2);
            for (size_t i = 0; i < part.size(); ++i) {
                chunk[2 * i] = static_cast<uint8_t>(part[i]);
                chunk[2 * i + 1] = static_cast<uint8_t>(part[i] >> 8);
            }
            size_t written = 0;
            ok = WriteAll(fd, chunk.data(), chunk.size(), written);
            done += written;
        }
    }
    int write_error = errno;
    // A full disk or a lost network share may only show when the data reach the disk.
    if (ok && !in_place && fsync(fd) != 0) {
        ok = false;
        write_error = errno;
    }
    if (close(fd) != 0 && ok) {
        ok = false;
        write_error = errno;
    }
    if (ok && !in_place && rename(target.c_str(), path.c_str()) != 0) {
        ok = false;
        write_error = errno;
    }
    if (!ok) {
        if (!in_place)
            unlink(target.c_str());
        TCalibrResult r = FileFailure("Cannot write", path, write_error);
        r.message += " " + std::to_string(done) + " of " + std::to_string(total) + " bytes were written";
        r.message += in_place ? "." : "; the file was not saved.";
        return r;
    }
    return {};
}

TCalibrResult SaveDataFile(const TCalibrationState& state, const std::string& path) {
    return WriteLe16File(path, {std::span<const uint16_t>(&state.Calibr_Data[0][0], CALIBR_DATA_BYTES / 2)});
}

TCalibrResult LoadDataFile(TCalibrationState& state, const std::string& path, size_t& bytes_loaded) {
    bytes_loaded = 0;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return FileFailure("Cannot open", path, errno);
    // Read into a scratch buffer first, so a read error leaves the data as it was.
    std::vector<uint8_t> scratch(CALIBR_DATA_BYTES);
    size_t have = 0;
    while (have < scratch.size()) {
        const ssize_t n = read(fd, scratch.data() + have, scratch.size() - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            close(fd);
            return FileFailure("Cannot read", path, error);
        }
        if (n == 0)
            break;
        have += static_cast<size_t>(n);
    }
    close(fd);

    // The file is the array's raw image: byte i is the low (even i) or high (odd i) byte of
    // value i / 2, so an odd length replaces only the low byte of its last value.
    uint16_t* data = &state.Calibr_Data[0][0];
    for (size_t i = 0; i + 1 < have; i += 2)
        data[i / 2] = static_cast<uint16_t>(scratch[i] | (scratch[i + 1] << 8));
    if (have % 2 != 0)
        data[have / 2] = static_cast<uint16_t>((data[have / 2] & 0xFF00) | scratch[have - 1]);
    bytes_loaded = have;
    if (have == CALIBR_DATA_BYTES)
        return {};
    return {TCalibrStatus::PartialLoad,
            "Loaded only " + std::to_string(have) + " of " + std::to_string(CALIBR_DATA_BYTES) +
                " bytes from \"" + path + "\": the rest of the calibration data keeps its previous content."};
}

} // namespace zq455
