// The configuration reply: hand-encoded fixtures decode to the settings the agent stores, and
// bodies that lie about their lengths, counts or indexes are refused before the library runs.
#include <gtest/gtest.h>

#include "analytics/delivery/TallyPulseResponse.h"
#include "analytics/delivery/tests/AvroTestWriter.h"

namespace {

using namespace pulse_test;
using platform::Data;
using platform::Value;
using Ids = std::vector<int64_t>;

std::shared_ptr<TallyPulseSettings> parse(std::vector<uint8_t> const& body, double now = 1'000'000'000.5) {
    TallyPulseResponse response;
    return response.parsePulseResponse(body, now);
}

ResponseFixture twoCallbacks() {
    ResponseFixture r;
    r.issuedAt = 1234567890123;
    CallbackFixture a;
    a.partner = "alpha";
    a.callbackId = (int64_t(1) << 32) + 1;
    a.method = 2;
    a.uri = "https://a.invalid/cb?d=%{session_duration_millis}";
    a.hasBody = true;
    a.body = "{\"e\":\"%{event_name}\"}";
    a.hasHeaders = true;
    a.headers = {{"Content-Type", "application/json"}, {"X-K", "v"}};
    a.events = {plainEvent("level_done"), plainEvent("level_done"), triggerEvent("purchase", "item", {"a", "b"})};
    CallbackFixture b;
    b.partner = "beta";
    b.callbackId = 7;
    b.method = 1;
    b.uri = "";
    b.hasBody = true;
    b.body = "";
    b.maxRedirects = 0;
    b.events = {plainEvent("level_done")};
    r.callbacks = {a, b};
    r.reportUrl = "";
    r.logLevel = 6;
    r.analyticsEnabled = false;
    r.maxSessionProperties = 4;
    return r;
}

TEST(PulseConfigTest, FixturesDecodeToSettings) {
    auto s = parse(encodeResponse(twoCallbacks()));
    ASSERT_TRUE(s);
    EXPECT_EQ(s->lastResponseTime, 1234567890123);
    EXPECT_EQ(s->nextRefreshTTL, 1'000'003'600'500);
    EXPECT_EQ(s->expirationTTL, 1'000'604'800'500);
    EXPECT_EQ(s->globalSettings.at("logLevel"), Value("WARN"));
    EXPECT_EQ(s->analytics().at("analytics_enabled"), Value(false));
    EXPECT_EQ(s->analytics().at("max_session_properties"), Value(4));
    EXPECT_FALSE(s->agentReportUrl);
    EXPECT_EQ(s->maxCallbackRetries, 3);
    EXPECT_EQ(s->maxCallbackAttemptsPerReport, 15);
    EXPECT_EQ(s->maxReportDelaySecs, 600);

    ASSERT_TRUE(s->callbacks);
    auto const& a = s->callbacks->at((int64_t(1) << 32) + 1);
    EXPECT_EQ(a->partner, "alpha");
    EXPECT_EQ(a->method, 2);
    EXPECT_EQ(a->bodyTemplate, "{\"e\":\"%{event_name}\"}");
    EXPECT_EQ(a->headers->at("X-K"), "v");
    auto const& b = s->callbacks->at(7);
    EXPECT_FALSE(b->uriTemplate);
    EXPECT_FALSE(b->bodyTemplate);
    EXPECT_FALSE(b->headers);
    EXPECT_EQ(b->method, 1);

    // The event map: a repeated event holds the id twice; the next callback's id follows.
    ASSERT_TRUE(s->callbackEventsMap());
    ASSERT_EQ(s->callbackEventsMap()->size(), 2u);
    EXPECT_EQ(s->callbackEventsMap()->at(0).eventName, "level_done");
    EXPECT_EQ(s->callbackEventsMap()->at(0).callbackIds, (Ids{a->callbackId, a->callbackId, 7}));
    EXPECT_EQ(s->callbackIdsForEvent("level_done", {}), (Ids{a->callbackId, 7}));
    EXPECT_EQ(s->callbackIdsForEvent("purchase", {{"item", Value("b")}}), (Ids{a->callbackId}));
    EXPECT_FALSE(s->callbackIdsForEvent("purchase", {{"item", Value("c")}}));

    // A reply without callbacks keeps both nil.
    ResponseFixture empty;
    auto e = parse(encodeResponse(empty));
    ASSERT_TRUE(e);
    EXPECT_FALSE(e->callbacks);
    EXPECT_FALSE(e->callbackEventsMap());
    EXPECT_EQ(e->agentReportUrl, "https://example.invalid/pcr.do");
}

TEST(PulseConfigTest, ServerTimesAreKeptWithinRange) {
    double const now = 1'000'000'000.5;
    int64_t const tenYears = TallyPulseResponse::kMaxTtlSeconds * 1000;
    for (auto [ttl, expected] : std::vector<std::pair<int64_t, int64_t>>{
             {INT64_MAX, 1'000'000'000'500 + tenYears},
             {INT64_MIN, 1'000'000'000'500},
             {-5, 1'000'000'000'500},
             {0, 1'000'000'000'500}}) {
        ResponseFixture r;
        r.refreshTtl = ttl;
        r.expirationTtl = ttl;
        auto s = parse(encodeResponse(r), now);
        ASSERT_TRUE(s) << ttl;
        EXPECT_EQ(s->nextRefreshTTL, expected) << ttl;
        EXPECT_EQ(s->expirationTTL, expected) << ttl;
    }
}

TEST(PulseConfigTest, LyingBodiesAreRefused) {
    auto const good = encodeResponse(twoCallbacks());
    // Every cut of a good body is refused (never a crash, never a partial read).
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(parse(std::vector<uint8_t>(good.begin(), good.begin() + long(n)))) << n;

    auto withHeader = [](std::function<void(AvroWriter&)> const& callbacks) {
        AvroWriter w;
        w.varint(1).varint(3600).varint(600).varint(4);
        callbacks(w);
        return w.bytes;
    };
    // A callbacks block count far beyond the bytes left.
    EXPECT_FALSE(parse(withHeader([](AvroWriter& w) { w.varint(int64_t(1) << 40).raw({0, 0, 0}); })));
    EXPECT_FALSE(parse(withHeader([](AvroWriter& w) { w.varint(INT64_MIN); })));
    // A string length beyond the bytes left.
    EXPECT_FALSE(parse(withHeader([](AvroWriter& w) { w.varint(1).varint(int64_t(1) << 50); })));
    // A negative block count whose byte size lies.
    EXPECT_FALSE(parse(withHeader([](AvroWriter& w) { w.varint(-1).varint(int64_t(1) << 40).str("p"); })));
    // An event union branch and a method symbol out of range.
    EXPECT_FALSE(parse(withHeader([](AvroWriter& w) { w.varint(1).str("p").varint(1).varint(2).str("e"); })));
    EXPECT_FALSE(parse(withHeader([](AvroWriter& w) { w.varint(1).str("p").varint(0).varint(3); })));
    // A log level symbol out of range, and a varint that never ends.
    EXPECT_FALSE(parse(AvroWriter().varint(1).varint(1).varint(1).varint(7).bytes));
    EXPECT_FALSE(parse(std::vector<uint8_t>(20, 0xff)));
    // Over the size cap.
    auto big = good;
    big.resize(TallyPulseResponse::kMaxBodySize + 1);
    EXPECT_FALSE(parse(big));
    // Trailing bytes after a whole datum are ignored, as the library's reader ignores them.
    auto trailing = good;
    trailing.push_back(0x42);
    EXPECT_TRUE(parse(trailing));
}

}  // namespace
