#include "menus/OptionsForeground.h"

#include <algorithm>
#include <cstdlib>

#include "fonts/Context.h"
#include "fonts/Layout.h"
#include "os/Assets.h"
#include "save/RoamingDataFile.h"

namespace {

char const kSaveName[] = "roamingData";

Button optionButton(Graphics::Context* graphics, Audio::Context* audio, glm::vec2 const& image, glm::vec2 const& hit,
                    boost::optional<TextureDescriptor const&> const& base, TextureDescriptor const& lit,
                    std::function<bool()> action) {
    static boost::optional<SoundDescriptor const&> const noClick;
    static glm::vec3 const labelPosition(0.0f);
    return Button(graphics, audio, image, hit,
                  Button::Parameters{Assets::hitMenusButtonsFlipperleftLit, noClick, base, lit, boost::none,
                                     boost::none, std::move(action), labelPosition, 0, 0});
}

Sprite bar(Graphics::Context* graphics, TextureDescriptor const& texture, glm::vec2 const& corner) {
    return Sprite(Graphics::Texture(graphics, texture), ScreenAnchor(6), corner, std::nullopt, glm::vec2(1.0f));
}

}  // namespace

OptionsForeground::OptionsForeground(Graphics::Context* graphics, Audio::Context* audio, Fonts::Context* fonts,
                                     unsigned long optionKinds, glm::vec2 const& p, glm::vec2 const& q)
    : onChange_([this](bool stepBack, unsigned long index, OptionWidgetType type) {
          return onOptionChanged(stepBack, index, type);
      }),
      toggleSound_(audio, Assets::sndDravoMenuButtonToggle),
      audio_(audio) {
    Fonts::Font const regular = fonts->font(Fonts::FontStyle::regularMenu);
    Fonts::Font const bold = fonts->font(Fonts::FontStyle::regularMenuBold);
    if (hasTouchScreen()) {
        RoamingDataFile file(kSaveName);
        if (optionKinds & ControlScheme) {
            uint64_t const selected = static_cast<RoamingData const&>(file.data).controlScheme() == 1 ? 1 : 0;
            std::vector<LeftRightSelector::Option> options;
            for (auto [first, second] : {std::pair{"postControlsTouchInOptions", "preControlsTouchInOptions"},
                                         std::pair{"postControlsButtonsInOptions", "preControlsButtonsInOptions"}})
                options.emplace_back(
                    TextLabel(fonts->localizedString(first), p + glm::vec2(10.0f, 198.0f), bold, Fonts::alignLeft, 1.0f),
                    TextLabel(fonts->localizedString(second), p + glm::vec2(5.0f, 198.0f), regular, Fonts::alignRight,
                              1.0f));
            unsigned long const index = selectors_.size();
            auto handler = onChange_;
            selectors_.emplace_back(
                bar(graphics, Assets::texMenusOptionsBackbar, p + glm::vec2(-254.0f, 173.0f)),
                optionButton(graphics, audio, p + glm::vec2(-236.0f, 206.0f), q + glm::vec2(-236.0f, 206.0f),
                             boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsFlipperleftNormal),
                             Assets::texMenusButtonsFlipperleftLit,
                             [handler, index] { return handler(true, index, OptionWidgetType::LeftRight), false; }),
                optionButton(graphics, audio, p + glm::vec2(243.0f, 206.0f), q + glm::vec2(243.0f, 206.0f),
                             boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsFlipperrightNormal),
                             Assets::texMenusButtonsFlipperrightLit,
                             [handler, index] { return handler(false, index, OptionWidgetType::LeftRight), false; }),
                std::move(options), selected, ControlScheme);
        }
    }
    {
        RoamingDataFile file(kSaveName);
        if (optionKinds & Subtitles) {
            float const dy = -130.0f * float(selectors_.size());
            unsigned long const index = selectors_.size() + checkboxes_.size();
            auto handler = onChange_;
            auto toggle = [handler, index] { return handler(false, index, OptionWidgetType::Checkbox), false; };
            glm::vec2 const at(203.0f, 228.0f + dy);
            checkboxes_.emplace_back(
                Subtitles, bar(graphics, Assets::texMenusOptionsBackbarWide, p + glm::vec2(-304.0f, 157.0f + dy)),
                optionButton(graphics, audio, p + at, q + at,
                             boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsCheckboxUnchecked),
                             Assets::texMenusButtonsCheckboxChecked, toggle),
                optionButton(graphics, audio, p + at, q + at,
                             boost::optional<TextureDescriptor const&>(Assets::texMenusButtonsCheckboxChecked),
                             Assets::texMenusButtonsCheckboxUnchecked, toggle),
                TextLabel(fonts->localizedString("subtitlesInOptions"), p + glm::vec2(133.0f, 233.0f + dy), regular,
                          Fonts::alignRight, 1.0f),
                static_cast<RoamingData const&>(file.data).subtitlesEnabled(),
                optionButton(graphics, audio, p + at, q + at, boost::none,
                             Assets::texMenusButtonsCheckboxUncheckedSelected, [] { return false; }));
        }
    }
    // Up and down wrap around; a single node is its own neighbour.
    std::vector<FocusNavigator::Node> nodes;
    for (auto& s : selectors_) nodes.emplace_back(&s.right(), boost::none, boost::none, boost::none, boost::none);
    for (auto& c : checkboxes_) nodes.emplace_back(&c.focusButton(), boost::none, boost::none, boost::none, boost::none);
    for (size_t i = 0; i < nodes.size(); ++i) {
        nodes[i].up = (i + nodes.size() - 1) % nodes.size();
        nodes[i].down = (i + 1) % nodes.size();
    }
    focus_.emplace(audio, nodes, 0u, true);
}

bool OptionsForeground::onOptionChanged(bool stepBack, unsigned long widgetIndex, OptionWidgetType type) {
    toggleSound_.play();
    if (type == OptionWidgetType::Checkbox) {
        if (widgetIndex < selectors_.size() || widgetIndex - selectors_.size() >= checkboxes_.size()) return false;
        OptionCheckbox& c = checkboxes_[widgetIndex - selectors_.size()];
        RoamingDataFile file(kSaveName);
        if (c.kind() == Subtitles) {
            c.toggle();
            file.data.setSubtitlesEnabled(c.isChecked());
        }
    } else if (widgetIndex < selectors_.size()) {
        LeftRightSelector& s = selectors_[widgetIndex];
        int64_t const n = int64_t(s.optionCount());
        if (n <= 0) return false;
        int64_t const cur = int32_t(uint32_t(s.selected()));
        int64_t v = std::llabs(cur + (stepBack ? -1 : 1)) % n;
        v = std::min(n - 1, std::max<int64_t>(v, 0));
        if (v != cur) {
            s.selected() = uint64_t(v);
            if (s.tag() == ControlScheme) {
                RoamingDataFile file(kSaveName);
                file.data.setControlScheme(uint8_t(v & 0xFF));
            }
        }
    }
    return false;
}

void OptionsForeground::setCheckboxState(unsigned long kind, bool checked) {
    for (auto& c : checkboxes_)
        if (c.kind() == kind && c.isChecked() != checked) c.toggle();
}

void OptionsForeground::update(float dt) {
    for (auto& s : selectors_) s.update(dt);
    for (auto& c : checkboxes_) c.update(dt);
    focus_->updateHighlight();
}

void OptionsForeground::drawText(Fonts::TextMesh& mesh) const {
    for (auto const& s : selectors_) s.layoutLabels(mesh);
    for (auto const& c : checkboxes_) c.drawText(mesh);
}

void OptionsForeground::draw(Graphics::Context*, Graphics::StandardShader* shader, glm::mat4 const&) const {
    for (auto const& s : selectors_) s.draw(shader);
    for (auto const& c : checkboxes_) c.draw(shader);
}

void OptionsForeground::touchBegan(glm::vec2 const& point, unsigned touch) {
    for (auto& s : selectors_) s.touchBegan(point, touch);
    for (auto& c : checkboxes_) c.touchBegan(point, touch);
}

void OptionsForeground::touchMoved(glm::vec2 const& point, unsigned touch) {
    for (auto& s : selectors_) s.touchMoved(point, touch);
    for (auto& c : checkboxes_) c.touchMoved(point, touch);
}

void OptionsForeground::touchEnded(glm::vec2 const& point, unsigned touch) {
    for (auto& s : selectors_) s.touchEnded(point, touch);
    for (auto& c : checkboxes_) c.touchEnded(point, touch);
}

void OptionsForeground::gamepadInput(GamepadState const& state) {
    focus_->gamepadInput(state);
    for (auto& c : checkboxes_) c.gamepadInput(state);
}

bool OptionsForeground::isReady() const {
    return std::all_of(selectors_.begin(), selectors_.end(), [](auto const& s) { return s.isReady(); }) &&
           std::all_of(checkboxes_.begin(), checkboxes_.end(), [](auto const& c) { return c.isReady(); });
}
