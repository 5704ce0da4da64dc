#include "menus/GameServicesViewController.h"

#include <GLES2/gl2.h>
#include <glm/gtc/matrix_transform.hpp>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "graphics/Context.h"
#include "graphics/DrawRecord.h"
#include "graphics/ScreenAnchor.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "menus/ConfirmationBox.h"
#include "os/Assets.h"
#include "os/services/GameCenter.h"

namespace {

// Light text on a dark, opaque panel: well over 4.5:1 whatever the screen underneath shows.
glm::vec4 const kPanelColour(0.10f, 0.12f, 0.16f, 1.0f);
glm::vec4 const kHeaderColour(1.0f, 1.0f, 1.0f, 1.0f);
glm::vec4 const kTextColour(0.90f, 0.91f, 0.93f, 1.0f);
glm::vec4 const kQuietColour(0.72f, 0.74f, 0.78f, 1.0f);
glm::vec4 const kHighlightColour(1.0f, 0.82f, 0.35f, 1.0f);
glm::vec4 const kButtonTint(0.6f, 0.6f, 0.6f, 1.0f);
float const kBackdropAlpha = 0.5f;

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
    : fonts_(fonts),
      onDone_(std::move(onDone)),
      projection_(screenProjection()),
      white_(graphics, Assets::texColorsWhite),
      backdrop_(glm::vec2(0.0f), glm::vec2(virtualWidth(), virtualHeight()), glm::vec2(1.0f)),
      panel_(glm::vec2(-kPanelWidth / 2.0f, -kPanelHeight / 2.0f), glm::vec2(kPanelWidth, kPanelHeight),
             glm::vec2(1.0f)),
      ok_(ConfirmationBox::answerButton(graphics, audio, fonts, glm::vec2(0.0f, kButtonY),
                                        fonts->localizedString("popupAffirmative"),
                                        [this] {
                                            finish();
                                            return true;
                                        })),
      focus_(audio, {FocusNavigator::Node(&ok_.button(), boost::none, boost::none, boost::none, boost::none)}, 0,
             true) {
    // The panel at the screen's centre, as large as it is designed or as the screen allows.
    float const w = virtualWidth(), h = virtualHeight();
    float const scale = std::min({1.0f, (w - 2.0f * kMargin) / kPanelWidth, (h - 2.0f * kMargin) / kPanelHeight});
    layout_ = glm::scale(glm::translate(glm::mat4(1.0f), glm::vec3(w / 2.0f, h / 2.0f, 0.0f)),
                         glm::vec3(scale, scale, 1.0f));

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

// A label narrower than maxWidth: longer texts are drawn smaller.
void GameServicesViewController::addLabel(std::string const& text, glm::vec2 at, Fonts::Font font,
                                          int32_t alignment, glm::vec4 colour, float maxWidth) {
    TextLabel label(text, at, font, alignment, 1.0f);
    Fonts::TextMesh measure;
    label.draw(measure, glm::vec2(0.0f), colour, glm::mat4(1.0f));
    float const width = measure.empty() ? 0.0f : measure.bounds().getWidth();
    if (width > maxWidth && width > 0.0f) label.scale = maxWidth / width;
    labels_.push_back(std::move(label));
    colours_.push_back(colour);
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

void GameServicesViewController::finish() {
    if (done_) return;
    done_ = true;
    interactive_ = false;
    // The owner dismisses (and deletes) the view from here: nothing may follow this call.
    if (auto done = std::move(onDone_)) done();
}

glm::vec2 GameServicesViewController::toLayout(glm::vec2 const& point) const {
    glm::vec4 const p = glm::inverse(layout_) * glm::vec4(point, 0.0f, 1.0f);
    return {p.x, p.y};
}

void GameServicesViewController::update(Audio::Context&, float dt, float) {
    if (done_) return;
    if (!interactive_ && white_.isReady() && ok_.button().isReady()) {
        interactive_ = true;
        ok_.popIn().animation().start();
        logScreen("GameServicesView");
    }
    if (!interactive_) return;
    focus_.updateHighlight();
    ok_.update(dt);
}

void GameServicesViewController::preDraw(Graphics::Context*) {
    if (!interactive_) return;
    ok_.preDraw();
    buttonMesh_.clear();
    ok_.drawLabel(buttonMesh_);
    if (laidOut_) return;
    for (size_t i = 0; i < labels_.size(); ++i) labels_[i].draw(textMesh_, glm::vec2(0.0f), colours_[i], glm::mat4(1.0f));
    laidOut_ = true;
}

void GameServicesViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!interactive_) return;
    graphics->setBlend(true);
    white_.bind(GL_TEXTURE0);
    shader->use(Graphics::StandardShader::kColor);
    shader->setPVM(projection_);
    shader->setColor(glm::vec4(0.0f, 0.0f, 0.0f, kBackdropAlpha));
    backdrop_.draw(*shader);
    // The screen behind is dimmed and takes no input while the boards are up.
    Graphics::DrawRecord::cover();
    glm::mat4 const matrix = projection_ * layout_;
    shader->setPVM(matrix);
    shader->setColor(kPanelColour);
    panel_.draw(*shader);
    // The button darkened under its white label.
    shader->setColor(kButtonTint);
    ok_.draw(shader);
    shader->use(Graphics::StandardShader::kAmbient);
    shader->setPVM(matrix);
    textMesh_.draw(graphics, shader, boost::none);
    buttonMesh_.draw(graphics, shader, boost::none);
}

void GameServicesViewController::touchBegan(glm::vec2 const& point, uint32_t tapCount) {
    if (interactive_) ok_.touchBegan(toLayout(point), tapCount);
}

void GameServicesViewController::touchMoved(glm::vec2 const& point, uint32_t tapCount) {
    if (interactive_) ok_.touchMoved(toLayout(point), tapCount);
}

void GameServicesViewController::touchEnded(glm::vec2 const& point, uint32_t tapCount) {
    if (interactive_) ok_.touchEnded(toLayout(point), tapCount);
}

void GameServicesViewController::buttonPressed(uint32_t code) {
    if (interactive_ && code == buttonPause) finish();
}

void GameServicesViewController::gamepadInput(GamepadState const& state) {
    if (!interactive_) return;
    if (state.buttonB) {
        finish();
        return;
    }
    focus_.gamepadInput(state);
}
