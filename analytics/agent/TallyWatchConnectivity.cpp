#include "analytics/agent/TallyWatchConnectivity.h"

#include "analytics/agent/TallyUtil.h"

namespace {
std::mutex instanceLock;
struct Instance {
    bool made = false;
    std::shared_ptr<TallyWatchConnectivity> connectivity;
};
Instance& instance() {
    static auto* i = new Instance;  // outlives the other statics
    return *i;
}
}  // namespace

platform::WorkQueue& TallyWatchConnectivity::queue() {
    static auto* q = new platform::WorkQueue("com.Tally.Analytics.watchconnectivity");
    return *q;
}

std::shared_ptr<TallyWatchConnectivity> TallyWatchConnectivity::defaultConnectivty() {
    std::lock_guard lock(instanceLock);
    Instance& i = instance();
    if (i.made) return i.connectivity;
    i.made = true;
    auto session = platform::WatchSession::defaultSession();
    if (!session) {
        TallyUtil::log(1, "-[TallyWatchConnectivity init]: WatchConnectivity isn't linked, Tally Analytics will be "
                          "disabled for any paired watch");
        return nullptr;
    }
    if (!session->isSupported()) return nullptr;
    i.connectivity.reset(new TallyWatchConnectivity(std::move(session)));
    return i.connectivity;
}

void TallyWatchConnectivity::cleanup() {
    std::shared_ptr<TallyWatchConnectivity> old;
    {
        std::lock_guard lock(instanceLock);
        old = std::move(instance().connectivity);
        instance() = Instance{};
    }
    queue().waitUntilIdle();
}

TallyWatchConnectivity::TallyWatchConnectivity(std::shared_ptr<platform::WatchSession> session)
    : session_(std::move(session)), connectivityProxy_(std::make_shared<TallyWatchConnectivityProxy>()) {}

TallyWatchConnectivity::~TallyWatchConnectivity() {
    if (session_) session_->stopObservingDelegate(this);
}

void TallyWatchConnectivity::setup() {
    auto self = shared_from_this();
    queue().async([self] {
        TallyUtil::guarded([&] {
            if (self->disabled_) return;
            self->cacheAndReplaceSessionDelegate();
            self->setupKVO();
            self->activateSession();
        });
    });
}

void TallyWatchConnectivity::teardown() {
    auto self = shared_from_this();
    queue().async([self] {
        TallyUtil::guarded([&] {
            self->restoreCachedSessionDelegate();
            self->removeKVO();
        });
    });
}

void TallyWatchConnectivity::transferUserInfo(platform::Value::Dict const& userInfo) {
    auto self = shared_from_this();
    queue().async([self, userInfo] {
        TallyUtil::guarded([&] {
            auto& s = *self->session_;
            if (s.isPaired() && s.isWatchAppInstalled() && !self->disableTransferInfo_) s.transferUserInfo(userInfo);
        });
    });
}

void TallyWatchConnectivity::setDelegate(std::weak_ptr<TallyWatchConnectivityDelegate> delegate) {
    auto self = shared_from_this();
    queue().async([self, delegate] {
        self->delegate_ = delegate;
        self->connectivityProxy_->setSdkDelegate(delegate);
    });
}

void TallyWatchConnectivity::disableWatchConnectivity() {
    auto self = shared_from_this();
    queue().async([self] { self->disabled_ = true; });
}

void TallyWatchConnectivity::disableTransferTallyInfo() {
    auto self = shared_from_this();
    queue().async([self] { self->disableTransferInfo_ = true; });
}

void TallyWatchConnectivity::activateSession() { session_->activateSession(); }

void TallyWatchConnectivity::cacheAndReplaceSessionDelegate() {
    if (disabled_) return;
    auto current = session_->delegate();
    if (current == connectivityProxy_) return;
    connectivityProxy_->setRealObject(current);
    setSessionDelegate(connectivityProxy_);
}

void TallyWatchConnectivity::restoreCachedSessionDelegate() {
    setSessionDelegate(connectivityProxy_->realObject());
    connectivityProxy_->setRealObject({});
}

// Not observing while the agent itself changes the slot, so its own change is not taken for the
// host's.
void TallyWatchConnectivity::setSessionDelegate(std::weak_ptr<platform::WatchSessionDelegate> delegate) {
    removeKVO();
    session_->setDelegate(std::move(delegate));
    setupKVO();
}

void TallyWatchConnectivity::checkNewDelegate(std::shared_ptr<platform::WatchSessionDelegate> const& delegate) {
    if (disabled_ || delegate == connectivityProxy_) return;
    if (delegate && delegate == connectivityProxy_->realObject())
        setSessionDelegate(connectivityProxy_);  // the host put its old delegate back
    else
        cacheAndReplaceSessionDelegate();
}

void TallyWatchConnectivity::setupKVO() {
    if (kvoSetup_) return;
    std::weak_ptr<TallyWatchConnectivity> weak = weak_from_this();
    session_->observeDelegate(this, [weak](std::shared_ptr<platform::WatchSessionDelegate> const& now) {
        auto self = weak.lock();
        if (!self) return;
        queue().async([self, now] { TallyUtil::guarded([&] { self->checkNewDelegate(now); }); });
    });
    kvoSetup_ = true;
}

void TallyWatchConnectivity::removeKVO() {
    if (!kvoSetup_) return;
    session_->stopObservingDelegate(this);
    kvoSetup_ = false;
}
