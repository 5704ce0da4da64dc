// A level file as the reader leaves it, built into a world and run for a few frames with its
// builder-range signal ids raised.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "audio/Context.h"
#include "level/LevelReader.h"
#include "os/EventHandler.h"
#include "world/World.h"

namespace {

struct SilentMusic : WorldMusic {
    void setVolume(float) override {}
    void stop() override {}
    void play(Audio::Context&, std::string const&) override {}
};

Audio::Context* audio = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("ALSOFT_DRIVERS", "null", 1);
    audio = new Audio::Context(Audio::Context::Parameters{0.001f, 0xD004u, 15.0f, 15.0f});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(uint8_t const* data, size_t size) {
    PristineLevel::Data level;
    PristineLevel::loadPristineLevel(level, data, size);
    EventHandler events;
    SilentMusic music;
    World world(nullptr, nullptr, &events, std::move(level), nullptr, GameMode::Normal, boost::none);
    world.setMusicService(&music);
    for (int frame = 0; frame < 12; ++frame) {
        for (uint32_t id = 100 + uint32_t(frame) * 4; id < 104 + uint32_t(frame) * 4; ++id) {
            events.trigger(id);
        }
        events.trigger(1);
        events.dispatch();
        world.update(nullptr, *audio, nullptr, nullptr, frame == 3 ? 0.0f : 16.0f, float(frame) * 16.0f);
        world.draw(nullptr);
    }
    return 0;
}
