#pragma once
// The shell's platform on a Linux desktop: an SDL window with its GL ES context, frames paced to
// the display, touches from the mouse and touch screens, SDL game controllers and the keyboard,
// videos through FFmpeg, the download through libcurl and the network through netlink.
//
// ZELV_PAK1_URL overrides where "pak1" comes from (default: file:// of pak1.pak beside the
// executable); it is kept in $XDG_CACHE_HOME/zelv/.
#include <memory>

#include "os/shell/FrameLimiter.h"
#include "os/shell/GlView.h"
#include "os/shell/ShellPlatform.h"
#include "platform/EventPump.h"
#include "platform/SdlControllers.h"
#include "platform/Window.h"

namespace os {

class DesktopShellPlatform : public ShellPlatform {
public:
    // resourceDir: where the data archives and videos are; empty for the executable's folder.
    explicit DesktopShellPlatform(std::string resourceDir = std::string());
    ~DesktopShellPlatform() override;

    void nameMainThread() override;
    void enterResourceDirectory() override;
    std::string mountArchive(std::string const& path) override;
    void showError(std::string const& message) override;
    bool createWindow() override;
    void createGlView() override;
    void showWindow() override {}
    void makeContextCurrent() override;
    void disableIdleTimer() override;
    void waitForFrame() override { limiter_.waitAndTick(); }
    bool readyToDraw() override { return window_ && window_->readyToDraw(); }
    void present() override;
    std::vector<Event> pollEvents() override;
    glm::vec2 toVirtual(float x, float y) const override { return view_.toVirtual(x, y); }
    std::vector<platform::GameController*> controllers() override;
    std::string deviceModel() override;
    std::unique_ptr<platform::VideoPlayer> openVideo(std::string const& path) override;
    int framebufferWidth() const override;
    int framebufferHeight() const override;
    std::unique_ptr<platform::ResourceRequest> resourceRequest(std::string const& tag) override;
    std::unique_ptr<Reachability> internetReachability() override;
    TextEntryKeyboard* keyboard() override { return &view_.keyboard(); }

    // Where "pak1" is fetched from.
    std::string pak1Url() const;
    platform::Window* window() { return window_.get(); }

private:
    std::string resourceDir_;
    std::unique_ptr<platform::Window> window_;
    GlView view_;
    std::unique_ptr<platform::EventPump> pump_;
    std::unique_ptr<platform::SdlControllers> controllers_;
    FrameLimiter limiter_;
};

}  // namespace os
