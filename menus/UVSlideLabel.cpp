#include "menus/UVSlideLabel.h"

UVSlideLabel::UVSlideLabel(PopInLabel&& label, UVSlideSprite&& slide, float threshold)
    : label_(std::move(label)), slide_(std::move(slide)), threshold_(threshold) {}

void UVSlideLabel::start() {
    state_ = kSliding;
    slide_.start();
}

void UVSlideLabel::update(float dt) {
    switch (state_) {
    case kSliding:
        // Compared with the progress before this frame's step.
        if (slide_.progress() > threshold_) {
            state_ = kLabelPopping;
            label_.popIn().animation().start();
        }
        slide_.update(dt);
        break;
    case kLabelPopping:
        if (label_.popIn().animation().isShown() && slide_.isFinished()) state_ = kDone;
        slide_.update(dt);
        label_.update(dt);
        break;
    default:
        break;
    }
}
