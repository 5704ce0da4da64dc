#pragma once
// What a watch session tells its delegate. Every operation has a default that does nothing: a
// delegate overrides what it answers. Called on the session's own thread.
#include <memory>
#include <optional>

#include "platform/base/Value.h"
#include "platform/base/WatchUserInfoTransfer.h"

namespace platform {

class WatchSession;

class WatchSessionDelegate {
public:
    virtual ~WatchSessionDelegate() = default;
    virtual void activationDidComplete(std::shared_ptr<WatchSession> const&, bool /*activated*/) {}
    virtual void didReceiveUserInfo(std::shared_ptr<WatchSession> const&, Value::Dict const&) {}
    // The transfer reached the counterpart (no error) or was given up.
    virtual void didFinishUserInfoTransfer(std::shared_ptr<WatchSession> const&,
                                           std::shared_ptr<WatchUserInfoTransfer> const&, std::optional<Error> const&) {}
};

}  // namespace platform
