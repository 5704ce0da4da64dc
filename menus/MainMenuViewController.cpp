#include "menus/MainMenuViewController.h"

#include <algorithm>
#include <string>
#include <utility>

#include "audio/Context.h"
#include "fonts/Context.h"
#include "graphics/ScreenAnchor.h"
#include "level/LevelCatalog.h"
#include "os/services/GameCenter.h"
#include "os/services/Music.h"
#include "os/services/ShellServices.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"

namespace {

glm::vec2 const noticeOffset(0.0f, 0.0f);

// The last catalog level has a best result and the notice was never shown for this save: the
// notice bit is stored (and the file written) before the box can be seen, so a quit while it is
// up does not bring it back.
bool takeHardcoreNotice() {
    RoamingDataFile file("roamingData");
    RoamingData const& save = file.data;
    uint32_t const last = uint32_t(LevelCatalog::count() - 1);
    if (!save.hasLevelEntry(last) || save.findLevelEntry(last)->best() == 0 || (save.noticeFlags() & 1u) != 0)
        return false;
    file.data.setNoticeFlags(save.noticeFlags() | 1u);
    return true;
}

}  // namespace

MainMenuViewController::MainMenuViewController(Graphics::Context* graphics, Audio::Context* audio,
                                               Fonts::Context* fonts, StartLevel const& startLevel,
                                               CloudSyncThread* cloudSync)
    : background_(graphics),
      projection_(screenProjection()),
      startLevel_(startLevel),
      credits_(graphics, audio, fonts, [this] { backToStart(); }),
      leaderboards_(graphics, audio, fonts, [this] { backToStart(); }, true),
      levelSelect_(graphics, audio, fonts, [this] { backToStart(); }, startLevel_, boost::none),
      options_(graphics, audio, fonts, [this] { backToStart(); }),
      startMenu_(graphics, audio, fonts, [this](MainMenuStartMenu::Choice choice) { transit(choice); }, startLevel_),
      cloudSync_(cloudSync),
      notice_(graphics, audio, fonts,
              ConfirmationBox::Parameters{noticeOffset, fonts->localizedString("hardcoreUnlocked"),
                                          fonts->localizedString("popupAffirmative"), boost::none,
                                          [this] { notice_.close(); }, [] {}, true}) {
    // Consent to download over cellular data switches on the options' checkboxes of that kind.
    if (downloadState() != 4)
        overlay_.emplace(graphics, audio, fonts, true, [this] { options_.foreground().setCheckboxState(4, true); });
    if (takeHardcoreNotice()) notice_.show();
}

MainMenuViewController::~MainMenuViewController() = default;

void MainMenuViewController::backToStart() {
    atRoot_ = 1;
    if (cloudSync_) cloudSync_->send(CloudSyncThread::kSyncRoamingData);
    current_ = &startMenu_;
    startMenu_.open();
}

template <class Page, class... Open>
void MainMenuViewController::show(Page& page, Open&&... open) {
    page.reset();
    current_ = &page;
    page.open(std::forward<Open>(open)...);
}

void MainMenuViewController::transit(MainMenuStartMenu::Choice choice) {
    atRoot_ = 0;
    switch (choice) {
    case MainMenuStartMenu::Options:
        show(options_);
        break;
    case MainMenuStartMenu::Play:
        show(levelSelect_);
        break;
    case MainMenuStartMenu::Leaderboards:
        show(leaderboards_, MainMenuLeaderboardMenu::gameCenterOpener());
        break;
    case MainMenuStartMenu::Credits:
        show(credits_);
        break;
    case MainMenuStartMenu::StartMenu:
        backToStart();
        break;
    default:
        break;
    }
}

void MainMenuViewController::update(Audio::Context& audio, float dt, float) {
    presentGameCenterLogin();
    if (!started_) {
        backToStart();
        audio.setMusicVolume(0.0f);
        std::string const track = std::string(kMusicTrack, std::char_traits<char>::length(kMusicTrack) - 4);
        audio.playMusic((track + musicExtension()).c_str(), true, false);
        fadeState_ = 1;
        fadeProgress_ = 0.0f;
        started_ = 1;
        if (overlay_) overlay_->show();
        return;
    }
    current_->update(dt);
    if (fadeState_ == 1) {
        if (fadeProgress_ >= 1.0f) fadeState_ = 2;
        fadeProgress_ = std::clamp(fadeProgress_ + fadeSpeed_ * dt, 0.0f, 1.0f);
    }
    musicVolume_ = fadeProgress_ * fadeTo_ + (1.0f - fadeProgress_) * fadeFrom_;
    audio.setMusicVolume(musicVolume_);
    if (overlay_) overlay_->update(!notice_.isActive(), dt);
    notice_.update(dt);
}

void MainMenuViewController::preDraw(Graphics::Context*) {
    if (!started_) return;
    current_->preDraw();
    if (overlay_) overlay_->preDraw();
    notice_.preDraw();
}

void MainMenuViewController::drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) {
    if (!started_) return;
    background_.draw(graphics);
    current_->draw(graphics, shader, projection_);
    if (overlay_) overlay_->draw(graphics, shader);
    notice_.draw(graphics, shader, projection_);
}

template <class Send>
void MainMenuViewController::route(Send&& send) {
    if (notice_.isActive()) return send(notice_);
    if (overlay_ && overlay_->isBlockingInput()) return send(*overlay_);
    if (current_) send(*current_);
}

void const* MainMenuViewController::inputTaker() const {
    if (notice_.isActive()) return notice_.inputTaker();
    if (overlay_ && overlay_->isBlockingInput()) return overlay_->inputTaker();
    // Before its first page is up it takes nothing: a press made meanwhile is for that page.
    return current_ ? current_->inputTaker() : nullptr;
}

void MainMenuViewController::touchBegan(glm::vec2 const& point, uint32_t touch) {
    if (started_) route([&](auto& to) { to.touchBegan(point, touch); });
}

void MainMenuViewController::touchMoved(glm::vec2 const& point, uint32_t touch) {
    if (started_) route([&](auto& to) { to.touchMoved(point, touch); });
}

void MainMenuViewController::touchEnded(glm::vec2 const& point, uint32_t touch) {
    if (started_) route([&](auto& to) { to.touchEnded(point, touch); });
}

void MainMenuViewController::buttonPressed(uint32_t code) {
    if (!started_) return;
    // Only the pause code answers a box; other codes always reach the page.
    if (code != buttonPause) return current_->buttonPressed(code);
    route([&](auto& to) { to.buttonPressed(code); });
}

void MainMenuViewController::gamepadInput(GamepadState const& state) {
    route([&](auto& to) { to.gamepadInput(state); });
}

void MainMenuViewController::scrollPageBack() {
    if (started_) current_->scrollPageBack();
}

void MainMenuViewController::scrollPageForward() {
    if (started_) current_->scrollPageForward();
}
