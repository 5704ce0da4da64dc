#pragma once
// An app frame on the real contexts (graphics, fonts, post-processing, sound) with the real
// question-box screen, a frame clock the caller steps and no cloud sync or platform state.
// The scene renders at the GL target's size; the layout stays the 1280 x 720 logical screen.
#include <cstdint>
#include <string>

#include "audio/Context.h"
#include "fonts/Context.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/StandardShader.h"
#include "menus/ConfirmationBoxViewController.h"
#include "os/AbstractApp.h"

namespace menus_test {

struct Sync {
    void suspend() {}
    void resume() {}
    void send(int) {}
};

struct LevelEntry {
    std::string path, nameKey;
};

// The real contexts and the real question-box screen; the clock is the test's.
struct RealContextsImpl {
    using AudioContext = Audio::Context;
    using GraphicsContext = Graphics::Context;
    using FontsContext = Fonts::Context;
    using PostProcessingStep = ::PostProcessingStep;
    using StandardShader = Graphics::StandardShader;
    using CloudSyncThread = Sync;
    using LevelLoaderViewController = os::Pending;
    using MainMenuLoaderViewController = os::Pending;
    using EndOfLevelViewController = os::Pending;
    using PauseViewController = os::Pending;
    using ConfirmationBoxViewController = ::ConfirmationBoxViewController;
    using TriggerVariant = os::Pending;
    using ConfirmationBoxParameters = ConfirmationBox::Parameters;

    static inline uint64_t clock = 1000;
    static inline int sceneWidth = 320, sceneHeight = 180;
    static uint64_t nowMs() { return clock; }
    static bool initICloud() { return false; }
    static void graphicsStartupHook() {}
    static uint64_t graphicsBudget() { return 1 << 30; }
    static bool isLowEndDevice() { return false; }
    static float worldViewWidth() { return 1280.0f / 85.0f; }
    // The scene is rendered at the target's size (the layout stays 1280 x 720): tests use a
    // quarter of the pixels to keep the frames quick on the software renderer.
    static float virtualWidth() { return float(sceneWidth); }
    static float virtualHeight() { return float(sceneHeight); }
    static float backingWidth() { return float(sceneWidth); }
    static float backingHeight() { return float(sceneHeight); }
    static bool fileExists(std::string const&) { return false; }
    static void logEvent(char const*) {}
    static int downloadState() { return 0; }
    static uint64_t levelCount() { return 0; }
    static LevelEntry const& levelEntry(uint64_t) {
        static LevelEntry const none;
        return none;
    }
    static bool isLevelUnlocked(uint64_t) { return false; }
};
}  // namespace menus_test
