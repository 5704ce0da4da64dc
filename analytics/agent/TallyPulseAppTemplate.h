#pragma once
// The older form of a callback template, which lists its events itself. Kept readable and
// writable for stored data; nothing creates it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/base/KeyedArchive.h"

class TallyPulseAppTemplate : public platform::Archivable {
public:
    static constexpr char const* kClassName = "TallyPulseAppTemplate";
    static void registerArchiveClass();
    static std::string pulseMethodEnumToString(int32_t code);
    static int32_t pulseMethodStringToEnum(std::optional<std::string> const& name);

    static std::shared_ptr<TallyPulseAppTemplate> initWithCoder(platform::ArchiveDecoder const& decoder);
    // "events" becomes a one-element array holding whatever was under the key.
    static std::shared_ptr<TallyPulseAppTemplate> initWithDictionary(platform::Value::Dict const& dict);
    std::string className() const override { return kClassName; }
    void encodeWith(platform::ArchiveEncoder& encoder) const override;
    platform::Value::Dict dataDictionary() const;

    std::optional<std::string> partner;
    std::optional<platform::Value::Array> events;
    int32_t method = 0;
    std::optional<std::string> uriTemplate;
    std::optional<std::string> bodyTemplate;
    int32_t maxRedirects = 0;
    int32_t connectTimeout = 0;
    int32_t requestTimeout = 0;
};
