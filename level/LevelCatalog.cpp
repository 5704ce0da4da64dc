#include "level/LevelCatalog.h"

#include <algorithm>
#include <vector>

namespace LevelCatalog {
namespace {

// Built on first use so that other globals may read it while they are being built.
std::vector<Entry> const& table() {
    static std::vector<Entry> const entries{
        {"levels/level01.pxl", "level01Name", "levels/level01_intro.pxl", GameMode::Normal, '1', 1, 170000.0f, -206, 41, 0, 0, 1, 4, 4, 1, 1},
        {"levels/level02.pxl", "level02Name", "", GameMode::Normal, '1', 2, 180000.0f, -66, -11, 0, 0, 2, 1, 1, 0, 1},
        {"levels/level03.pxl", "level03Name", "levels/level03_intro.pxl", GameMode::Normal, '1', 3, 210000.0f, 69, -87, 0, 1, 3, 2, 2, 0, 1},
        {"levels/level04.pxl", "level04Name", "", GameMode::Normal, '1', 4, 270000.0f, 223, -130, 0, 2, 5, 3, 3, 0, 1},
        {"levels/bonus01.pxl", "bonus01Name", "", GameMode::TimeAttack, '1', 'A', 2.5f, -208, -132, 3, 4, 4, 0, 0, 0, 1},
        {"levels/level05.pxl", "level05Name", "levels/level05_intro.pxl", GameMode::Normal, '2', 5, 200000.0f, -228, -167, 0, 3, 6, 9, 9, 0, 1},
        {"levels/level06.pxl", "level06Name", "", GameMode::Normal, '2', 6, 195000.0f, -77, -69, 0, 5, 7, 6, 6, 0, 1},
        {"levels/level07.pxl", "level07Name", "", GameMode::Normal, '2', 7, 240000.0f, 96, -27, 0, 6, 8, 7, 7, 0, 1},
        {"levels/level08.pxl", "level08Name", "levels/level08_intro.pxl", GameMode::Normal, '2', 8, 240000.0f, 256, -102, 0, 7, 10, 8, 8, 0, 1},
        {"levels/bonus02.pxl", "bonus02Name", "", GameMode::CollectTime, '2', 'B', 85000.0f, -250, 6, 4, 9, 9, 5, 5, 0, 1},
        {"levels/level09.pxl", "level09Name", "levels/level09_intro.pxl", GameMode::Normal, '3', 9, 180000.0f, -233, -25, 0, 8, 11, 14, 14, 0, 1},
        {"levels/level10.pxl", "level10Name", "", GameMode::Normal, '3', 10, 175000.0f, -54, 15, 0, 10, 12, 11, 11, 0, 1},
        {"levels/level11.pxl", "level11Name", "levels/level11_intro.pxl", GameMode::Normal, '3', 11, 210000.0f, 107, -58, 0, 11, 13, 12, 12, 0, 1},
        {"levels/level12.pxl", "level12Name", "", GameMode::Normal, '3', 12, 150000.0f, 242, -4, 0, 12, 15, 13, 13, 0, 1},
        {"levels/bonus03.pxl", "bonus03Name", "", GameMode::TimeAttack, '3', 'C', 5.0f, -228, -168, 5, 14, 14, 10, 10, 0, 1},
        {"levels/level13.pxl", "level13Name", "levels/level13_intro.pxl", GameMode::Normal, '4', 13, 190000.0f, -226, 25, 0, 13, 16, 19, 19, 0, 1},
        {"levels/level14.pxl", "level14Name", "", GameMode::Normal, '4', 14, 180000.0f, -44, -6, 0, 15, 17, 16, 16, 0, 1},
        {"levels/level15.pxl", "level15Name", "", GameMode::Normal, '4', 15, 190000.0f, 92, -83, 0, 16, 18, 17, 17, 0, 1},
        {"levels/level16.pxl", "level16Name", "", GameMode::Normal, '4', 16, 180000.0f, 233, -23, 0, 17, 20, 18, 18, 0, 1},
        {"levels/bonus04.pxl", "bonus04Name", "", GameMode::CollectTime, '4', 'D', 102000.0f, -226, -154, 6, 19, 19, 15, 15, 0, 1},
        {"levels/level17.pxl", "level17Name", "levels/level17_intro.pxl", GameMode::Normal, '5', 17, 200000.0f, -177, -158, 0, 18, 21, 20, 20, 0, 1},
        {"levels/level18.pxl", "level18Name", "", GameMode::Normal, '5', 18, 200000.0f, -27, -129, 0, 20, 22, 21, 21, 0, 1},
        {"levels/level19.pxl", "level19Name", "levels/level19_intro.pxl", GameMode::Normal, '5', 19, 240000.0f, 96, -53, 0, 21, 23, 22, 22, 0, 0},
        {"levels/level20.pxl", "level20Name", "levels/level20_intro.pxl", GameMode::Normal, '5', 20, 360000.0f, 200, 18, 0, 22, 0, 23, 23, 0, 1},
    };
    return entries;
}

}  // namespace

uint64_t count() { return table().size(); }

Entry const& entry(uint64_t index) { return table()[index]; }

uint64_t countOfMode(GameMode mode) {
    auto const& t = table();
    return uint64_t(std::count_if(t.begin(), t.end(), [&](Entry const& e) { return e.mode == mode; }));
}

int64_t indexInMode(int32_t index, GameMode mode) {
    if (index < 0) return index;
    auto const& t = table();
    int64_t found = 0;
    for (size_t j = 0; j <= size_t(index) && j < t.size(); ++j) found += t[j].mode == mode;
    return found - 1;
}

boost::optional<size_t> findByPath(std::string const& path) {
    auto const& t = table();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].path == path) return i;
    return boost::none;
}

boost::optional<size_t> findByIntroPath(std::string const& introPath) {
    auto const& t = table();
    for (size_t i = 0; i < t.size(); ++i)
        if (t[i].introPath == introPath) return i;
    return boost::none;
}

}  // namespace LevelCatalog
