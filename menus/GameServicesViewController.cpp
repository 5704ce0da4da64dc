#include "menus/GameServicesViewController.h"

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "level/LevelCatalog.h"
#include "menus/ConfirmationBox.h"
#include "os/services/GameCenter.h"

namespace {

glm::vec4 const kHeaderColour(1.0f, 1.0f, 1.0f, 1.0f);
glm::vec4 const kTextColour(0.90f, 0.91f, 0.93f, 1.0f);
glm::vec4 const kQuietColour(0.72f, 0.74f, 0.78f, 1.0f);
glm::vec4 const kHighlightColour(1.0f, 0.82f, 0.35f, 1.0f);

float const kMargin = 20.0f;
float const kTitleY = 250.0f;
float const kHeaderY = 200.0f;
float const kFirstRowY = 150.0f;
float const kRowStep = 31.0f;
float const kButtonY = -242.0f;
// The columns: boards on the left, achievements on the right.
float const kBoardsLeft = -490.0f, kBoardsRight = -30.0f;
float const kAchievementsLeft = 30.0f, kAchievementsRight = 490.0f;
float const kValueWidth = 140.0f;

uint32_t const kHardcoreTimeBoard = 1337;
uint32_t const kHardcoreLevelsBoard = 1338;

// Hundredths of a second as m:ss.hh.
std::string hundredths(int64_t v) {
    if (v < 0) v = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ":%02" PRId64 ".%02" PRId64, v / 6000, (v / 100) % 60, v % 100);
    return text;
}

// Thousandths of a lap as laps with three decimals.
std::string thousandths(int64_t v) {
    if (v < 0) v = 0;
    char text[48];
    std::snprintf(text, sizeof text, "%" PRId64 ".%03" PRId64, v / 1000, v % 1000);
    return text;
}

// What a board's value means: the results report finish times and collected time in hundredths
// of a second, laps in thousandths, and the hardcore levels as a count.
std::string formatBoardValue(Fonts::Context const& fonts, uint32_t board, int64_t value) {
    if (board == kHardcoreLevelsBoard) return std::to_string(value);
    if (board < LevelCatalog::count() && LevelCatalog::entry(board).mode == GameMode::TimeAttack)
        return thousandths(value) + fonts.localizedString("postLapsInResults");
    return hundredths(value);
}

std::string boardName(Fonts::Context const& fonts, uint32_t board) {
    if (board == kHardcoreTimeBoard) return fonts.localizedString("hardcoreTimeInBoards");
    if (board == kHardcoreLevelsBoard) return fonts.localizedString("hardcoreLevelsInBoards");
    return fonts.localizedString(LevelCatalog::entry(board).nameKey);
}

// "goldStarAnyLevel" -> "achievementGoldStarAnyLevel", the key of its title.
std::string achievementKey(std::string const& id) {
    std::string name = id.substr(id.rfind('.') + 1);
    if (!name.empty()) name[0] = char(std::toupper(static_cast<unsigned char>(name[0])));
    return "achievement" + name;
}

std::string percentText(double percent) {
    char text[16];
    std::snprintf(text, sizeof text, "%d%%", int(std::clamp(percent, 0.0, 100.0)));
    return text;
}


}  // namespace

std::vector<GameServicesViewController::Row> GameServicesViewController::boardRows(Fonts::Context const& fonts,
                                                                                  std::string const& first) {
    platform::GameServices const& services = game_center::services();
    std::vector<uint32_t> boards;
    for (uint32_t i = 0; i < LevelCatalog::count(); ++i) boards.push_back(i);
    boards.push_back(kHardcoreTimeBoard);
    boards.push_back(kHardcoreLevelsBoard);
    std::vector<Row> rows;
    for (uint32_t board : boards) {
        auto const id = leaderboardId(board);
        if (!id) continue;
        bool const chosen = !first.empty() && *id == first;
        // The chosen board shows even before it has a score.
        if (!services.hasScore(*id) && !chosen) continue;
        Row row{boardName(fonts, board),
                services.hasScore(*id) ? formatBoardValue(fonts, board, services.score(*id)) : std::string("-"),
                chosen};
        if (chosen)
            rows.insert(rows.begin(), std::move(row));
        else
            rows.push_back(std::move(row));
    }
    return rows;
}

std::vector<GameServicesViewController::Row> GameServicesViewController::achievementRows(Fonts::Context const& fonts) {
    platform::GameServices const& services = game_center::services();
    std::vector<Row> done, started;
    for (uint64_t i = 0; i < 38; ++i) {
        auto const id = achievementId(i);
        if (!id) continue;
        double const percent = services.achievementPercent(*id);
        if (!(percent > 0.0)) continue;
        Row row{fonts.localizedString(achievementKey(*id)), percentText(percent), false};
        (percent >= 100.0 ? done : started).push_back(std::move(row));
    }
    done.insert(done.end(), started.begin(), started.end());
    return done;
}

GameServicesViewController::GameServicesViewController(Graphics::Context* graphics, Audio::Context* audio,
                                                       Fonts::Context* fonts, std::string const& leaderboard,
                                                       std::function<void()> onDone)
    : DimmedPanelViewController(graphics, audio, glm::vec2(kPanelWidth, kPanelHeight),
                                [&] {
                                    std::vector<AnimatedButton> ok;
                                    ok.push_back(ConfirmationBox::answerButton(
                                        graphics, audio, fonts, glm::vec2(0.0f, kButtonY),
                                        fonts->localizedString("popupAffirmative"), [this] {
                                            choose(0);
                                            return true;
                                        }));
                                    return ok;
                                }(),
                                0, "GameServicesView",
                                [done = std::move(onDone)](int) {
                                    if (done) done();
                                }),
      fonts_(fonts) {
    Fonts::Font const header = fonts->font(Fonts::FontStyle::boardsHeader);
    addLabel(fonts->localizedString("leaderboardsInBoards"), {(kBoardsLeft + kBoardsRight) / 2.0f, kTitleY}, header,
             Fonts::alignCentre, kHeaderColour, kBoardsRight - kBoardsLeft);
    addLabel(fonts->localizedString("achievementsInBoards"), {(kAchievementsLeft + kAchievementsRight) / 2.0f, kTitleY},
             header, Fonts::alignCentre, kHeaderColour, kAchievementsRight - kAchievementsLeft);
    addLabel(game_center::services().playerName(), {0.0f, kHeaderY}, fonts->font(Fonts::FontStyle::boardsLegendText),
             Fonts::alignCentre, kQuietColour, kPanelWidth - 2.0f * kMargin);
    addColumn(boardRows(*fonts, leaderboard), kBoardsLeft, kBoardsRight, fonts->localizedString("noScoresInBoards"));
    addColumn(achievementRows(*fonts), kAchievementsLeft, kAchievementsRight,
              fonts->localizedString("noAchievementsInBoards"));
}

void GameServicesViewController::addLabel(std::string const& text, glm::vec2 at, Fonts::Font font,
                                          int32_t alignment, glm::vec4 colour, float maxWidth) {
    DimmedPanelViewController::addLabel(TextLabel(text, at, font, alignment, 1.0f), colour, maxWidth);
}

void GameServicesViewController::addColumn(std::vector<Row> const& rows, float left, float right,
                                           std::string const& empty) {
    Fonts::Font const text = fonts_->font(Fonts::FontStyle::boardsText);
    if (rows.empty()) {
        addLabel(empty, {(left + right) / 2.0f, kFirstRowY}, text, Fonts::alignCentre, kQuietColour, right - left);
        return;
    }
    size_t const shown = rows.size() > kRows ? kRows - 1 : rows.size();
    for (size_t i = 0; i < shown; ++i) {
        float const y = kFirstRowY - kRowStep * float(i);
        glm::vec4 const colour = rows[i].highlighted ? kHighlightColour : kTextColour;
        addLabel(rows[i].name, {left, y}, text, Fonts::alignLeft, colour, right - left - kValueWidth - 10.0f);
        addLabel(rows[i].value, {right, y}, text, Fonts::alignRight, colour, kValueWidth);
    }
    if (shown < rows.size()) {
        std::string const more = fonts_->localizedString("preMoreInBoards") + std::to_string(rows.size() - shown) +
                                 fonts_->localizedString("postMoreInBoards");
        addLabel(more, {left, kFirstRowY - kRowStep * float(shown)}, text, Fonts::alignLeft, kQuietColour,
                 right - left);
    }
}
