#include "testing/TestPaths.h"

#include <dlfcn.h>
#include <linux/capability.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

namespace testing_support {

namespace {
std::filesystem::path fromEnv(char const* name, char const* fallback) {
    char const* v = getenv(name);
    return v && *v ? std::filesystem::path(v) : std::filesystem::path(fallback);
}
}  // namespace

std::filesystem::path sourceDir() { return fromEnv("ZELV_SOURCE_DIR", ZELV_SOURCE_DIR_DEFAULT); }
std::filesystem::path binaryDir() { return fromEnv("ZELV_BINARY_DIR", ZELV_BINARY_DIR_DEFAULT); }

size_t restampNotes(std::filesystem::path const& folder, std::function<bool(std::string const&)> const& wanted,
                    std::function<std::string(std::string const& time)> const& time) {
    static std::regex const id("([0-9]{20})(-[0-9a-f]{16}-[0-9]+)");
    std::vector<std::pair<std::string, std::string>> renames;  // listed first: a new name is not met again
    for (auto const& e : std::filesystem::directory_iterator(folder)) {
        std::string const name = e.path().filename().string();
        std::smatch m;
        if (!e.is_regular_file() || !wanted(name) || !std::regex_search(name, m, id)) continue;
        std::string to = m.prefix().str() + time(m[1].str()) + m[2].str() + m.suffix().str();
        if (to != name) renames.emplace_back(name, std::move(to));
    }
    for (auto const& [from, to] : renames) std::filesystem::rename(folder / from, folder / to);
    return renames.size();
}

std::function<std::string(std::string const&)> clockAhead(std::chrono::nanoseconds by) {
    return [by](std::string const& time) {
        char moved[32];
        std::snprintf(moved, sizeof moved, "%020llu", std::stoull(time) + static_cast<unsigned long long>(by.count()));
        return std::string(moved);
    };
}

std::vector<CopyClock> copyClocks() {
    using namespace std::chrono_literals;
    return {{"5 s", clockAhead(5s)}, {"1 h", clockAhead(1h)}, {"at the end", clockAtTheEnd(), true}};
}

std::function<std::string(std::string const&)> clockAtTheEnd() {
    return [](std::string const&) { return std::to_string(kStampsEnd).insert(0, 1, '0'); };
}

bool inProcessesAtOnce(int n, std::function<bool(int)> const& body) {
    int gate[2];
    if (::pipe(gate) != 0) return false;
    std::vector<pid_t> children;
    for (int i = 0; i < n; ++i) {
        pid_t const child = ::fork();
        if (child == 0) {
            char c;
            ::close(gate[1]);
            (void)!::read(gate[0], &c, 1);  // all go when the parent closes its end
            ::_exit(body(i) ? 0 : 1);
        }
        if (child > 0) children.push_back(child);
    }
    ::close(gate[0]);
    ::close(gate[1]);
    bool all = int(children.size()) == n;
    for (pid_t child : children) {
        int status = -1;
        all = ::waitpid(child, &status, 0) == child && status == 0 && all;
    }
    return all;
}

namespace {
size_t peakResident() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return size_t(std::stoull(line.substr(6))) * 1024;
    return 0;
}
}  // namespace

size_t peakResidentGrowth(std::function<void()> const& body) {
    std::ofstream("/proc/self/clear_refs") << "5";
    size_t const before = peakResident();
    body();
    size_t const after = peakResident();
    return after - std::min(before, after);
}

bool inProcessWithAnother(std::function<bool()> const& other,
                          std::function<bool(std::function<bool()> const& meanwhile)> const& body) {
    return inProcessesAtOnce(1, [&](int) {
        int go[2], done[2];
        if (::pipe(go) != 0 || ::pipe(done) != 0) return false;
        pid_t const second = ::fork();
        if (second == 0) {
            char c;
            ::close(go[1]);
            if (::read(go[0], &c, 1) != 1) ::_exit(0);  // never asked
            ::_exit(other() && ::write(done[1], "x", 1) == 1 ? 0 : 1);
        }
        ::close(go[0]);
        ::close(done[1]);
        bool const ran = body([&] {
            char c;
            return ::write(go[1], "x", 1) == 1 && ::read(done[0], &c, 1) == 1;
        });
        ::close(go[1]);
        int status = -1;
        return ran && ::waitpid(second, &status, 0) == second && status == 0;
    });
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zelv-test-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    path_ = made ? made : pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::vector<std::filesystem::path> noteCopies(std::filesystem::path const& note, size_t stampAt, int n) {
    std::ifstream in(note, std::ios::binary);
    std::string const content((std::istreambuf_iterator<char>(in)), {});
    std::string const name = note.filename().string();
    uint64_t const stamp = std::stoull(name.substr(stampAt, 20));
    std::vector<std::filesystem::path> out;
    for (int i = 1; i <= n; ++i) {
        char id[32];
        std::snprintf(id, sizeof id, "%020llu", static_cast<unsigned long long>(stamp + uint64_t(i)));
        out.push_back(note.parent_path() / (name.substr(0, stampAt) + id + name.substr(stampAt + 20)));
        std::ofstream(out.back(), std::ios::binary) << content;
    }
    return out;
}

namespace {
constexpr uid_t kNobody = 65534;
}

AnotherAccountsFiles::AnotherAccountsFiles(std::filesystem::path const& folder,
                                           std::vector<std::filesystem::path> const& files) {
    if (::geteuid() == 0) {
        std::error_code ec;
        ok_ = ::chown(folder.c_str(), kNobody, ~gid_t(0)) == 0;
        for (auto it = std::filesystem::recursive_directory_iterator(folder, ec);
             ok_ && !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
            ok_ = ::lchown(it->path().c_str(), kNobody, ~gid_t(0)) == 0;
        ok_ = ok_ && !ec;
    }
    for (auto const& file : files)
        ok_ = ok_ && (::geteuid() != 0 || ::lchown(file.c_str(), 0, ~gid_t(0)) == 0) && ::chmod(file.c_str(), 0) == 0;
    // glibc changes the ids of every thread of the process.
    if (ok_ && ::geteuid() == 0) ok_ = switched_ = ::seteuid(kNobody) == 0;
}

AnotherAccountsFiles::~AnotherAccountsFiles() {
    if (switched_ && ::seteuid(0) != 0) std::abort();
}

bool AnotherAccountsFiles::unreadableToChild() {
    return ::geteuid() != 0 ||
           (::prctl(PR_CAPBSET_DROP, CAP_DAC_OVERRIDE, 0, 0, 0) == 0 && ::prctl(PR_CAPBSET_DROP, CAP_DAC_READ_SEARCH, 0, 0, 0) == 0);
}

void pinGlDriver() {
    static bool pinned = false;
    if (pinned) return;
    pinned = true;
    char const* libs[] = {"libEGL_mesa.so.0", "libEGL.so.1", "libGLESv2.so.2", "libgallium_dri.so",
                          "/usr/lib/x86_64-linux-gnu/dri/swrast_dri.so",
                          "/usr/lib/x86_64-linux-gnu/dri/kms_swrast_dri.so", "libglapi.so.0"};
    for (char const* lib : libs) dlopen(lib, RTLD_NOW | RTLD_GLOBAL | RTLD_NODELETE);
}

}  // namespace testing_support
