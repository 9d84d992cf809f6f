// The file writers on a full disk, against a file size limit and in a read-only folder: a
// message that names the file and the reason, nothing reported as saved, no half file
// under the name and an earlier file of that name unchanged.
//
// Each case runs in a child process. A full or read-only file system is a small tmpfs
// mounted in a mount namespace of its own (as root, or as a user through a user
// namespace); where neither is allowed the case is skipped and says so. The size limit is
// RLIMIT_FSIZE with SIGXFSZ ignored, which works everywhere.

#include "calibration/DataFile.h"
#include "support/TempFolder.h"
#include "view/BitmapFile.h"
#include "view/ProfileFile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <sched.h>
#include <string>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace zq455;

namespace {

enum class TWriter : uint8_t { PROFILE_TEXT, BITMAP, DTF };
enum class TCondition : uint8_t { ROOM, FULL_DISK, FILE_SIZE_LIMIT, READ_ONLY };

constexpr const char* OLD_CONTENT = "an earlier file of that name";
constexpr rlim_t SIZE_LIMIT = 8192; // below every file the writers write
constexpr const char* TMPFS_SIZE = "size=16k";

const char* FileName(TWriter writer) {
    switch (writer) {
    case TWriter::PROFILE_TEXT:
        return "profile.txt";
    case TWriter::BITMAP:
        return "frame.bmp";
    case TWriter::DTF:
        return "run.dtf";
    }
    return "";
}

// What the child saw: the writer's verdict and the folder afterwards.
struct TOutcome {
    std::string skipped; // why the case could not be set up; empty when it ran
    bool ok = false;
    std::string message;
    std::map<std::string, std::string> files; // name -> content
    size_t expected_size = 0;                 // the bytes a complete file has
};

std::string ReadWhole(const std::string& path) {
    std::string content;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return content;
    char chunk[65536];
    ssize_t n;
    while ((n = ::read(fd, chunk, sizeof chunk)) > 0)
        content.append(chunk, static_cast<size_t>(n));
    ::close(fd);
    return content;
}

bool WriteWhole(const std::string& path, const std::string& content) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    return ::close(fd) == 0 && ok;
}

bool WriteMapping(const char* file, const std::string& line) {
    return WriteWhole(file, line);
}

// A mount namespace of this process's own, where mounts stay private.
std::string EnterMountNamespace() {
    if (::unshare(CLONE_NEWNS) != 0) {
        const uid_t uid = ::getuid();
        const gid_t gid = ::getgid();
        if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0)
            return std::string("no mount namespace (") + std::strerror(errno) + ")";
        WriteMapping("/proc/self/setgroups", "deny");
        if (!WriteMapping("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
            !WriteMapping("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1"))
            return "no user namespace mapping";
    }
    if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string("mounts cannot be made private (") + std::strerror(errno) + ")";
    return {};
}

std::string Contents(TWriter writer) {
    switch (writer) {
    case TWriter::PROFILE_TEXT: {
        std::array<TProfilePoint, PROFILE_CAPACITY> profile{};
        for (unsigned i = 0; i < PROFILE_CAPACITY; ++i)
            profile[i] = {-20.0f + 0.04f * i, 30.0f + 0.01f * i};
        return FormatProfileText(profile, PROFILE_CAPACITY);
    }
    case TWriter::BITMAP: {
        std::vector<uint8_t> pixels(640 * 512);
        for (size_t i = 0; i < pixels.size(); ++i)
            pixels[i] = static_cast<uint8_t>(2 * (i % 128));
        return EncodeRedRampBitmap(640, 512, pixels.data());
    }
    case TWriter::DTF:
        break;
    }
    return {};
}

// Runs in the child: sets the condition up, writes, reports. Never returns.
[[noreturn]] void Child(int report, const std::string& dir, TWriter writer, TCondition condition) {
    std::string out;
    auto finish = [&](const std::string& text) {
        size_t sent = 0;
        while (sent < text.size()) {
            const ssize_t n = ::write(report, text.data() + sent, text.size() - sent);
            if (n <= 0)
                break;
            sent += static_cast<size_t>(n);
        }
        ::_exit(0);
    };
    const std::string path = dir + "/" + FileName(writer);
    if (condition == TCondition::FULL_DISK || condition == TCondition::READ_ONLY) {
        const std::string why = EnterMountNamespace();
        if (!why.empty())
            finish("S" + why);
        if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, TMPFS_SIZE) != 0)
            finish(std::string("Sno tmpfs mount (") + std::strerror(errno) + ")");
    }
    if (!WriteWhole(path, OLD_CONTENT))
        finish("Scannot create the earlier file");
    if (condition == TCondition::READ_ONLY &&
        ::mount(nullptr, dir.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0)
        finish(std::string("Sno read-only remount (") + std::strerror(errno) + ")");
    if (condition == TCondition::FILE_SIZE_LIMIT) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{SIZE_LIMIT, SIZE_LIMIT};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            finish("Sno file size limit");
    }

    bool ok = false;
    std::string message;
    size_t expected_size = 0;
    if (writer == TWriter::DTF) {
        TCalibrationState state;
        for (unsigned c = 0; c < CALIBR_COLUMNS; ++c)
            for (unsigned k = 0; k < CALIBR_STEPS; ++k)
                state.Calibr_Data[c][k] = static_cast<uint16_t>(c * 7 + k);
        const TCalibrResult r = SaveDataFile(state, path);
        ok = r.Ok();
        message = r.message;
        expected_size = CALIBR_DATA_BYTES;
    } else {
        const std::string bytes = Contents(writer);
        const TFileResult r = WriteFileAtomically(path, bytes);
        ok = r.ok;
        message = r.message;
        expected_size = bytes.size();
    }
    // Lift the limit again so that the report can be written in full.
    const rlimit none{RLIM_INFINITY, RLIM_INFINITY};
    ::setrlimit(RLIMIT_FSIZE, &none);

    out = std::string(ok ? "1" : "0") + std::to_string(expected_size) + "\n" + message + "\n";
    if (DIR* d = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(d)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..")
                continue;
            const std::string content = ReadWhole(dir + "/" + name);
            out += name + "\n" + std::to_string(content.size()) + "\n" + content;
        }
        ::closedir(d);
    }
    finish(out);
    ::_exit(0);
}

TOutcome RunWriter(TWriter writer, TCondition condition) {
    TOutcome outcome;
    const test::TTempFolder folder("writers");
    const std::string dir = folder.Dir().string();
    int pipe_ends[2];
    if (::pipe(pipe_ends) != 0) {
        outcome.skipped = "no pipe";
        return outcome;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe_ends[0]);
        Child(pipe_ends[1], dir, writer, condition);
    }
    ::close(pipe_ends[1]);
    std::string report;
    char chunk[65536];
    ssize_t n;
    while ((n = ::read(pipe_ends[0], chunk, sizeof chunk)) > 0)
        report.append(chunk, static_cast<size_t>(n));
    ::close(pipe_ends[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    // The mounts went with the child's namespace; what is left is the plain folder, which
    // goes with `folder`.

    if (report.empty()) {
        outcome.skipped = "the child reported nothing";
        return outcome;
    }
    if (report[0] == 'S') {
        outcome.skipped = report.substr(1);
        return outcome;
    }
    size_t at = report.find('\n');
    outcome.ok = report[0] == '1';
    outcome.expected_size = std::stoul(report.substr(1, at - 1));
    size_t end = report.find('\n', at + 1);
    outcome.message = report.substr(at + 1, end - at - 1);
    at = end + 1;
    while (at < report.size()) {
        end = report.find('\n', at);
        const std::string name = report.substr(at, end - at);
        at = end + 1;
        end = report.find('\n', at);
        const size_t size = std::stoul(report.substr(at, end - at));
        at = end + 1;
        outcome.files[name] = report.substr(at, size);
        at += size;
    }
    return outcome;
}

struct TCase {
    TWriter writer;
    TCondition condition;
    const char* reason; // strerror text the message must carry; null for success
};

constexpr const char* WRITER_NAMES[] = {"ProfileText", "Bitmap", "Dtf"};
constexpr const char* CONDITION_NAMES[] = {"Room", "FullDisk", "FileSizeLimit", "ReadOnlyFolder"};

std::string CaseName(const ::testing::TestParamInfo<TCase>& info) {
    return std::string(WRITER_NAMES[static_cast<int>(info.param.writer)]) + "_" +
           CONDITION_NAMES[static_cast<int>(info.param.condition)];
}

void PrintTo(const TCase& c, std::ostream* os) {
    *os << WRITER_NAMES[static_cast<int>(c.writer)] << " in "
        << CONDITION_NAMES[static_cast<int>(c.condition)];
}

class FileWriters : public ::testing::TestWithParam<TCase> {};

TEST_P(FileWriters, FailIntactOrSucceedWhole) {
    const TCase& c = GetParam();
    const TOutcome o = RunWriter(c.writer, c.condition);
    if (!o.skipped.empty())
        GTEST_SKIP() << "cannot set up the case on this machine: " << o.skipped;
    const std::string name = FileName(c.writer);
    if (c.reason == nullptr) {
        // The control: with room, the file is whole and nothing else is left.
        EXPECT_TRUE(o.ok) << o.message;
        ASSERT_EQ(o.files.size(), 1u);
        ASSERT_EQ(o.files.count(name), 1u);
        EXPECT_EQ(o.files.at(name).size(), o.expected_size);
        return;
    }
    EXPECT_FALSE(o.ok) << "reported as saved";
    EXPECT_NE(o.message.find(name), std::string::npos) << o.message;
    EXPECT_NE(o.message.find(c.reason), std::string::npos) << o.message;
    // The earlier file is there, whole and unchanged; no half-written file beside it.
    ASSERT_EQ(o.files.size(), 1u) << "a file was left behind: " << std::prev(o.files.end())->first;
    ASSERT_EQ(o.files.count(name), 1u);
    EXPECT_EQ(o.files.at(name), OLD_CONTENT);
}

const TCase CASES[] = {
    {TWriter::PROFILE_TEXT, TCondition::ROOM, nullptr},
    {TWriter::BITMAP, TCondition::ROOM, nullptr},
    {TWriter::DTF, TCondition::ROOM, nullptr},
    {TWriter::PROFILE_TEXT, TCondition::FULL_DISK, "No space left on device"},
    {TWriter::BITMAP, TCondition::FULL_DISK, "No space left on device"},
    {TWriter::DTF, TCondition::FULL_DISK, "No space left on device"},
    {TWriter::PROFILE_TEXT, TCondition::FILE_SIZE_LIMIT, "File too large"},
    {TWriter::BITMAP, TCondition::FILE_SIZE_LIMIT, "File too large"},
    {TWriter::DTF, TCondition::FILE_SIZE_LIMIT, "File too large"},
    {TWriter::PROFILE_TEXT, TCondition::READ_ONLY, "Read-only file system"},
    {TWriter::BITMAP, TCondition::READ_ONLY, "Read-only file system"},
    {TWriter::DTF, TCondition::READ_ONLY, "Read-only file system"},
};

INSTANTIATE_TEST_SUITE_P(Conditions, FileWriters, ::testing::ValuesIn(CASES), CaseName);

// A device is written in place, never replaced by a renamed file.
TEST(FileWriters, ADeviceNameIsWrittenInPlace) {
    struct stat before {};
    if (::stat("/dev/null", &before) != 0 || !S_ISCHR(before.st_mode))
        GTEST_SKIP() << "no /dev/null device on this machine";
    EXPECT_TRUE(WriteFileAtomically("/dev/null", "N\r\n").ok);
    TCalibrationState state;
    EXPECT_TRUE(SaveDataFile(state, "/dev/null").Ok());
    struct stat after {};
    ASSERT_EQ(::stat("/dev/null", &after), 0);
    EXPECT_TRUE(S_ISCHR(after.st_mode));
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_NE(::access("/dev/null.part", F_OK), 0);
}

} // namespace
