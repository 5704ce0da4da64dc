#include "analytics/agent/TallyiOSUtil.h"

#include <cmath>
#include <cstdlib>
#include <mutex>
#include <strings.h>

#include "platform/base/DeviceFacts.h"

using platform::DeviceFacts;

namespace {

std::mutex& classLock() {
    static std::mutex m;
    return m;
}
int64_t gSystemVersion = 0;

bool equalsIgnoringCase(std::string const& a, char const* b) { return ::strcasecmp(a.c_str(), b) == 0; }

std::optional<std::string> bundleString(char const* key) {
    Value::Dict const info = DeviceFacts::bundleInfo();
    auto it = info.find(key);
    if (it == info.end() || !it->second.string()) return std::nullopt;
    return *it->second.string();
}

TallyRect boundsFor(bool landscape) {
    TallyRect const b = TallyUtil::deviceScreenBounds();
    double const h = b.height + 0.1;
    return landscape ? TallyRect{0, 0, h, b.width} : TallyRect{0, 0, b.width, h};
}

}  // namespace

bool TallyiOSUtil::deviceInLandscape() {
    int const o = DeviceFacts::profile().deviceOrientation;
    return o == 3 || o == 4;
}
bool TallyiOSUtil::canvasInLandscapeRight() { return DeviceFacts::profile().statusBarOrientation == 3; }
bool TallyiOSUtil::canvasInLandscapeLeft() { return DeviceFacts::profile().statusBarOrientation == 4; }
bool TallyiOSUtil::canvasInPortraitUpsideDown() { return DeviceFacts::profile().statusBarOrientation == 2; }
bool TallyiOSUtil::canvasInLandscape() { return canvasInLandscapeRight() || canvasInLandscapeLeft(); }

bool TallyiOSUtil::canvasInLandscapeRight(std::optional<std::string> const& o) {
    return o ? equalsIgnoringCase(*o, "landscapeRight") : canvasInLandscapeRight();
}
bool TallyiOSUtil::canvasInLandscapeLeft(std::optional<std::string> const& o) {
    return o ? equalsIgnoringCase(*o, "landscapeLeft") : canvasInLandscapeLeft();
}
bool TallyiOSUtil::canvasInLandscape(std::optional<std::string> const& o) {
    return o ? canvasInLandscapeRight(o) || canvasInLandscapeLeft(o) : canvasInLandscape();
}

std::string TallyiOSUtil::getCanvasOrientation() {
    if (canvasInLandscapeRight()) return "landscapeRight";
    if (canvasInLandscapeLeft()) return "landscapeLeft";
    if (canvasInPortraitUpsideDown()) return "portraitUpsideDown";
    return "portrait";
}

int64_t TallyiOSUtil::userDeviceIdiom() { return DeviceFacts::profile().idiom.value_or(-1); }
uint16_t TallyiOSUtil::agentPlatform() { return userDeviceIdiom() == 1 ? 8 : 2; }
bool TallyiOSUtil::isIPad() { return userDeviceIdiom() == 1; }
bool TallyiOSUtil::isRetina() { return DeviceFacts::profile().screenScale == 2.0; }

float TallyiOSUtil::screenSize() {
    platform::DeviceProfile const p = DeviceFacts::profile();
    float const s = static_cast<float>(p.screenScale);
    float ppi = (p.idiom && *p.idiom == 1) ? 132.0f : 163.0f;
    ppi *= s;
    float const w = s * static_cast<float>(p.screenWidth);
    float const h = s * static_cast<float>(p.screenHeight);
    double const a = double(w) / double(ppi), b = double(h) / double(ppi);
    return static_cast<float>(std::sqrt(a * a + b * b));
}

TallyRect TallyiOSUtil::screenBounds() { return boundsFor(deviceInLandscape()); }
TallyRect TallyiOSUtil::screenBounds(std::optional<std::string> const& o) {
    return o ? boundsFor(canvasInLandscape(o)) : screenBounds();
}

std::optional<std::string> TallyiOSUtil::appShortVersion() { return bundleString("CFBundleShortVersionString"); }
std::optional<std::string> TallyiOSUtil::appVersion() { return bundleString("CFBundleVersion"); }
std::string TallyiOSUtil::deviceBuild() { return DeviceFacts::systemVersion(); }
std::string TallyiOSUtil::deviceModel() { return DeviceFacts::machine(); }

int64_t TallyiOSUtil::systemVersionAsInteger(std::string const& text) {
    int64_t sum = 0;
    size_t start = 0;
    for (int index = 0; index < 3 && start <= text.size(); ++index) {
        size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        // A part counts by its leading integer, as the phone reads "0-18-amd64": 0.
        std::string const part = text.substr(start, end - start);
        long long const v = std::strtoll(part.c_str(), nullptr, 10);
        int64_t const weight = index == 0 ? 10000 : index == 1 ? 100 : 1;
        if (v > 1000000000000LL || v < -1000000000000LL) return sum;  // no real version is this long
        sum += v * weight;
        if (end == text.size()) break;
        start = end + 1;
    }
    return sum;
}

int64_t TallyiOSUtil::getSystemVersionAsAnInteger() {
    std::lock_guard<std::mutex> lock(classLock());
    if (gSystemVersion != 0) return gSystemVersion;
    gSystemVersion = systemVersionAsInteger(DeviceFacts::systemVersion());
    return gSystemVersion;
}

void TallyiOSUtil::resetSystemVersionCache() {
    std::lock_guard<std::mutex> lock(classLock());
    gSystemVersion = 0;
}

std::optional<std::string> TallyiOSUtil::getIdentifierForVendor() { return DeviceFacts::vendorIdentifier(); }

bool TallyiOSUtil::theAppIsActive() {
    auto const state = DeviceFacts::profile().applicationState;
    if (!state || *state == 0) return true;
    TallyUtil::log(2, "TallySession: The App is not active");
    return false;
}

bool TallyiOSUtil::isInBackground() { return DeviceFacts::profile().applicationState == 2; }
