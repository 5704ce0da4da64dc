#include "menus/LoadHitRect.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "os/FileSystem.h"
#include "os/Singleton.h"

namespace {

// The next line of text at pos, without its "\n" or "\r\n"; false past the end.
bool nextLine(std::string_view text, std::size_t& pos, std::string_view& line) {
    if (pos > text.size()) return false;
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    line = text.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = end + 1;
    return true;
}

// A field read the way the asset's tools wrote it: leading blanks and a sign allowed, trailing
// text ignored. False for no number at all or one out of float range.
bool parseNumber(std::string_view field, float& out) {
    std::string copy(field);
    char const* begin = copy.c_str();
    char* end = nullptr;
    errno = 0;
    float const value = std::strtof(begin, &end);
    if (end == begin || errno == ERANGE) return false;
    out = value;
    return true;
}

// The first two fields of a line split at every single space.
bool parsePair(std::string_view line, float& first, float& second) {
    std::size_t const space = line.find(' ');
    if (space == std::string_view::npos) return false;
    std::string_view rest = line.substr(space + 1);
    std::size_t const next = rest.find(' ');
    return parseNumber(line.substr(0, space), first) &&
           parseNumber(next == std::string_view::npos ? rest : rest.substr(0, next), second);
}

}  // namespace

Rect hitRectFromText(std::string_view text, glm::vec2 const& translation, bool* malformed) {
    Rect const zero{0, 0, 0, 0};
    if (malformed) *malformed = false;
    std::size_t pos = 0;
    std::string_view line;
    bool found = false;
    while (nextLine(text, pos, line))
        if (line == "1 XR") {
            found = true;
            break;
        }
    if (!found) return zero;

    // The line after the marker (the move-to) is skipped; the next four are the corners.
    float x[4], y[4];
    bool ok = nextLine(text, pos, line);
    for (int i = 0; ok && i < 4; ++i) ok = nextLine(text, pos, line) && parsePair(line, x[i], y[i]);
    if (!ok) {
        if (malformed) *malformed = true;
        return zero;
    }
    Rect r;
    r.maxX = x[0];  // top-right
    r.minY = y[2];  // bottom-left
    r.minX = x[3];  // top-left
    r.maxY = y[3];
    r.minX += translation.x;
    r.maxX += translation.x;
    r.minY += translation.y;
    r.maxY += translation.y;
    return r;
}

Rect loadHitRect(std::string const& path, glm::vec2 const& translation) {
    auto& fs = Singleton<FileSystem>::instance();
    if (!fs.exists(path)) return Rect{0, 0, 0, 0};
    auto file = fs.open(path);
    bool malformed = false;
    Rect r{0, 0, 0, 0};
    if (!file->data() || file->size() > maxHitAreaBytes)
        malformed = file->size() > maxHitAreaBytes;
    else
        r = hitRectFromText(std::string_view(reinterpret_cast<char const*>(file->data()), file->size()), translation,
                            &malformed);
    if (malformed) {
        static std::mutex mutex;
        static std::set<std::string> logged;
        std::lock_guard<std::mutex> lock(mutex);
        if (logged.insert(path).second)
            std::fprintf(stderr, "menus: the hit area %s is damaged; its button cannot be touched\n", path.c_str());
    }
    return r;
}
