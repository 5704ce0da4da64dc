#include "menus/FocusNavigator.h"

#include <cstdio>

#include "menus/Button.h"
#include "os/Assets.h"
#include "os/services/ShellServices.h"

FocusNavigator::FocusNavigator(Audio::Context* audio, std::vector<Node> const& nodes, uint64_t focused,
                               bool followPresence)
    : nodes_(nodes), focused_(focused), followPresence_(followPresence ? 1 : 0),
      moveSound_(audio, Assets::sndDravoInGameMenuDialogZoomOut) {
    // A menu's layout error must not index past its own buttons.
    if (focused_ >= nodes_.size()) {
        if (!nodes_.empty()) std::fprintf(stderr, "menus: focus %llu is not a button\n", (unsigned long long)focused);
        focused_ = 0;
    }
    if (followPresence_ || isControllerPresent()) highlightFocused(isControllerPresent());
}

void FocusNavigator::highlightFocused(bool on) {
    if (focused_ < nodes_.size() && nodes_[focused_].button) nodes_[focused_].button->setHighlighted(on);
}

void FocusNavigator::updateHighlight() {
    if (followPresence_ || isControllerPresent()) highlightFocused(isControllerPresent());
}

void FocusNavigator::reset(uint64_t focused) {
    if (focused >= nodes_.size()) return;
    if (focused != focused_) {
        highlightFocused(false);
        focused_ = focused;
    }
    previous_ = GamepadState{};
    updateHighlight();
}

void FocusNavigator::move(boost::optional<uint64_t> Node::*direction) {
    if (focused_ >= nodes_.size()) return;
    boost::optional<uint64_t> const next = nodes_[focused_].*direction;
    if (!next || *next >= nodes_.size()) return;
    highlightFocused(false);
    focused_ = *next;
    highlightFocused(true);
    moveSound_.play();
}

void FocusNavigator::gamepadInput(GamepadState const& s) {
    GamepadState const& p = previous_;
    // Each test starts from the node the one before it left. A d-pad pushed one way right after
    // the other (a press beside an opposite one held) is a step too.
    if ((s.dpadX > 0 && p.dpadX <= 0) || (s.leftX > 0.5f && p.leftX <= 0.5f)) move(&Node::right);
    if ((s.dpadX < 0 && p.dpadX >= 0) || (s.leftX < -0.5f && p.leftX >= -0.5f)) move(&Node::left);
    if ((s.dpadY > 0 && p.dpadY <= 0) || (s.leftY > 0.5f && p.leftY <= 0.5f)) move(&Node::up);
    if ((s.dpadY < 0 && p.dpadY >= 0) || (s.leftY < -0.5f && p.leftY >= -0.5f)) move(&Node::down);
    if (s.buttonA && !p.buttonA && focused_ < nodes_.size() && nodes_[focused_].button)
        nodes_[focused_].button->activate();
    previous_ = s;
}
