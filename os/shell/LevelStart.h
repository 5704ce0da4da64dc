#pragma once
// Starting a level in the real app frame: the file (localized variant first) read and loaded,
// the game screen built with the frame's callbacks and its textures loaded. Until the menus
// bring their screens, the end of a level and the pause request only log.
#include <cstdio>
#include <memory>
#include <string>

#include "game/GameViewController.h"
#include "level/PristineLevel.h"

namespace os {

// Reads the level at path into level; false, with a log line, when it is missing or empty.
bool readLevelFile(std::string const& path, PristineLevel::Data& level);
// Loads every requested texture at once, giving up after a few seconds rather than hanging.
void waitForTextures(Graphics::Context& graphics);
// The line the end of a level logs until the results screen takes it.
std::string describeResult(TriggerVariant const& result);

// The game screen for the level at path, built with the frame's callbacks; null when the level
// cannot be read. The results and pause screens are logged as they are asked for.
template <class App, class RenderContexts>
std::unique_ptr<ViewController> makeGameScreen(App& app, RenderContexts& rc, TransitToEndOfLevelCallback const& endOfLevel,
                                               TriggerPauseMenuCallback const& pause,
                                               ShowConfirmationBoxCallback const& question,
                                               TransitToMainMenuCallback const& mainMenu, std::string const& path,
                                               std::string const& name, bool restart, bool skipTutorial, bool hardcore) {
    PristineLevel::Data level;
    if (!readLevelFile(path, level)) return nullptr;
    TransitToEndOfLevelCallback logged = [endOfLevel](TriggerVariant const& result, std::string const& p,
                                                      std::string const& n) {
        std::fprintf(stderr, "zelv: level ended: %s (%s)\n", describeResult(result).c_str(), p.c_str());
        endOfLevel(result, p, n);
    };
    TriggerPauseMenuCallback loggedPause = [pause](std::string const& p, std::string const& n) {
        std::fprintf(stderr, "zelv: pause requested (%s)\n", p.c_str());
        pause(p, n);
    };
    auto screen = std::make_unique<GameViewController>(
        &rc.graphics, &app.audio(), &rc.fonts, &app.events(), path, name, &rc.postProcessing, logged, loggedPause,
        question, restart, app.startLevelCallback(), std::move(level), skipTutorial, mainMenu, hardcore);
    waitForTextures(rc.graphics);
    return screen;
}

}  // namespace os
