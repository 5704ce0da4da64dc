#pragma once
// Records store purchases: reads the receipt, asks the store for the product, logs the
// purchase event with its "fl." parameters on the current session and tells the caller how it
// went (0 not recorded, 1 recorded, 2 refused by a limit or an oversized receipt).
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "analytics/delivery/TallyRecordTransactionRequest.h"
#include "platform/base/WorkQueue.h"

class TallyRecordTransactionRequestManager {
public:
    static constexpr size_t kMaxReceiptKilobytes = 100;
    using StatusCallback = std::function<void(int32_t)>;

    static std::shared_ptr<TallyRecordTransactionRequestManager> sharedInstance();
    TallyRecordTransactionRequestManager();

    // Queues the recording and returns at once.
    void recordTransaction(SKPaymentTransaction transaction, StatusCallback statusCallback);
    // The status the caller hears for an event status of the session.
    static int32_t statusForEventStatus(int32_t eventStatus);

    size_t pendingRequestCount();
    platform::WorkQueue& sessionResourceAccessQueue() { return *queue_; }

private:
    void record(SKPaymentTransaction const& transaction, StatusCallback const& statusCallback);
    void answered(std::shared_ptr<TallyRecordTransactionRequest> const& request, std::shared_ptr<TallyTransaction> const& record,
                  StatusCallback const& statusCallback);

    std::vector<std::shared_ptr<TallyRecordTransactionRequest>> transactionRequests_;  // on the queue
    std::unique_ptr<platform::WorkQueue> queue_;
};
