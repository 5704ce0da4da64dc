#pragma once
// Modal message boxes over the game window, where a display exists.
#include <string>
#include <vector>

namespace platform {

class MessageDialog {
public:
    // False in headless runs (no display, or SDL's offscreen or dummy video driver).
    static bool displayAvailable();
    // Blocks until a button is chosen; its index, or -1 when the box could not be shown or was
    // closed without a choice.
    static int choose(std::string const& title, std::string const& message, std::vector<std::string> const& buttons);
    // Opens a web page in the desktop's browser; false when that cannot be done.
    static bool openUrl(std::string const& url);
};

}  // namespace platform
