#pragma once
// Platform functions that read or reach the shell: video, analytics events, the rating prompt's
// event count, the state of the on-demand download, and whether a controller is connected.
#include <cstdint>
#include <functional>

// Plays the video at path full screen; onDone runs once when it ends, is skipped or cannot play.
void playVideo(char const* path, std::function<void()> onDone);
void skipVideo();

void logEvent(char const* name);
// controlScheme: 0 touch, 1 buttons, 2 gamepad.
void logLevelPlayed(char const* level, int controlScheme, bool hardcore, uint32_t deaths, int64_t score);
// Counts a significant event for the rating prompt.
void significantEvent(bool canPrompt);

// 0 downloading, 1 paused, 4 finished and mounted.
int downloadState();
// 0 none, 1 no network, 2 out of space.
int downloadPausedReason();
float downloadProgress();

bool isControllerPresent();

namespace shell_services {
// The video-done slot: set by playVideo, called once and cleared by the shell. Main thread.
std::function<void()>& videoDoneCallback();
// Written by the shell's download logic and frame loop.
void setDownloadState(int state);
void setDownloadPausedReason(int reason);
void setDownloadProgress(float progress);
void setControllerPresent(bool present);
}  // namespace shell_services
