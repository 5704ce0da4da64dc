// The device probes and stored flags of TallyUtil, and the process samplers.
#include <algorithm>
#include <atomic>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyKeychainWrapper.h"
#include "analytics/agent/TallyUtil.h"
#include "platform/base/DeviceFacts.h"

namespace {

char const* const kOptOutKey = "TallyUserOptOut";

std::shared_ptr<TallyKeychainWrapper> analyticsKeychain() {
    return TallyKeychainWrapper::keychainWrapperWithIdentifier(TallyKeychainWrapper::kAnalyticsIdentifier);
}

uint64_t memoryField(uint64_t platform::MemoryCounts::*field) {
    auto m = platform::DeviceFacts::memory();
    if (!m) {
        TallyUtil::log(2, "Failed to fetch vm statistics");
        return 0;  // the session adds the four up; zero keeps that sum meaningful
    }
    return (*m).*field;
}

}  // namespace

std::string TallyUtil::devicePlatform() { return platform::DeviceFacts::machine(); }

TallyRect TallyUtil::deviceScreenBounds() {
    platform::DeviceProfile const p = platform::DeviceFacts::profile();
    if (p.screenWidth <= 0 && p.screenHeight <= 0) return {};
    return {0, 0, std::min(p.screenWidth, p.screenHeight), std::max(p.screenWidth, p.screenHeight)};
}

uint64_t TallyUtil::getFreeDiskspace() {
    auto d = platform::DeviceFacts::disk();
    if (!d) {
        log(2, "Error Obtaining System Memory Info: Domain = NSPOSIXErrorDomain, Code = 2");
        return 0;
    }
    return d->second;
}

uint64_t TallyUtil::getDiskSize() {
    auto d = platform::DeviceFacts::disk();
    if (!d) {
        log(2, "Error Obtaining System Memory Info: Domain = NSPOSIXErrorDomain, Code = 2");
        return 0;
    }
    return d->first;
}

int64_t TallyUtil::lastBootTime() {
    auto t = platform::DeviceFacts::bootTime();
    if (!t) {
        log(2, "Failed to get last boot time");
        return 0;
    }
    return *t;
}

// There is no advertising service on the desktop: no identifier, and tracking reads as allowed.
std::optional<std::string> TallyUtil::getTallyId() {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    return std::nullopt;
}

bool TallyUtil::isAdTrackingEnabled() { return true; }

Data TallyUtil::getFixedSalt() {
    // Three pieces, put together at run time so the salt is not one string in the binary.
    static uint8_t const a[5] = {'z', '7', 'Q', 'k', '2'};
    static uint8_t const b[5] = {'v', 'N', '4', 'e', 'X'};
    static uint8_t const c[5] = {'p', '9', 'L', 'w', 'T'};
    Data salt;
    salt.insert(salt.end(), a, a + 5);
    salt.insert(salt.end(), b, b + 5);
    salt.insert(salt.end(), c, c + 5);
    return salt;
}

void TallyUtil::cleanupStoredIdentifierForVendor() {
    if (auto k = analyticsKeychain()) k->removeObjectForKey("TallyDataKey");
}

void TallyUtil::setTallyOptOut(bool optOut) {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    if (auto k = analyticsKeychain()) k->setObject(Value(optOut), kOptOutKey);
}

bool TallyUtil::hasUserOptedOut() {
    std::lock_guard<std::recursive_mutex> lock(classLock());
    auto k = analyticsKeychain();
    if (!k) return false;
    auto v = k->objectForKey(kOptOutKey);
    return v ? v->toBool().value_or(false) : false;
}

bool TallyUtil::updateIfChangedCookieValue(Data const* value, std::string const& key) {
    bool changed = false;
    TallyGlobalPersistentManager::sharedInstance()->processWriteOperationForPersistentCookiesMapSync(
        [&](Value::Dict& cookies) {
            if (!value || value->empty()) {
                cookies.erase(key);
                changed = true;
                return;
            }
            auto it = cookies.find(key);
            if (it != cookies.end()) {
                Data const* stored = it->second.data();
                if (stored && *stored == *value) return;
                it->second = Value(*value);
                changed = true;
            } else if (cookies.size() < kMaxCookies) {
                cookies[key] = Value(*value);
                changed = true;
            }
        });
    return changed;
}

float cpuUsagePercent() { return platform::DeviceFacts::cpuUsagePercent(); }
uint64_t wiredMemoryBytes() { return memoryField(&platform::MemoryCounts::wiredBytes); }
uint64_t activeMemoryBytes() { return memoryField(&platform::MemoryCounts::activeBytes); }
uint64_t inactiveMemoryBytes() { return memoryField(&platform::MemoryCounts::inactiveBytes); }
uint64_t freeMemoryBytes() { return memoryField(&platform::MemoryCounts::freeBytes); }
