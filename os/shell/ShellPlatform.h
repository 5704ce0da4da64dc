#pragma once
// What the application delegate needs of the desktop: the window and its frames, input,
// video, the download request and network watching. DesktopShellPlatform is the real one.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <glm/vec2.hpp>

#include "os/shell/Reachability.h"
#include "platform/EventPump.h"
#include "platform/GameController.h"
#include "platform/ResourceRequest.h"
#include "platform/VideoPlayer.h"

namespace os {

class TextEntryKeyboard;

class ShellPlatform {
public:
    struct Event {
        // Focus comes and goes while the window stays on screen; Hidden and Shown are the window
        // leaving the screen (hidden or minimised) and coming back.
        enum class Kind { Touch, FocusLost, FocusGained, Hidden, Shown, EnteredForeground, LowMemory, Quit };
        Kind kind;
        platform::TouchEvent touch{};
    };

    virtual ~ShellPlatform() = default;
    virtual void nameMainThread() = 0;
    virtual void enterResourceDirectory() = 0;
    // Mounts a data archive after checking it is whole; empty when mounted, else which file is
    // missing or unreadable and why.
    virtual std::string mountArchive(std::string const& path) = 0;
    // Tells the player why the game cannot start (where a display exists; the caller prints it).
    virtual void showError(std::string const& message) = 0;
    virtual bool createWindow() = 0;
    virtual void createGlView() = 0;
    virtual void showWindow() = 0;
    virtual void makeContextCurrent() = 0;
    virtual void disableIdleTimer() = 0;
    // Waits until the next display refresh is due.
    virtual void waitForFrame() = 0;
    // Before a frame is drawn: false once the window is gone (destroyed by another program).
    virtual bool readyToDraw() = 0;
    virtual void present() = 0;
    virtual std::vector<Event> pollEvents() = 0;
    // Window points (y down) to virtual pixels (y up).
    virtual glm::vec2 toVirtual(float x, float y) const = 0;
    virtual std::vector<platform::GameController*> controllers() = 0;
    virtual std::string deviceModel() = 0;
    // Null when the file is missing or unreadable.
    virtual std::unique_ptr<platform::VideoPlayer> openVideo(std::string const& path) = 0;
    virtual int framebufferWidth() const = 0;
    virtual int framebufferHeight() const = 0;
    virtual std::unique_ptr<platform::ResourceRequest> resourceRequest(std::string const& tag) = 0;
    virtual std::unique_ptr<Reachability> internetReachability() = 0;
    // The GL view's text entry, where there is one.
    virtual TextEntryKeyboard* keyboard() { return nullptr; }
};

}  // namespace os
