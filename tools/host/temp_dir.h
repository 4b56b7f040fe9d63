// A private folder under /tmp for one test, removed with all it holds when
// the test is done, and what a program wrote in a file, read back.
#pragma once

#include <filesystem>
#include <string>

namespace vxtest {

class TempDir {
public:
    // /tmp/<prefix>-XXXXXX; empty path when it cannot be made.
    explicit TempDir(const std::string& prefix = "vx-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

// The whole of a file, byte for byte; empty when it cannot be read.
std::string readFile(const std::filesystem::path& path);

}  // namespace vxtest
