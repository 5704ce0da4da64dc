#include "platform/SdlControllers.h"

#include "platform/base/AtomicFile.h"
#include "platform/base/Directories.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <utility>

namespace platform {

namespace {

// Sticks rest a little off centre; below this they read 0 so an idle pad sends no input.
constexpr float kDeadZone = 0.2f;
// An axis's input index is past every button's and key's.
constexpr uint8_t kAxisBase = 32;
// The keyboard's P, beside its KeyboardKey bits: it only pauses.
constexpr uint8_t kKeyP = 14;

float axisValue(int16_t raw, bool flip) {
    float v = std::fmax(-1.0f, std::fmin(1.0f, float(raw) / 32767.0f));
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

// A controller's buttons or keys (one bit each) and axes, as the frames have taken them.
class SdlControllers::Device : public GameController {
public:
    uint32_t buttons = 0;
    float axes[4] = {};
    uint32_t pauseButtons = 0;  // the buttons that pause when pressed

    bool hasPausedHandler() const override { return pause_.hasHandler(); }
    void setPausedHandler(std::function<void()> h) override { pause_.setHandler(std::move(h)); }
    float value(uint8_t input) const {
        return input >= kAxisBase ? axes[input - kAxisBase] : float((buttons >> input) & 1u);
    }
    void set(uint8_t input, float v) {
        if (input >= kAxisBase) {
            axes[input - kAxisBase] = v;
            return;
        }
        bool const was = (buttons >> input) & 1u;
        buttons = v > 0 ? buttons | (1u << input) : buttons & ~(1u << input);
        if (!was && v > 0 && ((pauseButtons >> input) & 1u)) pause_.press();
    }

private:
    PauseButton pause_;
};

class SdlControllers::Pad : public Device {
public:
    explicit Pad(SDL_GameController* c) : c_(c) { pauseButtons = 1u << SDL_CONTROLLER_BUTTON_START; }
    ~Pad() override { SDL_GameControllerClose(c_); }
    SDL_JoystickID id() const { return SDL_JoystickInstanceID(SDL_GameControllerGetJoystick(c_)); }

    std::optional<Gamepad> gamepad() const override {
        auto b = [this](SDL_GameControllerButton button) { return ((buttons >> button) & 1u) != 0; };
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
        return Extended{axes[SDL_CONTROLLER_AXIS_LEFTX], axes[SDL_CONTROLLER_AXIS_LEFTY],
                        axes[SDL_CONTROLLER_AXIS_RIGHTX], axes[SDL_CONTROLLER_AXIS_RIGHTY]};
    }

private:
    SDL_GameController* c_;
};

class SdlControllers::Keyboard : public Device {
public:
    Keyboard() { pauseButtons = (1u << kKeyP) | kKeyEscape; }
    bool used = false;
    bool typing = false;
    uint32_t keysDown() const override { return typing ? 0 : buttons & ~(1u << kKeyP); }
    std::optional<Gamepad> gamepad() const override { return keyboardProfiles(keysDown()).gamepad; }
    std::optional<Extended> extendedGamepad() const override { return keyboardProfiles(keysDown()).extended; }
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

SdlControllers::Device* SdlControllers::device(SDL_JoystickID id) {
    if (id == kKeyboard) return keyboard_.get();
    for (auto const& p : pads_)
        if (p->id() == id) return p.get();
    return nullptr;
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
            std::erase_if(queue_, [&](Change const& c) { return c.device == event.cdevice.which; });
            break;
        case SDL_CONTROLLERBUTTONDOWN:
        case SDL_CONTROLLERBUTTONUP:
            switch (event.cbutton.button) {
                case SDL_CONTROLLER_BUTTON_A: case SDL_CONTROLLER_BUTTON_B: case SDL_CONTROLLER_BUTTON_X:
                case SDL_CONTROLLER_BUTTON_Y: case SDL_CONTROLLER_BUTTON_START:
                case SDL_CONTROLLER_BUTTON_DPAD_UP: case SDL_CONTROLLER_BUTTON_DPAD_DOWN:
                case SDL_CONTROLLER_BUTTON_DPAD_LEFT: case SDL_CONTROLLER_BUTTON_DPAD_RIGHT:
                    if (device(event.cbutton.which))
                        queue_.push_back({event.cbutton.which, event.cbutton.button,
                                          event.type == SDL_CONTROLLERBUTTONDOWN ? 1.0f : 0.0f});
                    break;
                default:
                    break;
            }
            break;
        case SDL_CONTROLLERAXISMOTION:
            switch (event.caxis.axis) {
                case SDL_CONTROLLER_AXIS_LEFTX: case SDL_CONTROLLER_AXIS_LEFTY:
                case SDL_CONTROLLER_AXIS_RIGHTX: case SDL_CONTROLLER_AXIS_RIGHTY:
                    // Up is positive.
                    if (device(event.caxis.which))
                        queue_.push_back({event.caxis.which, uint8_t(kAxisBase + event.caxis.axis),
                                          axisValue(event.caxis.value, event.caxis.axis == SDL_CONTROLLER_AXIS_LEFTY ||
                                                                           event.caxis.axis == SDL_CONTROLLER_AXIS_RIGHTY)});
                    break;
                default:
                    break;
            }
            break;
        case SDL_KEYDOWN:
        case SDL_KEYUP: {
            static constexpr std::pair<SDL_Scancode, uint32_t> kKeys[] = {
                {SDL_SCANCODE_LEFT, kKeyLeft},          {SDL_SCANCODE_RIGHT, kKeyRight},
                {SDL_SCANCODE_UP, kKeyUp},              {SDL_SCANCODE_DOWN, kKeyDown},
                {SDL_SCANCODE_A, kKeyA},                {SDL_SCANCODE_D, kKeyD},
                {SDL_SCANCODE_W, kKeyW},                {SDL_SCANCODE_S, kKeyS},
                {SDL_SCANCODE_SPACE, kKeySpace},        {SDL_SCANCODE_RETURN, kKeyReturn},
                {SDL_SCANCODE_KP_ENTER, kKeyPadEnter},  {SDL_SCANCODE_ESCAPE, kKeyEscape},
                {SDL_SCANCODE_LSHIFT, kKeyLeftShift},   {SDL_SCANCODE_RSHIFT, kKeyRightShift},
                {SDL_SCANCODE_P, 1u << kKeyP},
            };
            for (auto const& [scancode, bit] : kKeys) {
                if (event.key.keysym.scancode != scancode) continue;
                if (event.type == SDL_KEYDOWN) keyboard_->used = true;
                if (!event.key.repeat)
                    queue_.push_back({kKeyboard, uint8_t(std::countr_zero(bit)), event.type == SDL_KEYDOWN ? 1.0f : 0.0f});
            }
            break;
        }
        default:
            break;
    }
}

void SdlControllers::takeFrame() {
    // What a change means for the frames: each button or key, and each side of an axis, is an
    // input at rest (0), pushed (1) or, for an axis, pushed as far as a menu step (2).
    struct Input {
        SDL_JoystickID device;
        uint32_t input;  // twice the change's, plus 1 for an axis's positive side
        bool operator==(Input const&) const = default;
    };
    auto level = [](uint8_t input, float value, int side) {
        if (input < kAxisBase) return value > 0 ? 1 : 0;
        float const pushed = side ? value : -value;
        return pushed <= 0 ? 0 : pushed <= GameController::kStep ? 1 : 2;
    };
    std::optional<Input> pressed;
    std::vector<Input> released;
    while (!queue_.empty()) {
        Change const c = queue_.front();
        Device* d = device(c.device);
        Input moved[2];
        int moves[2] = {0, 0};  // 1 pressed, -1 let go
        bool wait = false;
        for (int side = 0; d && side < (c.input < kAxisBase ? 1 : 2); ++side) {
            moved[side] = {c.device, uint32_t(c.input) * 2u + uint32_t(side)};
            int const before = level(c.input, d->value(c.input), side), after = level(c.input, c.value, side);
            moves[side] = (after > before) - (after < before);
            bool const again = std::find(released.begin(), released.end(), moved[side]) != released.end();
            // One press a frame, not pressed again in it; and its release waits for the next.
            if (moves[side] > 0 && ((pressed && *pressed != moved[side]) || again)) wait = true;
            if (moves[side] < 0 && pressed == moved[side]) wait = true;
        }
        if (wait && queue_.size() <= kMaxQueued) break;
        queue_.pop_front();
        if (!d) continue;
        for (int side = 0; side < 2; ++side) {
            if (moves[side] > 0) pressed = moved[side];
            if (moves[side] < 0) released.push_back(moved[side]);
        }
        // Last: a pause press's handler may read the controllers.
        d->set(c.input, c.value);
    }
}

void SdlControllers::setTyping(bool typing) { keyboard_->typing = typing; }

std::vector<GameController*> SdlControllers::controllers() {
    std::vector<GameController*> list;
    for (auto const& p : pads_) list.push_back(p.get());
    if (keyboard_->used) list.push_back(keyboard_.get());
    return list;
}

}  // namespace platform
