#include "platform/SdlControllers.h"

#include "platform/base/AtomicFile.h"
#include "platform/base/Directories.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

namespace platform {

namespace {

// Sticks rest a little off centre; below this they read 0 so an idle pad sends no input.
constexpr float kDeadZone = 0.2f;

float axis(SDL_GameController* c, SDL_GameControllerAxis a, bool flip) {
    float v = float(SDL_GameControllerGetAxis(c, a)) / 32767.0f;
    v = std::fmax(-1.0f, std::fmin(1.0f, v));
    if (std::fabs(v) < kDeadZone) return 0;
    return flip ? -v : v;
}

float pair(bool negative, bool positive) { return (positive ? 1.0f : 0.0f) - (negative ? 1.0f : 0.0f); }

// A controller's pause button. A press that comes before the frame loop has given the
// controller its handler (the keyboard's first key, a pad pressed as it connects) is kept and
// delivered with the handler, so the first press acts.
class PauseButton {
public:
    void press() {
        if (handler_) {
            handler_();
        } else {
            pending_ = true;
        }
    }
    bool hasHandler() const { return bool(handler_); }
    void setHandler(std::function<void()> h) {
        handler_ = std::move(h);
        if (pending_ && handler_) {
            pending_ = false;
            handler_();
        }
    }

private:
    std::function<void()> handler_;
    bool pending_ = false;
};

}  // namespace

class SdlControllers::Pad : public GameController {
public:
    explicit Pad(SDL_GameController* c) : c_(c) {}
    ~Pad() override { SDL_GameControllerClose(c_); }
    SDL_JoystickID id() const { return SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c_)); }
    void pausePressed() { pause_.press(); }

    bool hasPausedHandler() const override { return pause_.hasHandler(); }
    void setPausedHandler(std::function<void()> h) override { pause_.setHandler(std::move(h)); }
    std::optional<Gamepad> gamepad() const override {
        auto b = [this](SDL_GameControllerButton button) { return SDL_GameControllerGetButton(c_, button) != 0; };
        Gamepad g;
        g.dpadX = pair(b(SDL_CONTROLLER_BUTTON_DPAD_LEFT), b(SDL_CONTROLLER_BUTTON_DPAD_RIGHT));
        g.dpadY = pair(b(SDL_CONTROLLER_BUTTON_DPAD_DOWN), b(SDL_CONTROLLER_BUTTON_DPAD_UP));
        g.buttonA = b(SDL_CONTROLLER_BUTTON_A);
        g.buttonB = b(SDL_CONTROLLER_BUTTON_B);
        g.buttonX = b(SDL_CONTROLLER_BUTTON_X);
        g.buttonY = b(SDL_CONTROLLER_BUTTON_Y);
        g.dpadButtons = uint8_t((b(SDL_CONTROLLER_BUTTON_DPAD_LEFT) ? kDpadLeft : 0) |
                                (b(SDL_CONTROLLER_BUTTON_DPAD_RIGHT) ? kDpadRight : 0) |
                                (b(SDL_CONTROLLER_BUTTON_DPAD_DOWN) ? kDpadDown : 0) |
                                (b(SDL_CONTROLLER_BUTTON_DPAD_UP) ? kDpadUp : 0));
        return g;
    }
    std::optional<Extended> extendedGamepad() const override {
        Extended e;
        e.leftX = axis(c_, SDL_CONTROLLER_AXIS_LEFTX, false);
        e.leftY = axis(c_, SDL_CONTROLLER_AXIS_LEFTY, true);
        e.rightX = axis(c_, SDL_CONTROLLER_AXIS_RIGHTX, false);
        e.rightY = axis(c_, SDL_CONTROLLER_AXIS_RIGHTY, true);
        return e;
    }

private:
    SDL_GameController* c_;
    PauseButton pause_;
};

class SdlControllers::Keyboard : public GameController {
public:
    bool used = false;
    bool typing = false;
    void pausePressed() { pause_.press(); }
    // A key pressed and released between two frames still counts as held for one frame, so a
    // quick tap is never lost to polling.
    void pressed(SDL_Scancode s) { tapped_[s] = true; }
    void newFrame() { tapped_.fill(false); }
    bool hasPausedHandler() const override { return pause_.hasHandler(); }
    void setPausedHandler(std::function<void()> h) override { pause_.setHandler(std::move(h)); }
    uint32_t keysDown() const override {
        if (typing) return 0;
        static constexpr std::pair<SDL_Scancode, uint32_t> kKeys[] = {
            {SDL_SCANCODE_LEFT, kKeyLeft},          {SDL_SCANCODE_RIGHT, kKeyRight},
            {SDL_SCANCODE_UP, kKeyUp},              {SDL_SCANCODE_DOWN, kKeyDown},
            {SDL_SCANCODE_A, kKeyA},                {SDL_SCANCODE_D, kKeyD},
            {SDL_SCANCODE_W, kKeyW},                {SDL_SCANCODE_S, kKeyS},
            {SDL_SCANCODE_SPACE, kKeySpace},        {SDL_SCANCODE_RETURN, kKeyReturn},
            {SDL_SCANCODE_KP_ENTER, kKeyPadEnter},  {SDL_SCANCODE_ESCAPE, kKeyEscape},
            {SDL_SCANCODE_LSHIFT, kKeyLeftShift},   {SDL_SCANCODE_RSHIFT, kKeyRightShift},
        };
        Uint8 const* k = SDL_GetKeyboardState(nullptr);
        uint32_t keys = 0;
        for (auto const& [scancode, bit] : kKeys)
            if (k[scancode] || tapped_[scancode]) keys |= bit;
        return keys;
    }
    std::optional<Gamepad> gamepad() const override { return keyboardProfiles(keysDown()).gamepad; }
    std::optional<Extended> extendedGamepad() const override { return keyboardProfiles(keysDown()).extended; }

private:
    PauseButton pause_;
    std::array<bool, SDL_NUM_SCANCODES> tapped_{};
};

std::string SdlControllers::userMappingFile() {
    return (Directories::configHome() / "zelv" / "gamecontrollerdb.txt").string();
}

SdlControllers::SdlControllers() : keyboard_(std::make_unique<Keyboard>()) {
    // SDL reads SDL_GAMECONTROLLERCONFIG itself when the subsystem starts.
    if (SDL_InitSubSystem(SDL_INIT_GAMECONTROLLER) != 0) {
        std::fprintf(stderr, "Controllers: %s\n", SDL_GetError());
        return;
    }
    started_ = true;
    // Read here rather than by SDL: a pipe or a device in the file's place must neither block
    // nor be read without end.
    std::string const user = userMappingFile();
    WholeFile file = readWholeFile(user, kMaxMappingFileSize);
    if (file.status == WholeFile::TooLarge)
        std::fprintf(stderr, "Controllers: cannot read %s: larger than %llu bytes\n", user.c_str(),
                     static_cast<unsigned long long>(kMaxMappingFileSize));
    else if (file.status == WholeFile::Failed)
        std::fprintf(stderr, "Controllers: cannot read %s: %s\n", user.c_str(), file.error.c_str());
    else if (file.status == WholeFile::Read && !file.bytes.empty() &&
             SDL_GameControllerAddMappingsFromRW(SDL_RWFromConstMem(file.bytes.data(), int(file.bytes.size())), 1) < 0)
        std::fprintf(stderr, "Controllers: cannot read %s: %s\n", user.c_str(), SDL_GetError());
    // Controllers already connected arrive as device-added events.
}

SdlControllers::~SdlControllers() {
    pads_.clear();
    if (started_) SDL_QuitSubSystem(SDL_INIT_GAMECONTROLLER);
}

void SdlControllers::handle(SDL_Event const& event) {
    switch (event.type) {
        case SDL_CONTROLLERDEVICEADDED: {
            if (!started_ || !SDL_IsGameController(event.cdevice.which)) break;
            SDL_GameController* c = SDL_GameControllerOpen(event.cdevice.which);
            if (!c) break;
            SDL_JoystickID id = SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c));
            for (auto const& p : pads_)
                if (p->id() == id) {
                    SDL_GameControllerClose(c);  // opened twice: the count stays with the first
                    return;
                }
            pads_.push_back(std::make_unique<Pad>(c));
            break;
        }
        case SDL_CONTROLLERDEVICEREMOVED:
            for (size_t i = 0; i < pads_.size(); ++i)
                if (pads_[i]->id() == event.cdevice.which) {
                    pads_.erase(pads_.begin() + ptrdiff_t(i));
                    break;
                }
            break;
        case SDL_CONTROLLERBUTTONDOWN:
            if (event.cbutton.button != SDL_CONTROLLER_BUTTON_START) break;
            for (auto const& p : pads_)
                if (p->id() == event.cbutton.which) p->pausePressed();
            break;
        case SDL_KEYDOWN: {
            SDL_Scancode s = event.key.keysym.scancode;
            switch (s) {
                case SDL_SCANCODE_LEFT: case SDL_SCANCODE_RIGHT: case SDL_SCANCODE_UP: case SDL_SCANCODE_DOWN:
                case SDL_SCANCODE_A: case SDL_SCANCODE_D: case SDL_SCANCODE_W: case SDL_SCANCODE_S:
                case SDL_SCANCODE_SPACE: case SDL_SCANCODE_ESCAPE: case SDL_SCANCODE_LSHIFT:
                case SDL_SCANCODE_RSHIFT: case SDL_SCANCODE_RETURN: case SDL_SCANCODE_KP_ENTER: case SDL_SCANCODE_P:
                    keyboard_->used = true;
                    if (!event.key.repeat) keyboard_->pressed(s);
                    break;
                default:
                    return;
            }
            if (!event.key.repeat && (s == SDL_SCANCODE_P || s == SDL_SCANCODE_ESCAPE)) keyboard_->pausePressed();
            break;
        }
        default:
            break;
    }
}

void SdlControllers::newFrame() { keyboard_->newFrame(); }

void SdlControllers::setTyping(bool typing) { keyboard_->typing = typing; }

std::vector<GameController*> SdlControllers::controllers() {
    std::vector<GameController*> list;
    for (auto const& p : pads_) list.push_back(p.get());
    if (keyboard_->used) list.push_back(keyboard_.get());
    return list;
}

}  // namespace platform
