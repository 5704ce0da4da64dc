// The callback bookkeeping records: their binary forms byte for byte, their archive and
// dictionary forms, and the reporting states.
#include <gtest/gtest.h>

#include "analytics/agent/TallyPulseSettings.h"
#include "analytics/delivery/TallyPulseCallbackAttemptInfo.h"
#include "analytics/delivery/TallyPulseCallbackReportInfo.h"
#include "analytics/delivery/TallyPulseTriggerInvokeInfo.h"
#include "analytics/agent/TallyGlobalPersistentManager.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyPulseCallbackReportManager.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/Digests.h"
#include "platform/base/Directories.h"
#include "platform/base/KeyedArchive.h"
#include "testing/TestPaths.h"

namespace {

using platform::Data;
using platform::Value;
using Attempt = std::shared_ptr<TallyPulseCallbackAttemptInfo>;

struct Registered {
    Registered() {
        TallyPulseTriggerInvokeInfo::registerArchiveClass();
        TallyPulseSettings::registerArchiveClass();
    }
};
Registered const registered;

Attempt attempt(int64_t number, int32_t status, double duration = 2.9) {
    auto a = std::make_shared<TallyPulseCallbackAttemptInfo>();
    a->setAttemptNumber(number);
    a->setCbSessionId(256.7);
    a->setCbSessionOffset(40);
    a->setFinalAttempt(true);
    a->setHttpStatus(status);
    a->setRequestState(1);
    a->setRedirectsCount(2);
    a->setDuration(duration);
    return a;
}

template <class T>
std::shared_ptr<T> roundTrip(std::shared_ptr<T> const& object) {
    auto decoded = platform::KeyedArchive::decode(platform::KeyedArchive::encode(Value(object)));
    return decoded ? decoded->template objectAs<T>() : nullptr;
}

Data const kAttempt29 = {0x00, 0x01, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x28, 0x01,
                         0x00, 0xC8, 0x00, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 0x02};

TEST(PulseRecordsTest, AttemptRecordBytesAndTheBodyFieldRule) {
    auto a = attempt(65537, 200);
    a->setResponseBody(Data{'x'});
    EXPECT_EQ(a->data(), kAttempt29);
    EXPECT_EQ(a->logSendState(), 1);
    EXPECT_EQ(attempt(65537, 399)->data().size(), 29u);

    // Outside 200-399 the body is written, 00 00 when there is none; the status keeps its low 16 bits.
    auto failed = attempt(1, -1);
    Data bytes = failed->data();
    ASSERT_EQ(bytes.size(), 31u);
    EXPECT_EQ(bytes[19], 0xFF);
    EXPECT_EQ(bytes[20], 0xFF);
    EXPECT_EQ(bytes[23], 0x00);
    EXPECT_EQ(bytes[24], 0x00);
    for (int status : {0, 199, 400}) {
        auto b = attempt(1, status);
        b->setResponseBody(Data{'a', 'b', 'c'});
        Data d = b->data();
        ASSERT_EQ(d.size(), 34u) << status;
        EXPECT_EQ(Data(d.begin() + 23, d.begin() + 28), (Data{0x00, 0x03, 'a', 'b', 'c'}));
    }
    // Durations are whole seconds; huge or odd values saturate rather than wrap or trap.
    EXPECT_EQ(attempt(1, 200, 1e30)->data()[25], 0x7F);
    EXPECT_EQ(attempt(1, 200, -0.5)->data()[28], 0x00);
}

TEST(PulseRecordsTest, ReportAndInvocationRecordsSkipWhatIsInFlight) {
    auto report = std::make_shared<TallyPulseCallbackReportInfo>();
    report->callbackId = (int64_t(1) << 31) + 5;
    report->setSubstitutedUrl("u");
    EXPECT_FALSE(report->data());
    auto flying = attempt(2, 200);
    flying->setBeingFired(true);
    report->appendAttempt(flying);
    EXPECT_FALSE(report->data());
    report->appendAttempt(attempt(65537, 200));

    Data expected = {0, 0, 0, 0, 0x80, 0, 0, 0x05, 0x00, 0x01, 'u', 0x00, 0x01};
    expected.insert(expected.end(), kAttempt29.begin(), kAttempt29.end());
    EXPECT_EQ(report->data(), expected);
    EXPECT_EQ(flying->logSendState(), 0);

    TallyPulseTriggerInvokeInfo invoke;
    invoke.triggerType = 2;
    invoke.sessionId = 256.0;
    invoke.sessionOffset = 40;
    invoke.eventOccuranceId = 70000;
    invoke.eventName = "tally.session_start";
    EXPECT_FALSE(invoke.data());
    invoke.appendCallback(std::make_shared<TallyPulseCallbackReportInfo>());  // nothing to report
    invoke.appendCallback(report);
    Data inv = {0x00, 0x02, 0, 0, 0, 0, 0, 0, 0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0x28, 0x01, 0x11, 0x70, 0x00, 19};
    inv.insert(inv.end(), invoke.eventName.begin(), invoke.eventName.end());
    inv.insert(inv.end(), {0x00, 0x01});
    inv.insert(inv.end(), expected.begin(), expected.end());
    EXPECT_EQ(invoke.data(), inv);
}

TEST(PulseRecordsTest, SentStatesArePrunedThroughReportsAndInvocations) {
    auto report = std::make_shared<TallyPulseCallbackReportInfo>();
    std::vector<int32_t> states = {0, 2, 1, 2};
    for (int32_t s : states) {
        auto a = attempt(1, 200);
        a->setLogSendState(s);
        report->appendAttempt(a);
    }
    EXPECT_TRUE(report->finalAttemptMade());
    EXPECT_EQ(report->removeSentAttempts(), 2u);
    ASSERT_EQ(report->attempts().size(), 2u);
    EXPECT_EQ(report->attempts()[0]->logSendState(), 0);
    EXPECT_EQ(report->attempts()[1]->logSendState(), 1);
    report->setAttemptsSent();
    EXPECT_EQ(report->attempts()[0]->logSendState(), 0);
    EXPECT_EQ(report->attempts()[1]->logSendState(), 2);

    // One record keeps two attempts, the other loses its only one.
    TallyPulseTriggerInvokeInfo invoke;
    auto keep = std::make_shared<TallyPulseCallbackReportInfo>();
    keep->appendAttempt(attempt(1, 200));
    keep->appendAttempt(attempt(2, 200));
    auto gone = std::make_shared<TallyPulseCallbackReportInfo>();
    auto sent = attempt(1, 200);
    sent->setLogSendState(1);
    gone->appendAttempt(sent);
    invoke.appendCallback(keep);
    invoke.appendCallback(gone);
    invoke.setCBAttemptsSent();
    EXPECT_EQ(invoke.removeSentCBAttempts(), 2u);
    ASSERT_EQ(invoke.callbacks().size(), 1u);
    EXPECT_EQ(invoke.callbacks()[0], keep);
    EXPECT_FALSE(std::make_shared<TallyPulseCallbackReportInfo>()->finalAttemptMade());
}

TEST(PulseRecordsTest, ArchivesKeepEveryFieldButTheInFlightState) {
    auto a = attempt(3, 500);
    a->setInvokeId("1000.5");
    a->setCallbackId((int64_t(1) << 40) + 7);
    a->setResponseBody(Data{1, 2, 3});
    a->setLogSendState(1);
    a->setEventOccuranceId(9);
    a->setSubstitutedUrl("https://p.invalid/x?a=1");
    a->setBody("{\"k\":1}");
    a->setHeaders(TallyPulseCallbackAttemptInfo::Headers{{"X-A", "b"}});
    a->setParams({{"p", Value(1)}});
    a->setCreationTime(platform::Date{12.5});
    a->setBeingFired(true);
    a->setRepeatDuration(90);
    a->setMethod(2);
    a->setExpiration(platform::Date{99.25});

    auto c = a->copy();
    EXPECT_TRUE(c->beingFired());
    EXPECT_EQ(c->creationTime(), a->creationTime());

    auto b = roundTrip(a);
    ASSERT_TRUE(b);
    EXPECT_FALSE(b->beingFired());
    EXPECT_FALSE(b->creationTime());
    a->setBeingFired(false);
    a->setCreationTime(std::nullopt);
    EXPECT_EQ(platform::KeyedArchive::encode(Value(a)), platform::KeyedArchive::encode(Value(b)));
    EXPECT_EQ(b->callbackId(), (int64_t(1) << 40) + 7);

    auto report = std::make_shared<TallyPulseCallbackReportInfo>();
    report->invokeId = "1000.5";
    report->callbackId = (int64_t(1) << 31) + 1;
    report->appendAttempt(a);
    auto invoke = std::make_shared<TallyPulseTriggerInvokeInfo>();
    invoke->includesEventTrigger = true;
    invoke->triggerType = 4;
    invoke->invokeId = "1000.5";
    invoke->sessionId = 1.5e12;
    invoke->sessionOffset = 77;
    invoke->eventOccuranceId = 7;
    invoke->eventName = "level_done";
    invoke->appendCallback(report);
    auto back = roundTrip(invoke);
    ASSERT_TRUE(back);
    EXPECT_EQ(platform::KeyedArchive::encode(Value(back)), platform::KeyedArchive::encode(Value(invoke)));
    EXPECT_FALSE(invoke->dataDictionary().count("includesEventTrigger"));
    EXPECT_EQ(TallyPulseTriggerInvokeInfo::initWithDictionary(invoke->dataDictionary())->eventName, "level_done");

    // Stored records of the wrong shape read as nothing.
    platform::ArchiveEncoder bad;
    bad.encode("httpStatus", "200");
    EXPECT_FALSE(TallyPulseCallbackAttemptInfo::initWithCoder(platform::ArchiveDecoder(bad.fields())));
    platform::ArchiveEncoder badList;
    badList.encode("attempts", Value::Array{Value("not an attempt")});
    EXPECT_FALSE(TallyPulseCallbackReportInfo::initWithCoder(platform::ArchiveDecoder(badList.fields())));
    platform::ArchiveEncoder badInvoke;
    badInvoke.encode("callbacks", Value(7));
    EXPECT_FALSE(TallyPulseTriggerInvokeInfo::initWithCoder(platform::ArchiveDecoder(badInvoke.fields())));
}

TEST(PulseRecordsTest, MethodsTriggersAndTheEventMap) {
    EXPECT_EQ(TallyPulseCallback::pulseMethodStringToEnum("post"), 0);
    EXPECT_EQ(TallyPulseCallback::pulseMethodStringToEnum("POST"), 2);
    EXPECT_EQ(TallyPulseCallback::pulseMethodStringToEnum(std::nullopt), 0);
    EXPECT_EQ(TallyPulseCallback::pulseMethodEnumToString(1), "PUT");

    // Value lists are part of a trigger's identity (a trigger for [a, b] and one for [c] are two
    // keys), but not their order or repeats.
    TallyPulseEventTrigger ab("purchase", "item", std::vector<std::string>{"a", "b"});
    TallyPulseEventTrigger c("purchase", "item", std::vector<std::string>{"c"});
    TallyPulseEventTrigger ba("purchase", "item", std::vector<std::string>{"b", "a", "a"});
    TallyPulseEventTrigger bare("purchase");
    EXPECT_FALSE(ab == c);
    EXPECT_TRUE(ab == ba);
    EXPECT_EQ(ab.hash(), ba.hash());
    EXPECT_FALSE(bare == ab);

    // The last matching key in map order decides alone, each of its ids once; lists are not merged.
    TallyPulseSettings s;
    s.addCallbackForEvent("level_done", 1);
    s.addCallbackForTrigger(std::make_shared<TallyPulseEventTrigger>(TallyPulseEventTrigger("level_done")), 4);
    s.addCallbackForTrigger(std::make_shared<TallyPulseEventTrigger>(
                                TallyPulseEventTrigger("level_done", "mode", std::vector<std::string>{"hard", "5"})),
                            2);
    for (int i = 0; i < 2; ++i)
        s.addCallbackForTrigger(std::make_shared<TallyPulseEventTrigger>(
                                    TallyPulseEventTrigger("level_done", "mode", std::vector<std::string>{"easy"})),
                                3);
    using Ids = std::vector<int64_t>;
    EXPECT_EQ(s.callbackIdsForEvent("level_done", {{"mode", Value("easy")}}), (Ids{3}));
    EXPECT_EQ(s.callbackIdsForEvent("level_done", {{"mode", Value("hard")}}), (Ids{2}));
    EXPECT_EQ(s.callbackIdsForEvent("level_done", {{"mode", Value(5)}}), (Ids{2}));
    EXPECT_EQ(s.callbackIdsForEvent("level_done", {{"mode", Value("other")}}), (Ids{4}));
    EXPECT_EQ(s.callbackIdsForEvent("level_done", {}), (Ids{4}));
    EXPECT_FALSE(s.callbackIdsForEvent("other", {}));
}

TEST(PulseRecordsTest, SettingsArchiveAndDictionaryForms) {
    auto s = std::make_shared<TallyPulseSettings>();
    s->lastResponseTime = 5;
    s->nextRefreshTTL = 1'000'003'600'500;
    s->expirationTTL = 1'000'604'800'500;
    auto cb = std::make_shared<TallyPulseCallback>();
    cb->callbackId = int64_t(1) << 35;
    cb->headers = TallyPulseCallback::Headers{{"A", "b"}};
    auto bare = std::make_shared<TallyPulseCallback>();
    bare->callbackId = 3;
    s->callbacks = TallyPulseSettings::Callbacks{{cb->callbackId, cb}, {bare->callbackId, bare}};
    s->addCallbackForEvent("e", cb->callbackId);
    s->addCallbackForTrigger(std::make_shared<TallyPulseEventTrigger>(
                                 TallyPulseEventTrigger("e", "p", std::vector<std::string>{"v"})),
                             cb->callbackId);
    s->maxCallbackRetries = 3;
    s->maxCallbackAttemptsPerReport = 15;
    s->maxReportDelaySecs = 600;
    s->agentReportUrl = "https://r.invalid/pcr.do";
    s->globalSettings = {{"logLevel", Value("OFF")}};
    s->setAnalytics({{"analytics_enabled", Value(true)}, {"max_session_properties", Value(10)}});

    auto back = roundTrip(s);
    ASSERT_TRUE(back);
    EXPECT_EQ(platform::KeyedArchive::encode(Value(back)), platform::KeyedArchive::encode(Value(s)));
    EXPECT_EQ(back->callbackIdsForEvent("e", {{"p", Value("v")}}), (std::vector<int64_t>{cb->callbackId}));
    // Absent templates and headers stay absent, not empty.
    EXPECT_FALSE(back->callbacks->at(bare->callbackId)->bodyTemplate);
    EXPECT_FALSE(back->callbacks->at(bare->callbackId)->headers);
    auto fromDict = TallyPulseSettings::initWithDictionary(s->dataDictionary());
    ASSERT_TRUE(fromDict);
    EXPECT_EQ(fromDict->callbacks->at(cb->callbackId)->headers, cb->headers);
    EXPECT_EQ(fromDict->nextRefreshTTL, s->nextRefreshTTL);

    platform::ArchiveEncoder bad;
    bad.encode("callbackEventsMap", Value::Array{Value(Value::Array{Value(3), Value(Value::Array{})})});
    EXPECT_FALSE(TallyPulseSettings::initWithCoder(platform::ArchiveDecoder(bad.fields())));
    platform::ArchiveEncoder badTtl;
    badTtl.encode("expirationTTL", Value("soon"));
    EXPECT_FALSE(TallyPulseSettings::initWithCoder(platform::ArchiveDecoder(badTtl.fields())));
}

TEST(PulseRecordsTest, StatusReportHeaderRecordsAndTrailingChecksum) {
    testing_support::TempDir dir;
    platform::Directories::setRootOverride(dir.path());
    platform::DeviceFacts::setSystemVersion("6.1.0");
    TallyGlobalPersistentManager::cleanup();
    TallyGlobalVariableStorage::cleanup();
    TallyGlobalVariableStorage::sharedInstance()->setApiKey("KEY");
    TallyGlobalVariableStorage::sharedInstance()->setAppVersion("1.2");
    std::string const vendor = TallyUtil::getIdentifierForVendor().value_or("");
    ASSERT_EQ(vendor.size(), 36u);

    auto expected = [&](Data const& records, uint16_t n) {
        Data d = {0, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 'K', 'E', 'Y', 0, 3, '1', '.', '2', 0, 189, 0, 2,
                  0, 5, '6', '.', '1', '.', '0', 0, 0, 1, 0, 6, 0, 36};
        d.insert(d.end(), vendor.begin(), vendor.end());
        d.insert(d.end(), {0, 1, 0, 0, 0, 36});
        d.insert(d.end(), vendor.begin(), vendor.end());
        d.insert(d.end(), {uint8_t(n >> 8), uint8_t(n)});
        d.insert(d.end(), records.begin(), records.end());
        return d;
    };
    for (auto const& [records, n] : std::vector<std::pair<std::vector<Data>, uint16_t>>{{{}, 0}, {{{1, 2}, {3}}, 2}}) {
        Data joined;
        for (auto const& r : records) joined.insert(joined.end(), r.begin(), r.end());
        auto report = TallyPulseCallbackReportManager::callbackStatusDataForReports(records);
        ASSERT_TRUE(report);
        Data want = expected(joined, n);
        ASSERT_EQ(report->size(), want.size() + 4);
        std::copy(report->begin() + 4, report->begin() + 12, want.begin() + 4);  // the time of building
        EXPECT_EQ(Data(report->begin(), report->end() - 4), want);
        uint32_t const crc = platform::crc32(want.data(), want.size());
        EXPECT_EQ(Data(report->end() - 4, report->end()),
                  (Data{uint8_t(crc >> 24), uint8_t(crc >> 16), uint8_t(crc >> 8), uint8_t(crc)}));
    }
    TallyGlobalPersistentManager::cleanup();
    TallyGlobalVariableStorage::cleanup();
    platform::DeviceFacts::setSystemVersion(std::nullopt);
    platform::Directories::setRootOverride(std::nullopt);
}

}  // namespace
