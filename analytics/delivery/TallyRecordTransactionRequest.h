#pragma once
// One purchase being recorded: asks the store for the product of the transaction and answers
// with the transaction record, or with nothing when the lookup did not give one product.
#include <functional>
#include <memory>
#include <optional>

#include "analytics/delivery/TallyStoreKit.h"
#include "analytics/delivery/TallyTransaction.h"

class TallyRecordTransactionRequest : public std::enable_shared_from_this<TallyRecordTransactionRequest> {
public:
    using Callback = std::function<void(std::shared_ptr<TallyRecordTransactionRequest> const&, std::shared_ptr<TallyTransaction>)>;

    TallyRecordTransactionRequest(platform::Data receiptData, SKPaymentTransaction transaction,
                                  std::optional<platform::Date> sessionStartTime, Callback callback);
    void start();
    // The store's answer: nothing when the lookup failed outright.
    void productsRequestDidReceiveResponse(std::optional<std::vector<SKProduct>> const& products);

    SKPaymentTransaction const& appleTransaction() const { return appleTransaction_; }
    platform::Data const& receiptData() const { return receiptData_; }
    std::optional<platform::Date> sessionStartTime() const { return sessionStartTime_; }

private:
    SKPaymentTransaction appleTransaction_;
    platform::Data receiptData_;
    std::optional<platform::Date> sessionStartTime_;
    Callback tallyTransactionCallback_;
};
