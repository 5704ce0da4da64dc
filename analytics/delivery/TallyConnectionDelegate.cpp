#include "analytics/delivery/TallyConnectionDelegate.h"

#include "analytics/delivery/TallyNetworkUtil.h"

void TallyConnectionDelegate::cancel() {
    silenced_ = true;
    stopTransfer();
    // The transfer will never end, so the delegate lets go of its task and requester here.
    post([self = std::static_pointer_cast<TallyConnectionDelegate>(shared_from_this())] { self->end(End::Cancel); });
}

void TallyConnectionDelegate::redirected(int32_t count) {
    redirectCount_ = count;
    if (auto t = task()) t->setRedirectsCount(count);
}

void TallyConnectionDelegate::finished() {
    int64_t const status = response_ ? response_->statusCode : 0;
    if (status >= 200 && status <= 299) {
        TallyNetworkUtil::setLastNetworkOperationError(std::nullopt);
        end(End::Success);
    } else {
        platform::Error e;
        e.domain = kFailedToLoadDomain;
        e.code = 4;
        TallyNetworkUtil::setLastNetworkOperationError(e);
        end(End::Fail);
    }
}

void TallyConnectionDelegate::failed(platform::Error error) {
    error_ = error;
    TallyNetworkUtil::setLastNetworkOperationError(error);
    end(End::Fail);
}
