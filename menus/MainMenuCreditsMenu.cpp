#include "menus/MainMenuCreditsMenu.h"

#include "os/ViewController.h"

MainMenuCreditsMenu::MainMenuCreditsMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                         std::function<void()> const& back)
    : credits_(graphics, audio, fonts, back, glm::vec4(1.0f), 2, 1.0f) {}

void MainMenuCreditsMenu::skipWhileScrolling() {
    if (credits_.state() == Credits::kScrolling) credits_.skip();
}

void MainMenuCreditsMenu::touchEnded(glm::vec2 const&, unsigned) { skipWhileScrolling(); }

void MainMenuCreditsMenu::gamepadInput(GamepadState const& state) {
    if (state.buttonA) skipWhileScrolling();
}

void MainMenuCreditsMenu::buttonPressed(unsigned code) {
    if (code == ViewController::buttonPause) skipWhileScrolling();
}
