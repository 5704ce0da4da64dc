#include "os/services/PlatformServices.h"

#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/base/DeviceFacts.h"

namespace {

int64_t monotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// Taken on first use, which static initialisation below makes happen at process start; a
// static initialiser of another file that calls nowMs earlier still gets a valid start.
int64_t processStartMs() {
    static int64_t const start = monotonicMs();
    return start;
}
int64_t const takeStartNow = processStartMs();

// Virtual width and height, backing width and height, backing origin x and y.
std::atomic<float> screenSizes[6] = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};

bool envFlag(char const* name) {
    char const* v = std::getenv(name);
    return v && *v && std::strcmp(v, "0") != 0;
}

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

// The POSIX locale form ("pt_BR.UTF-8", "zh_TW") as one of the localizations the game ships
// ("pt", "zh-Hant"); empty for a language it does not ship, so that "kok_IN" (Konkani) is not
// taken for Korean nor "frr_DE" (North Frisian) for French.
std::string localizationOf(std::string_view posix) {
    std::string_view lang = posix.substr(0, posix.find_first_of(".@"));
    std::string_view const code = lang.substr(0, lang.find_first_of("_-"));
    if (code == "zh") {
        bool traditional = lang.find("TW") != std::string_view::npos || lang.find("HK") != std::string_view::npos ||
                           lang.find("MO") != std::string_view::npos || lang.find("Hant") != std::string_view::npos;
        return traditional ? "zh-Hant" : "zh-Hans";
    }
    for (char const* shipped : {"en", "de", "es", "fr", "it", "ja", "ko", "pt", "ru"})
        if (code == shipped) return shipped;
    return std::string();
}

// The frame clock's start (ms) and frame count; start < 0 while it is off.
std::atomic<int64_t> frameClockStart{-1};
std::atomic<int64_t> frameClockFrames{0};

}  // namespace

int64_t nowMs() {
    int64_t const start = frameClockStart.load(std::memory_order_acquire);
    if (start >= 0) return start + frameClockFrames.load(std::memory_order_acquire) * 1000 / 60;
    return monotonicMs() - processStartMs();
}

uint64_t graphicsBudget() { return 0x9000000; }

bool isLowEndDevice() {
    static char const* const models[] = {"iPhone3,1", "iPhone3,2", "iPhone3,3", "iPod5,1"};
    char const* model = platform_services::deviceModel();
    for (char const* m : models)
        if (std::strcmp(model, m) == 0) return true;
    return false;
}

bool isPad() { return envFlag("ZELV_TABLET"); }

float screenPPI() { return platform_services::ppiFor(platform_services::deviceModel(), int(backingWidth())); }

char const* preferredLocale() {
    static std::string const locale = platform_services::localeFromEnvironment();
    return locale.c_str();
}

float safeAreaScale() { return 0.9f; }
bool needsSafeAreaInsets() { return false; }
bool hasPlatformInput() { return false; }
bool hasTouchScreen() { return true; }
void vibrate() {}
void initPlatformAudio() {}
void downloadOverlayHook() {}
void allowCellularDownload(bool) {}

float virtualWidth() { return screenSizes[0].load(std::memory_order_relaxed); }
float virtualHeight() { return screenSizes[1].load(std::memory_order_relaxed); }
float backingWidth() { return screenSizes[2].load(std::memory_order_relaxed); }
float backingHeight() { return screenSizes[3].load(std::memory_order_relaxed); }
float backingOriginX() { return screenSizes[4].load(std::memory_order_relaxed); }
float backingOriginY() { return screenSizes[5].load(std::memory_order_relaxed); }

namespace platform_services {

void setScreenSizes(float virtualW, float virtualH, float backingW, float backingH) {
    screenSizes[0].store(virtualW, std::memory_order_relaxed);
    screenSizes[1].store(virtualH, std::memory_order_relaxed);
    screenSizes[2].store(backingW, std::memory_order_relaxed);
    screenSizes[3].store(backingH, std::memory_order_relaxed);
}

void setBackingOrigin(float x, float y) {
    screenSizes[4].store(x, std::memory_order_relaxed);
    screenSizes[5].store(y, std::memory_order_relaxed);
}

char const* deviceModel() {
    char const* v = std::getenv("ZELV_DEVICE_MODEL");
    if (v && *v) return v;
    static std::string const machine = platform::DeviceFacts::machine();
    return machine.c_str();
}

std::string localeFromEnvironment() {
    // As gettext: the LANGUAGE list first, else the first locale variable that is set.
    std::string list;
    for (char const* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
        char const* v = std::getenv(name);
        if (v && *v) {
            list = v;
            break;
        }
    }
    // The platform answers with its one best match among the shipped localizations: the first
    // entry of the user's list that the game ships. An English-first user gets English even when
    // other languages follow.
    size_t pos = 0;
    while (pos < list.size()) {
        size_t end = list.find(':', pos);
        if (end == std::string::npos) end = list.size();
        std::string const shipped = localizationOf(std::string_view(list).substr(pos, end - pos));
        if (!shipped.empty()) {
            char const* answer[] = {shipped.c_str()};
            return localeFor(answer, 1);
        }
        pos = end + 1;
    }
    return localeFor(nullptr, 0);
}

char const* localeFor(char const* const* entries, int count) {
    struct Mapping {
        char const* prefix;
        char const* locale;
    };
    static Mapping const mappings[] = {{"fr", "fr_FR"}, {"de", "de_DE"}, {"it", "it_IT"}, {"pt", "pt_BR"},
                                       {"es", "es_ES"}, {"ru", "ru_RU"}, {"ko", "ko_KR"}, {"ja", "ja_JP"},
                                       {"zh-Hans", "zh_CN"}, {"zh-Hant", "zh_TW"}};
    for (int i = 0; i < count; ++i) {
        if (!entries[i]) continue;
        for (Mapping const& m : mappings)
            if (startsWith(entries[i], m.prefix)) return m.locale;
    }
    return "en_US";
}

void useFrameClock() {
    if (frameClockStart.load() >= 0) return;
    frameClockFrames.store(0);
    frameClockStart.store(std::max<int64_t>(nowMs(), 0), std::memory_order_release);
}

bool usingFrameClock() { return frameClockStart.load(std::memory_order_acquire) >= 0; }

void advanceFrameClock() { frameClockFrames.fetch_add(1, std::memory_order_acq_rel); }

float ppiFor(char const* model, int width) {
    struct Row {
        float ppi;
        char const* models[24];
    };
    static Row const table[] = {
        {132, {"iPad1,1", "iPad2,1", "iPad2,2", "iPad2,3", "iPad2,4"}},
        {163, {"iPhone1,1", "iPhone1,2", "iPhone2,1", "iPad2,5", "iPad2,6", "iPad2,7", "iPod1,1", "iPod2,1", "iPod3,1"}},
        {264, {"iPad3,1", "iPad3,2", "iPad3,3", "iPad3,4", "iPad3,5", "iPad3,6", "iPad4,1", "iPad4,2", "iPad4,3"}},
        {326, {"iPhone3,1", "iPhone3,2", "iPhone3,3", "iPhone4,1", "iPhone5,1", "iPhone5,2", "iPhone5,3",
               "iPhone5,4", "iPhone6,1", "iPhone6,2", "iPad4,4", "iPad4,5", "iPad4,6", "iPad4,7", "iPad4,8",
               "iPad4,9", "iPad5,1", "iPad5,2", "iPod4,1", "iPod5,1", "iPod7,1"}},
    };
    if (model && *model)
        for (Row const& row : table)
            for (char const* m : row.models)
                if (m && std::strcmp(m, model) == 0) return row.ppi;
    switch (width) {
        case 2048: return 264;
        case 1024: return 132;
        case 2208: return 401;
        case 2732: return 264;
        default: return 326;  // 960, 1136, 1334 and anything unknown
    }
}

}  // namespace platform_services
