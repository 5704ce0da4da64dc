#pragma once
// The folders the phone's frameworks hand out, on the XDG layout: application support under
// $XDG_DATA_HOME/<app>, caches under $XDG_CACHE_HOME/<app>, the library folder of old versions
// under $XDG_DATA_HOME/<app>/Library. Tests move all of them under one root.
#include <filesystem>
#include <optional>
#include <string>

namespace platform {

class Directories {
public:
    // The application's folder name ("zelv" unless set).
    static void setApplicationName(std::string name);
    static std::string applicationName();

    // Every folder below root/data and root/cache instead of the XDG ones; nothing restores them.
    static void setRootOverride(std::optional<std::filesystem::path> root);

    // $HOME when set, else the account's home in the user database. With neither, a path below
    // /dev/null, where no folder can be made and no file opened, so that nothing is written to a
    // folder other users share (the game folder, /tmp); that is said once.
    static std::filesystem::path home();

    static std::filesystem::path dataHome();   // $XDG_DATA_HOME or ~/.local/share
    static std::filesystem::path cacheHome();  // $XDG_CACHE_HOME or ~/.cache
    static std::filesystem::path configHome();  // $XDG_CONFIG_HOME or ~/.config (no root override)
    static std::filesystem::path applicationSupport();  // dataHome()/<app>
    static std::filesystem::path caches();              // cacheHome()/<app>
    static std::filesystem::path library();             // dataHome()/<app>/Library

    // Creates the folder and its parents; false when it cannot be made.
    static bool create(std::filesystem::path const& folder);

    // Marks a file or folder as not to be backed up (a user extended attribute); false where the
    // file system refuses it.
    static bool excludeFromBackup(std::filesystem::path const& path);
    static bool isExcludedFromBackup(std::filesystem::path const& path);
    static char const* const kBackupExclusionAttribute;
};

}  // namespace platform
