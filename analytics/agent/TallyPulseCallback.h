#pragma once
// One partner callback of the remote configuration: the partner, the HTTP method, the URL and
// body templates with their placeholders, extra header fields and the redirect and time limits.
// A plain value object; nothing here validates the values.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"

class TallyPulseCallback : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseCallback";
    using Headers = std::map<std::string, std::string>;

    static void registerArchiveClass();
    // "GET", "PUT", "POST" by code; an unknown code gives "GET".
    static std::string pulseMethodEnumToString(int32_t code);
    // Exact, case-sensitive; 0 for nothing or an unknown name.
    static int32_t pulseMethodStringToEnum(std::optional<std::string> const& name);

    // Nothing when a field holds a value of the wrong kind.
    static std::shared_ptr<TallyPulseCallback> initWithCoder(platform::ArchiveDecoder const& decoder);
    static std::shared_ptr<TallyPulseCallback> initWithDictionary(platform::Value::Dict const& dict);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    platform::Value::Dict dataDictionary() const;

    std::optional<std::string> partner;
    int32_t method = 0;
    int64_t callbackId = 0;
    std::optional<std::string> uriTemplate;
    std::optional<std::string> bodyTemplate;
    std::optional<Headers> headers;
    int32_t maxRedirects = 0;
    int32_t connectTimeout = 0;
    int32_t requestTimeout = 0;
};

// Headers as a dictionary of strings, and back; nothing when a value is not a string.
platform::Value::Dict tallyHeadersToDict(TallyPulseCallback::Headers const& headers);
std::optional<TallyPulseCallback::Headers> tallyHeadersFromDict(platform::Value::Dict const& dict);
