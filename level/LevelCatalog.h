#pragma once
// The fixed list of playable levels: 20 main levels in five acts and a bonus level closing each
// of the first four acts. Everything that names a level by number uses a catalog index.
#include <boost/optional.hpp>

#include <cstddef>
#include <cstdint>
#include <string>

#include "level/GameMode.h"

namespace LevelCatalog {

struct Entry {
    std::string path;       // level file
    std::string nameKey;    // localized-string key of the level's name
    std::string introPath;  // cut-scene level played before it, or empty
    GameMode mode;          // Normal, TimeAttack or CollectTime
    char act;               // '1' to '5'
    int8_t buttonLabel;     // 1 to 20 for main levels, 'A' to 'D' for bonus levels
    // Results target: milliseconds for main levels, seconds for time attack, a tenth of the
    // result's scale for collect time.
    float target;
    float mapX, mapY;          // button position on the act map, pixels
    uint64_t starsToUnlock;    // bonus levels: the act's stars that unlock it; 0 for main levels
    uint64_t previous;         // previous main level in play order (itself for the first and bonus levels)
    uint64_t next;             // next main level (0 after the last; itself for bonus levels)
    uint64_t bonusLink;        // an act's first level <-> its bonus level; itself otherwise
    uint64_t bonusLink2;       // always equal to bonusLink
    uint8_t offersTutorial;    // 1 only for the first level
    uint8_t resultsFlag;       // read by the results screen
};

uint64_t count();
// index < count(); not checked.
Entry const& entry(uint64_t index);
uint64_t countOfMode(GameMode mode);
// The position of the level at index among the levels of that mode (-1 when none up to it);
// a negative index comes back unchanged.
int64_t indexInMode(int32_t index, GameMode mode);
boost::optional<size_t> findByPath(std::string const& path);
boost::optional<size_t> findByIntroPath(std::string const& introPath);

}  // namespace LevelCatalog
