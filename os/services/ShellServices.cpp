#include "os/services/ShellServices.h"

#include <atomic>
#include <string>

#include "analytics/agent/Tally.h"
#include "os/services/ShellBridge.h"

namespace {
std::atomic<int> state{0};
std::atomic<int> pausedReason{0};
std::atomic<float> progress{0.0f};
std::atomic<bool> controllerPresent{false};

// Event names are ASCII: anything else is replaced rather than passed on.
std::string ascii(char const* text) {
    std::string s = text ? text : "";
    for (char& c : s)
        if (static_cast<unsigned char>(c) > 0x7f) c = '?';
    return s;
}
}  // namespace

void playVideo(char const* path, std::function<void()> onDone) {
    shell_services::videoDoneCallback() = std::move(onDone);
    ShellBridge* shell = ShellBridge::get();
    if (shell && path) {
        shell->playVideo(path);
        return;
    }
    // Nobody to play it: the video is over at once.
    auto done = std::move(shell_services::videoDoneCallback());
    shell_services::videoDoneCallback() = nullptr;
    if (done) done();
}

void skipVideo() {
    if (ShellBridge* shell = ShellBridge::get()) shell->skipVideo();
}

void logEvent(char const* name) {
    if (!name) return;
    Tally::logEvent(ascii(name).c_str());
}

void logLevelPlayed(char const* level, int controlScheme, bool hardcore, uint32_t deaths, int64_t score) {
    char const* scheme = controlScheme == 0   ? "touch"
                         : controlScheme == 1 ? "buttons"
                         : controlScheme == 2 ? "gamepad"
                                              : "unknown";
    Tally::Parameters p;
    p["level"] = ascii(level);
    p["controlScheme"] = std::string(scheme);
    p["hardcore"] = hardcore;
    p["deaths"] = uint64_t(deaths);
    p["score"] = score;
    Tally::logEvent("LEVELPLAYED", p);
}

void significantEvent(bool canPrompt) {
    if (ShellBridge* shell = ShellBridge::get()) shell->significantEvent(canPrompt);
}

int downloadState() { return state.load(); }
int downloadPausedReason() { return pausedReason.load(); }
float downloadProgress() { return progress.load(); }
bool isControllerPresent() { return controllerPresent.load(); }

namespace shell_services {
std::function<void()>& videoDoneCallback() {
    static std::function<void()> slot;
    return slot;
}
void setDownloadState(int s) { state.store(s); }
void setDownloadPausedReason(int r) { pausedReason.store(r); }
void setDownloadProgress(float p) { progress.store(p); }
void setControllerPresent(bool present) { controllerPresent.store(present); }
}  // namespace shell_services
