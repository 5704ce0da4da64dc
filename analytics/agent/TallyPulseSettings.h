#pragma once
// The stored remote configuration: when it is due for refresh and when it expires (absolute
// milliseconds since 1970), the partner callbacks by id, which events fire them, the limits of
// the callback reports and the analytics switches. Decoded from the configuration reply and kept
// in the persistent globals map under "pulseSettings".
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "analytics/agent/TallyPulseCallback.h"
#include "analytics/agent/TallyPulseEventTrigger.h"
#include "platform/base/KeyedArchive.h"

class TallyPulseSettings : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseSettings";
    // Makes archived settings (and the callbacks and triggers they hold) readable back.
    static void registerArchiveClass();

    using Callbacks = std::map<int64_t, std::shared_ptr<TallyPulseCallback>>;
    // One key of the event map: an event name, or a parameter trigger; in the order first met.
    struct EventEntry {
        std::optional<std::string> eventName;
        std::shared_ptr<TallyPulseEventTrigger> trigger;
        std::vector<int64_t> callbackIds;
    };
    using EventsMap = std::vector<EventEntry>;

    // Nothing when a stored field has the wrong kind or shape.
    static std::shared_ptr<TallyPulseSettings> initWithCoder(platform::ArchiveDecoder const& decoder);
    static std::shared_ptr<TallyPulseSettings> initWithDictionary(platform::Value::Dict const& dict);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    platform::Value::Dict dataDictionary() const;

    // Nothing while the configuration has no callbacks.
    std::optional<EventsMap> const& callbackEventsMap() const { return callbackEventsMap_; }
    void setCallbackEventsMap(std::optional<EventsMap> map);
    // Appends the id to the list of the event name or of the equal trigger, made when absent.
    void addCallbackForEvent(std::string const& eventName, int64_t callbackId);
    void addCallbackForTrigger(std::shared_ptr<TallyPulseEventTrigger> trigger, int64_t callbackId);
    // The callbacks of the last key in map order that matches (a name, or a trigger whose
    // parameter has one of its values), each id once; lists of several matching keys are not
    // merged. Nothing when no key matches.
    std::optional<std::vector<int64_t>> callbackIdsForEvent(std::string const& eventName,
                                                           platform::Value::Dict const& params) const;

    // Replaced whole by the agent's pulse switch while others read it.
    platform::Value::Dict analytics() const;
    void setAnalytics(platform::Value::Dict analytics);
    // On unless "analytics_enabled" is explicitly false: recording, sending and the callbacks
    // all read it here.
    bool analyticsEnabled() const;

    int64_t lastResponseTime = 0;
    int64_t nextRefreshTTL = 0;
    int64_t expirationTTL = 0;
    std::optional<Callbacks> callbacks;
    int32_t maxCallbackRetries = 0;
    int32_t maxCallbackAttemptsPerReport = 0;
    int64_t maxReportDelaySecs = 0;
    std::optional<std::string> agentReportUrl;
    platform::Value::Dict globalSettings;

private:
    std::optional<EventsMap> callbackEventsMap_;
    // The keys of each event name, in map order: an event looks only at its own.
    std::unordered_map<std::string, std::vector<size_t>> keysByName_;
    mutable std::mutex analyticsMutex_;
    platform::Value::Dict analytics_;
};
