#pragma once
// A game screen on a builder level, run the way the app frame runs it (dispatch, then update),
// without GL, with real fonts from the archive, a loopback sound context, recording callbacks and
// a clock and analytics log the test owns.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/tests/LoopbackDevice.h"
#include "fonts/Context.h"
#include "game/CutsceneServices.h"
#include "game/GameViewController.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "save/RoamingDataFile.h"
#include "testing/TestPaths.h"
#include "tools/datatool/LevelBuilder.h"

namespace cutscene_test {

inline testing_support::TempDir& documents() {
    static testing_support::TempDir dir;
    return dir;
}

// Flat ground with the player in the middle.
inline PristineLevel::Data flatLevel() {
    levels::LevelBuilder b;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 0.4f});
    return b.data();
}

struct Popup {
    std::string message, affirmative;
    std::function<void()> onAffirmative;
};

struct Screen {
    EventHandler events;
    audio_test::LoopbackContext audio;
    std::unique_ptr<Fonts::Context> fonts;
    std::vector<std::string> started, pauses;
    std::vector<boost::optional<std::string>> mainMenus;
    std::vector<Popup> popups;
    std::unique_ptr<GameViewController> game;
    float now = 1000.0f;
    static constexpr float frameMs = 1000.0f / 60.0f;

    Screen(PristineLevel::Data level, std::string const& path, bool skipTutorial = true,
           std::string const& locale = "en_US")
        : fonts(std::make_unique<Fonts::Context>(nullptr, "fonts/", locale)) {
        game = std::make_unique<GameViewController>(
            nullptr, &audio.context, fonts.get(), &events, path, "testName", nullptr,
            [](TriggerVariant const&, std::string const&, std::string const&) {},
            [this](std::string const& p, std::string const&) { pauses.push_back(p); },
            [this](ConfirmationBox::Parameters const& p) {
                popups.push_back(Popup{p.message, p.affirmative, p.onAffirmative});
            },
            false,
            [this](std::string const& p, std::string const& n, bool r, bool s, bool h) {
                started.push_back(p + " " + n + (r ? " restart" : "") + (s ? " skip" : "") + (h ? " hardcore" : ""));
            },
            std::move(level), skipTutorial,
            [this](boost::optional<std::string> const& video) { mainMenus.push_back(video); }, false);
    }
    void frame(float dt = frameMs) {
        events.dispatch();
        now += dt;
        game->update(audio.context, dt, now);
        audio.context.update(dt);
    }
    void frames(int n, float dt = frameMs) {
        for (int i = 0; i < n; ++i) frame(dt);
    }
    // Frames until done() holds, at most n; whether it held.
    bool until(std::function<bool()> const& done, int n = 2000) {
        for (int i = 0; i < n && !done(); ++i) frame();
        return done();
    }
    void tap(glm::vec2 p, uint32_t touch = 1) {
        game->touchBegan(p, touch);
        game->touchEnded(p, touch);
    }
};

// The test's clock and analytics log in place of the platform's; the platform's are back after.
class CutsceneTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        setenv("ZELV_DOCUMENTS_DIR", documents().path().c_str(), 1);
        platform_services::setScreenSizes(1280.0f, 720.0f, 1334.0f, 750.0f);
        Singleton<FileSystem>::instance().mount((testing_support::binaryDir() / "pak0.pak").string());
    }
    void SetUp() override {
        shell_services::setControllerPresent(false);
        setSubtitles(true);
        {
            RoamingDataFile file("roamingData");
            file.data.setControlScheme(0);
        }
        CutsceneServices& s = cutsceneServices();
        s.nowMs = [this] { return clock; };
        s.musicStartMs = [this] { return musicStart; };
        s.syncMusic = [this](uint64_t position, uint64_t tolerance) { syncs.emplace_back(position, tolerance); };
        s.logEvent = [this](char const* name) { log.emplace_back(name); };
        s.makeCredits = nullptr;
    }
    void TearDown() override { cutsceneServices() = CutsceneServices::platform(); }
    static void setSubtitles(bool on) {
        RoamingDataFile file("roamingData");
        file.data.setSubtitlesEnabled(on);
    }

    int64_t clock = 0, musicStart = 0;
    std::vector<std::pair<uint64_t, uint64_t>> syncs;
    std::vector<std::string> log;
};

}  // namespace cutscene_test
