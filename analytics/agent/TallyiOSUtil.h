#pragma once
// Device, screen, bundle and application-state facts, from the platform's device facts and the
// profile the host sets.
#include <cstdint>
#include <optional>
#include <string>

#include "analytics/agent/TallyUtil.h"

class TallyiOSUtil {
public:
    static bool deviceInLandscape();
    static bool canvasInLandscapeRight();
    static bool canvasInLandscapeLeft();
    static bool canvasInPortraitUpsideDown();
    static bool canvasInLandscape();
    // With an orientation text, the text decides (ignoring case); without, the status bar.
    static bool canvasInLandscapeRight(std::optional<std::string> const& orientation);
    static bool canvasInLandscapeLeft(std::optional<std::string> const& orientation);
    static bool canvasInLandscape(std::optional<std::string> const& orientation);
    static std::string getCanvasOrientation();
    static int64_t userDeviceIdiom();  // -1 when unknown
    static uint16_t agentPlatform();   // 8 for a tablet, else 2
    static bool isIPad();
    static bool isRetina();
    static float screenSize();  // diagonal in inches
    static TallyRect screenBounds();
    static TallyRect screenBounds(std::optional<std::string> const& orientation);
    static std::optional<std::string> appShortVersion();
    static std::optional<std::string> appVersion();
    static std::string deviceBuild();
    static std::string deviceManufacturer() { return "Apple"; }
    static std::string deviceModel();
    static std::string partnerCode() { return ""; }
    // major * 10000 + minor * 100 + patch of the system version text, kept once computed.
    static int64_t getSystemVersionAsAnInteger();
    static int64_t systemVersionAsInteger(std::string const& text);
    static void resetSystemVersionCache();
    static std::optional<std::string> getIdentifierForVendor();
    static bool theAppIsActive();
    static bool isInBackground();
};
