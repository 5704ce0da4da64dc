#include "os/shell/DesktopShellPlatform.h"

#include <GLES2/gl2.h>
#include <SDL.h>
#include <pthread.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "platform/CurlResourceRequest.h"
#include "platform/FfmpegVideoPlayer.h"
#include "platform/MessageDialog.h"

namespace os {

namespace {

std::string executableDir() {
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : exe.parent_path().string();
}

class TouchCollector : public platform::EventPump::Listener {
public:
    std::vector<ShellPlatform::Event>* out = nullptr;
    void touch(platform::TouchEvent const& e) override {
        ShellPlatform::Event ev{ShellPlatform::Event::Kind::Touch};
        ev.touch = e;
        out->push_back(ev);
    }
};

}  // namespace

DesktopShellPlatform::DesktopShellPlatform(std::string resourceDir)
    : resourceDir_(resourceDir.empty() ? executableDir() : std::move(resourceDir)) {
    // Music tracks are read through the file system, from the archives first, and copied out of
    // the archive's mapping: the stream reads a track for minutes, and pak0.pak cut short in place
    // meanwhile would turn those reads into SIGBUS.
    music_services::setFileOpener([](char const* path) {
        std::shared_ptr<File> file = Singleton<FileSystem>::instance().open(path);
        if (!file || file->size() == 0) return music_services::Bytes{};
        auto bytes = std::make_shared<std::vector<uint8_t>>(file->data(), file->data() + file->size());
        return music_services::Bytes{bytes, bytes->data(), bytes->size()};
    });
}

DesktopShellPlatform::~DesktopShellPlatform() {
    music_services::setFileOpener(nullptr);
    controllers_.reset();
    pump_.reset();
    window_.reset();
}

void DesktopShellPlatform::nameMainThread() {
    pthread_setname_np(pthread_self(), "MainThread");
}

void DesktopShellPlatform::enterResourceDirectory() {
    std::error_code ec;
    std::filesystem::current_path(resourceDir_, ec);
    if (ec) std::fprintf(stderr, "zelv: cannot enter the resource directory: %s\n", ec.message().c_str());
}

std::string DesktopShellPlatform::mountArchive(std::string const& path) {
    std::string why;
    if (!MemoryMappedZipFile::check(path, false, &why)) {
        std::error_code ec;
        std::filesystem::path const full = std::filesystem::absolute(path, ec);
        return (ec ? path : full.string()) + ": " + why;
    }
    Singleton<FileSystem>::instance().mount(path);
    return std::string();
}

void DesktopShellPlatform::showError(std::string const& message) {
    if (platform::MessageDialog::displayAvailable()) platform::MessageDialog::choose("zelv", message, {"Quit"});
}

bool DesktopShellPlatform::createWindow() {
    window_ = std::make_unique<platform::Window>();
    if (!window_->ok()) {
        std::fprintf(stderr, "zelv: %s\n", window_->error().c_str());
        return false;
    }
    return true;
}

void DesktopShellPlatform::createGlView() {
    view_.setUp(window_->drawableWidth(), window_->drawableHeight(), window_->scale());
    GlView::Sizes const& s = view_.sizes();
    glViewport(int(s.originX), int(s.originY), int(s.backingWidth), int(s.backingHeight));
    pump_ = std::make_unique<platform::EventPump>(window_->width(), window_->height());
    controllers_ = std::make_unique<platform::SdlControllers>();
}

void DesktopShellPlatform::makeContextCurrent() { window_->makeCurrent(); }

void DesktopShellPlatform::disableIdleTimer() { SDL_DisableScreenSaver(); }

void DesktopShellPlatform::present() { window_->swap(); }

std::vector<ShellPlatform::Event> DesktopShellPlatform::pollEvents() {
    std::vector<Event> events;
    if (!pump_) return events;
    TouchCollector touches;
    touches.out = &events;
    SDL_Event e;
    while (SDL_PollEvent(&e)) {
        // Keys typed into the text field are not the game's; a key let go there is let go for
        // the game too, or one held as the field opened would stay down.
        if (view_.keyboard().handle(e)) {
            if (e.type == SDL_KEYUP && controllers_) controllers_->handle(e);
            continue;
        }
        pump_->handle(e, touches);
        if (controllers_) controllers_->handle(e);
        if (e.type == SDL_WINDOWEVENT) {
            switch (e.window.event) {
                case SDL_WINDOWEVENT_FOCUS_LOST: events.push_back({Event::Kind::FocusLost}); break;
                case SDL_WINDOWEVENT_FOCUS_GAINED: events.push_back({Event::Kind::FocusGained}); break;
                case SDL_WINDOWEVENT_HIDDEN:
                case SDL_WINDOWEVENT_MINIMIZED: events.push_back({Event::Kind::Hidden}); break;
                case SDL_WINDOWEVENT_SHOWN: events.push_back({Event::Kind::Shown}); break;
                case SDL_WINDOWEVENT_RESTORED:
                    events.push_back({Event::Kind::Shown});
                    events.push_back({Event::Kind::EnteredForeground});
                    break;
                default: break;
            }
        } else if (e.type == SDL_APP_LOWMEMORY) {
            events.push_back({Event::Kind::LowMemory});
        } else if (e.type == SDL_APP_WILLENTERFOREGROUND) {
            events.push_back({Event::Kind::EnteredForeground});
        }
    }
    if (controllers_) {
        controllers_->takeFrame();
        controllers_->setTyping(view_.keyboard().isKeyboardShown());
    }
    if (pump_->quitRequested()) events.push_back({Event::Kind::Quit});
    return events;
}

std::vector<platform::GameController*> DesktopShellPlatform::controllers() {
    return controllers_ ? controllers_->controllers() : std::vector<platform::GameController*>{};
}

std::string DesktopShellPlatform::deviceModel() { return platform_services::deviceModel(); }

// Videos are files beside the executable, not archive entries.
std::unique_ptr<platform::VideoPlayer> DesktopShellPlatform::openVideo(std::string const& path) {
    std::filesystem::path p(path);
    if (p.is_relative()) p = std::filesystem::path(resourceDir_) / p;
    std::error_code ec;
    if (!std::filesystem::is_regular_file(p, ec)) {
        std::fprintf(stderr, "zelv: no video %s\n", path.c_str());
        return nullptr;
    }
    return platform::FfmpegVideoPlayer::open(p.string(), alcGetCurrentContext());
}

int DesktopShellPlatform::framebufferWidth() const { return window_ ? window_->drawableWidth() : 0; }
int DesktopShellPlatform::framebufferHeight() const { return window_ ? window_->drawableHeight() : 0; }

std::string DesktopShellPlatform::pak1Url() const {
    char const* env = std::getenv("ZELV_PAK1_URL");
    if (env && *env) return env;
    return "file://" + (std::filesystem::path(resourceDir_) / "pak1.pak").string();
}

std::unique_ptr<platform::ResourceRequest> DesktopShellPlatform::resourceRequest(std::string const& tag) {
    // The archive is checked whole, checksums included, before it is kept or mounted.
    return std::make_unique<platform::CurlResourceRequest>(
        pak1Url(), platform::CurlResourceRequest::cacheFolder() / (tag + ".pak"),
        [](std::string const& path, std::string* why) { return MemoryMappedZipFile::check(path, true, why); });
}

std::unique_ptr<Reachability> DesktopShellPlatform::internetReachability() {
    return Reachability::reachabilityForInternetConnection();
}

}  // namespace os
