#include "fonts/ReadTextFile.h"

#include <algorithm>

#include "os/FileSystem.h"

std::string readTextFile(std::string const& path) {
    // A missing file reads as no text; the file system logs it.
    auto file = Singleton<FileSystem>::instance().open(path);
    std::string text(reinterpret_cast<char const*>(file->data()), file->data() ? file->size() : 0);
    std::replace(text.begin(), text.end(), '\r', '\n');
    return text;
}
