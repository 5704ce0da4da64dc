#pragma once
// One pooled OpenAL source. Its gain on the device is always its own gain times the volume of
// its category, so category fades never disturb a sound's own fade.
#include <cstdint>

#include <glm/vec3.hpp>

namespace Audio {

class Source {
public:
    Source();
    ~Source();
    Source(Source const&) = delete;
    Source& operator=(Source const&) = delete;

    // Stops and deletes the OpenAL source while its context is still alive; later calls on
    // this object do nothing.
    void destroy();

    uint32_t name() const { return name_; }

    void play(void const* owner);
    void pause();
    void resume();
    void stop();

    bool isFree() const;
    bool isPlaying() const;
    bool isPaused() const;

    void setBuffer(uint32_t buffer);
    uint32_t buffer() const;
    void setLooping(bool looping);
    void setSourceRelative(bool relative);
    void setPosition(glm::vec3 const& position);
    void setReferenceDistance(float distance);
    void setMaxDistance(float distance);

    void setGain(float gain);
    void setCategoryVolume(float volume);

    void setCategory(uint8_t category) { category_ = category; }
    uint8_t category() const { return category_; }
    float gain() const { return gain_; }
    float categoryVolume() const { return categoryVolume_; }
    void const* owner() const { return owner_; }
    void setOwner(void const* owner) { owner_ = owner; }

private:
    int state() const;

    uint32_t name_ = 0;
    void const* owner_ = nullptr;
    uint8_t category_ = 0;
    float gain_ = 0.0f;
    float categoryVolume_ = 1.0f;
};

}  // namespace Audio
