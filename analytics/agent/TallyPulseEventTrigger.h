#pragma once
// A parameter trigger of the remote configuration: an event name, one of its parameters and the
// values of that parameter that fire the callbacks. Used as a key of the settings' event map, so
// two triggers are the same key only when the name, the parameter and the set of values agree.
#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/KeyedArchive.h"

class TallyPulseEventTrigger : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseEventTrigger";
    static void registerArchiveClass();

    TallyPulseEventTrigger() = default;
    explicit TallyPulseEventTrigger(std::string name, std::optional<std::string> paramName = std::nullopt,
                                    std::optional<std::vector<std::string>> paramValues = std::nullopt)
        : eventName(std::move(name)), eventParamName(std::move(paramName)), eventParamValues(std::move(paramValues)) {}

    // Nothing when a field holds a value of the wrong kind or the name is missing.
    static std::shared_ptr<TallyPulseEventTrigger> initWithCoder(platform::ArchiveDecoder const& decoder);
    // "eventParamValues" becomes a one-element list of whatever string was under the key.
    static std::shared_ptr<TallyPulseEventTrigger> initWithDictionary(platform::Value::Dict const& dict);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    platform::Value::Dict dataDictionary() const;

    // Whether the event fires this trigger: same name, and the named parameter (a string, or a
    // number as its decimal text) is one of the values; or a trigger with neither parameter
    // name nor values.
    bool matches(std::string const& eventName, platform::Value::Dict const& params) const;

    // The identity of the key: name, parameter name and the sorted set of values.
    std::string key() const;
    size_t hash() const;
    bool operator==(TallyPulseEventTrigger const& other) const { return key() == other.key(); }

    std::string eventName;
    std::optional<std::string> eventParamName;
    std::optional<std::vector<std::string>> eventParamValues;
};

// The text a parameter value is compared as: strings as they are, integers in decimal, reals
// without a trailing ".0"; nothing for other kinds.
std::optional<std::string> tallyParameterText(platform::Value const& value);
