#include "view/ProfileFile.h"

#include "support/TempFolder.h"

#include <gtest/gtest.h>

#include <clocale>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace zq455;
namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

} // namespace

TEST(ProfileFile, ValuesHaveTwoDecimalsAndRoundHalfAwayFromZero) {
    EXPECT_EQ(FormatProfileValue(1234.567f), "1234.57");
    EXPECT_EQ(FormatProfileValue(-12.5f), "-12.50");
    EXPECT_EQ(FormatProfileValue(100.25f), "100.25");
    EXPECT_EQ(FormatProfileValue(0.0f), "0.00");
    EXPECT_EQ(FormatProfileValue(13.125f), "13.13"); // an exact tie, as raw 896 x 60 / 4096 gives
    EXPECT_EQ(FormatProfileValue(-13.125f), "-13.13");
    EXPECT_EQ(FormatProfileValue(0.004f), "0.00");
    EXPECT_EQ(FormatProfileValue(-0.004f), "0.00");
    EXPECT_EQ(FormatProfileValue(9.995f), "9.99"); // 9.99499988... as a float
    // Six significant digits: beyond 9999.99 the last decimals are rounded away.
    EXPECT_EQ(FormatProfileValue(12345.678f), "12345.70");
    EXPECT_EQ(FormatProfileValue(99999.96f), "100000.00");
}

TEST(ProfileFile, DecimalCommaLocaleStillWritesAPoint) {
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"})
        if ((chosen = std::setlocale(LC_ALL, name)))
            break;
    if (!chosen)
        GTEST_SKIP() << "no locale with a decimal comma is installed on this machine";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");
    EXPECT_EQ(FormatProfileValue(12.5f), "12.50");
    std::setlocale(LC_ALL, "C");
}

TEST(ProfileFile, LayoutOfHeaderAndRows) {
    std::array<TProfilePoint, PROFILE_CAPACITY> profile{};
    profile[0] = {-12.5f, 100.25f};
    profile[2] = {1.0f, 2.0f};
    profile[3] = {1234.567f, -0.5f};
    // Five pairs announced, pair 2 without a point: rows 2 and 5 read zeros.
    const std::string text = FormatProfileText(profile, 5);
    const std::string expected = "N         X                   Z\r\n"
                                 "1         -12.50              100.25\r\n"
                                 "2         0.00                0.00\r\n"
                                 "3         1.00                2.00\r\n"
                                 "4         1234.57             -0.50\r\n"
                                 "5         0.00                0.00\r\n";
    EXPECT_EQ(text, expected);
    // Before any measurement: only the header.
    EXPECT_EQ(FormatProfileText(profile, 0), "N         X                   Z\r\n");
}

TEST(ProfileFile, StopsAt1024RowsAndNeverPadsWhenAColumnIsReached) {
    std::array<TProfilePoint, PROFILE_CAPACITY> profile{};
    profile[1023] = {-123456.0f, 1.0f};
    const std::string text = FormatProfileText(profile, 5000);
    size_t lines = 0;
    for (size_t pos = 0; (pos = text.find("\r\n", pos)) != std::string::npos; pos += 2)
        ++lines;
    EXPECT_EQ(lines, 1025u);
    EXPECT_NE(text.find("1024      -123456.00          1.00\r\n"), std::string::npos);
}

TEST(ProfileFile, AtomicWriteReplacesAndFailsCleanly) {
    const test::TTempFolder folder("profile");
    const fs::path dir = folder.Path();
    const fs::path file = dir / "profile.txt";
    // A file of the user's beside it is not taken for the temporary.
    std::ofstream(dir / "profile.txt.part") << "mine";
    ASSERT_TRUE(WriteFileAtomically(file.string(), "old").ok);
    ASSERT_TRUE(WriteFileAtomically(file.string(), "new contents").ok);
    EXPECT_EQ(ReadAll(file), "new contents");
    EXPECT_EQ(ReadAll(dir / "profile.txt.part"), "mine");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
    // Readable by others as a plainly created file is (umask 022 here).
    const mode_t mask = ::umask(022);
    ASSERT_TRUE(WriteFileAtomically(file.string(), "again").ok);
    ::umask(mask);
    EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                  fs::perms::others_read);

    TFileResult missing = WriteFileAtomically((dir / "no-such-dir" / "p.txt").string(), "x");
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.message.find("p.txt"), std::string::npos);
    EXPECT_NE(missing.message.find("No such file"), std::string::npos);

    // A folder the user may not write to (root may write anywhere): refused, the file
    // keeps what the last successful write left in it.
    if (::geteuid() != 0) {
        fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
        TFileResult denied = WriteFileAtomically(file.string(), "third");
        fs::permissions(dir, fs::perms::owner_all);
        EXPECT_FALSE(denied.ok);
        EXPECT_NE(denied.message.find("Permission denied"), std::string::npos) << denied.message;
        EXPECT_EQ(ReadAll(file), "again");
    }
}
