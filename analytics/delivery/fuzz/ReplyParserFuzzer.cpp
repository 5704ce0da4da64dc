// The data endpoint's reply parser on arbitrary bodies: it may stop with an error, never crash,
// hang or read outside the body.
#include <cstddef>
#include <cstdint>
#include <exception>

#include <map>

#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyDataSender.h"
#include "analytics/delivery/TallyDeliveryAgent.h"
#include "analytics/delivery/TallyHTTPResponse.h"

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    // A fake cookie store: the parse, not the maps' files, is under test.
    static std::map<std::string, std::vector<uint8_t>> cookies;
    static auto const sender = [] {
        TallyUtil::setLogLevel(0);
        tally_delivery::setCookieStoreForTesting(tally_delivery::CookieStore{
            [] { cookies.clear(); },
            [](std::vector<uint8_t> const& value, std::string const& key) {
                if (value.empty()) cookies.erase(key);
                else if (cookies.size() < 1000 || cookies.count(key)) cookies[key] = value;
            },
            [] {}});
        return std::make_shared<TallyDataSender>(std::make_shared<platform::WorkQueue>("com.Tally.fuzz"), nullptr);
    }();
    cookies = {{"old", {1}}};
    auto response = TallyHTTPResponse::initWithBody(platform::Data(data, data + size), 200, {}, std::nullopt);
    try {
        sender->parseResponse(*response);
    } catch (std::exception const&) {
    }
    return 0;
}
