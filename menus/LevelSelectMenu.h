#pragma once
// The level select: one page per act side by side under a paging scroller, page dots, a back
// button, and pop-ups for a locked bonus level, the tutorial question and content still being
// downloaded. The save record is read every frame while shown, so merged progress appears.
#include <boost/optional.hpp>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/Sound.h"
#include "graphics/Scroller.h"
#include "graphics/SlideTransition.h"
#include "graphics/TwoStateSprite.h"
#include "menus/AnimatedButton.h"
#include "menus/ConfirmationBox.h"
#include "menus/FocusNavigator.h"
#include "menus/LevelSelectPage.h"
#include "menus/Menu.h"
#include "save/RoamingData.h"

class LevelSelectMenu : public Menu {
public:
    using StartLevel = std::function<void(std::string const&, std::string const&, bool, bool, bool)>;
    // A slide record: from, to, rate per ms, two ramp thresholds, current offset, value 0..1,
    // running (0 idle, 1 running, 2 finished).
    struct Slide {
        float from = 0, to = 0, rate = 0, threshold1 = 0, threshold2 = 0, current = 0, value = 0;
        uint32_t running = 0;
    };

    LevelSelectMenu(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                    std::function<void()> const& back, StartLevel const& startLevel,
                    boost::optional<unsigned long> const& selectedLevel);
    LevelSelectMenu(LevelSelectMenu const&) = delete;
    LevelSelectMenu& operator=(LevelSelectMenu const&) = delete;

    void open() { state_ = 1; }
    void reset();
    bool loadLevel(std::string const& path, std::string const& name);

    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) override;
    void update(float dt) override;
    void preDraw() override;
    void touchMoved(glm::vec2 const& point, unsigned touch) override;
    void touchBegan(glm::vec2 const& point, unsigned touch) override;
    void touchEnded(glm::vec2 const& point, unsigned touch) override;
    void scrollPageBack() override { scroller_.scrollBackward(); }
    void scrollPageForward() override { scroller_.scrollForward(); }
    void gamepadInput(GamepadState const& state) override;
    void const* inputTaker() const override;
    void buttonPressed(unsigned code) override;

    uint32_t state() const { return state_; }
    std::vector<LevelSelectPage>& pages() { return pages_; }
    Scroller& scroller() { return scroller_; }
    FocusNavigator& focus() { return *focus_; }
    ConfirmationBox& bonusHintBox() { return *bonusHintBox_; }
    ConfirmationBox& tutorialBox() { return *tutorialBox_; }
    ConfirmationBox& downloaderBox() { return *downloaderBox_; }
    std::vector<TwoStateSprite> const& pageIndicators() const { return pageIndicators_; }
    AnimatedButton& backButton() { return backButton_; }
    // The tile behind focus node i.
    LevelTileButton* focusTile(uint64_t node);

private:
    template <class F>
    bool toActivePopUp(F&& f, bool bonusFirst = false);
    bool backAction();
    void slideOut();
    void refresh(float dt);
    void rebuildPages();
    void buildFocus();
    void scrollToHighlighted();
    void closePopUps();

    Sound slideInSound_;
    Sound slideOutSound_;
    std::function<void()> back_;
    AnimatedButton backButton_;
    Slide slide_;
    Slide indicatorDrop_;
    uint32_t state_ = 0;
    std::unique_ptr<ConfirmationBox> bonusHintBox_, tutorialBox_, downloaderBox_;
    std::function<bool(std::string const&, std::string const&)> onLevelChosen_;
    std::function<void()> showBonusHint_;
    RoamingData savedProgress_{false};
    boost::optional<unsigned long> selectedLevel_;
    Graphics::Context* graphics_;
    Audio::Context* audio_;
    Fonts::Context* fonts_;
    std::vector<LevelSelectPage> pages_;
    std::vector<TwoStateSprite> pageIndicators_;
    StartLevel startLevel_;
    Scroller scroller_;
    std::unique_ptr<FocusNavigator> focus_;
    std::vector<LevelTileButton*> focusTiles_;
};
