// The data endpoint's reply parser on arbitrary bodies: it may stop with an error, never crash,
// hang or read outside the body.
#include <cstddef>
#include <cstdint>
#include <exception>

#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyHTTPResponse.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    static auto const sender = [] {
        tally_delivery::stand_in::setLogLevel(0);
        return std::make_shared<TallyDataSender>(std::make_shared<platform::WorkQueue>("com.Tally.fuzz"), nullptr);
    }();
    tally_delivery::stand_in::setCookies({{"old", {1}}});
    auto response = TallyHTTPResponse::initWithBody(platform::Data(data, data + size), 200, {}, std::nullopt);
    try {
        sender->parseResponse(*response);
    } catch (std::exception const&) {
    }
    return 0;
}
