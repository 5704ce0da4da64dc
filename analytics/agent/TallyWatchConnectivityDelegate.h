#pragma once
// The agent's receiver of watch user info: the phone session and the watch-extension session.
#include "platform/base/Value.h"

class TallyWatchConnectivityDelegate {
public:
    virtual ~TallyWatchConnectivityDelegate() = default;
    // Whether the agent took the user info as its own (and kept what it needs of it). The phone
    // session takes nothing: what reaches the phone always goes on to the host.
    virtual bool didReceiveUserInfo(platform::Value::Dict const&) { return false; }
    // Whether the user info carries one of the agent's keys.
    virtual bool isTallyUserInfo(platform::Value::Dict const& userInfo) const { return hasTallyKeys(userInfo); }
    static bool hasTallyKeys(platform::Value::Dict const& userInfo) {
        return userInfo.count("tally://id1") || userInfo.count("tally://id2");
    }
};
