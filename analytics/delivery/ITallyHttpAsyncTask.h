#pragma once
// One asynchronous HTTP request as requesters see it, whichever task class runs it, and the
// requester's side: three optional end calls, exactly one of which a request that runs to its
// end makes.
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/base/Value.h"

class ITallyHttpAsyncTask;
class TallyHTTPResponse;

namespace platform {
class SdkLoop;
}

class TallyHttpAsyncTaskDelegate {
public:
    virtual ~TallyHttpAsyncTaskDelegate() = default;
    virtual void requestSuccessful(std::shared_ptr<ITallyHttpAsyncTask> const&, std::shared_ptr<TallyHTTPResponse> const&) {}
    virtual void requestDidFail(std::shared_ptr<ITallyHttpAsyncTask> const&, std::shared_ptr<TallyHTTPResponse> const&) {}
    virtual void requestDidCancel(std::shared_ptr<ITallyHttpAsyncTask> const&, std::shared_ptr<TallyHTTPResponse> const&) {}
};

class ITallyHttpAsyncTask {
public:
    using HeaderFields = std::map<std::string, std::string>;
    // How much of a reply a task takes in and how long it may run in all, redirects included.
    // A body over maxBodyBytes fails the task, unless keepFirstBytesOnly, when the rest is read
    // and thrown away.
    struct ReplyLimits {
        size_t maxBodyBytes = size_t(1) << 20;
        bool keepFirstBytesOnly = false;
        double deadlineSeconds = 120.0;
    };
    virtual ~ITallyHttpAsyncTask() = default;

    // Starts a task made with startImmediately false; connection-based tasks deliver on loop.
    virtual void startInRunLoop(platform::SdkLoop& loop) = 0;
    virtual void cancelTask() = 0;

    std::string tag() const;
    void setTag(std::string tag);
    int32_t redirectsLimit() const;
    void setRedirectsLimit(int32_t limit);
    int32_t redirectsCount() const;
    void setRedirectsCount(int32_t count);
    platform::Value::Dict taskParams() const;
    void setTaskParams(platform::Value::Dict params);
    // Whether a followed redirect turned the request into a GET without the body it was sent
    // with; a 2xx after that says nothing about the body.
    bool redirectDroppedBody() const;
    void setRedirectDroppedBody(bool dropped);
    // Read when the task starts.
    ReplyLimits replyLimits() const;
    void setReplyLimits(ReplyLimits limits);

private:
    mutable std::mutex mutex_;
    std::string tag_;
    int32_t redirectsLimit_ = 0;
    int32_t redirectsCount_ = 0;
    platform::Value::Dict taskParams_;
    bool redirectDroppedBody_ = false;
    ReplyLimits replyLimits_;
};

// The class-level interface both task classes offer, so a requester can hold "the task class".
class ITallyHttpAsyncTaskClass {
public:
    using HeaderFields = ITallyHttpAsyncTask::HeaderFields;
    using Task = std::shared_ptr<ITallyHttpAsyncTask>;
    using Delegate = std::shared_ptr<TallyHttpAsyncTaskDelegate>;
    virtual ~ITallyHttpAsyncTaskClass() = default;

    // Time-out in seconds (fractions allowed); the cache policy is kept for callers, nothing is cached.
    virtual Task sendMethod(std::string const& method, std::string const& url, platform::Data body,
                            HeaderFields const& headerFields, double timeoutInterval, uint32_t cachePolicy,
                            Delegate delegate, bool startImmediately) const = 0;

    Task get(std::string const& url, Delegate delegate) const;
    Task get(std::string const& url, HeaderFields const& headerFields, Delegate delegate) const;
    Task post(std::string const& url, platform::Data body, Delegate delegate) const;
    Task post(std::string const& url, platform::Data body, HeaderFields const& headerFields, Delegate delegate) const;
    Task sendMethod(std::string const& method, std::string const& url, platform::Data body,
                    HeaderFields const& headerFields, Delegate delegate) const;
    Task sendMethod(std::string const& method, std::string const& url, platform::Data body,
                    HeaderFields const& headerFields, Delegate delegate, bool startImmediately) const;

    static constexpr double kDefaultTimeoutInterval = 20.0;
    static constexpr uint32_t kReloadIgnoringCacheData = 4;

    static std::string queryDictionaryToString(platform::Value::Dict const& query);
    static platform::Value::Dict stringToQueryDictionary(std::string const& text);
    // An empty protocol means "http"; port 0 and 80 add no port; a query that is a dictionary
    // goes through queryDictionaryToString, anything else by its text.
    static std::string urlWithProtocol(std::string const& protocol, std::string const& host, int32_t port,
                                       std::string const& path, platform::Value const& query);
};
