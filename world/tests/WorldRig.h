#pragma once
// A world built from a builder level and run the way the game screen runs it: the event queue
// dispatched at the start of each frame, then one world update. No GL; sounds play on a loopback
// device from the built data archive.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/tests/LoopbackDevice.h"
#include "os/EventHandler.h"
#include "os/FileSystem.h"
#include "os/Singleton.h"
#include "tools/datatool/LevelBuilder.h"
#include "world/World.h"

namespace world_test {

// What the world asked of the music player, in order.
struct FakeMusic : WorldMusic {
    std::vector<std::string> calls;
    void setVolume(float volume) override { calls.push_back("volume " + std::to_string(volume)); }
    void stop() override { calls.push_back("stop"); }
    void play(Audio::Context&, std::string const& path) override { calls.push_back("play " + path); }
};

// The ids delivered by each dispatch, one set per frame: callbacks sharing an id run in no
// promised order, so a frame's ids are compared as a set.
class Heard {
public:
    Heard(EventHandler* events, std::vector<uint32_t> const& ids) {
        slots_.reserve(ids.size());
        for (uint32_t id : ids) {
            slots_.emplace_back(events, id, [this, id] { current_.insert(id); });
        }
    }
    // Closes the frame's set.
    void endFrame() {
        frames_.push_back(current_);
        current_.clear();
    }
    std::vector<std::multiset<uint32_t>> const& frames() const { return frames_; }
    // The first frame that heard `id`, or -1.
    int firstFrame(uint32_t id) const {
        for (std::size_t i = 0; i < frames_.size(); ++i) {
            if (frames_[i].count(id) != 0) {
                return int(i);
            }
        }
        return -1;
    }
    int count(uint32_t id) const {
        int n = 0;
        for (auto const& f : frames_) {
            n += int(f.count(id));
        }
        return n;
    }

private:
    std::vector<SlotCallbackRef> slots_;
    std::multiset<uint32_t> current_;
    std::vector<std::multiset<uint32_t>> frames_;
};

inline void mountSampleData() {
    static bool const mounted = [] {
        auto const pak = testing_support::binaryDir() / "pak0.pak";
        return Singleton<FileSystem>::instance().mount(pak.string()) != nullptr;
    }();
    ASSERT_TRUE(mounted) << "pak0.pak not built";
}

// A flat ground, the start check point and nothing else; tests add what they need.
inline levels::LevelBuilder flatLevel() {
    levels::LevelBuilder b;
    b.ground({{-50.0f, 0.0f}, {50.0f, 0.0f}}, -10.0f, glm::vec4(1.0f));
    b.checkPoint({0.0f, 1.0f});
    return b;
}

struct Rig {
    EventHandler events;
    audio_test::LoopbackContext audio;
    FakeMusic music;
    std::unique_ptr<World> world;
    ControlSchemeInputState input;  // handed to every update
    float now = 0.0f;

    explicit Rig(PristineLevel::Data level, GameMode mode = GameMode::Normal,
                 TransitToEndOfLevelCallback const& endOfLevel = {},
                 boost::optional<unsigned long> const& catalogIndex = boost::none) {
        mountSampleData();
        // The save record the player reads its tint from: an empty folder, never the user's.
        static testing_support::TempDir const documents;
        setenv("ZELV_DOCUMENTS_DIR", (documents.path().string() + "/").c_str(), 1);
        Player::resetMovementState();
        world = std::make_unique<World>(nullptr, &audio.context, &events, std::move(level), nullptr, mode, endOfLevel,
                                        catalogIndex);
        world->setMusicService(&music);
    }

    // One frame: this frame's signals, then the world update.
    void frame(float dt = 20.0f, Heard* heard = nullptr) {
        events.dispatch();
        if (heard != nullptr) {
            heard->endFrame();
        }
        now += dt;
        world->update(nullptr, audio.context, nullptr, &input, dt, now);
    }
    void frames(int n, float dt = 20.0f, Heard* heard = nullptr) {
        for (int i = 0; i < n; ++i) {
            frame(dt, heard);
        }
    }
    // Raised by the game or a fixture: delivered at the next frame's dispatch.
    void raise(uint32_t id) { events.trigger(id); }
};

}  // namespace world_test
