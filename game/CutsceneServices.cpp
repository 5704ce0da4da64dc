#include "game/CutsceneServices.h"

#include "menus/Credits.h"
#include "os/services/Music.h"
#include "os/services/PlatformServices.h"
#include "os/services/ShellServices.h"

namespace {

class MenuCredits : public CutsceneCredits {
public:
    MenuCredits(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                std::function<void()> const& onEnd, glm::vec4 const& colour, uint32_t framesPerStep, float step)
        : credits_(graphics, audio, fonts, onEnd, colour, framesPerStep, step) {}
    bool isIdle() const override { return credits_.isIdle(); }
    void start() override { credits_.start(); }
    void update(float dt) override { credits_.update(dt); }
    float fade() const override { return credits_.fade(); }
    void draw(Graphics::Context* graphics, Graphics::StandardShader* shader, glm::mat4 const& projection) override {
        credits_.draw(graphics, shader, projection);
    }

private:
    Credits credits_;
};

}  // namespace

CutsceneServices CutsceneServices::platform() {
    CutsceneServices s;
    s.nowMs = [] { return ::nowMs(); };
    s.musicStartMs = [] { return ::musicStartMs(); };
    s.syncMusic = [](uint64_t position, uint64_t tolerance) { ::syncMusic(position, tolerance); };
    s.logEvent = [](char const* name) { ::logEvent(name); };
    s.makeCredits = [](Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                       std::function<void()> const& onEnd, glm::vec4 const& colour, uint32_t framesPerStep,
                       float step) -> std::unique_ptr<CutsceneCredits> {
        return std::make_unique<MenuCredits>(graphics, audio, fonts, onEnd, colour, framesPerStep, step);
    };
    return s;
}

CutsceneServices& cutsceneServices() {
    static CutsceneServices services = CutsceneServices::platform();
    return services;
}
