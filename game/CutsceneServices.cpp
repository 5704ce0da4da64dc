#include "game/CutsceneServices.h"

#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"

CutsceneServices CutsceneServices::platform() {
    CutsceneServices s;
    s.nowMs = [] { return ::nowMs(); };
    s.musicStartMs = [] { return ::musicStartMs(); };
    s.syncMusic = [](uint64_t position, uint64_t tolerance) { ::syncMusic(position, tolerance); };
    s.logEvent = [](char const* name) { ::logEvent(name); };
    return s;
}

CutsceneServices& cutsceneServices() {
    static CutsceneServices services = CutsceneServices::platform();
    return services;
}
