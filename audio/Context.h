#pragma once
// The sound engine: the OpenAL device and context, the bank of decoded sounds shared by
// reference count, a fixed pool of sources, the sources fading out after their handles went
// away, two volume categories and the listener. Main thread only.
#include <array>
#include <cstdint>
#include <string>

#include <AL/alc.h>
#include <glm/vec3.hpp>

#include "audio/BufferEntry.h"
#include "audio/FadingSources.h"
#include "audio/SoundBank.h"
#include "audio/Source.h"
#include "audio/VolumeCategory.h"
#include "os/SoundDescriptor.h"

namespace Audio {

class Context {
public:
    static constexpr size_t sourceCount = 32;
    static constexpr size_t categoryCount = 2;

    struct Parameters {
        float fadeRate;          // gain lost per millisecond by a fading source
        uint32_t distanceModel;  // OpenAL distance model
        float referenceDistance;
        float maxDistance;
    };

    // Opens the default device. Without one the context still works, silently.
    explicit Context(Parameters const& parameters);
    // Runs on a device the caller opened (a loopback device that renders on request); the
    // context takes it over and closes it. attributes go to alcCreateContext (may be null).
    Context(Parameters const& parameters, ALCdevice* device, int const* attributes);
    ~Context();
    Context(Context const&) = delete;
    Context& operator=(Context const&) = delete;

    void update(float dtMs);

    uint64_t hashName(std::string const& path) const;
    // The entry of a hash with one more reference, decoding the file (a locale variant first) on
    // first use. Null when the bank is full, or when path is null and the hash is not loaded.
    BufferEntry* acquireBuffer(uint64_t hash, char const* path);
    // One reference less. A sound whose last reference goes while it plays fades out first; a
    // playing source of a still-shared sound released by its owner fades out too.
    void releaseBuffer(uint64_t hash, void const* owner, Source* source);
    // Starts the entry's buffer on the first free source; null when all are busy.
    Source* playSound(void const* owner, BufferEntry const* entry, SoundParams const& params);
    void setSourceGain(Source* source, float gain);
    void stopSource(void const* owner, Source* source);

    void setCategoryVolume(uint32_t category, float volume);
    void setCategoryFadeRate(uint32_t category, float ratePerMs);
    float categoryVolume(uint32_t category) const;
    // A held category keeps the volume it is set to: fades asked meanwhile (a screen's fade-in)
    // wait until it is let go.
    void holdCategory(uint32_t category, bool held);

    void setListener(glm::vec3 const& position, glm::vec3 const& velocity);

    // Hands the track to the platform's player: its locale variant ("_" + locale + the music
    // extension in place of the path's own) when that exists, else the path itself.
    void playMusic(char const* path, bool loop, bool startNow);
    void setMusicVolume(float volume);
    float musicVolume() const { return musicVolume_; }
    void pauseMusic();
    void resumeMusic();
    void stopMusic();
    void restartMusicClock();

    // For the music player, which streams on its own source of the same device and context.
    ALCdevice* device() const { return device_; }
    ALCcontext* alContext() const { return context_; }

    SoundBank const& bank() const { return bank_; }
    FadingSources const& fading() const { return fading_; }
    Source const& source(size_t i) const { return sources_[i]; }

private:
    struct DeviceAndContext {
        ALCdevice* device;
        ALCcontext* context;
    };
    static DeviceAndContext open(ALCdevice* device, int const* attributes);
    Context(Parameters const& parameters, DeviceAndContext opened);

    uint32_t decode(char const* path) const;
    void handOverToFading(uint64_t hash, BufferEntry* entry, Source* source);

    ALCdevice* device_;
    ALCcontext* context_;
    SoundBank bank_;
    FadingSources fading_;
    std::array<Source, sourceCount> sources_;
    float musicVolume_ = 1.0f;
    std::array<VolumeCategory, categoryCount> categories_;
    float referenceDistance_;
    float maxDistance_;
    bool poolWasFull_ = false;
};

}  // namespace Audio
