#pragma once
// A looping flip-book of numbered images ("Gear_00000.png", "Gear_00001.png"...), each a
// centred sprite, switched by time.
#include <cstdint>
#include <functional>
#include <glm/vec2.hpp>
#include <map>

#include "graphics/Sprite.h"
#include "os/TextureDescriptor.h"

class ImageSequence {
public:
    // The frames are named after `firstFrame`: its trailing run of zeros is the frame number's
    // width. No frames at all for a zero count or rate.
    ImageSequence(Graphics::Context* context, TextureDescriptor const& firstFrame, uint32_t framesPerSecond,
                  uint32_t frameCount, glm::vec2 const& offset);
    // The selected frame points into this object's own map.
    ImageSequence(ImageSequence const&) = delete;
    ImageSequence& operator=(ImageSequence const&) = delete;

    // One frame's time on; past the end it wraps once.
    void advance();
    // The frame whose start time is the latest not after the current time.
    void selectFrame();
    void draw(Graphics::StandardShader& shader) const;

    float time() const { return time_; }
    float duration() const { return duration_; }
    float step() const { return step_; }
    std::size_t frameCount() const { return frames_.size(); }
    // The selected frame's sprite; null before the first selectFrame or without frames.
    Sprite const* currentSprite() const { return current_; }
    // Every frame's start time and sprite, latest first.
    std::map<float, Sprite, std::greater<float>> const& frames() const { return frames_; }

    // The path of frame `index` of a sequence starting at `firstPath`.
    static std::string framePath(std::string const& firstPath, uint32_t index);

private:
    float duration_ = 0.0f;
    float time_ = 0.0f;
    std::map<float, Sprite, std::greater<float>> frames_;
    Sprite const* current_ = nullptr;
    float step_ = 0.0f;
};
