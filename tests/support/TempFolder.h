#pragma once
// A folder of the test's own under the test temporary directory, removed with the object:
// runs side by side (ctest -j) or as different users never meet over a file name.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <unistd.h>

namespace zq455::test {

class TTempFolder {
public:
    explicit TTempFolder(const std::string& prefix)
        : path(::testing::TempDir() + "zq455-" + prefix + "-" + std::to_string(::getpid()) + "/") {
        std::filesystem::create_directories(path);
    }
    ~TTempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
    }
    TTempFolder(const TTempFolder&) = delete;
    TTempFolder& operator=(const TTempFolder&) = delete;

    // Ends with a slash.
    const std::string& Path() const { return path; }

private:
    std::string path;
};

} // namespace zq455::test
