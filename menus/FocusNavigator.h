#pragma once
// Controller focus over a menu's buttons: the dpad or the left stick moves it along the
// neighbour links each menu lays out, the focused button pulses its highlight, and a new press
// of A activates it.
#include <boost/optional.hpp>

#include <cstdint>
#include <vector>

#include "audio/Sound.h"
#include "os/services/PlatformServices.h"

class Button;
namespace Audio {
class Context;
}

class FocusNavigator {
public:
    struct Node {
        Node(Button* button, boost::optional<uint64_t> left, boost::optional<uint64_t> right,
             boost::optional<uint64_t> up, boost::optional<uint64_t> down)
            : button(button), left(left), right(right), up(up), down(down) {}
        Button* button;  // not owned
        boost::optional<uint64_t> left, right, up, down;
    };

    // With followPresence the focused button's highlight follows whether a controller is
    // present; without it the highlight is only ever switched on.
    FocusNavigator(Audio::Context* audio, std::vector<Node> const& nodes, uint64_t focused, bool followPresence);

    // Once per frame while the menu takes input.
    void updateHighlight();
    void gamepadInput(GamepadState const& state);
    // Focus on this node as if the navigator were new: no state seen before.
    void reset(uint64_t focused);
    Node& focusedNode() { return nodes_[focused_]; }
    uint64_t focused() const { return focused_; }

private:
    void move(boost::optional<uint64_t> Node::*direction);
    void highlightFocused(bool on);

    std::vector<Node> nodes_;
    uint64_t focused_;
    GamepadState previous_{};
    uint8_t followPresence_;
    Sound moveSound_;
};
