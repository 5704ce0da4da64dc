#include "platform/MessageDialog.h"

#include "platform/base/AlternateSignalStack.h"

#include <SDL.h>
#include <spawn.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

extern char** environ;

namespace platform {

bool MessageDialog::displayAvailable() {
    char const* driver = SDL_GetCurrentVideoDriver();
    if (driver) return std::strcmp(driver, "offscreen") != 0 && std::strcmp(driver, "dummy") != 0;
    char const* env = std::getenv("SDL_VIDEODRIVER");
    if (env && (std::strcmp(env, "offscreen") == 0 || std::strcmp(env, "dummy") == 0)) return false;
    char const* x = std::getenv("DISPLAY");
    char const* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

int MessageDialog::choose(std::string const& title, std::string const& message,
                          std::vector<std::string> const& buttons) {
    if (!displayAvailable() || buttons.empty()) return -1;
    std::vector<SDL_MessageBoxButtonData> data;
    for (size_t i = 0; i < buttons.size(); ++i) {
        Uint32 flags = 0;
        if (i == 0) flags |= SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT;
        if (i == 1 || buttons.size() == 1) flags |= SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT;
        data.push_back(SDL_MessageBoxButtonData{flags, int(i), buttons[i].c_str()});
    }
    SDL_MessageBoxData box{};
    box.flags = SDL_MESSAGEBOX_INFORMATION;
    box.window = SDL_GL_GetCurrentWindow();
    box.title = title.c_str();
    box.message = message.c_str();
    box.numbuttons = int(data.size());
    box.buttons = data.data();
    int chosen = -1;
    if (SDL_ShowMessageBox(&box, &chosen) != 0) {
        std::fprintf(stderr, "Dialog: %s\n", SDL_GetError());
        return -1;
    }
    return chosen;
}

bool MessageDialog::openUrl(std::string const& url) {
    if (!displayAvailable()) {
        std::fprintf(stderr, "Open %s in a browser\n", url.c_str());
        return false;
    }
    char const* argv[] = {"xdg-open", url.c_str(), nullptr};
    pid_t pid = 0;
    // The game ignores SIGPIPE; the browser gets the default back.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    posix_spawnattr_setsigdefault(&attr, &defaults);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF);
    int const spawned = posix_spawnp(&pid, "xdg-open", nullptr, &attr, const_cast<char* const*>(argv), environ);
    posix_spawnattr_destroy(&attr);
    if (spawned != 0) {
        std::fprintf(stderr, "Open %s in a browser (xdg-open is missing)\n", url.c_str());
        return false;
    }
    // xdg-open returns once the browser has the page; reaped on a thread of its own.
    try {
        std::thread([pid] {
            AlternateSignalStack::installForThisThread();
            int status = 0;
            waitpid(pid, &status, 0);
        }).detach();
    } catch (std::system_error const&) {
        // No thread to spare: the finished xdg-open stays a zombie until the game ends.
    }
    return true;
}

}  // namespace platform
