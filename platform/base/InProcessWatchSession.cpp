#include "platform/base/InProcessWatchSession.h"

#include <vector>

namespace platform {

struct InProcessWatchSession::Link {
    WorkQueue channel{"zelv.watchlink"};
    std::mutex mutex;
    std::weak_ptr<InProcessWatchSession> ends[2];
    bool activated[2] = {false, false};
    // Transfers waiting for their receiving end to be activated, by receiving side.
    std::deque<std::shared_ptr<WatchUserInfoTransfer>> waiting[2];
};

std::pair<std::shared_ptr<InProcessWatchSession>, std::shared_ptr<InProcessWatchSession>> InProcessWatchSession::pair() {
    auto link = std::make_shared<Link>();
    std::shared_ptr<InProcessWatchSession> phone(new InProcessWatchSession(link, 0));
    std::shared_ptr<InProcessWatchSession> watch(new InProcessWatchSession(link, 1));
    link->ends[0] = phone;
    link->ends[1] = watch;
    return {phone, watch};
}

InProcessWatchSession::InProcessWatchSession(std::shared_ptr<Link> link, int side) : link_(std::move(link)), side_(side) {}

InProcessWatchSession::~InProcessWatchSession() {
    // What still waits for the other end is given up, and nothing is delivered to this one.
    std::lock_guard lock(link_->mutex);
    link_->waiting[side_].clear();
    link_->activated[side_] = false;
}

bool InProcessWatchSession::isPaired() const {
    std::lock_guard lock(link_->mutex);
    return link_->activated[side_] && !link_->ends[1 - side_].expired();
}

bool InProcessWatchSession::isWatchAppInstalled() const {
    std::lock_guard lock(link_->mutex);
    return link_->activated[side_] && !link_->ends[1 - side_].expired() && link_->activated[1 - side_];
}

void InProcessWatchSession::activateSession() {
    std::vector<std::shared_ptr<WatchUserInfoTransfer>> waiting;
    {
        std::lock_guard lock(link_->mutex);
        link_->activated[side_] = true;
        waiting.assign(link_->waiting[side_].begin(), link_->waiting[side_].end());
        link_->waiting[side_].clear();
    }
    std::weak_ptr<InProcessWatchSession> self = shared_from_this();
    link_->channel.async([self] {
        if (auto s = self.lock())
            if (auto d = s->delegate()) d->activationDidComplete(s, true);
    });
    // The waiting transfers came from the other end: it delivers them to this one.
    std::shared_ptr<InProcessWatchSession> sender;
    {
        std::lock_guard lock(link_->mutex);
        sender = link_->ends[1 - side_].lock();
    }
    if (sender)
        for (auto& t : waiting) sender->deliver(std::move(t));
}

std::shared_ptr<WatchUserInfoTransfer> InProcessWatchSession::transferUserInfo(Value::Dict const& userInfo) {
    auto transfer = std::make_shared<WatchUserInfoTransfer>(WatchUserInfoTransfer{userInfo});
    {
        std::lock_guard lock(link_->mutex);
        int const other = 1 - side_;
        if (!link_->activated[side_]) {
            fail(transfer, kNotActivated);
            return transfer;
        }
        if (!link_->ends[other].expired() && !link_->activated[other]) {
            link_->waiting[other].push_back(transfer);
            return transfer;
        }
    }
    deliver(transfer);
    return transfer;
}

void InProcessWatchSession::deliver(std::shared_ptr<WatchUserInfoTransfer> transfer) {
    std::weak_ptr<InProcessWatchSession> self = shared_from_this();
    std::shared_ptr<Link> link = link_;
    int const other = 1 - side_;
    link_->channel.async([self, link, other, transfer] {
        std::shared_ptr<InProcessWatchSession> receiver;
        {
            std::lock_guard lock(link->mutex);
            if (link->activated[other]) receiver = link->ends[other].lock();
        }
        std::optional<Error> error;
        if (receiver) {
            if (auto d = receiver->delegate()) d->didReceiveUserInfo(receiver, transfer->userInfo);
        } else {
            error = Error{kErrorDomain, kNotPaired, {}};
        }
        if (auto s = self.lock())
            if (auto d = s->delegate()) d->didFinishUserInfoTransfer(s, transfer, error);
    });
}

void InProcessWatchSession::fail(std::shared_ptr<WatchUserInfoTransfer> transfer, int64_t code) {
    std::weak_ptr<InProcessWatchSession> self = shared_from_this();
    link_->channel.async([self, transfer, code] {
        if (auto s = self.lock())
            if (auto d = s->delegate()) d->didFinishUserInfoTransfer(s, transfer, Error{kErrorDomain, code, {}});
    });
}

void InProcessWatchSession::flush() { link_->channel.waitUntilIdle(); }

}  // namespace platform
