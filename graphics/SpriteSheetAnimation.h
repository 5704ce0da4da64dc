#pragma once
// Frames of a sprite sheet played over time: which cell of a rows x columns grid to show.
// Frames run left to right, then row by row from the top of the image (v = 0).
#include <cstdint>
#include <glm/vec2.hpp>

class SpriteSheetAnimation {
public:
    struct Parameters {
        uint32_t rows = 1;
        uint32_t columns = 1;
        uint32_t frameCount = 1;
        float framesPerSecond = 1.0f;
        uint32_t startFrame = 0;
        uint8_t loop = 0;

        Parameters() = default;
        Parameters(uint32_t rows, uint32_t columns, uint32_t frameCount, uint32_t startFrame, bool loop,
                   float framesPerSecond);
    };

    explicit SpriteSheetAnimation(Parameters const& parameters);

    // While playing: picks the frame of the elapsed time, stops a non-looping run once it is
    // over, then advances the elapsed time by dt ms.
    void update(float dt);
    void restart();
    bool isPlaying() const { return playing_ != 0; }
    glm::vec2 const& getUvOffset() const { return uvOffset_; }
    glm::vec2 const& getUvScale() const { return uvScale_; }
    uint32_t frame() const { return frame_; }

private:
    Parameters parameters_;
    glm::vec2 uvScale_{0.0f};
    glm::vec2 uvOffset_{0.0f};
    uint32_t frame_ = 0;
    uint8_t playing_ = 0;
    float elapsed_ = 0.0f;
};
