#pragma once
// Decodes the configuration service's reply, one Avro binary ConfigResponse datum, into the
// settings the agent stores. A body that does not decode gives nothing.
#include <avro.h>

#include <cstddef>
#include <memory>
#include <optional>
#include <string>

#include "analytics/agent/TallyPulseSettings.h"
#include "platform/base/Value.h"

class TallyPulseResponse {
public:
    static constexpr size_t kMaxBodySize = 1u << 20;
    // Server times are kept within this range (ten years of seconds).
    static constexpr int64_t kMaxTtlSeconds = int64_t(10) * 366 * 24 * 3600;
    static char const* const kSchemaText;

    TallyPulseResponse() = default;
    ~TallyPulseResponse();
    TallyPulseResponse(TallyPulseResponse const&) = delete;
    TallyPulseResponse& operator=(TallyPulseResponse const&) = delete;

    void initSchema();
    std::shared_ptr<TallyPulseSettings> parsePulseResponse(platform::Data const& body);
    // The same with "now" given, in seconds since 1970.
    std::shared_ptr<TallyPulseSettings> parsePulseResponse(platform::Data const& body, double nowSeconds);

    // An absolute deadline in whole milliseconds: now plus the TTL, the TTL kept within 0 and
    // ten years.
    static int64_t deadlineMillis(double nowSeconds, int64_t ttlSeconds);

private:
    avro_schema_t pulseResponseSchema_ = nullptr;
};
