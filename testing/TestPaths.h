#pragma once
#include <filesystem>
#include <functional>
#include <string>

namespace testing_support {

// The repository root and the build folder (where pak0.pak and pak1.pak are made).
std::filesystem::path sourceDir();
std::filesystem::path binaryDir();

// A fresh, empty folder under the system temporary folder, removed when the object dies.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(TempDir const&) = delete;
    TempDir& operator=(TempDir const&) = delete;
    std::filesystem::path const& path() const { return path_; }
    std::filesystem::path operator/(std::string const& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Runs body(i) in n forked processes released at the same moment and waits for them all; true
// when every one returned true.
bool inProcessesAtOnce(int n, std::function<bool(int)> const& body);

// Keeps Mesa's DRI and EGL libraries loaded for the life of the process, so LeakSanitizer
// does not see the driver's allocations as leaks once the driver would have unloaded.
void pinGlDriver();

}  // namespace testing_support
