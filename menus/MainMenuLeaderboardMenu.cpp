#include "menus/MainMenuLeaderboardMenu.h"

#include "fonts/Context.h"
#include "os/services/GameCenter.h"

namespace {
glm::vec2 const kCentre(0.0f);
}

MainMenuLeaderboardMenu::MainMenuLeaderboardMenu(Graphics::Context* graphics, Audio::Context* audio,
                                                 Fonts::Context* fonts, std::function<void()> const& back,
                                                 bool withSignInPopup)
    : back_(back) {
    if (withSignInPopup)
        box_.emplace(graphics, audio, fonts,
                     ConfirmationBox::Parameters{kCentre, fonts->localizedString("gameCenterPopup"),
                                                 fonts->localizedString("popupAffirmative"), boost::none,
                                                 [this] { leaveOrCallBack(); }, {}, true});
    onClose_ = [this](bool shown) {
        if (!shown && box_) {
            box_->show();
            return;
        }
        if (shown) {
            leaveOrCallBack();
            return;
        }
        back_();
    };
}

// Leaves once the box has closed when it is up, else at once.
void MainMenuLeaderboardMenu::leaveOrCallBack() {
    if (box_ && box_->isActive()) {
        state_ = 1;
        box_->close();
        return;
    }
    back_();
}

MainMenuLeaderboardMenu::Opener MainMenuLeaderboardMenu::gameCenterOpener() {
    return [](CloseCallback const& onClose) { presentGameCenter(onClose); };
}

void MainMenuLeaderboardMenu::open(Opener const& opener) {
    state_ = 0;
    opener(onClose_);
}

void MainMenuLeaderboardMenu::update(float dt) {
    if (state_ == 1 && box_ && !box_->isActive()) {
        // Once: a later visit waits for its own close. The closed box has nothing left to
        // update, and the owner may act on the menu from its callback, so this is the last step.
        state_ = 0;
        back_();
        return;
    }
    if (box_) box_->update(dt);
}

void MainMenuLeaderboardMenu::draw(Graphics::Context* graphics, Graphics::StandardShader* shader,
                                   glm::mat4 const& projection) {
    if (box_) box_->draw(graphics, shader, projection);
}

void MainMenuLeaderboardMenu::preDraw() {
    if (box_) box_->preDraw();
}

void MainMenuLeaderboardMenu::touchMoved(glm::vec2 const& point, unsigned touch) {
    if (box_ && box_->isActive()) box_->touchMoved(point, touch);
}
void MainMenuLeaderboardMenu::touchBegan(glm::vec2 const& point, unsigned touch) {
    if (box_ && box_->isActive()) box_->touchBegan(point, touch);
}
void MainMenuLeaderboardMenu::touchEnded(glm::vec2 const& point, unsigned touch) {
    if (box_ && box_->isActive()) box_->touchEnded(point, touch);
}
void MainMenuLeaderboardMenu::gamepadInput(GamepadState const& state) {
    if (box_ && box_->isActive()) box_->gamepadInput(state);
}
