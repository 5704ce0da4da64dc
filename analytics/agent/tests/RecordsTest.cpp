// Event and error records: their bytes, parameter merges, serial numbers and archive round trips.
#include <gtest/gtest.h>

#include "analytics/agent/TallyAutoIncrement.h"
#include "analytics/agent/TallyClock.h"
#include "analytics/agent/TallyError.h"
#include "analytics/agent/TallyEvent.h"
#include "analytics/agent/TallyUtil.h"

namespace {

class Purchase : public platform::Archivable {
public:
    std::string className() const override { return "TestPurchase"; }
    void encodeWith(platform::ArchiveEncoder&) const override {}
};

Data tail(Data const& d, size_t n) { return Data(d.end() - static_cast<std::ptrdiff_t>(n), d.end()); }

struct Records : ::testing::Test {
    double now = 1000.0;
    void SetUp() override {
        TallyClock::setSource([this] { return platform::Date{now}; });
        TallyAutoIncrement::instance()->resetAll();
        TallyUtil::registerArchiveClasses();
    }
    void TearDown() override { TallyClock::setSource(nullptr); }
};

}  // namespace

TEST_F(Records, EventBytes) {
    TallyEvent e("ab", true, Value::Dict{{"k", Value("v")}, {"n", Value(1.5)}, {"b", Value(true)}});
    e.setEventLogId(70000);
    now += 1.5;
    Data open = e.dataRelativeToSessionStart(platform::Date{999.0});
    Data const want = {0x11, 0x70,                                      // 70000 as 4464
                       0x00, 0x02, 'a', 'b', 0x00, 0x03,                // name, 3 pairs
                       0x00, 0x01, 'b', 0x00, 0x01, '1',                // sorted keys; bools as 1
                       0x00, 0x01, 'k', 0x00, 0x01, 'v',
                       0x00, 0x01, 'n', 0x00, 0x03, '1', '.', '5',
                       0, 0, 0, 0, 0, 0, 0x03, 0xE8,                    // started 1000 ms after the session
                       0, 0, 0, 0, 0, 0, 0, 0};                         // open: no duration
    EXPECT_EQ(open, want);
    e.setEnded(platform::Date{now});
    EXPECT_EQ(tail(e.dataRelativeToSessionStart(platform::Date{999.0}), 8), (Data{0, 0, 0, 0, 0, 0, 0x05, 0xDC}));
    EXPECT_EQ(e.startOffsetFromSessionStart(std::nullopt), 0);

    TallyEvent longName(std::string(300, 'x'));
    Data const d = longName.dataRelativeToSessionStart(platform::Date{now});
    EXPECT_EQ(d[2], 0x00);
    EXPECT_EQ(d[3], 0xFF);  // cut to 255
}

TEST_F(Records, ParameterMergesAndSerialNumbers) {
    TallyEvent e("e", false, Value::Dict{{"text", Value("t")}, {"list", Value(Value::Array{})}});
    EXPECT_EQ(e.parameters(), (Value::Dict{{"text", Value("t")}}));

    Value::Dict eight;
    for (int i = 0; i < 8; ++i) eight["k" + std::to_string(i)] = Value(int64_t{i});
    TallyEvent plain("p", false, eight);
    plain.updateParameters(Value::Dict{{"a", Value(1)}, {"b", Value(2)}, {"c", Value(3)}});
    EXPECT_EQ(plain.parameters(), eight);  // dropped whole
    plain.updateParameters(Value::Dict{{"k0", Value("new")}, {"k1", Value("new")}});
    EXPECT_EQ(plain.parameters().at("k0"), Value("new"));
    EXPECT_EQ(plain.parameters().size(), 8u);

    Value::Dict fifteen;
    for (int i = 0; i < 15; ++i) fifteen["k" + std::to_string(i)] = Value(int64_t{i});
    TallyEvent bought("buy", false, std::nullopt, std::make_shared<Purchase>());
    bought.updateParameters(fifteen);
    EXPECT_EQ(bought.parameters().size(), 15u);
    EXPECT_TRUE(bought.isRevenue());

    TallyAutoIncrement::instance()->resetAll();
    TallyEvent first("a"), second("b");
    TallyError e1, e2;
    EXPECT_EQ(first.eventLogId(), 1);
    EXPECT_EQ(second.eventLogId(), 2);
    EXPECT_EQ(e1.errorID(), 1);
    EXPECT_EQ(e2.errorID(), 2);

    // The counters survive their archive.
    auto back = platform::KeyedArchive::decode(platform::KeyedArchive::encode(Value(TallyAutoIncrement::instance())));
    auto counters = back->objectAs<TallyAutoIncrement>();
    ASSERT_TRUE(counters);
    EXPECT_EQ(counters->nextCountFor(TallyAutoIncrement::kEvents), 3);
}

TEST_F(Records, ErrorBytes) {
    auto e = TallyError::errorWithString(std::string("id"), std::nullopt, std::string("x"), 2, {});
    Data d;
    e->appendToData(d);
    Data const want = {0x00, 0x01,                                      // error ID 1
                       0, 0, 0, 0, 0, 0x0F, 0x42, 0x40,                 // 1,000,000 ms
                       0x00, 0x02, 'i', 'd', 0x00, 0x00,                // no message
                       0x00, 0x01, 'x', 0x02, 0x00};                    // type 2, no report
    EXPECT_EQ(d, want);
    auto withReport = TallyError::errorWithString(std::nullopt, std::nullopt, std::nullopt, 1, Data{7, 8, 9});
    Data r;
    withReport->appendToData(r);
    EXPECT_EQ(tail(r, 8), (Data{0x01, 0x00, 0x00, 0x00, 0x03, 7, 8, 9}));
}

TEST_F(Records, ArchivesKeepIdsDatesAndTypes) {
    TallyEvent e("named", true, Value::Dict{{"k", Value(int64_t{4})}}, std::make_shared<Purchase>());
    e.setEventLogId(42);
    e.setEnded(platform::Date{1234.5});
    auto back = platform::KeyedArchive::decode(platform::KeyedArchive::encode(Value(std::make_shared<TallyEvent>(
        "named", true, Value::Dict{{"k", Value(int64_t{4})}}))));
    ASSERT_TRUE(back);
    auto ev = back->objectAs<TallyEvent>();
    ASSERT_TRUE(ev);
    EXPECT_EQ(ev->name(), "named");
    EXPECT_EQ(ev->started(), platform::Date{1000.0});
    EXPECT_EQ(ev->parameters().at("k"), Value(int64_t{4}));
    EXPECT_TRUE(ev->timed());

    auto err = TallyError::errorWithString(std::string("id"), std::string("m"), std::string("x"), 1, Data{1});
    err->setErrorID(77);
    auto decoded = platform::KeyedArchive::decode(platform::KeyedArchive::encode(Value(err)))->objectAs<TallyError>();
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->errorID(), 77);
    EXPECT_EQ(decoded->date(), platform::Date{1000.0});
    EXPECT_EQ(decoded->reportData(), Data{1});
    EXPECT_EQ(decoded->description(), "errorLogId[77] errorTime[1000.000] errorId[id] errorMessage[m] exception[x] type[1]");

    // Written with other types, a record is no object: dropped, not guessed.
    Data bytes = platform::KeyedArchive::encode(Value(err));
    std::string text(bytes.begin(), bytes.end());
    text.replace(text.find("[\"i\",77]"), 8, "[\"s\",\"7\"]");
    auto wrong = platform::KeyedArchive::decode(Data(text.begin(), text.end()));
    ASSERT_TRUE(wrong);
    EXPECT_TRUE(wrong->isNull());
}
