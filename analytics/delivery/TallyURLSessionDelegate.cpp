#include "analytics/delivery/TallyURLSessionDelegate.h"

#include "analytics/delivery/TallyNetworkUtil.h"

void TallyURLSessionDelegate::cancel() {
    stopTransfer();
    post([self = std::static_pointer_cast<TallyURLSessionDelegate>(shared_from_this())] {
        if (!self->isDone()) self->failed(errorFor({HttpNetworkThread::kCancelled, "cancelled"}));
    });
}

void TallyURLSessionDelegate::finished() {
    int64_t const status = response_ ? response_->statusCode : 0;
    if (status >= 200 && status <= 299) {
        TallyNetworkUtil::setLastNetworkOperationError(std::nullopt);
        end(End::Success);
    } else {
        TallyNetworkUtil::setLastNetworkOperationError(std::nullopt);
        end(End::Fail);
    }
}

void TallyURLSessionDelegate::failed(platform::Error error) {
    error_ = error;
    TallyNetworkUtil::setLastNetworkOperationError(error);
    end(End::Fail);
}
