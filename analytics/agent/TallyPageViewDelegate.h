#pragma once
// Automatic page-view counting: a wrapper takes a navigation or tab-bar host's delegate slot,
// forwards every call to the delegate it replaced and counts a page view when a screen was shown
// or a tab selected. The game has no such host; these work over any that implements the slot.
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The host's delegate operations; a delegate answers only those it overrides.
class TallyPageViewHostDelegate {
public:
    virtual ~TallyPageViewHostDelegate() = default;
    virtual void didShowViewController(std::string const&, bool) {}
    virtual void willShowViewController(std::string const&, bool) {}
    // Nothing: the delegate does not answer.
    virtual std::optional<bool> shouldSelectViewController(std::string const&) { return std::nullopt; }
    virtual void didSelectViewController(std::string const&) {}
    virtual void willBeginCustomizingViewControllers(std::vector<std::string> const&) {}
    virtual void willEndCustomizingViewControllers(std::vector<std::string> const&, bool /*changed*/) {}
    virtual void didEndCustomizingViewControllers(std::vector<std::string> const&, bool /*changed*/) {}
};

// A navigation or tab-bar controller: its delegate slot (held weakly, as the platform does) and a
// notification when something else is put into it.
class TallyPageViewHost {
public:
    enum class Kind { Navigation, TabBar, Other };
    virtual ~TallyPageViewHost() = default;
    virtual Kind kind() const = 0;
    virtual std::shared_ptr<TallyPageViewHostDelegate> delegate() const = 0;
    virtual void setDelegate(std::weak_ptr<TallyPageViewHostDelegate> delegate) = 0;
    virtual void observeDelegate(void const* owner, std::function<void()> changed) = 0;
    virtual void stopObservingDelegate(void const* owner) = 0;
    virtual std::string description() const { return "host"; }
};

class TallyPageViewDelegate : public TallyPageViewHostDelegate,
                              public std::enable_shared_from_this<TallyPageViewDelegate> {
public:
    // Wraps navigation and tab-bar hosts; anything else is left alone.
    static void createDelegateOnTarget(std::shared_ptr<TallyPageViewHost> const& target);
    // Puts back the delegate the first wrapper of this host kept.
    static void destroyDelegateOnTarget(std::shared_ptr<TallyPageViewHost> const& target);
    // Live wrappers (tests).
    static size_t registrySize();

    explicit TallyPageViewDelegate(std::shared_ptr<TallyPageViewHost> target, char const* name = "TallyPageViewDelegate");
    ~TallyPageViewDelegate() override;
    void didShowViewController(std::string const& viewController, bool animated) override;
    void willShowViewController(std::string const& viewController, bool animated) override;
    std::optional<bool> shouldSelectViewController(std::string const& viewController) override;
    void didSelectViewController(std::string const& viewController) override;
    void willBeginCustomizingViewControllers(std::vector<std::string> const& viewControllers) override;
    void willEndCustomizingViewControllers(std::vector<std::string> const& viewControllers, bool changed) override;
    void didEndCustomizingViewControllers(std::vector<std::string> const& viewControllers, bool changed) override;
    std::shared_ptr<TallyPageViewHostDelegate> delegate() const { return delegate_.lock(); }

protected:
    void delegateChanged();
    char const* name_;
    std::weak_ptr<TallyPageViewHostDelegate> delegate_;
    std::shared_ptr<TallyPageViewHost> target_;
};

// The fire-and-forget wrapper: no watch on the slot and no unwrapping; it lives for the process.
class TallyPageViewDelegateOld : public TallyPageViewDelegate {
public:
    static void createDelegateOnTarget(std::shared_ptr<TallyPageViewHost> const& target);
    explicit TallyPageViewDelegateOld(std::shared_ptr<TallyPageViewHost> const& target);
};
