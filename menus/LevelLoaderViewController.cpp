#include "menus/LevelLoaderViewController.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "level/LevelCatalog.h"
#include "level/LevelReader.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"

namespace LevelLoading {

std::string chooseLevelFile(std::string const& path, char const* locale) {
    FileSystem const& fs = Singleton<FileSystem>::instance();
    std::string const extension = FileSystem::extension(path);
    if (!extension.empty() && locale && *locale) {
        std::string const localized = FileSystem::replaceExtension(path, std::string("_") + locale + extension);
        if (fs.exists(localized)) return localized;
    }
    return fs.exists(path) ? path : std::string();
}

namespace {

// Why a level file gave no bytes: it is not a file, or it is empty, or it cannot be opened.
std::string whyNoBytes(std::string const& path) {
    struct stat st {};
    // Not on disk: an entry of a data archive.
    if (::stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "it is empty or its archive cannot be read" : std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return "it is a folder";
    if (!S_ISREG(st.st_mode)) return "it is not a regular file";
    if (st.st_size == 0) return "it is empty";
    int const fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return std::strerror(errno);
    ::close(fd);
    return "it cannot be read";
}

// The failure as the window shows it: the file's own name, then why on a line of its own.
std::string forTheWindow(std::string const& path, std::string const& what, std::string const& why) {
    std::string const name = FileSystem::printable(path.substr(path.find_last_of('/') + 1));
    return "The level " + name + " " + what + (why.empty() ? "" : ":\n" + why);
}

}  // namespace

std::string readLevel(std::string const& path, PristineLevel::Data& level) {
    std::string const chosen = chooseLevelFile(path, preferredLocale());
    if (chosen.empty()) {
        // A file that is there but cannot be opened is not missing.
        struct stat st {};
        if (::stat(path.c_str(), &st) == 0) {
            std::string const why = whyNoBytes(path);
            std::fprintf(stderr, "zelv: cannot read the level %s: %s\n", FileSystem::printable(path).c_str(),
                         why.c_str());
            return forTheWindow(path, "cannot be read", why);
        }
        std::fprintf(stderr, "zelv: no level file %s; the level is empty\n", FileSystem::printable(path).c_str());
        return forTheWindow(path, "is not there", "");
    }
    std::shared_ptr<File> file = Singleton<FileSystem>::instance().open(chosen);
    if (file->size() == 0) {
        std::string const why = whyNoBytes(chosen);
        std::fprintf(stderr, "zelv: cannot read the level %s: %s\n", FileSystem::printable(chosen).c_str(),
                     why.c_str());
        return forTheWindow(chosen, "cannot be read", why);
    }
    if (!PristineLevel::loadPristineLevel(level, file->data(), size_t(file->size()))) {
        std::fprintf(stderr, "zelv: the level %s is damaged; loading what was read\n",
                     FileSystem::printable(chosen).c_str());
        return forTheWindow(chosen, "is damaged", "only what could be read is loaded");
    }
    return std::string();
}

bool wantsLoadingScreen(std::string const& path, bool restart) {
    return !restart && LevelCatalog::findByPath(path).has_value();
}

}  // namespace LevelLoading
