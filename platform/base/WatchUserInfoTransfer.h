#pragma once
// One user-info dictionary on its way to the paired counterpart.
#include "platform/base/Value.h"

namespace platform {

struct WatchUserInfoTransfer {
    Value::Dict userInfo;
};

}  // namespace platform
