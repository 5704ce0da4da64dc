#include "analytics/agent/TallyGlobalVariableStorage.h"

#include <algorithm>

#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/agent/TallySessionInfo.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyiOSUtil.h"
#include "platform/base/AtomicFile.h"
#include "platform/base/Digests.h"
#include "platform/base/KeyedArchive.h"

namespace {

std::mutex& sharedMutex() {
    static std::mutex m;
    return m;
}
std::shared_ptr<TallyGlobalVariableStorage>& sharedSlot() {
    static auto* s = new std::shared_ptr<TallyGlobalVariableStorage>;  // outlives the other statics
    return *s;
}

std::string orNull(std::optional<std::string> const& s) { return s ? *s : "(null)"; }
std::string describe(std::optional<Value::Dict> const& d) { return d ? Value(*d).describe() : "(null)"; }

std::shared_ptr<TallyGlobalPersistentManager> maps() { return TallyGlobalPersistentManager::sharedInstance(); }

Value globalsValue(std::string const& key) {
    Value out;
    maps()->processReadOperationForPersistentGlobalsMapSync([&](Value::Dict const& m) {
        if (auto it = m.find(key); it != m.end()) out = it->second;
    });
    return out;
}

void setGlobalsValue(std::string const& key, std::optional<Value> value) {
    maps()->processWriteOperationForPersistentGlobalsMap([key, value = std::move(value)](Value::Dict& m) {
        if (value)
            m[key] = *value;
        else
            m.erase(key);
    });
}

}  // namespace

std::shared_ptr<TallyGlobalVariableStorage> TallyGlobalVariableStorage::sharedInstance() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    if (!sharedSlot()) sharedSlot() = std::make_shared<TallyGlobalVariableStorage>();
    return sharedSlot();
}

void TallyGlobalVariableStorage::cleanup() {
    std::lock_guard<std::mutex> lock(sharedMutex());
    sharedSlot().reset();
}

TallyGlobalVariableStorage::TallyGlobalVariableStorage() { setAppVersion(TallyiOSUtil::appVersion()); }

int32_t TallyGlobalVariableStorage::apiKeyHash() {
    auto const key = sharedInstance()->apiKey();
    return key ? static_cast<int32_t>(platform::crc32(*key)) : 0;
}

std::filesystem::path TallyGlobalVariableStorage::getPersistentFilePath(std::string const& name) {
    std::filesystem::path path;
    try {
        path = TallyUtil::filePathDirectory() /
               ("." + name + std::to_string(apiKeyHash()) + "_" + TallySessionInfo::agentVersion() + ".archive");
        if (!TallyUtil::dataExistsAtPath(path)) {
            platform::Data const empty = platform::KeyedArchive::encode(Value(Value::Dict{}));
            platform::writeFileAtomically(path, empty.data(), empty.size());
        }
        TallyUtil::addSkipBackupAttributeToItemAtURL(path);
        TallyUtil::log(2, "+[TallyGlobalVariableStorage getPersistentFilePath:]: " + path.string());
    } catch (std::exception const& e) {
        TallyUtil::log(2, std::string("+[TallyGlobalVariableStorage getPersistentFilePath:]: exception ") + e.what());
    }
    return path;
}

std::filesystem::path TallyGlobalVariableStorage::persistentGlobalsFilePath() {
    return getPersistentFilePath("tallyPropertiesData");
}
std::filesystem::path TallyGlobalVariableStorage::persistentCookiesFilePath() { return getPersistentFilePath("tallyCkData"); }
std::filesystem::path TallyGlobalVariableStorage::persistentUrlsFilePath() {
    return getPersistentFilePath("tallyPersistentUrlsData");
}
std::filesystem::path TallyGlobalVariableStorage::persistentPulseUrlsFilePath() {
    return getPersistentFilePath("tallyPersistenPulseUrlsData");
}
std::filesystem::path TallyGlobalVariableStorage::persistentPulsePrepUrlsFilePath() {
    return getPersistentFilePath("tallyPersistenPulsePrepUrlsData");
}

void TallyGlobalVariableStorage::setApiKey(std::optional<std::string> const& key) {
    if (!key) {
        apiKey_.set(std::nullopt);
        return;
    }
    std::string trimmed = *key;
    trimmed.erase(std::remove(trimmed.begin(), trimmed.end(), ' '), trimmed.end());
    apiKey_.set(trimmed);
    TallyUtil::log(2, "Tally: Trim white space and use apiKey[" + trimmed + "]");
}

void TallyGlobalVariableStorage::savePersistentGlobalsToDisk() {
    std::lock_guard<std::mutex> lock(instanceLock_);
    auto m = maps();
    using M = TallyGlobalPersistentManager;
    m->save(M::Cookies, persistentCookiesFilePath());
    m->save(M::Globals, persistentGlobalsFilePath());
    m->save(M::Urls, persistentUrlsFilePath());
    m->save(M::PulseUrls, persistentPulseUrlsFilePath());
    m->save(M::PulsePrepUrls, persistentPulsePrepUrlsFilePath());
}

void TallyGlobalVariableStorage::recordSessionProperties(std::optional<Value::Dict> const& properties) {
    std::lock_guard<std::mutex> lock(propertiesLock_);
    if (!properties || properties->empty()) {
        setSessionParameters(std::nullopt);
        TallyUtil::log(2, "TallyGlobalVariableStorage: clearing session parameters");
        return;
    }
    TallyUtil::log(2, "TallyGlobalVariableStorage: Attempting to record orgin new set with parameters: " +
                          describe(properties));
    int64_t limit = TallySessionInfo::maxSessionProperties();
    Value const pulse = globalsValue("pulseSettings");
    if (!pulse.isNull()) {
        limit = 0;
        if (auto settings = pulse.objectAs<TallyPulseSettings>()) {
            auto const& a = settings->analytics();
            if (auto it = a.find("max_session_properties"); it != a.end()) limit = it->second.toInt64().value_or(0);
        }
    }
    auto const tooMany = [&](Value::Dict const& d) {
        TallyUtil::log(2, "TallyGlobalVariableStorage: Attempting to record more than 20 parameters for orgin set "
                          "with parameters: " + Value(d).describe());
    };
    if (int64_t(properties->size()) + 1 > limit) {
        tooMany(*properties);
        return;
    }
    auto const current = sessionParameters();
    if (!current || current->size() < 2) {
        setSessionParameters(*properties);
        return;
    }
    Value::Dict merged = *current;
    for (auto const& [key, value] : *properties) {
        merged.erase(key);
        merged[key] = value;
        if (int64_t(merged.size()) + 1 > limit) {
            tooMany(merged);
            break;
        }
    }
    setSessionParameters(std::move(merged));
}

void TallyGlobalVariableStorage::recordOrigin(std::optional<std::string> const& name,
                                              std::optional<std::string> const& version,
                                              std::optional<Value::Dict> const& parameters) {
    std::lock_guard<std::mutex> lock(propertiesLock_);
    TallyUtil::log(2, "TallyGlobalVariableStorage: Attempting to record orgin new set with name: " + orNull(name) +
                          " and parameters: " + describe(parameters));
    size_t const count = parameters ? parameters->size() : 0;
    if (int64_t(count) + 1 > TallySessionInfo::maxOriginSets()) {
        TallyUtil::log(2, "TallyGlobalVariableStorage: Attempting to record more than 10 parameters for orgin set "
                          "with name: " + orNull(name) + " and parameters: " + describe(parameters));
        return;
    }
    if (!name || name->empty()) {
        TallyUtil::log(1, "TallyGlobalVariableStorage: Not logging Event eventName[" + orNull(name) +
                              "] due to invalid eventName");
        return;
    }
    Value::Dict params{{"tallyOriginVersion", version ? Value(*version) : Value()}};
    if (parameters)
        for (auto const& [k, v] : *parameters) params[k] = v;
    Value::Array sets = originSets();
    auto same = std::find_if(sets.begin(), sets.end(), [&](Value const& set) {
        Value const* n = set.find("originName");
        return n && n->string() && *n->string() == *name;
    });
    if (same != sets.end()) sets.erase(same);
    sets.push_back(Value(Value::Dict{{"originName", Value(*name)}, {"parameters", Value(std::move(params))}}));
    setOriginSets(std::move(sets));
}

void TallyGlobalVariableStorage::addPendingUrlTimer(platform::SdkLoop::TimerId timer, std::string key) {
    std::lock_guard<std::mutex> lock(timersLock_);
    pendingUrlTimers_.emplace_back(std::move(key), timer);
}

std::vector<platform::SdkLoop::TimerId> TallyGlobalVariableStorage::pendingUrlTimers() const {
    std::lock_guard<std::mutex> lock(timersLock_);
    std::vector<platform::SdkLoop::TimerId> ids;
    for (auto const& [key, timer] : pendingUrlTimers_) ids.push_back(timer);
    return ids;
}

void TallyGlobalVariableStorage::removePendingUrlTimers() {
    std::lock_guard<std::mutex> lock(timersLock_);
    for (auto const& [key, timer] : pendingUrlTimers_) platform::SdkLoop::shared().invalidateTimer(timer);
    pendingUrlTimers_.clear();
}

void TallyGlobalVariableStorage::removePendingUrlTimers(std::string const& key) {
    std::lock_guard<std::mutex> lock(timersLock_);
    std::erase_if(pendingUrlTimers_, [&](auto const& entry) {
        if (entry.first != key) return false;
        platform::SdkLoop::shared().invalidateTimer(entry.second);
        return true;
    });
}

bool TallyGlobalVariableStorage::isPartnerIntegration() const {
    for (Value const& set : originSets()) {
        Value const* n = set.find("originName");
        if (n && n->string() && *n->string() == "Tally_Partner_iOS") return true;
    }
    return false;
}

int32_t TallyGlobalVariableStorage::maxBitRateKbps() const {
    int64_t const v = globalsValue("maxBitRateKbps").toInt64().value_or(0);
    return v < 1 ? 500 : TallyUtil::int32FromNSInteger(v);
}

void TallyGlobalVariableStorage::setMaxBitRateKbps(int32_t kbps) { setGlobalsValue("maxBitRateKbps", Value(kbps)); }

bool TallyGlobalVariableStorage::appInstallProcessDone() const {
    return globalsValue("appInstallProcessDone").toBool().value_or(false);
}

void TallyGlobalVariableStorage::setAppInstallProcessDone(bool done) {
    setGlobalsValue("appInstallProcessDone", Value(done));
}

std::optional<Value> TallyGlobalVariableStorage::guidAsIDForSessionReports() const {
    Value v = globalsValue("guidAsIDForSessionReports");
    if (v.isNull()) return std::nullopt;
    return v;
}

void TallyGlobalVariableStorage::setGuidAsIDForSessionReports(std::optional<Value> const& guid) {
    setGlobalsValue("guidAsIDForSessionReports", guid && !guid->isNull() ? guid : std::nullopt);
}

bool TallyGlobalVariableStorage::analyticsEnabled() const {
    return globalsValue("analyticsEnabled").toBool().value_or(false);
}

int32_t TallyGlobalVariableStorage::logLevel() const {
    return TallyUtil::int32FromNSInteger(globalsValue("logLevel").toInt64().value_or(0));
}

bool TallyGlobalVariableStorage::lastAdTrackingEnabledSetting() const {
    Value const v = globalsValue("isAdTrackingEnabled");
    if (v.isNull()) {
        setGlobalsValue("isAdTrackingEnabled", Value(true));
        return true;
    }
    return v.toBool().value_or(false);
}

void TallyGlobalVariableStorage::setLastAdTrackingEnabledSetting(bool on) {
    setGlobalsValue("isAdTrackingEnabled", Value(on));
}
