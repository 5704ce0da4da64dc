#include "analytics/agent/TallyWatch.h"

#include <mutex>

#include "analytics/agent/TallyEvent.h"
#include "analytics/agent/TallyGlobalVariableStorage.h"
#include "analytics/agent/TallyUtil.h"
#include "analytics/agent/TallyWatchSession.h"
#include "analytics/delivery/TallyNetworkUtil.h"
#include "platform/base/DeviceFacts.h"

namespace {

char const* const kApiKeyKey = "Tally Watch API Key";

struct KeyRead {
    std::mutex mutex;
    bool read = false;
    std::optional<std::string> key;
};
KeyRead& keyRead() {
    static auto* k = new KeyRead;
    return *k;
}

}  // namespace

std::optional<std::string> TallyWatch::apiKey() {
    KeyRead& k = keyRead();
    std::lock_guard lock(k.mutex);
    if (!k.read) {
        k.read = true;
        auto const info = platform::DeviceFacts::bundleInfo();
        auto it = info.find(kApiKeyKey);
        if (it != info.end() && it->second.string() && !it->second.string()->empty()) {
            k.key = *it->second.string();
            TallyGlobalVariableStorage::sharedInstance()->setApiKey(k.key);
        } else {
            TallyUtil::log(1, std::string("API Key not provided in plist with key ") + kApiKeyKey +
                                  ", unable to create watch session");
        }
    }
    return k.key;
}

void TallyWatch::resetForTesting() {
    KeyRead& k = keyRead();
    std::lock_guard lock(k.mutex);
    k.read = false;
    k.key.reset();
}

int TallyWatch::logWatchEvent(std::optional<std::string> const& name) { return logWatchEvent(name, std::nullopt); }

int TallyWatch::logWatchEvent(std::optional<std::string> const& name, std::optional<Value::Dict> const& parameters) {
    if (!apiKey()) {
        TallyUtil::log(2, "No API key provided in plist, unable to log event");
        return 0;
    }
    if (!TallyUtil::isInWatchExtension()) {
        TallyUtil::log(2, "Tally: Event not logged -- this method can only be used in watch extension.");
        return 0;
    }
    if (!name) {
        TallyUtil::log(2, "Tally: Event not logged -- eventName must be of NSString type.");
        return 0;
    }
    if (name->empty()) {
        TallyUtil::log(2, "Tally: Event not logged -- eventName may not be empty.");
        return 0;
    }
    if (parameters && parameters->size() > TallyEvent::kMaxParameters) {
        TallyUtil::log(2, "Tally: Event not logged -- parameters may not contain more than " +
                              std::to_string(TallyEvent::kMaxParameters) + " elements.");
        return 3;
    }
    try {
        TallyWatchSession::queue().async([name, parameters] {
            if (auto s = TallyWatchSession::currentWatchSession()) s->recordWatchEvent(name, parameters);
        });
        return 1;
    } catch (...) {
        TallyUtil::handleException(std::current_exception());
        return 0;
    }
}

bool TallyWatch::errorArgumentsValid(std::optional<std::string> const& errorId, std::optional<std::string> const& message) {
    if (!apiKey()) {
        TallyUtil::log(2, "No API key provided in plist, unable to log error");
        return false;
    }
    if (!TallyUtil::isInWatchExtension()) {
        TallyUtil::log(2, "Tally: Error not logged -- this method can only be used in watch extension.");
        return false;
    }
    return TallyUtil::errorTextsPresent(errorId.has_value(), message.has_value());
}

void TallyWatch::logWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                               std::optional<platform::Error> const& error) {
    TallyUtil::guarded([&] {
        if (!errorArgumentsValid(errorId, message)) return;
        TallyWatchSession::queue().async([=] {
            if (auto s = TallyWatchSession::currentWatchSession()) s->recordWatchError(errorId, message, error);
        });
    });
}

void TallyWatch::logWatchError(std::optional<std::string> const& errorId, std::optional<std::string> const& message,
                               TallySession::ExceptionInfo const& exception) {
    TallyUtil::guarded([&] {
        if (!errorArgumentsValid(errorId, message)) return;
        TallyWatchSession::queue().async([=] {
            if (auto s = TallyWatchSession::currentWatchSession()) s->recordWatchError(errorId, message, exception);
        });
    });
}

void TallyWatch::disableWatchConnectivity() {
    TallyUtil::guarded([] {
        TallyWatchSession::queue().async([] {
            if (auto s = TallyWatchSession::currentWatchSession()) s->disableWatchConnectivity();
        });
    });
}

// Answered at once, on the watch session's queue, which alone makes and ends watch sessions.
bool TallyWatch::isTallyUserInfo(Value::Dict const& userInfo) {
    bool answer = false;
    TallyUtil::guarded([&] {
        TallyWatchSession::queue().sync([&] {
            if (auto s = TallyWatchSession::currentWatchSession()) answer = s->isTallyUserInfo(userInfo);
        });
    });
    return answer;
}

bool TallyWatch::tallyUserInfo(Value::Dict const& userInfo) {
    bool answer = false;
    TallyUtil::guarded([&] {
        TallyWatchSession::queue().sync([&] {
            if (auto s = TallyWatchSession::currentWatchSession()) answer = s->tallyUserInfo(userInfo);
        });
    });
    return answer;
}

void TallyWatch::setServerURL(std::string const& url) {
    TallyUtil::guarded([&] { TallyNetworkUtil::setServerURL(url); });
}
