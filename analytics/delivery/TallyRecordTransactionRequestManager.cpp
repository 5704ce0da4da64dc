#include "analytics/delivery/TallyRecordTransactionRequestManager.h"

#include <openssl/evp.h>

#include <algorithm>

#include "analytics/agent/TallyUtil.h"
#include "analytics/delivery/TallyPulseSessionSeam.h"

using platform::Value;

namespace {
std::string base64(platform::Data const& data) {
    std::string out(4 * ((data.size() + 2) / 3) + 1, '\0');
    int const n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(), int(data.size()));
    out.resize(size_t(std::max(n, 0)));
    return out;
}
}  // namespace

std::shared_ptr<TallyRecordTransactionRequestManager> TallyRecordTransactionRequestManager::sharedInstance() {
    // Never destroyed: a store answering at exit must not find it gone.
    static auto* instance =
        new std::shared_ptr<TallyRecordTransactionRequestManager>(std::make_shared<TallyRecordTransactionRequestManager>());
    return *instance;
}

TallyRecordTransactionRequestManager::TallyRecordTransactionRequestManager()
    : queue_(std::make_unique<platform::WorkQueue>("com.Tally.resourceAccessQueue")) {}

int32_t TallyRecordTransactionRequestManager::statusForEventStatus(int32_t eventStatus) {
    if (eventStatus == 1 || eventStatus == 5) return 1;
    if (eventStatus == 2 || eventStatus == 4) return 2;
    return 0;
}

void TallyRecordTransactionRequestManager::recordTransaction(SKPaymentTransaction transaction, StatusCallback statusCallback) {
    queue_->async([this, transaction = std::move(transaction), statusCallback = std::move(statusCallback)] {
        TallyUtil::guarded([&] { record(transaction, statusCallback); });
    });
}

void TallyRecordTransactionRequestManager::record(SKPaymentTransaction const& transaction, StatusCallback const& statusCallback) {
    auto store = TallyStoreKit::shared();
    std::optional<platform::Data> receipt = store ? store->appStoreReceipt() : std::nullopt;
    if (TallyUtil::logLevel() >= 2) TallyUtil::log(2, "Receipt(Base64) = " + (receipt ? base64(*receipt) : std::string("(null)")));
    if (!receipt) {
        if (statusCallback) statusCallback(0);
        return;
    }
    if ((receipt->size() + 1023) / 1024 > kMaxReceiptKilobytes) {
        if (statusCallback) statusCallback(2);
        if (TallyUtil::logLevel() >= 2) TallyUtil::log(2, "Reciept > 100KB. Receipt data = " + base64(*receipt));
        return;
    }
    auto const seam = TallyPulseSessionSeam::current();
    auto const start = seam.currentSessionStartTime ? seam.currentSessionStartTime() : std::nullopt;
    auto request = std::make_shared<TallyRecordTransactionRequest>(
        std::move(*receipt), transaction, start,
        [this, statusCallback](std::shared_ptr<TallyRecordTransactionRequest> const& r, std::shared_ptr<TallyTransaction> record) {
            queue_->async([this, r, record, statusCallback] { TallyUtil::guarded([&] { answered(r, record, statusCallback); }); });
        });
    transactionRequests_.push_back(request);
    request->start();
}

void TallyRecordTransactionRequestManager::answered(std::shared_ptr<TallyRecordTransactionRequest> const& request,
                                                    std::shared_ptr<TallyTransaction> const& record,
                                                    StatusCallback const& statusCallback) {
    // Removed first, so a callback that throws cannot leave the request behind.
    std::erase(transactionRequests_, request);
    if (!record) {
        if (statusCallback) statusCallback(0);
        return;
    }
    Value::Dict params = {
        {"fl.Price", Value(record->price)},
        {"fl.Quantity", Value(record->quanity)},
        {"fl.ProductID", Value(record->productId)},
        {"fl.Currency", Value(record->currency)},
        {"fl.ProductName", Value(record->productName)},
        {"fl.TransactionIdentifier", Value(record->transactionId)},
        {"fl.Result", Value(TallyTransaction::transactionEventEnumToString(record->transactionState))},
    };
    auto const seam = TallyPulseSessionSeam::current();
    int32_t const eventStatus = seam.recordEvent ? seam.recordEvent("Tally.purchase", params, false, record) : 0;
    TallyUtil::log(2, "Transaction = " + record->description());
    if (statusCallback) statusCallback(statusForEventStatus(eventStatus));
}

size_t TallyRecordTransactionRequestManager::pendingRequestCount() {
    size_t n = 0;
    queue_->sync([&] { n = transactionRequests_.size(); });
    return n;
}
