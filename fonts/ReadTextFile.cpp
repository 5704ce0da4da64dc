#include "fonts/ReadTextFile.h"

#include <algorithm>

#include "os/FileSystem.h"

std::string readTextFile(std::string const& path) {
    auto& fs = Singleton<FileSystem>::instance();
    if (!fs.exists(path)) return {};
    auto file = fs.open(path);
    std::string text(reinterpret_cast<char const*>(file->data()), file->data() ? file->size() : 0);
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}
