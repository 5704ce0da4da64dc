#include "os/shell/OnDemandDownload.h"

#include <algorithm>

#include "os/services/ShellServices.h"

namespace os {

OnDemandDownload::OnDemandDownload(RequestFactory makeRequest, Mount mount, MainQueue& mainQueue)
    : makeRequest_(std::move(makeRequest)), mount_(std::move(mount)), main_(mainQueue),
      self_(std::make_shared<OnDemandDownload*>(this)) {}

OnDemandDownload::~OnDemandDownload() {
    self_.reset();
    request_.reset();  // waits for a transfer under way
}

void OnDemandDownload::setState(int s) {
    state_ = s;
    shell_services::setDownloadState(s);
}

void OnDemandDownload::setReason(int r) {
    reason_ = r;
    shell_services::setDownloadPausedReason(r);
}

void OnDemandDownload::setProgress(float p) {
    progress_ = p;
    shell_services::setDownloadProgress(p);
}

void OnDemandDownload::start() {
    setState(0);
    setReason(0);
    allowCellular_ = false;
    setProgress(0.0f);
    finishedAndMounted_ = false;
    request_.reset();
    request_ = makeRequest_ ? makeRequest_() : nullptr;
    uint64_t const generation = ++generation_;
    std::weak_ptr<OnDemandDownload*> self = self_;
    if (!request_) {
        // Nothing can fetch the content: fail the way a request would.
        main_.async([self] {
            if (auto alive = self.lock()) {
                (*alive)->setState(1);
                (*alive)->setReason(0);
                (*alive)->main_.after(kRetryDelayMs, [self] {
                    if (auto again = self.lock()) (*again)->start();
                });
            }
        });
        return;
    }
    MainQueue& main = main_;
    auto progress = [self, generation, &main](double) {
        main.async([self, generation] {
            auto alive = self.lock();
            if (!alive) return;
            OnDemandDownload& d = **alive;
            if (d.generation_ != generation || !d.request_) return;
            d.setProgress(float(d.request_->fractionCompleted()));
        });
    };
    // The completion may run on the request's thread: only the flag is written there.
    auto completion = [self, generation, &main](int error, std::string const& path) {
        std::shared_ptr<OnDemandDownload*> alive = self.lock();
        if (!alive) return;
        if (error == 0) (*alive)->finishedAndMounted_ = true;
        alive.reset();
        main.async([self, generation, error, path] {
            auto alive = self.lock();
            if (!alive) return;
            OnDemandDownload& d = **alive;
            if (d.generation_ != generation) return;  // an older request
            if (error == 0) {
                d.failuresInARow_ = 0;
                d.setState(4);
                d.setProgress(1.0f);
                if (d.mount_) d.mount_(path);
                return;
            }
            d.setState(1);
            d.setReason(error == platform::ResourceRequest::kOutOfSpace ? 2 : 0);
            d.generation_ = 0;  // stop following the progress
            // A source that keeps failing (too large, damaged) is not fetched every 10 s for ever.
            int64_t const delay = kRetryDelayMs << std::min(d.failuresInARow_++, kMaxRetryDoublings);
            d.main_.after(delay, [self] {
                if (auto again = self.lock()) (*again)->start();
            });
        });
    };
    request_->begin(progress, completion);
}

void OnDemandDownload::reachabilityChanged(int status) {
    std::weak_ptr<OnDemandDownload*> self = self_;
    if (status == 0) {
        main_.async([self] {
            auto alive = self.lock();
            if (!alive || (*alive)->downloadFinishedAndMounted()) return;
            (*alive)->setState(1);
            (*alive)->setReason(1);
        });
    } else if (status == 1 || status == 2) {
        main_.async([self] {
            auto alive = self.lock();
            if (!alive || (*alive)->downloadFinishedAndMounted()) return;
            (*alive)->setState(0);
        });
    }
}

}  // namespace os
