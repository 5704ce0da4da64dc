// The board's texts with a stand-in string table: keys show as [key], punctuation as itself.
#include <gtest/gtest.h>

#include <cmath>

#include "menus/ResultTexts.h"

namespace {

std::string L(std::string const& key) {
    return key == "colon" ? ":" : key == "period" ? "." : key == "slash" ? "/" : "[" + key + "]";
}

TEST(ResultTexts, NumbersAndRowsOfEveryMode) {
    // Two times in one expression each keep their own value.
    EXPECT_EQ(formatResultTime(83456.7f, L) + " " + formatResultTime(5000.0f, L), "01:23.456 00:05.000");
    EXPECT_EQ(formatResultSeconds(125000.5f, L), "125.000");
    EXPECT_EQ(formatResultLaps(-29000), "2.9000");
    EXPECT_EQ(formatResultLaps(-31), "0.0031");
    for (float bad : {NAN, INFINITY, -INFINITY, 3.4e38f, -1.5f}) {
        EXPECT_FALSE(formatResultTime(bad, L).empty());
        EXPECT_FALSE(formatResultSeconds(bad, L).empty());
        resultTexts(ResultsMenu::TimeAttackGameModeTriggerParameters(bad, 4), 0, L);
    }
    EXPECT_EQ(formatResultTime(NAN, L), "00:00.000");
    EXPECT_FALSE(formatResultLaps(INT64_MIN).empty());

    using N = ResultsMenu::NormalGameModeTriggerParameters;
    ResultTexts t = resultTexts(N(3, 5, 0, 200000.0f, 0), 150000, L);  // a stored better best shows
    EXPECT_EQ(t.row1, "3/5");
    EXPECT_EQ(t.row2, "[noFatalities]");
    EXPECT_EQ(t.row3, "03:20.000\n02:30.000[bestInResults]");
    EXPECT_EQ(t.target, "\n02:50");
    EXPECT_EQ(resultTexts(N(0, 0, 1, 100000.0f, 0), 150000, L).row3, "01:40.000\n01:40.000[bestInResults]");
    EXPECT_EQ(resultTexts(N(0, 0, 1, 1.0f, 0), 0, L).row2, "[oneFatality]");
    EXPECT_EQ(resultTexts(N(0, 0, 7, 1.0f, 99), 0, L).row2, "[preXFatalities]7[postXFatalities]");
    EXPECT_EQ(resultTexts(N(0, 0, 7, 1.0f, 99), 0, L).target, "");

    t = resultTexts(ResultsMenu::CollectTimeGameModeTriggerParameters(2, 9, 80000.0f, 9), uint64_t(-85010), L);
    EXPECT_EQ(t.row3, "80.000\n85.010[bestInResults]");
    t = resultTexts(ResultsMenu::TimeAttackGameModeTriggerParameters(2.0f, 4), uint64_t(-29000), L);
    EXPECT_EQ(t.laps, "[preLapsInResults]2.0000[postLapsInResults]\n[preLapsInResults]2.9000[postLapsInResults][bestInResults]");
    t = resultTexts(ResultsMenu::HardcoreGameModeTriggerParameters(3.6e6f), 4000000, L);
    EXPECT_EQ(t.run, "60:00.000\n60:00.000[bestInResults]");
    t = resultTexts(ResultsMenu::HardcoreFailedGameModeTriggerParameters(61000.0f, 0, 20), 0, L);
    EXPECT_EQ(t.row1 + "|" + t.row2 + "|" + t.row3, "[hardcoreLevelsResultMenu]0/20||01:01.000");
}

// On a first or new best the best line repeats the result just shown, although the stored value
// is rounded to whole milliseconds while the shown one is cut; a standing best shows as stored.
TEST(ResultTexts, AFirstOrNewBestRepeatsTheShownResult) {
    using N = ResultsMenu::NormalGameModeTriggerParameters;
    using C = ResultsMenu::CollectTimeGameModeTriggerParameters;
    for (uint64_t stored : {uint64_t(0), uint64_t(60000)})
        EXPECT_EQ(resultTexts(N(0, 0, 0, 52025.5f, 1), stored, L).row3, "00:52.025\n00:52.025[bestInResults]");
    EXPECT_EQ(resultTexts(N(0, 0, 0, 52025.5f, 1), 52020, L).row3, "00:52.025\n00:52.020[bestInResults]");
    for (uint64_t stored : {uint64_t(0), uint64_t(-70000)})
        EXPECT_EQ(resultTexts(C(1, 2, 80000.75f, 9), stored, L).row3, "80.000\n80.000[bestInResults]");
    EXPECT_EQ(resultTexts(C(1, 2, 80000.75f, 9), uint64_t(-90000), L).row3, "80.000\n90.000[bestInResults]");
    EXPECT_EQ(resultTexts(ResultsMenu::HardcoreGameModeTriggerParameters(1234567.8f), 0, L).run,
              "20:34.567\n20:34.567[bestInResults]");
    EXPECT_EQ(resultTexts(ResultsMenu::TimeAttackGameModeTriggerParameters(3.25f, 4), 0, L).laps,
              "[preLapsInResults]3.2500[postLapsInResults]\n[preLapsInResults]3.2500[postLapsInResults][bestInResults]");
}

}  // namespace
