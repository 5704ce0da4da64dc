#include "audio/Context.h"

#include <AL/al.h>
#include <AL/alc.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <functional>

#include "audio/OpusDecoder.h"
#include "os/File.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"

namespace Audio {

namespace {

// The variant of a path for the player's locale: "_" + locale before the lower-cased extension.
// A path without an extension has no variant.
std::string localeVariant(std::string const& path, char const* extension) {
    size_t const dot = path.rfind('.');
    if (dot == std::string::npos) return {};
    std::string ext = extension ? std::string(extension) : path.substr(dot);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    char const* locale = preferredLocale();
    return path.substr(0, dot) + "_" + (locale ? locale : "") + ext;
}

}  // namespace

Context::DeviceAndContext Context::open(ALCdevice* device, int const* attributes) {
    if (!device) {
        std::fprintf(stderr, "Audio: no sound device, running silently\n");
        return {nullptr, nullptr};
    }
    ALCcontext* context = alcCreateContext(device, attributes);
    if (!context || !alcMakeContextCurrent(context)) {
        std::fprintf(stderr, "Audio: cannot create a sound context, running silently\n");
        if (context) alcDestroyContext(context);
        alcCloseDevice(device);
        return {nullptr, nullptr};
    }
    return {device, context};
}

Context::Context(Parameters const& parameters)
    : Context(parameters, open(alcOpenDevice(nullptr), nullptr)) {}

Context::Context(Parameters const& parameters, ALCdevice* device, int const* attributes)
    : Context(parameters, open(device, attributes)) {}

// Members are built in order, so the sources are generated once the context is current.
Context::Context(Parameters const& parameters, DeviceAndContext opened)
    : device_(opened.device),
      context_(opened.context),
      fading_(parameters.fadeRate),
      referenceDistance_(parameters.referenceDistance),
      maxDistance_(parameters.maxDistance) {
    initPlatformAudio();
    if (context_) alDistanceModel(static_cast<ALenum>(parameters.distanceModel));
    for (Source& source : sources_) {
        source.setReferenceDistance(referenceDistance_);
        source.setMaxDistance(maxDistance_);
    }
}

// Sources and buffers belong to the context: they go while it is current (made so again if
// another context took over meanwhile), then the context, then its device.
Context::~Context() {
    stopMusic();
    ALCcontext* const previous = alcGetCurrentContext();
    if (context_ && previous != context_) alcMakeContextCurrent(context_);
    for (size_t i = sources_.size(); i-- > 0;) sources_[i].destroy();
    for (size_t i = 0; i < bank_.count(); ++i) {
        ALuint buffer = bank_.at(i).second->buffer;
        if (buffer != 0 && context_) alDeleteBuffers(1, &buffer);
    }
    if (context_) {
        alcMakeContextCurrent(previous != context_ ? previous : nullptr);
        alcDestroyContext(context_);
    }
    if (device_) alcCloseDevice(device_);
}

uint64_t Context::hashName(std::string const& path) const { return std::hash<std::string>{}(path); }

uint32_t Context::decode(char const* path) const {
    FileSystem& fs = Singleton<FileSystem>::instance();
    std::string chosen = path;
    std::string const variant = localeVariant(chosen, nullptr);
    if (!variant.empty() && fs.exists(variant)) chosen = variant;

    std::shared_ptr<File> file = fs.open(chosen);
    OpusDecoder::Result decoded = OpusDecoder::decode(file->data(), size_t(file->size()));
    if (!decoded.ok) {
        std::fprintf(stderr, "Audio: cannot decode %s: %s\n", chosen.c_str(), decoded.error.c_str());
        return 0;
    }
    if (!context_) return 0;
    ALuint buffer = 0;
    alGenBuffers(1, &buffer);
    if (buffer == 0) return 0;
    alBufferData(buffer, decoded.channels == 1 ? AL_FORMAT_MONO16 : AL_FORMAT_STEREO16,
                 decoded.samples.data(), ALsizei(decoded.samples.size() * sizeof(int16_t)),
                 OpusDecoder::sampleRate);
    return buffer;
}

BufferEntry* Context::acquireBuffer(uint64_t hash, char const* path) {
    if (BufferEntry* entry = bank_.find(hash)) {
        ++entry->refCount;
        return entry;
    }
    if (!path) return nullptr;
    if (bank_.full()) {
        std::fprintf(stderr, "Audio: sound bank full (%zu sounds), not loading %s\n",
                     SoundBank::capacity, path);
        return nullptr;
    }
    return bank_.insert(hash, decode(path));
}

void Context::handOverToFading(uint64_t hash, BufferEntry* entry, Source* source) {
    if (!fading_.add(hash, source)) {
        std::fprintf(stderr, "Audio: fading list full, cutting a sound\n");
        source->stop();
        return;
    }
    ++entry->refCount;
    source->setOwner(&fading_);
    // An entry left from the source's previous fade (it stopped, was taken over and handed back
    // within one frame) would fade it twice per frame and hold the old sound's buffer.
    for (size_t i = 0; i + 1 < fading_.count(); ++i) {
        FadingSources::Entry const stale = fading_.at(i);
        if (stale.source != source) continue;
        fading_.removeAt(i);
        releaseBuffer(stale.hash, nullptr, nullptr);
        break;
    }
}

void Context::releaseBuffer(uint64_t hash, void const* owner, Source* source) {
    BufferEntry* entry = bank_.find(hash);
    if (!entry) return;
    --entry->refCount;
    if (entry->refCount <= 0) {
        bool handedOver = false;
        if (entry->buffer != 0) {
            for (Source& s : sources_) {
                if (s.isFree() || s.buffer() != entry->buffer) continue;
                handOverToFading(hash, entry, &s);
                handedOver = handedOver || s.owner() == &fading_;
            }
        }
        if (handedOver) return;
        ALuint buffer = entry->buffer;
        if (buffer != 0) {
            for (Source& s : sources_)
                if (s.buffer() == buffer) s.setBuffer(0);
            alDeleteBuffers(1, &buffer);
        }
        bank_.remove(hash);
        return;
    }
    if (!source || source->owner() != owner) return;
    if (source->isPlaying()) {
        handOverToFading(hash, entry, source);
    } else if (source->isPaused()) {
        // Nobody is left to resume it, and a paused source is never free again.
        source->stop();
    }
}

Source* Context::playSound(void const* owner, BufferEntry const* entry, SoundParams const& params) {
    auto it = std::find_if(sources_.begin(), sources_.end(), [](Source const& s) { return s.isFree(); });
    if (it == sources_.end()) {
        if (!poolWasFull_) std::fprintf(stderr, "Audio: all %zu sources busy, sound not played\n", sourceCount);
        poolWasFull_ = true;
        return nullptr;
    }
    poolWasFull_ = false;
    Source& source = *it;
    uint8_t const category = std::min<uint8_t>(params.category, categoryCount - 1);
    source.setCategory(category);
    source.setBuffer(entry ? entry->buffer : 0);
    source.setLooping((params.flags & 2) != 0);
    source.setCategoryVolume(categories_[category].volume);
    source.setGain(params.gain);
    source.setSourceRelative((params.flags & 1) == 0);
    source.setPosition(params.position);
    source.setReferenceDistance(referenceDistance_ * params.referenceFactor);
    source.setMaxDistance(maxDistance_ * params.maxFactor);
    source.play(owner);
    return &source;
}

void Context::setSourceGain(Source* source, float gain) {
    if (source) source->setGain(gain);
}

void Context::stopSource(void const* owner, Source* source) {
    if (source && source->owner() == owner) source->stop();
}

void Context::setCategoryVolume(uint32_t category, float volume) {
    if (category >= categoryCount) return;
    categories_[category].volume = volume;
    for (Source& s : sources_)
        if (s.isPlaying()) s.setCategoryVolume(categories_[s.category()].volume);
}

void Context::setCategoryFadeRate(uint32_t category, float ratePerMs) {
    if (category < categoryCount) categories_[category].fadeRate = ratePerMs;
}

void Context::holdCategory(uint32_t category, bool held) {
    if (category < categoryCount) categories_[category].held = held;
}

float Context::categoryVolume(uint32_t category) const {
    return category < categoryCount ? categories_[category].volume : 0.0f;
}

void Context::setListener(glm::vec3 const& position, glm::vec3 const& velocity) {
    if (!context_) return;
    alListener3f(AL_POSITION, position.x, position.y, position.z);
    alListener3f(AL_VELOCITY, velocity.x, velocity.y, velocity.z);
}

void Context::update(float dtMs) {
    for (VolumeCategory& c : categories_)
        if (!c.held) c.volume = std::clamp(c.volume + c.fadeRate * dtMs, 0.0f, 1.0f);
    for (Source& s : sources_)
        if (s.isPlaying()) s.setCategoryVolume(categories_[s.category()].volume);

    // Entries whose source stopped or was taken over give their reference back. Releasing may
    // append entries, so the walk restarts after each removal.
    for (size_t i = 0; i < fading_.count();) {
        FadingSources::Entry const e = fading_.at(i);
        if (e.source->isFree() || e.source->owner() != &fading_) {
            fading_.removeAt(i);
            releaseBuffer(e.hash, nullptr, nullptr);
            i = 0;
        } else {
            ++i;
        }
    }
    float const step = fading_.fadeRate() * dtMs;
    for (size_t i = 0; i < fading_.count(); ++i) {
        Source* s = fading_.at(i).source;
        if (s->gain() == 0.0f)
            s->stop();  // the next update sees it free and drops the entry
        else
            s->setGain(std::clamp(s->gain() - step, 0.0f, 1.0f));
    }
}

void Context::playMusic(char const* path, bool loop, bool startNow) {
    if (!path) return;
    char const* extension = ::musicExtension();
    std::string const variant = localeVariant(path, extension);
    bool const useVariant = !variant.empty() && Singleton<FileSystem>::instance().exists(variant);
    ::playMusic(useVariant ? variant.c_str() : path, loop, startNow);
}

void Context::setMusicVolume(float volume) {
    musicVolume_ = volume;
    ::setMusicVolume(volume);
}

void Context::pauseMusic() {
    ::pauseMusic();
}

void Context::resumeMusic() {
    ::resumeMusic();
}

void Context::stopMusic() {
    ::stopMusic();
}

void Context::restartMusicClock() {
    ::restartMusicClock();
}

}  // namespace Audio
