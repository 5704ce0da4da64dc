#pragma once
// The object that builds request bodies around stored session datas (the session).
#include <optional>
#include <vector>

#include "platform/base/Value.h"

class TallyDataSenderDelegate {
public:
    virtual ~TallyDataSenderDelegate() = default;
    // The datas in index order; nothing when no body can be built.
    virtual std::optional<platform::Data> dataForSending(std::vector<platform::Data> const& datas) = 0;
};
