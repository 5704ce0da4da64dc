#pragma once
// The link to a paired watch. Linux has no watch, so there is no default instance unless a host
// (or a test) installs one.
#include <memory>

#include "platform/base/Value.h"

class TallyWatchConnectivityDelegate {
public:
    virtual ~TallyWatchConnectivityDelegate() = default;
    // Whether the received user info was the agent's own.
    virtual bool tallyUserInfo(platform::Value::Dict const& userInfo) = 0;
};

class TallyWatchConnectivity {
public:
    virtual ~TallyWatchConnectivity() = default;
    static std::shared_ptr<TallyWatchConnectivity> defaultConnectivty();
    static void setDefaultConnectivty(std::shared_ptr<TallyWatchConnectivity> connectivity);

    virtual void setup() = 0;
    virtual void setDelegate(std::weak_ptr<TallyWatchConnectivityDelegate> delegate) = 0;
    virtual void transferUserInfo(platform::Value::Dict const& userInfo) = 0;
    virtual void disableWatchConnectivity() = 0;
    virtual void disableTransferTallyInfo() = 0;
};
