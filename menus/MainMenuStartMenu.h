#pragma once
// The root of the main menu: a logo and the play, options, leaderboards, credits and hardcore
// buttons. A choice is reported after the closing animation; hardcore starts a run at once. The
// hardcore button appears once the last level has a best result and the download is mounted.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fonts/TextMesh.h"
#include "menus/AnimatedButton.h"
#include "menus/FocusNavigator.h"
#include "menus/Menu.h"
#include "menus/PopInSprite.h"

namespace Fonts {
class Context;
}

class MainMenuStartMenu : public Menu {
public:
    enum Choice : uint32_t { None = 0, Options = 1, Play = 2, Leaderboards = 3, Credits = 4, StartMenu = 5 };
    using StartLevel = std::function<void(std::string const&, std::string const&, bool, bool, bool)>;

    MainMenuStartMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                      std::function<void(Choice)> const& onChoice, StartLevel const& startLevel);

    void open();
    uint32_t state() const { return state_; }
    bool isHardcoreUnlocked() const { return hardcoreUnlocked_ != 0; }
    FocusNavigator& focus() { return *focus_; }
    // options, leaderboards, play, credits, hardcore
    AnimatedButton& button(size_t index) { return buttons_[index]; }

    static TextureDescriptor const& logoFor(std::string const& locale);
    // The last level has a best result and the download is mounted. Own accessor.
    static bool hardcoreUnlockedNow();

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) override;
    void update(float dt) override;
    void preDraw() override;
    void touchMoved(glm::vec2 const& point, unsigned touch) override;
    void touchBegan(glm::vec2 const& point, unsigned touch) override;
    void touchEnded(glm::vec2 const& point, unsigned touch) override;
    void scrollPageBack() override {}
    void scrollPageForward() override {}
    void gamepadInput(GamepadState const& state) override;
    // Nothing until the buttons are all in.
    void const* inputTaker() const override { return state_ == 4 ? this : nullptr; }
    void buttonPressed(unsigned) override {}

private:
    size_t presentCount() const { return hardcoreUnlocked_ ? 5 : 4; }
    bool choose(Choice choice);
    void rebuildFocus();
    bool allPresent(bool shown) const;
    // Whether the save file or the download state changed since the last look (the save is
    // read again only then).
    bool unlockInputsChanged();

    PopInSprite logo_;
    uint32_t state_ = 0;
    Choice pending_ = None;
    float timer_ = 0.0f;
    std::vector<AnimatedButton> buttons_;
    Fonts::TextMesh label_;
    uint8_t hardcoreUnlocked_ = 0;
    std::string saveSeen_;
    int downloadSeen_ = -1;
    StartLevel startLevel_;
    std::function<void(Choice)> onChoice_;
    Audio::Context* audio_;
    boost::optional<FocusNavigator> focus_;
    uint8_t signedIn_ = 0;
};
