#pragma once
// The delegate of a connection-based request: counts redirects into its task, and ends with
// success only for 2xx; any other final status fails with the "Failed to load url" error.
#include "analytics/delivery/TallyHttpRequestDelegate.h"

class TallyConnectionDelegate : public TallyHttpRequestDelegate {
public:
    static constexpr char const* kFailedToLoadDomain = "Failed to load url";
    using TallyHttpRequestDelegate::TallyHttpRequestDelegate;

    // cancelTask: the request stops and no requester call follows.
    void cancel();

protected:
    void finished() override;
    void failed(platform::Error error) override;
    void redirected(int32_t count) override;
};
