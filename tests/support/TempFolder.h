#pragma once
// A folder of the test's own under the test temporary directory ($TMPDIR, /tmp without it),
// removed with the object: runs side by side (ctest -j), two folders in one test and runs
// as different users never meet over a file name, and nothing is left behind.

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace zq455::test {

class TTempFolder {
public:
    explicit TTempFolder(const std::string& prefix) {
        // mkdtemp makes a new folder (mode 0700) under a name no other process holds.
        std::string pattern = ::testing::TempDir() + "zq455-" + prefix + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (::mkdtemp(name.data()) == nullptr)
            throw std::system_error(errno, std::generic_category(), "cannot create a folder like " + pattern);
        path = std::string(name.data()) + "/";
    }
    ~TTempFolder() {
        namespace fs = std::filesystem;
        std::error_code ec;
        fs::remove_all(path, ec);
        if (!ec)
            return;
        // A test that took the write or search permission of a folder away (to provoke a
        // refused write) and stopped before giving it back: give it back and try again.
        std::error_code ignored;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
        for (fs::recursive_directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec))
            if (it->is_directory(ignored) && !it->is_symlink(ignored))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(path, ignored);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // Ends with a slash.
    const std::string& Path() const { return path; }
    // The same folder without the slash, for std::filesystem paths.
    std::filesystem::path Dir() const { return std::filesystem::path(path).parent_path(); }

private:
    std::string path;
};

} // namespace zq455::test
