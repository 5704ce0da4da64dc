#include "platform/base/Directories.h"

#include <pwd.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace platform {
namespace {

std::mutex& mutex() {
    static std::mutex m;
    return m;
}
std::string& appName() {
    static std::string n = "zelv";
    return n;
}
std::optional<std::filesystem::path>& rootOverride() {
    static std::optional<std::filesystem::path> r;
    return r;
}

std::filesystem::path home() {
    if (char const* h = std::getenv("HOME"); h && *h) return h;
    if (passwd const* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
    return "/tmp";
}

// XDG says relative values are to be ignored.
std::filesystem::path xdg(char const* variable, char const* fallback) {
    if (char const* v = std::getenv(variable); v && *v == '/') return v;
    return home() / fallback;
}

}  // namespace

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
