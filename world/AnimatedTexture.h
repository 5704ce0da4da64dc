#pragma once
// A sprite-sheet animation on a level quad, shown and activated by level signals; it fades in
// only while both flags are set.
#include "level/PristineLevel.h"

class DrawList;

class AnimatedTexture {
public:
    AnimatedTexture(PristineLevel::MeshSet const&, DrawList*, PristineLevel::AnimatedTexture const& record)
        : shown_(record.visible != 0), active_(record.visible != 0) {}

    void restart() { ++restarts_; }
    void show() { shown_ = true; }
    void hide() { shown_ = false; }
    void activate() { active_ = true; }
    void deactivate() { active_ = false; }
    void update(float) {}
    void draw() {}

    bool isShown() const { return shown_; }
    bool isActive() const { return active_; }
    int restarts() const { return restarts_; }

private:
    bool shown_;
    bool active_;
    int restarts_ = 0;
};
