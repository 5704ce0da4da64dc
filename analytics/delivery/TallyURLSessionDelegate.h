#pragma once
// The delegate of a session-based request: redirects are followed without counting, and a bad
// final status alone fails the request without an error.
#include "analytics/delivery/TallyHttpRequestDelegate.h"

class TallyURLSessionDelegate : public TallyHttpRequestDelegate {
public:
    using TallyHttpRequestDelegate::TallyHttpRequestDelegate;

    // cancelTask: the request ends as a failure with the cancellation error.
    void cancel();

protected:
    void finished() override;
    void failed(platform::Error error) override;
};
