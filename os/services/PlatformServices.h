#pragma once
// The engine's view of the platform: plain functions over the clock, device and screen facts
// and the few hooks the shell fills in. Several give fixed answers on this platform but stay
// functions because callers test them.
//
// Environment overrides (so tests and players can take the device-dependent paths):
//   ZELV_DEVICE_MODEL  hardware model identifier (e.g. "iPhone3,1" for a low-end phone)
//   ZELV_TABLET=1      the device reports the tablet idiom
//   ZELV_FIXED_STEP=1  the clock moves 1/60 s per frame, however long frames take (scripted runs)
#include <cstdint>
#include <string>

// The controller state that the frame loop hands to the current screen.
struct GamepadState {
    float dpadX = 0, dpadY = 0;  // -1..1
    uint8_t buttonY = 0, buttonA = 0, buttonX = 0, buttonB = 0;  // 1 while pressed
    float leftX = 0, leftY = 0, rightX = 0, rightY = 0;  // thumbsticks, -1..1
    // Keys down, one bit each (platform::KeyboardKey): a keyboard's state is its keys alone; what the
    // input's taker gets has the rest made from them too.
    uint32_t keys = 0;
};

// Milliseconds since process start on the monotonic clock (never jumps with the system time);
// on the frame clock, 1000/60 ms per frame since it was switched on.
int64_t nowMs();

// Texture budget of the graphics context in bytes (0x9000000).
uint64_t graphicsBudget();
// True on the oldest phones, which get smaller budgets and coarser effects.
bool isLowEndDevice();
// True when the device is a tablet.
bool isPad();
// Screen dots per inch, from the model table or else from the backing width.
float screenPPI();
// One of "en_US", "fr_FR", "de_DE", "it_IT", "pt_BR", "es_ES", "ru_RU", "ko_KR", "ja_JP",
// "zh_CN", "zh_TW", from the user's language settings. The pointer stays valid.
char const* preferredLocale();

float safeAreaScale();
bool needsSafeAreaInsets();
bool hasPlatformInput();
bool hasTouchScreen();
void vibrate();
// Called once by the audio context after its OpenAL context is current.
void initPlatformAudio();
void downloadOverlayHook();
void allowCellularDownload(bool allowed);

// Screen sizes fixed by the GL view at start-up (virtual: the resolution every screen draws in;
// backing: framebuffer pixels). Zero until the view has been set up.
float virtualWidth();
float virtualHeight();
float backingWidth();
float backingHeight();
// Where the backing picture's lower-left corner lies in the window's framebuffer (pixels): 0
// unless the picture is smaller than the window.
float backingOriginX();
float backingOriginY();

namespace platform_services {
// Set by the GL view once its framebuffer size is known; the getters above return these.
void setScreenSizes(float virtualW, float virtualH, float backingW, float backingH);
void setBackingOrigin(float x, float y);
// The hardware model identifier: ZELV_DEVICE_MODEL, else uname's machine field.
char const* deviceModel();
// The locale from LANGUAGE, else LC_ALL, LC_MESSAGES or LANG: that of the list's first entry the
// game ships, else en_US (read now; preferredLocale keeps the first answer for the life of the
// process).
std::string localeFromEnvironment();
// The locale for a list of language entries in preference order (e.g. {"en", "fr"} -> "fr_FR").
char const* localeFor(char const* const* entries, int count);
// Screen PPI for a model identifier and backing width.
float ppiFor(char const* model, int backingWidth);
// The frame clock: from now on nowMs() moves only by advanceFrameClock, one 1/60 s frame at a
// time, so a scripted run plays the same at any frame rate.
void useFrameClock();
bool usingFrameClock();
void advanceFrameClock();
}  // namespace platform_services
