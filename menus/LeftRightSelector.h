#pragma once
// An options row: a background, left and right arrow buttons and the labels of the selected
// value, kept between the arrows. The owner's button actions change the selection; the left arrow mirrors the right
// one's focus highlight, since only the right one is in the focus layout.
#include <cstdint>
#include <utility>
#include <vector>

#include "fonts/TextLabel.h"
#include "fonts/TextMesh.h"
#include "graphics/Sprite.h"
#include "menus/Button.h"

class LeftRightSelector {
public:
    // Both labels are drawn for the selected value.
    struct Option {
        Option(TextLabel&& first, TextLabel const& second) : first(std::move(first)), second(second) {}
        TextLabel first, second;
    };

    LeftRightSelector(Sprite const& background, Button&& left, Button&& right, std::vector<Option>&& options,
                      uint64_t selected, uint64_t tag);

    void draw(Graphics::StandardShader* shader) const;
    void layoutLabels(Fonts::TextMesh& mesh) const;
    void touchBegan(glm::vec2 const& point, unsigned touch);
    void touchMoved(glm::vec2 const& point, unsigned touch);
    void touchEnded(glm::vec2 const& point, unsigned touch);
    void update(float dt);
    bool isReady() const { return left_.isReady() && right_.isReady(); }

    uint64_t& selected() { return selected_; }
    Button& left() { return left_; }
    Button& right() { return right_; }
    uint64_t optionCount() const { return options_.size(); }
    uint64_t tag() const { return tag_; }

private:
    void fitBetweenArrows(TextLabel& first, TextLabel& second) const;

    uint64_t tag_;
    Sprite background_;
    Button left_;
    Button right_;
    std::vector<Option> options_;
    uint64_t selected_;
};
