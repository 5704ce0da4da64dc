#pragma once
// A plain menu of twelve animated buttons in a 4 x 3 grid with focus links, as the start and
// results menus are laid out; used by the steady-frame test and the benchmark.
#include <memory>
#include <vector>

#include "graphics/StandardShader.h"
#include "menus/AnimatedButton.h"
#include "menus/FocusNavigator.h"
#include "menus/Menu.h"
#include "os/Assets.h"

namespace menus_test {

class TwelveButtonMenu : public Menu {
public:
    static constexpr int kColumns = 4, kRows = 3;

    TwelveButtonMenu(Graphics::Context* graphics, Audio::Context* audio) {
        boost::optional<SoundDescriptor const&> const click(Assets::sndDravoMenuButtonGeneral);
        boost::optional<TextureDescriptor const&> const base(Assets::texMenusButtonsConfirmationNormal);
        glm::vec3 const labelAt(0, -10, 0);
        for (int i = 0; i < kColumns * kRows; ++i) {
            Button::Parameters const p{Assets::hitMenusButtonsConfirmation,
                                       click,
                                       base,
                                       Assets::texMenusButtonsConfirmationHighlight,
                                       boost::none,
                                       boost::none,
                                       [this, i] { return chosen = i, true; },
                                       labelAt,
                                       0,
                                       0};
            buttons.push_back(std::make_unique<AnimatedButton>(graphics, audio, position(i), p));
        }
        std::vector<FocusNavigator::Node> nodes;
        for (int i = 0; i < kColumns * kRows; ++i) {
            int const c = i % kColumns, r = i / kColumns;
            auto link = [](bool ok, int to) { return ok ? boost::optional<uint64_t>(uint64_t(to)) : boost::none; };
            nodes.emplace_back(&buttons[i]->button(), link(c > 0, i - 1), link(c + 1 < kColumns, i + 1),
                               link(r > 0, i - kColumns), link(r + 1 < kRows, i + kColumns));
        }
        focus = std::make_unique<FocusNavigator>(audio, nodes, 0, true);
        for (auto& b : buttons) b->popIn().animation().start();
    }

    static glm::vec2 position(int i) {
        return glm::vec2(220.0f + 280.0f * float(i % kColumns), 560.0f - 180.0f * float(i / kColumns));
    }

    void draw(Graphics::Context*, Graphics::StandardShader* shader, glm::mat4 const& projection) override {
        shader->use(Graphics::StandardShader::kColor);
        shader->setColor(glm::vec4(1.0f));
        shader->setPVM(projection);
        for (auto& b : buttons) b->draw(shader);
    }
    void update(float dt) override {
        focus->updateHighlight();
        for (auto& b : buttons) b->update(dt);
    }
    void preDraw() override {
        for (auto& b : buttons) b->preDraw();
    }
    void touchMoved(glm::vec2 const& p, unsigned t) override {
        for (auto& b : buttons) b->touchMoved(p, t);
    }
    void touchBegan(glm::vec2 const& p, unsigned t) override {
        for (auto& b : buttons) b->touchBegan(p, t);
    }
    void touchEnded(glm::vec2 const& p, unsigned t) override {
        for (auto& b : buttons) b->touchEnded(p, t);
    }
    void scrollPageBack() override {}
    void scrollPageForward() override {}
    void gamepadInput(GamepadState const& s) override { focus->gamepadInput(s); }
    void buttonPressed(unsigned) override {}

    std::vector<std::unique_ptr<AnimatedButton>> buttons;
    std::unique_ptr<FocusNavigator> focus;
    int chosen = -1;
};

}  // namespace menus_test
