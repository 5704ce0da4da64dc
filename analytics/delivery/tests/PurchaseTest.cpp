// Purchases through a fake store: receipt limits, the purchase event and its "fl." parameters,
// the caller's status for every kind of answer, and the record's stored form.
#include <gtest/gtest.h>

#include <future>
#include <mutex>

#include "analytics/delivery/TallyPulseSessionSeam.h"
#include "analytics/delivery/TallyRecordTransactionRequestManager.h"

namespace {

using platform::Value;

class FakeStore : public TallyStoreKit {
public:
    std::optional<platform::Data> receipt = platform::Data(1000, 'r');
    std::optional<std::vector<SKProduct>> products;
    bool answers = true;

    std::optional<platform::Data> appStoreReceipt() override { return receipt; }
    void requestProducts(std::set<std::string> const& ids, std::function<void(std::optional<std::vector<SKProduct>>)> answer) override {
        asked = ids;
        // The store answers on a thread of its own.
        if (answers) std::thread([answer, p = products] { answer(p); }).detach();
        else std::thread([answer] { answer(std::nullopt); }).detach();
    }
    std::set<std::string> asked;
};

struct Logged {
    std::string name;
    Value::Dict params;
    std::shared_ptr<TallyTransaction> transaction;
};

class PurchaseTest : public ::testing::Test {
protected:
    void SetUp() override {
        TallyStoreKit::setShared(store);
        TallyPulseSessionSeam seam;
        seam.currentSessionStartTime = [] { return platform::Date{1000}; };
        seam.recordEvent = [this](std::string const& name, Value::Dict const& params, bool timed,
                                  std::shared_ptr<TallyTransaction> const& t) {
            EXPECT_FALSE(timed);
            std::lock_guard lock(mutex);
            logged.push_back({name, params, t});
            return eventStatus;
        };
        TallyPulseSessionSeam::install(seam);
    }
    void TearDown() override {
        TallyStoreKit::setShared(nullptr);
        TallyPulseSessionSeam::install({});
    }
    // Records one purchase and returns every status the caller heard.
    std::vector<int32_t> purchase(SKPaymentTransaction t = transaction()) {
        auto manager = TallyRecordTransactionRequestManager::sharedInstance();
        std::promise<void> done;
        std::vector<int32_t> statuses;
        manager->recordTransaction(t, [&](int32_t s) {
            statuses.push_back(s);
            done.set_value();
        });
        EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(5)), std::future_status::ready);
        manager->sessionResourceAccessQueue().waitUntilIdle();
        EXPECT_EQ(manager->pendingRequestCount(), 0u);
        return statuses;
    }
    static SKPaymentTransaction transaction() {
        SKPaymentTransaction t;
        t.transactionIdentifier = "T-1";
        t.transactionState = 1;
        t.payment = {"gems.100", 2};
        return t;
    }
    static SKProduct product(std::string price = "1234.5") {
        return SKProduct{"gems.100", "100 Gems", std::move(price), "EUR"};
    }

    std::shared_ptr<FakeStore> store = std::make_shared<FakeStore>();
    std::mutex mutex;
    std::vector<Logged> logged;
    int32_t eventStatus = 1;
};

TEST_F(PurchaseTest, OneProductLogsOnePurchaseEvent) {
    store->products = std::vector<SKProduct>{product()};
    EXPECT_EQ(purchase(), (std::vector<int32_t>{1}));
    EXPECT_EQ(store->asked, (std::set<std::string>{"gems.100"}));
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].name, "Tally.purchase");
    Value::Dict const expected = {
        {"fl.Price", Value("1,234.5")}, {"fl.Quantity", Value(2)}, {"fl.ProductID", Value("gems.100")},
        {"fl.Currency", Value("EUR")}, {"fl.ProductName", Value("100 Gems")}, {"fl.TransactionIdentifier", Value("T-1")},
        {"fl.Result", Value("Success")}};
    EXPECT_EQ(logged[0].params, expected);
    ASSERT_TRUE(logged[0].transaction);
    EXPECT_EQ(logged[0].transaction->receiptData.size(), 1000u);
    EXPECT_EQ(logged[0].transaction->description(),
              "{ fl.Price = 1,234.5 , fl.Quantity = 2, fl.ProductID = gems.100 , fl.Currency = EUR , fl.ProductName = 100 Gems "
              ",fl.TransactionIdentifier = T-1 , fl.Result = Success }");

    // A restored purchase, a product without a title, and what the session's answer becomes.
    auto restored = transaction();
    restored.transactionState = 3;
    store->products = std::vector<SKProduct>{SKProduct{"gems.100", std::nullopt, "0.99", std::nullopt}};
    for (auto [status, heard] : std::vector<std::pair<int32_t, int32_t>>{{5, 1}, {2, 2}, {4, 2}, {3, 0}, {0, 0}}) {
        eventStatus = status;
        EXPECT_EQ(purchase(restored), (std::vector<int32_t>{heard})) << status;
    }
    EXPECT_EQ(logged.back().params.at("fl.Result"), Value("Restored"));
    EXPECT_EQ(logged.back().params.at("fl.Price"), Value("0.99"));
    EXPECT_EQ(logged.back().params.at("fl.ProductName"), Value(""));
}

TEST_F(PurchaseTest, ReceiptsAndLookupsThatRecordNothing) {
    store->products = std::vector<SKProduct>{product()};
    store->receipt = platform::Data(102'400, 'r');
    EXPECT_EQ(purchase(), (std::vector<int32_t>{1}));
    store->receipt = platform::Data(102'401, 'r');
    EXPECT_EQ(purchase(), (std::vector<int32_t>{2}));
    store->receipt.reset();
    EXPECT_EQ(purchase(), (std::vector<int32_t>{0}));
    EXPECT_EQ(logged.size(), 1u);

    store->receipt = platform::Data(10, 'r');
    store->products = std::vector<SKProduct>{product(), product()};
    EXPECT_EQ(purchase(), (std::vector<int32_t>{0}));
    store->products = std::vector<SKProduct>{};
    EXPECT_EQ(purchase(), (std::vector<int32_t>{0}));
    // A lookup that fails outright ends its request too (none is left waiting).
    store->answers = false;
    EXPECT_EQ(purchase(), (std::vector<int32_t>{0}));
    EXPECT_EQ(logged.size(), 1u);
    // No store at all (Linux): no receipt.
    TallyStoreKit::setShared(nullptr);
    EXPECT_EQ(purchase(), (std::vector<int32_t>{0}));
}

TEST(TransactionRecordTest, PricesNamesAndTheStoredForm) {
    std::vector<std::pair<std::string, std::string>> const prices = {
        {"0.99", "0.99"},   {"1234.5", "1,234.5"}, {"1234567.125", "1,234,567.125"}, {"2.0005", "2"},
        {"2.0015", "2.002"}, {"2.00051", "2.001"}, {"999.9995", "1,000"},           {"-1000", "-1,000"},
        {"007", "7"},       {".5", "0.5"},        {"0.0004", "0"}};
    for (auto const& [in, out] : prices) EXPECT_EQ(TallyTransaction::formatPrice(in), out) << in;
    for (std::string bad : {"", "abc", "1,000", "1.2.3", "-", "1e5"}) EXPECT_FALSE(TallyTransaction::formatPrice(bad)) << bad;
    EXPECT_EQ(TallyTransaction::transactionEventEnumToString(4), "Deferred");
    EXPECT_EQ(TallyTransaction::transactionEventEnumToString(9), "Unknown");

    TallyTransaction::registerArchiveClass();
    auto t = std::make_shared<TallyTransaction>();
    t->transactionId = "T";
    t->productId = "P";
    t->quanity = 3;
    t->price = "1.5";
    t->currency = "USD";
    t->productName = "N";
    t->receiptData = {1, 2, 3};
    t->transactionState = 2;
    auto archived = platform::KeyedArchive::encode(Value(t));
    auto back = platform::KeyedArchive::decode(archived)->objectAs<TallyTransaction>();
    ASSERT_TRUE(back);
    EXPECT_EQ(platform::KeyedArchive::encode(Value(back)), archived);
    platform::ArchiveEncoder e;
    t->encodeWith(e);
    EXPECT_EQ(e.fields().at("quanity"), Value(3));
}

}  // namespace
