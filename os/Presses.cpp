#include "os/Presses.h"

#include <algorithm>

namespace os {

namespace {

static_assert(platform::kKeyRightShift == 1u << 13, "a key that is not an input");

constexpr uint8_t GamepadState::*kButtonFields[] = {&GamepadState::buttonA, &GamepadState::buttonB,
                                                    &GamepadState::buttonX, &GamepadState::buttonY};
constexpr float GamepadState::*kAxisFields[] = {&GamepadState::dpadX, &GamepadState::dpadY, &GamepadState::leftX,
                                                &GamepadState::leftY, &GamepadState::rightX, &GamepadState::rightY};

}  // namespace

GamepadState padState(platform::GameController::Gamepad const& g, platform::GameController::Extended const* e) {
    GamepadState s;
    s.dpadX = g.dpadX;
    s.dpadY = g.dpadY;
    s.buttonY = g.buttonY;
    s.buttonA = g.buttonA;
    s.buttonX = g.buttonX;
    s.buttonB = g.buttonB;
    if (e) {
        s.leftX = e->leftX;
        s.leftY = e->leftY;
        s.rightX = e->rightX;
        s.rightY = e->rightY;
    }
    return s;
}

// A NaN axis is up.
float Presses::amount(GamepadState const& s, uint32_t index) {
    if (index < kKeys) return (s.keys >> index) & 1u ? 1.0f : 0.0f;
    if (index < kKeys + kButtons) return s.*kButtonFields[index - kKeys] ? 1.0f : 0.0f;
    uint32_t const side = index - kKeys - kButtons;
    float const v = s.*kAxisFields[side / 2];
    float const pushed = side % 2 ? v : -v;
    return pushed > 0 ? std::min(pushed, 1.0f) : 0.0f;
}

GamepadState Presses::pushOf(Input const& input) {
    if (input.index < kKeys) {
        platform::KeyboardProfiles const p = platform::keyboardProfiles(1u << input.index);
        GamepadState s = padState(p.gamepad, &p.extended);
        s.keys = 1u << input.index;
        return s;
    }
    GamepadState s;
    if (input.index < kKeys + kButtons) {
        s.*kButtonFields[input.index - kKeys] = 1;
        return s;
    }
    uint32_t const side = input.index - kKeys - kButtons;
    s.*kAxisFields[side / 2] = side % 2 ? input.value : -input.value;
    return s;
}

bool Presses::opposed(GamepadState const& a, GamepadState const& b) {
    for (auto axis : kAxisFields)
        if ((a.*axis < 0 && b.*axis > 0) || (a.*axis > 0 && b.*axis < 0)) return true;
    return false;
}

Presses::Input* Presses::find(uintptr_t controller, uint32_t index) {
    for (Input& i : inputs_)
        if (i.controller == controller && i.index == index) return &i;
    return nullptr;
}

void Presses::read(std::vector<ControllerState> const& controllers) {
    ++read_;
    std::erase_if(inputs_, [&](Input const& i) {
        return std::none_of(controllers.begin(), controllers.end(),
                            [&](ControllerState const& c) { return c.controller == i.controller; });
    });
    std::vector<size_t> pressed;
    for (ControllerState const& c : controllers)
        for (uint32_t index = 0; index < kInputs; ++index) {
            float const a = amount(c.state, index);
            Input* in = find(c.controller, index);
            if (a > 0 && in && in->down) {
                in->value = a;
            } else if (a > 0) {
                if (!in) in = &inputs_.emplace_back();
                *in = Input{c.controller, index, true, read_, a, false, false};
                pressed.push_back(size_t(in - inputs_.data()));
            } else if (in) {
                in->down = false;
            }
        }
    // The later press wins: what it pushes against rests until let go (two at once both rest).
    for (size_t p : pressed) {
        GamepadState const push = pushOf(inputs_[p]);
        for (size_t q = 0; q < inputs_.size(); ++q)
            if (q != p && inputs_[q].down && opposed(push, pushOf(inputs_[q]))) inputs_[q].overridden = true;
    }
    // Let go, and no press of a change under way: nothing more to know of it.
    std::erase_if(inputs_, [&](Input const& i) { return !i.down && !(changing_ && i.downAt > changeBegan_); });
}

void Presses::changeBegan(bool withLastRead) {
    if (changing_) return;
    changing_ = true;
    changeBegan_ = withLastRead ? read_ : read_ - 1;
}

GamepadState Presses::take() {
    struct Side {
        bool any = false;
        uint64_t latest = 0;
        float most = 0;
    };
    Side sides[kAxes][2]{};
    std::vector<Input const*> taken;
    for (Input& in : inputs_) {
        if (changing_ && in.down && in.downAt <= changeBegan_) in.heldOver = true;
        bool const pressedInChange = changing_ && in.downAt > changeBegan_;
        if (in.overridden || in.heldOver || (!in.down && !pressedInChange)) continue;
        taken.push_back(&in);
        GamepadState const push = pushOf(in);
        for (uint32_t a = 0; a < kAxes; ++a) {
            float const v = push.*kAxisFields[a];
            if (v == 0) continue;
            Side& side = sides[a][v > 0 ? 1 : 0];
            side.any = true;
            side.latest = std::max(side.latest, in.downAt);
            side.most = std::max(side.most, v > 0 ? v : -v);
        }
    }
    GamepadState s;
    for (uint32_t a = 0; a < kAxes; ++a) {
        Side const& neg = sides[a][0];
        Side const& pos = sides[a][1];
        if (pos.any && (!neg.any || pos.latest > neg.latest))
            s.*kAxisFields[a] = pos.most;
        else if (neg.any && (!pos.any || neg.latest > pos.latest))
            s.*kAxisFields[a] = -neg.most;
    }
    // What pushes against the settled state is not down in it.
    for (Input const* in : taken) {
        GamepadState const push = pushOf(*in);
        bool lost = false;
        for (auto axis : kAxisFields)
            if (push.*axis != 0 && !(push.*axis * s.*axis > 0)) lost = true;
        if (lost) continue;
        s.keys |= push.keys;
        for (auto button : kButtonFields) s.*button |= push.*button;
    }
    changing_ = false;
    std::erase_if(inputs_, [](Input const& i) { return !i.down; });
    return s;
}

}  // namespace os
