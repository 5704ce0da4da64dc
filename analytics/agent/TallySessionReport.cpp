// The binary report: one block per session, and the request body that wraps blocks with the
// device and app header, the cookies and a CRC-32.
#include <algorithm>
#include <cmath>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallySession.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "analytics/delivery/TallyProtocolData.h"
#include "analytics/delivery/TallyTransaction.h"
#include "platform/base/DeviceFacts.h"

namespace {

using P = TallyProtocolData;
constexpr size_t kMaxCount = 65535;

std::shared_ptr<TallyGlobalVariableStorage> settings() { return TallyGlobalVariableStorage::sharedInstance(); }

// Counted lists are written with a u16 count: at most that many entries go in.
uint16_t capped(size_t n) { return static_cast<uint16_t>(std::min(n, kMaxCount)); }

std::string textOf(Value const& v) {
    if (auto const* s = v.string()) return *s;
    return TallyEvent::descriptionOf(v);
}

std::string saltedMd5(std::string const& text) {
    Data const salt = TallyUtil::getFixedSalt();
    return TallyUtil::md5String(text + std::string(salt.begin(), salt.end()));
}

}  // namespace

uint8_t TallySession::updateIfTrackedAndChangedPropertyValue(std::string const& value, std::string const& key) {
    static char const* const tracked[] = {"device.locale", "default.timezone", "boot.time", "device.model.1",
                                          "device.os.version", "scr.width", "scr.height"};
    if (std::none_of(std::begin(tracked), std::end(tracked), [&](char const* t) { return key == t; })) return 0;
    std::string const entry = saltedMd5(key), content = saltedMd5(value);
    auto maps = TallyGlobalPersistentManager::sharedInstance();
    bool same = false;
    maps->processReadOperationForPersistentGlobalsMapSync([&](Value::Dict const& map) {
        auto it = map.find(entry);
        same = it != map.end() && it->second.string() && *it->second.string() == content;
    });
    if (same) return 2;
    // A later sync read waits for this write, so the next report sees the value.
    maps->processWriteOperationForPersistentGlobalsMap([entry, content](Value::Dict& map) { map[entry] = Value(content); });
    return 1;
}

std::optional<Data> TallySession::data() {
    Data d;
    auto s = settings();
    P::appendUshort(static_cast<uint16_t>(serializationVersion_), d);
    P::appendString(appVersion_.value_or(""), d);
    P::appendTimestamp(startTime().secondsSince1970, d);
    P::appendLong(sessionLength(), d);
    P::appendLong(totalPauseIntervalMillis_, d);
    backgroundSessionEnabled_ = s->backgroundSessionEnabled();
    P::appendBoolean(backgroundSessionEnabled_, d);
    appApplicationState_ = s->appApplicationState();
    P::appendByte(static_cast<int8_t>(appApplicationState_), d);
    hasSessionOriginName_ = s->hasSessionOriginName();
    P::appendBoolean(hasSessionOriginName_, d);
    if (hasSessionOriginName_) {
        sessionOriginName_ = s->sessionOriginName();
        P::appendString(sessionOriginName_.value_or(""), d);
    }
    hasDeepLinkName_ = s->hasDeepLinkName();
    P::appendBoolean(hasDeepLinkName_, d);
    if (hasDeepLinkName_) {
        deepLinkName_ = s->deepLinkName();
        P::appendString(deepLinkName_.value_or(""), d);
    }
    if (auto props = s->sessionParameters(); props && !props->empty()) sessionPropertyParams_ = *props;
    P::appendUshort(capped(sessionPropertyParams_.size()), d);
    size_t n = 0;
    for (auto const& [k, v] : sessionPropertyParams_) {
        if (n++ == kMaxCount) break;
        P::appendString(k, d);
        P::appendString(textOf(v), d);
    }
    sessionParams_["device.locale"] = Value(locale_);
    sessionParams_["default.timezone"] = Value(timeZone_);
    P::appendUshort(capped(sessionParams_.size()), d);
    n = 0;
    for (auto const& [k, v] : sessionParams_) {
        if (n++ == kMaxCount) break;
        std::string const value = textOf(v);
        P::appendString(k, d);
        P::appendString(value, d);
        P::appendByte(static_cast<int8_t>(updateIfTrackedAndChangedPropertyValue(value, k)), d);
    }
    P::appendString(locale_, d);
    P::appendString(timeZone_, d);
    P::appendByte(static_cast<int8_t>(TallyNetworkUtil::networkStatus()), d);
    P::appendByte(TallyUtil::canvasInLandscape() ? 2 : 1, d);
    P::appendString(userID(), d);
    P::appendBoolean(true, d);
    P::appendDouble(latitude_, d);
    P::appendDouble(longitude_, d);
    P::appendFloat(accuracy_, d);
    P::appendBoolean(truncated_, d);
    P::appendInt(pageViewCount_, d);
    // Device status: the battery state, and whether the report went out from the background.
    P::appendByte(static_cast<int8_t>(getBatteryState()), d);
    P::appendByte(TallyUtil::isInBackground() ? 1 : 0, d);
    P::appendByte(static_cast<int8_t>(gender_), d);
    P::appendBoolean(age_.has_value(), d);
    if (age_) P::appendTimestamp(age_->secondsSince1970, d);
    P::appendUshort(capped(eventCounts_.size()), d);
    n = 0;
    for (auto const& [name, count] : eventCounts_) {
        if (n++ == kMaxCount) break;
        P::appendString(name, d);
        P::appendInt(count, d);
    }
    std::optional<double> const start = startTime().secondsSince1970;
    P::appendUshort(capped(eventLog_.size()), d);
    size_t transactions = 0;
    n = 0;
    for (auto const& e : eventLog_) {
        if (n++ == kMaxCount) break;
        Data const bytes = e->dataRelativeToSessionStart(platform::Date{*start});
        d.insert(d.end(), bytes.begin(), bytes.end());
        if (e->transaction()) ++transactions;
    }
    P::appendBoolean(eventLogComplete_, d);
    bool const crash = crashReportData_.has_value();
    P::appendInt(totalErrorCount_ + (crash ? 1 : 0), d);
    size_t const errors = std::min(errors_.size(), kMaxCount - (crash ? 1 : 0));
    P::appendUshort(static_cast<uint16_t>(errors + (crash ? 1 : 0)), d);
    int highest = 0;
    for (size_t i = 0; i < errors; ++i) {
        errors_[i]->appendToData(d);
        highest = std::max(highest, errors_[i]->errorID());
    }
    if (crash) {
        P::appendUshort(static_cast<uint16_t>(highest + 1), d);
        P::appendTimestamp(platform::Date::now().secondsSince1970, d);
        for (int i = 0; i < 3; ++i) P::appendString("", d);
        P::appendByte(3, d);
        P::appendByte(1, d);
        P::appendLargeData(*crashReportData_, d);
    }
    P::appendInt(0, d);
    for (int i = 0; i < 3; ++i) P::appendUshort(0, d);
    P::appendUshort(capped(transactions), d);
    n = 0;
    for (size_t i = 0; i < std::min(eventLog_.size(), kMaxCount); ++i) {
        auto const& t = eventLog_[i]->transaction();
        if (!t || n++ == kMaxCount) continue;
        P::appendByte(1, d);
        auto const purchase = std::dynamic_pointer_cast<TallyTransaction>(t);
        P::appendLargeData(purchase ? purchase->receiptData : Data{}, d);
    }
    return d;
}

std::optional<Data> TallySession::dataForSessions(std::vector<Data> const& blocks) {
    return dataForSessions(std::vector<std::optional<Data>>(blocks.begin(), blocks.end()));
}

std::optional<Data> TallySession::dataForSessions(std::vector<std::optional<Data>> const& blocks) {
    auto s = settings();
    std::optional<std::string> const advertising = TallyUtil::getTallyId();
    std::optional<std::string> const vendor = TallyUtil::getIdentifierForVendor();
    bool const withInstallId = TallyUtil::getSystemVersionAsAnInteger() <= 69999;
    if (!advertising && !vendor && !withInstallId) return std::nullopt;

    Data d;
    P::appendUshort(31, d);
    P::appendUshort(4, d);
    P::appendUshort(1, d);
    P::appendLong(0, d);
    P::appendUshort(0, d);
    P::appendUshort(TallyiOSUtil::agentPlatform(), d);
    P::appendUshort(189, d);
    P::appendTimestamp(platform::Date::now().secondsSince1970, d);
    P::appendString(apiKey(), d);
    P::appendString(appVersion_.value_or(""), d);
    P::appendByte(TallyUtil::isInWatchExtension() ? 2 : 1, d);
    P::appendUshort(static_cast<uint16_t>(int(advertising.has_value()) + int(vendor.has_value()) + int(withInstallId)), d);
    if (advertising) {
        P::appendUshort(7, d);
        P::appendString(*advertising, d);
    }
    if (vendor) {
        P::appendUshort(6, d);
        P::appendString(*vendor, d);
    }
    if (withInstallId) {
        P::appendUshort(15, d);
        P::appendShortData(installationIDAsBytes(), d);
    }
    P::appendByte(0, d);
    P::appendBoolean(sentReportSuccessful(), d);
    P::appendBoolean(TallyUtil::isAdTrackingEnabled(), d);
    P::appendTimestamp(initialTimestamp().secondsSince1970, d);
    P::appendTimestamp(startTime().secondsSince1970, d);

    TallyRect const screen = TallyUtil::deviceScreenBounds();
    std::pair<std::string, std::string> const device[] = {
        {"device.model.1", TallyUtil::devicePlatform()},
        {"device.os.version", platform::DeviceFacts::systemVersion()},
        {"bnd.ver", TallyiOSUtil::appVersion().value_or("")},
        {"device.arch", platform::DeviceFacts::machine()},
        {"scr.width", std::to_string(static_cast<int64_t>(screen.width))},
        {"scr.height", std::to_string(static_cast<int64_t>(screen.height))}};
    P::appendUshort(6, d);
    for (auto const& [k, v] : device) {
        P::appendString(k, d);
        P::appendString(v, d);
        P::appendByte(static_cast<int8_t>(updateIfTrackedAndChangedPropertyValue(v, k)), d);
    }
    P::appendUshort(0, d);
    P::appendBoolean(false, d);

    Value::Dict const launch = s->launchOptions();
    P::appendUshort(capped(launch.size()), d);
    size_t n = 0;
    for (auto const& [k, v] : launch) {
        if (n++ == kMaxCount) break;
        P::appendString(k, d);
        if (auto const* a = v.array()) {
            P::appendUshort(capped(a->size()), d);
            for (size_t i = 0; i < std::min(a->size(), kMaxCount); ++i) P::appendString(textOf((*a)[i]), d);
        } else {
            P::appendUshort(1, d);
            P::appendString(textOf(v), d);
        }
    }
    Value::Array const origins = s->originSets();
    P::appendUshort(capped(origins.size()), d);
    n = 0;
    for (auto const& o : origins) {
        if (n++ == kMaxCount) break;
        Value const* name = o.find("originName");
        P::appendString(name && name->string() ? *name->string() : "", d);
        Value const* params = o.find("parameters");
        Value::Dict const empty;
        Value::Dict const& p = params && params->dict() ? *params->dict() : empty;
        P::appendUshort(capped(p.size()), d);
        size_t m = 0;
        for (auto const& [k, v] : p) {
            if (m++ == kMaxCount) break;
            P::appendString(k, d);
            P::appendString(textOf(v), d);
        }
    }
    Value::Dict const bundle = platform::DeviceFacts::bundleInfo();
    auto id = bundle.find("CFBundleIdentifier");
    P::appendString(id != bundle.end() && id->second.string() ? *id->second.string() : "", d);

    size_t const countAt = d.size();
    P::appendUshort(0, d);
    uint16_t written = 0;
    for (auto const& b : blocks) {
        if (written == kMaxCount) break;
        if (!b) continue;  // a session without a block is not counted
        d.insert(d.end(), b->begin(), b->end());
        ++written;
    }
    d[countAt] = static_cast<uint8_t>(written >> 8);
    d[countAt + 1] = static_cast<uint8_t>(written & 0xFF);

    Value::Dict cookies;
    TallyGlobalPersistentManager::sharedInstance()->processReadOperationForPersistentCookiesMapSync(
        [&](Value::Dict const& map) { cookies = map; });
    Data cookieBytes;
    uint16_t cookieCount = 0;
    for (auto const& [k, v] : cookies) {
        Data const* value = v.data();
        if (cookieCount == kMaxCount) break;
        if (!value || k.size() > kMaxCount || value->size() > kMaxCount) {
            TallyUtil::log(2, "TallySession: Cookie[" + k.substr(0, 64) + "] too long for the report, skipped");
            continue;
        }
        P::appendShortData(Data(k.begin(), k.end()), cookieBytes);
        P::appendShortData(*value, cookieBytes);
        ++cookieCount;
    }
    P::appendUshort(cookieCount, d);
    d.insert(d.end(), cookieBytes.begin(), cookieBytes.end());
    P::appendInt(TallyUtil::dataChecksum(d), d);
    return d;
}

std::optional<Data> TallySession::dataForSending(std::vector<Data> const& datas) {
    auto body = dataForSessions(datas);
    if (!body) TallyUtil::log(1, "-[TallySession dataForSending:]: Unable to create session date from sessions array");
    return body;
}
