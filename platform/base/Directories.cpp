#include "platform/base/Directories.h"

#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "platform/base/ReportOnce.h"

namespace platform {
namespace {

std::mutex& mutex() {
    static std::mutex m;
    return m;
}
// Never destroyed: background threads ask for folders until the process is gone.
std::string& appName() {
    static auto* n = new std::string("zelv");
    return *n;
}
std::optional<std::filesystem::path>& rootOverride() {
    static auto* r = new std::optional<std::filesystem::path>;
    return *r;
}

// XDG says relative values are to be ignored.
std::filesystem::path xdg(char const* variable, char const* fallback) {
    if (char const* v = std::getenv(variable); v && *v == '/') return v;
    return Directories::home() / fallback;
}

}  // namespace

std::filesystem::path Directories::home() {
    if (char const* h = std::getenv("HOME"); h && *h) return h;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found && found->pw_dir &&
        *found->pw_dir)
        return found->pw_dir;
    if (ReportOnce::first("no home folder"))
        std::fprintf(stderr,
                     "%s: no home folder (HOME is unset and user %u has none in the user database): progress and "
                     "settings are not kept; set HOME to keep them\n",
                     applicationName().c_str(), unsigned(::getuid()));
    return "/dev/null/no-home";
}

char const* const Directories::kBackupExclusionAttribute = "user.zelv.exclude-from-backup";

void Directories::setApplicationName(std::string name) {
    std::lock_guard<std::mutex> lock(mutex());
    appName() = std::move(name);
}

std::string Directories::applicationName() {
    std::lock_guard<std::mutex> lock(mutex());
    return appName();
}

void Directories::setRootOverride(std::optional<std::filesystem::path> root) {
    std::lock_guard<std::mutex> lock(mutex());
    rootOverride() = std::move(root);
}

std::filesystem::path Directories::dataHome() {
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (rootOverride()) return *rootOverride() / "data";
    }
    return xdg("XDG_DATA_HOME", ".local/share");
}

std::filesystem::path Directories::cacheHome() {
    {
        std::lock_guard<std::mutex> lock(mutex());
        if (rootOverride()) return *rootOverride() / "cache";
    }
    return xdg("XDG_CACHE_HOME", ".cache");
}

std::filesystem::path Directories::configHome() { return xdg("XDG_CONFIG_HOME", ".config"); }

std::filesystem::path Directories::applicationSupport() { return dataHome() / applicationName(); }
std::filesystem::path Directories::caches() { return cacheHome() / applicationName(); }
std::filesystem::path Directories::library() { return applicationSupport() / "Library"; }

bool Directories::create(std::filesystem::path const& folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    return std::filesystem::is_directory(folder, ec);
}

bool Directories::excludeFromBackup(std::filesystem::path const& path) {
    char const one = 1;
    return ::setxattr(path.c_str(), kBackupExclusionAttribute, &one, 1, 0) == 0;
}

bool Directories::isExcludedFromBackup(std::filesystem::path const& path) {
    char value = 0;
    return ::getxattr(path.c_str(), kBackupExclusionAttribute, &value, 1) == 1 && value == 1;
}

}  // namespace platform
