#include "analytics/delivery/ITallyHttpAsyncTask.h"

std::string ITallyHttpAsyncTask::tag() const {
    std::lock_guard lock(mutex_);
    return tag_;
}
void ITallyHttpAsyncTask::setTag(std::string tag) {
    std::lock_guard lock(mutex_);
    tag_ = std::move(tag);
}
int32_t ITallyHttpAsyncTask::redirectsLimit() const {
    std::lock_guard lock(mutex_);
    return redirectsLimit_;
}
void ITallyHttpAsyncTask::setRedirectsLimit(int32_t limit) {
    std::lock_guard lock(mutex_);
    redirectsLimit_ = limit;
}
int32_t ITallyHttpAsyncTask::redirectsCount() const {
    std::lock_guard lock(mutex_);
    return redirectsCount_;
}
void ITallyHttpAsyncTask::setRedirectsCount(int32_t count) {
    std::lock_guard lock(mutex_);
    redirectsCount_ = count;
}
platform::Value::Dict ITallyHttpAsyncTask::taskParams() const {
    std::lock_guard lock(mutex_);
    return taskParams_;
}
void ITallyHttpAsyncTask::setTaskParams(platform::Value::Dict params) {
    std::lock_guard lock(mutex_);
    taskParams_ = std::move(params);
}

bool ITallyHttpAsyncTask::redirectDroppedBody() const {
    std::lock_guard lock(mutex_);
    return redirectDroppedBody_;
}
void ITallyHttpAsyncTask::setRedirectDroppedBody(bool dropped) {
    std::lock_guard lock(mutex_);
    redirectDroppedBody_ = dropped;
}

ITallyHttpAsyncTask::ReplyLimits ITallyHttpAsyncTask::replyLimits() const {
    std::lock_guard lock(mutex_);
    return replyLimits_;
}
void ITallyHttpAsyncTask::setReplyLimits(ReplyLimits limits) {
    std::lock_guard lock(mutex_);
    replyLimits_ = limits;
}

using Task = ITallyHttpAsyncTaskClass::Task;

Task ITallyHttpAsyncTaskClass::get(std::string const& url, Delegate delegate) const {
    return get(url, HeaderFields{}, std::move(delegate));
}
Task ITallyHttpAsyncTaskClass::get(std::string const& url, HeaderFields const& headerFields, Delegate delegate) const {
    return sendMethod("GET", url, {}, headerFields, std::move(delegate));
}
Task ITallyHttpAsyncTaskClass::post(std::string const& url, platform::Data body, Delegate delegate) const {
    return post(url, std::move(body), HeaderFields{}, std::move(delegate));
}
Task ITallyHttpAsyncTaskClass::post(std::string const& url, platform::Data body, HeaderFields const& headerFields,
                                    Delegate delegate) const {
    return sendMethod("POST", url, std::move(body), headerFields, std::move(delegate));
}
Task ITallyHttpAsyncTaskClass::sendMethod(std::string const& method, std::string const& url, platform::Data body,
                                          HeaderFields const& headerFields, Delegate delegate) const {
    return sendMethod(method, url, std::move(body), headerFields, std::move(delegate), true);
}
Task ITallyHttpAsyncTaskClass::sendMethod(std::string const& method, std::string const& url, platform::Data body,
                                          HeaderFields const& headerFields, Delegate delegate,
                                          bool startImmediately) const {
    return sendMethod(method, url, std::move(body), headerFields, kDefaultTimeoutInterval, kReloadIgnoringCacheData,
                      std::move(delegate), startImmediately);
}

namespace {

std::string text(platform::Value const& v) {
    if (auto const* s = v.string()) return *s;
    if (auto i = v.asInt()) return std::to_string(*i);
    if (auto u = v.asUInt()) return std::to_string(*u);
    if (auto b = v.asBool()) return *b ? "1" : "0";
    return v.describe();
}

std::vector<std::string> split(std::string const& s, char sep) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = s.find(sep, start);
        parts.push_back(s.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

}  // namespace

std::string ITallyHttpAsyncTaskClass::queryDictionaryToString(platform::Value::Dict const& query) {
    std::string out;
    for (auto const& [key, value] : query) {
        if (!out.empty()) out += "&";
        out += key + "=" + text(value);
    }
    return out;
}

platform::Value::Dict ITallyHttpAsyncTaskClass::stringToQueryDictionary(std::string const& textIn) {
    platform::Value::Dict out;
    for (auto const& piece : split(textIn, '&')) {
        auto parts = split(piece, '=');
        out[parts[0]] = parts.size() == 1 ? std::string() : parts[1];
    }
    return out;
}

std::string ITallyHttpAsyncTaskClass::urlWithProtocol(std::string const& protocol, std::string const& host, int32_t port,
                                                      std::string const& path, platform::Value const& query) {
    std::string url = (protocol.empty() ? std::string("http") : protocol) + "://";
    url += host;
    if (port != 0 && port != 80) url += ":" + std::to_string(port);
    if (!path.empty()) url += "/" + path;
    if (!query.isNull()) url += "?" + (query.dict() ? queryDictionaryToString(*query.dict()) : text(query));
    return url;
}
