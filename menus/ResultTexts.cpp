#include "menus/ResultTexts.h"

#include <cmath>
#include <cstdio>

#include "level/LevelCatalog.h"
#include "menus/ResultRecording.h"
#include "save/RoamingDataFile.h"

namespace {

// Whole milliseconds of a float time, without undefined conversions.
int64_t wholeMs(double ms) {
    if (std::isnan(ms))
        return 0;
    constexpr double limit = 2147483647.0 * 1000.0;
    return int64_t(std::floor(ms < -limit ? -limit : ms > limit ? limit : ms));
}

std::string number(int64_t n, char const* format) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, static_cast<long long>(n));
    return buffer;
}

std::string plain(uint64_t n) { return std::to_string(n); }

}  // namespace

std::string formatResultTime(float ms, Localize const& text) {
    int64_t const whole = wholeMs(ms);
    int64_t const seconds = whole >= 0 ? whole / 1000 : -((-whole + 999) / 1000);
    int64_t const minutes = seconds >= 0 ? seconds / 60 : -((-seconds + 59) / 60);
    return number(minutes, "%02lld") + text("colon") + number(seconds - 60 * minutes, "%02lld") + text("period") +
           number(whole - 1000 * seconds, "%03lld");
}

std::string formatResultSeconds(float ms, Localize const& text) {
    int64_t const whole = wholeMs(ms);
    int64_t const seconds = whole >= 0 ? whole / 1000 : -((-whole + 999) / 1000);
    return number(seconds, "%02lld") + text("period") + number(whole - 1000 * seconds, "%03lld");
}

std::string formatResultLaps(int64_t value) {
    // The minimum value has no positive counterpart; it stays at the maximum.
    int64_t const n = value == INT64_MIN ? INT64_MAX : -value;
    return number(n / 10000, "%lld") + "." + number(n < 0 ? -(n % 10000) : n % 10000, "%04lld");
}

bool showsStoredBest(int64_t current, uint64_t storedBest) {
    return storedBest != 0 && current >= int64_t(storedBest);
}

ResultTexts resultTexts(TriggerVariant const& result, uint64_t storedBest, Localize const& text) {
    ResultTexts t;
    auto coins = [&](uint64_t collected, uint64_t total) { return plain(collected) + text("slash") + plain(total); };
    // A first or new best repeats the current text, not its rounded value, so the two lines agree.
    auto withBest = [&](std::string const& shown, int64_t current, std::string const& stored) {
        return shown + "\n" + (showsStoredBest(current, storedBest) ? stored : shown) + text("bestInResults");
    };
    switch (result.which()) {
    case 0: {
        auto const& r = boost::get<ResultsMenu::NormalGameModeTriggerParameters>(result);
        t.row1 = coins(r.coinsCollected, r.coinTotal);
        t.row2 = r.deaths == 0   ? text("noFatalities")
                 : r.deaths == 1 ? text("oneFatality")
                                 : text("preXFatalities") + plain(r.deaths) + text("postXFatalities");
        t.row3 = withBest(formatResultTime(r.levelTime, text), roundResult(r.levelTime),
                          formatResultTime(float(int64_t(storedBest)), text));
        if (r.levelIndex < LevelCatalog::count()) {
            int64_t const target = wholeMs(LevelCatalog::entry(r.levelIndex).target) / 1000;
            t.target = "\n" + number(target / 60, "%02lld") + text("colon") + number(target % 60, "%02lld");
        }
        break;
    }
    case 1: {
        auto const& r = boost::get<ResultsMenu::CollectTimeGameModeTriggerParameters>(result);
        t.row1 = coins(r.coinsCollected, r.coinTotal);
        // Stored negated: more time left is the lower value.
        t.row3 = withBest(formatResultSeconds(r.remainingTime, text), -roundResult(r.remainingTime),
                          formatResultSeconds(-float(int64_t(storedBest)), text));
        break;
    }
    case 2: {
        auto const& r = boost::get<ResultsMenu::TimeAttackGameModeTriggerParameters>(result);
        int64_t const value = roundResult(double(r.laps) * -10000.0);
        auto laps = [&](int64_t v) { return text("preLapsInResults") + formatResultLaps(v) + text("postLapsInResults"); };
        t.laps = withBest(laps(value), value, laps(int64_t(storedBest)));
        break;
    }
    case 3: {
        auto const& r = boost::get<ResultsMenu::HardcoreGameModeTriggerParameters>(result);
        t.run = withBest(formatResultTime(r.runTime, text), roundResult(r.runTime),
                         formatResultTime(float(int64_t(storedBest)), text));
        break;
    }
    default: {
        auto const& r = boost::get<ResultsMenu::HardcoreFailedGameModeTriggerParameters>(result);
        t.row1 = text("hardcoreLevelsResultMenu") + plain(r.levelsCompleted) + text("slash") + plain(r.levelCount);
        t.row3 = formatResultTime(r.runTime, text);
        break;
    }
    }
    return t;
}

uint64_t storedBestFor(TriggerVariant const& result) {
    uint64_t level = 0;
    switch (result.which()) {
    case 0: level = boost::get<ResultsMenu::NormalGameModeTriggerParameters>(result).levelIndex; break;
    case 1: level = boost::get<ResultsMenu::CollectTimeGameModeTriggerParameters>(result).levelIndex; break;
    case 2: level = boost::get<ResultsMenu::TimeAttackGameModeTriggerParameters>(result).levelIndex; break;
    case 3: {
        RoamingDataFile file("roamingData");
        return static_cast<RoamingData const&>(file.data).hardcoreBestTime();
    }
    default: return 0;
    }
    if (level >= LevelCatalog::count())
        return 0;
    RoamingDataFile file("roamingData");
    auto const& data = static_cast<RoamingData const&>(file.data);
    auto it = data.findLevelEntry(uint32_t(level));
    return it != data.levelEntries().end() && it->levelId() == level ? it->best() : 0;
}
