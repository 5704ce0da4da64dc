#pragma once
// A request for on-demand content: fetches it (or finds it already fetched) and says where it is.
#include <functional>
#include <string>

namespace platform {

class ResourceRequest {
public:
    // Error codes of a failed request.
    static constexpr int kOutOfSpace = 4992;        // the content does not fit on the disk
    static constexpr int kNetworkUnavailable = -1009;  // the host cannot be reached
    static constexpr int kDownloadFailed = -1;      // anything else

    using Progress = std::function<void(double fraction)>;
    // error 0: success, and path names the local file.
    using Completion = std::function<void(int error, std::string const& path)>;

    virtual ~ResourceRequest() = default;
    // Progress and completion run on a thread of the request's choosing; completion runs once.
    virtual void begin(Progress progress, Completion completion) = 0;
    virtual double fractionCompleted() const = 0;
};

}  // namespace platform
