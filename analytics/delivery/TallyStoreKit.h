#pragma once
// The store the purchase recorder asks: the app's receipt bytes and the details of a product.
// Linux has no store, so by default there is no receipt (every purchase reports status 0);
// tests and a host with a store set their own.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/base/Value.h"

struct SKPayment {
    std::string productIdentifier;
    int64_t quantity = 1;
};

struct SKPaymentTransaction {
    std::optional<std::string> transactionIdentifier;
    int64_t transactionState = 0;
    SKPayment payment;
};

struct SKProduct {
    std::string productIdentifier;
    std::optional<std::string> localizedTitle;
    std::string price;  // decimal text, as the store's decimal number gives it ("1234.5")
    std::optional<std::string> currencyCode;
};

class TallyStoreKit {
public:
    virtual ~TallyStoreKit() = default;
    // The app's store receipt, or nothing when it cannot be read.
    virtual std::optional<platform::Data> appStoreReceipt() = 0;
    // Looks the products up and answers once, on any thread: the products found, or nothing
    // when the lookup failed outright.
    virtual void requestProducts(std::set<std::string> const& identifiers,
                                 std::function<void(std::optional<std::vector<SKProduct>>)> answer) = 0;

    static std::shared_ptr<TallyStoreKit> shared();
    static void setShared(std::shared_ptr<TallyStoreKit> store);
};
