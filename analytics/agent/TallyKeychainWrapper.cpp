#include "analytics/agent/TallyKeychainWrapper.h"

#include "analytics/agent/TallyUtil.h"
#include "platform/base/DeviceFacts.h"
#include "platform/base/KeyedArchive.h"

using platform::Keychain;

namespace {
Data keyBytes(std::string const& key) { return Data(key.begin(), key.end()); }
}  // namespace

std::shared_ptr<TallyKeychainWrapper> TallyKeychainWrapper::keychainWrapperWithIdentifier(
    std::string const& identifier) {
    if (identifier.empty()) return nullptr;
    Value::Dict const info = platform::DeviceFacts::bundleInfo();
    std::string service = identifier;
    if (auto it = info.find("CFBundleIdentifier"); it != info.end() && it->second.string())
        service = *it->second.string() + identifier;
    return std::shared_ptr<TallyKeychainWrapper>(new TallyKeychainWrapper(service));
}

std::optional<Data> TallyKeychainWrapper::dataForKey(std::string const& key) const {
    Data out;
    if (Keychain::copyMatching(identifier_, keyBytes(key), out) != Keychain::kSuccess) return std::nullopt;
    return out;
}

std::optional<std::string> TallyKeychainWrapper::stringForKey(std::string const& key) const {
    auto d = dataForKey(key);
    if (!d) return std::nullopt;
    std::string s(d->begin(), d->end());
    if (!platform::isValidUtf8(s)) return std::nullopt;
    return s;
}

std::optional<Value> TallyKeychainWrapper::objectForKey(std::string const& key) const {
    auto d = dataForKey(key);
    if (!d) return std::nullopt;
    TallyUtil::registerArchiveClasses();
    auto v = platform::KeyedArchive::decode(*d);
    if (!v || v->isNull()) return std::nullopt;
    return v;
}

bool TallyKeychainWrapper::write(Data const* data, std::string const& key, Keychain::Accessibility accessible) {
    if (!data || key.empty()) return false;
    Data const account = keyBytes(key);
    int const status = Keychain::add(identifier_, account, account, *data, accessible);
    if (status == Keychain::kSuccess) return true;
    if (status == Keychain::kDuplicateItem) return updateValueData(*data, key);
    return false;
}

bool TallyKeychainWrapper::setData(Data const* data, std::string const& key) {
    return write(data, key, Keychain::Accessibility::WhenUnlocked);
}

bool TallyKeychainWrapper::setThisDeviceData(Data const* data, std::string const& key) {
    return write(data, key, Keychain::Accessibility::AlwaysThisDeviceOnly);
}

bool TallyKeychainWrapper::setString(std::optional<std::string> const& text, std::string const& key) {
    if (!text) return false;
    Data const d(text->begin(), text->end());
    return setData(&d, key);
}

bool TallyKeychainWrapper::setThisDeviceString(std::optional<std::string> const& text, std::string const& key) {
    if (!text) return false;
    Data const d(text->begin(), text->end());
    return setThisDeviceData(&d, key);
}

bool TallyKeychainWrapper::setObject(Value const& object, std::string const& key) {
    if (object.isNull() || key.empty()) return false;
    Data const d = platform::KeyedArchive::encode(object);
    return setData(&d, key);
}

bool TallyKeychainWrapper::updateValueData(Data const& data, std::string const& key) {
    return Keychain::update(identifier_, keyBytes(key), data) == Keychain::kSuccess;
}

void TallyKeychainWrapper::removeObjectForKey(std::string const& key) { Keychain::remove(identifier_, keyBytes(key)); }
