#include "menus/LevelLoaderViewController.h"

#include <cstdio>

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

void readLevel(std::string const& path, PristineLevel::Data& level) {
    std::string const chosen = chooseLevelFile(path, preferredLocale());
    if (chosen.empty()) {
        std::fprintf(stderr, "zelv: no level file %s; the level is empty\n", FileSystem::printable(path).c_str());
        return;
    }
    std::shared_ptr<File> file = Singleton<FileSystem>::instance().open(chosen);
    if (!PristineLevel::loadPristineLevel(level, file->data(), size_t(file->size())))
        std::fprintf(stderr, "zelv: the level %s is damaged; loading what was read\n",
                     FileSystem::printable(chosen).c_str());
}

bool wantsLoadingScreen(std::string const& path, bool restart) {
    return !restart && LevelCatalog::findByPath(path).has_value();
}

}  // namespace LevelLoading
