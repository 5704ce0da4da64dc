#include "os/Presses.h"

#include <algorithm>
#include <cmath>

namespace os {

namespace {

static_assert(platform::kKeyRightShift == 1u << 13, "a key that is not an input");

constexpr uint8_t GamepadState::*kButtonFields[] = {&GamepadState::buttonA, &GamepadState::buttonB,
                                                    &GamepadState::buttonX, &GamepadState::buttonY};
constexpr float GamepadState::*kAxisFields[] = {&GamepadState::dpadX, &GamepadState::dpadY, &GamepadState::leftX,
                                                &GamepadState::leftY, &GamepadState::rightX, &GamepadState::rightY};
// The direction each axis pushes: the d-pad and the left stick steer alike.
constexpr uint32_t kDirections = 4;
constexpr uint32_t kDirectionOf[] = {0, 1, 0, 1, 2, 3};

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
float Presses::amount(ControllerState const& c, uint32_t index) {
    GamepadState const& s = c.state;
    if (index < kKeys) return (s.keys >> index) & 1u ? 1.0f : 0.0f;
    if (index < kKeys + kButtons) return s.*kButtonFields[index - kKeys] ? 1.0f : 0.0f;
    uint32_t const side = index - kKeys - kButtons;
    // The d-pad's sides, in kDpadLeft's order.
    if (side < 4 && ((c.dpad >> side) & 1u)) return 1.0f;
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
    for (uint32_t i = 0; i < kAxes; ++i)
        for (uint32_t j = 0; j < kAxes; ++j)
            if (kDirectionOf[i] == kDirectionOf[j] && a.*kAxisFields[i] * b.*kAxisFields[j] < 0) return true;
    return false;
}

Presses::Input* Presses::findDown(uintptr_t controller, uint32_t index) {
    for (Input& i : inputs_)
        if (i.down && i.controller == controller && i.index == index) return &i;
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
            float const a = amount(c, index);
            Input* in = findDown(c.controller, index);
            if (a > 0 && in) {
                // Held over short of a step, an axis pushed on to one is pressed now.
                bool const before = in->heldOver || (changing_ && in->downAt <= changeBegan_);
                bool const stepped = before && in->value <= kStep && a > kStep;
                in->value = a;
                in->peak = std::max(in->peak, a);
                if (!stepped) continue;
                *in = Input{c.controller, index, true, read_, a, a};
                pressed.push_back(size_t(in - inputs_.data()));
            } else if (a > 0) {
                inputs_.push_back(Input{c.controller, index, true, read_, a, a});
                pressed.push_back(inputs_.size() - 1);
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
    // Let go, and no press of a change still to hand over: nothing more to know of it.
    std::erase_if(inputs_, [&](Input const& i) { return !i.down && !keptAfterLetGo(i); });
    // Taps without end during one change keep only the latest.
    size_t taps = size_t(std::count_if(inputs_.begin(), inputs_.end(), [](Input const& i) { return !i.down; }));
    for (auto i = inputs_.begin(); taps > kMaxTaps && i != inputs_.end();)
        if (!i->down) {
            i = inputs_.erase(i);
            --taps;
        } else {
            ++i;
        }
}

void Presses::changeBegan(bool withLastRead) {
    if (changing_) return;
    uint64_t began = withLastRead ? read_ : read_ - 1;
    // Presses of the last change not handed over yet go to the next taker.
    for (Input const& i : inputs_)
        if (waiting(i)) began = std::min(began, i.downAt - 1);
    changing_ = true;
    changeBegan_ = began;
    handing_ = false;
    gap_ = false;
}

GamepadState Presses::settle(std::vector<Input const*> const& taken) {
    struct Side {
        bool any = false;
        uint64_t latest = 0;
    };
    Side sides[kDirections][2]{};
    for (Input const* in : taken) {
        GamepadState const push = pushOf(*in);
        for (uint32_t a = 0; a < kAxes; ++a) {
            float const v = push.*kAxisFields[a];
            if (v == 0) continue;
            Side& side = sides[kDirectionOf[a]][v > 0 ? 1 : 0];
            side.any = true;
            side.latest = std::max(side.latest, in->downAt);
        }
    }
    int won[kDirections]{};
    for (uint32_t d = 0; d < kDirections; ++d) {
        Side const& neg = sides[d][0];
        Side const& pos = sides[d][1];
        if (pos.any && (!neg.any || pos.latest > neg.latest)) won[d] = 1;
        if (neg.any && (!pos.any || neg.latest > pos.latest)) won[d] = -1;
    }
    // What pushes against the settled direction is not down in it.
    GamepadState s;
    for (Input const* in : taken) {
        GamepadState const push = pushOf(*in);
        bool lost = false;
        for (uint32_t a = 0; a < kAxes; ++a) {
            float const v = push.*kAxisFields[a];
            if (v != 0 && (v > 0 ? 1 : -1) != won[kDirectionOf[a]]) lost = true;
        }
        if (lost) continue;
        for (auto axis : kAxisFields)
            if (std::abs(push.*axis) > std::abs(s.*axis)) s.*axis = push.*axis;
        s.keys |= push.keys;
        for (auto button : kButtonFields) s.*button |= push.*button;
    }
    return s;
}

void Presses::spend() {
    std::erase_if(inputs_, [](Input const& i) { return !i.down; });
    for (Input& in : inputs_) in.heldOver = true;
    changing_ = handing_ = gap_ = false;
}

GamepadState Presses::take() {
    if (changing_) {
        for (Input& in : inputs_)
            if (in.down && in.downAt <= changeBegan_) in.heldOver = true;
        changing_ = false;
        handing_ = true;
        gap_ = false;
    }
    std::vector<Input const*> taken;
    auto live = [&](Input const& in) { return in.down && !in.heldOver && !in.overridden && !waiting(in); };
    if (handing_ && !gap_) {
        // The earliest presses still to hand over, with what is down already: one overridden
        // later acts too, as it did before its opposite came. A stick's counts as far as it went.
        uint64_t next = 0;
        for (Input const& in : inputs_)
            if (waiting(in) && (next == 0 || in.downAt < next)) next = in.downAt;
        if (next == 0) handing_ = false;
        for (Input& in : inputs_)
            if (waiting(in) && in.downAt == next) {
                in.handed = true;
                in.value = in.peak;
            }
        for (Input const& in : inputs_)
            if (live(in) || (in.handed && in.downAt == next)) taken.push_back(&in);
        gap_ = handing_ && std::any_of(inputs_.begin(), inputs_.end(), [&](Input const& in) { return waiting(in); });
        if (!gap_) handing_ = false;
    } else {
        // Between two presses handed over: the first let go.
        gap_ = false;
        for (Input const& in : inputs_)
            if (live(in)) taken.push_back(&in);
    }
    GamepadState const s = settle(taken);
    std::erase_if(inputs_, [&](Input const& i) { return !i.down && !keptAfterLetGo(i); });
    return s;
}

}  // namespace os
