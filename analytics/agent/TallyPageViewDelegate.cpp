#include "analytics/agent/TallyPageViewDelegate.h"

#include <algorithm>
#include <vector>

#include "analytics/agent/TallyImpl.h"
#include "analytics/agent/TallyUtil.h"

namespace {

// The registries own the wrappers; the hosts' slots do not. Main thread only, as the host's calls.
std::vector<std::shared_ptr<TallyPageViewDelegate>>& registry() {
    static std::vector<std::shared_ptr<TallyPageViewDelegate>> r;
    return r;
}
std::vector<std::shared_ptr<TallyPageViewDelegate>>& oldRegistry() {
    static std::vector<std::shared_ptr<TallyPageViewDelegate>> r;
    return r;
}

bool wrappable(std::shared_ptr<TallyPageViewHost> const& t) {
    return t && t->kind() != TallyPageViewHost::Kind::Other;
}

void countPageView() {
    if (auto impl = TallyImpl::currentSession()) impl->maybeIncrementPageView();
}

std::string describe(std::shared_ptr<TallyPageViewHostDelegate> const& d) { return d ? "delegate" : "(null)"; }

std::string describe(std::vector<std::string> const& viewControllers) {
    std::string out = "(";
    for (size_t i = 0; i < viewControllers.size(); ++i) out += (i ? ", " : "") + viewControllers[i];
    return out + ")";
}

}  // namespace

TallyPageViewDelegate::TallyPageViewDelegate(std::shared_ptr<TallyPageViewHost> target, char const* name)
    : name_(name), delegate_(target->delegate()), target_(std::move(target)) {}

TallyPageViewDelegate::~TallyPageViewDelegate() {
    if (target_) target_->stopObservingDelegate(this);
}

void TallyPageViewDelegate::createDelegateOnTarget(std::shared_ptr<TallyPageViewHost> const& target) {
    TallyUtil::guarded([&] {
        if (!wrappable(target)) return;
        auto wrapper = std::make_shared<TallyPageViewDelegate>(target);
        target->setDelegate(wrapper);
        std::weak_ptr<TallyPageViewDelegate> weak = wrapper;
        target->observeDelegate(wrapper.get(), [weak] {
            if (auto w = weak.lock()) w->delegateChanged();
        });
        TallyUtil::log(2, "TallyPageViewDelegate: delegate[" + describe(wrapper->delegate()) + "] created");
        registry().push_back(std::move(wrapper));
    });
}

void TallyPageViewDelegate::destroyDelegateOnTarget(std::shared_ptr<TallyPageViewHost> const& target) {
    TallyUtil::guarded([&] {
        if (!target) return;
        auto& r = registry();
        auto it = std::find_if(r.begin(), r.end(), [&](auto const& w) { return w->target_ == target; });
        if (it == r.end()) return;
        auto wrapper = *it;
        TallyUtil::log(2, "TallyPageViewDelegate: delegate[" + describe(wrapper->delegate()) + "] destroyed");
        target->stopObservingDelegate(wrapper.get());
        target->setDelegate(wrapper->delegate_);
        r.erase(it);
    });
}

size_t TallyPageViewDelegate::registrySize() { return registry().size(); }

void TallyPageViewDelegate::delegateChanged() {
    auto now = target_->delegate();
    if (now.get() == this || now == delegate_.lock()) return;
    delegate_ = now;
    target_->setDelegate(weak_from_this());
}

void TallyPageViewDelegate::didShowViewController(std::string const& vc, bool animated) {
    TallyUtil::guarded([&] {
        if (auto d = delegate()) d->didShowViewController(vc, animated);
        TallyUtil::log(2, std::string(name_) + ": Navigation View [" + target_->description() +
                              "], incremented pageViewCount");
        countPageView();
    });
}

void TallyPageViewDelegate::willShowViewController(std::string const& vc, bool animated) {
    TallyUtil::guarded([&] {
        TallyUtil::log(2, std::string(name_) + ": navigation controller [" + target_->description() +
                              "], view controller [" + vc + "], animated [" + std::to_string(animated) + "]");
        if (auto d = delegate()) d->willShowViewController(vc, animated);
    });
}

std::optional<bool> TallyPageViewDelegate::shouldSelectViewController(std::string const& vc) {
    bool answer = true;
    TallyUtil::guarded([&] {
        TallyUtil::log(2, std::string(name_) + ": tabbar controller [" + target_->description() + "] view controller [" +
                              vc + "]");
        if (auto d = delegate()) answer = d->shouldSelectViewController(vc).value_or(true);
    });
    return answer;
}

void TallyPageViewDelegate::didSelectViewController(std::string const& vc) {
    TallyUtil::guarded([&] {
        TallyUtil::log(2, std::string(name_) + ":  tabBarController [" + target_->description() + "], viewController [" +
                              vc + "], incremented pageViewCount");
        if (auto d = delegate()) d->didSelectViewController(vc);
        countPageView();
    });
}

void TallyPageViewDelegate::willBeginCustomizingViewControllers(std::vector<std::string> const& vcs) {
    TallyUtil::guarded([&] {
        TallyUtil::log(2, std::string(name_) + ": tabBarController [" + target_->description() + "], viewController [" +
                              describe(vcs) + "]");
        if (auto d = delegate()) d->willBeginCustomizingViewControllers(vcs);
    });
}

void TallyPageViewDelegate::willEndCustomizingViewControllers(std::vector<std::string> const& vcs, bool changed) {
    TallyUtil::guarded([&] {
        TallyUtil::log(2, std::string(name_) + ": tabBarController [" + target_->description() + "], viewController [" +
                              describe(vcs) + "], changed [" + std::to_string(changed) + "]");
        if (auto d = delegate()) d->willEndCustomizingViewControllers(vcs, changed);
    });
}

void TallyPageViewDelegate::didEndCustomizingViewControllers(std::vector<std::string> const& vcs, bool changed) {
    TallyUtil::guarded([&] {
        TallyUtil::log(2, std::string(name_) + ": tabBarController [" + target_->description() + "], viewControllers [" +
                              describe(vcs) + "], changed [" + std::to_string(changed) + "]");
        if (auto d = delegate()) d->didEndCustomizingViewControllers(vcs, changed);
    });
}

TallyPageViewDelegateOld::TallyPageViewDelegateOld(std::shared_ptr<TallyPageViewHost> const& target)
    : TallyPageViewDelegate(target, "TallyPageViewDelegateOld") {
    TallyUtil::log(2, "TallyPageViewDelegateOld: delegate[" + describe(delegate()) + "] created");
}

void TallyPageViewDelegateOld::createDelegateOnTarget(std::shared_ptr<TallyPageViewHost> const& target) {
    TallyUtil::guarded([&] {
        if (!wrappable(target)) return;
        auto wrapper = std::make_shared<TallyPageViewDelegateOld>(target);
        target->setDelegate(wrapper);
        oldRegistry().push_back(std::move(wrapper));
    });
}
