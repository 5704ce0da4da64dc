#pragma once
// Small values of the agent kept as keychain items of one service, one item per key: raw data,
// UTF-8 strings, or keyed archives of values.
#include <memory>
#include <optional>
#include <string>

#include "platform/base/Keychain.h"
#include "platform/base/Value.h"

using platform::Data;
using platform::Value;

class TallyKeychainWrapper {
public:
    // The agent's one wrapper identity.
    static constexpr char const* kAnalyticsIdentifier = "com.tally.analytics";

    // Nothing for an empty identifier. The service name is the bundle identifier followed
    // directly by the identifier, or the identifier alone without a bundle identifier.
    static std::shared_ptr<TallyKeychainWrapper> keychainWrapperWithIdentifier(std::string const& identifier);

    std::string const& identifier() const { return identifier_; }
    void setIdentifier(std::string identifier) { identifier_ = std::move(identifier); }

    std::optional<Data> dataForKey(std::string const& key) const;
    std::optional<std::string> stringForKey(std::string const& key) const;
    std::optional<Value> objectForKey(std::string const& key) const;
    bool setData(Data const* data, std::string const& key);
    bool setThisDeviceData(Data const* data, std::string const& key);
    bool setString(std::optional<std::string> const& text, std::string const& key);
    bool setThisDeviceString(std::optional<std::string> const& text, std::string const& key);
    // NO for a null value or an empty key.
    bool setObject(Value const& object, std::string const& key);
    bool updateValueData(Data const& data, std::string const& key);
    // An empty key removes every item of the service.
    void removeObjectForKey(std::string const& key);

private:
    explicit TallyKeychainWrapper(std::string identifier) : identifier_(std::move(identifier)) {}
    bool write(Data const* data, std::string const& key, platform::Keychain::Accessibility accessible);
    std::string identifier_;
};
