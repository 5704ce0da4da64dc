#include "analytics/delivery/TallyRecordTransactionRequest.h"

TallyRecordTransactionRequest::TallyRecordTransactionRequest(platform::Data receiptData, SKPaymentTransaction transaction,
                                                             std::optional<platform::Date> sessionStartTime, Callback callback)
    : appleTransaction_(std::move(transaction)),
      receiptData_(std::move(receiptData)),
      sessionStartTime_(sessionStartTime),
      tallyTransactionCallback_(std::move(callback)) {}

void TallyRecordTransactionRequest::start() {
    auto store = TallyStoreKit::shared();
    if (!store) {
        productsRequestDidReceiveResponse(std::nullopt);
        return;
    }
    store->requestProducts({appleTransaction_.payment.productIdentifier},
                           [self = shared_from_this()](std::optional<std::vector<SKProduct>> products) {
                               self->productsRequestDidReceiveResponse(products);
                           });
}

void TallyRecordTransactionRequest::productsRequestDidReceiveResponse(std::optional<std::vector<SKProduct>> const& products) {
    auto self = shared_from_this();
    if (!products || products->size() != 1) {
        if (tallyTransactionCallback_) tallyTransactionCallback_(self, nullptr);
        return;
    }
    SKProduct const& product = products->front();
    auto t = std::make_shared<TallyTransaction>();
    t->productId = product.productIdentifier;
    t->transactionId = appleTransaction_.transactionIdentifier.value_or("");
    t->quanity = appleTransaction_.payment.quantity;
    t->productName = product.localizedTitle.value_or("");
    t->currency = product.currencyCode.value_or("");
    t->receiptData = receiptData_;
    t->price = TallyTransaction::formatPrice(product.price).value_or("");
    t->transactionState = appleTransaction_.transactionState;
    if (tallyTransactionCallback_) tallyTransactionCallback_(self, t);
}
