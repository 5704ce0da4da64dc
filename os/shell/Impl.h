#pragma once
// The real app frame: the engine's contexts and the platform hooks the frame calls.
#include <cstdint>
#include <string>

#include "audio/Context.h"
#include "fonts/Context.h"
#include "game/EndOfLevelViewController.h"
#include "game/PauseViewController.h"
#include "graphics/Context.h"
#include "graphics/PostProcessingStep.h"
#include "graphics/StandardShader.h"
#include "level/LevelCatalog.h"
#include "menus/ConfirmationBoxViewController.h"
#include "menus/GameServicesViewController.h"
#include "game/GameViewController.h"
#include "menus/LevelLoaderViewController.h"
#include "menus/MainMenuLoaderViewController.h"
#include "os/AbstractApp.h"
#include "os/FileSystem.h"
#include "os/services/ICloud.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/Directories.h"
#include "save/CloudSyncThread.h"
#include "save/RoamingDataFile.h"
#include "world/WorldConstants.h"

namespace os {

struct Impl {
    using AudioContext = Audio::Context;
    using GraphicsContext = Graphics::Context;
    using FontsContext = Fonts::Context;
    using PostProcessingStep = ::PostProcessingStep;
    using StandardShader = Graphics::StandardShader;
    using CloudSyncThread = ::CloudSyncThread;
    using LevelLoaderViewController = ::LevelLoaderViewController<GameViewController>;
    using MainMenuLoaderViewController = ::MainMenuLoaderViewController;
    using EndOfLevelViewController = ::EndOfLevelViewController;
    using PauseViewController = ::PauseViewController;
    using TriggerVariant = ::TriggerVariant;
    using ConfirmationBoxViewController = ::ConfirmationBoxViewController;
    using ConfirmationBoxParameters = ConfirmationBox::Parameters;
    using GameServicesViewController = ::GameServicesViewController;

    static uint64_t nowMs() { return uint64_t(::nowMs()); }
    // Start-up is when temp files of writes a kill interrupted are cleared away.
    static bool initICloud() {
        RoamingDataFile::removeStaleTempFiles();
        platform::removeStaleAtomicWriteTemps(platform::Directories::configHome() / "zelv", 0);
        return ::initICloud();
    }
    static void graphicsStartupHook() {}
    static uint64_t graphicsBudget() { return ::graphicsBudget(); }
    static bool isLowEndDevice() { return ::isLowEndDevice(); }
    static float worldViewWidth() { return ::worldViewWidth; }
    static float virtualWidth() { return ::virtualWidth(); }
    static float virtualHeight() { return ::virtualHeight(); }
    static float backingWidth() { return ::backingWidth(); }
    static float backingHeight() { return ::backingHeight(); }
    static bool fileExists(std::string const& path) { return Singleton<FileSystem>::instance().exists(path); }
    static void logEvent(char const* name) { ::logEvent(name); }
    static int downloadState() { return ::downloadState(); }
    static uint64_t levelCount() { return LevelCatalog::count(); }
    static LevelCatalog::Entry const& levelEntry(uint64_t index) { return LevelCatalog::entry(index); }
    // A level is unlocked once the save record has an entry for it. The accessor is closed at
    // once and writes nothing back, since nothing changed.
    static bool isLevelUnlocked(uint64_t index) {
        if (index > UINT32_MAX) return false;
        RoamingDataFile file("roamingData");
        return file.data.hasLevelEntry(static_cast<uint32_t>(index));
    }
};

using App = AbstractApp<Impl>;

}  // namespace os
