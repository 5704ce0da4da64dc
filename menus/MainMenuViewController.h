#pragma once
// The main menu screen: owns every main-menu page at once (start page, level select, options,
// credits, leaderboards) and shows one, over the animated backdrop, with the menu music fading
// in; the download bar runs over it while the second archive is not mounted. A one-time notice
// tells the player that hardcore mode is unlocked. Levels start through the app frame's
// start-level callback; the screen never replaces itself.
#include <boost/optional.hpp>
#include <glm/mat4x4.hpp>

#include <cstdint>
#include <functional>
#include <string>

#include "menus/BackgroundDownloaderOverlay.h"
#include "menus/ConfirmationBox.h"
#include "menus/LevelSelectMenu.h"
#include "menus/MainMenuBackground.h"
#include "menus/MainMenuCreditsMenu.h"
#include "menus/MainMenuLeaderboardMenu.h"
#include "menus/MainMenuStartMenu.h"
#include "menus/OptionsMenu.h"
#include "os/ViewController.h"

class CloudSyncThread;

class MainMenuViewController : public ViewController {
public:
    using StartLevel = std::function<void(std::string const&, std::string const&, bool, bool, bool)>;
    // The menu track; its extension is replaced by the platform's music extension.
    static constexpr char const* kMusicTrack = "audio/music/Dravo_MusicTrack01.wav";

    MainMenuViewController(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                           StartLevel const& startLevel, CloudSyncThread* cloudSync);
    ~MainMenuViewController() override;
    MainMenuViewController(MainMenuViewController const&) = delete;
    MainMenuViewController& operator=(MainMenuViewController const&) = delete;

    void transit(MainMenuStartMenu::Choice choice);

    void drawOverlay(Graphics::Context* graphics, Graphics::StandardShader* shader) override;
    void preDraw(Graphics::Context* graphics) override;
    void update(Audio::Context& audio, float dt, float now) override;
    void touchMoved(glm::vec2 const& point, uint32_t touch) override;
    void touchBegan(glm::vec2 const& point, uint32_t touch) override;
    void touchEnded(glm::vec2 const& point, uint32_t touch) override;
    void buttonPressed(uint32_t code) override;
    void gamepadInput(GamepadState const& state) override;
    void const* inputTaker() const override;
    void scrollPageBack() override;
    void scrollPageForward() override;
    bool isAtRootMenu() override { return atRoot_ != 0; }

    bool started() const { return started_ != 0; }
    Menu* currentMenu() const { return current_; }
    MainMenuStartMenu& startMenu() { return startMenu_; }
    LevelSelectMenu& levelSelect() { return levelSelect_; }
    OptionsMenu& options() { return options_; }
    MainMenuCreditsMenu& credits() { return credits_; }
    MainMenuLeaderboardMenu& leaderboards() { return leaderboards_; }
    BackgroundDownloaderOverlay* downloadOverlay() { return overlay_ ? &*overlay_ : nullptr; }
    ConfirmationBox& notice() { return notice_; }
    MainMenuBackground& background() { return background_; }
    float musicVolume() const { return musicVolume_; }
    uint32_t musicFadeState() const { return fadeState_; }

private:
    // Makes the start page current again and asks for a cloud sync (options may have changed).
    void backToStart();
    // Makes the page current, from its start.
    template <class Page, class... Open>
    void show(Page& page, Open&&... open);
    // Sends input to the notice while it is up, else to the download bar while one of its boxes is,
    // else to the page.
    template <class Send>
    void route(Send&& send);

    MainMenuBackground background_;
    glm::mat4 projection_;
    StartLevel startLevel_;
    MainMenuCreditsMenu credits_;
    MainMenuLeaderboardMenu leaderboards_;
    LevelSelectMenu levelSelect_;
    OptionsMenu options_;
    Menu* current_ = nullptr;
    MainMenuStartMenu startMenu_;
    float fadeFrom_ = 0.0f, fadeTo_ = 1.0f, fadeSpeed_ = 0.001f;
    float musicVolume_ = 0.0f, fadeProgress_ = 0.0f;
    uint32_t fadeState_ = 0;  // 0 not started, 1 fading, 2 done
    CloudSyncThread* cloudSync_;
    uint32_t started_ = 0;
    ConfirmationBox notice_;
    // Declared last of the pages, so it goes first.
    boost::optional<BackgroundDownloaderOverlay> overlay_;
    uint8_t atRoot_ = 1;
};
